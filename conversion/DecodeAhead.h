// SPDX-License-Identifier: MIT

#pragma once

#include "conversion/FileThumbnail.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// Reads and scales the pictures of later entries on worker threads while the conversion
// run writes the current one, so that both cores work. Only memory is touched ahead: no
// file is written, and an entry's picture is handed out only when its file is still the
// one that was read (an earlier entry may write the very file a later one reads, as a
// thumbnail listed again does). The pictures are therefore those of a one-at-a-time run.
class DecodeAhead
{
public:
    // Reads and scales the picture of one entry; may throw (AppError, std::bad_alloc).
    // Called on the workers and on the thread that calls take(), so it must be reentrant.
    using Decode = std::function<FileThumbnail::Picture(const QString& path)>;

    // `eligible[i]` says whether entry i is read straight from its file, so that it may be
    // read ahead. `workers` threads read ahead (0: every picture is read in take()); at
    // most `maxHeld` pictures are held or being read ahead of the entry last taken.
    DecodeAhead(
        QStringList paths, std::vector<bool> eligible, Decode decode, int workers, int maxHeld);
    // Waits for the reads in progress and drops what was read ahead.
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // The picture of the eligible entry `index` (0-based; calls in increasing order). Read
    // ahead when the file is unchanged since, read now on the calling thread otherwise or
    // when reading ahead ran out of memory. Throws what the decode threw for this entry.
    FileThumbnail::Picture take(qsizetype index);

    // Worker threads worth starting on this machine: one per core, at most four.
    static int defaultWorkers();

private:
    struct State;
    void work();

    std::unique_ptr<State> d;
};
