// SPDX-License-Identifier: MIT

#include "imaging/Icon.h"

#include "imaging/BmpQt_p.h"
#include "imaging/FileBytes.h"
#include "runtime/AppError.h"

#include <algorithm>

using BmpFormat::u16;
using BmpFormat::u32;

namespace {

constexpr int directorySize = 6;
constexpr int entrySize = 16;

} // namespace

namespace Icon {

bool looksLikeIcon(const QByteArray& head)
{
    if (head.size() < directorySize)
        return false;
    const auto* p = reinterpret_cast<const uchar*>(head.constData());
    const int type = u16(p + 2);
    return u16(p) == 0 && (type == 1 || type == 2) && u16(p + 4) > 0;
}

Picture read(const QString& path)
{
    const QByteArray bytes = readFileBytes(path);
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qint64 size = bytes.size();
    if (!looksLikeIcon(bytes))
        throwInvalidPicture(path);
    const bool cursor = u16(data + 2) == 2;
    const int count = u16(data + 4);
    if (directorySize + qint64(count) * entrySize > size)
        throwInvalidPicture(path);

    int best = 0;
    qint64 bestArea = -1;
    int bestDepth = -1;
    for (int i = 0; i < count; ++i) {
        const uchar* e = data + directorySize + i * entrySize;
        const qint64 area = qint64(e[0] ? e[0] : 256) * (e[1] ? e[1] : 256);
        // In a cursor these two bytes hold the hotspot instead of the colour depth.
        const int depth = cursor ? 0 : u16(e + 6);
        if (area > bestArea || (area == bestArea && depth > bestDepth)) {
            best = i;
            bestArea = area;
            bestDepth = depth;
        }
    }
    const uchar* e = data + directorySize + best * entrySize;
    const qint64 length = u32(e + 8);
    const qint64 offset = u32(e + 12);
    if (offset < directorySize + qint64(count) * entrySize || length < 4 || offset + length > size)
        throwInvalidPicture(path);

    Picture picture;
    if (cursor)
        picture.hotspot = QPoint(u16(e + 4), u16(e + 6));
    static const uchar pngMagic[] = { 0x89, 'P', 'N', 'G' };
    if (std::equal(pngMagic, pngMagic + 4, data + offset)) {
        picture.image = QImage::fromData(data + offset, int(length), "PNG");
        if (picture.image.isNull())
            throwInvalidPicture(path);
        picture.image = picture.image.convertToFormat(QImage::Format_ARGB32);
    } else {
        // The entry's bytes bound the bitmap: a bad size cannot reach into other entries.
        const qint64 end = offset + length;
        try {
            const BmpDecode::DibHeader header
                = BmpDecode::parseDibHeader(data, end, offset, -1, true);
            const BmpDecode::DibDecoder dib(data, end, header);
            picture.image = BmpQt::decodeImage(dib, path).convertToFormat(QImage::Format_ARGB32);
        } catch (const BmpCore::Error& error) {
            throw BmpQt::toAppError(error, path);
        }
    }
    if (picture.image.isNull())
        throwOutOfMemory(path);
    return picture;
}

} // namespace Icon
