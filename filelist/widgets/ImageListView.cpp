// SPDX-License-Identifier: MIT

#include "filelist/widgets/ImageListView.h"

#include "filelist/widgets/ImageEntries.h"
#include "filelist/widgets/ImageListAccessible.h"

#include <QAccessible>
#include <QEvent>
#include <QHeaderView>
#include <QHoverEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <climits>
#include <vector>

namespace {

// The rows a double click on the header's handle measures: those in view, then as many
// around them as make this many.
constexpr int RowsMeasured = 1000;

// A selection change of more rows than this tells a reader only that the selection changed,
// not row by row.
constexpr int RowsAnnounced = 16;

} // namespace

ImageListView::ImageListView(QWidget* parent)
    : QAbstractItemView(parent)
    , m_entries(new ImageEntries(this))
    , m_header(new QHeaderView(Qt::Horizontal, this))
{
    // Before anything can ask for this list's interface: Qt keeps the first one made.
    ImageListAccessible::install();

    // Set up as a table sets up its column header, so that it looks and acts the same.
    m_header->setSectionsClickable(true);
    m_header->setHighlightSections(false);
    m_header->setStretchLastSection(false);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_header->setModel(m_entries);
    setModel(m_entries);
    m_header->setSelectionModel(selectionModel());

    // Tab leaves the list as it leaves any other control.
    setTabKeyNavigation(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);

    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(m_header, &QHeaderView::geometriesChanged, this, [this] { updateGeometries(); });
    connect(m_header, &QHeaderView::sectionHandleDoubleClicked, this,
        [this](int column) { resizeColumnToContents(column); });
    // The scroll range follows the count once the event loop runs, as a table's does.
    connect(m_entries, &QAbstractItemModel::rowsInserted, this,
        [this] { scheduleDelayedItemsLayout(); });
    connect(m_entries, &QAbstractItemModel::rowsRemoved, this, [this] { entriesRemoved(); });
    fitRowHeight();
}

// The header and the entries outlive this part of the view while the base classes take
// them down; a hidden header still reports its geometry then.
ImageListView::~ImageListView()
{
    disconnect(m_header, nullptr, this, nullptr);
    disconnect(m_entries, nullptr, this, nullptr);
}

int ImageListView::columnWidth(int column) const
{
    return m_header->sectionSize(column);
}

void ImageListView::setColumnWidth(int column, int width)
{
    m_header->resizeSection(column, width);
}

int ImageListView::rowHeight(int row) const
{
    return row >= 0 && row < m_entries->count() ? m_rowHeight : 0;
}

int ImageListView::rowAt(int y) const
{
    const qint64 position = qint64(y) + m_verticalOffset;
    if (position < 0 || position >= qint64(m_entries->count()) * m_rowHeight)
        return -1;
    return int(position / m_rowHeight);
}

int ImageListView::columnAt(int x) const
{
    const int position = x + m_header->offset();
    return position >= 0 && position < m_header->length() ? 0 : -1;
}

QRect ImageListView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != m_entries || index.parent().isValid()
        || index.column() != 0)
        return {};
    return QRect(-m_header->offset(), index.row() * m_rowHeight - m_verticalOffset, columnWidth(0),
        m_rowHeight);
}

QModelIndex ImageListView::indexAt(const QPoint& point) const
{
    const int row = rowAt(point.y());
    if (row < 0 || columnAt(point.x()) < 0)
        return {};
    return m_entries->index(row);
}

void ImageListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!visualRect(index).isValid())
        return;
    const int viewportHeight = viewport()->height();
    const int top = index.row() * m_rowHeight - m_verticalOffset;
    if (top < 0 || m_rowHeight > viewportHeight) {
        if (hint == EnsureVisible)
            hint = PositionAtTop;
    } else if (top + m_rowHeight > viewportHeight) {
        if (hint == EnsureVisible)
            hint = PositionAtBottom;
    }

    QScrollBar* bar = verticalScrollBar();
    if (verticalScrollMode() == ScrollPerItem) {
        int row = index.row();
        if (hint == PositionAtBottom || hint == PositionAtCenter) {
            // The rows above it that still fit, with it, in the room asked for.
            const int room = hint == PositionAtCenter ? viewportHeight / 2 : viewportHeight;
            row -= qMin(row, qMax(0, room / m_rowHeight - 1));
        }
        if (hint != EnsureVisible)
            bar->setValue(row);
    } else {
        const int position = index.row() * m_rowHeight;
        if (hint == PositionAtTop)
            bar->setValue(position);
        else if (hint == PositionAtBottom)
            bar->setValue(position - viewportHeight + m_rowHeight);
        else if (hint == PositionAtCenter)
            bar->setValue(position - (viewportHeight - m_rowHeight) / 2);
    }
    // The one column is brought to its left edge whenever it is not wholly in view.
    if (m_header->offset() > 0 || columnWidth(0) > viewport()->width())
        horizontalScrollBar()->setValue(0);
    update(index);
}

