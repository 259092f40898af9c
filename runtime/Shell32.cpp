// SPDX-License-Identifier: MIT

#include "runtime/Shell32.h"

#include "runtime/AppError.h"
#include "runtime/Logging.h"
#include "runtime/Runtime.h"
#include "runtime/files/Fd.h"
#include "runtime/files/Temporaries.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Exit codes on Linux are 0..255, so no real process can end with the 259 that the forms
// runtime used for "still running"; the wait below asks the kernel whether the process has
// ended and never reads meaning into an exit code. A process ended by a signal gives the
// negated signal number (-9 for SIGKILL), which no exit code and no start failure can be.

namespace Shell32 {

namespace {

constexpr qint32 startFailureOffset = -2147221504; // 0x80040000
constexpr int defaultWindowStyle = 6;
std::atomic<int> eventIntervalMs = 100;
// Without pidfd the end cannot be awaited, only polled; poll briskly so the return is prompt.
constexpr int fallbackPollMs = 5;

// Processes RunAndWait waits for. The mutex is also held while a child is reaped, so a kill
// from terminateRunning never reaches a process id the system may have handed on.
struct Running
{
    std::mutex mutex;
    std::vector<pid_t> pids;
    std::vector<const Cancellation*> cancellations; // beside `pids`; null for none
    std::vector<Cancellation*> live; // every Cancellation there is
    // Held from a program's start until it is registered, and for good by endRunning, so
    // that every program started is either seen by it or never started.
    std::mutex startGate;
};

Running& running()
{
    static Running instance;
    return instance;
}

// glibc 2.36's <sys/pidfd.h> lacks C linkage for C++, so the system call is made directly.
// -1 (kernel before 5.3) makes the wait fall back to polling.
int openPidfd(pid_t pid)
{
    return int(syscall(SYS_pidfd_open, pid, 0));
}

// Owns one started child until it is reaped: registered for terminateRunning, and, should the
// wait be left by an exception (from the event hook), killed and reaped so no zombie stays.
class Child
{
public:
    Child(pid_t pid, const Cancellation* cancellation)
        : m_pid(pid)
        , m_pidfd(openPidfd(pid))
    {
        std::lock_guard lock(running().mutex);
        running().pids.push_back(pid);
        running().cancellations.push_back(cancellation);
    }

    ~Child()
    {
        m_pidfd.reset();
        if (m_reaped)
            return;
        std::lock_guard lock(running().mutex);
        kill(m_pid, SIGKILL);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
        unregister();
    }

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reaps the child if it has ended; true then, with its exit code in `exitCode`.
    bool tryReap(qint32& exitCode)
    {
        std::lock_guard lock(running().mutex);
        int status = 0;
        pid_t rc;
        do {
            rc = waitpid(m_pid, &status, WNOHANG);
        } while (rc < 0 && errno == EINTR);
        if (rc == 0)
            return false;
        m_reaped = true;
        unregister();
        if (rc < 0) // someone else collected it: nothing is known of its end
            exitCode = 0;
        else if (WIFEXITED(status))
            exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            exitCode = -WTERMSIG(status);
        else
            exitCode = 0;
        return true;
    }

    // Sends `signal` to the child unless it has been reaped.
    void signal(int signal) const
    {
        std::lock_guard lock(running().mutex);
        if (!m_reaped)
            kill(m_pid, signal);
    }

    // Waits until the child ends, `alsoReadable` (unless -1) has something to read or
    // `timeoutMs` passes, whichever comes first.
    void waitForEnd(int timeoutMs, int alsoReadable) const
    {
        pollfd fds[2];
        nfds_t count = 0;
        if (m_pidfd.valid())
            fds[count++] = { m_pidfd.get(), POLLIN, 0 };
        else
            timeoutMs = std::min(timeoutMs, fallbackPollMs);
        if (alsoReadable >= 0)
            fds[count++] = { alsoReadable, POLLIN, 0 };
        poll(fds, count, timeoutMs);
    }

private:
    void unregister()
    {
        auto& pids = running().pids;
        const auto at = std::find(pids.begin(), pids.end(), m_pid);
        running().cancellations.erase(running().cancellations.begin() + (at - pids.begin()));
        pids.erase(at);
    }

