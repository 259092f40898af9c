// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/core/AreaScaling.h"
#include "imaging/core/ColourSpace.h"
#include "imaging/core/Kinds.h"
#include "runtime/files/Fd.h"

#include <cstdint>
#include <string>
#include <vector>

// What one decoder of the reading program gives: the first frame or page at full size.
namespace Reader {

struct Decoded
{
    int width = 0;
    int height = 0;
    int bitsPerSample = 8; // 8: bytes B, G, R, A; 16: samples R, G, B, A (machine order)
    // 8-bit rows hold R, G, B, A instead, as libtiff gives them: the thumbnail is turned to
    // B, G, R, A, which spares a pass over every pixel of the source.
    bool redFirst = false;
    int sourceBits = 8; // bits per sample as the file stores them
    bool alpha = false;
    // width * height pixels, rows top first as stored (orientation not yet applied), alpha
    // premultiplied; every A is the maximum when `alpha` is false.
    std::vector<std::uint8_t> pixels;
    int orientation = 1; // the EXIF/TIFF value, 1 .. 8
    std::vector<std::uint8_t> iccProfile;
    bool hasCicp = false; // the colour as code points instead of a profile
    ImageCore::Cicp cicp;
    Kinds::Kind kind = Kinds::Kind::None;
    bool lossy = false;
    std::uint32_t compression = 0;
    // An animation of more than one frame: its frames went to the FrameSink, `pixels` is
    // empty. `loopCount` as stored: 0 plays for ever (a GIF without a loop count plays once).
    bool animated = false;
    std::uint32_t loopCount = 0;
    // Set by a decoder that scaled while it decoded: the thumbnail's size, which `pixels`
    // (width x height, the reduced size) are still to be averaged down to; else 0 x 0.
    ImageCore::Size target;
    // A smaller picture of the same read in the source's place (a HEIF thumbnail picture, a
    // camera's preview, a raw file developed at half size): the source's upright size, which
    // the size rule applies to; 0 x 0 otherwise.
    ImageCore::Size sizedAs;
};

// Takes each frame of an animation of more than one frame, composed on its canvas as a viewer
// shows it, so that only one full-size canvas is held at a time.
class FrameSink
{
public:
    virtual ~FrameSink() = default;
    // Before the canvas is taken: `header` has the canvas size and orientation; `frames` is
    // the count when the file declares it, else 0. Throws Failure beyond the limits.
    virtual void begin(const Decoded& header, std::uint32_t frames) = 0;
    // The canvas, width * height pixels of B, G, R, A premultiplied; throws Failure beyond
    // the limits before it takes memory for the frame.
    virtual void add(const std::uint8_t* canvas, std::uint32_t delayMs) = 0;
};

// A failure of the file at hand: its reason becomes the one stderr line.
struct Failure
{
    std::string reason;
};

// Takes a picture row by row, so that a decoder that can stream need not hold it whole.
class RowSink
{
public:
    virtual ~RowSink() = default;
    // Everything but the pixels, before the first row.
    virtual void begin(const Decoded& header) = 0;
    // The next row, top first as stored: width pixels as `Decoded::pixels` holds them.
    virtual void row(const std::uint8_t* pixels) = 0;
};

// Each throws Failure (or std::bad_alloc; decodeHeif and decodeJxl ImageCore::LibraryError
// when their library cannot be loaded). `bytes` is the whole file; a TIFF is read from
// the file `input` as libtiff asks, a band of strips or a row of tiles at a time, and its
// rows go to `sink` (the Decoded returned holds no pixels). An animation goes to `frames`.
Decoded decodeWebP(const std::vector<std::uint8_t>& bytes, FrameSink& frames, int percentage);
Decoded decodeGif(const std::vector<std::uint8_t>& bytes, FrameSink& frames);
Decoded decodeTiff(Files::UniqueFd input, RowSink& sink);
// HEIC, HEIF and AVIF: the primary picture upright, or a thumbnail picture the file holds
// that is at least the thumbnail's size at `percentage`; its rows go to `sink`.
Decoded decodeHeif(const std::vector<std::uint8_t>& bytes, int percentage, RowSink& sink);

// The thumbnail's size at `percentage` of an upright picture of width x height.
ImageCore::Size thumbnailSizeOf(int width, int height, int percentage);

// The thumbnail's size at `percentage` of the picture `d` describes, as stored (before its
// orientation is applied).
ImageCore::Size targetSize(const Decoded& d, int percentage);
Decoded decodeJxl(const std::vector<std::uint8_t>& bytes, FrameSink& frames);
// A camera raw file, read from `fd` as LibRaw asks: its embedded JPEG preview when that holds the
// thumbnail at `percentage`, else its raw data developed; the rows go to `sink`, never smaller than
// the thumbnail.
Decoded decodeRaw(int fd, int percentage, RowSink& sink);

// Refuses a picture of more than Limits::maxPixels before anything is allocated for it.
void checkPixels(std::int64_t width, std::int64_t height, const char* what);

// The orientation an EXIF block (with or without its "Exif\0\0" start) gives; 1 when none.
int exifOrientation(const std::uint8_t* data, std::size_t size);

} // namespace Reader
