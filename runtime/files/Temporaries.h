// SPDX-License-Identifier: MIT

#pragma once

// The record of the temporary files being written (Files::ReplacingFile enters and clears
// them), so that a process ended by a signal does not leave them behind. Fixed-size and
// lock-free: recording takes no lock and allocates nothing, and removeTemporaries() may run
// in a signal handler.
namespace Files {

// Removes every temporary file in the record. Async-signal-safe (unlink only); the record
// itself is left for the writers to clear. Calling it while writers go on makes their
// commit fail (the temporary is gone), never touches a finished file.
void removeTemporaries() noexcept;

// For ReplacingFile: enters `path` and returns its slot, or -1 when the record is full or
// the path too long (the file is then made all the same, only not removed by a signal).
int recordTemporary(const char* path) noexcept;
// Clears a slot that recordTemporary() returned; -1 is ignored.
void forgetTemporary(int slot) noexcept;

} // namespace Files
