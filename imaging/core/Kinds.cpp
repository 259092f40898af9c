// SPDX-License-Identifier: MIT

#include "imaging/core/Kinds.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace Kinds {
namespace {

struct Row
{
    Kind kind;
    const char* name;
    std::initializer_list<std::string_view> extensions;
    Reader reader;
    Kind writtenAs = Kind::None; // None: the thumbnail is of the source's own kind
};

// How BMP, JPEG and PNG are read is fixed: in-process, and PNG through png2bmp. The other
// kinds come from large C decoders that a hostile file may crash or hang, so they are read
// in a process of their own that may die alone.
const Row table[] = {
    { Kind::Bmp, "bmp", { "bmp" }, Reader::InProcess },
    { Kind::Jpeg, "jpeg", { "jpg", "jpeg" }, Reader::InProcess },
    { Kind::Png, "png", { "png" }, Reader::Png2Bmp },
    { Kind::WebP, "webp", { "webp" }, Reader::ReadingProgram },
    { Kind::Tiff, "tiff", { "tif", "tiff" }, Reader::ReadingProgram },
    { Kind::Gif, "gif", { "gif" }, Reader::ReadingProgram },
    { Kind::Heif, "heif", { "heic", "heif", "hif" }, Reader::ReadingProgram },
    { Kind::Avif, "avif", { "avif" }, Reader::ReadingProgram },
    { Kind::Jxl, "jxl", { "jxl" }, Reader::ReadingProgram },
    // Camera raw cannot be written back: its thumbnail is a JPEG.
    { Kind::Raw, "raw",
        { "dng", "cr2", "cr3", "nef", "nrw", "arw", "srf", "sr2", "orf", "rw2", "raf", "pef", "srw",
            "3fr", "iiq", "mrw", "erf" },
        Reader::ReadingProgram, Kind::Jpeg },
};

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != b[i])
            return false;
    }
    return true;
}

// An ISO base media file's kind by the brands of its leading 'ftyp' box: the major brand,
// or for the generic 'mif1'/'msf1' the compatible brands the head holds (an AVIF lists
// 'avif'); a generic one with neither is HEIF, which libheif then tries.
Kind fromBrands(const unsigned char* head, std::size_t size)
{
    const auto isOneOf = [](const unsigned char* brand, std::initializer_list<const char*> names) {
        for (const char* name : names) {
            if (std::memcmp(brand, name, 4) == 0)
                return true;
        }
        return false;
    };
    const auto brandKind = [&](const unsigned char* brand) {
        if (isOneOf(brand, { "avif", "avis" }))
            return Kind::Avif;
        if (isOneOf(brand, { "heic", "heix", "hevc", "hevx", "heim", "heis" }))
            return Kind::Heif;
        return Kind::None;
    };
    if (size < 16 || std::memcmp(head + 4, "ftyp", 4) != 0)
        return Kind::None;
    const Kind major = brandKind(head + 8);
    if (major != Kind::None || !isOneOf(head + 8, { "mif1", "msf1" }))
        return major;
    const std::size_t boxSize = std::size_t(head[0]) << 24 | head[1] << 16 | head[2] << 8 | head[3];
    for (std::size_t at = 16; at + 4 <= std::min(size, boxSize); at += 4) {
        const Kind compatible = brandKind(head + at);
        if (compatible != Kind::None)
            return compatible;
    }
    return Kind::Heif;
}

const Row* rowOf(Kind kind)
{
    for (const Row& row : table) {
        if (row.kind == kind)
            return &row;
    }
    return nullptr;
}

} // namespace

Kind fromExtension(std::string_view extension)
{
    for (const Row& row : table) {
        for (std::string_view e : row.extensions) {
            if (sameIgnoringCase(extension, e))
                return row.kind;
        }
    }
    return Kind::None;
}

Kind fromContent(const unsigned char* head, std::size_t size)
{
    using namespace std::literals;
    const auto starts = [&](std::string_view magic, std::size_t at = 0) {
        return size >= at + magic.size() && std::memcmp(head + at, magic.data(), magic.size()) == 0;
    };
    if (starts("BM"))
        return Kind::Bmp;
    if (starts("\xff\xd8\xff"))
        return Kind::Jpeg;
    if (starts("\x89PNG\r\n\x1a\n"sv))
        return Kind::Png;
    if (starts("RIFF") && starts("WEBP", 8))
        return Kind::WebP;
    // Raw files whose first bytes are their own; most others are TIFF inside (readAs).
    if (starts("IIRO") || starts("IIRS") || starts("MMOR") || starts("IIU\0"sv)
        || starts("FUJIFILMCCD-") || starts("\0MRM"sv) || starts("ftypcrx ", 4))
        return Kind::Raw;
    if (starts("II*") || starts("MM\0*"sv) || starts("II+") || starts("MM\0+"sv))
        return Kind::Tiff;
    if (starts("GIF87a") || starts("GIF89a"))
        return Kind::Gif;
    if (const Kind brands = fromBrands(head, size); brands != Kind::None)
        return brands;
    // A bare JPEG XL codestream, or one in its box container.
    if (starts("\xff\x0a"sv) || starts("\0\0\0\x0cJXL \r\n\x87\n"sv))
        return Kind::Jxl;
    return Kind::None;
}

Kind readAs(Kind named, Kind content)
{
    if (named == Kind::Raw && (content == Kind::Tiff || content == Kind::None))
        return Kind::Raw;
    return content;
}

Kind writtenAs(Kind kind)
{
    const Row* row = rowOf(kind);
    return row && row->writtenAs != Kind::None ? row->writtenAs : kind;
}

std::string thumbnailSuffix(Kind kind)
{
    const Kind written = writtenAs(kind);
    if (written == kind)
        return {};
    return "." + std::string(*rowOf(written)->extensions.begin());
}

Reader readerOf(Kind kind)
{
    const Row* row = rowOf(kind);
    return row ? row->reader : Reader::None;
}

const char* nameOf(Kind kind)
{
    const Row* row = rowOf(kind);
    return row ? row->name : "";
}

} // namespace Kinds
