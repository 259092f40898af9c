// SPDX-License-Identifier: MIT

#pragma once

#include <stdexcept>
#include <string>

namespace BmpCore {

// A failure of the BMP core. It names no file: the caller knows which one it passed, and
// words the failure its own way (imaging as AppError, the converters in one line).
class Error : public std::runtime_error
{
public:
    enum Kind {
        File, // the system refused: errnoValue() says why
        InvalidPicture, // not a BMP, or damaged
        OutOfMemory,
        InvalidCall, // a row too many, or a size the writer cannot take
        Overflow, // a picture too large for the format
    };

    explicit Error(Kind kind, int errnoValue = 0, const char* detail = nullptr);
    Kind kind() const noexcept { return m_kind; }
    int errnoValue() const noexcept { return m_errno; }
    // What exactly is wrong with an invalid picture ("not a BMP file"), or null.
    const char* detail() const noexcept { return m_detail; }

    // The runtime error number of this failure (ErrorNumber), fileErrorNumber() for File.
    int number() const noexcept;
    // The words of that number, which the program's messages put before ": <path>";
    // fileErrorWords() for File.
    std::string reason() const;

private:
    Kind m_kind;
    int m_errno;
    const char* m_detail; // a string literal
};

// `detail`, when given, is a string literal.
[[noreturn]] void throwInvalidPicture(const char* detail = nullptr);
[[noreturn]] void throwOutOfMemory();
[[noreturn]] void throwFileError(int errnoValue);

} // namespace BmpCore
