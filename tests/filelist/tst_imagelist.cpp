// SPDX-License-Identifier: MIT

#include "filelist/widgets/ImageEntries.h"
#include "filelist/widgets/ImageListHandlers.h"
#include "filelist/widgets/ImageListView.h"
#include "runtime/Runtime.h"
#include "tests/common/FakeDialogs.h"
#include "tests/common/FolderTree.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

// A window with the list, the handlers attached, and a window pointer and screen position
// that the test controls.
struct ListWindow
{
    QWidget window;
    ImageListView* list = new ImageListView(&window);
    ImageEntries* entries = list->entries();
    std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
    int pointer = 0;
    QPoint screenPos { 0, 335 };
    ImageListHandlers* handlers;

    explicit ListWindow(const QString& programFolder = QString(), int rows = 0)
    {
        list->setGeometry(0, 0, 300, 120);
        handlers = new ImageListHandlers(list,
            { dialogs, [this] { return pointer; }, [this](int v) { pointer = v; },
                [this] { return screenPos; }, programFolder },
            &window);
        handlers->attach();
        for (int i = 0; i < rows; ++i)
            entries->append({ QString("/p/%1.jpg").arg(i) });
        window.resize(300, 120);
        window.show();
    }

    QStringList texts() const
    {
        QStringList out;
        for (int i = 0; i < entries->rowCount(); ++i)
            out << entries->index(i).data().toString();
        return out;
    }
    QPoint rowPoint(int row) const { return list->visualRect(entries->index(row)).center(); }
    void mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent event(type, at, list->viewport()->mapToGlobal(at), button, held, {});
        QCoreApplication::sendEvent(list->viewport(), &event);
    }
    void press(int row, Qt::MouseButton button = Qt::LeftButton)
    {
        mouse(QEvent::MouseButtonPress, rowPoint(row), button, button);
    }
    void moveTo(QPoint at) { mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton); }
    void release() { mouse(QEvent::MouseButtonRelease, rowPoint(0), Qt::LeftButton, Qt::NoButton); }
    // Drags `data` over the list and drops it; returns whether the drag was accepted.
    bool dragAndDrop(const QMimeData& data, Qt::DropActions actions, bool* dropCopied = nullptr)
    {
        const QPoint at(10, 10);
        QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(list->viewport(), &enter);
        QDropEvent drop(at, actions, &data, Qt::NoButton, {});
        QCoreApplication::sendEvent(list->viewport(), &drop);
        if (dropCopied)
            *dropCopied = drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
        return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
    }
};

class EventHook
{
public:
    explicit EventHook(std::function<void()> hook) { Runtime::setDoEventsHook(std::move(hook)); }
    ~EventHook() { Runtime::setDoEventsHook({}); }
};

} // namespace

class TestImageList : public QObject
{
    Q_OBJECT

private slots:
    void addFolderAppendsUnderBusyPointer();
    void addFolderCancelled_data();
    void addFolderCancelled();
    void drops_data();
    void drops();
    void dropsRefusedWhileAnEntryIsHeld();
    void pointerDrag_data();
    void pointerDrag();
    void scrolling_data();
    void scrolling();
    void removedMovingEntryNeverWrittenBack();
    void movingEntryFollowsItsEntry();
    void listKeysAndRows();
    void shownAloneThenDeleted();
    void rowsUnderPoints_data();
    void rowsUnderPoints();
    void removalsRedrawn_data();
    void removalsRedrawn();
    void headerHandleFitsTheColumn();
    void listPointers_data();
    void listPointers();
};

