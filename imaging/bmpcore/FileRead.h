// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/bmpcore/BmpError.h"
#include "imaging/core/Limits.h"
#include "runtime/files/Fd.h"

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

// Whole-file reads for the decoders, so that they parse memory with plain bounds checks.
// Failures throw BmpCore::Error: File with the errno value when the file cannot be opened or
// read (EISDIR for a folder, ENOENT for an empty path), InvalidPicture when it is larger
// than any picture we accept (4 GiB) or not a regular file (a device, pipe or socket: never
// waited for), OutOfMemory.
namespace BmpCore {

// Opens `path` for reading (a regular file only); sets `size` to its size as it was opened.
Files::UniqueFd openRegular(const std::string& path, std::int64_t& size);

// Bytes that are not zeroed first: the read fills them.
class Bytes
{
public:
    std::int64_t size() const noexcept { return m_size; }
    std::uint8_t* data() noexcept { return m_data.get(); }
    const std::uint8_t* data() const noexcept { return m_data.get(); }
    void resize(std::int64_t n);

private:
    std::unique_ptr<std::uint8_t[]> m_data;
    std::int64_t m_size = 0;
    std::int64_t m_capacity = 0;
};

// Reads the file opened by openRegular(), which gave its `size`, from its current position
// into `bytes` (QByteArray or Bytes: size(), data(), resize()) in one call; a file that grows
// meanwhile takes more, in doubling steps up to Limits::maxFileSize.
template <class Buffer>
void readOpenFile(const Files::UniqueFd& file, std::int64_t size, Buffer& bytes)
{
    if (size > Limits::maxFileSize)
        throwInvalidPicture();
    try {
        bytes.resize(size > 0 ? size : 65536);
    } catch (const std::bad_alloc&) {
        throwOutOfMemory();
    }
    std::int64_t used = 0;
    for (;;) {
        if (used == std::int64_t(bytes.size())) {
            if (bytes.size() >= Limits::maxFileSize)
                throwInvalidPicture();
            // A regular file has reached its size: one probe tells whether it grew.
            char probe;
            const Files::ReadResult got = Files::readFull(file.get(), &probe, 1);
            if (got.error != 0)
                throwFileError(got.error);
            if (got.bytes == 0)
                break;
            try {
                bytes.resize(bytes.size() * 2);
            } catch (const std::bad_alloc&) {
                throwOutOfMemory();
            }
            bytes.data()[used++] = std::remove_reference_t<decltype(bytes.data()[0])>(probe);
            continue;
        }
        const size_t wanted = size_t(bytes.size() - used);
        const Files::ReadResult got = Files::readFull(file.get(), bytes.data() + used, wanted);
        if (got.error != 0)
            throwFileError(got.error);
        used += std::int64_t(got.bytes);
        if (got.bytes < wanted) // the end of the file
            break;
    }
    bytes.resize(used);
}

// Reads the whole file into `bytes`, as readOpenFile() does.
template <class Buffer> void readFile(const std::string& path, Buffer& bytes)
{
    std::int64_t size = 0;
    const Files::UniqueFd file = openRegular(path, size);
    readOpenFile(file, size, bytes);
}

} // namespace BmpCore
