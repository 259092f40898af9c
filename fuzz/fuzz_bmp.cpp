// SPDX-License-Identifier: MIT

// The BMP reader, its row reader and the icon/cursor reader, which share the bitmap decoder.
// Every input must give a picture or an AppError; the row reader must agree with the whole
// picture, pixel for pixel; the pixels and colour space read must come back as they were
// when written.

#include "fuzz/FuzzSupport.h"
#include "imaging/Bmp.h"
#include "imaging/Icon.h"
#include "runtime/AppError.h"

#include <QImage>
#include <cstdlib>
#include <vector>

namespace {

// The same pixels, whatever format holds them: the writer chooses the file's layout (an
// opaque picture goes out as 24-bit), so the format read back may differ from the first.
bool samePixels(const QImage& a, const QImage& b)
{
    return a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = FuzzSupport::writeInput("input", data, size);
    QImage whole;
    ImageCore::ColourSpace colour;
    try {
        whole = Bmp::read(path, &colour);
    } catch (const AppError&) {
    }
    if (!whole.isNull() && colour.kind != ImageCore::ColourSpace::Kind::None) {
        const QString copy = FuzzSupport::workFolder() + QStringLiteral("/copy.bmp");
        Bmp::write(whole, copy, colour);
        ImageCore::ColourSpace again;
        if (!samePixels(Bmp::read(copy, &again), whole) || !(again == colour))
            std::abort();
    }
    try {
        Bmp::RowReader reader(path);
        if (whole.isNull() || reader.width() != whole.width() || reader.height() != whole.height())
            std::abort();
        std::vector<QRgb> row(size_t(reader.width()));
        for (int y = 0; y < reader.height(); ++y) {
            reader.readRow(row.data());
            const auto* expected = reinterpret_cast<const QRgb*>(whole.constScanLine(y));
            for (int x = 0; x < reader.width(); ++x) {
                const QRgb want = whole.hasAlphaChannel() ? expected[x] : expected[x] | 0xFF000000u;
                if (row[size_t(x)] != want)
                    std::abort();
            }
        }
    } catch (const AppError&) {
        if (!whole.isNull())
            std::abort(); // the row reader refused what the whole reader took
    }
    try {
        const Icon::Picture icon = Icon::read(path);
        if (icon.image.isNull())
            std::abort();
    } catch (const AppError&) {
    }
    return 0;
}
