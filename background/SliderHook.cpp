// SPDX-License-Identifier: MIT

#include "background/SliderHook.h"

#include "background/PainterProperties.h"
#include "runtime/Logging.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QTimerEvent>
#include <QWidget>
#include <exception>

namespace WhiteSlider {

namespace {

constexpr qint32 StyleSolid = 0;
constexpr qint32 StylePicture = 1;
constexpr qint32 StyleGradient = 2;
constexpr qint32 StyleFading = 3;

QRgb toRgb(quint32 color)
{
    return qRgb(int(color & 0xFF), int(color >> 8 & 0xFF), int(color >> 16 & 0xFF));
}

// Runs one step of a paint or fade; a failure skips that step only, so that nothing is
// ever thrown into the event loop. `catch (...)` is needed for that, so it says what it caught.
template <typename Step> void skipOnFailure(Step&& step) noexcept
{
    try {
        step();
    } catch (const std::exception& error) {
        qCWarning(lcBackground, "A step of the slider's background was skipped: %s", error.what());
    } catch (...) {
        qCWarning(lcBackground,
            "A step of the slider's background was skipped: an exception of unknown type");
    }
}

QImage pictureOf(const QWidget* window)
{
    const QVariant value = window->property(PropPicture);
    if (value.metaType() == QMetaType::fromType<QImage>())
        return value.value<QImage>();
    if (value.metaType() == QMetaType::fromType<QPixmap>())
        return value.value<QPixmap>().toImage();
    return {};
}

} // namespace

SliderHook::SliderHook(QWidget* window)
    : QObject(window)
    , m_window(window)
{
    setObjectName(QStringLiteral("WhiteSliderHook"));
    window->installEventFilter(this);
}

SliderHook::~SliderHook()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

bool SliderHook::eventFilter(QObject* watched, QEvent* event)
{
    // The control's paint into our image must reach the control itself.
    if (watched != m_window || m_rendering)
        return false;

    skipOnFailure([this] { restartFadeTimerIfFading(); });
    switch (event->type()) {
    case QEvent::Paint:
        paint();
        return true;
    case QEvent::Timer:
        // The control's own timers (click-and-hold paging, animations) go on to it.
        if (readProperty(m_window, PropStyle) != StyleFading)
            m_fadeTimer.stop();
        return false;
    default:
        return false;
    }
}

void SliderHook::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_fadeTimer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    if (!m_window)
        return;
    skipOnFailure([this] { restartFadeTimerIfFading(); });
    if (readProperty(m_window, PropStyle) == StyleFading)
        fadeStep();
    else
        m_fadeTimer.stop();
}

void SliderHook::restartFadeTimerIfFading()
{
    // Every event of the control starts the period anew: the fade moves on only after a
    // whole period in which the control had no event.
    if (readProperty(m_window, PropStyle) == StyleFading)
        m_fadeTimer.start(FadeTimerPeriodMs, Qt::PreciseTimer, this);
}

void SliderHook::loadGradientColors()
{
    m_gradientColor1 = quint32(readProperty(m_window, PropGradientColor1));
    m_gradientColor2 = quint32(readProperty(m_window, PropGradientColor2));
}

void SliderHook::fadeStep() noexcept
{
    StepFade(m_fade, readProperty(m_window, PropFadeTime));
    loadGradientColors();
    // A shift that overflows leaves that colour as loaded.
    skipOnFailure([this] { m_gradientColor1 = ShiftColor(m_gradientColor1, m_fade.level); });
    skipOnFailure([this] { m_gradientColor2 = ShiftColor(m_gradientColor2, m_fade.level); });
    m_window->update();
}

void SliderHook::fillBackground(QImage& back, qint32 style)
{
    switch (style) {
    case StyleSolid:
        back.fill(toRgb(quint32(readProperty(m_window, PropSolidColor))));
        break;
    case StylePicture: {
        const QImage picture = pictureOf(m_window);
        if (!picture.isNull()) {
            // The brush tiles from the surface's origin.
            QPainter painter(&back);
            painter.fillRect(QRectF(QPointF(0, 0), back.deviceIndependentSize()), QBrush(picture));
        }
        break;
    }
    case StyleGradient:
    case StyleFading:
        FillGradient(back, 0, 0, back.width(), back.height(), m_gradientColor1, m_gradientColor2,
            m_gradientDir);
        break;
    default:
        // No fill for an unknown style: the fresh surface stays black.
        break;
    }
}

void SliderHook::paint() noexcept
{
    QWidget* window = m_window;
    const qreal dpr = window->devicePixelRatioF();
    const QSize size = (QSizeF(window->size()) * dpr).toSize();
    if (size.isEmpty())
        return;

    const qint32 style = readProperty(window, PropStyle);
    skipOnFailure([&] {
        if (style == StyleGradient)
            loadGradientColors();
        if (style == StyleGradient || style == StyleFading)
            m_gradientDir = readProperty(window, PropGradientDir);
    });

    const QRgb face = toRgb(TranslateColor(ButtonFace));

    // The control draws itself on a button-face ground, as a native control erases its
    // background, so every pixel it leaves alone is found by the mask.
    QImage control(size, QImage::Format_RGB32);
    control.setDevicePixelRatio(dpr);
    control.fill(face);
    // The painter on the window is opened first: it binds to the device the window is being
    // painted to (screen buffer or grab), which the nested render below resets. The nested
    // render is a paint inside our paint; the in-paint flag is lifted for it so that Qt does
    // not take it for a runaway repaint, and is set again for the rest of this paint.
    QPainter painter(window);
    skipOnFailure([&] {
        const QScopedValueRollback rendering(m_rendering, true);
        window->setAttribute(Qt::WA_WState_InPaintEvent, false);
        const auto restore
            = qScopeGuard([window] { window->setAttribute(Qt::WA_WState_InPaintEvent, true); });
        window->render(&control, QPoint(), QRegion(), QWidget::DrawChildren);
    });

    QImage back(size, QImage::Format_RGB32);
    if (control.isNull() || back.isNull())
        return; // out of memory: better an unpainted control than a crash
    back.setDevicePixelRatio(dpr);
    back.fill(Qt::black);
    skipOnFailure([&] { fillBackground(back, style); });

    // Button-face pixels of the control show the fill, every other pixel the control itself.
    const QRgb faceRgb = face & RGB_MASK;
    for (int y = 0; y < size.height(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(control.constScanLine(y));
        auto* to = reinterpret_cast<QRgb*>(back.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            if ((from[x] & RGB_MASK) != faceRgb)
                to[x] = from[x];
        }
    }

    painter.drawImage(QPointF(0, 0), back);
}

} // namespace WhiteSlider
