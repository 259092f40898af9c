// SPDX-License-Identifier: MIT

#include "filelist/widgets/ImageListHandlers.h"

#include "filelist/AddFolder.h"
#include "filelist/widgets/ImageEntries.h"
#include "filelist/widgets/ImageListView.h"

#include <QCursor>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QUrl>

namespace {

const QString AppTitle = QStringLiteral("Pictelle");

} // namespace

namespace AddFolder {

QString BrowseForFolder(Dialogs& dialogs, QWidget* owner, const QString& title)
{
    const QString path = dialogs.chooseFolder(owner, title);
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return {};
    return path;
}

} // namespace AddFolder

BusyPointer::BusyPointer(const std::function<int()>& get, std::function<void(int)> set)
    : m_set(std::move(set))
    , m_wasBusy(get() == WindowPointer::Busy)
{
    m_set(WindowPointer::Busy);
}

BusyPointer::~BusyPointer()
{
    m_set(m_wasBusy ? WindowPointer::Busy : WindowPointer::Default);
}

std::optional<QStringList> droppedFiles(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty())
        return std::nullopt;
    QStringList paths;
    paths.reserve(urls.size());
    for (const QUrl& url : urls) {
        const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        if (path.isEmpty())
            return std::nullopt;
        paths << path;
    }
    return paths;
}

ImageListHandlers::ImageListHandlers(ImageListView* list, Services services, QWidget* dialogOwner)
    : QObject(list)
    , m_list(list)
    , m_services(std::move(services))
    , m_dialogOwner(dialogOwner)
{
    if (!m_services.cursorPos) {
        // Wayland tells no program where its window is, nor where the pointer is outside it:
        // the height is the pointer's as if the window stood centred, where it asked to be.
        if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
            m_services.cursorPos = [this] { return centredScreenPosition(); };
        else
            m_services.cursorPos = [] { return QCursor::pos(); };
    }
}

QPoint ImageListHandlers::centredScreenPosition() const
{
    const QWidget* window = m_list->window();
    const QScreen* screen = window->screen();
    const QSize area = screen ? screen->size() : window->frameGeometry().size();
    const QSize outer = window->frameGeometry().size();
    return QPoint((area.width() - outer.width()) / 2, (area.height() - outer.height()) / 2)
        + m_list->viewport()->mapTo(window, m_lastPointer);
}

void ImageListHandlers::attach()
{
    // The list starts no drag of its own; drops are read by the handlers, never by the
    // list's item model.
    m_list->setDragEnabled(false);
    m_list->setAcceptDrops(true);
    m_list->viewport()->setAcceptDrops(true);
    m_viewport = m_list->viewport();
    m_viewport->installEventFilter(this);
    // The list selects the pressed entry before it reports the press, so the entry click
    // sees the new selection while the button is still down.
    connect(m_list, &QAbstractItemView::pressed, this, [this] {
        if (m_pressedButton == Qt::LeftButton)
            ListView1_ItemClick();
    });
}

bool ImageListHandlers::eventFilter(QObject* watched, QEvent* event)
{
    // Compared with the viewport kept at attach(): while the list is being destroyed its
    // viewport still gets events, and the list may no longer be asked for anything.
    if (!m_viewport || watched != m_viewport)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        m_pressedButton = static_cast<QMouseEvent*>(event)->button();
        ListView1_MouseDown();
        return false;
    case QEvent::MouseMove: {
        const bool held = m_buttonHeld;
        ListView1_MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
        return held;
    }
    case QEvent::MouseButtonRelease:
        m_pressedButton = Qt::NoButton;
        ListView1_MouseUp();
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove:
        ListView1_OLEDragOver(static_cast<QDragMoveEvent*>(event));
        return true;
    case QEvent::Drop:
        ListView1_OLEDragDrop(static_cast<QDropEvent*>(event));
        return true;
    case QEvent::DragLeave:
        return true;
    default:
        return false;
    }
}

