// SPDX-License-Identifier: MIT

#include "imaging/bmpcore/BmpError.h"

#include "runtime/files/ErrorWords.h"

namespace BmpCore {

Error::Error(Kind kind, int errnoValue, const char* detail)
    : std::runtime_error("BMP error")
    , m_kind(kind)
    , m_errno(errnoValue)
    , m_detail(detail)
{
}

int Error::number() const noexcept
{
    switch (m_kind) {
    case File:
        return fileErrorNumber(m_errno);
    case InvalidPicture:
        break;
    case OutOfMemory:
        return ErrorNumber::OutOfMemory;
    case InvalidCall:
        return ErrorNumber::InvalidCall;
    case Overflow:
        return ErrorNumber::Overflow;
    }
    return ErrorNumber::InvalidPicture;
}

std::string Error::reason() const
{
    return m_kind == File ? fileErrorWords(m_errno) : errorWords(number());
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
