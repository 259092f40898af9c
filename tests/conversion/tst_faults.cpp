// SPDX-License-Identifier: MIT

// Faults around the conversion run: broken converters, a disk that fills, sources that
// vanish, a scratch folder that disappears, links, two processes at once and file names
// that would be options or commands to a careless program. In every case the run must
// report the failing entry, write nothing half-done and never touch a source.

#include "conversion/ConversionRun.h"
#include "imaging/Pictures.h"
#include "imaging/SaveAsJPG.h"
#include "runtime/AppError.h"
#include "runtime/Runtime.h"
#include "tests/common/FakeRunHost.h"
#include "tests/common/TestUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Answers "go on" to every failure, at 50 %, for a list of `entries` entries.
FakeRunHost goingOnHost(qsizetype entries)
{
    FakeRunHost host;
    host.percent = 50;
    host.goOn = true;
    host.entries = int(entries);
    return host;
}

// A picture of one main colour with a little structure, so a thumbnail's centre tells
// which source it was made from.
QImage picture(QRgb colour, int width = 64, int height = 48)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    for (int x = 0; x < width; ++x)
        image.setPixel(x, 0, qRgb(255 - qRed(colour), 0, 0));
    return image;
}

bool save(const QImage& image, const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    const char* format = suffix == "png" ? "PNG" : suffix == "bmp" ? "BMP" : "JPG";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && image.save(&file, format);
}

QByteArray digest(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

bool closeColour(QRgb a, QRgb b, int tolerance = 16)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance
        && qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Names left in `folder` besides `expected`: scratch or temporary files would show here.
QStringList extraFiles(const QString& folder, const QStringList& expected)
{
    QStringList names = QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : expected)
        names.removeAll(name);
    return names;
}

const QStringList programs { "pictelle-batch", "png2bmp", "bmp2png" };

struct Result
{
    int exitCode = -1;
    QString errors;
};

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void brokenConverter_data();
    void brokenConverter();
    void diskFillsDuringRun_data();
    void diskFillsDuringRun();
    void diskFillsKeepsOldFile_data();
    void diskFillsKeepsOldFile();
    void sourceChangesBeforeItsTurn_data();
    void sourceChangesBeforeItsTurn();
    void scratchFolderRemoved();
    void thumbnailLinksToSource_data();
    void thumbnailLinksToSource();
    void twoProcessesAtOnce();
    void copyKeepsOnlyPermissionBits();
    void plantedScratchLinks_data();
    void plantedScratchLinks();
    void namesStayNames_data();
    void namesStayNames();
    void nameNotUtf8();

private:
    QString pics(const QString& name) const { return m_pics + '/' + name; }
    QString prog(const QString& name) const { return m_prog + '/' + name; }
    Result batch(const QStringList& files, rlim_t fileSizeLimit = RLIM_INFINITY) const;
    bool fakeConverter(const QString& name, const QByteArray& script) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_pics;
    QString m_prog;
    QString m_cache;
};

void TestFaults::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_pics = m_dir->filePath("pics");
    m_prog = m_dir->filePath("prog");
    m_cache = m_dir->filePath("cache");
    QVERIFY(QDir().mkpath(m_pics));
    QVERIFY(QDir().mkpath(m_prog));
    // pictelle-batch takes its own folder as the program folder, so it is copied, not linked.
    for (const QString& name : programs)
        QVERIFY(QFile::copy(TestUtils::binDir() + '/' + name, prog(name)));
}

Result TestFaults::batch(const QStringList& files, rlim_t fileSizeLimit) const
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CACHE_HOME", m_cache);
    process.setProcessEnvironment(env);
    process.setChildProcessModifier([fileSizeLimit] {
        // A write beyond the limit then fails with EFBIG, as on a full disk, instead of
        // killing the process.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit { fileSizeLimit, fileSizeLimit };
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    process.start(prog("pictelle-batch"), QStringList { "-p", "50", "--keep-going", "--" } + files);
    if (!process.waitForFinished(120000))
        return {};
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromUtf8(process.readAllStandardError()) };
}

