// SPDX-License-Identifier: MIT

#include "runtime/Runtime.h"
#include "runtime/Shell32.h"
#include "runtime/ShortFilename.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// This executable is also the program that the tests start: called with "--helper" as first
// argument it does one small job instead of running the tests.
//   --helper exit <code>           ends with <code>
//   --helper sleep <ms> <code>     sleeps, then ends with <code>
//   --helper deaf <file> <ms>      ignores SIGTERM, makes <file> to say so, then sleeps
//   --helper argv <file> <args..>  writes each further argument to <file>, each ended by NUL
//   --helper fds <file>            writes the numbers of its open descriptors to <file>
//   --helper stderr <bytes> <code> writes <bytes> bytes of numbered lines to stderr, then
//                                  ends with <code>
//   --helper gate <fifo> <code>    ends with <code> once a byte arrives through <fifo>; with
//                                  99 when none has come after a minute or the writer is gone
namespace {

int waitAtGate(const char* fifo, int code)
{
    const int fd = open(fifo, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 105;
    pollfd ready { fd, POLLIN, 0 };
    char byte = 0;
    const bool let = poll(&ready, 1, 60000) == 1 && read(fd, &byte, 1) == 1;
    close(fd);
    return let ? code : 99;
}

int helperMain(int argc, char** argv)
{
    if (argc < 4)
        return 100;
    const std::string job = argv[2];
    if (job == "exit")
        return std::atoi(argv[3]);
    if (job == "stderr" && argc >= 5) {
        std::setvbuf(stderr, nullptr, _IOFBF, 65536);
        long left = std::atol(argv[3]);
        for (long line = 0; left > 0; ++line) {
            const std::string text = "line " + std::to_string(line) + '\n';
            const size_t n = std::min<size_t>(size_t(left), text.size());
            if (std::fwrite(text.data(), 1, n, stderr) != n)
                return 106;
            left -= long(n);
        }
        return std::atoi(argv[4]);
    }
    if (job == "gate" && argc >= 5)
        return waitAtGate(argv[3], std::atoi(argv[4]));
    if (job == "deaf" && argc >= 5) {
        std::signal(SIGTERM, SIG_IGN);
        const int fd = open(argv[3], O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return 106;
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[4])));
        return 0;
    }
    if (job == "sleep" && argc >= 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[3])));
        return std::atoi(argv[4]);
    }
    std::string out;
    if (job == "argv") {
        for (int i = 4; i < argc; ++i)
            out.append(argv[i]).push_back('\0');
    } else if (job == "fds") {
        DIR* dir = opendir("/proc/self/fd");
        if (!dir)
            return 101;
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                out.append(entry->d_name).push_back(' ');
        }
        closedir(dir);
    } else {
        return 102;
    }
    FILE* file = std::fopen(argv[3], "wb");
    if (!file)
        return 103;
    std::fwrite(out.data(), 1, out.size(), file);
    return std::fclose(file) == 0 ? 0 : 104;
}

QString helper(const QString& job)
{
    return Runtime::quoteArgument(QCoreApplication::applicationFilePath()) + " --helper " + job;
}

constexpr qint32 startFailure = -2147221504;

// A named pipe that a "gate" helper waits at until the test opens it.
class Gate
{
public:
    Gate()
    {
        const QByteArray name = QFile::encodeName(path());
        // Held open for reading and writing, the pipe neither blocks the helper's open nor
        // loses the byte should it come before the helper is there.
        if (m_dir.isValid() && mkfifo(name.constData(), 0600) == 0)
            m_fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
    }
    ~Gate()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    bool isValid() const { return m_fd >= 0; }
    QString path() const { return m_dir.filePath("gate"); }
    // The helper's command line: waits at this gate, then ends with `code`.
    QString helperJob(int code) const
    {
        return "gate " + Runtime::quoteArgument(path()) + ' ' + QString::number(code);
    }
    void open() const
    {
        const char byte = 1;
        QCOMPARE(write(m_fd, &byte, 1), ssize_t(1));
    }

private:
    QTemporaryDir m_dir;
    int m_fd = -1;
};

// Sets the wait's event interval while it lives.
class EventInterval
{
public:
    explicit EventInterval(std::chrono::milliseconds interval)
        : m_previous(Shell32::setEventInterval(interval))
    {
    }
    ~EventInterval() { Shell32::setEventInterval(m_previous); }

private:
    std::chrono::milliseconds m_previous;
};

} // namespace

class TestShell32 : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void exitCodes_data();
    void exitCodes();
    void startFailures_data();
    void startFailures();
    void windowStyles_data();
    void windowStyles();
    void eventsRunDuringWait();
    void returnsPromptlyAfterEnd();
    void argumentsReachProgramWhole();
    void descriptorsNotInherited();
    void terminateRunningStopsWait_data();
    void terminateRunningStopsWait();
    void failingHookStillReaps();
    void shortName();
    void errorOutputCaptured_data();
    void errorOutputCaptured();
};

