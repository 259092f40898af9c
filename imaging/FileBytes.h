// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QString>

// Reads a whole file in one go for the decoders, so that they parse memory with plain
// bounds checks. Throws AppError 53 "File not found: <path>" when the file does not exist,
// the error of fileError() for any other failure to read it (a folder, no permission, ...),
// and 481 when it is larger than any picture we accept (4 GiB) or not a regular file (a
// device, pipe or socket: never waited for).
QByteArray readFileBytes(const QString& path);

// The first `n` bytes of a file (fewer when it is shorter), with the errors of
// readFileBytes().
QByteArray readFileHead(const QString& path, int n);

// Throws AppError 481 "Invalid picture: <path>", followed by ": <reason>" when the decoder
// said why ("ends early at byte 5000", "not a JPEG file").
[[noreturn]] void throwInvalidPicture(const QString& path, const QString& reason = {});

// Throws AppError 7 "Out of memory: <path>", with the reason as above.
[[noreturn]] void throwOutOfMemory(const QString& path, const QString& reason = {});
