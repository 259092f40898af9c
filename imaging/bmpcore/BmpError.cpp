// SPDX-License-Identifier: MIT

#include "imaging/bmpcore/BmpError.h"

#include <cerrno>
#include <cstring>

namespace BmpCore {

Error::Error(Kind kind, int errnoValue, const char* detail)
    : std::runtime_error("BMP error")
    , m_kind(kind)
    , m_errno(errnoValue)
    , m_detail(detail)
{
}

std::string Error::reason() const
{
    switch (m_kind) {
    case File:
        // A missing file reads as the forms runtime worded it.
        return m_errno == ENOENT ? "File not found" : std::strerror(m_errno);
    case InvalidPicture:
        return "Invalid picture";
    case OutOfMemory:
        return "Out of memory";
    case InvalidCall:
        return "Invalid procedure call or argument";
    case Overflow:
        return "Overflow";
    }
    return "Invalid picture";
}

void throwInvalidPicture(const char* detail)
{
    throw Error(Error::InvalidPicture, 0, detail);
}

void throwOutOfMemory()
{
    throw Error(Error::OutOfMemory);
}

void throwFileError(int errnoValue)
{
    throw Error(Error::File, errnoValue);
}

} // namespace BmpCore
