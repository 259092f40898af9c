// SPDX-License-Identifier: MIT

// The conversion run's worker thread and the window: what the run reports reaches the window
// on its own thread, failures and answers travel both ways, and a window that gives up on the
// run (closes) never waits for the worker nor hears from it again.
#include "app/RunBridge.h"
#include "conversion/ConversionRun.h"
#include "runtime/AppError.h"
#include "tests/common/FakeRunHost.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

// The window's side of a run: a FakeRunHost records what is shown and answers "go on?";
// every call is checked to come on the window's thread. Lives outside the window object, so
// a call that reached a destroyed window would still be counted.
struct WindowRecord
{
    FakeRunHost shown;
    int ended = 0;
    bool offThread = false; // a call came on another thread than the window's
    std::function<bool()> answer; // replaces shown.goOn when set

    RunWindowSide side()
    {
        RunWindowSide side;
        side.showProgress = [this](float value) {
            check();
            shown.setProgress(value);
        };
        side.showDone = [this] {
            check();
            shown.showDone();
        };
        side.askGoOn = [this](const AppError& error, bool entriesRemain) {
            check();
            const bool goOn = shown.goOnAfter(error, entriesRemain);
            return answer ? answer() : goOn;
        };
        side.ended = [this] {
            check();
            ++ended;
        };
        return side;
    }
    void check()
    {
        offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
    }
};

// Waits for `flag` without running the event loop, so nothing posted to the window runs.
bool waitWithoutEvents(const std::atomic<bool>& flag, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!flag && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag;
}

// Only a guard against a hang: a worker that does not wake fails the test rather than stalling it.
constexpr std::chrono::seconds Prompt { 5 };

// A run body that asks whether to go on after a failed entry, noting how it left.
struct AskingRun
{
    std::atomic<bool> asking { false };
    std::atomic<bool> answered { false };
    std::atomic<bool> unwound { false }; // left through RunAbandoned

    RunWorker::Run body()
    {
        return [this](ConversionRun::Host& host) {
            asking = true;
            try {
                host.goOnAfter(
                    AppError(ErrorNumber::FileNotFound, QStringLiteral("gone.jpg")), true);
                answered = true;
            } catch (const RunAbandoned&) {
                unwound = true;
                throw;
            }
        };
    }
};

} // namespace

class RunBridgeTest : public QObject
{
    Q_OBJECT

private slots:
    void runThatThrows_data();
    void runThatThrows();
    void goOnAfterFailedEntry_data();
    void goOnAfterFailedEntry();
    void answerThatThrows_data();
    void answerThatThrows();
    void abandonWhileWaiting();
    void abandonWhileAnswering();

private:
    bool runMissingThenText(WindowRecord& record);

    QTemporaryDir m_folder; // program folder of the real runs, and their entries
};

// The real run on a worker, over a missing picture and then a text file (passed over), until
// the window hears that it has ended; returns what the run returned.
bool RunBridgeTest::runMissingThenText(WindowRecord& record)
{
    const ConversionRun::Options options { { m_folder.filePath(QStringLiteral("missing.jpg")),
                                               m_folder.filePath(QStringLiteral("notes.txt")) },
        m_folder.path() };
    QObject window;
    std::atomic<bool> completed { false };
    RunWorker worker(&window, record.side(), 40, int(options.entries.size()),
        [&](ConversionRun::Host& host) { completed = ConversionRun::run(options, host); });
    if (!QTest::qWaitFor([&] { return record.ended > 0; }))
        return false; // the caller's look at `ended` says what went wrong
    worker.join();
    return completed;
}

void RunBridgeTest::runThatThrows_data()
{
    QTest::addColumn<bool>("appError");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");
    QTest::newRow("AppError") << true << int(ErrorNumber::FileNotFound)
                              << QStringLiteral("File not found: a.jpg");
    QTest::newRow("std::exception")
        << false << int(ErrorNumber::InvalidCall) << QStringLiteral("plain failure");
}

