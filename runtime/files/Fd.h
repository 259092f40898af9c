// SPDX-License-Identifier: MIT

#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <sys/types.h>

// The one owner of a file descriptor, the owner of a stdio stream, and reads and writes that
// go on after a signal (EINTR) or a short transfer until all is done. Errors are errno values.
namespace Files {

// Owns a descriptor: closes it when it goes unless close() or release() came first.
class UniqueFd
{
public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept
        : m_fd(fd)
    {
    }
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(other.release())
    {
    }
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return m_fd; }
    bool valid() const noexcept { return m_fd >= 0; }
    // Gives the descriptor up without closing it.
    int release() noexcept
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes the descriptor held (silently) and takes `fd`.
    void reset(int fd = -1) noexcept;
    // Closes now and reports the result: 0, or the errno value (a write error may show only
    // here, on a network or full file system). The descriptor is gone either way; EBADF when
    // none was held.
    int close() noexcept;

private:
    int m_fd = -1;
};

// Owns a stdio stream (libpng and the PNG decoder read through one); fclose's result is not
// looked at, so only streams that are read belong here.
struct StreamCloser
{
    void operator()(FILE* file) const noexcept { std::fclose(file); }
};
using Stream = std::unique_ptr<FILE, StreamCloser>;

struct ReadResult
{
    size_t bytes; // fewer than asked only at the end of the file or on an error
    int error; // 0, or the errno value of the failed read
};

// Reads until `size` bytes are in or the file ends.
ReadResult readFull(int fd, void* buffer, size_t size) noexcept;

// Reads at `offset` without moving the file position, until `size` bytes are in or the file
// ends.
ReadResult readFullAt(int fd, void* buffer, size_t size, off_t offset) noexcept;

// Writes all `size` bytes; 0, or the errno value of the failed write.
int writeFull(int fd, const void* data, size_t size) noexcept;

// Writes all `size` bytes at `offset` without moving the file position; 0 or an errno value.
int writeFullAt(int fd, const void* data, size_t size, off_t offset) noexcept;

} // namespace Files
