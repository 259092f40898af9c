// SPDX-License-Identifier: MIT

// pictelle-batch as its users meet it: options, the remembered percentage, messages and the
// reasons they give, exit statuses, the progress line, and what a killed run leaves.
#include "tests/common/ImageFixtures.h"
#include "tests/common/PngFixtures.h"
#include "tests/common/TestUtils.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using ImageFixtures::gradient;

struct Result
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Fills the file system of `folder` to the last byte.
void fill(const QString& folder)
{
    QFile filler(folder + "/filler");
    const QByteArray block(4096, 'x');
    if (filler.open(QIODevice::WriteOnly))
        while (filler.write(block) == block.size() && filler.flush()) { }
}

// Whether the thumbnail at `path` is complete: its format's last bytes are there, and it
// decodes.
bool isWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    bool ended = false;
    if (path.endsWith(".jpg"))
        ended = bytes.endsWith("\xff\xd9");
    else if (path.endsWith(".png"))
        ended = bytes.endsWith(QByteArray::fromHex("0000000049454e44ae426082"));
    else if (path.endsWith(".bmp") && bytes.size() >= 6)
        ended = qFromLittleEndian<quint32>(bytes.constData() + 2) == quint32(bytes.size());
    return ended && !QImage::fromData(bytes).isNull();
}

// The processes still alive that `parent` started through Runtime::Shell.
int childrenOf(pid_t parent)
{
    const QByteArray mark = "PICTELLE_PARENT_PID=" + QByteArray::number(parent);
    int alive = 0;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile environ("/proc/" + pid + "/environ");
        if (pid.toInt() > 0 && environ.open(QIODevice::ReadOnly)
            && environ.readAll().split('\0').contains(mark))
            ++alive;
    }
    return alive;
}

// Hidden names in `folder`, where a writer's temporary would show.
QStringList hiddenIn(const QString& folder)
{
    return QDir(folder).entryList({ ".*" }, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestBatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void usage_data();
    void usage();
    void percentageComesFromTheWindowsSetting_data();
    void percentageComesFromTheWindowsSetting();
    void relativeNamesAndOptionLikeNames();
    void failureStopsOrGoesOn();
    void progressOnlyOnATerminal();
    void interruptStopsBetweenFiles_data();
    void interruptStopsBetweenFiles();
    void diagnosticsOnlyWhenSwitchedOn();
    void damagedPngSaysWhy();
    void failureSaysWhy_data();
    void failureSaysWhy();
    void killLeavesOnlyWholeThumbnails();
    void outputFolder_data();
    void outputFolder();
    void update_data();
    void update();
    void updateCounts();
    void filesFrom_data();
    void filesFrom();
    void languages_data();
    void languages();

private:
    Result batch(
        const QStringList& arguments, const QString& folder = {}, const QByteArray& input = {});
    void setModified(const QString& name, qint64 nanoseconds);
    QString pics(const QString& name) const { return m_pics->filePath(name); }
    void writeSetting(const QByteArray& value);

    std::unique_ptr<QTemporaryDir> m_pics;
    std::unique_ptr<QTemporaryDir> m_config;
    QString m_loggingRules; // QT_LOGGING_RULES of the next batch(); none when empty
    QStringList m_runAs; // a program and its arguments that start the next batch()
    QString m_language; // LANG of the next batch(); the suite's when empty
};

void TestBatch::init()
{
    m_pics = std::make_unique<QTemporaryDir>();
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_pics->isValid() && m_config->isValid());
    m_loggingRules.clear();
    m_runAs.clear();
    m_language.clear();
    QVERIFY(gradient(200, 100).save(pics("a.jpg"), "JPG"));
}

Result TestBatch::batch(
    const QStringList& arguments, const QString& folder, const QByteArray& input)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", m_config->path());
    env.remove("QT_LOGGING_RULES");
    if (!m_loggingRules.isEmpty())
        env.insert("QT_LOGGING_RULES", m_loggingRules);
    if (!m_language.isEmpty()) {
        for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES" })
            env.remove(name);
        env.insert("LANG", m_language);
    }
    process.setProcessEnvironment(env);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    const QString program = TestUtils::binDir() + "/pictelle-batch";
    if (m_runAs.isEmpty())
        process.start(program, arguments);
    else
        process.start(m_runAs.first(), m_runAs.mid(1) + QStringList { program } + arguments);
    process.write(input);
    process.closeWriteChannel();
    Result result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.status = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

