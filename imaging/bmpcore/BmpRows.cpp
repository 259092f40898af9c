// SPDX-License-Identifier: MIT

#include "imaging/bmpcore/BmpRows.h"

#include "runtime/files/Fd.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <new>

using namespace BmpFormat;

namespace BmpCore {

namespace {

// The file header and the position of the info header and the pixel data.
BmpDecode::DibHeader parseBmp(const Bytes& bytes)
{
    const std::uint8_t* data = bytes.data();
    const std::int64_t size = bytes.size();
    if (size < fileHeaderSize + coreHeaderSize || !hasMagic(data))
        throwInvalidPicture(size == 0         ? "the file is empty"
                : size < 2 || !hasMagic(data) ? "not a BMP file"
                                              : "ends early");
    return BmpDecode::parseDibHeader(
        data, size, fileHeaderSize, u32(data + FileHeader::bitsOffset), false);
}

Bytes readAll(const std::string& path)
{
    Bytes bytes;
    readFile(path, bytes);
    return bytes;
}

// Pixel data read at once: little beside the picture, yet few reads when a bottom-up file is
// read from its end.
constexpr std::int64_t blockBytes = std::int64_t(1) << 21;

// The V5 header's colour fields; `profileAt` is where an embedded profile will lie,
// counted from the header's start.
void putColourSpace(
    std::uint8_t* info, const ImageCore::ColourSpace& colour, std::int64_t profileAt)
{
    put32(info + Info::intent, colour.intent);
    switch (colour.kind) {
    case ImageCore::ColourSpace::Kind::None:
        put32(info + Info::csType,
            ImageCore::signature("Win ")); // undeclared: the reader's own default
        put32(info + Info::intent, ImageCore::IntentPerceptual);
        break;
    case ImageCore::ColourSpace::Kind::Srgb:
        put32(info + Info::csType, ImageCore::signature("sRGB"));
        break;
    case ImageCore::ColourSpace::Kind::Calibrated:
        put32(info + Info::csType, Info::calibratedRgb);
        for (size_t i = 0; i < colour.endpoints.size(); ++i)
            put32(info + Info::endpoints + 4 * i, std::uint32_t(colour.endpoints[i]));
        for (size_t i = 0; i < colour.gammas.size(); ++i)
            put32(info + Info::gammas + 4 * i, colour.gammas[i]);
        break;
    case ImageCore::ColourSpace::Kind::Embedded:
        put32(info + Info::csType, ImageCore::signature("MBED"));
        put32(info + Info::profileData, std::uint32_t(profileAt));
        put32(info + Info::profileSize, std::uint32_t(colour.profile.size()));
        break;
    }
}

} // namespace

WholeReader::WholeReader(const std::string& path)
    : WholeReader(readAll(path))
{
}

// Moving the bytes keeps their data in place, where the decoder points.
WholeReader::WholeReader(Bytes bytes)
    : m_bytes(std::move(bytes))
    , m_header(parseBmp(m_bytes))
    , m_decoder(m_bytes.data(), m_bytes.size(), m_header)
{
}

RowReader::RowReader(const std::string& path)
{
    m_file = openRegular(path, m_fileSize);
    if (m_fileSize > Limits::maxFileSize)
        throwInvalidPicture();
    // A file whose size the system does not tell (0) is read to its end, as a whole.
    if (m_fileSize > 0)
        readHead();
    if (m_fileSize == 0 || m_header.rle()) {
        readWhole();
        return;
    }
    m_blockRows = std::clamp<std::int64_t>(blockBytes / m_header.stride, 1, m_header.height);
    try {
        m_block.resize(size_t(m_blockRows * m_header.stride));
    } catch (const std::bad_alloc&) {
        throwOutOfMemory();
    }
    const bool alpha = m_header.masks[3] != 0 && (m_header.alphaDeclared || scanForAlpha());
    m_rows = std::make_unique<BmpDecode::DibDecoder>(
        m_head.data(), std::int64_t(m_head.size()), m_header, alpha);
}

RowReader::~RowReader() = default;

// The headers and colour table: everything before the pixel data.
void RowReader::readHead()
{
    std::uint8_t fileHeader[fileHeaderSize];
    const Files::ReadResult got = Files::readFullAt(m_file.get(), fileHeader, fileHeaderSize, 0);
    if (got.error != 0)
        throwFileError(got.error);
    if (m_fileSize < fileHeaderSize + coreHeaderSize || got.bytes < fileHeaderSize
        || !hasMagic(fileHeader))
        throwInvalidPicture(m_fileSize == 0               ? "the file is empty"
                : m_fileSize < 2 || !hasMagic(fileHeader) ? "not a BMP file"
                                                          : "ends early");
    const std::int64_t bitsOffset = u32(fileHeader + FileHeader::bitsOffset);
    const std::int64_t headSize
        = std::max<std::int64_t>(fileHeaderSize, std::min(bitsOffset, m_fileSize));
    try {
        m_head.resize(size_t(headSize));
    } catch (const std::bad_alloc&) {
        throwOutOfMemory();
    }
    const Files::ReadResult head = Files::readFullAt(m_file.get(), m_head.data(), m_head.size(), 0);
    if (head.error != 0)
        throwFileError(head.error);
    if (head.bytes < m_head.size())
        throwInvalidPicture("ends early");
    m_header = BmpDecode::parseDibHeader(
        m_head.data(), headSize, fileHeaderSize, bitsOffset, false, m_fileSize);
    if (m_header.profileOffset >= 0)
        readProfile();
}

// An embedded profile stored after the pixel data, beyond the head.
void RowReader::readProfile()
{
    Bytes profile;
    try {
        profile.resize(size_t(m_header.profileSize));
    } catch (const std::bad_alloc&) {
        throwOutOfMemory();
    }
    const Files::ReadResult got = Files::readFullAt(
        m_file.get(), profile.data(), profile.size(), off_t(m_header.profileOffset));
    if (got.error != 0)
        throwFileError(got.error);
    // A file cut since its size was taken loses its profile, as a cut profile does.
    BmpDecode::attachProfile(m_header, profile.data(), got.bytes);
}

void RowReader::readWhole()
{
    Bytes bytes;
    readOpenFile(m_file, m_fileSize, bytes);
    m_file.reset();
    m_whole = std::make_unique<WholeReader>(std::move(bytes));
    m_header = m_whole->header();
}

// Stored rows in file order, up to the first that sets an alpha bit.
bool RowReader::scanForAlpha()
{
    for (std::int64_t first = 0; first < m_header.height; first += m_blockRows) {
        const std::int64_t count = std::min(m_blockRows, m_header.height - first);
        readBlock(first, count);
        for (std::int64_t r = 0; r < count; ++r)
            if (BmpDecode::DibDecoder::rowHasAlpha(m_header, m_block.data() + r * m_header.stride))
                return true;
    }
    return false;
}

void RowReader::readBlock(std::int64_t first, std::int64_t count)
{
    const std::int64_t stride = m_header.stride;
    const std::int64_t offset = m_header.bitsOffset + first * stride;
    // The last stored row may lack its padding.
    const std::int64_t needed
        = (count - 1) * stride + (std::int64_t(m_header.width) * m_header.bitCount + 7) / 8;
    m_blockCount = 0;
    const Files::ReadResult got
        = Files::readFullAt(m_file.get(), m_block.data(), size_t(count * stride), off_t(offset));
    if (got.error != 0)
        throwFileError(got.error);
    if (std::int64_t(got.bytes) < needed) // the file shrank since its headers were checked
        throwInvalidPicture();
    m_blockFirst = first;
    m_blockCount = count;
}

// The block that holds stored row `stored` and the rows asked for after it; the system is
// told of the block after that, to fetch it while these rows are decoded.
void RowReader::loadBlockFor(std::int64_t stored)
{
    const std::int64_t height = m_header.height;
    std::int64_t first = stored;
    std::int64_t count = std::min(m_blockRows, height - stored);
    std::int64_t nextFirst = stored + count;
    if (!m_header.topDown) {
        first = std::max<std::int64_t>(0, stored - m_blockRows + 1);
        count = stored - first + 1;
        nextFirst = std::max<std::int64_t>(0, first - m_blockRows);
    }
    readBlock(first, count);
    const std::int64_t nextCount
        = m_header.topDown ? std::min(m_blockRows, height - nextFirst) : first - nextFirst;
    if (nextCount > 0)
        ::posix_fadvise(m_file.get(), off_t(m_header.bitsOffset + nextFirst * m_header.stride),
            off_t(nextCount * m_header.stride), POSIX_FADV_WILLNEED);
}

void RowReader::readRow(std::uint32_t* out)
{
    if (m_next >= m_header.height)
        throw Error(Error::InvalidCall);
    const int y = m_next++;
    if (m_whole) {
        m_whole->decoder().decodeRow(y, out);
        return;
    }
    const std::int64_t stored = m_header.topDown ? y : m_header.height - 1 - y;
    if (stored < m_blockFirst || stored >= m_blockFirst + m_blockCount)
        loadBlockFor(stored);
    m_rows->decodeStoredRow(m_block.data() + (stored - m_blockFirst) * m_header.stride, out);
}

RowWriter::RowWriter(const std::string& path, int width, int height, bool alpha,
    const ImageCore::ColourSpace& colour)
    : m_width(width)
    , m_height(height)
    , m_alpha(alpha)
    , m_v5(alpha || colour.kind != ImageCore::ColourSpace::Kind::None)
    , m_stride((std::int64_t(width) * (alpha ? 32 : 24) + 31) / 32 * 4)
    , m_dataOffset(fileHeaderSize + (m_v5 ? v5HeaderSize : infoHeaderSize))
{
    if (width <= 0 || height <= 0)
        throw Error(Error::InvalidCall);
    if (m_stride * height + m_dataOffset + std::int64_t(colour.profile.size()) > 0xFFFFFFFFLL)
        throw Error(Error::Overflow);
    // 0666 less the umask; a device such as /dev/full is written in place.
    if (const int error = m_file.open(path, 0666))
        throwFileError(error);
    m_blockRows = int(std::clamp<std::int64_t>((std::int64_t(1) << 18) / m_stride, 1, height));
    m_block.assign(size_t(m_blockRows * m_stride), 0);
    writeHeader(colour);
}

void RowWriter::writeHeader(const ImageCore::ColourSpace& colour)
{
    std::uint8_t header[fileHeaderSize + v5HeaderSize] = {};
    putMagic(header);
    const std::int64_t pixelBytes = m_stride * m_height;
    const bool embedded = colour.kind == ImageCore::ColourSpace::Kind::Embedded;
    put32(header + FileHeader::fileSize,
        std::uint32_t(m_dataOffset + pixelBytes + (embedded ? colour.profile.size() : 0)));
    put32(header + FileHeader::bitsOffset, std::uint32_t(m_dataOffset));
    std::uint8_t* info = header + fileHeaderSize;
    put32(info + Info::headerSize, std::uint32_t(m_dataOffset - fileHeaderSize));
    put32(info + Info::width, std::uint32_t(m_width));
    put32(info + Info::height, std::uint32_t(m_height));
    put16(info + Info::planes, 1);
    put16(info + Info::bitCount, m_alpha ? 32 : 24);
    put32(info + Info::compression, m_alpha ? BiBitfields : BiRgb);
    put32(info + Info::imageSize, std::uint32_t(pixelBytes));
    put32(info + Info::xPelsPerMeter, 3780); // 96 dots per inch
    put32(info + Info::yPelsPerMeter, 3780);
    if (m_alpha) {
        put32(info + Info::redMask, 0x00FF0000);
        put32(info + Info::greenMask, 0x0000FF00);
        put32(info + Info::blueMask, 0x000000FF);
        put32(info + Info::alphaMask, 0xFF000000);
    }
    if (m_v5)
        putColourSpace(info, colour, m_dataOffset - fileHeaderSize + pixelBytes);
    writeAt(0, header, m_dataOffset);
    if (embedded)
        writeAt(
            m_dataOffset + pixelBytes, colour.profile.data(), std::int64_t(colour.profile.size()));
}

void RowWriter::writeAt(std::int64_t offset, const std::uint8_t* p, std::int64_t n)
{
    if (const int error = Files::writeFullAt(m_file.fd(), p, size_t(n), off_t(offset))) {
        m_file.abandon();
        throwFileError(error);
    }
}

// Rows arrive top first but lie bottom-up in the file, so the rows of a block fill the
// buffer from its end and the block is one contiguous write.
void RowWriter::flush()
{
    if (m_rowsInBlock == 0)
        return;
    const std::int64_t lastRow = m_blockFirst + m_rowsInBlock - 1;
    const std::int64_t offset = m_dataOffset + (m_height - 1 - lastRow) * m_stride;
    writeAt(offset, m_block.data() + (m_blockRows - m_rowsInBlock) * m_stride,
        m_rowsInBlock * m_stride);
    m_blockFirst += m_rowsInBlock;
    m_rowsInBlock = 0;
}

void RowWriter::writeRow(const std::uint32_t* row)
{
    if (m_written >= m_height)
        throw Error(Error::InvalidCall);
    std::uint8_t* dst = m_block.data() + (m_blockRows - 1 - m_rowsInBlock) * m_stride;
    const int w = m_width;
    if (m_alpha) {
        if constexpr (littleEndian) {
            std::memcpy(dst, row, size_t(w) * 4);
        } else {
            for (int x = 0; x < w; ++x)
                put32(dst + 4 * x, row[x]);
        }
    } else {
        for (int x = 0; x < w; ++x, dst += 3) {
            const std::uint32_t c = row[x];
            dst[0] = std::uint8_t(c);
            dst[1] = std::uint8_t(c >> 8);
            dst[2] = std::uint8_t(c >> 16);
        }
    }
    ++m_written;
    if (++m_rowsInBlock == m_blockRows)
        flush();
}

void RowWriter::finish()
{
    if (m_written != m_height)
        throw Error(Error::InvalidCall);
    flush();
    // EBADF after an earlier write failed and removed the temporary.
    if (const int error = m_file.commit())
        throwFileError(error);
}

} // namespace BmpCore
