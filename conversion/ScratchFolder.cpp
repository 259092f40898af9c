// SPDX-License-Identifier: MIT

#include "conversion/ScratchFolder.h"

#include "conversion/DecodeAhead.h"
#include "conversion/FileNames.h"
#include "runtime/AppError.h"
#include "runtime/Logging.h"

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
    QStringList names { QStringLiteral("temp1.bmp"), QStringLiteral("temp.bmp"),
        QStringLiteral("temp1.read") };
    for (int worker = 1; worker <= DecodeAhead::defaultWorkers(); ++worker)
        names.append(ScratchFolder::readingFile(worker));
    for (const QString& entry : entries) {
        const QString name
            = QStringLiteral("temp.") + FileNames::GetExtension(FileNames::GetFileName(entry));
        if (!names.contains(name))
            names.append(name);
    }
    return names;
}

// Whether some entry or thumbnail is one of the scratch files of `folder`.
bool entriesCollide(
    const QString& folder, const QStringList& entries, const QStringList& thumbnails)
{
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    const QStringList names = scratchNames(entries);
    for (const QStringList* paths : { &entries, &thumbnails }) {
        for (const QString& path : *paths) {
            const QFileInfo info(path);
            if (names.contains(info.fileName())
                && info.absoluteDir().canonicalPath() == canonicalFolder)
                return true;
        }
    }
    return false;
}

bool writable(const QString& folder)
{
    // access() says yes to root on any folder it may not really write; try a file.
    QByteArray probe = QFile::encodeName(folder + QStringLiteral("/.pictelle-probe-XXXXXX"));
    if (!Files::UniqueFd(mkstemp(probe.data())).valid())
        return false;
    ::unlink(probe.constData());
    return true;
}

// Whether `folder` is a real folder (not a link) of this user that no one else may write:
// only then can nobody plant a link under a scratch file's name, through which a write
// would land in some other file.
bool ownedAndClosed(const QString& folder)
{
    struct stat st;
    return ::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Whether a scratch name in `folder` is taken by something other than a plain file (a link,
// a folder): writing a scratch file there would go through it or fail.
bool scratchNamesTaken(const QString& folder, const QStringList& entries)
{
    for (const QString& name : scratchNames(entries)) {
        struct stat st;
        const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + name);
        if (::lstat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode))
            return true;
    }
    return false;
}

QString cacheFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Pictelle");
}

} // namespace

ScratchFolder::ScratchFolder(
    const QString& programFolder, const QStringList& entries, const QStringList& thumbnails)
{
    if (tryUse(programFolder, entries, thumbnails)) {
        qCInfo(lcConversion).noquote() << "scratch folder: the program folder" << m_path;
        return;
    }
    const QString cache = cacheFolder();
    // Private to the user: scratch copies of pictures are nobody else's business.
    QDir().mkpath(cache);
    const QByteArray encoded = QFile::encodeName(cache);
    struct stat st;
    if (::lstat(encoded.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
        ::chmod(encoded.constData(), 0700);
    if (tryUse(cache, entries, thumbnails)) {
        qCInfo(lcConversion).noquote() << "scratch folder: the cache folder" << m_path;
        return;
    }
    makePrivate(ownedAndClosed(cache) ? cache : QDir::tempPath());
    qCInfo(lcConversion).noquote() << "scratch folder: a private folder" << m_path;
}

ScratchFolder::~ScratchFolder()
{
    m_lock.reset(); // releases the lock
    if (m_private)
        QDir(m_path).removeRecursively();
}

// Uses `folder` when it can be written, is this user's alone, is not locked by another
// Pictelle, and none of the run's entries, thumbnails or scratch names collide in it.
bool ScratchFolder::tryUse(
    const QString& folder, const QStringList& entries, const QStringList& thumbnails)
{
    if (folder.isEmpty() || !ownedAndClosed(folder) || !writable(folder))
        return false;
    Files::UniqueFd lock(::open(
        QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!lock.valid() || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0
        || entriesCollide(folder, entries, thumbnails) || scratchNamesTaken(folder, entries))
        return false;
    m_path = folder;
    m_lock = std::move(lock);
    return true;
}

// A fresh folder of this run under `parent`, made with mode 0700 by mkdtemp.
void ScratchFolder::makePrivate(const QString& parent)
{
    QByteArray pattern = QFile::encodeName(parent + QStringLiteral("/run-XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        throw fileError(errno, parent);
    m_path = QFile::decodeName(pattern);
    m_private = true;
}