void TestBatch::writeSetting(const QByteArray& value)
{
    QFile file(m_config->filePath("Quorvane.conf"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Pictelle]\nSliderValue=" + value + "\n");
}

void TestBatch::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("stdoutPattern");
    QTest::addColumn<QString>("stderrPattern");

    QTest::newRow("help") << QStringList { "--help" } << 0
                          << "^Usage: pictelle-batch \\[OPTION\\].*--files-from.*Exit status"
                          << "^$";
    QTest::newRow("short help") << QStringList { "-h" } << 0 << "^Usage: "
                                << "^$";
    QTest::newRow("version") << QStringList { "--version" } << 0
                             << "^pictelle-batch \\d+\\.\\d+(\\.\\d+)?\n$"
                             << "^$";
    QTest::newRow("no files") << QStringList { "-p", "10" } << 2 << "^$"
                              << "no files given";
    QTest::newRow("percentage 0") << QStringList { "-p", "0", "a.jpg" } << 2 << "^$"
                                  << "1 to 100, not '0'";
    QTest::newRow("percentage 101") << QStringList { "--percentage=101", "a.jpg" } << 2 << "^$"
                                    << "not '101'";
    QTest::newRow("percentage text") << QStringList { "-p", "ten", "a.jpg" } << 2 << "^$"
                                     << "not 'ten'";
    QTest::newRow("percentage missing") << QStringList { "a.jpg", "-p" } << 2 << "^$"
                                        << "Missing value after '-p'";
    QTest::newRow("unknown option") << QStringList { "--fast", "a.jpg" } << 2 << "^$"
                                    << "Unknown option 'fast'.*--help";
}

void TestBatch::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, stdoutPattern);
    QFETCH(QString, stderrPattern);
    const Result result = batch(arguments, m_pics->path());
    QCOMPARE(result.status, status);
    const auto dotAll = QRegularExpression::DotMatchesEverythingOption;
    QVERIFY2(QRegularExpression(stdoutPattern, dotAll).match(result.out).hasMatch(), result.out);
    QVERIFY2(QRegularExpression(stderrPattern, dotAll).match(result.err).hasMatch(), result.err);
    // Nothing is converted unless a run was asked for properly.
    QVERIFY(!QFile::exists(pics("ta.jpg")));
}

void TestBatch::percentageComesFromTheWindowsSetting_data()
{
    QTest::addColumn<QByteArray>("stored"); // empty: no settings file
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QSize>("size");

    QTest::newRow("nothing stored: 40") << QByteArray() << QStringList() << QSize(80, 40);
    QTest::newRow("stored 25") << QByteArray("25") << QStringList() << QSize(50, 25);
    QTest::newRow("stored 100") << QByteArray("100") << QStringList() << QSize(200, 100);
    QTest::newRow("stored garbage: 40") << QByteArray("x7") << QStringList() << QSize(80, 40);
    QTest::newRow("stored 0: 40") << QByteArray("0") << QStringList() << QSize(80, 40);
    QTest::newRow("-p wins") << QByteArray("25") << QStringList { "-p", "10" } << QSize(20, 10);
    QTest::newRow("joined -p") << QByteArray() << QStringList { "-p5" } << QSize(10, 5);
}

void TestBatch::percentageComesFromTheWindowsSetting()
{
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, options);
    QFETCH(QSize, size);
    if (!stored.isEmpty())
        writeSetting(stored);
    const QString settings = m_config->filePath("Quorvane.conf");
    const QByteArray before = [&] {
        QFile f(settings);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    const Result result = batch(options + QStringList { pics("a.jpg") });
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, QByteArray("done\n"));
    QCOMPARE(QImageReader(pics("ta.jpg")).size(), size);

    // Reading it never writes the store: the window owns it.
    QFile after(settings);
    if (stored.isEmpty()) {
        QVERIFY(!after.exists());
    } else {
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);
    }
}

void TestBatch::relativeNamesAndOptionLikeNames()
{
    QVERIFY(QDir(m_pics->path()).mkdir("sub"));
    QVERIFY(gradient(40, 20).save(pics("sub/b.bmp"), "BMP"));
    QVERIFY(gradient(60, 30).save(pics("-p.png"), "PNG"));

    const Result result = batch({ "-p", "50", "sub/b.bmp", "--", "-p.png" }, m_pics->path());
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, QByteArray("done\n"));
    QCOMPARE(QImageReader(pics("sub/tb.bmp")).size(), QSize(20, 10));
    QCOMPARE(QImageReader(pics("t-p.png")).size(), QSize(30, 15));

    // A missing relative name is reported by its full path, like a list entry.
    const Result missing = batch({ "-p", "50", "gone.jpg" }, m_pics->path());
    QCOMPARE(missing.status, 1);
    QVERIFY2(missing.err.contains(QFile::encodeName(pics("gone.jpg"))), missing.err);
}

