// SPDX-License-Identifier: MIT

// pictelle-batch: Pictelle's conversion run without its window, for scripts and for machines
// without a display. It lies beside the pictelle executable and uses the same converters,
// scratch files and remembered percentage.

#include "conversion/ConversionRun.h"
#include "conversion/Percentage.h"
#include "runtime/Runtime.h"
#include "runtime/Shell32.h"
#include "runtime/Translations.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
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
    if (stopsReceived.fetch_add(1) != 0)
        endAtOnce(signal);
    stopSignal = signal;
    // What is read ahead will not be written: its reading programs end now, not when done.
    Shell32::cancelAll();
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

const char* const Help = R"(Usage: pictelle-batch [OPTION]... FILE...
  or:  pictelle-batch [OPTION]... --files-from LIST [FILE]...

Makes a thumbnail of each BMP, JPEG, PNG, WebP, TIFF, GIF, HEIC/HEIF, AVIF and
JPEG XL file, in the order given, as Pictelle's "Convert to Thumbnail" does: the
picture scaled to PERCENT of its width and height, written beside it as t<name>
in its own format (a JPEG with quality PERCENT). A camera raw file (.dng .cr2
.cr3 .nef .nrw .arw .srf .sr2 .orf .rw2 .raf .pef .srw .3fr .iiq .mrw .erf) gets
a JPEG t<name>.jpg. An existing thumbnail is replaced; the files themselves are
never changed. Two files that would give the same thumbnail are reported and
nothing is converted.

Options:
  -p, --percentage PERCENT  size per side in percent, 1 to 100; without it, the
                            percentage last chosen in Pictelle's window (40 at first)
  -k, --keep-going          after a file fails, go on with the remaining ones
  -o, --output-dir DIR      write the thumbnails into DIR (which must exist), still
                            named t<name>; two files that would give the same
                            thumbnail there are reported and nothing is converted
  -u, --update              pass over a file whose thumbnail exists and is not older
                            than the file, as cp -u does; the end says how many
                            were converted and passed over
      --files-from LIST     also convert the files named in LIST, one per line
                            ("-": standard input), after those on the command line
  -0, --null                names in LIST end with a NUL character, not a newline
                            (as find -print0 writes them)
  -h, --help                show this help and exit
  -V, --version             show the version and exit

Prints "done" when the run reaches its end. Interrupted (Ctrl-C, a termination
signal), it stops before the next file and keeps the thumbnails already written.
Exit status: 0 when every file was converted (or passed over), 1 when a file
failed (its message on standard error), 2 on wrong usage (also a missing output
folder or files that would share a thumbnail), 128 + the signal's number when
interrupted.
)";

// Answers the run as the window would: "done" on standard output, a failure's message on
// standard error, and a progress line on a terminal. With a summary, "done" also says how
// many files were converted and passed over (`passedOver` before the run began).
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

    void summarise(qsizetype passedOver)
    {
        m_summary = true;
        m_passedOver = passedOver;
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
        if (m_summary)
            printSummary();
        else
            std::fputs("done\n", stdout);
        std::fflush(stdout);
    }

    bool goOnAfter(const AppError& error, bool entriesRemain) override
    {
        clearProgress();
        // A converter gets the terminal's interrupt too; its failure is no news then.
        if (stopRequested())
            return false;
        std::fprintf(stderr, "pictelle-batch: %s\n",
            qPrintable(Translations::errorDescription(error.description())));
        ++m_failures;
        return m_keepGoing && entriesRemain;
    }

    bool failed() const { return m_failures > 0; }
    bool doneShown() const { return m_doneShown; }

    // Takes the progress line off the terminal before anything else is said.
    void clearProgress()
    {
        if (m_showProgress && m_started > 0)
            std::fputs("\r\033[K", stderr);
    }

private:
    void printSummary() const
    {
        const auto pictures
            = std::count_if(m_entries.cbegin(), m_entries.cend(), &ConversionRun::makesThumbnail);
        const qsizetype others = m_entries.size() - pictures;
        std::printf("done: %lld converted, %lld passed over",
            static_cast<long long>(pictures - m_failures),
            static_cast<long long>(m_passedOver + others));
        if (m_failures > 0)
            std::printf(", %d failed", m_failures);
        std::fputc('\n', stdout);
    }

    int m_percentage;
    QStringList m_entries;
    bool m_keepGoing;
    bool m_showProgress;
    qsizetype m_started = 0;
    int m_failures = 0;
    bool m_doneShown = false;
    bool m_summary = false;
    qsizetype m_passedOver = 0;
};

