// SPDX-License-Identifier: MIT

// The reading program's decoding as a whole (WebP, TIFF, GIF, HEIF, AVIF, JPEG XL and camera
// raw, animated or not, the content deciding, and the name between TIFF and raw), the input
// written to a file as the program would open it. It must either give a thumbnail whose every
// frame's pixels fill its size, or fail with ToolError (or run out of memory it may ask for);
// the program's own limits are not set here, so that AddressSanitizer sees every fault.

#include "fuzz/FuzzSupport.h"
#include "tools/common/ToolSupport.h"
#include "tools/reader/ReadThumbnail.h"

#include <QFile>
#include <cstdlib>
#include <fcntl.h>
#include <new>

// libheif 1.15's dav1d reader loses 40 bytes on an AV1 item without data (heif-convert does
// too); a reader ends after one file, so this costs nothing, and it is not ours to mend.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdav1d.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The byte before the last names the input as a camera raw file when odd: the name decides
    // between raw and TIFF.
    const bool raw = size > 1 && data[size - 2] % 2 == 1;
    const QString input = FuzzSupport::writeInput(raw ? "input.dng" : "input.picture", data, size);
    const QByteArray path = QFile::encodeName(input);
    Files::UniqueFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        std::abort();
    // The last byte picks the percentage, so that turned, shrunk and kept sizes are all met.
    const int percentage = size > 0 ? 1 + data[size - 1] % 100 : 10;
    try {
        const ImageCore::ScaledFrames out
            = Reader::readThumbnail(std::move(fd), size, percentage, path.toStdString());
        const std::size_t bytes = std::size_t(out.width) * out.height * 4 * (out.bitsPerSample / 8);
        if (out.frames.empty())
            std::abort();
        for (const ImageCore::ScaledFrames::Frame& frame : out.frames)
            if (frame.pixels.size() != bytes)
                std::abort();
    } catch (const ToolSupport::ToolError&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
