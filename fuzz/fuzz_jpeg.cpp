// SPDX-License-Identifier: MIT

// The JPEG loading path as the conversion run uses it: decoding with a DCT reduction chosen
// from a target size, EXIF orientation, ICC profiles in APP2 segments (CMYK ones converting
// the inks), damaged and cut files. The first input byte picks
// the percentage, so reductions from none to 1/8 are all reached.

#include "fuzz/FuzzSupport.h"
#include "imaging/Pictures.h"
#include "runtime/AppError.h"

#include <QImage>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int percentage = 1 + data[0] % 100;
    const QString path = FuzzSupport::writeInput("input.jpg", data + 1, size - 1);
    try {
        const auto targetFor = [percentage](QSize full) {
            return QSize(std::max(1, full.width() * percentage / 100),
                std::max(1, full.height() * percentage / 100));
        };
        const Pictures::Loaded loaded = Pictures::LoadPictureFor(path, targetFor);
        const QSize target = targetFor(loaded.fullSize);
        // The decoded picture must cover the size it will be shrunk to.
        if (loaded.image.isNull() || loaded.image.width() < target.width()
            || loaded.image.height() < target.height())
            std::abort();
    } catch (const AppError&) {
    }
    return 0;
}
