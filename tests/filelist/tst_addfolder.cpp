#include "app/runtime/Runtime.h"
#include "filelist/AddFolder.h"
#include "tests/common/FolderTree.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <dirent.h>
#include <sys/fsuid.h>
#include <unistd.h>

namespace {

// The names of `folder` in the order readdir gives them, "." and ".." left out.
QStringList readdirOrder(const QString& folder)
{
    QStringList names;
    DIR* dir = opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names << name;
    }
    closedir(dir);
    return names;
}

int depth(const QString& path)
{
    return int(path.count(QLatin1Char('/')));
}

QString parentOf(const QString& folderPath)
{
    const QString trimmed = folderPath.chopped(1);
    return trimmed.left(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

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

// File access checks of this thread as those of an ordinary user while it lives, so that
// permission bits stop root as well. ok() is false when the process may not switch.
class OrdinaryUserAccess
{
public:
    OrdinaryUserAccess()
    {
        if (geteuid() != 0)
            return;
        m_switched = true;
        setfsgid(65534);
        setfsuid(65534);
        m_ok = setfsuid(uid_t(-1)) == 65534 && setfsgid(gid_t(-1)) == 65534;
    }
    ~OrdinaryUserAccess()
    {
        if (m_switched) {
            setfsuid(0);
            setfsgid(0);
        }
    }
    bool ok() const { return m_ok; }

private:
    bool m_switched = false;
    bool m_ok = true;
};

} // namespace

class TestAddFolder : public QObject
{
    Q_OBJECT

private slots:
    void collectsBreadthFirstInListingOrder();
    void filesFollowFolderOrder();
    void filters_data();
    void filters();
    void pathsJoinedWithSingleSeparators_data();
    void pathsJoinedWithSingleSeparators();
    void linksFollowedButNeverLooped();
    void unreadableFolderSkipped();
    void vanishedFolderSkipped();
    void searchStartedWhileScanningLosesNothing();
};

void TestAddFolder::collectsBreadthFirstInListingOrder()
{
    QTemporaryDir tmp;
    QVERIFY(FolderTree::make(tmp.path(),
        { "A/A1/A2/A3/", "A/A1/A2b/", "A/Ab/", "B/B1/", "B/B2/B21/", "C/", "~D/D1/", ".hid/H1/",
            "f.jpg", "A/f.jpg" }));
    const QString root = tmp.path() + "/";

    QStringList oneLevel { root };
    AddFolder::CollectSubFolders(oneLevel, false);
    QStringList firstLevel;
    for (const QString& name : readdirOrder(tmp.path())) {
        if (QFileInfo(root + name).isDir() && !name.startsWith('.'))
            firstLevel << root + name + "/";
    }
    QCOMPARE(oneLevel, QStringList { root } + firstLevel);

    QStringList all { root };
    AddFolder::CollectSubFolders(all, true);
    QStringList expected { root };
    for (const char* p : { "A/", "A/A1/", "A/A1/A2/", "A/A1/A2/A3/", "A/A1/A2b/", "A/Ab/", "B/",
             "B/B1/", "B/B2/", "B/B2/B21/", "C/", "~D/", "~D/D1/" })
        expected << root + p;
    QStringList sorted = all;
    sorted.sort();
    expected.sort();
    QCOMPARE(sorted, expected);

    // Level by level; within a level grouped by parent in the parents' order, and each
    // parent's folders in the order the file system lists them.
    for (qsizetype i = 1; i < all.size(); ++i) {
        QVERIFY2(depth(all[i - 1]) <= depth(all[i]), qPrintable(all[i]));
        if (depth(all[i - 1]) == depth(all[i]))
            QVERIFY2(all.indexOf(parentOf(all[i - 1])) <= all.indexOf(parentOf(all[i])),
                qPrintable(all[i]));
    }
    for (const QString& parent : all) {
        QStringList children;
        for (const QString& folder : all)
            if (folder != root && parentOf(folder) == parent)
                children << folder.mid(parent.size()).chopped(1);
        QStringList listed;
        for (const QString& name : readdirOrder(parent))
            if (children.contains(name))
                listed << name;
        QCOMPARE(children, listed);
    }
}

void TestAddFolder::filesFollowFolderOrder()
{
    QTemporaryDir tmp;
    QVERIFY(FolderTree::make(
        tmp.path(), { "r1.jpg", "r2.jpg", "A/a.jpg", "A/A1/a1.jpg", "B/b.jpg", "B/B1/b1.jpg" }));

    const QStringList entries = AddFolder::FolderEntries(tmp.path(), "*");
    QStringList folders { tmp.path() + "/" };
    AddFolder::CollectSubFolders(folders, true);

    QStringList expected;
    for (const QString& folder : folders) {
        for (const QString& name : readdirOrder(folder))
            if (QFileInfo(folder + name).isFile())
                expected << folder + name;
    }
    QCOMPARE(entries, expected);
    QCOMPARE(entries.size(), 6);
    QCOMPARE(
        FolderTree::relative(tmp.path(), entries.mid(0, 2)), QStringList({ "r1.jpg", "r2.jpg" }));
    QCOMPARE(FolderTree::relative(tmp.path(), entries.mid(4)),
        QStringList({ "A/A1/a1.jpg", "B/B1/b1.jpg" }));
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

void TestAddFolder::pathsJoinedWithSingleSeparators_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("root") << "/"
                          << "a.jpg"
                          << "/a.jpg";
    QTest::newRow("below the root, doubled") << "//Sub"
                                             << "b.jpg"
                                             << "/Sub/b.jpg";
    QTest::newRow("plain") << "/home/ann/Pics"
                           << "c d.jpg"
                           << "/home/ann/Pics/c d.jpg";
    QTest::newRow("backslash is a name character") << "/x"
                                                   << "a\\\\b"
                                                   << "/x/a\\\\b";
}

void TestAddFolder::pathsJoinedWithSingleSeparators()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(AddFolder::JoinPath(folder, name), expected);

    // A chosen folder that already ends in "/" (as the root does) gives the same entries.
    QTemporaryDir tmp;
    QVERIFY(FolderTree::make(tmp.path(), { "a.jpg", "Sub/b.jpg" }));
    QStringList entries = AddFolder::FolderEntries(tmp.path() + "/", "*");
    entries.sort();
    QCOMPARE(entries, QStringList({ tmp.path() + "/Sub/b.jpg", tmp.path() + "/a.jpg" }));
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
        if (!access.ok())
            QSKIP("running as root without the right to check files as another user");
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