void ImageListHandlers::addFolder()
{
    Dialogs& dialogs = *m_services.dialogs;
    const QString extension = dialogs.inputBox(
        m_dialogOwner, tr("Enter file extension to load:"), AppTitle, QStringLiteral("*"));
    if (extension.isEmpty())
        return;
    const QString folder
        = AddFolder::BrowseForFolder(dialogs, m_dialogOwner, tr("Please select folder to add:"));
    if (folder.isEmpty())
        return;

    BusyPointer busy(m_services.windowPointer, m_services.setWindowPointer);
    const QStringList entries = AddFolder::FolderEntries(folder, extension);
    // The scan let the event loop run; the list may be gone by now.
    if (m_list)
        this->entries()->append(entries);
}

bool ImageListHandlers::acceptsDrop(const QDropEvent* event) const
{
    return dropsAccepted() && (event->possibleActions() & Qt::CopyAction)
        && droppedFiles(event->mimeData()).has_value();
}

void ImageListHandlers::ListView1_OLEDragOver(QDragMoveEvent* event)
{
    if (acceptsDrop(event)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

void ImageListHandlers::ListView1_OLEDragDrop(QDropEvent* event)
{
    if (!acceptsDrop(event)) {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
        return;
    }
    // Reported before the entries go in, so the source never sees a move.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    entries()->append(*droppedFiles(event->mimeData()));
}

void ImageListHandlers::ListView1_MouseDown()
{
    m_buttonHeld = true;
}

void ImageListHandlers::ListView1_ItemClick()
{
    m_listMousePointer = WindowPointer::Custom;
    // Read at every click, as the pointer file may change while the program runs.
    const QImage icon(m_services.programFolder + QStringLiteral("/drag.ico"));
    if (icon.isNull())
        m_list->unsetCursor();
    else
        m_list->setCursor(QCursor(QPixmap::fromImage(icon)));
    m_dropsAccepted = false;

    const QModelIndexList selected = m_list->selectionModel()->selectedRows();
    m_movingEntry
        = selected.isEmpty() ? QPersistentModelIndex() : QPersistentModelIndex(selected.first());
}

ImageEntries* ImageListHandlers::entries() const
{
    return m_list->entries();
}

void ImageListHandlers::ListView1_MouseMove(const QPoint& position)
{
    m_lastPointer = position;
    if (m_services.windowPointer() != WindowPointer::Busy)
        m_services.setWindowPointer(WindowPointer::Default);
    if (!m_buttonHeld || m_locked)
        return;

    const QModelIndex entryUnderPointer = m_list->indexAt(position);
    ImageEntries* list = entries();
    if (!entryUnderPointer.isValid() || !m_movingEntry.isValid())
        return;
    const int row = entryUnderPointer.row();
    const int movingRow = m_movingEntry.row();
    if (list->text(row) == list->text(movingRow))
        return;

    const QString kept = list->text(movingRow);
    list->setText(movingRow, list->text(row));
    list->setText(row, kept);

    const QModelIndex index = list->index(row);
    // Selection only: making it the current entry too would let the list scroll to it.
    m_list->selectionModel()->select(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_movingEntry = QPersistentModelIndex(index);

    const int y = m_services.cursorPos().y();
    if (y < ScrollUpBelow) {
        if (row > 0)
            m_list->scrollTo(list->index(row - 1));
    } else if (y > ScrollDownAbove) {
        if (row + 1 < list->count())
            m_list->scrollTo(list->index(row + 1));
    }
}

void ImageListHandlers::moveSelectedEntry(int step)
{
    if (m_locked || m_buttonHeld)
        return;
    const QModelIndexList selected = m_list->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    ImageEntries* list = entries();
    const int row = selected.first().row();
    const int to = row + step;
    if (to < 0 || to >= list->count())
        return;
    // The exchange of a pointer drag onto the neighbouring entry; the selection goes along
    // even where the texts are the same, so that repeated keys keep moving the entry.
    if (list->text(row) != list->text(to)) {
        const QString kept = list->text(row);
        list->setText(row, list->text(to));
        list->setText(to, kept);
    }
    const QModelIndex index = list->index(to);
    m_list->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_list->scrollTo(index);
}

void ImageListHandlers::ListView1_MouseUp()
{
    m_buttonHeld = false;
    m_listMousePointer = WindowPointer::Arrow;
    m_list->setCursor(Qt::ArrowCursor);
    m_dropsAccepted = true;
}
