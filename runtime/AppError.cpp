// SPDX-License-Identifier: MIT

#include "runtime/AppError.h"

#include <QFile>
#include <cerrno>
#include <cstring>

AppError fileError(int errnoValue, const QString& path)
{
    int number = ErrorNumber::PathFileAccess;
    switch (errnoValue) {
    case ENOENT:
        number = ErrorNumber::FileNotFound;
        break;
    case ENOTDIR:
        number = ErrorNumber::PathNotFound;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        number = ErrorNumber::PermissionDenied;
        break;
    case ENOSPC:
    case EDQUOT:
        number = ErrorNumber::DiskFull;
        break;
    case ENOMEM:
        number = ErrorNumber::OutOfMemory;
        break;
    default:
        break;
    }
    // A missing file reads as the forms runtime worded it.
    if (number == ErrorNumber::FileNotFound)
        return AppError(number, QStringLiteral("File not found: ") + path);
    return AppError(number, QString::fromLocal8Bit(std::strerror(errnoValue)) + ": " + path);
}
