// SPDX-License-Identifier: MIT

#pragma once

#include "runtime/files/Fd.h"

#include <string>
#include <sys/types.h>

namespace Files {

// A file written beside its destination and renamed into place, so that the destination is
// either the old file, whole, or the new one, whole: never half of either. Every writer of
// the program writes through it.
//
//   ReplacingFile out;
//   if (int error = out.open(path, 0644)) ...; // errno values throughout
//   ... write to out.fd() ...
//   if (int error = out.commit()) ...;
//
// The temporary file is `.pictelle-<random>.tmp` in the destination's folder (the same file
// system, so the rename is atomic), created exclusively and entered in the record of
// Temporaries.h for the signal handlers. It is removed on every failure, by abandon(), and
// by the destructor unless commit() succeeded.
//
// The destination, as it is found at open():
//  - missing, a regular file or a link: replaced by the rename; a link is replaced itself,
//    so no write ever goes through a link to somewhere else;
//  - a folder: EISDIR at once;
//  - a device, pipe or socket, directly or through a link: written in place (opened as it
//    is, never replaced or removed), since renaming over /dev/null would lose it. A pipe
//    without a reader gives ENXIO rather than waiting for one.
class ReplacingFile
{
public:
    ReplacingFile() = default;
    ~ReplacingFile() { abandon(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Makes the file to write, with the permission bits `mode` less the umask. 0, or the
    // errno value: ENOENT or ENOTDIR for a missing folder, EACCES, EISDIR, ...; ECANCELED
    // once the program is ending (Files::closeTemporaries).
    int open(const std::string& destination, mode_t mode) noexcept;

    // The descriptor to write to (-1 before open() and after commit() or abandon()).
    int fd() const noexcept { return m_file.get(); }
    // True when the destination is a device, pipe or socket written in place.
    bool inPlace() const noexcept { return m_inPlace; }

    // Closes the file, checking the result, and renames it over the destination. 0, or the
    // errno value after removing the temporary; EBADF when nothing is open (never opened,
    // abandoned, or a failed commit). A second commit() after a successful one returns 0.
    //
    // No fsync before the rename. Measured on ext4 (this project's build machine, medians of
    // 5 to 7 runs, each writing the files beside a fresh folder and renaming them into place):
    //   200 files of 8 KB:   2 - 12 ms without fsync, 48 - 76 ms with it;
    //   24 files of 500 KB:  2.6 - 4.4 ms without,     25 - 30 ms with it;
    //   the same over existing files (ext4 starts their write-back at the rename):
    //   200 x 8 KB 17 - 22 ms against 80 - 87 ms, 24 x 500 KB 12 - 13 ms against 22 ms.
    // fsync would make writing 4 to 20 times slower, and what it guards against, a power cut
    // in the seconds after a rename, costs at worst a thumbnail or scratch picture that the
    // next run makes again (a crash of the program alone loses nothing: the data is in the
    // page cache). The rename still keeps the old file whole until the new one is complete.
    int commit() noexcept;

    // Closes and removes the temporary (an in-place destination is only closed). Harmless
    // when nothing is open.
    void abandon() noexcept;

private:
    void forget() noexcept;

    UniqueFd m_file;
    std::string m_destination;
    std::string m_temp; // empty when writing in place
    int m_slot = -1; // in the record of temporaries
    bool m_inPlace = false;
    bool m_committed = false;
};

} // namespace Files