int ImageListView::pageRowAt(int y, int outside) const
{
    const int row = rowAt(y);
    return row < 0 ? outside : row;
}

QModelIndex ImageListView::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const int count = m_entries->count();
    if (count == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return m_entries->index(0);
    int row = current.row();
    switch (action) {
    case MoveUp:
        row = qMax(0, row - 1);
        break;
    case MoveDown:
        row = qMin(count - 1, row + 1);
        break;
    // Home and End go to the first and last entry, as in a list, not along the row.
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = count - 1;
        break;
    case MovePageUp:
        row = pageRowAt(visualRect(current).bottom() - viewport()->height(), 0);
        break;
    case MovePageDown:
        row = pageRowAt(visualRect(current).top() + viewport()->height(), count - 1);
        break;
    default: // one column: left, right, next and previous stay where they are
        break;
    }
    return m_entries->index(row);
}

int ImageListView::horizontalOffset() const
{
    return m_header->offset();
}

int ImageListView::verticalOffset() const
{
    return m_verticalOffset;
}

bool ImageListView::isIndexHidden(const QModelIndex&) const
{
    return false;
}

void ImageListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    const QModelIndex first
        = indexAt(QPoint(qMin(rect.left(), rect.right()), qMin(rect.top(), rect.bottom())));
    const QModelIndex last
        = indexAt(QPoint(qMax(rect.left(), rect.right()), qMax(rect.top(), rect.bottom())));
    if (!selectionModel() || !first.isValid() || !last.isValid())
        return;
    selectionModel()->select(QItemSelection(first, last), command);
}

QRegion ImageListView::visualRegionForSelection(const QItemSelection& selection) const
{
    QRegion region;
    const QRect area = viewport()->rect();
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.model() != m_entries)
            continue;
        const QRect rows = visualRect(range.topLeft()).united(visualRect(range.bottomRight()));
        region += rows.intersected(area);
    }
    return region;
}

void ImageListView::initViewItemOption(QStyleOptionViewItem* option) const
{
    QAbstractItemView::initViewItemOption(option);
    option->showDecorationSelected = true;
}

int ImageListView::sizeHintForColumn(int column) const
{
    const int count = m_entries->count();
    if (column != 0)
        return -1;
    int first = qMax(0, rowAt(0));
    int last = rowAt(viewport()->height());
    if (!isVisible() || last < 0)
        last = count - 1;
    last = qMin(last, first + RowsMeasured - 1);
    // Then rows below and above in turn, as a table measures them.
    while (last - first + 1 < RowsMeasured && (first > 0 || last < count - 1)) {
        if ((((last - first + 1) % 2) != 0 && first > 0) || last == count - 1)
            --first;
        else
            ++last;
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int hint = 0;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = m_entries->index(row);
        hint = qMax(hint, itemDelegateForIndex(index)->sizeHint(option, index).width());
    }
    return hint;
}

void ImageListView::resizeColumnToContents(int column)
{
    m_header->resizeSection(
        column, qMax(sizeHintForColumn(column), m_header->sectionSizeHint(column)));
}

void ImageListView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end)
{
    m_removedTop = start * m_rowHeight - m_verticalOffset;
    m_removedHeight = (end - start + 1) * m_rowHeight;
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
}