void TestBatch::failureStopsOrGoesOn()
{
    QVERIFY(gradient(30, 20).save(pics("c.png"), "PNG"));
    const QStringList files { pics("a.jpg"), pics("gone.jpg"), pics("c.png") };

    const Result stopped = batch(QStringList { "-p", "10" } + files);
    QCOMPARE(stopped.status, 1);
    QVERIFY(stopped.out.isEmpty());
    QCOMPARE(stopped.err.count('\n'), 1);
    QVERIFY2(stopped.err.startsWith("pictelle-batch: File not found: "), stopped.err);
    QVERIFY(stopped.err.contains(QFile::encodeName(pics("gone.jpg"))));
    QVERIFY(QFile::exists(pics("ta.jpg"))); // written before the failure, kept
    QVERIFY(!QFile::exists(pics("tc.png")));

    QVERIFY(QFile::remove(pics("ta.jpg")));
    const Result wentOn = batch(QStringList { "-p", "10", "--keep-going" } + files);
    QCOMPARE(wentOn.status, 1); // the run reached its end, but not every file was converted
    QCOMPARE(wentOn.out, QByteArray("done\n"));
    QVERIFY(wentOn.err.contains(QFile::encodeName(pics("gone.jpg"))));
    QCOMPARE(QImageReader(pics("ta.jpg")).size(), QSize(20, 10));
    QCOMPARE(QImageReader(pics("tc.png")).size(), QSize(3, 2));
}

void TestBatch::progressOnlyOnATerminal()
{
    QVERIFY(gradient(30, 20).save(pics("b.bmp"), "BMP"));
    const QStringList arguments { "-p", "50", pics("a.jpg"), pics("b.bmp") };

    const Result piped = batch(arguments);
    QCOMPARE(piped.status, 0);
    QVERIFY2(piped.err.isEmpty(), piped.err);

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    const auto closeMaster = qScopeGuard([master] { ::close(master); });
    QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString terminal = QString::fromLocal8Bit(::ptsname(master));

    QProcess process;
    process.setStandardErrorFile(terminal);
    process.start(TestUtils::binDir() + "/pictelle-batch", arguments);
    QVERIFY(process.waitForStarted());
    QByteArray shown;
    // Read while it runs (a full terminal buffer would stop the program), then drain.
    const auto readSome = [&](int timeoutMs) {
        pollfd fd { master, POLLIN, 0 };
        if (::poll(&fd, 1, timeoutMs) <= 0)
            return false;
        char buffer[4096];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        shown.append(buffer, got);
        return true;
    };
    while (!process.waitForFinished(10))
        readSome(50);
    while (readSome(200)) { }
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(process.readAllStandardOutput(), QByteArray("done\n"));
    QVERIFY2(shown.contains("[1/2]  50% a.jpg"), shown);
    QVERIFY2(shown.contains("[2/2] 100% b.bmp"), shown);
    // The line is cleared before "done", so no progress is left standing.
    QVERIFY2(shown.endsWith("\r\033[K"), shown);
}

void TestBatch::interruptStopsBetweenFiles_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("wholeGroup");
    QTest::newRow("SIGTERM to the program") << int(SIGTERM) << false;
    // As Ctrl-C does: the converter running at that moment is interrupted too.
    QTest::newRow("SIGINT to the process group") << int(SIGINT) << true;
}

