// SPDX-License-Identifier: MIT

#include "imaging/Bmp.h"
#include "imaging/BmpQt_p.h"
#include "imaging/FileBytes.h"
#include "imaging/bmpcore/BmpRows.h"
#include "runtime/AppError.h"

#include <QFile>

namespace Bmp {

struct RowWriter::Private
{
    BmpCore::RowWriter writer;
    QString path;
};

RowWriter::RowWriter(
    const QString& path, int width, int height, bool alpha, const ImageCore::ColourSpace& colour)
{
    try {
        d.reset(new Private {
            BmpCore::RowWriter(QFile::encodeName(path).toStdString(), width, height, alpha, colour),
            path });
    } catch (const BmpCore::Error& error) {
        throw BmpQt::toAppError(error, path);
    }
}

RowWriter::~RowWriter() = default;

void RowWriter::writeRow(const QRgb* row)
{
    try {
        d->writer.writeRow(row);
    } catch (const BmpCore::Error& error) {
        throw BmpQt::toAppError(error, d->path);
    }
}

void RowWriter::finish()
{
    try {
        d->writer.finish();
    } catch (const BmpCore::Error& error) {
        throw BmpQt::toAppError(error, d->path);
    }
}

void write(const QImage& image, const QString& path, const ImageCore::ColourSpace& colour)
{
    if (image.isNull())
        throw AppError::about(ErrorNumber::InvalidCall, path);
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
    RowWriter writer(path, src.width(), src.height(), alpha, colour);
    for (int y = 0; y < src.height(); ++y)
        writer.writeRow(reinterpret_cast<const QRgb*>(src.constScanLine(y)));
    writer.finish();
}

} // namespace Bmp
