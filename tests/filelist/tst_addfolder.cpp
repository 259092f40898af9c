// SPDX-License-Identifier: MIT

#include "filelist/AddFolder.h"
#include "runtime/Runtime.h"
#include "tests/common/FolderTree.h"
#include "tests/common/OrdinaryUserAccess.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Installs a DoEvents hook for the scope of the object.
class EventHook
{
public:
    explicit EventHook(std::function<void()> hook) { Runtime::setDoEventsHook(std::move(hook)); }
    ~EventHook() { Runtime::setDoEventsHook({}); }
};

// Turns of the event loop at every folder and entry while it lives, so that tests know where
// the scan yields.
class EveryTurn
{
public:
    EveryTurn()
        : m_previous(AddFolder::setYieldInterval(std::chrono::microseconds(0)))
    {
    }
    ~EveryTurn() { AddFolder::setYieldInterval(m_previous); }

private:
    std::chrono::microseconds m_previous;
};

} // namespace

class TestAddFolder : public QObject
{
    Q_OBJECT

private slots:
    void nameOrder_data();
    void nameOrder();
    void breadthFirstInNameOrder();
    void filters_data();
    void filters();
    void linksFollowedButNeverLooped();
    void unreadableFolderSkipped();
    void vanishedFolderSkipped();
    void searchStartedWhileScanningLosesNothing();
};

void TestAddFolder::nameOrder_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("names"); // in the order expected
    for (const char* locale : { "C", "en_US", "de_DE" }) {
        const auto row = [locale](const char* what) -> QTestData& {
            return QTest::addRow("%s, %s", locale, what) << QString::fromLatin1(locale);
        };
        row("numbers by value") << QStringList { "p1.png", "p2.png", "p9.png", "p10.png", "p12.png",
            "P13.png", "p100.png" };
        row("leading zeros") << QStringList { "p01.png", "p1.png", "p02.png", "p10.png" };
        row("case decides last") << QStringList { "apple.jpg", "Banana.jpg", "cherry.jpg" };
        row("digits before letters") << QStringList { "2.jpg", "10.jpg", "a.jpg", "B.jpg" };
        row("several numbers") << QStringList { "v1-2.jpg", "v1-10.jpg", "v2-1.jpg" };
        row("prefix first") << QStringList { "img", "img1", "img1a", "img2" };
    }
    QTest::newRow("de_DE, umlaut beside its letter")
        << "de_DE" << QStringList { "Apfel.jpg", "Äpfel.jpg", "Birne.jpg" };
}

void TestAddFolder::nameOrder()
{
    QFETCH(QString, locale);
    QFETCH(QStringList, names);
    const AddFolder::NameOrder order { QLocale(locale) };
    for (int shift = 1; shift < names.size(); ++shift) {
        QStringList shuffled = names.mid(shift) + names.mid(0, shift);
        std::reverse(shuffled.begin(), shuffled.end());
        order.sort(shuffled);
        QCOMPARE(shuffled, names);
    }
}

void TestAddFolder::breadthFirstInNameOrder()
{
    QTemporaryDir tmp;
    QVERIFY(FolderTree::make(tmp.path(),
        { "r2.jpg", "r10.jpg", "A/a.jpg", "A/A1/a1.jpg", "A/A1/A2/a2.jpg", "A/Ab/", "b/b.jpg",
            "b/B1/b1.jpg", "b/B2/B21/b21.jpg", "C/", "D/D1/d1.jpg", ".hid/h.jpg" }));
    QStringList expected { "r2.jpg", "r10.jpg", "A/a.jpg", "b/b.jpg", "A/A1/a1.jpg", "b/B1/b1.jpg",
        "D/D1/d1.jpg", "A/A1/A2/a2.jpg", "b/B2/B21/b21.jpg" };
    for (QString& path : expected)
        path.prepend(tmp.path() + "/");
    QCOMPARE(AddFolder::FolderEntries(tmp.path(), "*"), expected);
    // A chosen folder that already ends in "/", as the root does, gives single separators.
    QCOMPARE(AddFolder::FolderEntries(tmp.path() + "/", "*"), expected);

    QStringList firstLevel { tmp.path() + "/" };
    AddFolder::CollectSubFolders(firstLevel, false);
    QCOMPARE(firstLevel.size(), 5);
    for (const QString& folder : firstLevel.mid(1))
        QCOMPARE(folder.count('/'), tmp.path().count('/') + 2);
}

