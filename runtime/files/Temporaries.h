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

// For the program's end: from now on no temporary is made (ReplacingFile::open gives
// ECANCELED), and once the ones being made at this moment exist, up to `graceMs` later,
// every temporary is removed. Async-signal-safe, but from a signal handler only where the
// handler cannot have interrupted a writer of its own thread (it would wait the grace out).
// Call removeTemporaries() again last thing before the process ends: a writer may still
// fail to clear its slot, never make a new file.
void closeTemporaries(int graceMs = 100) noexcept;

// For ReplacingFile, around the making of one temporary: false once closeTemporaries() has
// begun (make nothing then), otherwise true, and endCreating() must follow.
bool beginCreating() noexcept;
void endCreating() noexcept;

// For ReplacingFile: enters `path` and returns its slot, or -1 when the record is full or
// the path too long (the file is then made all the same, only not removed by a signal).
int recordTemporary(const char* path) noexcept;
// Clears a slot that recordTemporary() returned; -1 is ignored.
void forgetTemporary(int slot) noexcept;

} // namespace Files
