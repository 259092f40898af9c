// SPDX-License-Identifier: MIT

// The file layer of runtime/files: the file written beside its destination and renamed into
// place, the record of temporaries that a signal handler empties, and the full reads and
// writes.
#include "runtime/files/Fd.h"
#include "runtime/files/ReplacingFile.h"
#include "runtime/files/Temporaries.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string encoded(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Everything in `folder`, hidden entries included.
QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList temporaries(const QString& folder)
{
    return QDir(folder).entryList({ ".pictelle-*.tmp" }, QDir::Files | QDir::Hidden);
}

ino_t inodeOf(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// A signal handler without SA_RESTART, so that it cuts reads and writes short or makes them
// fail with EINTR.
std::atomic<int> interruptions { 0 };
extern "C" void countInterruption(int)
{
    interruptions.fetch_add(1, std::memory_order_relaxed);
}

// SIGALRM every `micros` microseconds while it lives.
class Interrupter
{
public:
    explicit Interrupter(long micros)
    {
        struct sigaction action
        {
        };
        action.sa_handler = countInterruption;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART
        sigaction(SIGALRM, &action, &m_old);
        const itimerval every { { 0, micros }, { 0, micros } };
        setitimer(ITIMER_REAL, &every, nullptr);
    }
    ~Interrupter()
    {
        const itimerval off {};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &m_old, nullptr);
    }

private:
    struct sigaction m_old
    {
    };
};

// Keeps SIGALRM away from the calling (helper) thread, so that it reaches the one under test.
void blockAlarm()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

// Whether `done` came true within `limit`; the bound makes a fault fail instead of hang.
template <typename Done> bool spinUntil(Done done, std::chrono::seconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) { }
    return done();
}

// The byte a child sends on `fd`, or 0 when it sends none within `limitMs` or dies first.
char byteFromChild(int fd, int limitMs)
{
    pollfd ready { fd, POLLIN, 0 };
    char byte = 0;
    if (::poll(&ready, 1, limitMs) == 1)
        Files::readFull(fd, &byte, 1);
    ::close(fd);
    return byte;
}

// Reaps `child`, killed if it has not ended within `limitMs`; its wait status.
int reap(pid_t child, int limitMs)
{
    int status = 0;
    for (int waited = 0; ::waitpid(child, &status, WNOHANG) == 0; waited += 10) {
        if (waited == limitMs)
            ::kill(child, SIGKILL);
        ::usleep(10000);
    }
    return status;
}

// The child's handler for the record test: removes the temporaries and dies by the signal.
extern "C" void removeAndDie(int signalNumber)
{
    Files::removeTemporaries();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void init() { Files::useNamedTemporaries(false); }
    void replacesWhole_data();
    void replacesWhole();
    void modeLessUmask();
    void linkIsReplacedNotFollowed();
    void deviceWrittenInPlace();
    void failureLeavesOldFile_data();
    void failureLeavesOldFile();
    void writeBeyondLimit();
    void signalRemovesTemporaries_data();
    void signalRemovesTemporaries();
    void moreWritersThanRecordSlots();
    void sweepRemovesOnlyStaleTemporaries_data();
    void sweepRemovesOnlyStaleTemporaries();
    void closeStopsWritersMidway();
    void fullReadAcrossShortReads();
    void fullWriteAcrossShortWrites();
    void positionedWrite();
};

void TestFiles::replacesWhole_data()
{
    QTest::addColumn<bool>("named");
    QTest::newRow("unnamed until complete") << false;
    QTest::newRow("named, where unnamed files are refused") << true;
}