bool TestFaults::fakeConverter(const QString& name, const QByteArray& script) const
{
    QFile::remove(prog(name));
    if (script.isEmpty())
        return true;
    QFile file(prog(name));
    return file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + script) > 0
        && file.setPermissions(file.permissions() | QFile::ExeOwner);
}

void TestFaults::brokenConverter_data()
{
    QTest::addColumn<QString>("converter");
    QTest::addColumn<QByteArray>("script"); // empty: the converter is missing
    for (const char* converter : { "png2bmp", "bmp2png" }) {
        QTest::addRow("%s crashes", converter) << converter << QByteArray("kill -SEGV $$\n");
        QTest::addRow("%s exits 0 writing nothing", converter)
            << converter << QByteArray("exit 0\n");
        QTest::addRow("%s writes an empty file", converter)
            << converter << QByteArray(": > \"$2\"\nexit 0\n");
        QTest::addRow("%s missing", converter) << converter << QByteArray();
    }
}

void TestFaults::brokenConverter()
{
    QFETCH(QString, converter);
    QFETCH(QByteArray, script);
    QVERIFY(save(picture(qRgb(200, 40, 40)), pics("a.png")));
    QVERIFY(save(picture(qRgb(40, 200, 40)), pics("b.jpg")));
    const QByteArray source = digest(pics("a.png"));
    QVERIFY(fakeConverter(converter, script));

    const Result r = batch({ pics("a.png"), pics("b.jpg") });
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.errors.contains(pics("a.png")), qPrintable(r.errors));
    QVERIFY(!QFile::exists(pics("ta.png")));
    QCOMPARE(digest(pics("a.png")), source);
    // The run went on with the next entry, and left no scratch file behind.
    QCOMPARE(QImageReader(pics("tb.jpg")).size(), QSize(32, 24));
    // temp.bmp stays after a JPEG entry as the record of the last picture read.
    QStringList expected = programs + QStringList { "temp.bmp" };
    if (!script.isEmpty())
        expected.append(converter);
    else
        expected.removeAll(converter);
    QCOMPARE(extraFiles(m_prog, expected), QStringList());
    QCOMPARE(extraFiles(m_pics, { "a.png", "b.jpg", "tb.jpg" }), QStringList());
}

void TestFaults::diskFillsDuringRun_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("jpeg") << "big.jpg";
    QTest::newRow("bmp") << "big.bmp";
    QTest::newRow("png") << "big.png";
}

// No file may grow beyond 8 KiB in the converting processes: the scratch pictures and
// thumbnails of a 400 x 300 picture at 50% do not fit, the sources were written before.
void TestFaults::diskFillsDuringRun()
{
    QFETCH(QString, name);
    QImage noise(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 7919 + y * 104729) % 251, (x * y) % 253, y % 255));
    QVERIFY(save(noise, pics(name)));
    const QByteArray source = digest(pics(name));

    const Result r = batch({ pics(name) }, 8192);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.errors.contains(QString::fromLocal8Bit(strerror(EFBIG))), qPrintable(r.errors));
    QVERIFY2(r.errors.contains(pics(name)), qPrintable(r.errors));
    QCOMPARE(digest(pics(name)), source);
    QCOMPARE(extraFiles(m_pics, { name }), QStringList());
    QCOMPARE(extraFiles(m_prog, programs), QStringList());
}

void TestFaults::diskFillsKeepsOldFile_data()
{
    QTest::addColumn<QString>("writer");
    QTest::newRow("FileCopy") << "FileCopy";
    QTest::newRow("SaveJPEG") << "SaveJPEG";
    QTest::newRow("SavePicture") << "SavePicture";
}

// The writers themselves under a file size limit in this process: a file that cannot be
// finished leaves the previous one whole (each writes a temporary file and renames it).
void TestFaults::diskFillsKeepsOldFile()
{
    QFETCH(QString, writer);
    QImage big(300, 300, QImage::Format_RGB32);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 300; ++x)
            big.setPixel(x, y, qRgb((x * 31 + y * 17) & 255, (x ^ y) & 255, (x * y) & 255));
    QVERIFY(save(big, pics("big.bmp")));
    const QString target = pics("old");
    QVERIFY(save(picture(qRgb(1, 2, 3), 8, 8), target));
    const QByteArray before = digest(target);

    rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit { 16384, saved.rlim_max };
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    QString message;
    try {
        if (writer == "FileCopy")
            Runtime::FileCopy(pics("big.bmp"), target);
        else if (writer == "SaveJPEG")
            SaveAsJPG::SaveJPEG(big, target, 100);
        else
            Pictures::SavePicture(big, target);
    } catch (const AppError& e) {
        message = e.description();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY2(!message.isEmpty(), "the write beyond the limit was reported as done");
    if (writer == "SavePicture")
        QVERIFY(message.contains(target));
    QCOMPARE(digest(target), before);
    QCOMPARE(extraFiles(m_pics, { "big.bmp", "old" }), QStringList());
}

