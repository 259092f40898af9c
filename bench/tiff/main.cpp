// SPDX-License-Identifier: MIT

// Times the TIFF thumbnail writer with LZW against libtiff's LZW coder writing the same
// strips (same predictor, same rows per strip), on one picture scaled to 1600 x 1200, and
// prints the medians of RUNS runs and both files' sizes.
//
//   bench-tiff-lzw PICTURE [RUNS]

#include "imaging/Pictures.h"
#include "imaging/ThumbnailWriters.h"
#include "runtime/AppError.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <tiffio.h>
#include <vector>

namespace {

// libtiff's own LZW, as the thumbnail writer called it before it had its own coder.
qint64 libtiffLzw(const QImage& rgb, const QString& path)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return -1;
    const std::uint32_t width = std::uint32_t(rgb.width());
    const std::uint32_t height = std::uint32_t(rgb.height());
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    const std::uint32_t rowBytes = width * 3;
    TIFFSetField(
        tif, TIFFTAG_ROWSPERSTRIP, std::max<std::uint32_t>(16, (65536 / rowBytes) / 16 * 16));
    std::vector<std::uint8_t> row(rowBytes);
    for (std::uint32_t y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(int(y)));
        for (std::uint32_t x = 0; x < width; ++x) {
            row[x * 3] = std::uint8_t(qRed(in[x]));
            row[x * 3 + 1] = std::uint8_t(qGreen(in[x]));
            row[x * 3 + 2] = std::uint8_t(qBlue(in[x]));
        }
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
    return QFile(path).size();
}

// CPU time of this thread: the machine is shared, so wall time is noisier.
double milliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: bench-tiff-lzw PICTURE [RUNS]\n", stderr);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    QImage picture;
    try {
        picture = Pictures::LoadPicture(QString::fromLocal8Bit(argv[1]));
    } catch (const AppError& e) {
        std::fprintf(stderr, "bench-tiff-lzw: %s\n", qPrintable(e.description()));
        return 1;
    }
    const QImage thumbnail
        = picture.scaled(1600, 1200, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
              .convertToFormat(QImage::Format_RGB32);
    QTemporaryDir dir;
    const QString libtiffFile = dir.filePath("libtiff.tif");

    ThumbnailWriters::Settings settings;
    settings.compression = COMPRESSION_LZW;
    std::vector<double> ours, theirs;
    std::size_t ourSize = 0;
    qint64 theirSize = 0;
    for (int run = 0; run < runs; ++run) {
        double start = milliseconds();
        ourSize = ThumbnailWriters::encodeTiff(thumbnail, QStringLiteral("t.tif"), settings).size();
        ours.push_back(milliseconds() - start);
        start = milliseconds();
        theirSize = libtiffLzw(thumbnail, libtiffFile);
        theirs.push_back(milliseconds() - start);
    }
    std::printf("ours    %8.2f ms  %9zu bytes\n", median(ours), ourSize);
    std::printf(
        "libtiff %8.2f ms  %9lld bytes\n", median(theirs), static_cast<long long>(theirSize));
    std::printf("time ratio %.3f, size ratio %.4f (medians of %d runs, CPU time)\n",
        median(ours) / median(theirs), double(ourSize) / double(theirSize), runs);
    return 0;
}