// An older, longer file is replaced whole, and only at commit: until then it is untouched
// and the new bytes lie in a file without a name, or in one temporary beside it.
void TestFiles::replacesWhole()
{
    QFETCH(bool, named);
    Files::useNamedTemporaries(named);
    QTemporaryDir dir;
    const QString target = dir.filePath("out.bin");
    QVERIFY(writeFile(target, "an older file, longer than the new one will be"));
    const ino_t before = inodeOf(target);

    Files::ReplacingFile file;
    QCOMPARE(file.open(encoded(target), 0644), 0);
    QVERIFY(file.fd() >= 0);
    QVERIFY(!file.inPlace());
    QCOMPARE(Files::writeFull(file.fd(), "new", 3), 0);
    QCOMPARE(readFile(target), QByteArray("an older file, longer than the new one will be"));
    QCOMPARE(entries(dir.path()).size(), named ? 2 : 1);

    QCOMPARE(file.commit(), 0);
    QCOMPARE(file.fd(), -1);
    QCOMPARE(readFile(target), QByteArray("new"));
    QVERIFY(inodeOf(target) != before);
    QCOMPARE(entries(dir.path()), QStringList { "out.bin" });
    QCOMPARE(file.commit(), 0); // a second commit changes nothing

    // A new file, and a bare name in the current folder.
    const QString home = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    Files::ReplacingFile bare;
    const int opened = bare.open("bare.bin", 0644);
    const int written = Files::writeFull(bare.fd(), "bare", 4);
    const int committed = bare.commit();
    QVERIFY(QDir::setCurrent(home));
    QCOMPARE(opened, 0);
    QCOMPARE(written, 0);
    QCOMPARE(committed, 0);
    QCOMPARE(readFile(dir.filePath("bare.bin")), QByteArray("bare"));
    QCOMPARE(entries(dir.path()), QStringList({ "bare.bin", "out.bin" }));
}

// The mode given, less the umask: each writer keeps its own (0644 thumbnails, 0666 BMP).
void TestFiles::modeLessUmask()
{
    QTemporaryDir dir;
    const mode_t oldMask = ::umask(027);
    Files::ReplacingFile a;
    Files::ReplacingFile b;
    const int openedA = a.open(encoded(dir.filePath("a")), 0666);
    const int openedB = b.open(encoded(dir.filePath("b")), 0644);
    ::umask(oldMask);
    QCOMPARE(openedA, 0);
    QCOMPARE(openedB, 0);
    QCOMPARE(a.commit(), 0);
    QCOMPARE(b.commit(), 0);
    struct stat st
    {
    };
    QCOMPARE(::stat(QFile::encodeName(dir.filePath("a")).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
    QCOMPARE(::stat(QFile::encodeName(dir.filePath("b")).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
}

// A link under the destination's name is replaced itself; the file it led to stays as it was.
void TestFiles::linkIsReplacedNotFollowed()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("victim"), "the user's file"));
    QVERIFY(QFile::link(dir.filePath("victim"), dir.filePath("out")));
    Files::ReplacingFile file;
    QCOMPARE(file.open(encoded(dir.filePath("out")), 0644), 0);
    QCOMPARE(Files::writeFull(file.fd(), "written", 7), 0);
    QCOMPARE(file.commit(), 0);
    QVERIFY(!QFileInfo(dir.filePath("out")).isSymLink());
    QCOMPARE(readFile(dir.filePath("out")), QByteArray("written"));
    QCOMPARE(readFile(dir.filePath("victim")), QByteArray("the user's file"));
}

// A device or pipe is written as it is, never replaced by a file: renaming over /dev/null
// would lose it. A pipe without a reader is an error at once, not a wait.
void TestFiles::deviceWrittenInPlace()
{
    {
        Files::ReplacingFile file;
        QCOMPARE(file.open("/dev/null", 0644), 0);
        QVERIFY(file.inPlace());
        QCOMPARE(Files::writeFull(file.fd(), "gone", 4), 0);
        QCOMPARE(file.commit(), 0);
        QVERIFY(QFileInfo("/dev/null").exists());
        struct stat st
        {
        };
        QCOMPARE(::stat("/dev/null", &st), 0);
        QVERIFY(S_ISCHR(st.st_mode));
    }
    {
        Files::ReplacingFile file;
        QCOMPARE(file.open("/dev/full", 0644), 0);
        QCOMPARE(Files::writeFull(file.fd(), "x", 1), ENOSPC);
        file.abandon();
        struct stat st
        {
        };
        QCOMPARE(::stat("/dev/full", &st), 0);
        QVERIFY(S_ISCHR(st.st_mode));
    }

    QTemporaryDir dir;
    const QString pipe = dir.filePath("pipe");
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    {
        Files::ReplacingFile file;
        QCOMPARE(file.open(encoded(pipe), 0644), ENXIO);
    }
    const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    {
        Files::ReplacingFile file;
        QCOMPARE(file.open(encoded(pipe), 0644), 0);
        QVERIFY(file.inPlace());
        QCOMPARE(Files::writeFull(file.fd(), "through", 7), 0);
        QCOMPARE(file.commit(), 0);
    }
    char got[16] = {};
    QCOMPARE(::read(reader, got, sizeof got), ssize_t(7));
    QCOMPARE(QByteArray(got), QByteArray("through"));
    ::close(reader);
    QCOMPARE(entries(dir.path()), QStringList { "pipe" });
    QVERIFY(QFileInfo(pipe).isFile() == false);
}

void TestFiles::failureLeavesOldFile_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("missing folder") << "missing folder";
    QTest::newRow("destination is a folder") << "folder";
    QTest::newRow("abandoned by the destructor") << "destructor";
    QTest::newRow("abandoned") << "abandon";
    QTest::newRow("folder put there before the rename") << "rename";
}

