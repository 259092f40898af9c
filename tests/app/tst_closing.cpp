// SPDX-License-Identifier: MIT

// Closing during a run, many times and at varied moments: through the window (the real
// Form1 with its real way of ending, in a child process) and through pictelle-batch's second
// interrupt. Nothing may stay behind: no hidden temporary beside the pictures or among the
// scratch files, no converter still running, no thumbnail that is not a whole picture.
#include "app/Form1.h"
#include "app/PictureButton.h"
#include "tests/common/FakeDialogs.h"
#include "tests/common/ImageFixtures.h"
#include "tests/common/QuietServices.h"
#include "tests/common/TestUtils.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int closesEach = 25;
// Of the 13 closes that start from no thumbnail, about 9 land between the first and the
// last (3 at the fewest seen on a loaded machine, whose runs stray from the one measured).
constexpr int minMidRun = 1;

// A picture is whole when it decodes and its format's end is there: a JPEG's end-of-image
// marker, a PNG's IEND chunk, a BMP's every byte its header counts.
bool wholePicture(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (QImage::fromData(bytes).isNull())
        return false;
    if (path.endsWith(QLatin1String(".jpg")))
        return bytes.endsWith("\xFF\xD9");
    if (path.endsWith(QLatin1String(".png")))
        return bytes.endsWith(QByteArray("IEND\xAE\x42\x60\x82", 8));
    return bytes.size() >= 6 && qFromLittleEndian<quint32>(bytes.constData() + 2) == bytes.size();
}

// A folder of pictures big enough that writes and converters are under way for a good part
// of a run, and a program folder of its own, which also holds the scratch files.
class Bench
{
public:
    Bench()
    {
        QDir(m_root.path()).mkpath("pics");
        QDir(m_root.path()).mkpath("program");
        for (const char* name : { "png2bmp", "bmp2png", "pictelle-batch" })
            QFile::copy(TestUtils::binDir() + '/' + name, program() + '/' + name);
        const QImage picture = ImageFixtures::gradient(2400, 1800);
        for (int i = 0; i < 3; ++i) {
            for (const char* format : { "jpg", "bmp", "png" }) {
                const QString path = pics() + QStringLiteral("/p%1.%2").arg(i).arg(format);
                picture.save(path, format, 90);
                m_entries << path;
            }
        }
    }

    QString pics() const { return m_root.filePath("pics"); }
    QString program() const { return m_root.filePath("program"); }
    const QStringList& entries() const { return m_entries; }

    QStringList thumbnails() const
    {
        return QDir(pics()).entryList({ "t*" }, QDir::Files | QDir::Hidden);
    }
    void removeThumbnails() const
    {
        for (const QString& name : thumbnails())
            QFile::remove(pics() + '/' + name);
    }

    // What the close left behind, one line each.
    QStringList leftBehind() const
    {
        QStringList found;
        QDirIterator it(m_root.path(), { ".pictelle-*" }, QDir::Files | QDir::Hidden,
            QDirIterator::Subdirectories);
        while (it.hasNext())
            found << "temporary " + it.next();
        for (const QString& name : thumbnails()) {
            if (!wholePicture(pics() + '/' + name))
                found << "broken thumbnail " + name;
        }
        // Converters the program ended come here to be reaped; one still running is a fault.
        while (::waitpid(-1, nullptr, WNOHANG) > 0) { }
        QDirIterator tasks("/proc/self/task", QDir::Dirs | QDir::NoDotAndDotDot);
        while (tasks.hasNext()) {
            QFile children(tasks.next() + "/children");
            if (children.open(QIODevice::ReadOnly) && !children.readAll().trimmed().isEmpty())
                found << "a process still running";
        }
        return found;
    }

private:
    QTemporaryDir m_root;
    QStringList m_entries;
};

// Spreads the closes evenly over a little more than a whole run.
int closeMoment(int index, qint64 runMs)
{
    return int(runMs * 6 / 5 * index / (closesEach - 1));
}

} // namespace

class TestClosing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowCloseLeavesNothing();
    void batchSecondInterruptLeavesNothing();

