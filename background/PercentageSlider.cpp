// SPDX-License-Identifier: MIT

#include "background/PercentageSlider.h"

#include "background/WhiteSlider.h"

#include <QSlider>

namespace PercentageSlider {

void configure(QSlider& slider)
{
    slider.setOrientation(Qt::Horizontal);
    slider.resize(Size);
    slider.setRange(1, 100);
    slider.setValue(40);
    slider.setPageStep(5);
    slider.setSingleStep(1);
    slider.setTickPosition(QSlider::TicksBelow);
    slider.setTickInterval(1);
}

void paintWhite(QSlider& slider)
{
    WhiteSlider::SetStyle(&slider, 0);
    WhiteSlider::SetSolidColor(&slider, 0xFFFFFF);
    WhiteSlider::HookWindow(&slider);
}

} // namespace PercentageSlider