// Every failure leaves no temporary, and the old file (or folder) as it was.
void TestFiles::failureLeavesOldFile()
{
    QFETCH(QString, failure);
    Files::useNamedTemporaries(true); // an unnamed file leaves nothing by its nature
    QTemporaryDir dir;
    const QString old = dir.filePath("old");
    QVERIFY(writeFile(old, "the old file"));
    const QString folder = dir.filePath("folder");
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    QVERIFY(writeFile(folder + "/inside", "kept"));

    if (failure == "missing folder") {
        Files::ReplacingFile file;
        QCOMPARE(file.open(encoded(dir.filePath("no/such/out")), 0644), ENOENT);
        QCOMPARE(file.fd(), -1);
        QCOMPARE(file.commit(), EBADF);
    } else if (failure == "folder") {
        Files::ReplacingFile file;
        QCOMPARE(file.open(encoded(folder), 0644), EISDIR);
        QCOMPARE(file.open(encoded(folder + "/"), 0644), EISDIR);
        QCOMPARE(file.commit(), EBADF);
    } else if (failure == "destructor") {
        Files::ReplacingFile file;
        QCOMPARE(file.open(encoded(old), 0644), 0);
        QCOMPARE(Files::writeFull(file.fd(), "half", 4), 0);
        QCOMPARE(temporaries(dir.path()).size(), 1);
    } else if (failure == "abandon") {
        Files::ReplacingFile file;
        QCOMPARE(file.open(encoded(old), 0644), 0);
        QCOMPARE(Files::writeFull(file.fd(), "half", 4), 0);
        file.abandon();
        QCOMPARE(temporaries(dir.path()), QStringList());
        QCOMPARE(file.commit(), EBADF);
    } else if (failure == "rename") {
        const QString target = dir.filePath("target");
        Files::ReplacingFile file;
        QCOMPARE(file.open(encoded(target), 0644), 0);
        QCOMPARE(Files::writeFull(file.fd(), "new", 3), 0);
        QVERIFY(QDir(dir.path()).mkdir("target"));
        QVERIFY(writeFile(target + "/inside", "kept too"));
        QCOMPARE(file.commit(), EISDIR);
        QCOMPARE(readFile(target + "/inside"), QByteArray("kept too"));
        QVERIFY(QDir(target).removeRecursively());
    }
    QCOMPARE(readFile(old), QByteArray("the old file"));
    QCOMPARE(readFile(folder + "/inside"), QByteArray("kept"));
    QCOMPARE(entries(dir.path()), QStringList({ "folder", "old" }));
}

