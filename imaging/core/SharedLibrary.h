// SPDX-License-Identifier: MIT

#pragma once

#include <stdexcept>

// Opening a shared library by its soname when a picture first needs it. libheif and libjxl
// pull in encoders whose start-up (relocations, static constructors) cost most of a reading
// program's start and of pictelle-batch's, also for pictures of other kinds. Plain C++.
namespace ImageCore {

// A library or one of its functions that could not be loaded: the soname and the loader's
// reason in what().
class LibraryError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class SharedLibrary
{
public:
    // Opens `soname` (a string literal) with every symbol bound at once; throws LibraryError.
    explicit SharedLibrary(const char* soname);
    // The function `name` as a pointer of `function`'s type; throws LibraryError.
    template <class Function> void bind(Function*& function, const char* name) const
    {
        function = reinterpret_cast<Function*>(symbol(name));
    }

private:
    void* symbol(const char* name) const;

    const char* m_soname;
    void* m_handle;
};

} // namespace ImageCore
