#include "app/runtime/AppError.h"

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
    return AppError(number, QString::fromLocal8Bit(std::strerror(errnoValue)) + ": " + path);
}
