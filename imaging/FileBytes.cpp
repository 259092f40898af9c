#include "imaging/FileBytes.h"

#include "runtime/AppError.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Fd
{
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

constexpr qint64 maxFileSize = qint64(1) << 32;

// Opens `path` for reading, refusing anything but a regular file: a folder with EISDIR,
// a device, pipe or socket as an invalid picture. The open does not wait for a pipe's
// writer, which might never come (a FIFO among the pictures would hang the run).
int openRegular(const QString& path)
{
    if (path.isEmpty())
        throw fileError(ENOENT, path);
    Fd file { ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) };
    if (file.fd < 0)
        throw fileError(errno, path);
    struct stat st;
    if (::fstat(file.fd, &st) != 0)
        throw fileError(errno, path);
    if (S_ISDIR(st.st_mode))
        throw fileError(EISDIR, path);
    if (!S_ISREG(st.st_mode))
        throwInvalidPicture(path);
    // Back to blocking reads, which a regular file needs on network file systems.
    ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
    const int fd = file.fd;
    file.fd = -1;
    return fd;
}

} // namespace

QByteArray readFileBytes(const QString& path)
{
    const Fd file { openRegular(path) };
    struct stat st;
    if (::fstat(file.fd, &st) != 0)
        throw fileError(errno, path);
    if (st.st_size > maxFileSize)
        throwInvalidPicture(path);

    // A file is read with one call; one that grows meanwhile takes more, in doubling steps
    // up to the same limit.
    QByteArray bytes;
    try {
        bytes = QByteArray(qsizetype(st.st_size > 0 ? st.st_size : 65536), Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        throwOutOfMemory(path);
    }
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() >= maxFileSize)
                throwInvalidPicture(path);
            // A regular file has reached its size: one probe tells whether it grew.
            char probe;
            const ssize_t n = ::read(file.fd, &probe, 1);
            if (n == 0)
                break;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw fileError(errno, path);
            }
            try {
                bytes.resize(bytes.size() * 2);
            } catch (const std::bad_alloc&) {
                throwOutOfMemory(path);
            }
            bytes[used++] = probe;
            continue;
        }
        const ssize_t n = ::read(file.fd, bytes.data() + used, size_t(bytes.size() - used));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw fileError(errno, path);
        }
        if (n == 0)
            break;
        used += n;
    }
    bytes.truncate(used);
    return bytes;
}

QByteArray readFileHead(const QString& path, int n)
{
    const Fd file { openRegular(path) };
    QByteArray head(n, Qt::Uninitialized);
    qsizetype used = 0;
    while (used < n) {
        const ssize_t got = ::read(file.fd, head.data() + used, size_t(n - used));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw fileError(errno, path);
        }
        if (got == 0)
            break;
        used += got;
    }
    head.truncate(used);
    return head;
}

void throwInvalidPicture(const QString& path)
{
    throw AppError(ErrorNumber::InvalidPicture, QStringLiteral("Invalid picture: ") + path);
}

void throwOutOfMemory(const QString& path)
{
    throw AppError(ErrorNumber::OutOfMemory, QStringLiteral("Out of memory: ") + path);
}