void TestImageList::addFolderAppendsUnderBusyPointer()
{
    QTemporaryDir tmp;
    QVERIFY(FolderTree::make(tmp.path(), { "a.jpg", "b.png", "sub/C.JPG", "sub/~d.jpg" }));
    ListWindow w;
    w.entries->append({ "kept" });
    w.dialogs->extensionToReturn = "jpg";
    w.dialogs->folderToReturn = tmp.path();
    w.pointer = WindowPointer::Custom; // the hand, over the button just clicked

    // In the middle of the first scan the user starts a second one: the hourglass stays on
    // until the outer scan has ended.
    QList<int> pointersSeen;
    bool nested = false;
    EventHook hook([&] {
        pointersSeen << w.pointer;
        if (!nested) {
            nested = true;
            w.handlers->addFolder();
        }
    });
    w.handlers->addFolder();

    QCOMPARE(w.dialogs->asked,
        QStringList({ "Enter file extension to load:|Pictelle|*",
            "chooser|Please select folder to add:", "Enter file extension to load:|Pictelle|*",
            "chooser|Please select folder to add:" }));
    QVERIFY(!pointersSeen.isEmpty());
    QVERIFY(std::all_of(
        pointersSeen.begin(), pointersSeen.end(), [](int p) { return p == WindowPointer::Busy; }));
    QCOMPARE(w.pointer, int(WindowPointer::Default));
    const QStringList texts = w.texts();
    QCOMPARE(texts.first(), QString("kept"));
    QCOMPARE(FolderTree::relative(tmp.path(), texts.mid(1)),
        QStringList({ "a.jpg", "a.jpg", "sub/C.JPG", "sub/C.JPG" }));
    // Each scan appends its own entries in one block.
    QCOMPARE(texts.mid(1, 2), texts.mid(3, 2));
}

void TestImageList::addFolderCancelled_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("folder"); // relative to the sandbox; "-" for Cancel
    QTest::addColumn<int>("questions");

    QTest::newRow("prompt cancelled") << ""
                                      << "." << 1;
    QTest::newRow("chooser cancelled") << "*"
                                       << "-" << 2;
    QTest::newRow("no such folder") << "*"
                                    << "missing" << 2;
    QTest::newRow("a file, not a folder") << "*"
                                          << "a.jpg" << 2;
}

void TestImageList::addFolderCancelled()
{
    QFETCH(QString, extension);
    QFETCH(QString, folder);
    QFETCH(int, questions);

    QTemporaryDir tmp;
    QVERIFY(FolderTree::make(tmp.path(), { "a.jpg" }));
    ListWindow w(QString(), 2);
    w.dialogs->extensionToReturn = extension;
    w.dialogs->folderToReturn = folder == "-" ? QString() : tmp.path() + "/" + folder;
    w.pointer = WindowPointer::Custom;
    w.handlers->addFolder();
    QCOMPARE(w.dialogs->asked.size(), questions);
    QCOMPARE(w.texts(), QStringList({ "/p/0.jpg", "/p/1.jpg" }));
    QCOMPARE(w.pointer, int(WindowPointer::Custom));
}

void TestImageList::drops_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("actions");
    QTest::addColumn<QStringList>("added");

    const int copyMove = int(Qt::CopyAction | Qt::MoveAction);
    QTest::newRow("three files, source's order")
        << QList<QUrl> { QUrl::fromLocalFile("/x/c.jpg"), QUrl::fromLocalFile("/x/a b.txt"),
               QUrl::fromLocalFile("/y/b.JPG") }
        << "" << copyMove << QStringList { "/x/c.jpg", "/x/a b.txt", "/y/b.JPG" };
    QTest::newRow("a folder, a duplicate")
        << QList<QUrl> { QUrl::fromLocalFile("/home/ann/Pics"), QUrl::fromLocalFile("/p/0.jpg") }
        << "" << int(Qt::CopyAction) << QStringList { "/home/ann/Pics", "/p/0.jpg" };
    QTest::newRow("text") << QList<QUrl> {} << "/x/c.jpg" << copyMove << QStringList {};
    QTest::newRow("a remote address among files")
        << QList<QUrl> { QUrl::fromLocalFile("/x/c.jpg"), QUrl("https://example.org/d.jpg") } << ""
        << copyMove << QStringList {};
    QTest::newRow("source allows only a move") << QList<QUrl> { QUrl::fromLocalFile("/x/c.jpg") }
                                               << "" << int(Qt::MoveAction) << QStringList {};
}

void TestImageList::drops()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, text);
    QFETCH(int, actions);
    QFETCH(QStringList, added);

    ListWindow w(QString(), 1);
    QMimeData data;
    if (!urls.isEmpty())
        data.setUrls(urls);
    if (!text.isEmpty())
        data.setText(text);
    bool copied = false;
    const bool accepted = w.dragAndDrop(data, Qt::DropActions(actions), &copied);
    QCOMPARE(accepted, !added.isEmpty());
    QCOMPARE(copied, !added.isEmpty());
    QCOMPARE(w.texts(), QStringList { "/p/0.jpg" } + added);
}

