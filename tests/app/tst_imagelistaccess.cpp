// SPDX-License-Identifier: MIT

// What a screen reader gets of the image list: its rows as list items, the current and
// selected row, rows under points, and children that follow removals.

#include "filelist/widgets/ImageEntries.h"
#include "filelist/widgets/ImageListView.h"

#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QTest>

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

QTEST_MAIN(TestImageListAccess)
#include "tst_imagelistaccess.moc"
