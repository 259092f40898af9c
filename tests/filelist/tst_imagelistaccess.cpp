// SPDX-License-Identifier: MIT

// What a screen reader gets of the image list: its rows as list items, the current and
// selected row, rows under points, children that follow removals, and the events a reader
// is sent. Qt sends those only while a reader is active, which it never is on the offscreen
// platform, so they are taken from a copy of this program run on a virtual X server with an
// accessibility bus of its own.

#include "filelist/widgets/ImageEntries.h"
#include "filelist/widgets/ImageListView.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <cstdio>

namespace {

struct ReadList
{
    QWidget window;
    ImageListView* list = new ImageListView(&window);
    ImageEntries* entries = list->entries();

    explicit ReadList(int rows)
    {
        QStringList texts;
        for (int i = 0; i < rows; ++i)
            texts << QString("/p/%1.jpg").arg(i);
        entries->append(texts);
        list->setGeometry(0, 0, 300, 120);
        window.resize(300, 120);
        window.show();
        QApplication::processEvents();
    }
    QAccessibleInterface* iface() const { return QAccessible::queryAccessibleInterface(list); }
    QStringList names() const
    {
        QStringList out;
        for (int i = 0; i < iface()->childCount(); ++i)
            out << iface()->child(i)->text(QAccessible::Name);
        return out;
    }
    QStringList expected() const { return entries->texts(); }
};

// In the copy run on the virtual X server: what the list sends while a reader is active.
const char* const SessionVariable = "PICTELLE_READER_SESSION";

void printNotice(QAccessibleEvent* event)
{
    const auto* view = qobject_cast<ImageListView*>(event->object());
    if (!view)
        return;
    QString line = QString::fromLatin1(qAccessibleEventString(event->type()));
    if (event->type() == QAccessible::TableModelChanged) {
        const auto* change = static_cast<QAccessibleTableModelChangeEvent*>(event);
        line += QString(" %1 %2..%3")
                    .arg(int(change->modelChangeType()))
                    .arg(change->firstRow())
                    .arg(change->lastRow());
    } else if (event->child() >= 0) {
        line += QString(" %1 %2")
                    .arg(event->child())
                    .arg(event->accessibleInterface()->text(QAccessible::Name));
    } else {
        return;
    }
    std::printf("notice %s\n", qPrintable(line));
    std::fflush(stdout);
}

int readerSession(int argc, char** argv)
{
    QApplication app(argc, argv);
    QElapsedTimer waited;
    waited.start();
    while (!QAccessible::isActive() && waited.elapsed() < 30000)
        QTest::qWait(50);
    if (!QAccessible::isActive())
        return 2;
    ReadList read(5);
    QWidget other(&read.window);
    other.setFocusPolicy(Qt::StrongFocus);
    other.show();
    // No window manager on the virtual server makes the window active.
    QApplication::setActiveWindow(&read.window);
    read.list->setFocus();
    if (!read.list->hasFocus())
        return 3;
    QAccessible::installUpdateHandler(printNotice);
    read.list->setCurrentIndex(read.entries->index(2));
    read.entries->append({ "/p/a.jpg" });
    read.entries->removeAt(2);
    other.setFocus();
    read.list->setFocus();
    QAccessible::installUpdateHandler(nullptr);
    return 0;
}

} // namespace

class TestImageListAccess : public QObject
{
    Q_OBJECT

private slots:
    void rowsAsListItems();
    void currentAndSelectedStates_data();
    void currentAndSelectedStates();
    void childrenFollowRemovals_data();
    void childrenFollowRemovals();
    void rowsUnderPoints_data();
    void rowsUnderPoints();
    void rowsGoWithTheView();
    void readerEvents();
};

