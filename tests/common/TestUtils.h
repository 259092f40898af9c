// SPDX-License-Identifier: MIT

#pragma once

#include <QString>

// Helpers shared by the tests. Paths of built programs come from the build tree.
namespace TestUtils {

// Folder holding pictelle, pictelle-batch, png2bmp and bmp2png in the build tree.
inline QString binDir()
{
    return QStringLiteral(PICTELLE_BIN_DIR);
}
inline QString sourceDir()
{
    return QStringLiteral(PICTELLE_SOURCE_DIR);
}
// The build tree itself, and the cmake that configured it.
inline QString buildDir()
{
    return QStringLiteral(PICTELLE_BUILD_DIR);
}
inline QString cmakeCommand()
{
    return QStringLiteral(PICTELLE_CMAKE_COMMAND);
}

// Whether an error's `description` says `words` as they stand, alone or followed by the
// reason the system or a decoder gave (": <reason>").
inline bool keepsWords(const QString& description, const QString& words)
{
    return description == words || description.startsWith(words + QStringLiteral(": "));
}

} // namespace TestUtils
