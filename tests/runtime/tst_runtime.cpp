// SPDX-License-Identifier: MIT

#include "runtime/AppError.h"
#include "runtime/Runtime.h"
#include "tests/common/OrdinaryUserAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <random>
#include <sys/stat.h>
#include <thread>

using namespace Runtime;

namespace {

void writeFile(const QString& path, const QByteArray& content = "x")
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList allOf(Dir& dir)
{
    QStringList names;
    for (QString name = dir.next(); !name.isEmpty(); name = dir.next())
        names << name;
    names.sort();
    return names;
}

// Calls `f`, which must throw AppError `number` whose description names `path`.
template <typename F> void expectError(F f, int number, const QString& path)
{
    try {
        f();
        QFAIL("no error was thrown");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), number);
        QVERIFY2(e.description().contains(path), qPrintable(e.description()));
    }
}

} // namespace

class TestRuntime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dirListing_data();
    void dirListing();
    void interleavedSearches();
    void unreadableFolder_data();
    void unreadableFolder();
    void attributes();
    void fileCopy();
    void fileCopyErrors();
    void killAndDates();
    void settings();
    void settingsWriteFailure();
    void fileErrors_data();
    void fileErrors();
    void splitCommandLine_data();
    void splitCommandLine();
    void shellFailures();
    void doEventsOnlyOnOwningThread();

private:
    QTemporaryDir m_sandbox;
    QString m_tree; // a.jpg B.JPG .hidden.jpg noext dangle sub/ .hsub/ linkdir -> sub
};

void TestRuntime::initTestCase()
{
    QVERIFY(m_sandbox.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_sandbox.filePath("config")));

    m_tree = m_sandbox.filePath("tree");
    QVERIFY(QDir().mkpath(m_tree + "/sub"));
    QVERIFY(QDir().mkpath(m_tree + "/.hsub"));
    for (const char* name : { "a.jpg", "B.JPG", ".hidden.jpg", "noext" })
        writeFile(m_tree + "/" + name);
    QVERIFY(QFile::link(m_tree + "/sub", m_tree + "/linkdir"));
    QVERIFY(QFile::link(m_tree + "/gone", m_tree + "/dangle"));
}

void TestRuntime::dirListing_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("mask");
    QTest::addColumn<QStringList>("expected");

    const QStringList plain { "B.JPG", "a.jpg", "dangle", "noext" };
    QTest::newRow("mask 0: plain files only") << "*" << 0 << plain;
    QTest::newRow("trailing slash lists all") << "" << 0 << plain;
    QTest::newRow("mask 16: folders and plain files, nothing hidden")
        << "*" << 16
        << QStringList { ".", "..", "B.JPG", "a.jpg", "dangle", "linkdir", "noext", "sub" };
    QTest::newRow("mask 6: plain and hidden files, no folder")
        << "*" << 6 << QStringList { ".hidden.jpg", "B.JPG", "a.jpg", "dangle", "noext" };
    QTest::newRow("mask 18: hidden folders too")
        << "*" << 18
        << QStringList { ".", "..", ".hidden.jpg", ".hsub", "B.JPG", "a.jpg", "dangle", "linkdir",
               "noext", "sub" };
    QTest::newRow("extension ignores case") << "*.jpg" << 0 << QStringList { "B.JPG", "a.jpg" };
    QTest::newRow("upper-case pattern, hidden")
        << "*.JPG" << 2 << QStringList { ".hidden.jpg", "B.JPG", "a.jpg" };
    QTest::newRow("*.* matches names without a dot") << "*.*" << 0 << plain;
    QTest::newRow("name.* matches the bare name") << "noext.*" << 0 << QStringList { "noext" };
    QTest::newRow("? is one character") << "?.jpg" << 0 << QStringList { "B.JPG", "a.jpg" };
    QTest::newRow("?? needs two") << "??.jpg" << 0 << QStringList {};
    QTest::newRow("? at the end") << "*.jp?" << 0 << QStringList { "B.JPG", "a.jpg" };
    QTest::newRow("leading dot typed at the prompt") << "*..jpg" << 6 << QStringList {};
    QTest::newRow("exact name") << "a.jpg" << 0 << QStringList { "a.jpg" };
    QTest::newRow("exact name, other case") << "A.JPG" << 0 << QStringList {};
    QTest::newRow("exact missing name") << "nothing" << 0 << QStringList {};
    QTest::newRow("exact folder without 16") << "sub" << 0 << QStringList {};
    QTest::newRow("exact folder with 16") << "sub" << 16 << QStringList { "sub" };
    QTest::newRow("exact hidden file without 2") << ".hidden.jpg" << 0 << QStringList {};
}

