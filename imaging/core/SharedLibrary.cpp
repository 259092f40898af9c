// SPDX-License-Identifier: MIT

#include "imaging/core/SharedLibrary.h"

#include <dlfcn.h>
#include <string>

namespace ImageCore {

namespace {

std::string loaderReason()
{
    const char* reason = dlerror();
    return reason ? reason : "no reason given";
}

} // namespace

// Never closed: the libraries stay for the process's life (as linked ones did), so that
// LeakSanitizer can still name the module of a leak inside them and no function pointer
// handed out can dangle.
SharedLibrary::SharedLibrary(const char* soname)
    : m_soname(soname)
    , m_handle(dlopen(soname, RTLD_NOW | RTLD_LOCAL))
{
    if (!m_handle)
        throw LibraryError(
            std::string("the library ") + soname + " could not be loaded (" + loaderReason() + ")");
}

void* SharedLibrary::symbol(const char* name) const
{
    dlerror();
    void* address = dlsym(m_handle, name);
    if (!address)
        throw LibraryError(std::string("the library ") + m_soname + " has no function " + name
            + " (" + loaderReason() + ")");
    return address;
}

} // namespace ImageCore
