// SPDX-License-Identifier: MIT

#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// What the fuzz targets share. The decoders read files, so each input is written to a file
// first; the folder lives in /dev/shm when it can, which keeps the runs fast.
namespace FuzzSupport {

// A folder private to this process, made on first use and removed at exit.
const QString& workFolder();

// Writes `size` bytes to `name` in workFolder() and returns its path; aborts when it cannot,
// since every later result would be meaningless.
QString writeInput(const char* name, const uint8_t* data, size_t size);

} // namespace FuzzSupport