void TestBatch::interruptStopsBetweenFiles()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, wholeGroup);
    // PNG entries, each through both converters: a run long enough to be caught midway.
    const int count = 60;
    QStringList files;
    const QImage picture = gradient(1000, 750);
    for (int i = 0; i < count; ++i) {
        files << pics(QStringLiteral("p%1.png").arg(i, 2, 10, QLatin1Char('0')));
        QVERIFY(picture.save(files.last(), "PNG", 0));
    }

    QProcess process;
    if (wholeGroup)
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start(TestUtils::binDir() + "/pictelle-batch", QStringList { "-p", "30" } + files);
    QVERIFY(process.waitForStarted());
    const QString first = pics("tp00.png");
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(first) || process.state() == QProcess::NotRunning, 60000);
    const pid_t pid = pid_t(process.processId());
    QVERIFY(::kill(wholeGroup ? -pid : pid, signalNumber) == 0);
    QVERIFY(process.waitForFinished(60000));

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + signalNumber);
    QVERIFY(process.readAllStandardOutput().isEmpty()); // no "done"
    const QByteArray err = process.readAllStandardError();
    QCOMPARE(
        err, QByteArray("pictelle-batch: interrupted; the thumbnails written so far are kept\n"));

    // The thumbnails are those of the first files, each one whole; nothing else was left.
    int written = 0;
    while (written < count && QFile::exists(pics("t" + QFileInfo(files[written]).fileName())))
        ++written;
    QVERIFY(written >= 1 && written < count);
    QDirIterator it(m_pics->path(), QDir::Files | QDir::Hidden);
    int entries = 0;
    while (it.hasNext()) {
        const QString name = QFileInfo(it.next()).fileName();
        ++entries;
        if (name.startsWith("tp"))
            QCOMPARE(QImageReader(it.filePath()).size(), QSize(300, 225));
        else
            QVERIFY2(name == "a.jpg" || (name.startsWith('p') && name.endsWith(".png")),
                qPrintable(name));
    }
    QCOMPARE(entries, 1 + count + written);
}

void TestBatch::diagnosticsOnlyWhenSwitchedOn()
{
    QVERIFY(gradient(30, 20).save(pics("c.png"), "PNG"));
    const QStringList arguments { "-p", "50", pics("a.jpg"), pics("c.png") };

    const Result silent = batch(arguments);
    QCOMPARE(silent.status, 0);
    QCOMPARE(silent.err, QByteArray());

    m_loggingRules = "pictelle.*.info=true";
    const Result logged = batch(arguments);
    QCOMPARE(logged.status, 0);
    QCOMPARE(logged.out, QByteArray("done\n"));
    // What a bug report needs: where the scratch files went, how each picture was read and
    // scaled, and what the converters were asked and answered.
    for (const char* line : { "pictelle.conversion: scratch folder: ", "pictelle.imaging: JPEG ",
             "pictelle.conversion: entry 2 ", "/png2bmp\" -O ", "/bmp2png\" -O ",
             "with exit code 0" })
        QVERIFY2(logged.err.contains(line), line);
    QVERIFY(logged.err.contains(QFile::encodeName(pics("c.png"))));
}

// png2bmp's reason reaches the user of pictelle-batch, with the file's full path, on one line.
void TestBatch::damagedPngSaysWhy()
{
    QVERIFY(!PngFixtures::write(pics("broken.png"), { 2, 8, false, false }, 64, 64).isNull());
    QVERIFY(PngFixtures::damageImageData(pics("broken.png")));
    QProcess png2bmp;
    png2bmp.start(TestUtils::binDir() + "/png2bmp", { "-O", pics("out.bmp"), pics("broken.png") });
    QVERIFY(png2bmp.waitForFinished(60000));
    const QByteArray prefix = "png2bmp: " + QFile::encodeName(pics("broken.png")) + ": ";
    const QByteArray said = png2bmp.readAllStandardError().trimmed();
    QVERIFY2(said.startsWith(prefix) && said.size() > prefix.size(), said);

    const Result result = batch({ "-p", "40", "broken.png" }, m_pics->path());
    QCOMPARE(result.status, 1);
    QVERIFY2(result.err.count('\n') == 1, result.err);
    QVERIFY2(
        result.err.contains(QFile::encodeName(pics("broken.png")) + ": " + said.mid(prefix.size())),
        result.err);
}

