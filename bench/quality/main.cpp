// SPDX-License-Identifier: MIT

// The scaled picture of one file as a conversion run stores it in temp.bmp: the run's own
// reading (DCT-scaled JPEG decode, BMP reader; PNG through png2bmp's pixels, read here
// with Qt) and its area-average scaling. For quality checks against other scalers.
//
//   bench-scale PERCENT SOURCE OUTPUT.bmp

#include "conversion/PictureScaling.h"
#include "imaging/Pictures.h"
#include "runtime/AppError.h"

#include <QCoreApplication>
#include <QImage>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fputs("usage: bench-scale PERCENT SOURCE OUTPUT.bmp\n", stderr);
        return 2;
    }
    const float factor = PictureScaling::scaleFactor(QString::fromLocal8Bit(argv[1]).toInt());
    const QString source = QString::fromLocal8Bit(argv[2]);
    const auto targetFor = [factor](QSize full) {
        return PictureScaling::storedSize(PictureScaling::thumbnailSize(full, factor));
    };
    try {
        Pictures::Loaded loaded;
        if (source.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
            loaded.image = QImage(source);
            loaded.fullSize = loaded.image.size();
        } else {
            loaded = Pictures::LoadPictureFor(source, targetFor);
        }
        if (loaded.image.isNull())
            throw AppError::about(ErrorNumber::InvalidPicture, source);
        const QImage scaled = PictureScaling::scale(loaded.image, targetFor(loaded.fullSize));
        Pictures::SavePicture(scaled, QString::fromLocal8Bit(argv[3]));
    } catch (const AppError& e) {
        std::fprintf(stderr, "bench-scale: %s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
