// SPDX-License-Identifier: MIT

#pragma once

#include <QAccessibleWidget>
#include <QObject>
#include <QPointer>
#include <vector>

class ImageListView;
class ImageRowAccessible;

// What a screen reader sees of the image list: a list whose children are its rows, one
// list item per entry named by the entry's text. It also answers as a one-column table, the
// way Qt's own list views do, which gives a reader the selection, the column's header and
// the model-change events the item view sends for insertions and removals.
//
// Row interfaces are made only for the rows a reader asks for, kept in Qt's cache under an
// id, moved along when rows above them are inserted or removed and deleted with their row,
// so that a list of 100,000 entries costs nothing until a reader walks it. The entries' own
// signals keep them right, not the view's accessibility events, which are not sent while no
// reader is active.
class ImageListAccessible : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit ImageListAccessible(ImageListView* view);
    ~ImageListAccessible() override;

    // Makes every ImageListView answer with this interface; safe to call more than once.
    static void install();

    ImageListView* view() const;

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // The header cell "Image File(s)", made when first asked for.
    QAccessibleInterface* headerCell() const;

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    int columnCount() const override { return 1; }
    int rowCount() const override { return childCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override;
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

private:
    void forgetRows(int first, int last);
    void moveRows(int from, int by);
    void forgetAll();

    struct CachedRow
    {
        int row;
        QAccessible::Id id;
        // Deleted only through this list (rows belong to no object Qt could see go), so
        // moving rows need not look each one up in Qt's cache.
        ImageRowAccessible* iface;
    };
    std::vector<CachedRow>::iterator cachedFrom(int row) const;

    // The rows a reader has asked for, in row order.
    mutable std::vector<CachedRow> m_rows;
    mutable QAccessible::Id m_header = 0;
    QObject m_entriesWatch; // holds the connections to the entries' signals
};

// One row of the image list: a list item named by the entry's text.
class ImageRowAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    ImageRowAccessible(ImageListView* view, int row);

    int row() const { return m_row; }
    void setRow(int row) { m_row = row; }

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text type) const override;
    void setText(QAccessible::Text, const QString&) override { }
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    bool isSelected() const override;
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    ImageListAccessible* list() const;

    QPointer<ImageListView> m_view;
    int m_row;
};