void TestShell32::cleanup()
{
    Runtime::setDoEventsHook({});
    // Every started child must have been reaped: nothing is left for waitpid.
    int status = 0;
    QCOMPARE(waitpid(-1, &status, WNOHANG), -1);
    QCOMPARE(errno, ECHILD);
}

void TestShell32::exitCodes_data()
{
    QTest::addColumn<QString>("job");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero") << "exit 0" << 0;
    QTest::newRow("three") << "exit 3" << 3;
    QTest::newRow("255") << "exit 255" << 255;
    // Linux keeps the low 8 bits: a program can never report 259 ("still running") there.
    QTest::newRow("259 arrives as 3") << "exit 259" << 3;
    QTest::newRow("still running at first look") << "sleep 300 3" << 3;
}

void TestShell32::exitCodes()
{
    QFETCH(QString, job);
    QFETCH(int, expected);
    QCOMPARE(Shell32::RunAndWait(helper(job), 0), expected);
}

void TestShell32::startFailures_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<int>("errorNumber");
    QTest::newRow("missing program") << "/nonexistent/png2bmp -O a b" << 53;
    QTest::newRow("missing program in PATH") << "pictelle-missing-converter" << 53;
    QTest::newRow("folder as program") << "/tmp" << 70;
    QTest::newRow("empty") << "" << 5;
    QTest::newRow("unterminated quote") << "\"/bin/true" << 5;
}

void TestShell32::startFailures()
{
    QFETCH(QString, commandLine);
    QFETCH(int, errorNumber);
    int hookCalls = 0;
    Runtime::setDoEventsHook([&hookCalls] { ++hookCalls; });
    QCOMPARE(Shell32::RunAndWait(commandLine, 0), startFailure + errorNumber);
    QCOMPARE(hookCalls, 0); // nothing was waited for
}

void TestShell32::windowStyles_data()
{
    QTest::addColumn<std::optional<int>>("style");
    QTest::newRow("missing") << std::optional<int>();
    QTest::newRow("hidden") << std::optional<int>(0);
    QTest::newRow("five passes") << std::optional<int>(5);
    QTest::newRow("seven acts as six") << std::optional<int>(7);
    QTest::newRow("negative acts as six") << std::optional<int>(-1);
}

void TestShell32::windowStyles()
{
    QFETCH(std::optional<int>, style);
    QCOMPARE(Shell32::RunAndWait(helper("exit 4"), style), 4);
}

void TestShell32::eventsRunDuringWait()
{
    // The program ends only when the hook, at its fifth call, lets it: a wait that processes
    // events once or never meanwhile leaves it to give up with 99. (How often the hook runs
    // is measured by bench/shell32.)
    Gate gate;
    QVERIFY(gate.isValid());
    int hookCalls = 0;
    Runtime::setDoEventsHook([&] {
        if (++hookCalls == 5)
            gate.open();
    });
    QCOMPARE(Shell32::RunAndWait(helper(gate.helperJob(6)), 0), 6);

    // On a worker thread the GUI's hook is not called.
    hookCalls = 0;
    qint32 result = -1;
    std::thread([&result] { result = Shell32::RunAndWait(helper("sleep 200 2"), 0); }).join();
    QCOMPARE(result, 2);
    QCOMPARE(hookCalls, 0);
}

void TestShell32::returnsPromptlyAfterEnd()
{
    // Events only once an hour: the program, let go at the first turn, must end the wait by
    // ending. A wait built on sleeping between looks sits out the hour until Qt's watchdog
    // fails the test. (The latency is measured by bench/shell32.)
    const EventInterval hourly(std::chrono::hours(1));
    Gate gate;
    QVERIFY(gate.isValid());
    bool opened = false;
    Runtime::setDoEventsHook([&] {
        if (!opened) {
            opened = true;
            gate.open();
        }
    });
    QCOMPARE(Shell32::RunAndWait(helper(gate.helperJob(5)), 0), 5);
}

void TestShell32::argumentsReachProgramWhole()
{
    QTemporaryDir sandbox;
    const QString outFile = sandbox.filePath("argv.bin");
    const QStringList arguments {
        sandbox.filePath(R"(My "best" pics $(touch made-by-shell) `touch tick`; touch semi.jpg)"),
        "plain",
        R"(trailing\)",
        "",
        "it's & | > < * ?",
        "Фото.png",
    };
    QString commandLine = helper("argv " + Runtime::quoteArgument(outFile));
    for (const QString& argument : arguments)
        commandLine += ' ' + Runtime::quoteArgument(argument);

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(sandbox.path())); // where a shell would have made its files
    const qint32 result = Shell32::RunAndWait(commandLine, 0);
    QDir::setCurrent(previous);
    QCOMPARE(result, 0);

    QFile file(outFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray data = file.readAll();
    QVERIFY(data.endsWith('\0'));
    data.chop(1);
    QStringList received;
    for (const QByteArray& part : data.split('\0'))
        received << QString::fromUtf8(part);
    QCOMPARE(received, arguments);
    QCOMPARE(
        QDir(sandbox.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "argv.bin" });
}