void TestImageList::dropsRefusedWhileAnEntryIsHeld()
{
    ListWindow w(QString(), 3);
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile("/x/new.jpg") });
    w.press(1);
    QVERIFY(!w.dragAndDrop(data, Qt::CopyAction));
    w.release();
    QVERIFY(w.dragAndDrop(data, Qt::CopyAction));
    QCOMPARE(w.texts().last(), QString("/x/new.jpg"));
    QCOMPARE(w.texts().size(), 4);

    w.handlers->setLocked(true);
    QVERIFY(!w.dragAndDrop(data, Qt::CopyAction));
    QCOMPARE(w.texts().size(), 4);
}

void TestImageList::pointerDrag_data()
{
    QTest::addColumn<QList<int>>("path"); // rows the pointer passes after the press on row 1
    QTest::addColumn<QList<int>>("order"); // former rows of the resulting texts
    QTest::addColumn<int>("selected");

    QTest::newRow("slow move from 2 to 5")
        << QList<int> { 2, 3, 4 } << QList<int> { 0, 2, 3, 4, 1, 5 } << 4;
    QTest::newRow("jump from 2 to 5") << QList<int> { 4 } << QList<int> { 0, 4, 2, 3, 1, 5 } << 4;
    QTest::newRow("down and back up")
        << QList<int> { 2, 3, 2, 1, 0 } << QList<int> { 1, 0, 2, 3, 4, 5 } << 0;
    QTest::newRow("over itself") << QList<int> { 1 } << QList<int> { 0, 1, 2, 3, 4, 5 } << 1;
    QTest::newRow("empty area") << QList<int> { -1 } << QList<int> { 0, 1, 2, 3, 4, 5 } << 1;
}

void TestImageList::pointerDrag()
{
    QFETCH(QList<int>, path);
    QFETCH(QList<int>, order);
    QFETCH(int, selected);

    ListWindow w(QString(), 6);
    w.list->setGeometry(0, 0, 300, 400); // every row and some empty area in view
    const QStringList before = w.texts();
    w.press(1);
    // The entry click arrives with the press, before any move.
    QVERIFY(w.handlers->ButtonHeld());
    QCOMPARE(w.handlers->MovingEntry(), w.entries->index(1));
    for (int row : path)
        w.moveTo(row < 0 ? QPoint(20, w.list->viewport()->height() - 5) : w.rowPoint(row));
    w.release();

    QStringList expected;
    for (int i : order)
        expected << before[i];
    QCOMPARE(w.texts(), expected);
    QCOMPARE(
        w.list->selectionModel()->selectedRows(), QModelIndexList { w.entries->index(selected) });
    QVERIFY(!w.handlers->ButtonHeld());

    // After the release, moves change nothing; a right-button press holds again and moves
    // the entry of the last left click or exchange.
    w.moveTo(w.rowPoint(0));
    w.moveTo(w.rowPoint(5));
    QCOMPARE(w.texts(), expected);
    const int target = selected == 2 ? 3 : 2;
    w.press(5, Qt::RightButton);
    QVERIFY(w.handlers->ButtonHeld());
    w.moveTo(w.rowPoint(target));
    QCOMPARE(w.texts()[target], expected[selected]);
    QCOMPARE(w.texts()[selected], expected[target]);
}

void TestImageList::scrolling_data()
{
    QTest::addColumn<int>("screenY");
    QTest::addColumn<bool>("downwards"); // the exchange happens at the bottom visible row
    QTest::addColumn<bool>("atEnd"); // the list is scrolled to its first or last entry
    QTest::addColumn<int>("scrolled"); // rows by which the list scrolls: -1, 0 or 1

    QTest::newRow("300, upwards") << 300 << false << false << -1;
    QTest::newRow("305, upwards") << 305 << false << false << 0;
    QTest::newRow("364, downwards") << 364 << true << false << 0;
    QTest::newRow("370, downwards") << 370 << true << false << 1;
    QTest::newRow("300, at the first entry") << 300 << false << true << 0;
    QTest::newRow("370, at the last entry") << 370 << true << true << 0;
    QTest::newRow("370, moving upwards") << 370 << false << false << 0;
}

