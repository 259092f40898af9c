// SPDX-License-Identifier: MIT

#include "app/MainModule.h"

#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace {

void moveToCentre(QWidget& window)
{
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize outer = window.frameGeometry().size();
    // Single precision and truncation toward zero, as the design computes it.
    const float left = float(area.width() - outer.width()) / 2.0f;
    const float top = float(area.height() - outer.height()) / 2.0f;
    window.move(area.x() + int(std::trunc(left)), area.y() + int(std::trunc(top)));
}

// Before the window is shown its frame is only the client area: the title bar and borders
// are known once the window manager has framed it. This centres the window again, once,
// when the frame first turns out larger than what was centred.
class FrameCentring : public QObject
{
public:
    explicit FrameCentring(QWidget& window)
        : QObject(&window)
        , m_window(window)
        , m_centred(window.frameGeometry().size())
    {
        setObjectName(QStringLiteral("FrameCentring"));
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (watched == &m_window && m_window.isVisible()
            && (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Show)
            && m_window.frameGeometry().size() != m_centred) {
            m_window.removeEventFilter(this);
            deleteLater();
            moveToCentre(m_window);
        }
        return false;
    }

private:
    QWidget& m_window;
    QSize m_centred;
};

} // namespace

namespace Main {

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

void CenterForm(QWidget& window)
{
    moveToCentre(window);
    if (!window.isVisible()
        && !window.findChild<QObject*>(QStringLiteral("FrameCentring"), Qt::FindDirectChildrenOnly))
        new FrameCentring(window);
}

} // namespace Main
