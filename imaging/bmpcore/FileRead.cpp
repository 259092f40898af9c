// SPDX-License-Identifier: MIT

#include "imaging/bmpcore/FileRead.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace BmpCore {

// The open does not wait for a pipe's writer, which might never come (a FIFO among the
// pictures would hang the run).
Files::UniqueFd openRegular(const std::string& path, std::int64_t& size)
{
    if (path.empty())
        throwFileError(ENOENT);
    Files::UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid())
        throwFileError(errno);
    struct stat st;
    if (::fstat(file.get(), &st) != 0)
        throwFileError(errno);
    if (S_ISDIR(st.st_mode))
        throwFileError(EISDIR);
    if (!S_ISREG(st.st_mode))
        throwInvalidPicture("not a regular file");
    // Back to blocking reads, which a regular file needs on network file systems.
    ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    size = std::int64_t(st.st_size);
    return file;
}

void Bytes::resize(std::int64_t n)
{
    if (n > m_capacity) {
        std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[size_t(n)]);
        if (m_size > 0)
            std::memcpy(grown.get(), m_data.get(), size_t(m_size));
        m_data = std::move(grown);
        m_capacity = n;
    }
    m_size = n;
}

} // namespace BmpCore