void TestImageList::scrolling()
{
    QFETCH(int, screenY);
    QFETCH(bool, downwards);
    QFETCH(bool, atEnd);
    QFETCH(int, scrolled);

    ListWindow w(QString(), 30);
    QTest::qWait(0);
    const int count = 30;
    const auto topRow = [&] { return w.list->indexAt(QPoint(5, 1)).row(); };
    const auto fullyVisibleRows = [&] {
        QList<int> rows;
        for (int i = 0; i < count; ++i)
            if (w.list->viewport()->rect().contains(w.list->visualRect(w.entries->index(i))))
                rows << i;
        return rows;
    };
    if (atEnd && downwards)
        w.list->scrollToBottom();
    else if (!atEnd)
        w.list->scrollTo(w.entries->index(10), QAbstractItemView::PositionAtTop);
    const QList<int> visible = fullyVisibleRows();
    QVERIFY(visible.size() >= 2);
    const int under = downwards ? visible.last() : visible.first();
    const int from = downwards ? under - 1 : under + 1;
    const int top = topRow();

    w.screenPos = QPoint(0, screenY);
    w.press(from);
    w.moveTo(w.rowPoint(under));
    QCOMPARE(w.entries->index(under).data().toString(), QString("/p/%1.jpg").arg(from));
    QCOMPARE(topRow(), top + scrolled);
    if (scrolled != 0)
        QVERIFY(fullyVisibleRows().contains(under + scrolled));
}

void TestImageList::removedMovingEntryNeverWrittenBack()
{
    ListWindow w(QString(), 5);
    w.list->setGeometry(0, 0, 300, 400);
    w.press(2);
    w.release();
    w.entries->removeAt(2); // removed by a double click
    w.entries->append({ "/p/new.jpg" });
    const QStringList before = w.texts();
    QVERIFY(!w.handlers->MovingEntry().isValid());

    w.mouse(QEvent::MouseButtonPress, QPoint(20, w.list->viewport()->height() - 5), Qt::LeftButton,
        Qt::LeftButton);
    for (int row : { 0, 1, 2, 3, 4 })
        w.moveTo(w.rowPoint(row));
    QCOMPARE(w.texts(), before);
}

void TestImageList::movingEntryFollowsItsEntry()
{
    ListWindow w(QString(), 5);
    w.list->setGeometry(0, 0, 300, 400);
    w.press(3);
    w.entries->removeAt(1); // an entry above goes while the button is held
    QCOMPARE(w.handlers->MovingEntry(), w.entries->index(2));
    w.moveTo(w.rowPoint(0));
    w.release();
    QCOMPARE(w.texts(), QStringList({ "/p/3.jpg", "/p/2.jpg", "/p/0.jpg", "/p/4.jpg" }));
}

// A list shown as a window of its own takes its header down with it; the sanitizer run
// catches a header signal reaching the half-destroyed view.
void TestImageList::shownAloneThenDeleted()
{
    auto* list = new ImageListView;
    list->resize(200, 120);
    list->show();
    QVERIFY(QTest::qWaitForWindowExposed(list));
    QCOMPARE(list->model()->rowCount(), 0);
    delete list;
}