void TestFaults::sourceChangesBeforeItsTurn_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("change");
    for (const char* name : { "a.jpg", "a.bmp", "a.png" }) {
        QTest::addRow("%s deleted", name) << name << "deleted";
        QTest::addRow("%s replaced by a folder", name) << name << "folder";
        QTest::addRow("%s replaced by text", name) << name << "text";
        QTest::addRow("%s replaced by a pipe", name) << name << "pipe";
    }
}

// The source changes after it was listed (and possibly read ahead) and before its turn.
void TestFaults::sourceChangesBeforeItsTurn()
{
    QFETCH(QString, name);
    QFETCH(QString, change);
    QVERIFY(save(picture(qRgb(10, 20, 200)), pics("first.jpg")));
    QVERIFY(save(picture(qRgb(10, 200, 20)), pics(name)));
    QVERIFY(save(picture(qRgb(200, 20, 20)), pics("last.bmp")));
    const QStringList entries { pics("first.jpg"), pics(name), pics("last.bmp") };

    FakeRunHost host = goingOnHost(entries.size());
    host.beforeEntry = [&](int entry) {
        if (entry != 2)
            return;
        QFile::remove(pics(name));
        if (change == "folder") {
            QDir().mkpath(pics(name + "/inside"));
        } else if (change == "pipe") {
            // Nobody ever writes to it: a reader that waited would wait for good.
            ::mkfifo(QFile::encodeName(pics(name)).constData(), 0600);
        } else if (change == "text") {
            QFile text(pics(name));
            if (text.open(QIODevice::WriteOnly))
                text.write("not a picture at all\n");
        }
    };
    QVERIFY(ConversionRun::run({ entries, m_prog }, host));

    QCOMPARE(host.errors.size(), 1);
    QVERIFY2(host.errors.first().description().contains(pics(name)),
        qPrintable(host.errors.first().description()));
    if (change == "deleted")
        QCOMPARE(host.errors.first().number(), int(ErrorNumber::FileNotFound));
    if (change == "folder")
        QVERIFY(QFileInfo(pics(name + "/inside")).isDir());
    QVERIFY(!QFile::exists(pics("t" + name)));
    QVERIFY(QFile::exists(pics("tfirst.jpg")));
    QVERIFY(QFile::exists(pics("tlast.bmp")));
}

// The scratch folder (here the cache folder, as the program folder is not the user's
// alone) disappears in the middle of a run: the entries that meet it fail with a message
// and nothing else is harmed.
void TestFaults::scratchFolderRemoved()
{
    QVERIFY(QFile::setPermissions(m_prog, QFileInfo(m_prog).permissions() | QFile::WriteGroup));
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache));
    const QString scratch = m_cache + "/Pictelle";

    QStringList entries;
    for (const char* name : { "a.bmp", "b.jpg", "c.png", "d.bmp" }) {
        QVERIFY(save(picture(qRgb(120, 130, 140)), pics(name)));
        entries.append(pics(name));
    }
    FakeRunHost host = goingOnHost(entries.size());
    bool sawScratch = false;
    host.beforeEntry = [&](int entry) {
        if (entry == 2) {
            sawScratch = QFileInfo(scratch).isDir();
            QDir(scratch).removeRecursively();
        }
    };
    const bool completed = ConversionRun::run({ entries, m_prog }, host);
    qputenv("XDG_CACHE_HOME", oldCache);

    QVERIFY(completed);
    QVERIFY(sawScratch);
    QVERIFY(QFile::exists(pics("ta.bmp")));
    QCOMPARE(host.errors.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QString message = host.errors.at(i).description();
        QVERIFY2(
            message.contains(entries.at(i + 1)) && message.contains(scratch), qPrintable(message));
    }
    QCOMPARE(extraFiles(m_pics, { "a.bmp", "b.jpg", "c.png", "d.bmp", "ta.bmp" }), QStringList());
    QCOMPARE(extraFiles(m_prog, programs), QStringList());
}

