// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/bmpcore/BmpError.h"
#include "imaging/bmpcore/DibDecode.h"

#include <QImage>
#include <QString>

class AppError;

// The Qt side of the BMP core, shared by the BMP and icon readers. Not part of the public
// imaging interface.
namespace BmpQt {

// The core's failure as the AppError that names `path`: 481 "Invalid picture: <path>",
// 7 "Out of memory: <path>", fileError() for a system error, ...
AppError toAppError(const BmpCore::Error& error, const QString& path);

// The whole picture: Format_ARGB32 when hasAlpha(), Format_RGB32 otherwise; throws AppError
// 7 naming `path` when memory runs out.
QImage decodeImage(const BmpDecode::DibDecoder& decoder, const QString& path);

} // namespace BmpQt
