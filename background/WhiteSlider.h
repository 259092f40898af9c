// SPDX-License-Identifier: MIT

#pragma once

#include <QtGlobal>

class QImage;
class QWidget;

// Paints the background of a control in a colour, a tiled picture or a gradient of one's
// choosing while the control keeps drawing everything else itself. The settings live on the
// control as dynamic properties with the names below, so that anyone may set them.
//
// A colour value is 32 bits with red in the low byte (0xFFFFFF is white); a value with bit 31
// set refers to a system colour whose index is in the low 31 bits (0x8000000F: button face).
namespace WhiteSlider {

// Property names (each holds a 32-bit whole number unless said otherwise; unset reads as 0).
inline constexpr char PropStyle[] = "MyStyle"; // 0 solid, 1 tiled picture, 2 gradient, 3 fading
inline constexpr char PropSolidColor[] = "MySolidColor"; // plain RGB colour of style 0
inline constexpr char PropPicture[] = "MyPicture"; // QImage or QPixmap tiled by style 1
inline constexpr char PropPictureWidth[] = "MyPictureWidth";
inline constexpr char PropPictureHeight[] = "MyPictureHeight";
inline constexpr char PropGradientColor1[] = "MyGradientColor1"; // left or top edge
inline constexpr char PropGradientColor2[] = "MyGradientColor2"; // right or bottom edge
inline constexpr char PropGradientDir[] = "MyGradientDir"; // 0 left to right, 1 top to bottom
inline constexpr char PropFadeTime[] = "MyFadeTime"; // fade level change per timer tick
inline constexpr char PropHooked[] = "Hooked"; // -1 once hooked

inline constexpr quint32 SystemColorFlag = 0x80000000u;
inline constexpr quint32 ButtonFace = SystemColorFlag | 15u;
inline constexpr int FadeTimerPeriodMs = 1;

// The 16-bit channels of a gradient vertex: an 8-bit channel in the high byte, 0 in the low.
struct VertexColor
{
    quint16 Red = 0;
    quint16 Green = 0;
    quint16 Blue = 0;

    friend bool operator==(const VertexColor&, const VertexColor&) = default;
};

// Returns a plain colour unchanged; resolves a system colour reference through the
// application palette (5 window background, 8 window text, 15 button face, and the other
// indices that have a palette role). An index without one gives 0.
quint32 TranslateColor(quint32 color);

// Splits a plain RGB colour (0 to 0xFFFFFF) into vertex channels. Throws AppError 5 (invalid
// argument) for any larger value, system colour references included.
VertexColor ColorToVertex(quint32 color);

// Brightens (positive amount) or darkens a colour: red and green are offset by the amount,
// blue is offset by blue * amount / 192, so a colour without blue stays without it. Channels
// are clamped only in the direction of the amount (to 255 when it is positive, to 0 when it is
// negative). Throws AppError 6 (overflow) when a step leaves the signed 32-bit range.
quint32 ShiftColor(quint32 color, qint32 amount);

// The fade of style 3: a level between 0 and 255 that moves by the fade step at every timer
// tick and turns at either end.
struct FadeState
{
    qint32 level = 0;
    bool falling = false;
};

// One fade step: moves the level by `step` in the current direction, cuts it to 0..255 and
// turns the direction when it had to be cut. A step that would overflow leaves the level as
// it was before the cut. Never throws.
void StepFade(FadeState& state, qint32 step) noexcept;

// Fills the rectangle (x, y, width, height), in device pixels of `surface`, with a linear
// gradient from color1 to color2: direction 0 from the left column to the right one, 1 from
// the top row to the bottom one; both end colours are reached exactly. Any other direction
// leaves the surface unchanged. A colour that ColorToVertex refuses is taken as black. The
// surface must be 32 bits per pixel. Never throws.
void FillGradient(QImage& surface, int x, int y, int width, int height, quint32 color1,
    quint32 color2, qint32 direction) noexcept;

// Stores the paint style as "MyStyle".
void SetStyle(QWidget* window, qint32 style);

// Stores the colour, system colours resolved by TranslateColor, as "MySolidColor".
void SetSolidColor(QWidget* window, quint32 color);

// Installs the painter on the window unless IsHooked already says it is hooked. The painter
// is a child of the window and goes away with it; nothing needs to be undone.
void HookWindow(QWidget* window);

// True when the window's "Hooked" property is non-zero.
bool IsHooked(const QWidget* window);

// Stores -1 as "Hooked".
void MarkHooked(QWidget* window);

} // namespace WhiteSlider
