// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// Colour profiles made with LittleCMS, and the places pictures carry them: JPEG APP2
// segments, PNG chunks, BMP V5 headers.
namespace ColourFixtures {

// An RGB display profile with wide primaries and tabulated tone curves of `curvePoints`
// entries each (2 bytes an entry: 30000 points give a profile of about 180 KiB).
QByteArray rgbProfile(int curvePoints = 256);
// A grey profile (gamma 2.2).
QByteArray greyProfile();
// A CMYK output profile whose lightness depends on K alone: L* = 100 (1 - k), a* = b* = 0.
QByteArray cmykProfile();

// The APP2 payloads that carry `profile` in `count` pieces ("ICC_PROFILE\0", number, count).
QList<QByteArray> iccSegments(const QByteArray& profile, int count);

// `jpeg` with marker segments (marker, payload) put right after its start marker.
QByteArray withSegments(const QByteArray& jpeg, const QList<QPair<int, QByteArray>>& segments);

// `png` with chunks (type, data) put right after its IHDR chunk.
QByteArray withChunks(const QByteArray& png, const QList<QPair<QByteArray, QByteArray>>& chunks);
// The data of an iCCP chunk holding `profile`.
QByteArray iccpData(const QByteArray& profile);
// The data of the chunks of `type` in `png`; an iCCP chunk's profile inflated.
QList<QByteArray> chunkData(const QByteArray& png, const QByteArray& type);

// The ICC profile of a JPEG file's APP2 segments, joined, and the marker numbers of every
// segment before the image data.
QByteArray jpegProfile(const QByteArray& jpeg);
QList<int> jpegMarkers(const QByteArray& jpeg);

} // namespace ColourFixtures
