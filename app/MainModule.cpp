// SPDX-License-Identifier: MIT

#include "app/MainModule.h"

#include "runtime/Runtime.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>
#include <exception>

namespace {

void moveToCentre(QWidget& window)
{
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize outer = window.frameGeometry().size();
    // Half the difference in single precision, truncated toward zero (not floored): a window
    // 3 pixels wider than the screen starts at -1, not -2.
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
    // Whatever stops the date from being read only means "no": the caller is never told why.
    try {
        Runtime::FileDateTime(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void CenterForm(QWidget& window)
{
    moveToCentre(window);
    if (!window.isVisible()
        && !window.findChild<QObject*>(QStringLiteral("FrameCentring"), Qt::FindDirectChildrenOnly))
        new FrameCentring(window);
}

} // namespace Main