// What the command line asks for.
struct Request
{
    int percentage = 0;
    QStringList entries; // full paths, in order
    QString outputFolder; // empty: beside each source
    bool keepGoing = false;
    bool update = false;
    bool fromList = false; // names came from --files-from: an empty list is no mistake
};

// A wrong command line: the message, said with the usage hint, ends the program with status 2.
struct UsageError
{
    QString message;
};

int usageError(const QString& message)
{
    std::fprintf(stderr, "pictelle-batch: %s\n%s\n", qPrintable(message),
        qPrintable(QCoreApplication::translate("pictelle-batch", "Try 'pictelle-batch --help'.")));
    return Usage;
}

// The window's list holds full paths; a relative name is taken from the current folder.
QString entryPath(const QString& argument)
{
    return QDir::isAbsolutePath(argument) ? argument
                                          : QDir::currentPath() + QLatin1Char('/') + argument;
}

// The names in `list` ("-": standard input), each ended by `separator` (the last one may
// lack it); empty names are left out. Names are bytes, decoded as the file system's names.
QStringList namesFrom(const QString& list, char separator)
{
    QFile file;
    const bool opened = list == QLatin1String("-")
        ? file.open(STDIN_FILENO, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)
        : (file.setFileName(list), file.open(QIODevice::ReadOnly));
    if (!opened)
        throw UsageError { QCoreApplication::translate(
            "pictelle-batch", "cannot read the list %1: %2")
                               .arg(list, file.errorString()) };
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw UsageError { QCoreApplication::translate(
            "pictelle-batch", "cannot read the list %1: %2")
                               .arg(list, file.errorString()) };
    QStringList names;
    for (const QByteArray& name : bytes.split(separator)) {
        if (!name.isEmpty())
            names.append(entryPath(QFile::decodeName(name)));
    }
    return names;
}

int percentageFrom(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    if (!parser.isSet(option))
        return Percentage::remembered();
    bool ok = false;
    const QString text = parser.value(option);
    const int percentage = text.toInt(&ok, 10);
    if (!ok || percentage < 1 || percentage > 100)
        throw UsageError { QCoreApplication::translate(
            "pictelle-batch", "the percentage must be a whole number from 1 to 100, not '%1'")
                               .arg(text) };
    return percentage;
}

// Refuses an output folder that is none, and sources that would share a thumbnail, there or
// beside them (IMG_1.CR2 and IMG_1.CR2.jpg): one would silently replace the other.
void checkOutput(const Request& request)
{
    if (!request.outputFolder.isEmpty() && !QFileInfo(request.outputFolder).isDir())
        throw UsageError { QCoreApplication::translate(
            "pictelle-batch", "the output folder %1 is not a folder")
                               .arg(request.outputFolder) };
    const auto clashes = ConversionRun::thumbnailClashes(request.entries, request.outputFolder);
    if (clashes.isEmpty())
        return;
    for (const ConversionRun::Clash& clash : clashes)
        std::fprintf(stderr, "pictelle-batch: %s\n",
            qPrintable(QCoreApplication::translate(
                "pictelle-batch", "%1 would be the thumbnail of each of: %2")
                           .arg(clash.thumbnail, clash.sources.join(QStringLiteral(", ")))));
    throw UsageError { QCoreApplication::translate(
        "pictelle-batch", "files would share a thumbnail; nothing was converted") };
}

// Whether `path`'s thumbnail exists and is not older than it, to the nanosecond. As cp -u,
// which copies only when the source is newer than the destination.
bool upToDate(const QString& path, const QString& outputFolder)
{
    if (!ConversionRun::makesThumbnail(path))
        return false;
    const QString thumbnail = ConversionRun::thumbnailPath(path, outputFolder);
    struct stat source, made;
    if (::stat(QFile::encodeName(path).constData(), &source) != 0
        || ::stat(QFile::encodeName(thumbnail).constData(), &made) != 0 || !S_ISREG(made.st_mode))
        return false;
    return std::tie(made.st_mtim.tv_sec, made.st_mtim.tv_nsec)
        >= std::tie(source.st_mtim.tv_sec, source.st_mtim.tv_nsec);
}

