// SPDX-License-Identifier: MIT

#include "runtime/files/ErrorWords.h"

#include <cerrno>
#include <cstring>

// Marks the words for Qt's translation tools, which read this file; the program translates
// them where it shows them (Translations::errorDescription). Here they stay plain text.
#define QT_TRANSLATE_NOOP(context, words) words

const char* errorWords(int number) noexcept
{
    switch (number) {
    case ErrorNumber::InvalidCall:
        return QT_TRANSLATE_NOOP("Error", "Invalid procedure call or argument");
    case ErrorNumber::Overflow:
        return QT_TRANSLATE_NOOP("Error", "Overflow");
    case ErrorNumber::OutOfMemory:
        return QT_TRANSLATE_NOOP("Error", "Out of memory");
    case ErrorNumber::FileNotFound:
        return QT_TRANSLATE_NOOP("Error", "File not found");
    case ErrorNumber::DiskFull:
        return QT_TRANSLATE_NOOP("Error", "Disk full");
    case ErrorNumber::PermissionDenied:
        return QT_TRANSLATE_NOOP("Error", "Permission denied");
    case ErrorNumber::PathFileAccess:
        return QT_TRANSLATE_NOOP("Error", "Path/File access error");
    case ErrorNumber::PathNotFound:
        return QT_TRANSLATE_NOOP("Error", "Path not found");
    case ErrorNumber::InvalidPicture:
        return QT_TRANSLATE_NOOP("Error", "Invalid picture");
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
