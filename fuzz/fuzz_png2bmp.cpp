// SPDX-License-Identifier: MIT

// png2bmp as a whole: the input is written to a file and the converter's own main() runs on
// it. It must either exit 0 with a BMP that the project's reader takes at the PNG's size,
// or exit 1 leaving no output and no temporary file behind. Every chunk's CRC is set right
// first: a mutated chunk would otherwise stop at its CRC, and the inflater and unfilters
// behind it would see no mutations at all.

#include "fuzz/FuzzSupport.h"
#include "imaging/Bmp.h"
#include "runtime/AppError.h"

#include <QDir>
#include <QFile>
#include <cstdlib>
#include <vector>
#include <zlib.h>

int png2bmpMain(int argc, char** argv);

namespace {

// The input with the CRC of every whole chunk after the signature computed anew.
std::vector<uint8_t> withGoodCrcs(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    size_t at = 8;
    while (at + 12 <= size) {
        const size_t length
            = size_t(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
        if (length > size - at - 12)
            break;
        const uLong crc = crc32(0, bytes.data() + at + 4, uInt(length + 4));
        for (int i = 0; i < 4; ++i)
            bytes[at + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
        at += length + 12;
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> fixed = withGoodCrcs(data, size);
    const QString input = FuzzSupport::writeInput("input.png", fixed.data(), fixed.size());
    const QString output = FuzzSupport::workFolder() + QStringLiteral("/out.bmp");
    QFile::remove(output);
    QByteArray in = QFile::encodeName(input);
    QByteArray out = QFile::encodeName(output);
    char program[] = "png2bmp";
    char option[] = "-O";
    char* argv[] = { program, option, out.data(), in.data(), nullptr };
    const int rc = png2bmpMain(4, argv);
    if (rc == 0) {
        try {
            const QImage picture = Bmp::read(output);
            // The PNG's declared size sits at bytes 16..23 of its header.
            const auto be32 = [&](size_t at) {
                return qint64(data[at]) << 24 | data[at + 1] << 16 | data[at + 2] << 8
                    | data[at + 3];
            };
            if (size < 24 || picture.width() != be32(16) || picture.height() != be32(20))
                std::abort();
        } catch (const AppError&) {
            std::abort();
        }
    } else if (rc != 1 || QFile::exists(output)) {
        std::abort();
    }
    const QStringList left = QDir(FuzzSupport::workFolder())
                                 .entryList({ QStringLiteral(".pictelle-*") },
                                     QDir::Files | QDir::Hidden | QDir::System);
    if (!left.isEmpty())
        std::abort();
    return 0;
}