struct Parsed
{
    std::optional<int> status; // set: end with it (help, version)
    Request request;
};

Parsed parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption percentageOption(
        { QStringLiteral("p"), QStringLiteral("percentage") }, {}, QStringLiteral("PERCENT"));
    const QCommandLineOption keepGoingOption(
        { QStringLiteral("k"), QStringLiteral("keep-going") }, {});
    const QCommandLineOption outputOption(
        { QStringLiteral("o"), QStringLiteral("output-dir") }, {}, QStringLiteral("DIR"));
    const QCommandLineOption updateOption({ QStringLiteral("u"), QStringLiteral("update") }, {});
    const QCommandLineOption listOption(QStringLiteral("files-from"), {}, QStringLiteral("LIST"));
    const QCommandLineOption nullOption({ QStringLiteral("0"), QStringLiteral("null") }, {});
    const QCommandLineOption helpOption({ QStringLiteral("h"), QStringLiteral("help") }, {});
    const QCommandLineOption versionOption({ QStringLiteral("V"), QStringLiteral("version") }, {});
    parser.addOptions({ percentageOption, keepGoingOption, outputOption, updateOption, listOption,
        nullOption, helpOption, versionOption });
    if (!parser.parse(arguments))
        throw UsageError { parser.errorText() };
    if (parser.isSet(helpOption)) {
        std::fputs(Help, stdout);
        return { Done, {} };
    }
    if (parser.isSet(versionOption)) {
        std::printf("pictelle-batch %s\n", PICTELLE_VERSION);
        return { Done, {} };
    }
    if (parser.isSet(nullOption) && !parser.isSet(listOption))
        throw UsageError { QCoreApplication::translate(
            "pictelle-batch", "-0 applies to the names of --files-from") };

    Request request;
    request.percentage = percentageFrom(parser, percentageOption);
    request.keepGoing = parser.isSet(keepGoingOption);
    request.update = parser.isSet(updateOption);
    if (parser.isSet(outputOption))
        request.outputFolder = entryPath(parser.value(outputOption));
    for (const QString& argument : parser.positionalArguments())
        request.entries.append(entryPath(argument));
    request.fromList = parser.isSet(listOption);
    if (request.fromList)
        request.entries += namesFrom(parser.value(listOption), parser.isSet(nullOption) ? 0 : '\n');
    if (request.entries.isEmpty() && !request.fromList)
        throw UsageError { QCoreApplication::translate("pictelle-batch", "no files given") };
    checkOutput(request);
    return { {}, request };
}

int convert(const Request& request)
{
    QStringList entries = request.entries;
    if (request.update)
        entries.removeIf([&](const QString& e) { return upToDate(e, request.outputFolder); });
    BatchHost host(request.percentage, entries, request.keepGoing);
    if (request.update)
        host.summarise(request.entries.size() - entries.size());
    if (entries.isEmpty()) {
        // The run says nothing over an empty list; a list that named nothing left to do is done.
        host.showDone();
        return Done;
    }
    try {
        const bool completed
            = ConversionRun::run({ entries, Runtime::AppPath(), request.outputFolder }, host);
        if (stopRequested() && !host.doneShown())
            throw Interrupted {};
        return completed && !host.failed() ? Done : Failed;
    } catch (const Interrupted&) {
        host.clearProgress();
        std::fprintf(stderr, "pictelle-batch: %s\n",
            qPrintable(QCoreApplication::translate(
                "pictelle-batch", "interrupted; the thumbnails written so far are kept")));
        return 128 + stopSignal;
    } catch (const AppError& e) {
        std::fprintf(stderr, "pictelle-batch: %s\n",
            qPrintable(Translations::errorDescription(e.description())));
        return Failed;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    takeStopSignals();
    QCoreApplication app(argc, argv);
    // Messages on standard error speak the user's language; what scripts read on standard
    // output, and the exit statuses, stay as they are.
    Translations::install(app);
    Parsed parsed;
    try {
        parsed = parseCommandLine(app.arguments());
    } catch (const UsageError& e) {
        return usageError(e.message);
    }
    if (parsed.status)
        return *parsed.status;
    return convert(parsed.request);
}
