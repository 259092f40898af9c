// SPDX-License-Identifier: MIT

#include "imaging/Bmp.h"
#include "imaging/BmpDecode_p.h"
#include "imaging/DecodeLimits.h"
#include "imaging/FileBytes.h"
#include "runtime/AppError.h"
#include "runtime/files/Fd.h"
#include "runtime/files/ReplacingFile.h"

#include <QFile>
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

using namespace BmpFormat;

namespace {

// The BMP being written beside its destination (0666 less the umask) and renamed into place
// by finish(); until then the destination stays as it was, and the temporary goes on any
// failure and with the object. A device such as /dev/full is written in place.
class OutFile
{
public:
    explicit OutFile(const QString& path)
        : m_path(path)
    {
        if (const int error = m_file.open(QFile::encodeName(path).toStdString(), 0666))
            throw fileError(error, path);
    }

    void writeAt(qint64 offset, const uchar* p, qint64 n)
    {
        if (const int error = Files::writeFullAt(m_file.fd(), p, size_t(n), off_t(offset))) {
            m_file.abandon();
            throw fileError(error, m_path);
        }
    }
    void finish()
    {
        // EBADF after an earlier write failed and removed the temporary.
        if (const int error = m_file.commit())
            throw fileError(error, m_path);
    }
    const QString& path() const { return m_path; }

private:
    QString m_path;
    Files::ReplacingFile m_file;
};

} // namespace

namespace Bmp {

struct RowWriter::Private
{
    OutFile file;
    int width;
    int height;
    bool alpha;
    qint64 stride;
    qint64 dataOffset;
    int blockRows; // rows held before one write
    int blockFirst = 0; // first (top) row of the current block
    int rowsInBlock = 0;
    std::vector<uchar> block;
    int written = 0;

    Private(const QString& path, int w, int h, bool a, qint64 s, qint64 off)
        : file(path)
        , width(w)
        , height(h)
        , alpha(a)
        , stride(s)
        , dataOffset(off)
        , blockRows(int(std::clamp<qint64>((qint64(1) << 18) / s, 1, h)))
    {
        block.assign(size_t(blockRows * stride), 0);
    }

    // Rows arrive top first but lie bottom-up in the file, so the rows of a block fill
    // the buffer from its end and the block is one contiguous write.
    void flush()
    {
        if (rowsInBlock == 0)
            return;
        const qint64 lastRow = blockFirst + rowsInBlock - 1;
        const qint64 offset = dataOffset + (height - 1 - lastRow) * stride;
        file.writeAt(
            offset, block.data() + (blockRows - rowsInBlock) * stride, rowsInBlock * stride);
        blockFirst += rowsInBlock;
        rowsInBlock = 0;
    }
};

RowWriter::RowWriter(const QString& path, int width, int height, bool alpha)
{
    const qint64 headerSize = alpha ? 124 : 40;
    const qint64 stride = (qint64(width) * (alpha ? 32 : 24) + 31) / 32 * 4;
    const qint64 dataOffset = fileHeaderSize + headerSize;
    if (width <= 0 || height <= 0)
        throw AppError(ErrorNumber::InvalidCall,
            QStringLiteral("Invalid procedure call or argument: ") + path);
    if (stride * height + dataOffset > 0xFFFFFFFFLL)
        throw AppError(ErrorNumber::Overflow, QStringLiteral("Overflow: ") + path);

    d.reset(new Private(path, width, height, alpha, stride, dataOffset));

    uchar header[fileHeaderSize + 124] = {};
    header[0] = 'B';
    header[1] = 'M';
    put32(header + 2, quint32(dataOffset + stride * height));
    put32(header + 10, quint32(dataOffset));
    uchar* info = header + fileHeaderSize;
    put32(info, quint32(headerSize));
    put32(info + 4, quint32(width));
    put32(info + 8, quint32(height));
    put16(info + 12, 1);
    put16(info + 14, alpha ? 32 : 24);
    put32(info + 16, alpha ? BiBitfields : BiRgb);
    put32(info + 20, quint32(stride * height));
    put32(info + 24, 3780); // 96 dots per inch
    put32(info + 28, 3780);
    if (alpha) {
        put32(info + 40, 0x00FF0000);
        put32(info + 44, 0x0000FF00);
        put32(info + 48, 0x000000FF);
        put32(info + 52, 0xFF000000);
        put32(info + 56, 0x73524742); // 'sRGB'
        put32(info + 108, 4); // LCS_GM_IMAGES
    }
    d->file.writeAt(0, header, dataOffset);
}

RowWriter::~RowWriter() = default;

void RowWriter::writeRow(const QRgb* row)
{
    Private& p = *d;
    if (p.written >= p.height)
        throw AppError(ErrorNumber::InvalidCall,
            QStringLiteral("Invalid procedure call or argument: ") + p.file.path());
    uchar* dst = p.block.data() + (p.blockRows - 1 - p.rowsInBlock) * p.stride;
    const int w = p.width;
    if (p.alpha) {
        if constexpr (littleEndian) {
            std::memcpy(dst, row, size_t(w) * 4);
        } else {
            for (int x = 0; x < w; ++x)
                put32(dst + 4 * x, row[x]);
        }
    } else {
        for (int x = 0; x < w; ++x, dst += 3) {
            const QRgb c = row[x];
            dst[0] = uchar(c);
            dst[1] = uchar(c >> 8);
            dst[2] = uchar(c >> 16);
        }
    }
    ++p.written;
    if (++p.rowsInBlock == p.blockRows)
        p.flush();
}

void RowWriter::finish()
{
    Private& p = *d;
    if (p.written != p.height)
        throw AppError(ErrorNumber::InvalidCall,
            QStringLiteral("Invalid procedure call or argument: ") + p.file.path());
    p.flush();
    p.file.finish();
}

void write(const QImage& image, const QString& path)
{
    if (image.isNull())
        throw AppError(ErrorNumber::InvalidCall,
            QStringLiteral("Invalid procedure call or argument: ") + path);
    QImage src = image;
    bool alpha = false;
    if (image.hasAlphaChannel()) {
        if (src.format() != QImage::Format_ARGB32)
            src = src.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < src.height() && !alpha; ++y) {
            const QRgb* row = reinterpret_cast<const QRgb*>(src.constScanLine(y));
            quint32 all = 0xFF000000u;
            for (int x = 0; x < src.width(); ++x)
                all &= row[x];
            alpha = (all & 0xFF000000u) != 0xFF000000u;
        }
    } else if (src.format() != QImage::Format_RGB32) {
        src = src.convertToFormat(QImage::Format_RGB32);
    }
    if (src.isNull())
        throwOutOfMemory(path);
    RowWriter writer(path, src.width(), src.height(), alpha);
    for (int y = 0; y < src.height(); ++y)
        writer.writeRow(reinterpret_cast<const QRgb*>(src.constScanLine(y)));
    writer.finish();
}

} // namespace Bmp