void TestAddFolder::filters_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QStringList>("expected");

    const QStringList mixed { "a.jpg", "b.txt", "Makefile", "~copy.jpg", "a~b.jpg", "~dir/c.jpg",
        "sub/~x.png", "sub/y.png", ".hidden.jpg", ".hiddendir/h.jpg", "sub/.hiddendir/h.jpg" };
    QTest::newRow("star: every file except ~ names and hidden folders")
        << mixed << "*"
        << QStringList { ".hidden.jpg", "Makefile", "a.jpg", "a~b.jpg", "b.txt", "sub/y.png",
               "~dir/c.jpg" };
    QTest::newRow("jpg: ~ names left out, hidden file kept")
        << mixed << "jpg" << QStringList { ".hidden.jpg", "a.jpg", "a~b.jpg", "~dir/c.jpg" };

    const QStringList cases { "a.jpg", "B.JPG", "c.Jpg", "d.jpeg", "e.png", "f.jpg.txt",
        "sub/G.JPG", "h.jpgx", "jpg" };
    QTest::newRow("jpg matches any letter case")
        << cases << "jpg" << QStringList { "B.JPG", "a.jpg", "c.Jpg", "sub/G.JPG" };
    QTest::newRow("JPG typed in capitals")
        << cases << "JPG" << QStringList { "B.JPG", "a.jpg", "c.Jpg", "sub/G.JPG" };
    QTest::newRow("leading dot typed")
        << QStringList { "a.jpg", "b..jpg", "sub/c.jpg" } << ".jpg" << QStringList { "b..jpg" };
    QTest::newRow("question mark") << QStringList { "a.jpg", "b.jpe", "c.jpeg", "d.jp" } << "jp?"
                                   << QStringList { "a.jpg", "b.jpe" };
    QTest::newRow("extension holding a slash matches nothing")
        << QStringList { "a.jpg", "sub/x.jpg", "sub/y/" } << "jpg/../sub/*" << QStringList {};
    QTest::newRow("folder names never listed as files")
        << QStringList { "x.jpg/", "x.jpg/in.png", "y.jpg" } << "jpg" << QStringList { "y.jpg" };
    QTest::newRow("empty tree") << QStringList { "e1/", "e1/e2/" } << "*" << QStringList {};
}

void TestAddFolder::filters()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, extension);
    QFETCH(QStringList, expected);

    QTemporaryDir tmp;
    QVERIFY(FolderTree::make(tmp.path(), tree));
    QCOMPARE(FolderTree::relative(tmp.path(), AddFolder::FolderEntries(tmp.path(), extension)),
        expected);
}

void TestAddFolder::linksFollowedButNeverLooped()
{
    QTemporaryDir tmp;
    QTemporaryDir outside;
    QVERIFY(FolderTree::make(tmp.path(), { "A/a.jpg", "B/b.jpg", "C/Deep/d.jpg" }));
    QVERIFY(FolderTree::make(outside.path(), { "o.jpg" }));
    const QString root = tmp.path();
    QVERIFY(QFile::link(root, root + "/A/loop"));
    QVERIFY(QFile::link(".", root + "/C/Deep/self"));
    QVERIFY(QFile::link("../A", root + "/B/toA"));
    QVERIFY(QFile::link(outside.path(), root + "/C/out"));
    QVERIFY(QFile::link(root + "/missing", root + "/B/dangling.jpg"));

    QStringList folders { root + "/" };
    AddFolder::CollectSubFolders(folders, true);
    QCOMPARE(folders.size(), 6); // root, A, B, C, C/Deep, C/out
    QSet<QString> canonical;
    for (const QString& folder : folders) {
        const QString path = QFileInfo(folder).canonicalFilePath();
        QVERIFY2(!canonical.contains(path), qPrintable(folder));
        canonical.insert(path);
    }

    // A, reached at the first level, is not entered again through B/toA; the folder outside
    // the tree is entered through its link; a dangling link is a file name like any other.
    QCOMPARE(FolderTree::relative(root, AddFolder::FolderEntries(root, "jpg")),
        QStringList({ "A/a.jpg", "B/b.jpg", "B/dangling.jpg", "C/Deep/d.jpg", "C/out/o.jpg" }));
}