void TestShell32::descriptorsNotInherited()
{
    QTemporaryDir sandbox;
    const QString outFile = sandbox.filePath("fds.txt");
    // Opened the way careless library code would: without O_CLOEXEC.
    const int leaky = open("/dev/null", O_RDONLY);
    QVERIFY(leaky > 2);
    const qint32 result = Shell32::RunAndWait(helper("fds " + Runtime::quoteArgument(outFile)), 0);
    close(leaky);
    QCOMPARE(result, 0);

    QFile file(outFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList fds = QString::fromLatin1(file.readAll()).split(' ', Qt::SkipEmptyParts);
    fds.sort();
    // 0, 1, 2 and the descriptor of the listing itself.
    QCOMPARE(fds, (QStringList { "0", "1", "2", "3" }));
}

enum class Stop { Terminate, Cancel, CancelAll, CancelFirst };

void TestShell32::terminateRunningStopsWait_data()
{
    QTest::addColumn<bool>("deaf");
    QTest::addColumn<Stop>("stop");
    QTest::addColumn<qint32>("expected");
    QTest::newRow("asked to end, it ends") << false << Stop::Terminate << qint32(-SIGTERM);
    QTest::newRow("deaf to the asking, it is killed")
        << true << Stop::Terminate << qint32(-SIGKILL);
    QTest::newRow("cancelled, it ends") << false << Stop::Cancel << qint32(-SIGTERM);
    QTest::newRow("cancelled, deaf, it is killed") << true << Stop::Cancel << qint32(-SIGKILL);
    QTest::newRow("all cancelled, it ends") << false << Stop::CancelAll << qint32(-SIGTERM);
    QTest::newRow("cancelled before, nothing starts")
        << false << Stop::CancelFirst << qint32(-2147221504 + 5);
}

void TestShell32::terminateRunningStopsWait()
{
    QFETCH(bool, deaf);
    QFETCH(Stop, stop);
    QFETCH(qint32, expected);
    QTemporaryDir dir;
    const QString ready = dir.filePath("ready");
    const QString job = deaf ? "deaf " + Runtime::quoteArgument(ready) + " 60000" : "sleep 60000 0";
    Shell32::Cancellation cancellation(std::chrono::milliseconds(200));
    bool stopped = stop == Stop::CancelFirst;
    if (stopped)
        cancellation.cancel();
    Runtime::setDoEventsHook([&] {
        if (!stopped && (!deaf || QFile::exists(ready))) {
            stopped = true;
            // As the window's close, or a run that ends, would: from any thread.
            if (stop == Stop::Terminate)
                std::thread(&Shell32::terminateRunning, std::chrono::milliseconds(200)).join();
            else if (stop == Stop::CancelAll)
                std::thread(&Shell32::cancelAll).join();
            else
                std::thread([&] { cancellation.cancel(); }).join();
        }
    });
    Shell32::ErrorOutput errors;
    QCOMPARE(Shell32::RunAndWait(helper(job), 0, errors, &cancellation), expected);
    QVERIFY(stopped);
    // The window's close also keeps a read ahead from starting another program.
    QVERIFY(cancellation.cancelled());
}

void TestShell32::failingHookStillReaps()
{
    Runtime::setDoEventsHook([] { throw std::runtime_error("handler failed"); });
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, Shell32::RunAndWait(helper("sleep 60000 0"), 0));
    // cleanup() checks that the abandoned program was stopped and reaped.
}

void TestShell32::shortName()
{
    QTemporaryDir sandbox;
    const QString path = sandbox.filePath("a rather long folder name with blanks");
    QVERIFY(QDir().mkdir(path));
    QCOMPARE(ShortFilename::GetShortName(path), path);
    QCOMPARE(ShortFilename::GetShortName(path + "/missing.bmp"), QString());
    QCOMPARE(ShortFilename::GetShortName(QString()), QString());
}

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--helper") == 0)
        return helperMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestShell32 test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shell32.moc"

void TestShell32::errorOutputCaptured_data()
{
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("limit");
    QTest::newRow("nothing") << 0 << 4096;
    QTest::newRow("a line") << 7 << 4096;
    QTest::newRow("exactly the limit") << 4096 << 4096;
    // Far more than a pipe holds: a wait that stops reading at the limit never returns.
    QTest::newRow("megabytes") << 8 * 1024 * 1024 << 4096;
    QTest::newRow("nothing kept") << 100 << 0;
}

void TestShell32::errorOutputCaptured()
{
    QFETCH(int, written);
    QFETCH(int, limit);
    QByteArray expected;
    for (int line = 0; expected.size() < qMin(written, limit); ++line)
        expected += "line " + QByteArray::number(line) + '\n';
    expected.truncate(qMin(written, limit));

    Shell32::ErrorOutput errors;
    errors.limit = limit;
    const QString job = QStringLiteral("stderr %1 7").arg(written);
    QCOMPARE(Shell32::RunAndWait(helper(job), 0, errors), 7);
    QCOMPARE(errors.bytes, expected);
    QCOMPARE(errors.truncated, written > limit);
}
