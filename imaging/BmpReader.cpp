// SPDX-License-Identifier: MIT

#include "imaging/Bmp.h"
#include "imaging/BmpQt_p.h"
#include "imaging/FileBytes.h"
#include "imaging/bmpcore/BmpRows.h"
#include "runtime/AppError.h"

#include <QFile>

namespace BmpQt {

AppError toAppError(const BmpCore::Error& error, const QString& path)
{
    if (error.kind() == BmpCore::Error::File)
        return fileError(error.errnoValue(), path);
    return AppError::about(error.number(), path).withReason(QString::fromUtf8(error.detail()));
}

QImage decodeImage(const BmpDecode::DibDecoder& decoder, const QString& path)
{
    QImage image(decoder.width(), decoder.height(),
        decoder.hasAlpha() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        throwOutOfMemory(path);
    for (int y = 0; y < image.height(); ++y)
        decoder.decodeRow(y, reinterpret_cast<QRgb*>(image.scanLine(y)));
    return image;
}

} // namespace BmpQt

namespace Bmp {

QImage read(const QString& path, ImageCore::ColourSpace* colour)
{
    try {
        const BmpCore::WholeReader reader(QFile::encodeName(path).toStdString());
        if (colour)
            *colour = reader.header().colour;
        return BmpQt::decodeImage(reader.decoder(), path);
    } catch (const BmpCore::Error& error) {
        throw BmpQt::toAppError(error, path);
    }
}

struct RowReader::Private
{
    BmpCore::RowReader reader;
    QString path;
};

RowReader::RowReader(const QString& path)
{
    try {
        d.reset(new Private { BmpCore::RowReader(QFile::encodeName(path).toStdString()), path });
    } catch (const BmpCore::Error& error) {
        throw BmpQt::toAppError(error, path);
    }
}

RowReader::~RowReader() = default;

int RowReader::width() const
{
    return d->reader.width();
}
int RowReader::height() const
{
    return d->reader.height();
}
bool RowReader::hasAlpha() const
{
    return d->reader.hasAlpha();
}
const BmpDecode::DibHeader& RowReader::header() const
{
    return d->reader.header();
}

void RowReader::readRow(QRgb* out)
{
    try {
        d->reader.readRow(out);
    } catch (const BmpCore::Error& error) {
        throw BmpQt::toAppError(error, d->path);
    }
}

} // namespace Bmp
