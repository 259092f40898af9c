// SPDX-License-Identifier: MIT

#include "conversion/ReadingProgram.h"

#include "imaging/FileBytes.h"
#include "imaging/core/ScaledFrames.h"
#include "runtime/AppError.h"

#include <cstring>

namespace ReadingProgram {

Read fromScratchFile(const QString& path, const QString& entry)
{
    // An animation's frames may take 128 MiB: no more than two copies are held at a time.
    std::vector<std::uint8_t> bytes;
    {
        const QByteArray raw = readFileBytes(path);
        bytes.assign(raw.cbegin(), raw.cend());
    }
    ImageCore::ScaledFrames frames;
    std::string reason;
    // The reading program may have been made to write anything: its file is checked whole
    // before it is trusted.
    if (!ImageCore::decodeScaledFrames(bytes, frames, reason))
        throw AppError(ErrorNumber::InvalidPicture,
            QStringLiteral("The reading program handed back no picture (%1): %2")
                .arg(QString::fromStdString(reason), entry));
    bytes = {};

    const bool sixteen = frames.bitsPerSample == 16;
    const QImage::Format format = sixteen
        ? (frames.alpha ? QImage::Format_RGBA64_Premultiplied : QImage::Format_RGBX64)
        : (frames.alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    const std::size_t rowBytes = std::size_t(frames.width) * (sixteen ? 8 : 4);
    const auto toImage = [&](std::vector<std::uint8_t>& pixels) {
        QImage image(int(frames.width), int(frames.height), format);
        if (image.isNull())
            throwOutOfMemory(entry);
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(image.scanLine(y), pixels.data() + std::size_t(y) * rowBytes, rowBytes);
        pixels = {}; // held once
        if (frames.alpha)
            image = image.convertToFormat(sixteen ? QImage::Format_RGBA64 : QImage::Format_ARGB32);
        return image;
    };
    const QImage image = toImage(frames.frames.front().pixels);

    Read read;
    read.picture.image = image;
    if (!frames.iccProfile.empty()) {
        read.picture.colour.kind = ImageCore::ColourSpace::Kind::Embedded;
        read.picture.colour.profile = std::move(frames.iccProfile);
    }
    read.kind = frames.kind;
    read.lossy = frames.lossy;
    read.compression = frames.compression;
    read.sourceBits = frames.sourceBits;
    if (frames.hasCicp)
        read.cicp = frames.cicp;
    if (frames.frames.size() > 1) {
        read.loopCount = frames.loopCount;
        read.frames.reserve(frames.frames.size());
        read.frames.push_back({ image, frames.frames.front().delayMs });
        for (std::size_t i = 1; i < frames.frames.size(); ++i)
            read.frames.push_back({ toImage(frames.frames[i].pixels), frames.frames[i].delayMs });
    }
    return read;
}

} // namespace ReadingProgram
