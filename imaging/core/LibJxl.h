// SPDX-License-Identifier: MIT

#pragma once

#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

// libjxl's functions that the JPEG XL reader and writer call, taken from libjxl.so.0.7 and
// libjxl_threads.so.0.7 on first use (the declarations come from their headers; nothing
// links them; their C++ helpers, decode_cxx.h and the like, would). Plain C++.
namespace ImageCore {

#define PICTELLE_LIBJXL_FUNCTIONS(F)                                                               \
    F(JxlColorEncodingSetToSRGB)                                                                   \
    F(JxlDecoderCloseInput)                                                                        \
    F(JxlDecoderCreate)                                                                            \
    F(JxlDecoderDestroy)                                                                           \
    F(JxlDecoderGetBasicInfo)                                                                      \
    F(JxlDecoderGetColorAsEncodedProfile)                                                          \
    F(JxlDecoderGetColorAsICCProfile)                                                              \
    F(JxlDecoderGetFrameHeader)                                                                    \
    F(JxlDecoderGetICCProfileSize)                                                                 \
    F(JxlDecoderImageOutBufferSize)                                                                \
    F(JxlDecoderProcessInput)                                                                      \
    F(JxlDecoderSetImageOutBuffer)                                                                 \
    F(JxlDecoderSetInput)                                                                          \
    F(JxlDecoderSetKeepOrientation)                                                                \
    F(JxlDecoderSetParallelRunner)                                                                 \
    F(JxlDecoderSetPreferredColorProfile)                                                          \
    F(JxlDecoderSubscribeEvents)                                                                   \
    F(JxlEncoderAddImageFrame)                                                                     \
    F(JxlEncoderCloseInput)                                                                        \
    F(JxlEncoderCreate)                                                                            \
    F(JxlEncoderDestroy)                                                                           \
    F(JxlEncoderFrameSettingsCreate)                                                               \
    F(JxlEncoderFrameSettingsSetOption)                                                            \
    F(JxlEncoderGetError)                                                                          \
    F(JxlEncoderInitBasicInfo)                                                                     \
    F(JxlEncoderInitFrameHeader)                                                                   \
    F(JxlEncoderProcessOutput)                                                                     \
    F(JxlEncoderSetBasicInfo)                                                                      \
    F(JxlEncoderSetColorEncoding)                                                                  \
    F(JxlEncoderSetFrameDistance)                                                                  \
    F(JxlEncoderSetFrameHeader)                                                                    \
    F(JxlEncoderSetFrameLossless)                                                                  \
    F(JxlEncoderSetICCProfile)                                                                     \
    F(JxlEncoderSetParallelRunner)

#define PICTELLE_LIBJXL_THREADS_FUNCTIONS(F)                                                       \
    F(JxlThreadParallelRunner)                                                                     \
    F(JxlThreadParallelRunnerCreate)                                                               \
    F(JxlThreadParallelRunnerDefaultNumWorkerThreads)                                              \
    F(JxlThreadParallelRunnerDestroy)

// Each member is named and typed as the function it points to: j.JxlDecoderCreate(nullptr).
struct LibJxl
{
#define PICTELLE_DECLARE(name) decltype(&::name) name = nullptr;
    PICTELLE_LIBJXL_FUNCTIONS(PICTELLE_DECLARE)
    PICTELLE_LIBJXL_THREADS_FUNCTIONS(PICTELLE_DECLARE)
#undef PICTELLE_DECLARE
};

// libjxl and its thread pool, loaded by the first call (from any thread, once); throws
// LibraryError when one of them or of their functions is missing, and tries again at the
// next call.
const LibJxl& libjxl();

} // namespace ImageCore