void TestImageList::listKeysAndRows()
{
    ListWindow w(QString(), 30);
    auto* next = new QWidget(&w.window);
    next->setFocusPolicy(Qt::StrongFocus);
    next->show();
    w.list->setFocus();
    QTRY_VERIFY(w.list->hasFocus());

    // Home and End run over the entries, not along the row.
    w.list->setCurrentIndex(w.entries->index(5));
    QTest::keyClick(w.list, Qt::Key_End);
    QCOMPARE(w.list->currentIndex().row(), 29);
    QTest::keyClick(w.list, Qt::Key_Home);
    QCOMPARE(w.list->currentIndex().row(), 0);
    QCOMPARE(w.list->selectionModel()->selectedRows(), QModelIndexList { w.entries->index(0) });
    // Page keys go a page and back, and stop at either end.
    QTest::keyClick(w.list, Qt::Key_PageDown);
    const int paged = w.list->currentIndex().row();
    QVERIFY(paged > 1);
    QVERIFY(w.list->viewport()->rect().contains(w.list->visualRect(w.list->currentIndex())));
    QVERIFY(w.list->indexAt(QPoint(5, 1)).row() > 0);
    QTest::keyClick(w.list, Qt::Key_PageUp);
    QCOMPARE(w.list->currentIndex().row(), 0);
    QTest::keyClick(w.list, Qt::Key_PageUp);
    QCOMPARE(w.list->currentIndex().row(), 0);
    QTest::keyClick(w.list, Qt::Key_End);
    QTest::keyClick(w.list, Qt::Key_PageDown);
    QCOMPARE(w.list->currentIndex().row(), 29);
    QTest::keyClick(w.list, Qt::Key_Home);
    // Tab leaves the list rather than stepping through its cells.
    QTest::keyClick(w.list, Qt::Key_Tab);
    QVERIFY(next->hasFocus());

    // Every row fits a line of the list's font, also after the font changes.
    for (const int points : { 9, 24 }) {
        QFont font = w.list->font();
        font.setPointSize(points);
        w.list->setFont(font);
        QVERIFY(w.list->rowHeight(0) >= QFontMetrics(font).height());
        QVERIFY(w.list->rowHeight(0) <= QFontMetrics(font).height() + 8);
        QCOMPARE(w.list->rowHeight(29), w.list->rowHeight(0));
    }
}

void TestImageList::rowsUnderPoints_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("topRow"); // scrolled to put it at the top; -1 to the bottom
    QTest::addColumn<bool>("perPixel"); // scrolled by pixels rather than by rows

    QTest::newRow("fewer rows than fit") << 3 << 0 << false;
    QTest::newRow("at the top") << 30 << 0 << false;
    QTest::newRow("in the middle") << 30 << 12 << false;
    QTest::newRow("at the bottom") << 30 << -1 << false;
    QTest::newRow("in the middle, by pixels") << 30 << 12 << true;
    QTest::newRow("at the bottom, by pixels") << 30 << -1 << true;
}

void TestImageList::rowsUnderPoints()
{
    QFETCH(int, rows);
    QFETCH(int, topRow);
    QFETCH(bool, perPixel);
    ListWindow w(QString(), rows);
    if (perPixel)
        w.list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    QTest::qWait(0);
    if (topRow < 0)
        w.list->scrollToBottom();
    else
        w.list->scrollTo(w.entries->index(topRow), QAbstractItemView::PositionAtTop);
    const QRect view = w.list->viewport()->rect();
    const int height = w.list->rowHeight(0);
    const int width = w.list->columnWidth(0);
    QVERIFY(width < view.width());

    // Every row is found at each of its points and at no other, and only in the column.
    for (int row = 0; row < rows; ++row) {
        const QRect rect = w.list->visualRect(w.entries->index(row));
        QCOMPARE(rect.size(), QSize(width, height));
        for (const QPoint& at : { rect.topLeft(), rect.center(), rect.bottomRight() })
            QCOMPARE(w.list->indexAt(at), w.entries->index(row));
        QVERIFY(!w.list->indexAt(QPoint(width + 1, rect.center().y())).isValid());
    }
    const QRect first = w.list->visualRect(w.entries->index(0));
    const QRect last = w.list->visualRect(w.entries->index(rows - 1));
    QVERIFY(!w.list->indexAt(first.topLeft() - QPoint(0, 1)).isValid());
    QVERIFY(!w.list->indexAt(last.bottomLeft() + QPoint(0, 1)).isValid());
    if (topRow < 0) // the last row stands at the bottom edge
        QCOMPARE(last.bottom(), view.bottom());
    else if (rows > 3)
        QCOMPARE(first.top(), -topRow * height);
}