void ImageListView::entriesRemoved()
{
    const int offset = m_verticalOffset;
    updateGeometries();
    if (m_verticalOffset != offset) {
        viewport()->update();
        return;
    }
    // The rows below the removed ones move up as they are: only the rows that come into view
    // at the bottom are drawn anew (and any row waiting to be drawn moves along with its
    // pixels), so a removal costs a row or two of text, not a viewport full.
    const QRect area = viewport()->rect();
    const int top = qMax(0, m_removedTop);
    if (top >= area.height())
        return;
    viewport()->scroll(0, -m_removedHeight, QRect(0, top, area.width(), area.height() - top));
    // The selected, current and hovered rows are drawn anew all the same: the smoothed
    // corners of their highlight come out a shade different at another height.
    viewport()->update(visualRegionForSelection(selectionModel()->selection()));
    update(currentIndex());
    update(m_hover);
}

void ImageListView::updateGeometries()
{
    if (m_inGeometryUpdate)
        return;
    m_inGeometryUpdate = true;
    int headerHeight = 0;
    if (!m_header->isHidden()) {
        headerHeight = qMin(qMax(m_header->minimumHeight(), m_header->sizeHint().height()),
            m_header->maximumHeight());
    }
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect area = viewport()->geometry();
    m_header->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);
    if (m_header->isHidden())
        QMetaObject::invokeMethod(m_header, "updateGeometries");

    QSize size = viewport()->size();
    const QSize most = maximumViewportSize();
    if (most.width() >= m_header->length()
        && qint64(most.height()) >= qint64(m_entries->count()) * m_rowHeight)
        size = most;
    updateHorizontalScrollBar(size);
    updateVerticalScrollBar(size);
    m_inGeometryUpdate = false;
    QAbstractItemView::updateGeometries();
}

void ImageListView::updateVerticalScrollBar(const QSize& viewportSize)
{
    const int count = m_entries->count();
    const int rowsInView = qMax(1, qMin(count, viewportSize.height() / m_rowHeight));
    QScrollBar* bar = verticalScrollBar();
    if (verticalScrollMode() == ScrollPerItem) {
        bar->setRange(0, count - rowsInView);
        bar->setPageStep(rowsInView);
        if (rowsInView >= count && m_verticalOffset != 0) {
            m_verticalOffset = 0;
            viewport()->update();
        }
        bar->setSingleStep(1);
    } else {
        bar->setPageStep(viewportSize.height());
        bar->setRange(0, count * m_rowHeight - viewportSize.height());
        bar->setSingleStep(qMax(viewportSize.height() / (rowsInView + 1), 2));
    }
}

void ImageListView::updateHorizontalScrollBar(const QSize& viewportSize)
{
    QScrollBar* bar = horizontalScrollBar();
    if (horizontalScrollMode() == ScrollPerItem) {
        // Scrolled by whole columns, one column never scrolls.
        bar->setRange(0, 0);
        bar->setPageStep(1);
        m_header->setOffset(0);
        bar->setSingleStep(1);
    } else {
        bar->setPageStep(viewportSize.width());
        bar->setRange(0, m_header->length() - viewportSize.width());
        bar->setSingleStep(qMax(viewportSize.width() / 2, 2));
    }
}

int ImageListView::offsetForScrollValue(int value) const
{
    if (verticalScrollMode() == ScrollPerPixel)
        return value;
    const QScrollBar* bar = verticalScrollBar();
    // At the end of the range the last row stands at the bottom edge.
    if (bar->maximum() > 0 && value == bar->maximum())
        return m_entries->count() * m_rowHeight - viewport()->height();
    return value * m_rowHeight;
}

void ImageListView::scrollContentsBy(int dx, int dy)
{
    if (dx != 0) {
        const int old = m_header->offset();
        m_header->setOffset(
            horizontalScrollMode() == ScrollPerItem ? 0 : horizontalScrollBar()->value());
        dx = old - m_header->offset();
    }
    if (dy != 0) {
        const int old = m_verticalOffset;
        m_verticalOffset = offsetForScrollValue(verticalScrollBar()->value());
        dy = old - m_verticalOffset;
    }
    scrollDirtyRegion(dx, dy);
    viewport()->scroll(dx, dy);
}

