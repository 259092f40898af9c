// SPDX-License-Identifier: MIT

#include "runtime/files/Temporaries.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace Files {
namespace {

// Free -> Filling -> Recorded by the writer; Recorded -> Removing -> Recorded while a removal
// reads the name, so that the writer cannot free and refill the slot under it.
enum SlotState : int { Free, Filling, Recorded, Removing };

struct Slot
{
    std::atomic<int> state;
    char path[PATH_MAX];
};

static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the record");

// A handful of files are ever written at once (a thumbnail, a scratch picture, a converter's
// output); 32 leaves room for every thread of a machine's worth of writers.
constexpr int slotCount = 32;
Slot slots[slotCount]; // zero-initialised: all Free before any constructor runs

// Sequentially consistent, both: a writer raises `creating` and then reads `closed`, the
// close sets `closed` and then reads `creating`, so either the writer makes nothing or the
// close waits for its file to exist before removing it.
std::atomic<bool> closed { false };
std::atomic<int> creating { 0 };

} // namespace

bool beginCreating() noexcept
{
    creating.fetch_add(1);
    if (!closed.load())
        return true;
    creating.fetch_sub(1);
    return false;
}

void endCreating() noexcept
{
    creating.fetch_sub(1);
}

int recordTemporary(const char* path) noexcept
{
    const size_t length = std::strlen(path);
    if (length >= sizeof slots[0].path)
        return -1;
    for (int i = 0; i < slotCount; ++i) {
        int expected = Free;
        if (!slots[i].state.compare_exchange_strong(expected, Filling, std::memory_order_acquire))
            continue;
        std::memcpy(slots[i].path, path, length + 1);
        slots[i].state.store(Recorded, std::memory_order_release);
        return i;
    }
    return -1;
}

void forgetTemporary(int slot) noexcept
{
    if (slot < 0 || slot >= slotCount)
        return;
    // Waits out a removal on another thread, which holds the slot for one unlink.
    int expected = Recorded;
    while (!slots[slot].state.compare_exchange_weak(expected, Free, std::memory_order_release))
        expected = Recorded;
}

void removeTemporaries() noexcept
{
    for (Slot& slot : slots) {
        int expected = Recorded;
        if (!slot.state.compare_exchange_strong(expected, Removing, std::memory_order_acquire))
            continue;
        ::unlink(slot.path);
        slot.state.store(Recorded, std::memory_order_release);
    }
}

void closeTemporaries(int graceMs) noexcept
{
    closed.store(true);
    // A creation is one open(); the grace only matters when a file system hangs.
    const timespec pause { 0, 1000 * 1000 };
    for (int waited = 0; creating.load() > 0 && waited < graceMs; ++waited)
        ::nanosleep(&pause, nullptr);
    removeTemporaries();
}

} // namespace Files