// Each failure keeps its words and adds the reason the system or the decoder gave.
void TestBatch::failureSaysWhy_data()
{
    QTest::addColumn<QString>("where"); // the output folder's kind; "" writes beside the file
    QTest::addColumn<QString>("file"); // in the pictures' folder
    QTest::addColumn<QByteArray>("contents"); // of `file`; empty keeps init()'s a.jpg
    QTest::addColumn<QString>("message"); // %1 the file's path, %2 its thumbnail's

    QByteArray truncated;
    QByteArray oversized;
    {
        QBuffer buffer(&truncated);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QVERIFY(ImageFixtures::noise(2000, 1500).save(&buffer, "JPG", 95));
        // A 20000 x 20000 frame header over the same data.
        oversized = truncated;
        const qsizetype frame = oversized.indexOf("\xff\xc0");
        QVERIFY(frame > 0);
        oversized.replace(frame + 5, 4, QByteArray::fromHex("4e204e20"));
        truncated.truncate(5000); // as an interrupted copy leaves it
    }
    const QString gdi = QStringLiteral("Cannot save the image. GDI+ Error:%1: %2\n%3\n%4");
    QTest::newRow("full disk") << "full"
                               << "a.jpg" << QByteArray()
                               << gdi.arg(7).arg("No space left on device", "%2", "%1");
    QTest::newRow("read-only folder, ordinary user")
        << "read-only folder"
        << "a.jpg" << QByteArray() << gdi.arg(12).arg("Permission denied", "%2", "%1");
    QTest::newRow("read-only file system")
        << "read-only"
        << "a.jpg" << QByteArray() << gdi.arg(12).arg("Read-only file system", "%2", "%1");
    QTest::newRow("truncated JPEG")
        << ""
        << "cut.jpg" << truncated << "Invalid picture: %1: ends early at byte 5000";
    QTest::newRow("text named .jpg") << ""
                                     << "notes.jpg" << QByteArray("shopping list\n")
                                     << "Invalid picture: %1: not a BMP, JPEG or icon file";
    QTest::newRow("oversized picture")
        << ""
        << "huge.jpg" << oversized
        << "Out of memory: %1: 20000 x 20000 pixels, more than the 134217728 a picture may have";
}

void TestBatch::failureSaysWhy()
{
    QFETCH(QString, where);
    QFETCH(QString, file);
    QFETCH(QByteArray, contents);
    QFETCH(QString, message);
    const bool root = ::geteuid() == 0;
    if (!contents.isEmpty()) {
        QFile source(pics(file));
        QVERIFY(source.open(QIODevice::WriteOnly) && source.write(contents) == contents.size());
    }
    const QString out = pics("out");
    const QByteArray mountPoint = QFile::encodeName(out);
    const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
    if (where == "full" || where == "read-only") {
        if (!root)
            QSKIP("mounting a file system needs root");
        QVERIFY(QDir().mkdir(out));
        QCOMPARE(::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=256k,mode=0755"), 0);
        if (where == "full")
            fill(out);
        else
            QCOMPARE(
                ::mount(nullptr, mountPoint.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
                0);
    } else if (where == "read-only folder") {
        QVERIFY(QDir().mkdir(out));
        // Root may write anyway: the run is an ordinary user's, who may read the picture.
        QVERIFY(QFile::setPermissions(
            out, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        for (const QString& folder : { m_pics->path(), m_config->path() })
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        if (root)
            m_runAs = QStringList { "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups" };
    }

    const QStringList output = where.isEmpty() ? QStringList() : QStringList { "-o", out };
    const Result result = batch(QStringList { "-p", "100" } + output + QStringList { pics(file) });
    const QString thumbnail = (where.isEmpty() ? m_pics->path() : out) + "/t" + file;
    QCOMPARE(result.status, 1);
    const QByteArray said = "pictelle-batch: "
        + QString(message).replace("%1", pics(file)).replace("%2", thumbnail).toUtf8() + "\n";
    QVERIFY2(result.err.endsWith(said), result.err + "\nnot ending in\n" + said);
    QVERIFY(!QFile::exists(thumbnail));
    QCOMPARE(hiddenIn(where.isEmpty() ? m_pics->path() : out), QStringList());
}

// Twenty runs killed by SIGKILL at moments spread over a run: the converters end with the run,
// and the folders hold the sources, whole thumbnails and no temporary (no hidden file).
void TestBatch::killLeavesOnlyWholeThumbnails()
{
    QStringList files { pics("a.jpg") };
    const QImage picture = ImageFixtures::noise(900, 600);
    for (int i = 0; i < 8; ++i) {
        for (const char* format : { "png", "jpg", "bmp" }) {
            files << pics(QStringLiteral("s%1.%2").arg(i).arg(format));
            QVERIFY(picture.save(files.last(), format));
        }
    }
    const QStringList arguments = QStringList { "-p", "60" } + files;
    const auto clear = [&] {
        for (const QString& name : QDir(m_pics->path()).entryList({ "t*" }, QDir::Files))
            QVERIFY(QFile::remove(pics(name)));
    };
    m_loggingRules = "pictelle.conversion.info=true";
    QElapsedTimer timer;
    timer.start();
    const Result whole = batch(arguments);
    const qint64 runMs = timer.elapsed();
    QCOMPARE(whole.status, 0);
    const QRegularExpressionMatch scratch = QRegularExpression("scratch folder: [^\n/]*(/[^\n]*)")
                                                .match(QString::fromUtf8(whole.err));
    QVERIFY2(scratch.hasMatch(), whole.err);
    const QString scratchFolder = scratch.captured(1);
    QVERIFY2(QFileInfo(scratchFolder).isDir(), qPrintable(scratchFolder));
    clear();

    for (int kill = 1; kill <= 20; ++kill) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_config->path());
        process.setProcessEnvironment(env);
        process.start(TestUtils::binDir() + "/pictelle-batch", arguments);
        QVERIFY(process.waitForStarted());
        const pid_t pid = pid_t(process.processId());
        QTest::qSleep(int(runMs * kill / 21));
        QCOMPARE(::kill(pid, SIGKILL), 0);
        QVERIFY(process.waitForFinished(60000));
        QTRY_COMPARE_WITH_TIMEOUT(childrenOf(pid), 0, 5000);

        const QStringList left = hiddenIn(m_pics->path()) + hiddenIn(scratchFolder);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
        for (const QString& name : QDir(m_pics->path()).entryList(QDir::Files)) {
            if (files.contains(pics(name)))
                continue;
            QVERIFY2(name.startsWith('t') && files.contains(pics(name.mid(1))), qPrintable(name));
            QVERIFY2(isWhole(pics(name)), qPrintable(name));
        }
        clear();
    }
}

// Sets the modification time of pics(name), to the nanosecond from a fixed second.
void TestBatch::setModified(const QString& name, qint64 nanoseconds)
{
    const qint64 base = 1700000000LL * 1000000000LL + nanoseconds;
    const timespec times[2] = { { time_t(base / 1000000000), long(base % 1000000000) },
        { time_t(base / 1000000000), long(base % 1000000000) } };
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(pics(name)).constData(), times, 0), 0);
}

