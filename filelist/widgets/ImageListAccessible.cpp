// SPDX-License-Identifier: MIT

#include "filelist/widgets/ImageListAccessible.h"

#include "filelist/widgets/ImageEntries.h"
#include "filelist/widgets/ImageListView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QWindow>
#include <algorithm>
#include <vector>

namespace {

// The header above the one column, "Image File(s)".
class ImageHeaderAccessible : public QAccessibleInterface
{
public:
    explicit ImageHeaderAccessible(ImageListView* view)
        : m_view(view)
    {
    }

    bool isValid() const override { return !m_view.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override
    {
        return m_view ? QAccessible::queryAccessibleInterface(m_view) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text type) const override
    {
        if (!m_view || type != QAccessible::Name)
            return {};
        return m_view->entries()->headerData(0, Qt::Horizontal).toString();
    }
    void setText(QAccessible::Text, const QString&) override { }
    QRect rect() const override
    {
        if (!m_view)
            return {};
        const QHeaderView* header = m_view->header();
        const QRect section(
            header->sectionViewportPosition(0), 0, header->sectionSize(0), header->height());
        return QRect(header->viewport()->mapToGlobal(section.topLeft()), section.size());
    }
    QAccessible::Role role() const override { return QAccessible::ColumnHeader; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.invalid = !isValid();
        state.invisible = m_view && m_view->header()->isHidden();
        return state;
    }

private:
    QPointer<ImageListView> m_view;
};

QAccessibleInterface* imageListFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("ImageListView") || !object || !object->isWidgetType())
        return nullptr;
    auto* view = qobject_cast<ImageListView*>(object);
    return view ? new ImageListAccessible(view) : nullptr;
}

} // namespace

ImageListAccessible::ImageListAccessible(ImageListView* view)
    : QAccessibleWidget(view, QAccessible::List)
{
    const ImageEntries* entries = view->entries();
    QObject::connect(entries, &QAbstractItemModel::rowsInserted, &m_entriesWatch,
        [this](const QModelIndex&, int first, int last) { moveRows(first, last - first + 1); });
    QObject::connect(entries, &QAbstractItemModel::rowsRemoved, &m_entriesWatch,
        [this](const QModelIndex&, int first, int last) {
            forgetRows(first, last);
            moveRows(last + 1, first - last - 1);
        });
    QObject::connect(
        entries, &QAbstractItemModel::modelReset, &m_entriesWatch, [this] { forgetAll(); });
}

ImageListAccessible::~ImageListAccessible()
{
    forgetAll();
    if (m_header != 0)
        QAccessible::deleteAccessibleInterface(m_header);
}

void ImageListAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(imageListFactory);
        return true;
    }();
    Q_UNUSED(installed)
}

ImageListView* ImageListAccessible::view() const
{
    return static_cast<ImageListView*>(widget());
}

int ImageListAccessible::childCount() const
{
    return view()->entries()->count();
}

QAccessibleInterface* ImageListAccessible::child(int index) const
{
    if (index < 0 || index >= childCount())
        return nullptr;
    auto cached = cachedFrom(index);
    if (cached != m_rows.end() && cached->row == index) {
        if (QAccessible::accessibleInterface(cached->id) == cached->iface)
            return cached->iface;
        cached = m_rows.erase(cached);
    }
    auto* row = new ImageRowAccessible(view(), index);
    m_rows.insert(cached, { index, QAccessible::registerAccessibleInterface(row), row });
    return row;
}

int ImageListAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    const auto* row = dynamic_cast<const ImageRowAccessible*>(child);
    if (!row || !row->isValid() || row->parent() != this)
        return -1;
    return row->row();
}

QAccessibleInterface* ImageListAccessible::childAt(int x, int y) const
{
    // By arithmetic, as the view finds a row: asking every child for its rect would make
    // an interface for each of them.
    const QWidget* viewport = view()->viewport();
    const QPoint point = viewport->mapFromGlobal(QPoint(x, y));
    if (!viewport->rect().contains(point))
        return nullptr;
    const QModelIndex index = view()->indexAt(point);
    return index.isValid() ? child(index.row()) : nullptr;
}

QAccessibleInterface* ImageListAccessible::focusChild() const
{
    const QModelIndex current = view()->currentIndex();
    if (view()->hasFocus() && current.isValid())
        return child(current.row());
    return QAccessibleWidget::focusChild();
}

void* ImageListAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface* ImageListAccessible::headerCell() const
{
    if (QAccessibleInterface* header = QAccessible::accessibleInterface(m_header))
        return header;
    auto* header = new ImageHeaderAccessible(view());
    m_header = QAccessible::registerAccessibleInterface(header);
    return header;
}

QAccessibleInterface* ImageListAccessible::cellAt(int row, int column) const
{
    return column == 0 ? child(row) : nullptr;
}

int ImageListAccessible::selectedCellCount() const
{
    return selectedRowCount();
}

QList<QAccessibleInterface*> ImageListAccessible::selectedCells() const
{
    QList<QAccessibleInterface*> cells;
    for (int row : selectedRows())
        cells << child(row);
    return cells;
}

