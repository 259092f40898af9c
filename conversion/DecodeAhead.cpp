// SPDX-License-Identifier: MIT

#include "conversion/DecodeAhead.h"

#include "imaging/core/Limits.h"
#include "runtime/AppError.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <mutex>
#include <new>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Pictures and encoded thumbnails of megabytes are taken and given back by several workers at
// once. glibc would keep such blocks in each thread's heap once one is freed (its mmap
// threshold rises), and the run's resident size grew by a third, past that of tools doing the
// same work; mapped blocks go back to the system when freed.
void returnLargeBlocks()
{
#if defined(__GLIBC__)
    static const bool once = mallopt(M_MMAP_THRESHOLD, 1 << 20) != 0;
    (void)once;
#endif
}

// What tells one state of a file from another: a rewrite changes the times (a rename into
// place also the inode), a missing file keeps its errno.
struct FileSignature
{
    int error = 0;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified {};
    timespec changed {};

    bool operator==(const FileSignature& o) const
    {
        return error == o.error && device == o.device && inode == o.inode && size == o.size
            && modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec
            && changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

FileSignature signatureOf(const QString& path)
{
    FileSignature s;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        s.error = errno;
        return s;
    }
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modified = st.st_mtim;
    s.changed = st.st_ctim;
    return s;
}

bool isOutOfMemory(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return true;
    } catch (const AppError& e) {
        return e.number() == ErrorNumber::OutOfMemory;
    } catch (...) {
        return false;
    }
}

enum class SlotState { Idle, Busy, Done, Taken };

struct Slot
{
    SlotState state = SlotState::Idle;
    DecodeAhead::Prepared result;
    qint64 bytes = 0;
    std::exception_ptr error;
    FileSignature signature;
    bool stable = false; // the file did not change while it was read
};

} // namespace

struct DecodeAhead::State
{
    QStringList paths;
    std::vector<bool> eligible;
    Decode decode;
    int maxHeld = 0;
    qint64 maxBytes = 0;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Slot> entries;
    qsizetype current = 0; // the entries before it are over
    qsizetype scan = 0; // no idle eligible entry lies before it
    int held = 0; // slots Busy or Done
    int busy = 0; // slots Busy
    qint64 largest = 0; // the largest result yet: what a read in progress may come to
    qint64 heldBytes = 0; // of the slots Done
    bool stopping = false;
    std::vector<std::thread> workers;
};

DecodeAhead::DecodeAhead(QStringList paths, std::vector<bool> eligible, Decode decode, int workers,
    int maxHeld, qint64 maxBytes)
    : d(std::make_unique<State>())
{
    returnLargeBlocks();
    d->paths = std::move(paths);
    d->eligible = std::move(eligible);
    d->eligible.resize(std::size_t(d->paths.size()), false);
    d->decode = std::move(decode);
    d->maxHeld = std::max(1, maxHeld);
    d->maxBytes = maxBytes;
    d->entries.resize(std::size_t(d->paths.size()));
    const auto any = std::find(d->eligible.begin(), d->eligible.end(), true);
    if (any == d->eligible.end())
        workers = 0;
    for (int i = 1; i <= workers; ++i)
        d->workers.emplace_back([this, i] { work(i); });
}

DecodeAhead::~DecodeAhead()
{
    {
        const std::lock_guard lock(d->mutex);
        d->stopping = true;
    }
    d->changed.notify_all();
    for (std::thread& t : d->workers)
        t.join();
}

int DecodeAhead::defaultWorkers()
{
    // The cores taskset or a container leaves us, not all the machine has.
    cpu_set_t cpus;
    int cores = sched_getaffinity(0, sizeof cpus, &cpus) == 0
        ? CPU_COUNT(&cpus)
        : int(std::thread::hardware_concurrency());
    // A worker may be reading a picture of the largest size accepted: the memory must take
    // two such pictures for each.
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        cores = int(std::min<qint64>(
            cores, qint64(pages) * pageSize / (2 * Limits::maxPixels * qint64(sizeof(QRgb)))));
    return std::max(1, cores);
}

void DecodeAhead::work(int worker)
{
    std::unique_lock lock(d->mutex);
    for (;;) {
        if (d->stopping)
            return;
        qsizetype next = std::max(d->scan, d->current);
        const qsizetype n = d->paths.size();
        while (next < n && (!d->eligible[next] || d->entries[next].state != SlotState::Idle))
            ++next;
        d->scan = next;
        if (next >= n)
            return; // nothing left to read ahead
        if (d->held >= d->maxHeld || d->heldBytes + d->busy * d->largest >= d->maxBytes) {
            d->changed.wait(lock);
            continue;
        }
        Slot& slot = d->entries[next];
        slot.state = SlotState::Busy;
        ++d->held;
        ++d->busy;
        const QString path = d->paths.at(next);
        lock.unlock();

        Prepared result;
        std::exception_ptr error;
        const FileSignature before = signatureOf(path);
        try {
            result = d->decode(path, worker);
        } catch (...) {
            error = std::current_exception();
        }
        const FileSignature after = signatureOf(path);
        const qint64 bytes = result.picture.image.sizeInBytes() + qint64(result.encoded.size());

        lock.lock();
        --d->busy;
        d->largest = std::max(d->largest, bytes);
        if (next < d->current) {
            // The run went past this entry while it was read (it failed before its picture
            // was asked for): nobody will take it.
            slot = Slot();
            slot.state = SlotState::Taken;
            --d->held;
            d->changed.notify_all();
            continue;
        }
        slot.bytes = bytes;
        d->heldBytes += slot.bytes;
        slot.result = std::move(result);
        slot.error = error;
        slot.signature = before;
        slot.stable = before == after;
        slot.state = SlotState::Done;
        d->changed.notify_all();
    }
}

DecodeAhead::Prepared DecodeAhead::take(qsizetype index)
{
    Slot result;
    {
        std::unique_lock lock(d->mutex);
        // Pictures read ahead for entries passed over are dropped.
        for (qsizetype i = d->current; i < index; ++i) {
            Slot& skipped = d->entries[i];
            if (skipped.state == SlotState::Done) {
                d->heldBytes -= skipped.bytes;
                skipped = Slot();
                skipped.state = SlotState::Taken;
                --d->held;
            }
        }
        d->current = index;
        Slot& slot = d->entries[index];
        if (slot.state == SlotState::Idle) {
            slot.state = SlotState::Taken; // the workers have not got to it: read it here
        } else {
            d->changed.wait(lock, [&] { return slot.state == SlotState::Done; });
            result = std::move(slot);
            d->heldBytes -= result.bytes;
            slot = Slot();
            slot.state = SlotState::Taken;
            --d->held;
        }
        d->current = index + 1;
    }
    d->changed.notify_all();

    const QString& path = d->paths.at(index);
    if (result.state == SlotState::Done && result.stable && signatureOf(path) == result.signature
        && !(result.error && isOutOfMemory(result.error))) {
        if (result.error)
            std::rethrow_exception(result.error);
        return std::move(result.result);
    }
    result = Slot(); // before reading again, so that two copies are never held
    return d->decode(path, 0);
}
