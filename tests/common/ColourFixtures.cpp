// SPDX-License-Identifier: MIT

#include "tests/common/ColourFixtures.h"

#include <QtEndian>
#include <cmath>
#include <lcms2.h>
#include <vector>
#include <zlib.h>

namespace ColourFixtures {
namespace {

QByteArray saved(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    QByteArray bytes;
    if (profile && cmsSaveProfileToMem(profile, nullptr, &size)) {
        bytes.resize(qsizetype(size));
        cmsSaveProfileToMem(profile, bytes.data(), &size);
    }
    if (profile)
        cmsCloseProfile(profile);
    return bytes;
}

QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

} // namespace

QByteArray rgbProfile(int curvePoints)
{
    const cmsCIExyY white = { 0.3457, 0.3585, 1.0 };
    const cmsCIExyYTRIPLE primaries
        = { { 0.7347, 0.2653, 1.0 }, { 0.1596, 0.8404, 1.0 }, { 0.0366, 0.0001, 1.0 } };
    std::vector<cmsUInt16Number> table(static_cast<size_t>(curvePoints));
    for (int i = 0; i < curvePoints; ++i)
        table[size_t(i)] = cmsUInt16Number(65535.0 * std::pow(i / (curvePoints - 1.0), 1.8));
    cmsToneCurve* curve
        = cmsBuildTabulatedToneCurve16(nullptr, cmsUInt32Number(curvePoints), table.data());
    cmsToneCurve* curves[3] = { curve, curve, curve };
    const QByteArray bytes = saved(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

QByteArray greyProfile()
{
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    const QByteArray bytes = saved(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return bytes;
}

QByteArray cmykProfile()
{
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    // Two grid points a channel: the lightness is linear in K between its ends.
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        clut,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> int {
            out[0] = cmsUInt16Number(65535 - in[3]);
            out[1] = out[2] = 0x8080;
            return 1;
        },
        nullptr, 0);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    // The A-to-B form wants curves on both sides of the grid; identity ones do.
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, clut);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsPipelineFree(pipeline);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    return saved(profile);
}

QList<QByteArray> iccSegments(const QByteArray& profile, int count)
{
    QList<QByteArray> segments;
    const qsizetype piece = (profile.size() + count - 1) / count;
    for (int i = 0; i < count; ++i) {
        QByteArray s("ICC_PROFILE", 12);
        s.append(char(i + 1));
        s.append(char(count));
        s.append(profile.mid(i * piece, piece));
        segments << s;
    }
    return segments;
}

QByteArray withSegments(const QByteArray& jpeg, const QList<QPair<int, QByteArray>>& segments)
{
    QByteArray out = jpeg.left(2);
    for (const auto& [marker, payload] : segments) {
        out.append(char(0xFF));
        out.append(char(marker));
        out.append(char((payload.size() + 2) >> 8));
        out.append(char((payload.size() + 2) & 0xFF));
        out.append(payload);
    }
    return out + jpeg.mid(2);
}

QByteArray withChunks(const QByteArray& png, const QList<QPair<QByteArray, QByteArray>>& chunks)
{
    QByteArray out = png.left(33); // signature and IHDR
    for (const auto& [type, data] : chunks) {
        const QByteArray body = type + data;
        out += be32(quint32(data.size())) + body
            + be32(quint32(
                crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
    }
    return out + png.mid(33);
}

QByteArray iccpData(const QByteArray& profile)
{
    uLongf size = compressBound(uLong(profile.size()));
    QByteArray packed(qsizetype(size), '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size,
        reinterpret_cast<const Bytef*>(profile.constData()), uLong(profile.size()));
    packed.resize(qsizetype(size));
    return QByteArray("ICC profile\0\0", 13) + packed;
}

QList<QByteArray> chunkData(const QByteArray& png, const QByteArray& type)
{
    QList<QByteArray> found;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype length = qFromBigEndian<quint32>(png.constData() + at);
        QByteArray data = png.mid(at + 8, length);
        if (png.mid(at + 4, 4) == type) {
            if (type == "iCCP") {
                const qsizetype nul = data.indexOf('\0');
                QByteArray raw(qsizetype(8) << 20, '\0');
                uLongf size = uLongf(raw.size());
                uncompress(reinterpret_cast<Bytef*>(raw.data()), &size,
                    reinterpret_cast<const Bytef*>(data.constData() + nul + 2),
                    uLong(data.size() - nul - 2));
                data = raw.left(qsizetype(size));
            }
            found << data;
        }
        at += 12 + length;
    }
    return found;
}

QByteArray jpegProfile(const QByteArray& jpeg)
{
    QByteArray profile;
    for (qsizetype at = 2; at + 4 <= jpeg.size() && uchar(jpeg[at + 1]) != 0xDA;) {
        const qsizetype length = (uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]);
        if (uchar(jpeg[at + 1]) == 0xE2 && jpeg.mid(at + 4, 12) == QByteArray("ICC_PROFILE", 12))
            profile += jpeg.mid(at + 18, length - 16);
        at += 2 + length;
    }
    return profile;
}

QList<int> jpegMarkers(const QByteArray& jpeg)
{
    QList<int> markers;
    for (qsizetype at = 2; at + 4 <= jpeg.size();) {
        const int marker = uchar(jpeg[at + 1]);
        markers << marker;
        if (marker == 0xDA)
            break;
        at += 2 + ((uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]));
    }
    return markers;
}

} // namespace ColourFixtures