void TestImageListAccess::rowsAsListItems()
{
    ReadList read(5);
    QAccessibleInterface* list = read.iface();
    QCOMPARE(list->role(), QAccessible::List);
    QCOMPARE(list->childCount(), 5);
    QCOMPARE(read.names(), read.expected());
    for (int i = 0; i < 5; ++i) {
        QAccessibleInterface* row = list->child(i);
        QCOMPARE(row->role(), QAccessible::ListItem);
        QCOMPARE(list->indexOfChild(row), i);
        QCOMPARE(row->parent(), list);
        QCOMPARE(list->child(i), row); // asked again, the same one
    }
    QVERIFY(!list->child(5));
    QVERIFY(!list->child(-1));

    QAccessibleTableInterface* table = list->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 5);
    QCOMPARE(table->cellAt(3, 0), list->child(3));
    const auto headers = list->child(2)->tableCellInterface()->columnHeaderCells();
    QCOMPARE(headers.size(), 1);
    QCOMPARE(headers.first()->role(), QAccessible::ColumnHeader);
    QCOMPARE(headers.first()->text(QAccessible::Name), QString("Image File(s)"));
    QCOMPARE(headers.first()->rect(),
        QRect(read.list->header()->mapToGlobal(QPoint(0, 0)),
            QSize(read.list->columnWidth(0), read.list->header()->height())));
}

void TestImageListAccess::currentAndSelectedStates_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("selected"); // -1: none
    QTest::addColumn<int>("selectedByReader"); // through the table interface, -1: not
    QTest::newRow("current and selected") << 2 << 2 << -1;
    QTest::newRow("current only") << 4 << -1 << -1;
    QTest::newRow("selected away from current") << 0 << 3 << -1;
    QTest::newRow("reader selects") << 1 << 1 << 4;
}

void TestImageListAccess::currentAndSelectedStates()
{
    QFETCH(int, current);
    QFETCH(int, selected);
    QFETCH(int, selectedByReader);
    ReadList read(6);
    QItemSelectionModel* selection = read.list->selectionModel();
    selection->setCurrentIndex(read.entries->index(current), QItemSelectionModel::NoUpdate);
    if (selected >= 0)
        selection->select(read.entries->index(selected), QItemSelectionModel::ClearAndSelect);
    QAccessibleInterface* list = read.iface();
    if (selectedByReader >= 0) {
        QVERIFY(list->tableInterface()->selectRow(selectedByReader));
        selected = selectedByReader; // one entry at a time
        QVERIFY(selection->isRowSelected(selected));
    }
    for (int i = 0; i < 6; ++i) {
        const QAccessible::State state = list->child(i)->state();
        QCOMPARE(bool(state.selected), i == selected);
        QCOMPARE(bool(state.focused), i == current);
        QVERIFY(state.selectable);
        QVERIFY(state.focusable);
    }
    const QList<int> rows = selected >= 0 ? QList<int> { selected } : QList<int> {};
    QCOMPARE(list->tableInterface()->selectedRows(), rows);
    read.list->setFocus();
    QCOMPARE(list->focusChild(), list->child(current));
}

void TestImageListAccess::childrenFollowRemovals_data()
{
    QTest::addColumn<QList<int>>("removals"); // rows removed one after another
    QTest::addColumn<bool>("cachedFirst"); // every row asked for before the removals
    QTest::newRow("first row, all asked for") << QList<int> { 0 } << true;
    QTest::newRow("middle row, all asked for") << QList<int> { 3 } << true;
    QTest::newRow("last row, all asked for") << QList<int> { 7 } << true;
    QTest::newRow("several, all asked for") << QList<int> { 6, 0, 2, 2 } << true;
    QTest::newRow("several, none asked for") << QList<int> { 6, 0, 2, 2 } << false;
    QTest::newRow("down to empty") << QList<int> { 0, 0, 0, 0, 0, 0, 0, 0 } << true;
}

void TestImageListAccess::childrenFollowRemovals()
{
    QFETCH(QList<int>, removals);
    QFETCH(bool, cachedFirst);
    ReadList read(8);
    read.list->setCurrentIndex(read.entries->index(removals.first()));
    QAccessibleInterface* list = read.iface();
    QList<QAccessible::Id> ids;
    if (cachedFirst) {
        for (int i = 0; i < 8; ++i)
            ids << QAccessible::uniqueId(list->child(i));
    }
    for (int row : removals) {
        const QAccessible::Id gone = QAccessible::uniqueId(list->child(row));
        read.entries->removeAt(row);
        // A reader still holding the removed row's id finds nothing, not a freed row.
        QVERIFY(!QAccessible::accessibleInterface(gone));
    }
    QCOMPARE(list->childCount(), read.entries->count());
    QCOMPARE(read.names(), read.expected());
    for (int i = 0; i < list->childCount(); ++i)
        QCOMPARE(list->indexOfChild(list->child(i)), i);
    // The rows kept keep their interfaces, now under their new numbers.
    for (QAccessible::Id id : ids) {
        if (QAccessibleInterface* row = QAccessible::accessibleInterface(id))
            QCOMPARE(list->child(list->indexOfChild(row)), row);
    }
}

