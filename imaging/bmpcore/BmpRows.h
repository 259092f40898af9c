// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/bmpcore/DibDecode.h"
#include "imaging/bmpcore/FileRead.h"
#include "runtime/files/ReplacingFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Reading and writing a BMP file one row at a time, top row first. Pixels are 0xAARRGGBB.
// Failures throw BmpCore::Error.
namespace BmpCore {

// The whole file in memory, its headers checked, rows decoded in any order.
class WholeReader
{
public:
    explicit WholeReader(const std::string& path);
    explicit WholeReader(Bytes bytes);
    WholeReader(const WholeReader&) = delete;
    WholeReader& operator=(const WholeReader&) = delete;

    const BmpDecode::DibHeader& header() const { return m_header; }
    const BmpDecode::DibDecoder& decoder() const { return m_decoder; }

private:
    Bytes m_bytes; // the decoder points into it
    BmpDecode::DibHeader m_header;
    BmpDecode::DibDecoder m_decoder;
};

// Reads a BMP one row at a time, top row first, holding the headers and a block of rows
// rather than the file: rows are read in blocks in the order asked for (from the end of a
// bottom-up file). Compressed (RLE) files are read and decoded whole. The headers are checked
// against the file's size as it was opened; a file that shrinks meanwhile is InvalidPicture.
class RowReader
{
public:
    explicit RowReader(const std::string& path);
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    int width() const { return m_header.width; }
    int height() const { return m_header.height; }
    // True when the file carries an alpha channel: a declared alpha mask (kept as stored),
    // or 32-bit BI_RGB whose fourth bytes are not all zero.
    bool hasAlpha() const { return decoder().hasAlpha(); }
    // The parsed headers, for what they carry beside the pixels: the colour space among
    // others.
    const BmpDecode::DibHeader& header() const { return m_header; }
    // Decodes the next row into `width()` pixels, alpha 255 when opaque; InvalidCall past
    // the last row.
    void readRow(std::uint32_t* out);

private:
    void readHead();
    void readProfile();
    void readWhole();
    bool scanForAlpha();
    void readBlock(std::int64_t first, std::int64_t count);
    void loadBlockFor(std::int64_t stored);
    const BmpDecode::DibDecoder& decoder() const { return m_whole ? m_whole->decoder() : *m_rows; }

    Files::UniqueFd m_file;
    std::int64_t m_fileSize = 0;
    std::vector<std::uint8_t> m_head; // file and info headers, masks, colour table
    BmpDecode::DibHeader m_header;
    std::unique_ptr<WholeReader> m_whole; // RLE, or a file whose size the system does not tell
    std::unique_ptr<BmpDecode::DibDecoder> m_rows; // the others
    std::vector<std::uint8_t> m_block; // stored rows m_blockFirst .. + m_blockCount - 1
    std::int64_t m_blockRows = 1; // rows the block holds at most
    std::int64_t m_blockFirst = 0;
    std::int64_t m_blockCount = 0;
    int m_next = 0;
};

// Writes an uncompressed bottom-up BMP: 24-bit, or 32-bit with an alpha mask
// (BITMAPV5HEADER, straight alpha) when `alpha`. A declared `colour` goes into a V5 header
// too (an embedded profile after the pixel data); without one a 24-bit file has the plain
// 40-byte header and a 32-bit one names the system's default colour space. Rows land at their
// places by positioned writes into a file beside the path (Files::ReplacingFile); finish() renames
// it into place, and without it the destructor removes it. Throws InvalidCall for a size of zero,
// Overflow for a picture too large for the format, File for a failed open or write.
class RowWriter
{
public:
    RowWriter(const std::string& path, int width, int height, bool alpha,
        const ImageCore::ColourSpace& colour = {});
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    void writeRow(const std::uint32_t* row); // `width` pixels
    void finish();

private:
    void writeHeader(const ImageCore::ColourSpace& colour);
    void writeAt(std::int64_t offset, const std::uint8_t* p, std::int64_t n);
    void flush();

    Files::ReplacingFile m_file;
    int m_width;
    int m_height;
    bool m_alpha;
    bool m_v5;
    std::int64_t m_stride;
    std::int64_t m_dataOffset;
    int m_blockRows = 1; // rows held before one write
    int m_blockFirst = 0; // first (top) row of the current block
    int m_rowsInBlock = 0;
    std::vector<std::uint8_t> m_block;
    int m_written = 0;
};

} // namespace BmpCore
