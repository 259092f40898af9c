// SPDX-License-Identifier: MIT

#pragma once

#include <QSize>

class QSlider;

// The window's percentage slider (Slider1), set up in one place for the window, the painter's
// tests and its bench.
namespace PercentageSlider {

inline constexpr QSize Size { 425, 41 };

// The percentage slider's set-up: horizontal steps of 1 and pages of 5 over 1..100, the value 40,
// a tick below every step, resized to Size. The window places it and restores the stored
// percentage afterwards.
void configure(QSlider& slider);

// The window's background: style 0 in white, with the painter hooked (WhiteSlider).
void paintWhite(QSlider& slider);

} // namespace PercentageSlider
