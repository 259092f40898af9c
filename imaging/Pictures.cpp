// SPDX-License-Identifier: MIT

#include "imaging/Pictures.h"

#include "imaging/Bmp.h"
#include "imaging/FileBytes.h"
#include "imaging/Icon.h"
#include "imaging/JpegReader.h"
#include "runtime/Logging.h"

namespace Pictures {

QImage LoadPicture(const QString& path, QPoint* hotspot)
{
    Loaded loaded = LoadPictureFor(path, {});
    if (hotspot)
        *hotspot = loaded.hotspot;
    return std::move(loaded.image);
}

Loaded LoadPictureFor(const QString& path, const std::function<QSize(QSize)>& targetFor)
{
    // No file name gives the empty picture.
    if (path.isEmpty())
        return {};
    // The content decides, not the name: a scratch file or a misnamed download still loads.
    const QByteArray head = readFileHead(path, 6);
    if (head.startsWith("BM")) {
        Loaded loaded;
        loaded.image = Bmp::read(path, &loaded.colour);
        loaded.fullSize = loaded.image.size();
        return loaded;
    }
    if (head.size() >= 2 && uchar(head[0]) == 0xFF && uchar(head[1]) == 0xD8) {
        JpegReader::Result r = JpegReader::read(path, targetFor);
        qCInfo(lcImaging).noquote()
            << "JPEG" << path << r.fullSize << "decoded at" << r.image.size();
        return { std::move(r.image), r.fullSize, std::move(r.colour), {} };
    }
    if (Icon::looksLikeIcon(head)) {
        Icon::Picture icon = Icon::read(path);
        const QSize size = icon.image.size();
        return { std::move(icon.image), size, {}, icon.hotspot };
    }
    throwInvalidPicture(path,
        head.isEmpty() ? QStringLiteral("the file is empty")
                       : QStringLiteral("not a BMP, JPEG or icon file"));
}

void SavePicture(const QImage& picture, const QString& path, const ImageCore::ColourSpace& colour)
{
    Bmp::write(picture, path, colour);
}

} // namespace Pictures
