// SPDX-License-Identifier: MIT

#include "runtime/AppError.h"

#include <QFile>
#include <cerrno>
#include <cstring>

AppError AppError::withReason(const QString& reason) const
{
    if (reason.isEmpty())
        return *this;
    return AppError(m_number, m_description + QStringLiteral(": ") + reason);
}

QString systemReason(int errnoValue)
{
    return errnoValue == 0 ? QString() : QString::fromLocal8Bit(std::strerror(errnoValue));
}

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
    return AppError(number, systemReason(errnoValue) + QStringLiteral(": ") + path);
}
