// SPDX-License-Identifier: MIT

// pictelle-batch: Pictelle's conversion run without its window, for scripts and for machines
// without a display. It lies beside the pictelle executable and uses the same converters,
// scratch files and remembered percentage.

#include "conversion/ConversionRun.h"
#include "conversion/Percentage.h"
#include "runtime/Runtime.h"
#include "runtime/Shell32.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

// Exit statuses, as the help text tells them.
enum Status { Done = 0, Failed = 1, Usage = 2 };

// The signal that asked the run to stop. Stopping between entries, never inside one, leaves
// no half-made thumbnail or stray temporary file beside the user's pictures; a second
// signal ends the program at once.
std::atomic<int> stopSignal = 0;
std::atomic<int> stopsReceived = 0;
const int stopSignals[] = { SIGINT, SIGTERM, SIGHUP };
sigset_t stopSet;

// Ends the program at once on a second stop signal, leaving no temporary file and no
// converter behind, and ended by the signal, as without the watcher thread.
[[noreturn]] void endAtOnce(int signal)
{
    Shell32::endLeavingNothing();
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signal);
    std::_Exit(128 + signal);
}

// A stop signal taken by either thread: the first asks the run to stop, the second ends it.
void noteStop(int signal)
{
    if (stopsReceived.fetch_add(1) == 0)
        stopSignal = signal;
    else
        endAtOnce(signal);
}

// The stop signals are blocked in every thread and taken here instead, so that the second
// one can wait for the converter and for writers on other threads, which a handler cannot.
void watchSignals()
{
    for (;;) {
        int signal = 0;
        if (sigwait(&stopSet, &signal) == 0)
            noteStop(signal);
    }
}

// Called before any other thread exists: they all inherit the blocked set.
void takeStopSignals()
{
    sigemptyset(&stopSet);
    for (int signal : stopSignals)
        sigaddset(&stopSet, signal);
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    std::thread(watchSignals).detach();
}

// The stop signal, if one has come. A Ctrl-C reaches the converter too, whose end the run
// may see before the watcher thread has taken the signal: one still pending is taken here.
int stopRequested()
{
    if (const int signal = stopSignal)
        return signal;
    const timespec now {};
    const int signal = sigtimedwait(&stopSet, nullptr, &now);
    if (signal > 0)
        noteStop(signal);
    return stopSignal;
}

struct Interrupted
{
};

const char* const Help = R"(Usage: pictelle-batch [-p PERCENT] [--keep-going] FILE...

Makes a thumbnail of each BMP, JPEG and PNG file, in the order given, exactly as
Pictelle's "Convert to Thumbnail" does: the picture scaled to PERCENT of its width
and height, written beside it as t<name> in its own format (a JPEG with quality
PERCENT). An existing t<name> is replaced; the files themselves are never changed.

Options:
  -p, --percentage PERCENT  size per side in percent, 1 to 100; without it, the
                            percentage last chosen in Pictelle's window (40 at first)
  -k, --keep-going          after a file fails, go on with the remaining ones
  -h, --help                show this help and exit
  -V, --version             show the version and exit

Prints "done" when the run reaches its end. Interrupted (Ctrl-C, a termination
signal), it stops before the next file and keeps the thumbnails already written.
Exit status: 0 when every file was converted, 1 when a file failed (its message on
standard error), 2 on wrong usage, 128 + the signal's number when interrupted.
)";

// Answers the run as the window would: "done" on standard output, a failure's message on
// standard error, and a progress line on a terminal.
class BatchHost : public ConversionRun::Host
{
public:
    BatchHost(int percentage, const QStringList& entries, bool keepGoing)
        : m_percentage(percentage)
        , m_entries(entries)
        , m_keepGoing(keepGoing)
        , m_showProgress(::isatty(STDERR_FILENO) == 1)
    {
    }

    int percentage() override { return m_percentage; }
    int entryCount() override { return int(m_entries.size()); }

