// SPDX-License-Identifier: MIT

#include "fuzz/FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace FuzzSupport {

namespace {

QString makeFolder()
{
    const char* base = QDir(QStringLiteral("/dev/shm")).exists() ? "/dev/shm" : "/tmp";
    QByteArray pattern = QByteArray(base) + "/pictelle-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    static const QString folder = QFile::decodeName(pattern);
    std::atexit([] { QDir(folder).removeRecursively(); });
    return folder;
}

} // namespace

const QString& workFolder()
{
    static const QString folder = makeFolder();
    return folder;
}

QString writeInput(const char* name, const uint8_t* data, size_t size)
{
    const QString path = workFolder() + QLatin1Char('/') + QLatin1String(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

} // namespace FuzzSupport