void TestBatch::outputFolder_data()
{
    QTest::addColumn<QStringList>("arguments"); // names in the pictures' folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("written"); // in out/, sorted
    QTest::addColumn<QString>("stderrPattern");

    QTest::newRow("three formats, relative folder")
        << QStringList { "-o", "out", "a.jpg", "one/x.png", "two/x.bmp" } << 0
        << QStringList { "ta.jpg", "tx.bmp", "tx.png" } << "^$";
    QTest::newRow("long option, one file twice")
        << QStringList { "--output-dir=out", "a.jpg", "./a.jpg" } << 0 << QStringList { "ta.jpg" }
        << "^$";
    QTest::newRow("same names clash, nothing written")
        << QStringList { "-o", "out", "a.jpg", "one/x.png", "two/x.png" } << 2 << QStringList()
        << "out/tx.png would be the thumbnail of each of: .*one/x.png, .*two/x.png\n"
           ".*nothing was converted";
    QTest::newRow("clash under --keep-going too")
        << QStringList { "-k", "-o", "out", "one/x.png", "a.jpg", "two/x.png" } << 2
        << QStringList() << "one/x.png, .*two/x.png";
    QTest::newRow("raw and a JPEG of its thumbnail's name, beside them")
        << QStringList { "r.CR2", "r.CR2.jpg" } << 2 << QStringList()
        << "tr.CR2.jpg would be the thumbnail of each of: .*r.CR2, .*r.CR2.jpg";
    QTest::newRow("missing folder")
        << QStringList { "-o", "none", "a.jpg" } << 2 << QStringList() << "none is not a folder";
    QTest::newRow("a file is no folder")
        << QStringList { "-o", "a.jpg", "one/x.png" } << 2 << QStringList() << "is not a folder";
}

void TestBatch::outputFolder()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, written);
    QFETCH(QString, stderrPattern);
    for (const char* folder : { "out", "one", "two" })
        QVERIFY(QDir(m_pics->path()).mkdir(folder));
    QVERIFY(gradient(40, 20).save(pics("one/x.png"), "PNG"));
    QVERIFY(gradient(40, 20).save(pics("two/x.png"), "PNG"));
    QVERIFY(gradient(20, 40).save(pics("two/x.bmp"), "BMP"));

    const Result result = batch(QStringList { "-p", "50" } + arguments, m_pics->path());
    QCOMPARE(result.status, status);
    QCOMPARE(result.out, QByteArray(status == 0 ? "done\n" : ""));
    QVERIFY2(QRegularExpression(stderrPattern).match(result.err).hasMatch(), result.err);
    QCOMPARE(QDir(pics("out")).entryList(QDir::Files | QDir::Hidden, QDir::Name), written);
    for (const QString& name : written)
        QCOMPARE(QImageReader(pics("out/" + name)).size(),
            name == "tx.bmp"       ? QSize(10, 20)
                : name == "tx.png" ? QSize(20, 10)
                                   : QSize(100, 50));
    // Nothing appears beside the sources.
    for (const char* beside : { "ta.jpg", "one/tx.png", "two/tx.png", "two/tx.bmp" })
        QVERIFY2(!QFile::exists(pics(beside)), beside);
}

