// SPDX-License-Identifier: MIT

#include "runtime/files/ErrorWords.h"

#include <cerrno>
#include <cstring>

const char* errorWords(int number) noexcept
{
    switch (number) {
    case ErrorNumber::InvalidCall:
        return "Invalid procedure call or argument";
    case ErrorNumber::Overflow:
        return "Overflow";
    case ErrorNumber::OutOfMemory:
        return "Out of memory";
    case ErrorNumber::FileNotFound:
        return "File not found";
    case ErrorNumber::DiskFull:
        return "Disk full";
    case ErrorNumber::PermissionDenied:
        return "Permission denied";
    case ErrorNumber::PathFileAccess:
        return "Path/File access error";
    case ErrorNumber::PathNotFound:
        return "Path not found";
    case ErrorNumber::InvalidPicture:
        return "Invalid picture";
    }
    return "";
}

int fileErrorNumber(int errnoValue) noexcept
{
    switch (errnoValue) {
    case ENOENT:
        return ErrorNumber::FileNotFound;
    case ENOTDIR:
        return ErrorNumber::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return ErrorNumber::PermissionDenied;
    case ENOSPC:
    case EDQUOT:
        return ErrorNumber::DiskFull;
    case ENOMEM:
        return ErrorNumber::OutOfMemory;
    default:
        return ErrorNumber::PathFileAccess;
    }
}

const char* fileErrorWords(int errnoValue) noexcept
{
    if (errnoValue == ENOENT)
        return errorWords(ErrorNumber::FileNotFound);
    return std::strerror(errnoValue);
}