void TestAddFolder::unreadableFolderSkipped()
{
    QTemporaryDir tmp;
    QVERIFY(FolderTree::make(
        tmp.path(), { "a.jpg", "locked/x.jpg", "locked/inner/y.jpg", "open/b.jpg", "z/c.jpg" }));
    const QString locked = tmp.path() + "/locked";
    QVERIFY(QFile::setPermissions(tmp.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
            | QFile::ExeOther));
    QVERIFY(QFile::setPermissions(locked, QFile::Permissions()));
    const auto restore = qScopeGuard([&] {
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });

    QStringList entries;
    {
        OrdinaryUserAccess access;
        QVERIFY2(access.ok(), "root could not check files as another user");
        entries = AddFolder::FolderEntries(tmp.path(), "*");
    }
    QCOMPARE(FolderTree::relative(tmp.path(), entries),
        QStringList({ "a.jpg", "open/b.jpg", "z/c.jpg" }));
}

void TestAddFolder::vanishedFolderSkipped()
{
    QTemporaryDir tmp;
    QVERIFY(
        FolderTree::make(tmp.path(), { "a.jpg", "gone/g.jpg", "gone/deeper/w.jpg", "keep/k.jpg" }));
    EveryTurn everyTurn;
    // The last turn of the folder search comes while the deepest folder is read, after
    // "gone" and "gone/deeper" have been found; they disappear before their files are read.
    int turns = 0;
    {
        EventHook hook([&] { ++turns; });
        QStringList folders { tmp.path() + "/" };
        AddFolder::CollectSubFolders(folders, true);
        QCOMPARE(folders.size(), 4);
    }
    int turn = 0;
    EventHook hook([&] {
        if (++turn == turns)
            QDir(tmp.path() + "/gone").removeRecursively();
    });
    QCOMPARE(FolderTree::relative(tmp.path(), AddFolder::FolderEntries(tmp.path(), "*")),
        QStringList({ "a.jpg", "keep/k.jpg" }));
    QVERIFY(!QFileInfo::exists(tmp.path() + "/gone"));

    QStringList missing { tmp.path() + "/gone/" };
    AddFolder::CollectSubFolders(missing, true);
    QCOMPARE(missing.size(), 1);
    QVERIFY(AddFolder::ListFiles(tmp.path() + "/gone", "*.*").isEmpty());
}

void TestAddFolder::searchStartedWhileScanningLosesNothing()
{
    QTemporaryDir tmp;
    QStringList tree;
    for (const char* folder : { "", "A/", "B/", "A/A1/", "B/B1/", "C/" })
        for (int i = 0; i < 20; ++i)
            tree << QString("%1f%2.jpg").arg(folder).arg(i);
    tree << "A/A1/sub1/"
         << "A/A1/sub2/"
         << "B/B1/sub3/"
         << "empty/";
    QVERIFY(FolderTree::make(tmp.path(), tree));
    QStringList expected;
    for (const QString& path : tree)
        if (!path.endsWith('/'))
            expected << path;
    expected.sort();

    // Every turn of the event loop starts a whole second scan of the same tree, in the middle
    // of the first scan's folder reading.
    EveryTurn everyTurn;
    QList<QStringList> nested;
    bool inside = false;
    EventHook hook([&] {
        if (inside)
            return;
        inside = true;
        nested << AddFolder::FolderEntries(tmp.path(), "jpg");
        inside = false;
    });
    const QStringList entries = AddFolder::FolderEntries(tmp.path(), "jpg");

    QCOMPARE(FolderTree::relative(tmp.path(), entries), expected);
    // At least one turn after the first entry of each of the ten folders.
    QVERIFY2(nested.size() >= 10, qPrintable(QString::number(nested.size())));
    for (const QStringList& inner : nested)
        QCOMPARE(FolderTree::relative(tmp.path(), inner), expected);
}

QTEST_GUILESS_MAIN(TestAddFolder)
#include "tst_addfolder.moc"