// A write that fails (here beyond the file size limit) is reported; the caller abandons, and
// the old file stays whole.
void TestFiles::writeBeyondLimit()
{
    QTemporaryDir dir;
    const QString old = dir.filePath("old");
    QVERIFY(writeFile(old, "the old file"));
    const QByteArray big = pattern(64 * 1024);

    rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit { 16384, saved.rlim_max };
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    int opened = -1;
    int written = -1;
    {
        Files::ReplacingFile file;
        opened = file.open(encoded(old), 0644);
        written = Files::writeFull(file.fd(), big.constData(), size_t(big.size()));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(opened, 0);
    QCOMPARE(written, EFBIG);
    QCOMPARE(readFile(old), QByteArray("the old file"));
    QCOMPARE(entries(dir.path()), QStringList { "old" });
}

void TestFiles::signalRemovesTemporaries_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("handled");
    QTest::addColumn<bool>("named");
    QTest::newRow("SIGTERM, handled, named") << int(SIGTERM) << true << true;
    QTest::newRow("SIGINT, handled, named") << int(SIGINT) << true << true;
    QTest::newRow("SIGHUP, handled, named") << int(SIGHUP) << true << true;
    // The control: without the handler named temporaries stay, so the test sees them.
    QTest::newRow("SIGKILL, named") << int(SIGKILL) << false << true;
    QTest::newRow("SIGKILL, unnamed") << int(SIGKILL) << false << false;
}

// A child writing two files is killed by a signal: neither temporary is left, when they had
// no name yet or when the signal's handler calls removeTemporaries(), and the old file is
// whole.
void TestFiles::signalRemovesTemporaries()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, handled);
    QFETCH(bool, named);
    Files::useNamedTemporaries(named);
    QTemporaryDir dir;
    const QString old = dir.filePath("old");
    QVERIFY(writeFile(old, "the old file"));
    const std::string first = encoded(old);
    const std::string second = encoded(dir.filePath("new"));
    int ready[2];
    QCOMPARE(::pipe(ready), 0);

    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(ready[0]);
        if (handled) {
            struct sigaction action
            {
            };
            action.sa_handler = removeAndDie;
            sigemptyset(&action.sa_mask);
            sigaction(signalNumber, &action, nullptr);
        }
        Files::ReplacingFile a;
        Files::ReplacingFile b;
        if (a.open(first, 0644) != 0 || b.open(second, 0644) != 0
            || Files::writeFull(a.fd(), "half", 4) != 0)
            ::_exit(3);
        if (Files::writeFull(ready[1], "r", 1) != 0)
            ::_exit(4);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    const char byte = byteFromChild(ready[0], 30000);
    if (byte != 'r')
        ::kill(child, SIGKILL);
    QCOMPARE(byte, 'r');
    QCOMPARE(temporaries(dir.path()).size(), named ? 2 : 0);

    QCOMPARE(::kill(child, signalNumber), 0);
    const int status = reap(child, 30000);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), signalNumber);
    QCOMPARE(temporaries(dir.path()).size(), named && !handled ? 2 : 0);
    QCOMPARE(readFile(old), QByteArray("the old file"));
    QVERIFY(!QFile::exists(dir.filePath("new")));
}

// More files at once than the record holds: each is still written and renamed (only the
// ones beyond the record would survive a signal).
void TestFiles::moreWritersThanRecordSlots()
{
    Files::useNamedTemporaries(true);
    QTemporaryDir dir;
    constexpr int count = 40;
    std::vector<Files::ReplacingFile> files(count);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(files[size_t(i)].open(encoded(dir.filePath(QString::number(i))), 0644), 0);
        QCOMPARE(Files::writeFull(files[size_t(i)].fd(), "x", 1), 0);
    }
    QCOMPARE(temporaries(dir.path()).size(), count);
    for (Files::ReplacingFile& file : files)
        QCOMPARE(file.commit(), 0);
    QCOMPARE(temporaries(dir.path()), QStringList());
    QCOMPARE(entries(dir.path()).size(), count);
}

