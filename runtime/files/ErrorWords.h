// SPDX-License-Identifier: MIT

#pragma once

// The runtime error numbers and the words that open each message, the one place they are
// written. Plain C++, so that the BMP core and the converters word their failures as the
// program does. A message reads "<words>: <subject>", the subject being the file concerned.
namespace ErrorNumber {
enum : int {
    InvalidCall = 5, // "Invalid procedure call or argument"
    Overflow = 6, // "Overflow"
    OutOfMemory = 7, // "Out of memory"
    FileNotFound = 53, // "File not found"
    DiskFull = 61, // "Disk full"
    PermissionDenied = 70, // "Permission denied"
    PathFileAccess = 75, // "Path/File access error"
    PathNotFound = 76, // "Path not found"
    InvalidPicture = 481, // "Invalid picture"
};
constexpr int all[] = { InvalidCall, Overflow, OutOfMemory, FileNotFound, DiskFull,
    PermissionDenied, PathFileAccess, PathNotFound, InvalidPicture };
} // namespace ErrorNumber

// The words of error `number`, or "" for a number that is not one of the above.
const char* errorWords(int number) noexcept;

// The number of a file operation that failed with `errnoValue`: 53 for a missing file, 76 for
// a missing folder, 70 when refused, 61 for a full disk, 7 without memory, 75 otherwise.
int fileErrorNumber(int errnoValue) noexcept;

// The words of that failure: errorWords(53) for a missing file, the system's text of
// `errnoValue` otherwise (which says more than the number's words).
const char* fileErrorWords(int errnoValue) noexcept;
