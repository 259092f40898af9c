// SPDX-License-Identifier: MIT

#pragma once

#include "filelist/widgets/WindowPointer.h"
#include "runtime/Dialogs.h"

#include <QObject>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QDragMoveEvent;
class QDropEvent;
class ImageEntries;
class ImageListView;
class QMimeData;
class QWidget;

namespace AddFolder {

// Shows the folder chooser titled `title` over `owner` and returns the chosen folder's path;
// "" when the user cancels or the choice is not a folder of the file system.
QString BrowseForFolder(Dialogs& dialogs, QWidget* owner, const QString& title);

} // namespace AddFolder

// Shows the busy pointer (11) through `set` while it lives. At the end the pointer goes back
// to the default (0), or stays busy when it was busy already (a scan started while another
// one yields to the event loop must not end the outer scan's hourglass).
class BusyPointer
{
public:
    BusyPointer(const std::function<int()>& get, std::function<void(int)> set);
    ~BusyPointer();
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    std::function<void(int)> m_set;
    bool m_wasBusy;
};

// The full local paths of dropped data, in the drag source's order; nullopt unless the data
// is a non-empty list of local file URLs and nothing else.
std::optional<QStringList> droppedFiles(const QMimeData* data);

// The image list's handlers for adding a folder, dropping files and moving entries with the
// pointer, on the window's list `ListView1` (an ImageListView). A handler is named
// Control_Event, after its control and event (ListView1_MouseDown). attach() wires them to
// the list's events; they may also be called directly.
class ImageListHandlers : public QObject
{
    Q_OBJECT

public:
    // What the handlers reach outside the list; tests replace each of these.
    struct Services
    {
        std::shared_ptr<Dialogs> dialogs; // prompt and folder chooser
        std::function<int()> windowPointer; // the window's MousePointer
        std::function<void(int)> setWindowPointer; // sets the window's MousePointer
        // The pointer's position on the screen, logical pixels; empty: QCursor::pos(), or
        // under Wayland, which tells neither, the last move's as if the window were centred.
        std::function<QPoint()> cursorPos;
        QString programFolder; // holds drag.ico
    };

    // `list` and `dialogOwner` (the window, parent of the dialogs) must outlive the handlers;
    // the object is a child of `list`.
    ImageListHandlers(ImageListView* list, Services services, QWidget* dialogOwner);

    // Makes the list a drop target for file lists, and delivers its mouse and drag events
    // to the handlers below: a press to MouseDown, then (left button on an entry, once the
    // list has selected it) to ItemClick; moves to MouseMove, swallowed while a button is
    // held so that the list's own drag selection does not fight the exchange; releases to
    // MouseUp. A double click also counts as a press and is passed on.
    void attach();

    // The work of Check3's click after the button convention: asks for the extension (default
    // "*") and the folder, then appends every matching file of the folder tree to the list,
    // with the busy pointer shown during the scan. Cancel at either question changes nothing.
    void addFolder();

    // Accepts (as a copy, never a move) data that droppedFiles() reads and whose source
    // allows a copy; refuses anything else, and everything while drops are switched off.
    void ListView1_OLEDragOver(QDragMoveEvent* event);
    // Appends every dropped path, in the source's order, at the end of the list, under the
    // same conditions; reports a copy to the source.
    void ListView1_OLEDragDrop(QDropEvent* event);

    // Any mouse button pressed in the list.
    void ListView1_MouseDown();
    // An entry clicked: the selected entry becomes the moving entry, the list shows drag.ico
    // (the default pointer when it cannot be loaded), drops are refused until the release.
    void ListView1_ItemClick();
    // The pointer moved to `position` (viewport coordinates). Outside the busy state the
    // window pointer becomes the default. With a button held, an entry under the pointer
    // whose text differs from the moving entry's exchanges texts with it, is selected and
    // becomes the moving entry; then, by the pointer's screen height, the entry above (height
    // below 305) or below (above 364) is scrolled into view.
    void ListView1_MouseMove(const QPoint& position);
    // Any mouse button released: the list shows the arrow and accepts drops again.
    void ListView1_MouseUp();

    // Alt+Up (`step` -1) and Alt+Down (+1): the selected entry and its neighbour exchange
    // texts as in a pointer drag, and the moved entry stays selected, current and in view.
    // Nothing while locked or dragging, with no entry selected, or at either end.
    void moveSelectedEntry(int step);

    // While locked (a conversion run), moves exchange nothing and drops are refused.
    void setLocked(bool locked) { m_locked = locked; }

    bool ButtonHeld() const { return m_buttonHeld; }
    // The entry being moved; invalid before the first entry click and after it was removed.
    QModelIndex MovingEntry() const { return m_movingEntry; }
    // The list's own pointer: 0 until the first entry click, 99 (drag.ico) from an entry
    // click, 1 (arrow) from a release.
    int listMousePointer() const { return m_listMousePointer; }
    bool dropsAccepted() const { return m_dropsAccepted && !m_locked; }

    // The screen heights, in logical pixels from the top, above and below which an exchange
    // scrolls the list by one entry.
    static constexpr int ScrollUpBelow = 305;
    static constexpr int ScrollDownAbove = 364;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ImageEntries* entries() const;
    QPoint centredScreenPosition() const;
    bool acceptsDrop(const QDropEvent* event) const;

    QPointer<ImageListView> m_list;
    QPointer<QWidget> m_viewport; // the list's viewport, whose events attach() filters
    Services m_services;
    QPointer<QWidget> m_dialogOwner;
    bool m_buttonHeld = false;
    // A persistent index, not an item pointer: it turns invalid when its entry is removed,
    // so a removed entry's text is never written back.
    QPersistentModelIndex m_movingEntry;
    int m_listMousePointer = 0;
    bool m_dropsAccepted = true;
    bool m_locked = false;
    Qt::MouseButton m_pressedButton = Qt::NoButton;
    QPoint m_lastPointer; // the last move's position, viewport coordinates
};
