// SPDX-License-Identifier: MIT

// pictelle-batch as its users meet it: options, the remembered percentage, messages, exit
// statuses and the progress line.
#include "tests/common/ImageFixtures.h"
#include "tests/common/PngFixtures.h"
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

using ImageFixtures::gradient;

struct Result
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

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

private:
    Result batch(const QStringList& arguments, const QString& folder = {});
    QString pics(const QString& name) const { return m_pics->filePath(name); }
    void writeSetting(const QByteArray& value);

    std::unique_ptr<QTemporaryDir> m_pics;
    std::unique_ptr<QTemporaryDir> m_config;
    QString m_loggingRules; // QT_LOGGING_RULES of the next batch(); none when empty
};

void TestBatch::init()
{
    m_pics = std::make_unique<QTemporaryDir>();
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_pics->isValid() && m_config->isValid());
    m_loggingRules.clear();
    QVERIFY(gradient(200, 100).save(pics("a.jpg"), "JPG"));
}

Result TestBatch::batch(const QStringList& arguments, const QString& folder)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", m_config->path());
    env.remove("QT_LOGGING_RULES");
    if (!m_loggingRules.isEmpty())
        env.insert("QT_LOGGING_RULES", m_loggingRules);
    process.setProcessEnvironment(env);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(TestUtils::binDir() + "/pictelle-batch", arguments);
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
                          << "^Usage: pictelle-batch \\[-p PERCENT\\].*Exit status"
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

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