void TestFaults::thumbnailLinksToSource_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("jpeg") << "a.jpg";
    QTest::newRow("bmp") << "a.bmp";
    QTest::newRow("png") << "a.png";
}

void TestFaults::thumbnailLinksToSource()
{
    QFETCH(QString, name);
    QVERIFY(save(picture(qRgb(90, 60, 30)), pics(name)));
    const QByteArray source = digest(pics(name));
    QVERIFY(QFile::link(name, pics("t" + name)));

    const Result r = batch({ pics(name) });
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(digest(pics(name)), source);
    QVERIFY(!QFileInfo(pics("t" + name)).isSymLink());
    QCOMPARE(QImageReader(pics("t" + name)).size(), QSize(32, 24));
}

// Two processes share one program folder: both lists come out whole, and every thumbnail
// shows its own source's colour (scratch files swapped between the runs would not).
void TestFaults::twoProcessesAtOnce()
{
    const QStringList kinds { "png", "jpg", "bmp" };
    QStringList lists[2];
    QHash<QString, QRgb> colourOf;
    for (int p = 0; p < 2; ++p) {
        for (int i = 0; i < 6; ++i) {
            const QString name = QStringLiteral("p%1-%2.%3").arg(p).arg(i).arg(kinds[i % 3]);
            const QRgb colour = qRgb(40 * i + 20, p ? 220 : 30, 200 - 30 * i);
            QVERIFY(save(picture(colour, 160, 120), pics(name)));
            lists[p].append(pics(name));
            colourOf.insert(name, colour);
        }
    }
    QProcess processes[2];
    for (int p = 0; p < 2; ++p)
        processes[p].start(prog("pictelle-batch"), QStringList { "-p", "50", "--" } + lists[p]);
    for (QProcess& process : processes) {
        QVERIFY(process.waitForFinished(120000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    }
    for (auto it = colourOf.cbegin(); it != colourOf.cend(); ++it) {
        const QImage thumbnail(pics("t" + it.key()));
        QCOMPARE(thumbnail.size(), QSize(80, 60));
        QVERIFY2(closeColour(thumbnail.pixel(40, 30), it.value()), qPrintable(it.key()));
    }
    QCOMPARE(extraFiles(m_prog, programs + QStringList { "temp.bmp" }), QStringList());
    QCOMPARE(extraFiles(m_cache + "/Pictelle", { "temp.bmp" }), QStringList());
}

// A source of someone else's with set-user-ID or set-group-ID bits: its thumbnail, owned
// by whoever runs Pictelle, gets the permission bits only.
void TestFaults::copyKeepsOnlyPermissionBits()
{
    QVERIFY(save(picture(qRgb(1, 1, 1)), pics("a.bmp")));
    const QByteArray from = QFile::encodeName(pics("a.bmp"));
    QCOMPARE(::chmod(from.constData(), 06755), 0);
    Runtime::FileCopy(pics("a.bmp"), pics("copy.bmp"));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(pics("copy.bmp")).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0755));
    QCOMPARE(digest(pics("copy.bmp")), digest(pics("a.bmp")));
}

void TestFaults::plantedScratchLinks_data()
{
    QTest::addColumn<QString>("scratchName");
    QTest::newRow("temp.bmp") << "temp.bmp";
    QTest::newRow("temp1.bmp") << "temp1.bmp";
    QTest::newRow("temp.png") << "temp.png";
}