    // Called once before each entry, so the calls count the entries.
    void setProgress(float value) override
    {
        if (stopRequested())
            throw Interrupted {};
        const qsizetype index = m_started++;
        if (!m_showProgress || index >= m_entries.size())
            return;
        const QString name = QFileInfo(m_entries.at(index)).fileName();
        std::fprintf(stderr, "\r\033[K[%lld/%lld] %3d%% %s", static_cast<long long>(index + 1),
            static_cast<long long>(m_entries.size()), int(value), qPrintable(name));
        std::fflush(stderr);
    }

    void showDone() override
    {
        m_doneShown = true;
        clearProgress();
        std::fputs("done\n", stdout);
        std::fflush(stdout);
    }

    bool goOnAfter(const AppError& error, bool entriesRemain) override
    {
        clearProgress();
        // A converter gets the terminal's interrupt too; its failure is no news then.
        if (stopRequested())
            return false;
        std::fprintf(stderr, "pictelle-batch: %s\n", qPrintable(error.description()));
        m_failed = true;
        return m_keepGoing && entriesRemain;
    }

    bool failed() const { return m_failed; }
    bool doneShown() const { return m_doneShown; }

    // Takes the progress line off the terminal before anything else is said.
    void clearProgress()
    {
        if (m_showProgress && m_started > 0)
            std::fputs("\r\033[K", stderr);
    }

private:
    int m_percentage;
    QStringList m_entries;
    bool m_keepGoing;
    bool m_showProgress;
    qsizetype m_started = 0;
    bool m_failed = false;
    bool m_doneShown = false;
};

int usageError(const QString& message)
{
    std::fprintf(stderr, "pictelle-batch: %s\nTry 'pictelle-batch --help'.\n", qPrintable(message));
    return Usage;
}

// The window's list holds full paths; a relative name is taken from the current folder.
QString entryPath(const QString& argument)
{
    return QDir::isAbsolutePath(argument) ? argument
                                          : QDir::currentPath() + QLatin1Char('/') + argument;
}

} // namespace

int main(int argc, char* argv[])
{
    takeStopSignals();
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    const QCommandLineOption percentageOption(
        { QStringLiteral("p"), QStringLiteral("percentage") }, {}, QStringLiteral("PERCENT"));
    const QCommandLineOption keepGoingOption(
        { QStringLiteral("k"), QStringLiteral("keep-going") }, {});
    const QCommandLineOption helpOption({ QStringLiteral("h"), QStringLiteral("help") }, {});
    const QCommandLineOption versionOption({ QStringLiteral("V"), QStringLiteral("version") }, {});
    parser.addOptions({ percentageOption, keepGoingOption, helpOption, versionOption });
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(Help, stdout);
        return Done;
    }
    if (parser.isSet(versionOption)) {
        std::printf("pictelle-batch %s\n", PICTELLE_VERSION);
        return Done;
    }

    int percentage = 0;
    if (parser.isSet(percentageOption)) {
        bool ok = false;
        const QString text = parser.value(percentageOption);
        percentage = text.toInt(&ok, 10);
        if (!ok || percentage < 1 || percentage > 100)
            return usageError(
                QStringLiteral("the percentage must be a whole number from 1 to 100, not '%1'")
                    .arg(text));
    } else {
        percentage = Percentage::remembered();
    }

    QStringList entries;
    for (const QString& argument : parser.positionalArguments())
        entries.append(entryPath(argument));
    if (entries.isEmpty())
        return usageError(QStringLiteral("no files given"));

    BatchHost host(percentage, entries, parser.isSet(keepGoingOption));
    try {
        const bool completed = ConversionRun::run({ entries, Runtime::AppPath() }, host);
        if (stopRequested() && !host.doneShown())
            throw Interrupted {};
        return completed && !host.failed() ? Done : Failed;
    } catch (const Interrupted&) {
        host.clearProgress();
        std::fputs("pictelle-batch: interrupted; the thumbnails written so far are kept\n", stderr);
        return 128 + stopSignal;
    } catch (const AppError& e) {
        std::fprintf(stderr, "pictelle-batch: %s\n", qPrintable(e.description()));
        return Failed;
    }
}