void TestRuntime::dirListing()
{
    QFETCH(QString, pattern);
    QFETCH(int, mask);
    QFETCH(QStringList, expected);

    Dir dir(m_tree + "/" + pattern, mask);
    QCOMPARE(allOf(dir), expected);
    QCOMPARE(dir.next(), QString()); // stays exhausted
}

void TestRuntime::interleavedSearches()
{
    QTemporaryDir folder;
    QStringList expected;
    for (int i = 0; i < 60; ++i) {
        expected << QString("f%1.png").arg(i, 2, 10, QChar('0'));
        writeFile(folder.filePath(expected.last()));
    }
    QVERIFY(QDir().mkdir(folder.filePath("sub")));

    Dir first(folder.path() + "/*.png", 6);
    Dir second(folder.path() + "/", 16);
    QStringList fromFirst;
    QStringList fromSecond;
    bool folderSeen = false;
    for (;;) {
        const QString a = first.next();
        const QString b = second.next();
        if (a.isEmpty() && b.isEmpty())
            break;
        if (!a.isEmpty())
            fromFirst << a;
        if (!b.isEmpty() && b != "." && b != "..") {
            fromSecond << b;
            // A search started in the middle of another must not disturb it.
            Dir inner(folder.path() + "/f0?.png");
            QVERIFY(!inner.next().isEmpty());
            if (b == "sub")
                folderSeen = second.lastIsFolder();
        }
    }
    fromFirst.sort();
    QCOMPARE(fromFirst, expected);
    QCOMPARE(fromSecond.size(), expected.size() + 1);
    QVERIFY(folderSeen);
}

void TestRuntime::unreadableFolder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing folder") << "missing";
    QTest::newRow("folder is a file") << "file";
    QTest::newRow("no read permission") << "chmod";
}

void TestRuntime::unreadableFolder()
{
    QFETCH(QString, kind);
    QTemporaryDir sandbox;
    QString folder = sandbox.filePath("locked");
    if (kind == "file") {
        writeFile(folder);
    } else if (kind == "chmod") {
        QVERIFY(QDir().mkdir(folder));
        writeFile(folder + "/inside.jpg");
        // Only the locked folder's own bits may stop the search, for root too.
        QVERIFY(chmod(QFile::encodeName(sandbox.path()).constData(), 0705) == 0);
        QVERIFY(chmod(QFile::encodeName(folder).constData(), 0) == 0);
    }
    const auto unlock = qScopeGuard([&] {
        if (kind == "chmod")
            chmod(QFile::encodeName(folder).constData(), 0700);
    });
    QString first;
    {
        OrdinaryUserAccess access;
        QVERIFY2(access.ok(), "root could not check files as another user");
        Dir dir(folder + "/*", 22);
        first = dir.next();
    }
    QCOMPARE(first, QString());
}

void TestRuntime::attributes()
{
    const QString readOnly = m_sandbox.filePath("readonly.txt");
    writeFile(readOnly);
    QVERIFY(chmod(QFile::encodeName(readOnly).constData(), 0444) == 0);

    QCOMPARE(GetAttr(m_tree + "/a.jpg"), int(vbNormal));
    QCOMPARE(GetAttr(m_tree + "/sub"), int(vbDirectory));
    QCOMPARE(GetAttr(m_tree + "/sub/"), int(vbDirectory));
    QCOMPARE(GetAttr(m_tree + "/.hidden.jpg"), int(vbHidden));
    QCOMPARE(GetAttr(m_tree + "/.hsub"), vbHidden | vbDirectory);
    QCOMPARE(GetAttr(m_tree + "/linkdir"), int(vbDirectory));
    QCOMPARE(GetAttr(readOnly), int(vbReadOnly));
    QCOMPARE(GetAttr(m_tree + "/dangle"), int(vbNormal)); // the link itself exists
    expectError([&] { GetAttr(m_tree + "/missing.jpg"); }, 53, m_tree + "/missing.jpg");

    QVERIFY(pathExists(m_tree + "/a.jpg"));
    QVERIFY(!pathExists(m_tree + "/dangle"));
    QVERIFY(!pathExists(QString()));
}