void ImageListView::paintEvent(QPaintEvent* event)
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    QPainter painter(viewport());
    const int count = m_entries->count();
    if (count == 0 || m_header->count() == 0)
        return;
    // Only the rows there are, and only as wide as the column; the rest is background.
    const int rowsEnd = int(qMin(qint64(count) * m_rowHeight - m_verticalOffset, qint64(INT_MAX)));
    const int columnEnd = m_header->length() - m_header->offset();
    const int first = qMax(0, rowAt(0));
    std::vector<bool> painted;
    // Row by row of each dirty rectangle, so that a removal, which leaves a row at the top
    // and one at the bottom to draw, does not draw every row between them; each row once.
    for (QRect area : event->region()) {
        area.setBottom(qMin(area.bottom(), rowsEnd - 1));
        area.setRight(qMin(area.right(), columnEnd - 1));
        const int top = rowAt(area.top());
        if (!area.isValid() || top < 0)
            continue;
        const int bottom = rowAt(area.bottom()) < 0 ? count - 1 : rowAt(area.bottom());
        for (int row = top; row <= bottom; ++row) {
            const size_t slot = size_t(row - first);
            if (row < first || (slot < painted.size() && painted[slot]))
                continue;
            if (slot >= painted.size())
                painted.resize(slot + 1, false);
            painted[slot] = true;
            const QModelIndex index = m_entries->index(row);
            option.rect = visualRect(index);
            paintRow(painter, option, index);
        }
    }
}

void ImageListView::paintRow(
    QPainter& painter, QStyleOptionViewItem option, const QModelIndex& index) const
{
    if (selectionModel()->isSelected(index))
        option.state |= QStyle::State_Selected;
    if (index == m_hover)
        option.state |= QStyle::State_MouseOver;
    if (option.state & QStyle::State_Enabled)
        option.palette.setCurrentColorGroup(QPalette::Normal);
    if (index == currentIndex() && (hasFocus() || viewport()->hasFocus()))
        option.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &painter, this);
    itemDelegateForIndex(index)->paint(&painter, option, index);
}

bool ImageListView::viewportEvent(QEvent* event)
{
    // The row under the pointer, for styles that mark it.
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        m_hover = indexAt(static_cast<QHoverEvent*>(event)->position().toPoint());
        break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
        m_hover = QPersistentModelIndex();
        break;
    default:
        break;
    }
    return QAbstractItemView::viewportEvent(event);
}

void ImageListView::changeEvent(QEvent* event)
{
    QAbstractItemView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitRowHeight();
}

void ImageListView::fitRowHeight()
{
    // The height the item delegate asks for one line of text in the list's font.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("Xg");
    const int height
        = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).height();
    m_rowHeight = qMax(1, height);
    updateGeometries();
    viewport()->update();
}

// Screen readers learn of the current row and the selection from these events; the item
// view itself already tells them of inserted and removed rows. Nothing is sent, and nothing
// costs, while no reader is active.
void ImageListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QAbstractItemView::currentChanged(current, previous);
    if (QAccessible::isActive() && current.isValid() && hasFocus())
        notifyAccessible(QAccessible::Focus, current.row());
}

void ImageListView::selectionChanged(
    const QItemSelection& selected, const QItemSelection& deselected)
{
    QAbstractItemView::selectionChanged(selected, deselected);
    if (!QAccessible::isActive())
        return;
    notifySelection(deselected, QAccessible::SelectionRemove);
    notifySelection(selected, QAccessible::SelectionAdd);
}

void ImageListView::focusInEvent(QFocusEvent* event)
{
    QAbstractItemView::focusInEvent(event);
    // Coming into the list, a reader reads the entry the keys will move from.
    if (QAccessible::isActive() && currentIndex().isValid())
        notifyAccessible(QAccessible::Focus, currentIndex().row());
}

void ImageListView::notifyAccessible(int event, int row)
{
    QAccessibleEvent notice(this, QAccessible::Event(event));
    notice.setChild(row);
    QAccessible::updateAccessibility(&notice);
}

void ImageListView::notifySelection(const QItemSelection& rows, int event)
{
    int count = 0;
    for (const QItemSelectionRange& range : rows)
        count += range.model() == m_entries ? range.height() : 0;
    if (count > RowsAnnounced) {
        QAccessibleEvent notice(this, QAccessible::SelectionWithin);
        QAccessible::updateAccessibility(&notice);
        return;
    }
    // A row deselected as it is removed is still there: the selection changes first.
    for (const QItemSelectionRange& range : rows) {
        if (range.model() != m_entries)
            continue;
        for (int row = range.top(); row <= range.bottom() && row < m_entries->count(); ++row)
            notifyAccessible(event, row);
    }
}
