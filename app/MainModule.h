// SPDX-License-Identifier: MIT

#pragma once

#include <QString>

class QWidget;

// The start-up procedures of the window.
namespace Main {

// True when the modification time of `path` can be read (Runtime::FileDateTime succeeds: a
// file or folder that exists and can be looked at); false on any failure. Never throws.
bool FileExists(const QString& path);

// Moves `window` so that its outer frame is centred on the whole screen it is on (task bars
// included), in logical pixels. Nothing is clamped: a window larger than the screen gets a
// negative left or top edge. Called before the window is shown, it centres the window again
// once the window manager has framed it, since the frame's size is unknown until then.
void CenterForm(QWidget& window);

} // namespace Main