private:
    Bench m_bench;
    qint64 m_runMs = 0;
};

void TestClosing::initTestCase()
{
    // A converter that outlived its parent would come to this process and be seen.
    QCOMPARE(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    QCOMPARE(m_bench.entries().size(), 9);
    QProcess batch;
    QElapsedTimer clock;
    clock.start();
    batch.start(
        m_bench.program() + "/pictelle-batch", QStringList { "-p", "50" } + m_bench.entries());
    QVERIFY(batch.waitForFinished(60000));
    m_runMs = clock.elapsed();
    QCOMPARE(batch.exitCode(), 0);
    QCOMPARE(m_bench.thumbnails().size(), 9);
    qInfo("a whole run takes %lld ms", m_runMs);
}

void TestClosing::windowCloseLeavesNothing()
{
    int midRun = 0;
    for (int i = 0; i < closesEach; ++i) {
        // Every other run replaces the thumbnails of the one before.
        if (i % 2 == 0)
            m_bench.removeThumbnails();
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
            { "--close-after", QString::number(closeMoment(i, m_runMs)), m_bench.pics(),
                m_bench.program() });
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0); // 3: the run did not start, 4: the close did not end it
        const QStringList left = m_bench.leftBehind();
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1String("; "))));
        const qsizetype made = m_bench.thumbnails().size();
        midRun += i % 2 == 0 && made > 0 && made < 9;
    }
    qInfo("%d closes landed between the first thumbnail and the last", midRun);
    QVERIFY2(midRun >= minMidRun, "the closes missed the runs");
}

void TestClosing::batchSecondInterruptLeavesNothing()
{
    int midRun = 0;
    for (int i = 0; i < closesEach; ++i) {
        if (i % 2 == 0)
            m_bench.removeThumbnails();
        QProcess batch;
        batch.setChildProcessModifier([] { ::setpgid(0, 0); });
        batch.start(
            m_bench.program() + "/pictelle-batch", QStringList { "-p", "50" } + m_bench.entries());
        QVERIFY(batch.waitForStarted());
        const pid_t pid = pid_t(batch.processId());
        // To the process alone, or to its group as Ctrl-C does (the converter hears it too).
        const pid_t target = i % 3 == 0 ? -pid : pid;
        QTest::qSleep(closeMoment(i, m_runMs));
        ::kill(target, SIGINT);
        QTest::qSleep(5 * (i % 4)); // the second lands inside an entry or right on the first
        ::kill(target, SIGINT);
        QVERIFY(batch.waitForFinished(30000));
        const QStringList left = m_bench.leftBehind();
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1String("; "))));
        const qsizetype made = m_bench.thumbnails().size();
        midRun += i % 2 == 0 && made > 0 && made < 9;
    }
    qInfo("%d interrupts landed between the first thumbnail and the last", midRun);
    QVERIFY2(midRun >= minMidRun, "the interrupts missed the runs");
}

namespace {

// The child of windowCloseLeavesNothing: the window with its real way of ending, closed
// `ms` after its run has started; at 0, at once, before the window has run a single event.
int closeAfter(int ms, const QString& pics, const QString& program)
{
    auto dialogs = std::make_shared<FakeDialogs>();
    for (const QFileInfo& file : QDir(pics).entryInfoList({ "p*" }, QDir::Files, QDir::Name))
        dialogs->filesToReturn << file.filePath();
    Form1::Services services = quietServices(dialogs, program);
    services.endProgram = Form1::defaultServices().endProgram;
    Form1 form(services);
    form.show();
    form.Check1->click();
    form.Check2->click();
    if (!form.isConverting())
        return 3;
    if (ms == 0)
        form.close();
    else {
        QTimer::singleShot(ms, &form, &QWidget::close);
        QApplication::exec();
    }
    return 4;
}

} // namespace

int main(int argc, char** argv)
{
    // Settings go to a folder of this test's own (the children inherit it).
    QTemporaryDir configHome;
    if (argc != 5)
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--close-after") == 0)
        return closeAfter(
            atoi(argv[2]), QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));
    TestClosing test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_closing.moc"
