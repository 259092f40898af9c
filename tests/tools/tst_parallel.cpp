// SPDX-License-Identifier: MIT

// pictelle-batch spread over several processes by GNU parallel, all from one program folder
// and into shared folders: each process must keep its scratch and temporary files to itself,
// so every thumbnail is byte for byte the one a single run writes, and nothing is left over.
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A picture that differs from its neighbours in size and colour.
QImage picture(int i)
{
    const int width = 20 + (i * 7) % 61;
    const int height = 15 + (i * 11) % 47;
    QImage image(width, height, i % 4 == 0 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                qRgba((x * 255) / width, (y * 255) / height, (i * 37) % 256,
                    image.hasAlphaChannel() ? (x + y + i) % 256 : 255));
    return image;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below `root`, relative to it, hidden ones too.
QStringList files(const QString& root)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    found.sort();
    return found;
}

} // namespace

class TestParallel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parallelRunsWriteWhatOneRunWrites();

private:
    QProcess* start(const QString& program, const QStringList& arguments);

    QTemporaryDir m_root;
    QStringList m_names; // the pictures, relative to pictures/
};

void TestParallel::initTestCase()
{
    if (QStandardPaths::findExecutable("parallel").isEmpty())
        QFAIL("GNU parallel is missing (scripts/setup.sh installs the parallel package)");
    QVERIFY(m_root.isValid());
    const char* formats[] = { "PNG", "BMP", "JPG" };
    for (int i = 0; i < 300; ++i) {
        // Blanks, a newline and folders of their own, as real collections have them.
        QString name = QStringLiteral("%1/pic %2.%3")
                           .arg(i % 3 ? "a" : "b b")
                           .arg(i, 3, 10, QLatin1Char('0'))
                           .arg(QString::fromLatin1(formats[i % 3]).toLower());
        if (i == 7)
            name.replace("pic ", "pic\nline ");
        QVERIFY(QDir().mkpath(m_root.filePath("pictures/" + name.section('/', 0, 0))));
        QVERIFY(picture(i).save(m_root.filePath("pictures/" + name), formats[i % 3]));
        m_names << name;
    }
    m_names.sort();
    QVERIFY(QDir().mkpath(m_root.filePath("single")));
    QVERIFY(QDir().mkpath(m_root.filePath("home/cache")));
}

QProcess* TestParallel::start(const QString& program, const QStringList& arguments)
{
    auto* process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_root.filePath("home")); // parallel keeps its own files there
    env.insert("XDG_CACHE_HOME", m_root.filePath("home/cache"));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(program, arguments);
    return process;
}

void TestParallel::parallelRunsWriteWhatOneRunWrites()
{
    const QString batch = TestUtils::binDir() + "/pictelle-batch";
    const QString pictures = m_root.filePath("pictures");
    const QString list = "find \"$1\" -type f -print0";

    // One process over the whole list, into a folder of its own: the reference.
    QProcess* single = start("bash",
        { "-c", "set -o pipefail; " + list + " | \"$2\" -p 37 -0 --files-from - -o \"$3\"", "bash",
            pictures, batch, m_root.filePath("single") });
    QVERIFY(single->waitForFinished(300000));
    QVERIFY2(single->exitCode() == 0, single->readAll());

    // Four at once from the same program folder, beside the pictures.
    const QString jobs = m_root.filePath("jobs");
    QProcess* spread = start("bash",
        { "-c",
            "set -o pipefail; " + list
                + " | parallel --will-cite -0 -X -j4 --joblog \"$3\" \"$2\" -p 37",
            "bash", pictures, batch, jobs });
    QVERIFY(spread->waitForFinished(300000));
    QVERIFY2(spread->exitCode() == 0, spread->readAll());

    // Several processes really ran, each to its end.
    const QList<QByteArray> jobLines = contents(jobs).trimmed().split('\n').mid(1);
    QVERIFY2(jobLines.size() >= 2, contents(jobs));
    for (const QByteArray& line : jobLines)
        QCOMPARE(line.split('\t').value(6), QByteArray("0")); // the Exitval column

    QStringList expected = m_names;
    for (const QString& name : m_names)
        expected << name.section('/', 0, 0) + "/t" + name.section('/', 1);
    expected.sort();
    QCOMPARE(files(pictures), expected); // no temporary file left beside the pictures
    QCOMPARE(files(m_root.filePath("single")).size(), m_names.size());
    for (const QString& name : m_names) {
        const QString thumbnail = "t" + name.section('/', 1);
        const QByteArray made
            = contents(pictures + "/" + name.section('/', 0, 0) + "/" + thumbnail);
        QVERIFY2(!made.isEmpty(), qPrintable(name));
        QVERIFY2(made == contents(m_root.filePath("single/" + thumbnail)), qPrintable(name));
    }
    // The runs that found the shared scratch folder busy removed their private ones.
    const QStringList cache
        = QDir(m_root.filePath("home/cache/Pictelle"))
              .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& left : cache)
        QVERIFY2(!left.startsWith("run-"), qPrintable(left));
}

QTEST_GUILESS_MAIN(TestParallel)
#include "tst_parallel.moc"