void TestBatch::update_data()
{
    QTest::addColumn<qint64>("source"); // nanoseconds past a fixed second
    QTest::addColumn<qint64>("thumbnail"); // -1: no thumbnail yet
    QTest::addColumn<bool>("intoFolder"); // with -o out
    QTest::addColumn<bool>("converted");

    const qint64 s = 1000000000;
    QTest::newRow("no thumbnail") << 500LL << -1LL << false << true;
    QTest::newRow("thumbnail newer") << 500LL << 501LL << false << false;
    QTest::newRow("same time") << 500LL << 500LL << false << false;
    QTest::newRow("source newer by a nanosecond") << 501LL << 500LL << false << true;
    QTest::newRow("source newer by a day") << 86400 * s << 0LL << false << true;
    QTest::newRow("in the output folder, newer") << 500LL << 2 * s << true << false;
    QTest::newRow("in the output folder, older") << 2 * s << 500LL << true << true;
}

void TestBatch::update()
{
    QFETCH(qint64, source);
    QFETCH(qint64, thumbnail);
    QFETCH(bool, intoFolder);
    QFETCH(bool, converted);
    QVERIFY(QDir(m_pics->path()).mkdir("out"));
    const QString made = intoFolder ? "out/ta.jpg" : "ta.jpg";
    const QByteArray old = "an earlier thumbnail";
    if (thumbnail >= 0) {
        QFile file(pics(made));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(old);
        file.close();
        setModified(made, thumbnail);
    }
    setModified("a.jpg", source);

    QStringList arguments { "-u", "-p", "10", "a.jpg" };
    if (intoFolder)
        arguments << "-o"
                  << "out";
    const Result result = batch(arguments, m_pics->path());
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out,
        QByteArray(converted ? "done: 1 converted, 0 passed over\n"
                             : "done: 0 converted, 1 passed over\n"));
    QFile file(pics(made));
    QVERIFY(file.open(QIODevice::ReadOnly));
    if (converted)
        QCOMPARE(QImageReader(pics(made)).size(), QSize(20, 10));
    else
        QCOMPARE(file.readAll(), old);
}

void TestBatch::updateCounts()
{
    QVERIFY(gradient(40, 20).save(pics("b.png"), "PNG"));
    QVERIFY(gradient(40, 20).save(pics("c.bmp"), "BMP"));
    QVERIFY(gradient(40, 20).save(pics("tb.png"), "PNG"));
    QFile(pics("c.bmp")).copy(pics("notes.txt"));
    QFile(pics("c.bmp")).copy(pics("ta.jpg"));
    setModified("a.jpg", 0);
    setModified("ta.jpg", 1); // up to date
    setModified("b.png", 2);
    setModified("tb.png", 1); // stale
    const QStringList files { "a.jpg", "gone.jpg", "b.png", "c.bmp", "notes.txt" };

    const Result result = batch(QStringList { "-u", "-k", "-p", "50" } + files, m_pics->path());
    QCOMPARE(result.status, 1);
    QCOMPARE(result.out, QByteArray("done: 2 converted, 2 passed over, 1 failed\n"));
    QVERIFY2(result.err.contains("gone.jpg"), result.err);
    QCOMPARE(QImageReader(pics("tb.png")).size(), QSize(20, 10));
    QCOMPARE(QImageReader(pics("tc.bmp")).size(), QSize(20, 10));
    QCOMPARE(QImageReader(pics("ta.jpg")).size(), QSize(40, 20)); // the BMP copied there

    // Without -u, the end stays as it was.
    const Result plain = batch({ "-p", "50", "a.jpg" }, m_pics->path());
    QCOMPARE(plain.out, QByteArray("done\n"));
}

