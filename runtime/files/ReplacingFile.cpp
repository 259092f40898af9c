// SPDX-License-Identifier: MIT

#include "runtime/files/ReplacingFile.h"

#include "runtime/files/Temporaries.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Files {
namespace {

// 64 random bits for a temporary's name; when the kernel has none to give, a mix of the
// clock, the process and a counter (the exclusive create settles any collision).
std::uint64_t randomBits() noexcept
{
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == ssize_t(sizeof bits))
        return bits;
    static std::atomic<std::uint64_t> counter { 0 };
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint64_t z = std::uint64_t(now.tv_nsec) ^ (std::uint64_t(now.tv_sec) << 30)
        ^ (std::uint64_t(::getpid()) << 48) ^ (++counter * 0x9E3779B97F4A7C15ULL);
    // splitmix64's finaliser
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::string base36(std::uint64_t value)
{
    char digits[14];
    int n = 0;
    do {
        digits[n++] = "0123456789abcdefghijklmnopqrstuvwxyz"[value % 36];
        value /= 36;
    } while (value > 0);
    std::string text;
    while (n > 0)
        text += digits[--n];
    return text;
}

// The destination's folder with a trailing "/", or "" for a bare name.
std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool isDeviceOrPipe(mode_t mode)
{
    return S_ISCHR(mode) || S_ISBLK(mode) || S_ISFIFO(mode) || S_ISSOCK(mode);
}

} // namespace

int ReplacingFile::open(const std::string& destination, mode_t mode) noexcept
{
    abandon();
    m_committed = false;
    try {
        if (destination.empty())
            return ENOENT;
        m_destination = destination;

        struct stat st;
        if (::lstat(destination.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return EISDIR;
        if (::stat(destination.c_str(), &st) == 0 && isDeviceOrPipe(st.st_mode)) {
            UniqueFd device(
                ::open(destination.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
            if (!device.valid())
                return errno;
            // It was looked at by name; a regular file put there since is replaced below.
            if (::fstat(device.get(), &st) == 0 && isDeviceOrPipe(st.st_mode)) {
                ::fcntl(device.get(), F_SETFL, ::fcntl(device.get(), F_GETFL) & ~O_NONBLOCK);
                m_file = std::move(device);
                m_inPlace = true;
                return 0;
            }
        }

        const std::string folder = folderOf(destination);
        int error = EEXIST;
        for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
            std::string name = folder + ".pictelle-" + base36(randomBits()) + ".tmp";
            if (!beginCreating())
                return ECANCELED; // the program is ending
            // Entered before it exists, so that no moment passes in which a signal would
            // leave it behind.
            m_slot = recordTemporary(name.c_str());
            const int fd
                = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
            endCreating();
            if (fd >= 0) {
                m_file.reset(fd);
                m_temp = std::move(name);
                return 0;
            }
            error = errno;
            forget();
        }
        return error;
    } catch (...) { // std::bad_alloc from the names
        abandon();
        return ENOMEM;
    }
}

int ReplacingFile::commit() noexcept
{
    if (m_committed)
        return 0;
    if (!m_file.valid())
        return EBADF;
    // A full disk or a failed network write often shows only at close.
    if (const int error = m_file.close()) {
        abandon();
        return error;
    }
    if (!m_inPlace && ::rename(m_temp.c_str(), m_destination.c_str()) != 0) {
        const int error = errno;
        abandon();
        return error;
    }
    forget();
    m_temp.clear();
    m_inPlace = false;
    m_committed = true;
    return 0;
}

void ReplacingFile::abandon() noexcept
{
    m_file.reset();
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
    forget();
    m_inPlace = false;
}

void ReplacingFile::forget() noexcept
{
    forgetTemporary(m_slot);
    m_slot = -1;
}

} // namespace Files
