// SPDX-License-Identifier: MIT

#include "imaging/core/LibHeif.h"

#include "imaging/core/SharedLibrary.h"

static_assert(LIBHEIF_NUMERIC_VERSION >> 24 == 1, "the headers are not those of libheif.so.1");

namespace ImageCore {

const LibHeif& libheif()
{
    static const LibHeif functions = [] {
        const SharedLibrary library("libheif.so.1");
        LibHeif f;
#define PICTELLE_BIND(name) library.bind(f.name, #name);
        PICTELLE_LIBHEIF_FUNCTIONS(PICTELLE_BIND)
#undef PICTELLE_BIND
        return f;
    }();
    return functions;
}

} // namespace ImageCore
