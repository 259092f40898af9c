// SPDX-License-Identifier: MIT

#include "conversion/FileThumbnail.h"

#include "conversion/PictureScaling.h"
#include "imaging/Bmp.h"
#include "imaging/FileBytes.h"
#include "imaging/Pictures.h"
#include "runtime/Logging.h"

#include <vector>

namespace FileThumbnail {
namespace {

Picture streamBmp(const QString& path, const std::function<QSize(QSize)>& targetFor)
{
    Bmp::RowReader reader(path);
    const QSize full(reader.width(), reader.height());
    const QSize target = targetFor(full);
    qCInfo(lcConversion).noquote() << "BMP" << path << full << "streamed to" << target;
    PictureScaling::RowScaler scaler(full, target, reader.hasAlpha());
    std::vector<QRgb> row(std::size_t(full.width()));
    for (int y = 0; y < full.height(); ++y) {
        reader.readRow(row.data());
        scaler.addRow(row.data());
    }
    return { scaler.finish(), reader.header().colour };
}

} // namespace

Picture read(const QString& path, const std::function<QSize(QSize)>& targetFor)
{
    // The content decides, as it does for LoadPicture.
    if (!path.isEmpty() && readFileHead(path, 2) == "BM")
        return streamBmp(path, targetFor);
    Pictures::Loaded loaded = Pictures::LoadPictureFor(path, targetFor);
    return { PictureScaling::scale(loaded.image, targetFor(loaded.fullSize)),
        std::move(loaded.colour) };
}

} // namespace FileThumbnail
