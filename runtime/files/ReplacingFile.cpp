// SPDX-License-Identifier: MIT

#include "runtime/files/ReplacingFile.h"

#include "runtime/files/Temporaries.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

std::atomic<bool> namedOnly { false };

const char namePrefix[] = ".pictelle-";
const char nameSuffix[] = ".tmp";

std::string temporaryName(const std::string& folder)
{
    return folder + namePrefix + base36(randomBits()) + nameSuffix;
}

// Exactly the names temporaryName() makes: 1 to 13 base-36 digits between prefix and suffix.
bool isTemporaryName(const char* name)
{
    const size_t length = std::strlen(name);
    const size_t fixed = sizeof namePrefix - 1 + sizeof nameSuffix - 1;
    if (length <= fixed || length > fixed + 13
        || std::strncmp(name, namePrefix, sizeof namePrefix - 1) != 0
        || std::strcmp(name + length - (sizeof nameSuffix - 1), nameSuffix) != 0)
        return false;
    for (size_t i = sizeof namePrefix - 1; i < length - (sizeof nameSuffix - 1); ++i) {
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'z')))
            return false;
    }
    return true;
}

// The file systems whose every user is on this machine, where a lock tells all.
bool isLocal(const std::string& folder)
{
    struct statfs fs
    {
    };
    if (::statfs(folder.empty() ? "." : folder.c_str(), &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC: // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case MSDOS_SUPER_MAGIC:
    case 0x2011BAB0UL: // exFAT
    case 0x7366746EUL: // NTFS (ntfs3)
    case 0x2FC12FC1UL: // ZFS
        return true;
    default:
        return false;
    }
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
        if (!beginCreating())
            return ECANCELED; // the program is ending
        const int unnamed = namedOnly ? -1
                                      : ::open(folder.empty() ? "." : folder.c_str(),
                                          O_TMPFILE | O_WRONLY | O_NOCTTY | O_CLOEXEC, mode);
        const int refusal = namedOnly ? EOPNOTSUPP : errno;
        endCreating();
        if (unnamed >= 0) {
            m_file.reset(unnamed);
            m_unnamed = true;
            ::flock(unnamed, LOCK_EX);
            return 0;
        }
        // Kernels and file systems without unnamed files refuse in these three ways; any
        // other error (no permission, no space, no folder) a named file would meet as well.
        if (refusal != EOPNOTSUPP && refusal != EISDIR && refusal != EINVAL)
            return refusal;

        int error = EEXIST;
        for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
            std::string name = temporaryName(folder);
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
                ::flock(fd, LOCK_EX);
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
    if (m_unnamed) {
        // A destination that does not exist takes the name at once: then no moment passes
        // in which a temporary name exists.
        if (!beginCreating()) {
            abandon();
            return ECANCELED;
        }
        const int direct = linkAs(m_destination);
        endCreating();
        if (direct == 0) {
            // Nothing was there before, so a failed close takes the name away again.
            if (const int error = m_file.close()) {
                ::unlink(m_destination.c_str());
                abandon();
                return error;
            }
            m_unnamed = false;
            m_committed = true;
            return 0;
        }
        if (const int error = direct == EEXIST ? linkUnnamed() : direct) {
            abandon();
            return error;
        }
        // Renamed before the close, so that the temporary name lives only between two calls
        // to the system: the local file systems that have unnamed files report a full disk
        // at the write, not at the close (whose writeback over an existing ext4 file takes
        // milliseconds, long enough for a kill to land in).
        if (::rename(m_temp.c_str(), m_destination.c_str()) != 0) {
            const int error = errno;
            abandon();
            return error;
        }
        forget();
        m_temp.clear();
        m_committed = true;
        if (const int error = m_file.close()) {
            ::unlink(m_destination.c_str());
            return error;
        }
        return 0;
    }
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

int ReplacingFile::linkAs(const std::string& name) noexcept
{
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_file.get());
    if (::linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    // Without /proc, the descriptor itself (which kernels before 6.10 allow root only).
    if (errno != ENOENT)
        return errno;
    return ::linkat(m_file.get(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

// Gives the unnamed file its temporary name, for the rename over the destination.
int ReplacingFile::linkUnnamed() noexcept
{
    try {
        const std::string folder = folderOf(m_destination);
        int error = EEXIST;
        for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
            std::string name = temporaryName(folder);
            if (!beginCreating())
                return ECANCELED;
            m_slot = recordTemporary(name.c_str());
            error = linkAs(name);
            endCreating();
            if (error == 0) {
                m_temp = std::move(name);
                m_unnamed = false;
                return 0;
            }
            forget();
        }
        return error;
    } catch (...) {
        return ENOMEM;
    }
}

void ReplacingFile::abandon() noexcept
{
    m_file.reset();
    m_unnamed = false;
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

namespace Files {

void useNamedTemporaries(bool named) noexcept
{
    namedOnly = named;
}

int removeStaleTemporaries(const std::string& folder, int minimumAgeSeconds) noexcept
{
    try {
        if (!isLocal(folder))
            return 0;
        const UniqueFd dirFd(
            ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dirFd.valid())
            return 0;
        const int listFd = ::dup(dirFd.get());
        DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (!dir) {
            if (listFd >= 0)
                ::close(listFd);
            return 0;
        }
        const uid_t user = ::geteuid();
        const time_t before = ::time(nullptr) - minimumAgeSeconds;
        int removed = 0;
        while (const dirent* entry = ::readdir(dir)) {
            if (!isTemporaryName(entry->d_name))
                continue;
            const UniqueFd file(::openat(dirFd.get(), entry->d_name,
                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
            struct stat st;
            if (!file.valid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)
                || st.st_nlink != 1 || st.st_uid != user || st.st_mtime > before
                || st.st_ctime > before || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
                continue;
            // Still that file under that name: nothing renames onto our temporaries' names.
            struct stat named;
            if (::fstatat(dirFd.get(), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0
                && named.st_dev == st.st_dev && named.st_ino == st.st_ino
                && ::unlinkat(dirFd.get(), entry->d_name, 0) == 0)
                ++removed;
        }
        ::closedir(dir);
        return removed;
    } catch (...) {
        return 0;
    }
}

} // namespace Files
