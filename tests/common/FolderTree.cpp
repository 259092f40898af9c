// SPDX-License-Identifier: MIT

#include "tests/common/FolderTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace FolderTree {

bool make(const QString& root, const QStringList& paths, QString* error)
{
    for (const QString& relativePath : paths) {
        const QString path = root + QLatin1Char('/') + relativePath;
        const bool folder = relativePath.endsWith(QLatin1Char('/'));
        const QString parent = folder ? path : QFileInfo(path).path();
        bool ok = QDir().mkpath(parent);
        if (ok && !folder) {
            QFile file(path);
            ok = file.open(QIODevice::WriteOnly) && file.write("x", 1) == 1;
        }
        if (!ok) {
            if (error)
                *error = path;
            return false;
        }
    }
    return true;
}

QStringList relative(const QString& root, const QStringList& entries)
{
    const QString prefix = root + QLatin1Char('/');
    QStringList out;
    out.reserve(entries.size());
    for (const QString& entry : entries)
        out << (entry.startsWith(prefix) ? entry.mid(prefix.size()) : entry);
    out.sort();
    return out;
}

} // namespace FolderTree
