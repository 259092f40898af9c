// SPDX-License-Identifier: MIT

#pragma once

#include "background/WhiteSlider.h"

#include <QBasicTimer>
#include <QObject>
#include <QPointer>

class QImage;
class QWidget;

namespace WhiteSlider {

// The painter installed by HookWindow: an event filter on one control, owned by that control.
// It takes over the control's paint events, lets the control draw itself into an off-screen
// image and shows that image with every button-face pixel replaced by the fill of the
// control's style. All other events, the control's own timers included, go on to the control.
class SliderHook : public QObject
{
    Q_OBJECT

public:
    explicit SliderHook(QWidget* window);
    ~SliderHook() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    // The fade timer belongs to this object, so its ticks never reach the control.
    void timerEvent(QTimerEvent* event) override;

private:
    void restartFadeTimerIfFading();
    void paint() noexcept;
    void fillBackground(QImage& back, qint32 style);
    void fadeStep() noexcept;
    void loadGradientColors();

    QPointer<QWidget> m_window;
    QBasicTimer m_fadeTimer;
    bool m_rendering = false; // the control is painting itself into our image

    // Working state of the gradient styles: what the next gradient paint uses.
    quint32 m_gradientColor1 = 0;
    quint32 m_gradientColor2 = 0;
    qint32 m_gradientDir = 0;
    FadeState m_fade;
};

} // namespace WhiteSlider
