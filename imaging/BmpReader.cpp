// SPDX-License-Identifier: MIT

#include "imaging/Bmp.h"
#include "imaging/BmpDecode_p.h"
#include "imaging/FileBytes.h"
#include "imaging/bmpcore/BmpRows.h"
#include "runtime/AppError.h"

#include <QFile>

namespace BmpDecode {

AppError toAppError(const BmpCore::Error& error, const QString& path)
{
    switch (error.kind()) {
    case BmpCore::Error::File:
        return fileError(error.errnoValue(), path);
    case BmpCore::Error::InvalidPicture:
        break;
    case BmpCore::Error::OutOfMemory:
        return AppError(ErrorNumber::OutOfMemory, QStringLiteral("Out of memory: ") + path);
    case BmpCore::Error::InvalidCall:
        return AppError(ErrorNumber::InvalidCall,
            QStringLiteral("Invalid procedure call or argument: ") + path);
    case BmpCore::Error::Overflow:
        return AppError(ErrorNumber::Overflow, QStringLiteral("Overflow: ") + path);
    }
    return AppError(ErrorNumber::InvalidPicture, QStringLiteral("Invalid picture: ") + path)
        .withReason(QString::fromUtf8(error.detail()));
}

QImage decodeImage(const DibDecoder& decoder, const QString& path)
{
    QImage image(decoder.width(), decoder.height(),
        decoder.hasAlpha() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        throwOutOfMemory(path);
    for (int y = 0; y < image.height(); ++y)
        decoder.decodeRow(y, reinterpret_cast<QRgb*>(image.scanLine(y)));
    return image;
}

} // namespace BmpDecode

namespace Bmp {

QImage read(const QString& path, BmpCore::ColourSpace* colour)
{
    try {
        const BmpCore::WholeReader reader(QFile::encodeName(path).toStdString());
        if (colour)
            *colour = reader.header().colour;
        return BmpDecode::decodeImage(reader.decoder(), path);
    } catch (const BmpCore::Error& error) {
        throw BmpDecode::toAppError(error, path);
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
        throw BmpDecode::toAppError(error, path);
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
        throw BmpDecode::toAppError(error, d->path);
    }
}

} // namespace Bmp
