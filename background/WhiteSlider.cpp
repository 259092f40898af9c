// SPDX-License-Identifier: MIT

#include "background/WhiteSlider.h"

#include "background/PainterProperties.h"
#include "background/SliderHook.h"
#include "runtime/AppError.h"

#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QWidget>
#include <algorithm>
#include <optional>

namespace WhiteSlider {

namespace {

QString hexText(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

[[noreturn]] void throwOverflow(quint32 color, qint32 amount)
{
    throw AppError::about(ErrorNumber::Overflow,
        QStringLiteral("shifting colour %1 by %2").arg(hexText(color)).arg(amount));
}

// The palette colour that stands in for a system colour index; std::nullopt for indices
// the desktop has no counterpart for.
std::optional<QColor> systemColor(quint32 index)
{
    const QPalette palette = QGuiApplication::palette();
    switch (index) {
    case 4: // menu
        return palette.color(QPalette::Window);
    case 5: // window background
        return palette.color(QPalette::Base);
    case 6: // window frame
    case 21: // 3-D dark shadow
        return palette.color(QPalette::Shadow);
    case 7: // menu text
        return palette.color(QPalette::WindowText);
    case 8: // window text
        return palette.color(QPalette::Text);
    case 13: // highlight
        return palette.color(QPalette::Highlight);
    case 14: // highlighted text
        return palette.color(QPalette::HighlightedText);
    case 15: // button face
        return palette.color(QPalette::Button);
    case 16: // button shadow
        return palette.color(QPalette::Dark);
    case 17: // grey text
        return palette.color(QPalette::Disabled, QPalette::Text);
    case 18: // button text
        return palette.color(QPalette::ButtonText);
    case 20: // button highlight
        return palette.color(QPalette::Light);
    case 22: // 3-D light
        return palette.color(QPalette::Midlight);
    case 23: // tooltip text
        return palette.color(QPalette::ToolTipText);
    case 24: // tooltip background
        return palette.color(QPalette::ToolTipBase);
    case 26: // hot-tracked item
        return palette.color(QPalette::Link);
    default:
        return std::nullopt;
    }
}

VertexColor vertexOrBlack(quint32 color) noexcept
{
    try {
        return ColorToVertex(color);
    } catch (const AppError&) {
        return {};
    }
}

} // namespace

quint32 TranslateColor(quint32 color)
{
    if (!(color & SystemColorFlag))
        return color;
    const std::optional<QColor> c = systemColor(color & ~SystemColorFlag);
    if (!c)
        return 0;
    return quint32(c->red()) | quint32(c->green()) << 8 | quint32(c->blue()) << 16;
}

VertexColor ColorToVertex(quint32 color)
{
    // Goes through the hexadecimal text on purpose: anything that needs more than six digits
    // is refused rather than cut down to its low bytes.
    const QString digits = QString::number(color, 16).toUpper();
    if (digits.size() > 6) {
        throw AppError::about(ErrorNumber::InvalidCall,
            QStringLiteral("colour %1 is not a plain RGB colour").arg(hexText(color)));
    }
    const QString text = digits.rightJustified(6, QLatin1Char('0'));
    const auto channel = [&text](int position) {
        return quint16(QStringView(text).mid(position, 2).toUInt(nullptr, 16) << 8);
    };
    // The text reads blue, green, red.
    return VertexColor { channel(4), channel(2), channel(0) };
}

quint32 ShiftColor(quint32 color, qint32 amount)
{
    const auto add = [&](qint32 a, qint32 b) {
        qint32 r;
        if (__builtin_add_overflow(a, b, &r))
            throwOverflow(color, amount);
        return r;
    };
    const auto mul = [&](qint32 a, qint32 b) {
        qint32 r;
        if (__builtin_mul_overflow(a, b, &r))
            throwOverflow(color, amount);
        return r;
    };

    // Signed arithmetic throughout; C++ division truncates toward zero and % keeps the
    // dividend's sign, which is what a system colour reference (negative here) needs.
    const qint32 c = qint32(color);
    qint32 red = add(c & 0xFF, amount);
    qint32 green = add((c / 256) % 256, amount);
    const qint32 b = (c / 65536) % 256;
    qint32 blue = add(b, mul(b, amount) / 192);

    if (amount > 0) {
        red = std::min(red, 255);
        green = std::min(green, 255);
        blue = std::min(blue, 255);
    } else if (amount < 0) {
        red = std::max(red, 0);
        green = std::max(green, 0);
        blue = std::max(blue, 0);
    }
    return quint32(add(add(red, mul(green, 256)), mul(blue, 65536)));
}

void StepFade(FadeState& state, qint32 step) noexcept
{
    qint32 next;
    const bool overflow = state.falling ? __builtin_sub_overflow(state.level, step, &next)
                                        : __builtin_add_overflow(state.level, step, &next);
    if (!overflow)
        state.level = next;
    if (state.level > 255) {
        state.level = 255;
        state.falling = !state.falling;
    } else if (state.level < 0) {
        state.level = 0;
        state.falling = !state.falling;
    }
}

void FillGradient(QImage& surface, int x, int y, int width, int height, quint32 color1,
    quint32 color2, qint32 direction) noexcept
{
    if ((direction != 0 && direction != 1) || width <= 0 || height <= 0 || surface.depth() != 32)
        return;

    const VertexColor v1 = vertexOrBlack(color1);
    const VertexColor v2 = vertexOrBlack(color2);

    // Steps of the gradient: columns for direction 0, rows for direction 1. Interpolating
    // over steps - 1 puts colour 2 exactly on the last column or row.
    const int steps = direction == 0 ? width : height;
    const auto at = [&](int i) {
        const auto mix = [&](int a, int b) {
            const qint64 v = steps > 1 ? a + qint64(b - a) * i / (steps - 1) : a;
            return int(v >> 8);
        };
        return qRgb(mix(v1.Red, v2.Red), mix(v1.Green, v2.Green), mix(v1.Blue, v2.Blue));
    };

    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const int right = int(std::min<qint64>(qint64(x) + width, surface.width()));
    const int bottom = int(std::min<qint64>(qint64(y) + height, surface.height()));
    if (left >= right || top >= bottom)
        return;
    if (direction == 1) {
        for (int row = top; row < bottom; ++row) {
            auto* line = reinterpret_cast<QRgb*>(surface.scanLine(row));
            std::fill(line + left, line + right, at(row - y));
        }
        return;
    }
    auto* first = reinterpret_cast<QRgb*>(surface.scanLine(top));
    for (int col = left; col < right; ++col)
        first[col] = at(col - x);
    for (int row = top + 1; row < bottom; ++row) {
        auto* line = reinterpret_cast<QRgb*>(surface.scanLine(row));
        std::copy(first + left, first + right, line + left);
    }
}

void SetStyle(QWidget* window, qint32 style)
{
    window->setProperty(PropStyle, style);
}

void SetSolidColor(QWidget* window, quint32 color)
{
    window->setProperty(PropSolidColor, TranslateColor(color));
}

void HookWindow(QWidget* window)
{
    if (IsHooked(window))
        return;
    MarkHooked(window);
    new SliderHook(window);
}

bool IsHooked(const QWidget* window)
{
    return readProperty(window, PropHooked) != 0;
}

void MarkHooked(QWidget* window)
{
    window->setProperty(PropHooked, qint32(-1));
}

} // namespace WhiteSlider