// A run that throws: the error is shown as the last one, with nothing left to go on with,
// and the run ends.
void RunBridgeTest::runThatThrows()
{
    QFETCH(bool, appError);
    QFETCH(int, number);
    QFETCH(QString, description);

    QObject window;
    WindowRecord record;
    RunWorker worker(&window, record.side(), 40, 1, [&](ConversionRun::Host&) {
        if (appError)
            throw AppError(number, description);
        throw std::runtime_error(description.toStdString());
    });
    QTRY_COMPARE(record.ended, 1);
    worker.join();

    QCOMPARE(record.shown.errors.size(), 1);
    QCOMPARE(record.shown.errors.first().number(), number);
    QCOMPARE(record.shown.errors.first().description(), description);
    QCOMPARE(record.shown.remainFlags, QList<bool> { false });
    QCOMPARE(record.shown.doneShown, 0);
    QVERIFY(!record.offThread);
}

void RunBridgeTest::goOnAfterFailedEntry_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes goes on") << true;
    QTest::newRow("No ends") << false;
}

// The real run over a missing picture and a text file (passed over): the window is asked
// whether to go on after the first; Yes finishes the list with "done", No ends there.
void RunBridgeTest::goOnAfterFailedEntry()
{
    QFETCH(bool, yes);
    WindowRecord record;
    record.shown.goOn = yes;
    QCOMPARE(runMissingThenText(record), yes);
    QCOMPARE(record.ended, 1);
    QCOMPARE(record.shown.errors.size(), 1);
    QCOMPARE(record.shown.errors.first().number(), int(ErrorNumber::FileNotFound));
    QCOMPARE(record.shown.remainFlags, QList<bool> { true });
    QCOMPARE(record.shown.progress, yes ? QList<float>({ 50.0f, 100.0f }) : QList<float> { 50.0f });
    QCOMPARE(record.shown.doneShown, yes ? 1 : 0);
    QVERIFY(!record.offThread);
}

void RunBridgeTest::answerThatThrows_data()
{
    QTest::addColumn<bool>("standard");
    QTest::addColumn<QString>("warning");
    QTest::newRow("std::exception")
        << true << QStringLiteral("failed: the dialog broke; taken as No");
    QTest::newRow("unknown type") << false
                                  << QStringLiteral("exception of unknown type; taken as No");
}

// The window's answer throws: the exception does not pass into the event loop, it is logged,
// and the run takes it as No and ends without "done".
void RunBridgeTest::answerThatThrows()
{
    QFETCH(bool, standard);
    QFETCH(QString, warning);
    WindowRecord record;
    record.answer = [standard]() -> bool {
        if (standard)
            throw std::runtime_error("the dialog broke");
        throw 42;
    };
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
    QVERIFY(!runMissingThenText(record));
    QCOMPARE(record.ended, 1);
    QCOMPARE(record.shown.errors.size(), 1);
    QCOMPARE(record.shown.doneShown, 0);
}

// The window closes while the worker waits for an answer that the window has not even begun
// to give: the worker unwinds at once, and neither the question nor the run's end reaches
// the window, which lives on and runs its events after giving up.
void RunBridgeTest::abandonWhileWaiting()
{
    QObject window;
    WindowRecord record;
    AskingRun run;
    RunWorker worker(&window, record.side(), 40, 2, run.body());
    QVERIFY(waitWithoutEvents(run.asking, Prompt));
    // Let the worker reach its wait; had it not yet, the abandoned bridge stops it all the same.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    worker.abandon();
    if (!waitWithoutEvents(run.unwound, Prompt))
        qFatal("the worker still waits for an answer after the window gave up");
    worker.join();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();

    QVERIFY(!run.answered);
    QVERIFY(record.shown.errors.isEmpty());
    QCOMPARE(record.ended, 0);
}

// The window closes while its question is on screen (a message box's own event loop): the
// worker unwinds without waiting for the answer, and the run's end is never reported.
void RunBridgeTest::abandonWhileAnswering()
{
    QObject window;
    WindowRecord record;
    AskingRun run;
    RunWorker* running = nullptr;
    bool unwoundBeforeAnswer = false;
    record.answer = [&] {
        running->abandon();
        unwoundBeforeAnswer = waitWithoutEvents(run.unwound, Prompt);
        return true;
    };
    RunWorker worker(&window, record.side(), 40, 2, run.body());
    running = &worker;
    QTRY_COMPARE(record.shown.errors.size(), 1);
    if (!unwoundBeforeAnswer)
        qFatal("the worker waited for an answer after the window gave up");
    worker.join();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();

    QVERIFY(!run.answered);
    QCOMPARE(record.ended, 0);
    QVERIFY(!record.offThread);
}

QTEST_GUILESS_MAIN(RunBridgeTest)
#include "tst_runbridge.moc"
