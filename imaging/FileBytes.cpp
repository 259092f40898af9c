// SPDX-License-Identifier: MIT

#include "imaging/FileBytes.h"

#include "runtime/AppError.h"
#include "runtime/files/Fd.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>

namespace {

constexpr qint64 maxFileSize = qint64(1) << 32;

// Opens `path` for reading, refusing anything but a regular file: a folder with EISDIR,
// a device, pipe or socket as an invalid picture. The open does not wait for a pipe's
// writer, which might never come (a FIFO among the pictures would hang the run).
Files::UniqueFd openRegular(const QString& path)
{
    if (path.isEmpty())
        throw fileError(ENOENT, path);
    Files::UniqueFd file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid())
        throw fileError(errno, path);
    struct stat st;
    if (::fstat(file.get(), &st) != 0)
        throw fileError(errno, path);
    if (S_ISDIR(st.st_mode))
        throw fileError(EISDIR, path);
    if (!S_ISREG(st.st_mode))
        throwInvalidPicture(path);
    // Back to blocking reads, which a regular file needs on network file systems.
    ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    return file;
}

} // namespace

QByteArray readFileBytes(const QString& path)
{
    const Files::UniqueFd file = openRegular(path);
    struct stat st;
    if (::fstat(file.get(), &st) != 0)
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
            const Files::ReadResult got = Files::readFull(file.get(), &probe, 1);
            if (got.error != 0)
                throw fileError(got.error, path);
            if (got.bytes == 0)
                break;
            try {
                bytes.resize(bytes.size() * 2);
            } catch (const std::bad_alloc&) {
                throwOutOfMemory(path);
            }
            bytes[used++] = probe;
            continue;
        }
        const size_t wanted = size_t(bytes.size() - used);
        const Files::ReadResult got = Files::readFull(file.get(), bytes.data() + used, wanted);
        if (got.error != 0)
            throw fileError(got.error, path);
        used += qsizetype(got.bytes);
        if (got.bytes < wanted) // the end of the file
            break;
    }
    bytes.truncate(used);
    return bytes;
}

QByteArray readFileHead(const QString& path, int n)
{
    const Files::UniqueFd file = openRegular(path);
    QByteArray head(n, Qt::Uninitialized);
    const Files::ReadResult got = Files::readFull(file.get(), head.data(), size_t(n));
    if (got.error != 0)
        throw fileError(got.error, path);
    head.truncate(qsizetype(got.bytes));
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
