// SPDX-License-Identifier: MIT

// bench-make-dng PHOTO.jpg OUT.dng none|full|small: the photograph as the RGGB mosaic of a
// DNG of its size (a width of a multiple of 4, an even height), with no preview, the photograph's
// own JPEG file as a preview of the whole size (as most cameras embed one), or a 1.6-megapixel JPEG
// preview at quality 90 (as some older cameras and phones do).

#include "tests/common/DngWriter.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: bench-make-dng PHOTO.jpg OUT.dng none|full|small\n", stderr);
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray jpeg = in.readAll();
    QImage photo = QImage::fromData(jpeg);
    if (photo.isNull())
        return 1;
    // Rows of the mosaic follow each other without padding: a width of a multiple of 4.
    photo = photo.copy(0, 0, photo.width() & ~3, photo.height() & ~1)
                .convertToFormat(QImage::Format_RGB888);
    DngWriter::Options options;
    if (std::strcmp(argv[3], "full") == 0) {
        options.preview.assign(jpeg.begin(), jpeg.end());
        options.previewWidth = photo.width();
        options.previewHeight = photo.height();
    } else if (std::strcmp(argv[3], "small") == 0) {
        // 1.6 megapixels of the same aspect.
        const int width = 1472, height = (width * photo.height() / photo.width()) & ~1;
        QByteArray small;
        QBuffer buffer(&small);
        buffer.open(QIODevice::WriteOnly);
        photo.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .save(&buffer, "JPG", 90);
        options.preview.assign(small.begin(), small.end());
        options.previewWidth = width;
        options.previewHeight = height;
    }
    const std::vector<std::uint8_t> dng
        = DngWriter::write(photo.constBits(), photo.width(), photo.height(), options);
    QFile out(QString::fromLocal8Bit(argv[2]));
    return out.open(QIODevice::WriteOnly)
            && out.write(reinterpret_cast<const char*>(dng.data()), qint64(dng.size()))
                == qint64(dng.size())
        ? 0
        : 1;
}
