// SPDX-License-Identifier: MIT

#pragma once

#include <QAbstractItemView>
#include <QPersistentModelIndex>

class ImageEntries;
class QHeaderView;

// The image list: one column "Image File(s)" in report style over its own ImageEntries,
// rows of one fixed height, one entry selectable at a time, nothing editable. It draws,
// scrolls, selects and moves the cursor as a one-column table with a hidden row header.
//
// Its own view rather than a table, tree or list view: with every row of the same height a
// row's place is its number times that height, so removing an entry from 100,000 costs no
// walk over the rows. A table's row header, a tree's and a list's layout all walk every row
// at each removal.
class ImageListView : public QAbstractItemView
{
    Q_OBJECT

public:
    explicit ImageListView(QWidget* parent = nullptr);
    ~ImageListView() override;

    ImageEntries* entries() const { return m_entries; }
    // The header above the one column; its section width is the column's.
    QHeaderView* header() const { return m_header; }

    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    int rowHeight(int row) const;
    // The row at viewport height `y` (also outside the viewport), -1 above the first row or
    // below the last.
    int rowAt(int y) const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    int sizeHintForColumn(int column) const override;

protected slots:
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(
        const QItemSelection& selected, const QItemSelection& deselected) override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void initViewItemOption(QStyleOptionViewItem* option) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void fitRowHeight();
    int columnAt(int x) const;
    int pageRowAt(int y, int outside) const;
    void updateVerticalScrollBar(const QSize& viewportSize);
    void updateHorizontalScrollBar(const QSize& viewportSize);
    int offsetForScrollValue(int value) const;
    void paintRow(QPainter& painter, QStyleOptionViewItem option, const QModelIndex& index) const;
    void resizeColumnToContents(int column);
    void entriesRemoved();
    void notifyAccessible(int event, int row);
    void notifySelection(const QItemSelection& rows, int event);

    ImageEntries* m_entries;
    QHeaderView* m_header;
    int m_rowHeight = 1;
    int m_verticalOffset = 0; // pixels of the rows above the viewport's top edge
    bool m_inGeometryUpdate = false;
    // Where the entries being removed stand in the viewport, and how tall they are.
    int m_removedTop = 0;
    int m_removedHeight = 0;
    QPersistentModelIndex m_hover;
};
