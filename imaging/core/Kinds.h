// SPDX-License-Identifier: MIT

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The kinds of picture Pictelle makes thumbnails of, in one table (Kinds.cpp): which file
// name extensions make which kind, and who reads it. Adding a kind is one row there plus
// its reader in the reading program and its writer in imaging. Plain C++: the run and the
// reading program both decide through it.
namespace Kinds {

enum class Kind { None, Bmp, Jpeg, Png, WebP, Tiff, Gif, Heif, Avif, Jxl, Raw };
constexpr Kind lastKind = Kind::Raw;

enum class Reader {
    None, // passed over
    InProcess, // BMP and JPEG: read by the run itself
    Png2Bmp, // PNG: converted to BMP by png2bmp, then read
    ReadingProgram, // read and scaled by pictelle-read
};

// The kind a file name extension (without the dot, any letter case) names; None for any
// other extension.
Kind fromExtension(std::string_view extension);

// The kind the first bytes of a file show (headBytes are enough); None when they show no
// kind of the table.
constexpr std::size_t headBytes = 64;
Kind fromContent(const unsigned char* head, std::size_t size);

// The kind a file is read as, from the kind its name gives and the kind its content shows:
// the content, except that a file named as camera raw is read as raw when its content looks
// like a TIFF or like nothing known (most raw formats are TIFF inside, and a few show nothing
// that a table of first bytes can tell), so that a .tif stays a TIFF and a .nef is raw.
Kind readAs(Kind named, Kind content);

// The kind of the thumbnail of a picture of `kind`: its own, or JPEG for camera raw, which
// cannot be written back.
Kind writtenAs(Kind kind);

// What the thumbnail's name gets after the source's whole name when it is of another kind
// (".jpg" for camera raw: IMG_1.CR2 gives tIMG_1.CR2.jpg); "" otherwise.
std::string thumbnailSuffix(Kind kind);

// How a picture of `kind` is read.
Reader readerOf(Kind kind);

// A short lowercase name ("webp"), for messages; "" for None.
const char* nameOf(Kind kind);

} // namespace Kinds
