// SPDX-License-Identifier: MIT

#pragma once

#include "conversion/FileThumbnail.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Reads, scales and, where the entry allows, encodes the pictures of later entries on
// worker threads while the conversion run writes the current one, so that every core
// works. No file but a worker's own scratch file is written ahead, and an entry's result is
// handed out only when its file is still the one that was read (an earlier entry may write
// the very file a later one reads, as a thumbnail listed again does). The results are
// therefore those of a one-at-a-time run.
class DecodeAhead
{
public:
    // What an entry's turn takes.
    struct Prepared
    {
        FileThumbnail::Picture picture; // read and scaled, unless encoded
        std::vector<std::uint8_t> encoded; // the thumbnail file, when encoded ahead
        QString note; // how it was read, for the log
        bool atTurn = false; // nothing was read: the entry is read at its turn
    };

    // Prepares one entry; may throw (AppError, std::bad_alloc). Called on the workers
    // (`worker` 1, 2, ...) and on the thread that calls take() (`worker` 0), so it must be
    // reentrant; a scratch file it needs is the worker's own.
    using Decode = std::function<Prepared(const QString& path, int worker)>;

    // `eligible[i]` says whether entry i may be prepared ahead. `workers` threads work
    // ahead (0: every entry is prepared in take()). A worker begins an entry only while
    // fewer than `maxHeld` results are held or being made ahead of the entry last taken,
    // and those held, with those being made counted as the largest yet, take fewer than
    // `maxBytes` bytes.
    DecodeAhead(QStringList paths, std::vector<bool> eligible, Decode decode, int workers,
        int maxHeld, qint64 maxBytes);
    // Waits for the work in progress (stop its reading programs first to be prompt) and
    // drops what was made ahead.
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // The result of the entry `index` (0-based; calls in increasing order). Made ahead when
    // the file is unchanged since, made now on the calling thread otherwise or when working
    // ahead ran out of memory. Throws what the decode threw for this entry.
    Prepared take(qsizetype index);

    // Worker threads worth starting: one per core this process may run on, as far as the
    // memory allows.
    static int defaultWorkers();

private:
    struct State;
    void work(int worker);

    std::unique_ptr<State> d;
};