// Links under the scratch names point at a file of the user's: no write may go through
// them, whatever the run converts.
void TestFaults::plantedScratchLinks()
{
    QFETCH(QString, scratchName);
    QVERIFY(save(picture(qRgb(9, 9, 9)), pics("victim.bmp")));
    const QByteArray victim = digest(pics("victim.bmp"));
    QVERIFY(QFile::link(pics("victim.bmp"), prog(scratchName)));
    QStringList entries;
    for (const char* name : { "a.bmp", "b.png", "c.jpg" }) {
        QVERIFY(save(picture(qRgb(200, 200, 10)), pics(name)));
        entries.append(pics(name));
    }
    FakeRunHost host = goingOnHost(entries.size());
    QVERIFY(ConversionRun::run({ entries, m_prog }, host));
    QVERIFY(host.errors.isEmpty());
    QCOMPARE(digest(pics("victim.bmp")), victim);
    QVERIFY(QFileInfo(prog(scratchName)).isSymLink());
    for (const char* name : { "ta.bmp", "tb.png", "tc.jpg" })
        QCOMPARE(QImageReader(pics(name)).size(), QSize(32, 24));
}

void TestFaults::namesStayNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("newline") << "two\nlines.png";
    QTest::newRow("quotes") << "it's \"quoted\".png";
    QTest::newRow("command substitution") << "$(touch pwned).png";
    QTest::newRow("backticks and semicolon") << "`touch pwned`; rm -rf x.jpg";
    QTest::newRow("option -O") << "-O.png";
    QTest::newRow("batch options") << "--keep-going -p 1.bmp";
    QTest::newRow("non-ASCII") << "Grüße, Ñandú, 猫 🐈.png";
    QTest::newRow("backslashes") << "a\\\" b\\.png";
}

// Through pictelle-batch and, for PNG, both converters: the file is found, its thumbnail
// lands beside it with the right name, and no name runs as a command.
void TestFaults::namesStayNames()
{
    QFETCH(QString, name);
    QVERIFY(save(picture(qRgb(70, 80, 90)), pics(name)));
    const Result r = batch({ pics(name) });
    QVERIFY2(r.exitCode == 0, qPrintable(r.errors));
    QCOMPARE(QImageReader(pics("t" + name)).size(), QSize(32, 24));
    QCOMPARE(extraFiles(m_pics, { name, "t" + name }), QStringList());
    QVERIFY(!QFile::exists(prog("pwned")));
    QVERIFY(!QFile::exists("pwned"));
}

// A name whose bytes are not UTF-8 cannot be held as text without change; it is refused
// with a message, and the file whose name it would turn into is left alone.
void TestFaults::nameNotUtf8()
{
    const QByteArray raw = QFile::encodeName(m_pics) + "/bad\xff.jpg";
    const QString decoy = pics(QStringLiteral("bad\uFFFD.jpg"));
    QVERIFY(save(picture(qRgb(5, 6, 7)), decoy));
    const QByteArray decoyBytes = digest(decoy);
    // QFile cannot name the raw file, so it is made through the system call.
    QCOMPARE(::link(QFile::encodeName(decoy).constData(), raw.constData()), 0);

    const QByteArray program = QFile::encodeName(prog("pictelle-batch"));
    const QByteArray cache = "XDG_CACHE_HOME=" + QFile::encodeName(m_cache);
    char* argv[] = { const_cast<char*>(program.constData()), const_cast<char*>("-p"),
        const_cast<char*>("50"), const_cast<char*>("--"), const_cast<char*>(raw.constData()),
        nullptr };
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        if (qstrncmp(*e, "XDG_CACHE_HOME=", 15) != 0)
            env.push_back(*e);
    env.push_back(const_cast<char*>(cache.constData()));
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    QCOMPARE(rc, 0);
    int status = 0;
    QCOMPARE(waitpid(pid, &status, 0), pid);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 1);

    QVERIFY(!QFile::exists(pics(QStringLiteral("tbad\uFFFD.jpg"))));
    QCOMPARE(digest(decoy), decoyBytes);
    QCOMPARE(::access((QFile::encodeName(m_pics) + "/tbad\xff.jpg").constData(), F_OK), -1);

    // In the run itself the message names the file as best it can be shown.
    FakeRunHost host = goingOnHost(1);
    QVERIFY(ConversionRun::run({ { QFile::decodeName(raw) }, m_prog }, host));
    QCOMPARE(host.errors.size(), 1);
    QVERIFY(host.errors.first().description().contains("not valid UTF-8"));
    QVERIFY(host.errors.first().description().contains(decoy));
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
