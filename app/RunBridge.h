// SPDX-License-Identifier: MIT

#pragma once

#include "conversion/ConversionRun.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

// Thrown on the worker when the window has given up on the run, to unwind it quickly. Not an
// AppError, so it passes out of ConversionRun::run.
struct RunAbandoned
{
};

// Carries the run's calls from the worker thread to the window's thread: progress is posted,
// questions are waited for. What is posted runs on the window's thread, never once the bridge
// is abandoned, and never after the window is destroyed (Qt drops the window's pending calls).
class RunBridge : public std::enable_shared_from_this<RunBridge>
{
public:
    // Owned by a std::shared_ptr; `window` gives the thread that the posted calls run on.
    explicit RunBridge(QObject* window);

    // Worker side: queues `onGui` for the window's thread and returns at once. Throws
    // RunAbandoned once abandoned.
    void post(std::function<void()> onGui);
    // Worker side: runs `onGui` on the window's thread and returns its answer. Throws
    // RunAbandoned when the bridge is abandoned before the answer comes, at once, without
    // waiting for it. An exception thrown by `onGui` does not pass into the window's event
    // loop: it is logged as a warning (pictelle.app) and the answer is false, No.
    bool ask(std::function<bool()> onGui);

    // Window side: gives up on the run. A worker waiting in ask() wakes and throws
    // RunAbandoned; calls posted and not yet run never run.
    void abandon();
    bool abandoned();

private:
    QObject* m_window;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_abandoned = false;
};

// What the window shows and asks for a run; each is called on the window's thread.
struct RunWindowSide
{
    std::function<void(float)> showProgress; // 0..100
    std::function<void()> showDone; // the closing message "done"
    // Shows a failure and, when `entriesRemain`, asks whether to go on; true to go on.
    std::function<bool(const AppError& error, bool entriesRemain)> askGoOn;
    std::function<void()> ended; // the run is over; never called once abandoned
};

// A conversion run on a thread of its own, hosted by a window through a RunBridge. The
// percentage and the entry count are read once, at the start: the window locks the slider
// and the list while the run goes on. An AppError or other std::exception that ends the run
// is shown through askGoOn(error, false), the message of a std::exception as AppError 5.
class RunWorker
{
public:
    // The run proper, given the host it reports to: ConversionRun::run in the product.
    using Run = std::function<void(ConversionRun::Host&)>;

    // Starts the thread at once.
    RunWorker(QObject* window, RunWindowSide side, int percentage, int entryCount, Run run);
    // Abandons the run and waits for the thread.
    ~RunWorker();
    RunWorker(const RunWorker&) = delete;
    RunWorker& operator=(const RunWorker&) = delete;

    // The window gives up on the run: see RunBridge::abandon. A converter the run is waiting
    // for is not stopped here (Shell32::terminateRunning does that).
    void abandon();
    // Waits for the thread to end.
    void join();

private:
    std::shared_ptr<RunBridge> m_bridge;
    std::thread m_thread;
};