void TestBatch::filesFrom_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input"); // standard input
    QTest::addColumn<QByteArray>("list"); // written to the file "list"
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("written");

    const QByteArray nul("\0", 1);
    QTest::newRow("NUL names from standard input, newline and blank inside")
        << QStringList { "-0", "--files-from", "-" }
        << "new\nline.jpg" + nul + "two words.png" + nul + nul << QByteArray() << 0
        << QStringList { "tnew\nline.jpg", "ttwo words.png" };
    QTest::newRow("NUL names without a last NUL, long option")
        << QStringList { "--null", "--files-from=-" } << "two words.png" + nul + "a.jpg"
        << QByteArray() << 0 << QStringList { "ta.jpg", "ttwo words.png" };
    QTest::newRow("lines from a file, beside names on the command line")
        << QStringList { "--files-from", "list", "two words.png" } << QByteArray()
        << QByteArray("a.jpg\n\nsub/b.bmp") << 0
        << QStringList { "ta.jpg", "sub/tb.bmp", "ttwo words.png" };
    QTest::newRow("a line holding a newline's halves is two names") << QStringList { "--files-from",
        "-" } << QByteArray("new\nline.jpg\n") << QByteArray() << 1 << QStringList();
    QTest::newRow("empty list") << QStringList { "--files-from", "-" } << QByteArray()
                                << QByteArray() << 0 << QStringList();
    QTest::newRow("missing list") << QStringList { "--files-from", "nothing" } << QByteArray()
                                  << QByteArray() << 2 << QStringList();
    QTest::newRow("-0 without a list")
        << QStringList { "-0", "a.jpg" } << QByteArray() << QByteArray() << 2 << QStringList();
}

void TestBatch::filesFrom()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, list);
    QFETCH(int, status);
    QFETCH(QStringList, written);
    QVERIFY(QDir(m_pics->path()).mkdir("sub"));
    QVERIFY(gradient(40, 20).save(pics("new\nline.jpg"), "JPG"));
    QVERIFY(gradient(40, 20).save(pics("two words.png"), "PNG"));
    QVERIFY(gradient(40, 20).save(pics("sub/b.bmp"), "BMP"));
    if (!list.isEmpty()) {
        QFile file(pics("list"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(list);
    }

    const Result result = batch(QStringList { "-p", "50" } + arguments, m_pics->path(), input);
    QCOMPARE(result.status, status);
    if (status == 0)
        QCOMPARE(result.out, QByteArray("done\n"));
    QStringList found;
    QDirIterator it(m_pics->path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(m_pics->path()).relativeFilePath(it.next());
        if (QFileInfo(path).fileName().startsWith('t') && path != "two words.png")
            found << path;
    }
    found.sort();
    written.sort();
    QCOMPARE(found, written);
}

void TestBatch::languages_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("stdoutPattern");
    QTest::addColumn<QString>("stderrPattern");
    QTest::newRow("German usage") << "de_DE.UTF-8" << QStringList { "-p", "10" } << 2 << "^$"
                                  << "^pictelle-batch: keine Dateien angegeben\nSiehe "
                                     "'pictelle-batch --help'.\n$";
    QTest::newRow("German failure, path kept")
        << "de_DE.UTF-8" << QStringList { "-p", "10", "gone.jpg" } << 1 << "^$"
        << "^pictelle-batch: Datei nicht gefunden: /.*/gone.jpg\n$";
    // What scripts read stays as it is.
    QTest::newRow("German counts") << "de_DE.UTF-8" << QStringList { "-u", "-p", "10", "a.jpg" }
                                   << 0 << "^done: 1 converted, 0 passed over\n$"
                                   << "^$";
    QTest::newRow("French usage") << "fr_FR.UTF-8" << QStringList { "-p", "10" } << 2 << "^$"
                                  << "aucun fichier donné";
    QTest::newRow("Spanish usage") << "es_ES.UTF-8" << QStringList { "-p", "10" } << 2 << "^$"
                                   << "no se indicó ningún archivo";
    QTest::newRow("C usage") << "C" << QStringList { "-p", "10" } << 2 << "^$"
                             << "^pictelle-batch: no files given\nTry 'pictelle-batch "
                                "--help'.\n$";
}

void TestBatch::languages()
{
    QFETCH(QString, language);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, stdoutPattern);
    QFETCH(QString, stderrPattern);
    m_language = language;
    const Result result = batch(arguments, m_pics->path());
    QCOMPARE(result.status, status);
    const auto dotAll = QRegularExpression::DotMatchesEverythingOption;
    QVERIFY2(QRegularExpression(stdoutPattern, dotAll).match(result.out).hasMatch(), result.out);
    QVERIFY2(
        QRegularExpression(stderrPattern, dotAll).match(QString::fromUtf8(result.err)).hasMatch(),
        result.err);
}

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
