// SPDX-License-Identifier: MIT

#pragma once

#include <QString>

// Take a path or a file name apart by its last separator or its last dot. Text only: the
// file system is never touched, and the results keep the input's characters unchanged.
namespace FileNames {

// The text after the last `separator`; the whole path when it holds none.
QString GetFileName(const QString& path, QChar separator = QLatin1Char('/'));

// The text after the last "."; the whole name when it holds none.
// Throws AppError 6 (overflow) for a name longer than 32,767 characters.
QString GetExtension(const QString& name);

// The text before the last ".".
// Throws AppError 6 for a name longer than 32,767 characters, AppError 5 when it has no dot.
QString GetBaseName(const QString& name);

} // namespace FileNames
