// SPDX-License-Identifier: MIT

#pragma once

#include <QString>
#include <QStringList>

// Folder trees made by the tests of the folder scan and the image list.
namespace FolderTree {

// Creates under `root` every path of `paths` (relative, "/"-separated): one ending in "/" is
// a folder, any other a one-byte file; missing folders on the way are made. Returns false and
// names the path in `error` when something cannot be created.
bool make(const QString& root, const QStringList& paths, QString* error = nullptr);

// `entries` with the leading `root` + "/" removed, sorted, so that results can be compared
// with the relative paths given to make(); an entry outside `root` stays whole.
QStringList relative(const QString& root, const QStringList& entries);

} // namespace FolderTree