void TestImageListAccess::rowsUnderPoints_data()
{
    QTest::addColumn<int>("scrolledTo"); // the scroll bar's value
    QTest::addColumn<int>("row"); // row looked for, from the top of the view
    QTest::newRow("top row") << 0 << 0;
    QTest::newRow("third row") << 0 << 2;
    QTest::newRow("scrolled, first in view") << 20 << 0;
    QTest::newRow("scrolled, third in view") << 20 << 2;
}

void TestImageListAccess::rowsUnderPoints()
{
    QFETCH(int, scrolledTo);
    QFETCH(int, row);
    ReadList read(50);
    read.list->verticalScrollBar()->setValue(scrolledTo);
    const int entry = read.list->rowAt(0) + row;
    const QRect rect = read.list->visualRect(read.entries->index(entry));
    const QPoint point = read.list->viewport()->mapToGlobal(rect.center());
    QAccessibleInterface* list = read.iface();
    QAccessibleInterface* hit = list->childAt(point.x(), point.y());
    QVERIFY(hit);
    QCOMPARE(list->indexOfChild(hit), entry);
    QCOMPARE(hit->text(QAccessible::Name), read.entries->text(entry));
    QVERIFY(hit->rect().contains(point));
    QCOMPARE(hit->rect().height(), read.list->rowHeight(entry));
    QVERIFY(!hit->state().offscreen);
    // Above the rows, on the header, there is no row; one scrolled out of view says so.
    const QPoint header = read.list->header()->mapToGlobal(QPoint(5, 2));
    QVERIFY(!list->childAt(header.x(), header.y()));
    if (scrolledTo > 0)
        QVERIFY(list->child(0)->state().offscreen);
}

void TestImageListAccess::rowsGoWithTheView()
{
    QList<QAccessible::Id> ids;
    {
        ReadList read(3);
        for (int i = 0; i < 3; ++i)
            ids << QAccessible::uniqueId(read.iface()->child(i));
        ids << QAccessible::uniqueId(
            read.iface()->child(0)->tableCellInterface()->columnHeaderCells().first());
    }
    for (QAccessible::Id id : ids)
        QVERIFY(!QAccessible::accessibleInterface(id));
}

void TestImageListAccess::readerEvents()
{
    // The accessibility bus is started and switched on as a desktop does for a screen reader.
    const QString script = QStringLiteral(
        "dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus "
        "org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled "
        "variant:boolean:true >/dev/null && exec \"$0\"");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(SessionVariable, "1");
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    QProcess session;
    session.setProcessEnvironment(environment);
    session.start("xvfb-run",
        { "-a", "dbus-run-session", "--", "sh", "-c", script,
            QCoreApplication::applicationFilePath() });
    QVERIFY2(session.waitForFinished(120000), "the reader session did not end");
    QCOMPARE(session.exitCode(), 0);
    QStringList notices;
    for (const QString& line : QString::fromUtf8(session.readAllStandardOutput()).split('\n')) {
        if (line.startsWith("notice "))
            notices << line.mid(7);
    }
    const QStringList expected {
        // the current row, selected with it
        "SelectionAdd 2 /p/2.jpg",
        "Focus 2 /p/2.jpg",
        // an entry appended (kind 2: rows inserted)
        "TableModelChanged 2 5..5",
        // the current row removed: the next one becomes current before the removal
        "SelectionRemove 2 /p/2.jpg",
        "SelectionAdd 3 /p/3.jpg",
        "Focus 3 /p/3.jpg",
        "TableModelChanged 4 2..2",
        // back into the list from another control
        "Focus 2 /p/3.jpg",
    };
    QCOMPARE(notices, expected);
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(SessionVariable))
        return readerSession(argc, argv);
    QApplication app(argc, argv);
    TestImageListAccess test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_imagelistaccess.moc"
