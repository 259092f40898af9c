// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <optional>

// Starting an external program and waiting for it.
namespace Shell32 {

// Starts `commandLine` (split into arguments by double-quote rules, never through a shell)
// and returns when the process has ended, processing pending events (Runtime::DoEvents) at
// least every 100 ms meanwhile. Returns the process's exit code; when the start fails,
// returns -2147221504 plus the runtime error number (53 for a missing program), at once.
// `windowStyle` is validated (missing or outside 0..6 gives 6) and otherwise has no effect.
qint32 RunAndWait(const QString& commandLine, std::optional<int> windowStyle = std::nullopt);

// What a program wrote on its standard error: the first `limit` bytes. The rest is read and
// dropped, so a program that writes a lot never blocks on a full pipe.
struct ErrorOutput
{
    qsizetype limit = 4096;
    QByteArray bytes;
    bool truncated = false; // more was written than `bytes` holds
};

// Stops, from any thread, the RunAndWait calls given it: a run that ends does not wait for
// the programs still reading ahead for it.
class Cancellation
{
public:
    // A program is asked to end (SIGTERM: the converters remove their temporary output)
    // and killed when it has not ended after `grace`.
    explicit Cancellation(std::chrono::milliseconds grace = std::chrono::milliseconds(250));
    ~Cancellation();
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;
    // Asks the programs being waited for to end and returns at once; their calls return
    // as soon as they have ended, and a later call starts nothing (it returns as a start
    // that failed with 5).
    void cancel();
    bool cancelled() const { return m_cancelled; }
    std::chrono::milliseconds grace() const { return m_grace; }

private:
    friend void cancelAll();
    friend void terminateRunning(std::chrono::milliseconds grace);
    void cancelLocked();

    std::atomic<bool> m_cancelled = false;
    const std::chrono::milliseconds m_grace;
};

// RunAndWait, reading the program's standard error into `errorOutput` while it waits (the
// program keeps Pictelle's stderr should no pipe be had), and ending the program early
// when `cancellation` (if given) is cancelled.
qint32 RunAndWait(const QString& commandLine, std::optional<int> windowStyle,
    ErrorOutput& errorOutput, const Cancellation* cancellation = nullptr);

// Cancels every Cancellation there is (any thread): what a run reads ahead ends, while the
// converter of the entry at its turn goes on. For a stop asked between entries.
void cancelAll();

// The longest time the wait goes without processing events (100 ms unless set). Tests make it
// very long to show that the wait ends with the program, not with the interval. Returns the
// interval it replaces.
std::chrono::milliseconds setEventInterval(std::chrono::milliseconds interval);

// Ends the programs that RunAndWait is waiting for (any thread), and cancels every
// Cancellation, so that no read ahead starts another; used when the window closes during a
// run. Each is asked first (SIGTERM: the converters remove their temporary
// output) and killed (SIGKILL) when it has not ended after `grace`; returns as soon as all
// have ended.
void terminateRunning(std::chrono::milliseconds grace = std::chrono::milliseconds(250));

// The same for the program's end: afterwards no RunAndWait starts a program any more (it
// waits for the process to end instead), so none can outlive it.
void endRunning(std::chrono::milliseconds grace = std::chrono::milliseconds(250));

// What the program does last when it ends in the middle of a run (the window closed, a second
// interrupt): no new temporary file is begun, the programs being waited for are ended as
// endRunning() does, and every temporary file still open is removed, whatever thread made it.
void endLeavingNothing();

} // namespace Shell32