void TestImageList::removalsRedrawn_data()
{
    QTest::addColumn<int>("topRow"); // scrolled to put it at the top; -1 to the bottom
    QTest::addColumn<int>("current");
    QTest::addColumn<QList<int>>("removed"); // rows removed one after another

    QTest::newRow("above the current entry") << 0 << 2 << QList<int> { 0 };
    QTest::newRow("the current entry") << 0 << 2 << QList<int> { 2, 2 };
    QTest::newRow("in view, below the current entry") << 10 << 11 << QList<int> { 13, 12 };
    QTest::newRow("above the view") << 10 << 12 << QList<int> { 3, 0 };
    QTest::newRow("below the view") << 0 << 1 << QList<int> { 25 };
    QTest::newRow("at the bottom") << -1 << 27 << QList<int> { 29, 20, 27 };
    QTest::newRow("until the rest fits") << -1 << 28 << QList<int>(26, 0);
}

void TestImageList::removalsRedrawn()
{
    QFETCH(int, topRow);
    QFETCH(int, current);
    QFETCH(QList<int>, removed);
    ListWindow w(QString(), 30);
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    w.list->setCurrentIndex(w.entries->index(current));
    if (topRow < 0)
        w.list->scrollToBottom();
    else
        w.list->scrollTo(w.entries->index(topRow), QAbstractItemView::PositionAtTop);
    QApplication::processEvents();

    // What the window shows after each removal is what the list draws afresh: rows moved on
    // the screen rather than drawn again must land where their entries now stand.
    QWidget* viewport = w.list->viewport();
    for (const int row : removed) {
        w.entries->removeAt(row);
        QApplication::processEvents();
        const QRect inWindow(viewport->mapTo(&w.window, QPoint(0, 0)), viewport->size());
        const QImage shown
            = w.window.screen()->grabWindow(w.window.winId()).toImage().copy(inWindow);
        const QImage drawn = viewport->grab().toImage();
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB32),
            drawn.convertToFormat(QImage::Format_RGB32));
    }
}

void TestImageList::headerHandleFitsTheColumn()
{
    ListWindow w(QString(), 3);
    const QString longest = QString("/home/ann/") + QString(60, QChar('x')) + ".jpg";
    w.entries->append({ longest });
    QTest::qWait(0);
    QHeaderView* header = w.list->header();
    const int before = w.list->columnWidth(0);
    const int needed = QFontMetrics(w.list->font()).horizontalAdvance(longest);
    QVERIFY(needed > before);

    // A double click on the handle at the column's right edge fits it to its longest entry.
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, QPoint(before - 1, 5));
    QVERIFY(w.list->columnWidth(0) >= needed);
    QVERIFY(w.list->columnWidth(0) <= needed + 20);
    QCOMPARE(header->sectionSize(0), w.list->columnWidth(0));
    QCOMPARE(w.list->visualRect(w.entries->index(3)).width(), w.list->columnWidth(0));
}

void TestImageList::listPointers_data()
{
    QTest::addColumn<bool>("withIcon");
    QTest::newRow("drag.ico present") << true;
    QTest::newRow("drag.ico missing") << false;
}

void TestImageList::listPointers()
{
    QFETCH(bool, withIcon);
    QTemporaryDir tmp;
    if (withIcon) {
        QImage icon(24, 24, QImage::Format_ARGB32);
        icon.fill(Qt::red);
        QVERIFY(icon.save(tmp.path() + "/drag.ico", "ICO"));
    }
    ListWindow w(tmp.path(), 3);
    QCOMPARE(w.handlers->listMousePointer(), 0);
    QVERIFY(!w.list->testAttribute(Qt::WA_SetCursor));

    w.press(1);
    QCOMPARE(w.handlers->listMousePointer(), 99);
    if (withIcon) {
        QCOMPARE(w.list->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(w.list->cursor().pixmap().size(), QSize(24, 24));
    } else {
        QVERIFY(!w.list->testAttribute(Qt::WA_SetCursor));
    }
    w.release();
    QCOMPARE(w.handlers->listMousePointer(), 1);
    QCOMPARE(w.list->cursor().shape(), Qt::ArrowCursor);

    // The window pointer rule of a move: the default, unless busy.
    w.pointer = WindowPointer::Custom;
    w.moveTo(w.rowPoint(0));
    QCOMPARE(w.pointer, int(WindowPointer::Default));
    w.pointer = WindowPointer::Busy;
    w.moveTo(w.rowPoint(2));
    QCOMPARE(w.pointer, int(WindowPointer::Busy));
}

QTEST_MAIN(TestImageList)
#include "tst_imagelist.moc"
