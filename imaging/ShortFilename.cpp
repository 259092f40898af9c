#include "imaging/ShortFilename.h"

#include "app/runtime/Runtime.h"

namespace ShortFilename {

QString GetShortName(const QString& path)
{
    return Runtime::FileExists(path) ? path : QString();
}

} // namespace ShortFilename
