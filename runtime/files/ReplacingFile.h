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
// The file is written without a name (O_TMPFILE in the destination's folder: the same file
// system, so the rename is atomic), so a process killed by any signal leaves nothing; commit()
// links it under the destination's name when that is free, and otherwise as
// `.pictelle-<random>.tmp`, renamed over the destination at once (a link cannot replace a
// file): only a kill in that instant leaves a temporary behind. Where the file system refuses
// unnamed files (NFS, vfat and exFAT, some FUSE) it is written under that name from the start, as
// the only way left. A named temporary is created exclusively and entered in the record of
// Temporaries.h for the signal handlers; it is removed on every failure, by abandon(), and by the
// destructor unless commit() succeeded. A writer holds an flock on its file from its making to its
// close, for removeStaleTemporaries().
//
// The unnamed file's cost, measured with bench-tempfiles (medians of 21 rounds on a loaded
// build machine, per file, unnamed against named): a new file costs the same (tmpfs, 8 KB:
// 62 against 62 us; ext4: 415 - 630 against 400 - 660 us); one written over an existing
// file pays the extra link, 25 - 45 us on tmpfs (89 - 109 against 64 - 66 us), lost on
// ext4 in the write-back that a rename over a file starts (1.1 - 2.5 ms either way); at
// 500 KB the difference is within the noise on both.
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
    int linkAs(const std::string& name) noexcept;
    int linkUnnamed() noexcept;

    UniqueFd m_file;
    std::string m_destination;
    std::string m_temp; // empty when writing in place or without a name
    int m_slot = -1; // in the record of temporaries
    bool m_inPlace = false;
    bool m_unnamed = false;
    bool m_committed = false;
};

// From now on every ReplacingFile writes a named temporary from the start, as on a file
// system that refuses unnamed files (true), or an unnamed one where it can (false, the
// default). For the tests of the named way, which no local file system would take.
void useNamedTemporaries(bool named) noexcept;

// Removes from `folder` the temporaries that writers killed by SIGKILL or a power cut left
// (`.pictelle-<random>.tmp`), and returns how many. A file goes only when all of these hold:
//  - the folder is on a local file system (ext2/3/4, XFS, Btrfs, F2FS, tmpfs, vfat, exFAT,
//    NTFS, ZFS): on a network one another machine's writer could hold it, unseen by a lock;
//  - its name is exactly what ReplacingFile makes, it is a regular file with one link, and
//    it belongs to the user running this;
//  - nobody holds an flock on it: every living writer holds one from the making of its
//    file to its close, so an unlocked one belongs to no running Pictelle;
//  - it has not been written to or changed for `minimumAgeSeconds`: a writer's file goes
//    unlocked only in the instant between its making and its lock (named temporaries) and
//    between its close and its rename, and a writer never pauses there for a minute.
// Errors are ignored: the sweep is a courtesy, never a reason for a write to fail.
int removeStaleTemporaries(const std::string& folder, int minimumAgeSeconds = 60) noexcept;

} // namespace Files