void TestFiles::sweepRemovesOnlyStaleTemporaries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("state"); // "", "locked", "young", "another user's", "link"
    QTest::addColumn<bool>("removed");
    const QString ours = ".pictelle-0a9z.tmp";
    QTest::newRow("left by a killed writer") << ours << "" << true;
    QTest::newRow("longest name") << ".pictelle-3w5e11264sgsf.tmp"
                                  << "" << true;
    QTest::newRow("held by a living writer") << ours << "locked" << false;
    QTest::newRow("written within the minimum age") << ours << "young" << false;
    QTest::newRow("another user's") << ours << "another user's" << false;
    QTest::newRow("a link") << ours << "link" << false;
    QTest::newRow("capitals") << ".pictelle-0A9Z.tmp"
                              << "" << false;
    QTest::newRow("no random part") << ".pictelle-.tmp"
                                    << "" << false;
    QTest::newRow("longer suffix") << ".pictelle-0a9z.tmp~"
                                   << "" << false;
    QTest::newRow("no dot") << "pictelle-0a9z.tmp"
                            << "" << false;
}

// The sweep of a folder removes a temporary only when no writer can still own it, and nothing
// but our temporaries.
void TestFiles::sweepRemovesOnlyStaleTemporaries()
{
    QFETCH(QString, name);
    QFETCH(QString, state);
    QFETCH(bool, removed);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QVERIFY(writeFile(dir.filePath("keep.jpg"), "a picture"));
    if (state == "link") {
        QVERIFY(QFile::link(dir.filePath("keep.jpg"), path));
    } else {
        QVERIFY(writeFile(path, "half a thumbnail"));
    }
    Files::UniqueFd holder;
    if (state == "locked") {
        holder.reset(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC));
        QCOMPARE(::flock(holder.get(), LOCK_EX), 0);
    } else if (state == "another user's") {
        if (::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    }
    // A file's change time cannot be set back; the age asked for moves instead.
    const int minimumAge = state == "young" ? 3600 : 0;
    QCOMPARE(Files::removeStaleTemporaries(encoded(dir.path()), minimumAge), removed ? 1 : 0);
    QCOMPARE(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), !removed);
    QCOMPARE(readFile(dir.filePath("keep.jpg")), QByteArray("a picture"));
}

// The program's end with writers still going: the close removes what they have begun, and
// while they go on trying, nothing new appears; a destination holds a whole file or none.
void TestFiles::closeStopsWritersMidway()
{
    QTemporaryDir dir;
    const QByteArray content = pattern(64 * 1024);
    int closed[2];
    QCOMPARE(::pipe(closed), 0);

    const pid_t child = ::fork(); // the close is for good: it happens in a child
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(closed[0]);
        std::atomic<int> commits { 0 };
        std::atomic<int> refused { 0 };
        for (int t = 0; t < 4; ++t) {
            const std::string base = encoded(dir.filePath(QString::number(t)));
            std::thread([&, base] {
                for (int n = 0;; ++n) {
                    Files::ReplacingFile out;
                    const int error = out.open(base + char('a' + n % 4), 0644);
                    if (error == ECANCELED)
                        refused.fetch_add(1);
                    if (error == 0
                        && Files::writeFull(out.fd(), content.data(), content.size()) == 0
                        && out.commit() == 0)
                        commits.fetch_add(1);
                }
            }).detach();
        }
        if (!spinUntil([&] { return commits.load() >= 40; }, std::chrono::seconds(30)))
            ::_exit(3);
        // A loaded machine may hold a writer between entering its temporary and making it
        // longer than the program's grace; the wait is for that writer, not the close.
        Files::closeTemporaries(30000);
        // Every writer has been turned away since.
        if (!spinUntil([&] { return refused.load() >= 8; }, std::chrono::seconds(10)))
            ::_exit(5);
        if (Files::writeFull(closed[1], "c", 1) != 0)
            ::_exit(4);
        for (;;)
            ::pause(); // the writers go on meanwhile
    }
    ::close(closed[1]);
    const char byte = byteFromChild(closed[0], 90000);
    const QStringList whileRunning = temporaries(dir.path());
    ::kill(child, SIGKILL);
    const int status = reap(child, 30000);
    // 3: too few commits, 5: the writers were not turned away.
    QCOMPARE(WIFEXITED(status) ? WEXITSTATUS(status) : 0, 0);
    QCOMPARE(byte, 'c');
    QCOMPARE(whileRunning, QStringList());
    QCOMPARE(temporaries(dir.path()), QStringList());
    const QStringList written = entries(dir.path());
    QVERIFY(!written.isEmpty());
    for (const QString& name : written)
        QVERIFY2(readFile(dir.filePath(name)) == content, qPrintable(name));
}