    pid_t m_pid;
    Files::UniqueFd m_pidfd; // -1 without pidfd support
    bool m_reaped = false;
};

// The child's end of a stderr pipe, and ours, read without blocking into an ErrorOutput.
// Without an ErrorOutput, or when no pipe can be had, there is none and the child keeps
// Pictelle's stderr.
class ErrorPipe
{
public:
    explicit ErrorPipe(ErrorOutput* output)
        : m_output(output)
    {
        int ends[2];
        if (!output || pipe2(ends, O_CLOEXEC) != 0)
            return;
        m_read.reset(ends[0]);
        m_write.reset(ends[1]);
        // Only our end: the child's writes must wait for room, not fail.
        fcntl(m_read.get(), F_SETFL, fcntl(m_read.get(), F_GETFL) | O_NONBLOCK);
    }

    int childEnd() const { return m_write.get(); }
    void closeChildEnd() { m_write.reset(); }
    // -1 once the writers have gone (or there never was a pipe): nothing to wait for.
    int readEnd() const { return m_read.get(); }

    // Reads what is there, at most a bounded amount per call, so a child writing without
    // pause cannot hold the wait away from the event hook.
    void drain()
    {
        constexpr int maxReads = 16;
        char buffer[65536];
        for (int i = 0; i < maxReads && m_read.valid(); ++i) {
            const ssize_t n = read(m_read.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return;
            if (n <= 0) { // end of file, or a pipe that cannot be read any more
                m_read.reset();
                return;
            }
            keep(buffer, qsizetype(n));
        }
    }

private:
    void keep(const char* data, qsizetype size)
    {
        const qsizetype room = std::max<qsizetype>(0, m_output->limit - m_output->bytes.size());
        m_output->bytes.append(data, std::min(room, size));
        if (size > room)
            m_output->truncated = true;
    }

    ErrorOutput* m_output;
    Files::UniqueFd m_read;
    Files::UniqueFd m_write;
};

int millisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left
        = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

// A cancelled wait looks again this often for a program that took no notice of SIGTERM.
constexpr int cancelledPollMs = 20;

qint32 runAndWait(const QString& commandLine, std::optional<int> windowStyle, ErrorOutput* output,
    const Cancellation* cancellation)
{
    int style = windowStyle.value_or(defaultWindowStyle);
    if (style < 0 || style > 6)
        style = defaultWindowStyle;
    if (cancellation && cancellation->cancelled()) {
        qCInfo(lcRuntime).noquote() << "not started, cancelled:" << commandLine;
        return startFailureOffset + ErrorNumber::InvalidCall;
    }

    ErrorPipe errors(output);
    // Held from the start until the child is registered, so that endRunning() sees it.
    std::unique_lock gate(running().startGate);
    pid_t pid = 0;
    try {
        pid = pid_t(
            Runtime::Shell(commandLine, style, Runtime::Reaping::ByCaller, errors.childEnd()));
    } catch (const AppError& error) {
        qCInfo(lcRuntime).noquote() << "not started:" << commandLine << "-" << error.description();
        return startFailureOffset + error.number();
    }
    errors.closeChildEnd();
    qCInfo(lcRuntime).noquote() << "started" << pid << commandLine;

    Child child(pid, cancellation);
    gate.unlock();
    qint32 exitCode = 0;
    auto nextEvents = std::chrono::steady_clock::now();
    // Once cancelled: asked to end at once (again, should cancel() have come before the
    // child was registered), killed at `killAt`.
    std::optional<std::chrono::steady_clock::time_point> killAt;
    while (!child.tryReap(exitCode)) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextEvents) {
            Runtime::DoEvents();
            nextEvents = std::chrono::steady_clock::now()
                + std::chrono::milliseconds(eventIntervalMs.load());
        }
        int timeoutMs = millisecondsUntil(nextEvents);
        if (cancellation && cancellation->cancelled()) {
            if (!killAt) {
                child.signal(SIGTERM);
                killAt = now + cancellation->grace();
            } else if (now >= *killAt) {
                child.signal(SIGKILL);
            }
        }
        if (cancellation)
            timeoutMs = std::min(timeoutMs, cancelledPollMs);
        child.waitForEnd(timeoutMs, errors.readEnd());
        errors.drain();
    }
    // All the child wrote is in the pipe by now; a descendant that kept the pipe open is not
    // waited for.
    errors.drain();
    qCInfo(lcRuntime) << "ended" << pid << "with exit code" << exitCode;
    return exitCode;
}

} // namespace

