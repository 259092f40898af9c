// SPDX-License-Identifier: MIT

#include "imaging/core/ScaledFrames.h"

#include "imaging/core/Limits.h"

#include <cstring>

namespace ImageCore {
namespace {

constexpr char magic[] = "PICTRD02";
constexpr std::size_t magicSize = 8;

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
    out.insert(out.end(), p, p + 4);
}

class Cursor
{
public:
    explicit Cursor(const std::vector<std::uint8_t>& bytes)
        : m_bytes(bytes)
    {
    }
    bool take(void* to, std::size_t n)
    {
        if (m_bytes.size() - m_at < n)
            return false;
        if (n == 0)
            return true; // `to` may be an empty vector's null data()
        std::memcpy(to, m_bytes.data() + m_at, n);
        m_at += n;
        return true;
    }
    bool u32(std::uint32_t& v) { return take(&v, 4); }
    bool u8(std::uint8_t& v) { return take(&v, 1); }
    std::size_t left() const { return m_bytes.size() - m_at; }

private:
    const std::vector<std::uint8_t>& m_bytes;
    std::size_t m_at = 0;
};

} // namespace

std::vector<std::uint8_t> encodeScaledFrames(const ScaledFrames& f)
{
    std::vector<std::uint8_t> out(magic, magic + magicSize);
    put32(out, f.width);
    put32(out, f.height);
    out.push_back(f.bitsPerSample);
    out.push_back(f.alpha ? 1 : 0);
    out.push_back(std::uint8_t(f.kind));
    out.push_back(f.lossy ? 1 : 0);
    put32(out, f.compression);
    put32(out, f.loopCount);
    out.insert(out.end(),
        { f.sourceBits, std::uint8_t(f.hasCicp ? 1 : 0), f.cicp.primaries, f.cicp.transfer,
            f.cicp.matrix, std::uint8_t(f.cicp.fullRange ? 1 : 0) });
    put32(out, std::uint32_t(f.frames.size()));
    put32(out, std::uint32_t(f.iccProfile.size()));
    out.insert(out.end(), f.iccProfile.begin(), f.iccProfile.end());
    for (const ScaledFrames::Frame& frame : f.frames) {
        put32(out, frame.delayMs);
        out.insert(out.end(), frame.pixels.begin(), frame.pixels.end());
    }
    return out;
}

bool decodeScaledFrames(
    const std::vector<std::uint8_t>& bytes, ScaledFrames& f, std::string& reason)
{
    Cursor in(bytes);
    char head[magicSize];
    std::uint8_t alpha = 0, kind = 0, lossy = 0, hasCicp = 0, fullRange = 0;
    std::uint32_t count = 0, profileSize = 0;
    if (!in.take(head, magicSize) || std::memcmp(head, magic, magicSize) != 0) {
        reason = "not a picture of the reading program";
        return false;
    }
    if (!in.u32(f.width) || !in.u32(f.height) || !in.u8(f.bitsPerSample) || !in.u8(alpha)
        || !in.u8(kind) || !in.u8(lossy) || !in.u32(f.compression) || !in.u32(f.loopCount)
        || !in.u8(f.sourceBits) || !in.u8(hasCicp) || !in.u8(f.cicp.primaries)
        || !in.u8(f.cicp.transfer) || !in.u8(f.cicp.matrix) || !in.u8(fullRange) || !in.u32(count)
        || !in.u32(profileSize)) {
        reason = "the header is cut short";
        return false;
    }
    if (f.width < 1 || f.height < 1 || std::int64_t(f.width) * f.height > Limits::maxPixels
        || (f.bitsPerSample != 8 && f.bitsPerSample != 16) || alpha > 1 || lossy > 1
        || kind > std::uint8_t(Kinds::lastKind) || f.sourceBits < 1 || f.sourceBits > 16
        || hasCicp > 1 || fullRange > 1 || count < 1 || count > Limits::maxFrames
        || profileSize > Limits::maxProfileSize
        || (count > 1 && std::int64_t(count) * f.width * f.height > Limits::maxAnimationPixels)) {
        reason = "the header holds impossible values";
        return false;
    }
    f.alpha = alpha != 0;
    f.lossy = lossy != 0;
    f.kind = Kinds::Kind(kind);
    f.hasCicp = hasCicp != 0;
    f.cicp.fullRange = fullRange != 0;
    // Every size is known now: the file must hold exactly what they add up to.
    const std::size_t frameBytes = f.frameBytes();
    if (in.left() < profileSize || (in.left() - profileSize) / (4 + frameBytes) != count
        || (in.left() - profileSize) % (4 + frameBytes) != 0) {
        reason = "the file does not hold the pictures its header announces";
        return false;
    }
    f.iccProfile.resize(profileSize);
    in.take(f.iccProfile.data(), profileSize);
    f.frames.resize(count);
    for (ScaledFrames::Frame& frame : f.frames) {
        in.u32(frame.delayMs);
        frame.pixels.resize(frameBytes);
        in.take(frame.pixels.data(), frameBytes);
    }
    return true;
}

} // namespace ImageCore