// A pipe gives what its writer has put in so far, and a signal cuts reads short or makes
// them fail with EINTR: readFull goes on until all is in, and stops short only at the end.
void TestFiles::fullReadAcrossShortReads()
{
    const QByteArray sent = pattern(1 << 20);
    int fds[2];
    QCOMPARE(::pipe(fds), 0);
    std::thread writer([&] {
        blockAlarm();
        for (int at = 0; at < sent.size();) {
            const int piece = std::min(int(sent.size()) - at, 1 + (at * 13) % 7000);
            if (Files::writeFull(fds[1], sent.constData() + at, size_t(piece)) != 0)
                break;
            at += piece;
            if (at % 16 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ::close(fds[1]);
    });
    QByteArray received(sent.size() + 100, '\0');
    Files::ReadResult got {};
    interruptions = 0;
    {
        Interrupter interrupter(300);
        got = Files::readFull(fds[0], received.data(), size_t(received.size()));
    }
    writer.join();
    ::close(fds[0]);
    QCOMPARE(got.error, 0);
    QCOMPARE(got.bytes, size_t(sent.size())); // short only at the end of the data
    received.truncate(qsizetype(got.bytes));
    QVERIFY(received == sent);
    QVERIFY2(interruptions > 0, "the read was never interrupted");
}

// A pipe takes 64 KiB at a time, and a signal cuts writes short: writeFull goes on until
// all is out.
void TestFiles::fullWriteAcrossShortWrites()
{
    const QByteArray sent = pattern(1 << 20);
    int fds[2];
    QCOMPARE(::pipe(fds), 0);
    QByteArray received;
    std::thread reader([&] {
        blockAlarm();
        char piece[3000];
        for (int i = 0;; ++i) {
            const ssize_t n = ::read(fds[0], piece, sizeof piece);
            if (n <= 0)
                break;
            received.append(piece, n);
            if (i % 8 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    int error = -1;
    interruptions = 0;
    {
        Interrupter interrupter(300);
        error = Files::writeFull(fds[1], sent.constData(), size_t(sent.size()));
    }
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    QCOMPARE(error, 0);
    QCOMPARE(received.size(), sent.size());
    QVERIFY(received == sent);
    QVERIFY2(interruptions > 0, "the write was never interrupted");
}

// Positioned writes land where they are sent, in any order, and leave the file position.
void TestFiles::positionedWrite()
{
    QTemporaryDir dir;
    Files::ReplacingFile file;
    QCOMPARE(file.open(encoded(dir.filePath("at")), 0644), 0);
    QCOMPARE(Files::writeFullAt(file.fd(), "tail", 4, 10), 0);
    QCOMPARE(Files::writeFullAt(file.fd(), "0123456789", 10, 0), 0);
    QCOMPARE(::lseek(file.fd(), 0, SEEK_CUR), off_t(0));
    QCOMPARE(file.commit(), 0);
    QCOMPARE(readFile(dir.filePath("at")), QByteArray("0123456789tail"));
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
