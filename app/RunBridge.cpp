// SPDX-License-Identifier: MIT

#include "app/RunBridge.h"

#include "runtime/Logging.h"

#include <QMetaObject>
#include <QObject>
#include <exception>

namespace {

// Runs a call the worker sent on the window's thread. Nothing may pass from it into the
// event loop, and a worker waiting for the answer must get one: a call that throws is
// reported and answers false. `catch (...)` is needed for that, so it says what it caught.
bool guarded(const std::function<bool()>& onGui) noexcept
{
    try {
        return onGui();
    } catch (const std::exception& error) {
        qCWarning(lcApp, "The window's side of the conversion run failed: %s; taken as No.",
            error.what());
    } catch (...) {
        qCWarning(lcApp,
            "The window's side of the conversion run failed with an exception of unknown type; "
            "taken as No.");
    }
    return false;
}

// The run's host on the worker thread: every call goes over the bridge to the window.
class WindowHost : public ConversionRun::Host
{
public:
    WindowHost(
        RunBridge& bridge, std::shared_ptr<const RunWindowSide> side, int percentage, int count)
        : m_bridge(bridge)
        , m_side(std::move(side))
        , m_percentage(percentage)
        , m_count(count)
    {
    }

    int percentage() override { return m_percentage; }
    int entryCount() override { return m_count; }
    void setProgress(float value) override
    {
        m_bridge.post([side = m_side, value] { side->showProgress(value); });
    }
    void showDone() override
    {
        m_bridge.ask([side = m_side] {
            side->showDone();
            return true;
        });
    }
    bool goOnAfter(const AppError& error, bool entriesRemain) override
    {
        return m_bridge.ask(
            [side = m_side, error, entriesRemain] { return side->askGoOn(error, entriesRemain); });
    }

private:
    RunBridge& m_bridge;
    // Shared with the calls posted to the window, which may run after the worker has ended.
    std::shared_ptr<const RunWindowSide> m_side;
    int m_percentage;
    int m_count;
};

// Shows the error that ended the run, unless the window has given up on it.
void tellFailure(
    RunBridge& bridge, const std::shared_ptr<const RunWindowSide>& side, const AppError& error)
{
    try {
        bridge.ask([side, error] { return side->askGoOn(error, false); });
    } catch (const RunAbandoned&) {
    }
}

// The worker thread's body.
void work(const std::shared_ptr<RunBridge>& bridge,
    const std::shared_ptr<const RunWindowSide>& side, int percentage, int count,
    const RunWorker::Run& run)
{
    WindowHost host(*bridge, side, percentage, count);
    try {
        run(host);
    } catch (const RunAbandoned&) {
    } catch (const AppError& error) {
        tellFailure(*bridge, side, error);
    } catch (const std::exception& error) {
        tellFailure(*bridge, side,
            AppError(ErrorNumber::InvalidCall, QString::fromLocal8Bit(error.what())));
    }
    try {
        bridge->post([side] { side->ended(); });
    } catch (const RunAbandoned&) {
    }
}

} // namespace

RunBridge::RunBridge(QObject* window)
    : m_window(window)
{
}

void RunBridge::post(std::function<void()> onGui)
{
    if (abandoned())
        throw RunAbandoned {};
    QMetaObject::invokeMethod(
        m_window,
        [self = shared_from_this(), onGui = std::move(onGui)] {
            if (!self->abandoned())
                guarded([&] {
                    onGui();
                    return true;
                });
        },
        Qt::QueuedConnection);
}

bool RunBridge::ask(std::function<bool()> onGui)
{
    struct Reply
    {
        bool ready = false;
        bool value = false;
    };
    auto reply = std::make_shared<Reply>();
    post([self = shared_from_this(), reply, onGui = std::move(onGui)] {
        const bool value = guarded(onGui);
        {
            std::lock_guard lock(self->m_mutex);
            reply->value = value;
            reply->ready = true;
        }
        self->m_changed.notify_all();
    });
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return reply->ready || m_abandoned; });
    if (!reply->ready)
        throw RunAbandoned {};
    return reply->value;
}

void RunBridge::abandon()
{
    {
        std::lock_guard lock(m_mutex);
        m_abandoned = true;
    }
    m_changed.notify_all();
}

bool RunBridge::abandoned()
{
    std::lock_guard lock(m_mutex);
    return m_abandoned;
}

RunWorker::RunWorker(QObject* window, RunWindowSide side, int percentage, int entryCount, Run run)
    : m_bridge(std::make_shared<RunBridge>(window))
    , m_thread([bridge = m_bridge, side = std::make_shared<const RunWindowSide>(std::move(side)),
                   percentage, entryCount,
                   run = std::move(run)] { work(bridge, side, percentage, entryCount, run); })
{
}

RunWorker::~RunWorker()
{
    abandon();
    join();
}

void RunWorker::abandon()
{
    m_bridge->abandon();
}

void RunWorker::join()
{
    if (m_thread.joinable())
        m_thread.join();
}
