// SPDX-License-Identifier: MIT

#pragma once

#include <QString>

namespace ShortFilename {

// Linux has no short (8.3) names: returns `path` unchanged when it exists, empty text when
// it does not.
QString GetShortName(const QString& path);

} // namespace ShortFilename
