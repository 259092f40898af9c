#include "conversion/ScratchFolder.h"

#include "app/runtime/AppError.h"
#include "conversion/FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The names a run may create for these entries.
QStringList scratchNames(const QStringList& entries)
{
    QStringList names { QStringLiteral("temp1.bmp"), QStringLiteral("temp.bmp") };
    for (const QString& entry : entries) {
        const QString name
            = QStringLiteral("temp.") + FileNames::GetExtension(FileNames::GetFileName(entry));
        if (!names.contains(name))
            names.append(name);
    }
    return names;
}

// Whether some entry or its thumbnail is one of the scratch files of `folder`.
bool entriesCollide(const QString& folder, const QStringList& entries)
{
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    const QStringList names = scratchNames(entries);
    for (const QString& entry : entries) {
        const QFileInfo info(entry);
        if (info.absoluteDir().canonicalPath() != canonicalFolder)
            continue;
        if (names.contains(info.fileName()) || names.contains(QLatin1Char('t') + info.fileName()))
            return true;
    }
    return false;
}

bool writable(const QString& folder)
{
    // access() says yes to root on any folder it may not really write; try a file.
    QByteArray probe = QFile::encodeName(folder + QStringLiteral("/.pictelle-probe-XXXXXX"));
    const int fd = mkstemp(probe.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.constData());
    return true;
}

QString cacheFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Pictelle");
}

} // namespace

ScratchFolder::ScratchFolder(const QString& programFolder, const QStringList& entries)
{
    if (tryUse(programFolder, entries))
        return;
    const QString cache = cacheFolder();
    // Private to the user: scratch copies of pictures are nobody else's business.
    QDir().mkpath(cache);
    ::chmod(QFile::encodeName(cache).constData(), 0700);
    if (tryUse(cache, entries))
        return;
    makePrivate(cache);
}

ScratchFolder::~ScratchFolder()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
    if (m_private)
        QDir(m_path).removeRecursively();
}

bool ScratchFolder::tryUse(const QString& folder, const QStringList& entries)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir() || !writable(folder))
        return false;
    const int fd
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || entriesCollide(folder, entries)) {
        ::close(fd);
        // Busy or unsafe: a private folder beside the shared one.
        makePrivate(folder == cacheFolder() ? folder : cacheFolder());
        return true;
    }
    m_path = folder;
    m_lockFd = fd;
    return true;
}

void ScratchFolder::makePrivate(const QString& parent)
{
    QDir().mkpath(parent);
    ::chmod(QFile::encodeName(parent).constData(), 0700);
    QByteArray pattern = QFile::encodeName(parent + QStringLiteral("/run-XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        throw fileError(errno, parent);
    m_path = QFile::decodeName(pattern);
    m_private = true;
}
