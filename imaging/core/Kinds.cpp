// SPDX-License-Identifier: MIT

#include "imaging/core/Kinds.h"

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
