// SPDX-License-Identifier: MIT

#include "runtime/ShortFilename.h"

#include "runtime/Runtime.h"

namespace ShortFilename {

QString GetShortName(const QString& path)
{
    return Runtime::pathExists(path) ? path : QString();
}

} // namespace ShortFilename