qint32 RunAndWait(const QString& commandLine, std::optional<int> windowStyle)
{
    return runAndWait(commandLine, windowStyle, nullptr, nullptr);
}

qint32 RunAndWait(const QString& commandLine, std::optional<int> windowStyle,
    ErrorOutput& errorOutput, const Cancellation* cancellation)
{
    return runAndWait(commandLine, windowStyle, &errorOutput, cancellation);
}

Cancellation::Cancellation(std::chrono::milliseconds grace)
    : m_grace(grace)
{
    std::lock_guard lock(running().mutex);
    running().live.push_back(this);
}

Cancellation::~Cancellation()
{
    std::lock_guard lock(running().mutex);
    auto& live = running().live;
    live.erase(std::find(live.begin(), live.end(), this));
}

void Cancellation::cancel()
{
    std::lock_guard lock(running().mutex);
    cancelLocked();
}

void cancelAll()
{
    std::lock_guard lock(running().mutex);
    for (Cancellation* cancellation : running().live)
        cancellation->cancelLocked();
}

void Cancellation::cancelLocked()
{
    // Under the mutex: no child of ours is reaped meanwhile, so every id still names it, and
    // a child registered after this sees the flag in its wait.
    m_cancelled = true;
    const Running& r = running();
    for (std::size_t i = 0; i < r.pids.size(); ++i) {
        if (r.cancellations[i] == this)
            kill(r.pids[i], SIGTERM);
    }
}

std::chrono::milliseconds setEventInterval(std::chrono::milliseconds interval)
{
    const int ms = int(std::clamp<std::chrono::milliseconds::rep>(interval.count(), 0, INT_MAX));
    return std::chrono::milliseconds(eventIntervalMs.exchange(ms));
}

void terminateRunning(std::chrono::milliseconds grace)
{
    // Held throughout: nothing is reaped meanwhile, so every id still names our child.
    std::lock_guard lock(running().mutex);
    for (Cancellation* cancellation : running().live)
        cancellation->m_cancelled = true;
    const std::vector<pid_t>& pids = running().pids;
    for (pid_t pid : pids)
        kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    const auto ended = [](pid_t pid) {
        siginfo_t info {};
        return waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0
            || info.si_pid != 0;
    };
    // Polled briskly rather than awaited: the closing window wants its answer at once.
    while (!std::all_of(pids.begin(), pids.end(), ended)
        && std::chrono::steady_clock::now() < deadline)
        poll(nullptr, 0, 2);
    for (pid_t pid : pids) {
        if (!ended(pid))
            kill(pid, SIGKILL);
    }
}

void endRunning(std::chrono::milliseconds grace)
{
    running().startGate.lock(); // never unlocked: the process ends after this
    terminateRunning(grace);
}

void endLeavingNothing()
{
    Files::closeTemporaries();
    endRunning();
    // Again, last: a converter may have been ended before it could remove its own.
    Files::removeTemporaries();
}

} // namespace Shell32
