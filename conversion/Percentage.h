// SPDX-License-Identifier: MIT

#pragma once

#include <QString>

// The percentage per side of a thumbnail, 1 to 100, and its copy in the per-user settings
// store (application "Quorvane", section "Pictelle", key "SliderValue", plain decimal
// digits). The window's slider restores it at start and stores it at every change;
// pictelle-batch reads it when no percentage is given.
namespace Percentage {

inline constexpr int Default = 40;

// The remembered percentage; Default when none is stored, the stored text is not a whole
// number from 1 to 100, or the store cannot be read.
int remembered();

// Stores `value` as decimal digits. Throws AppError 75 naming the settings file when it
// cannot be written.
void remember(int value);

} // namespace Percentage
