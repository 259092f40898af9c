// SPDX-License-Identifier: MIT

#include "imaging/core/LibJxl.h"

#include "imaging/core/SharedLibrary.h"

#include <jxl/version.h>

// The soname carries the minor version, whose functions may differ from another's.
static_assert(JPEGXL_MAJOR_VERSION == 0 && JPEGXL_MINOR_VERSION == 7,
    "the headers are not those of libjxl.so.0.7");

namespace ImageCore {

const LibJxl& libjxl()
{
    static const LibJxl functions = [] {
        const SharedLibrary library("libjxl.so.0.7");
        const SharedLibrary threads("libjxl_threads.so.0.7");
        LibJxl f;
#define PICTELLE_BIND(name) library.bind(f.name, #name);
        PICTELLE_LIBJXL_FUNCTIONS(PICTELLE_BIND)
#undef PICTELLE_BIND
#define PICTELLE_BIND(name) threads.bind(f.name, #name);
        PICTELLE_LIBJXL_THREADS_FUNCTIONS(PICTELLE_BIND)
#undef PICTELLE_BIND
        return f;
    }();
    return functions;
}

} // namespace ImageCore