QString ImageListAccessible::columnDescription(int column) const
{
    return view()->entries()->headerData(column, Qt::Horizontal).toString();
}

int ImageListAccessible::selectedRowCount() const
{
    return int(selectedRows().size());
}

QList<int> ImageListAccessible::selectedRows() const
{
    QList<int> rows;
    if (const QItemSelectionModel* selection = view()->selectionModel()) {
        for (const QModelIndex& index : selection->selectedRows())
            rows << index.row();
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool ImageListAccessible::isRowSelected(int row) const
{
    const QItemSelectionModel* selection = view()->selectionModel();
    return selection && row >= 0 && row < childCount() && selection->isRowSelected(row);
}

bool ImageListAccessible::selectRow(int row)
{
    ImageListView* list = view();
    if (row < 0 || row >= childCount() || list->selectionMode() == QAbstractItemView::NoSelection)
        return false;
    QItemSelectionModel::SelectionFlags command = QItemSelectionModel::Select;
    if (list->selectionMode() == QAbstractItemView::SingleSelection)
        command = QItemSelectionModel::ClearAndSelect;
    list->selectionModel()->select(list->entries()->index(row), command);
    return true;
}

bool ImageListAccessible::unselectRow(int row)
{
    if (!isRowSelected(row))
        return false;
    view()->selectionModel()->select(view()->entries()->index(row), QItemSelectionModel::Deselect);
    return true;
}

void ImageListAccessible::modelChange(QAccessibleTableModelChangeEvent*)
{
    // The rows have already followed the entries' own signals.
}

std::vector<ImageListAccessible::CachedRow>::iterator ImageListAccessible::cachedFrom(int row) const
{
    return std::lower_bound(m_rows.begin(), m_rows.end(), row,
        [](const CachedRow& cached, int wanted) { return cached.row < wanted; });
}

void ImageListAccessible::forgetRows(int first, int last)
{
    const auto begin = cachedFrom(first);
    const auto end = cachedFrom(last + 1);
    for (auto it = begin; it != end; ++it)
        QAccessible::deleteAccessibleInterface(it->id);
    m_rows.erase(begin, end);
}

void ImageListAccessible::moveRows(int from, int by)
{
    // Every row a reader has asked for below the change, in place: a reader that walked the
    // whole list must not make each removal slow.
    for (auto it = cachedFrom(from); it != m_rows.end(); ++it) {
        it->row += by;
        it->iface->setRow(it->row);
    }
}

void ImageListAccessible::forgetAll()
{
    for (const CachedRow& cached : m_rows)
        QAccessible::deleteAccessibleInterface(cached.id);
    m_rows.clear();
}

ImageRowAccessible::ImageRowAccessible(ImageListView* view, int row)
    : m_view(view)
    , m_row(row)
{
}

bool ImageRowAccessible::isValid() const
{
    return m_view && m_row >= 0 && m_row < m_view->entries()->count();
}

QWindow* ImageRowAccessible::window() const
{
    return m_view ? m_view->window()->windowHandle() : nullptr;
}

QAccessibleInterface* ImageRowAccessible::parent() const
{
    return m_view ? QAccessible::queryAccessibleInterface(m_view) : nullptr;
}

QString ImageRowAccessible::text(QAccessible::Text type) const
{
    if (type != QAccessible::Name || !isValid())
        return {};
    return m_view->entries()->text(m_row);
}

QRect ImageRowAccessible::rect() const
{
    if (!isValid())
        return {};
    const QRect row = m_view->visualRect(m_view->entries()->index(m_row));
    return QRect(m_view->viewport()->mapToGlobal(row.topLeft()), row.size());
}

QAccessible::State ImageRowAccessible::state() const
{
    QAccessible::State state;
    if (!isValid()) {
        state.invalid = true;
        return state;
    }
    const QModelIndex index = m_view->entries()->index(m_row);
    const Qt::ItemFlags flags = index.flags();
    state.selectable = (flags & Qt::ItemIsSelectable)
        && m_view->selectionMode() != QAbstractItemView::NoSelection;
    state.selected = isSelected();
    state.focusable = m_view->focusPolicy() != Qt::NoFocus;
    // The current row is the focused one, as in Qt's own item views.
    state.focused = m_view->currentIndex() == index;
    state.disabled = !m_view->isEnabled() || !(flags & Qt::ItemIsEnabled);
    const QRect visible = m_view->viewport()->rect();
    if (!visible.intersects(m_view->visualRect(index))) {
        state.invisible = true;
        state.offscreen = true;
    }
    return state;
}

void* ImageRowAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableCellInterface)
        return static_cast<QAccessibleTableCellInterface*>(this);
    return nullptr;
}

bool ImageRowAccessible::isSelected() const
{
    const QItemSelectionModel* selection = m_view ? m_view->selectionModel() : nullptr;
    return isValid() && selection && selection->isRowSelected(m_row);
}

QList<QAccessibleInterface*> ImageRowAccessible::columnHeaderCells() const
{
    if (ImageListAccessible* table = list())
        return { table->headerCell() };
    return {};
}

ImageListAccessible* ImageRowAccessible::list() const
{
    return dynamic_cast<ImageListAccessible*>(parent());
}
