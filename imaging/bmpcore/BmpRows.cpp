// SPDX-License-Identifier: MIT

#include "imaging/bmpcore/BmpRows.h"

#include "runtime/files/Fd.h"

#include <algorithm>
#include <cstring>

using namespace BmpFormat;

namespace BmpCore {

namespace {

// The file header and the position of the info header and the pixel data.
BmpDecode::DibDecoder openBmp(const Bytes& bytes)
{
    const std::uint8_t* data = bytes.data();
    const std::int64_t size = bytes.size();
    if (size < fileHeaderSize + 12 || data[0] != 'B' || data[1] != 'M')
        throwInvalidPicture();
    const BmpDecode::DibHeader header
        = BmpDecode::parseDibHeader(data, size, fileHeaderSize, u32(data + 10), false);
    return BmpDecode::DibDecoder(data, size, header);
}

Bytes readAll(const std::string& path)
{
    Bytes bytes;
    readFile(path, bytes);
    return bytes;
}

// The V5 header's colour fields; `profileAt` is where an embedded profile will lie,
// counted from the header's start.
void putColourSpace(std::uint8_t* info, const ColourSpace& colour, std::int64_t profileAt)
{
    put32(info + 108, colour.intent);
    switch (colour.kind) {
    case ColourSpace::Kind::None:
        put32(info + 56, signature("Win ")); // undeclared: the reader's own default
        put32(info + 108, IntentPerceptual);
        break;
    case ColourSpace::Kind::Srgb:
        put32(info + 56, signature("sRGB"));
        break;
    case ColourSpace::Kind::Calibrated:
        put32(info + 56, 0); // LCS_CALIBRATED_RGB
        for (size_t i = 0; i < colour.endpoints.size(); ++i)
            put32(info + 60 + 4 * i, std::uint32_t(colour.endpoints[i]));
        for (size_t i = 0; i < colour.gammas.size(); ++i)
            put32(info + 96 + 4 * i, colour.gammas[i]);
        break;
    case ColourSpace::Kind::Embedded:
        put32(info + 56, signature("MBED"));
        put32(info + 112, std::uint32_t(profileAt));
        put32(info + 116, std::uint32_t(colour.profile.size()));
        break;
    }
}

} // namespace

RowReader::RowReader(const std::string& path)
    : RowReader(readAll(path))
{
}

// Moving the bytes keeps their data in place, where the decoder points.
RowReader::RowReader(Bytes bytes)
    : m_bytes(std::move(bytes))
    , m_decoder(openBmp(m_bytes))
{
}

void RowReader::readRow(std::uint32_t* out)
{
    if (m_next >= m_decoder.height())
        throw Error(Error::InvalidCall);
    m_decoder.decodeRow(m_next++, out);
}

RowWriter::RowWriter(
    const std::string& path, int width, int height, bool alpha, const ColourSpace& colour)
    : m_width(width)
    , m_height(height)
    , m_alpha(alpha)
    , m_v5(alpha || colour.kind != ColourSpace::Kind::None)
    , m_stride((std::int64_t(width) * (alpha ? 32 : 24) + 31) / 32 * 4)
    , m_dataOffset(fileHeaderSize + (m_v5 ? 124 : 40))
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

void RowWriter::writeHeader(const ColourSpace& colour)
{
    std::uint8_t header[fileHeaderSize + 124] = {};
    header[0] = 'B';
    header[1] = 'M';
    const std::int64_t pixelBytes = m_stride * m_height;
    const bool embedded = colour.kind == ColourSpace::Kind::Embedded;
    put32(header + 2,
        std::uint32_t(m_dataOffset + pixelBytes + (embedded ? colour.profile.size() : 0)));
    put32(header + 10, std::uint32_t(m_dataOffset));
    std::uint8_t* info = header + fileHeaderSize;
    put32(info, std::uint32_t(m_dataOffset - fileHeaderSize));
    put32(info + 4, std::uint32_t(m_width));
    put32(info + 8, std::uint32_t(m_height));
    put16(info + 12, 1);
    put16(info + 14, m_alpha ? 32 : 24);
    put32(info + 16, m_alpha ? BiBitfields : BiRgb);
    put32(info + 20, std::uint32_t(pixelBytes));
    put32(info + 24, 3780); // 96 dots per inch
    put32(info + 28, 3780);
    if (m_alpha) {
        put32(info + 40, 0x00FF0000);
        put32(info + 44, 0x0000FF00);
        put32(info + 48, 0x000000FF);
        put32(info + 52, 0xFF000000);
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
