// SPDX-License-Identifier: MIT

#include "runtime/files/Fd.h"

#include <cerrno>
#include <unistd.h>

namespace Files {

void UniqueFd::reset(int fd) noexcept
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int UniqueFd::close() noexcept
{
    if (m_fd < 0)
        return EBADF;
    // Never retried: Linux frees the descriptor even when close reports EINTR, and the number
    // may already belong to another thread's file.
    const int rc = ::close(release());
    return rc == 0 ? 0 : errno;
}

namespace {

// Reads until `size` bytes, the end or an error; `transfer` is one read(2) or pread(2).
template <typename Transfer> ReadResult readLoop(void* buffer, size_t size, Transfer transfer)
{
    auto* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = transfer(p + done, size - done, done);
        if (n > 0) {
            done += size_t(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return { done, errno };
        }
    }
    return { done, 0 };
}

} // namespace

ReadResult readFull(int fd, void* buffer, size_t size) noexcept
{
    return readLoop(buffer, size, [fd](char* to, size_t n, size_t) { return ::read(fd, to, n); });
}

ReadResult readFullAt(int fd, void* buffer, size_t size, off_t offset) noexcept
{
    return readLoop(buffer, size, [fd, offset](char* to, size_t n, size_t done) {
        return ::pread(fd, to, n, offset + off_t(done));
    });
}

int writeFull(int fd, const void* data, size_t size) noexcept
{
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0) // never for a file; a device that takes nothing would hold us forever
            return EIO;
        p += n;
        size -= size_t(n);
    }
    return 0;
}

int writeFullAt(int fd, const void* data, size_t size, off_t offset) noexcept
{
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        p += n;
        size -= size_t(n);
        offset += off_t(n);
    }
    return 0;
}

} // namespace Files
