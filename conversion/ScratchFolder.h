// SPDX-License-Identifier: MIT

#pragma once

#include "runtime/files/Fd.h"

#include <QString>
#include <QStringList>

// The folder that holds a run's scratch files (temp1.bmp, temp.bmp, temp.<ext>, and the
// reading program's temp1.read and temp1-<worker>.read).
//
// That is the program folder when it can be written, otherwise the per-user cache folder
// of Pictelle (mode 0700). The folder used is locked for the length of the run, so that a
// second Pictelle converting at the same time goes on to the next choice instead of sharing
// the files; the last choice is a fresh private folder (mkdtemp, mode 0700) in the cache
// folder, or in the temporary folder when the cache folder is not this user's alone.
// A folder is passed over when an entry of the run, or its thumbnail, is itself one of the
// scratch files (the run must not overwrite or delete the user's picture), when a scratch
// name is taken by a link or a folder, and when it is not this user's alone (owned by
// another user, a link, or writable by group or others): nobody may plant a link there
// through which a scratch write would reach another file.
class ScratchFolder
{
public:
    // `entries` are the run's entry paths, `thumbnails` the paths their thumbnails get.
    // Throws AppError naming the folder when no scratch folder can be had.
    ScratchFolder(
        const QString& programFolder, const QStringList& entries, const QStringList& thumbnails);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const QString& path() const { return m_path; }
    // The path of the scratch file `name` in the folder.
    QString file(const QString& name) const { return m_path + QLatin1Char('/') + name; }
    // The name of the reading program's output for `worker` (0: the run's own thread).
    static QString readingFile(int worker)
    {
        return worker == 0 ? QStringLiteral("temp1.read")
                           : QStringLiteral("temp1-%1.read").arg(worker);
    }

private:
    bool tryUse(const QString& folder, const QStringList& entries, const QStringList& thumbnails);
    void makePrivate(const QString& parent);

    QString m_path;
    Files::UniqueFd m_lock; // the folder's descriptor, holding its lock
    bool m_private = false;
};