void TestRuntime::fileCopy()
{
    QTemporaryDir target;
    std::mt19937 random(7);
    QByteArray big(300 * 1024 + 7, Qt::Uninitialized);
    for (char& c : big)
        c = char(random());
    const QString source = m_sandbox.filePath("big.bin");
    writeFile(source, big);
    QVERIFY(chmod(QFile::encodeName(source).constData(), 0640) == 0);

    const QString to = target.filePath("copy.bin");
    writeFile(to, QByteArray(400 * 1024, 'z')); // longer than the source: must be replaced whole
    FileCopy(source, to);
    QCOMPARE(readFile(to), big);
    QCOMPARE(QFileInfo(to).permissions() & 0x0fff, QFileInfo(source).permissions() & 0x0fff);

    FileCopy(to, to); // onto itself: content kept
    QCOMPARE(readFile(to), big);
    QCOMPARE(QDir(target.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList { "copy.bin" });
}

void TestRuntime::fileCopyErrors()
{
    QTemporaryDir target;
    const QString source = m_tree + "/a.jpg";
    expectError([&] { FileCopy(m_tree + "/none.jpg", target.filePath("x.jpg")); }, 53,
        m_tree + "/none.jpg");
    expectError([&] { FileCopy(source, target.filePath("no/such/x.jpg")); }, 76,
        target.filePath("no/such/x.jpg"));

    // A folder in the target's place stays untouched and no scratch copy is left behind.
    QVERIFY(QDir().mkdir(target.filePath("taken")));
    writeFile(target.filePath("taken/keep"));
    try {
        FileCopy(source, target.filePath("taken"));
        QFAIL("copying onto a folder succeeded");
    } catch (const AppError& e) {
        QVERIFY2(e.description().contains(target.filePath("taken")), qPrintable(e.description()));
    }
    QVERIFY(QFile::exists(target.filePath("taken/keep")));
    QCOMPARE(QDir(target.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList { "taken" });
}

void TestRuntime::killAndDates()
{
    const QString file = m_sandbox.filePath("dated.txt");
    writeFile(file);
    const QDateTime stamp(QDate(2011, 3, 14), QTime(15, 9, 26));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    QCOMPARE(FileDateTime(file), stamp);

    Kill(file);
    QVERIFY(!QFile::exists(file));
    expectError([&] { Kill(file); }, 53, file);
    expectError([&] { FileDateTime(file); }, 53, file);
    expectError([&] { Kill(m_tree + "/sub"); }, ErrorNumber::PathFileAccess, m_tree + "/sub");
    QVERIFY(QFileInfo(m_tree + "/sub").isDir());
}

void TestRuntime::settings()
{
    QCOMPARE(GetSetting("Quorvane", "Pictelle", "SliderValue", "40"), QString("40"));

    SaveSetting("Quorvane", "Pictelle", "SliderValue", "73");
    const QString file = m_sandbox.filePath("config/Quorvane.conf");
    QCOMPARE(settingsFilePath("Quorvane"), file);
    // On disk at once, in INI form, before any QSettings object is gone.
    const QByteArray text = readFile(file);
    QVERIFY2(text.contains("[Pictelle]") && text.contains("SliderValue=73"), text.constData());

    QSettings fresh(file, QSettings::IniFormat);
    QCOMPARE(fresh.value("Pictelle/SliderValue").toString(), QString("73"));
    QCOMPARE(GetSetting("Quorvane", "Pictelle", "SliderValue", "40"), QString("73"));
    QCOMPARE(GetSetting("Quorvane", "Pictelle", "Other", "d"), QString("d"));

    SaveSetting("Quorvane", "Pictelle", "SliderValue", "1, 2");
    QCOMPARE(GetSetting("Quorvane", "Pictelle", "SliderValue"), QString("1, 2"));
}

void TestRuntime::settingsWriteFailure()
{
    // A folder where the file should be: the write cannot succeed, even for root.
    const QString blocked = m_sandbox.filePath("config/Blocked.conf");
    QVERIFY(QDir().mkpath(blocked));
    expectError([] { SaveSetting("Blocked", "Pictelle", "SliderValue", "5"); },
        ErrorNumber::PathFileAccess, blocked);
}

void TestRuntime::splitCommandLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("converter line")
        << R"("/opt/p ic/png2bmp" -O "/tmp/out 1.bmp" "/tmp/in.png")"
        << QStringList { "/opt/p ic/png2bmp", "-O", "/tmp/out 1.bmp", "/tmp/in.png" };
    QTest::newRow("runs of blanks and tabs") << "  a \t b  " << QStringList { "a", "b" };
    QTest::newRow("doubled quote is literal") << R"("say ""hi""")" << QStringList { R"(say "hi")" };
    QTest::newRow("backslash is ordinary")
        << R"("C:\dir\" next)" << QStringList { R"(C:\dir\)", "next" };
    QTest::newRow("quotes join with text") << R"(a"b c"d)" << QStringList { "ab cd" };
    QTest::newRow("empty quoted argument") << R"(prog "" x)" << QStringList { "prog", "", "x" };
    QTest::newRow("shell characters stay")
        << "a;b $(c) `d`" << QStringList { "a;b", "$(c)", "`d`" };
    QTest::newRow("blank line") << "   " << QStringList {};
}

void TestRuntime::splitCommandLine()
{
    QFETCH(QString, line);
    QFETCH(QStringList, expected);
    QCOMPARE(Runtime::splitCommandLine(line), expected);
    QStringList quoted;
    for (const QString& argument : expected)
        quoted << quoteArgument(argument);
    QCOMPARE(Runtime::splitCommandLine(quoted.join(' ')), expected);
}

void TestRuntime::shellFailures()
{
    QTemporaryDir sandbox;
    const QString script = sandbox.filePath("not-executable");
    writeFile(script, "#!/bin/sh\n");

    expectError([] { Runtime::splitCommandLine(R"(prog "open)"); }, 5, "prog");
    expectError([&] { Shell(sandbox.filePath("nope") + " x", 0); }, 53, sandbox.filePath("nope"));
    expectError([&] { Shell("pictelle-no-such-program", 0); }, 53, "pictelle-no-such-program");
    expectError([&] { Shell(quoteArgument(script), 0); }, 70, script);
    expectError([&] { Shell(sandbox.path(), 0); }, 70, sandbox.path());
    expectError([] { Shell("   ", 0); }, 5, QString());
    expectError([] { Shell(R"("" arg)", 0); }, 5, QString());
    expectError([] { Shell("true", 7); }, 5, QString());
    // Found through PATH and reaped by the runtime: no zombie stays behind.
    const qint64 pid = Shell("true", 1);
    QVERIFY(pid > 0);
    QTRY_VERIFY(!QFile::exists(QString("/proc/%1").arg(pid)));
}

void TestRuntime::doEventsOnlyOnOwningThread()
{
    int calls = 0;
    setDoEventsHook([&calls] { ++calls; });
    std::thread([] { DoEvents(); }).join();
    QCOMPARE(calls, 0);
    DoEvents();
    QCOMPARE(calls, 1);
    setDoEventsHook({});
    DoEvents();
    QCOMPARE(calls, 1);
}

// What a failed file operation tells the user: the number by the kind of failure, the
// system's words (the runtime's own for a missing file), then the path.
void TestRuntime::fileErrors_data()
{
    QTest::addColumn<int>("errnoValue");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("words");
    QTest::newRow("missing") << ENOENT << 53 << "File not found";
    QTest::newRow("not a folder") << ENOTDIR << 76 << "Not a directory";
    QTest::newRow("refused") << EACCES << 70 << "Permission denied";
    QTest::newRow("not permitted") << EPERM << 70 << "Operation not permitted";
    QTest::newRow("read-only") << EROFS << 70 << "Read-only file system";
    QTest::newRow("disk full") << ENOSPC << 61 << "No space left on device";
    QTest::newRow("quota") << EDQUOT << 61 << "Disk quota exceeded";
    QTest::newRow("no memory") << ENOMEM << 7 << "Cannot allocate memory";
    QTest::newRow("other") << EIO << 75 << "Input/output error";
}

void TestRuntime::fileErrors()
{
    QFETCH(int, errnoValue);
    QFETCH(int, number);
    QFETCH(QString, words);
    const AppError e = fileError(errnoValue, QStringLiteral("/a/b.jpg"));
    QCOMPARE(e.number(), number);
    QCOMPARE(e.description(), words + QStringLiteral(": /a/b.jpg"));
}

QTEST_GUILESS_MAIN(TestRuntime)
#include "tst_runtime.moc"
