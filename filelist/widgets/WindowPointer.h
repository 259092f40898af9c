// SPDX-License-Identifier: MIT

#pragma once

// The pointer values of the window's MousePointer, and of the image list's own pointer,
// numbered as the forms runtime's MousePointer property numbers them. Defined here, the lowest
// layer that reads and sets them; the window (app/Form1) uses the same values.
namespace WindowPointer {
enum : int {
    Default = 0, // the control's own pointer
    Arrow = 1, // the plain arrow (the list after a release)
    Busy = 11, // the hourglass
    Custom = 99, // a pointer loaded from a file: HAND-M.CUR on the window, drag.ico on the list
};
} // namespace WindowPointer
