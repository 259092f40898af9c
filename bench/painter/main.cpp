// SPDX-License-Identifier: MIT

// Measures how long one paint of the main window's slider takes on the GUI thread, hooked
// (style 0, white) and, for comparison, as the plain control. Run it offscreen or on a
// desktop: bench-painter [paints]
#include "background/PercentageSlider.h"
#include "background/WhiteSlider.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<QSlider> makeSlider()
{
    auto slider = std::make_unique<QSlider>();
    PercentageSlider::configure(*slider);
    return slider;
}

struct Figures
{
    double median = 0;
    double p90 = 0;
    double best = 0;
};

// Microseconds per synchronous repaint of the shown slider.
Figures measure(QSlider& slider, int paints)
{
    slider.show();
    if (!QTest::qWaitForWindowExposed(&slider))
        std::fprintf(stderr, "bench-painter: the slider was never exposed\n");
    for (int i = 0; i < 50; ++i) // warm the style's caches
        slider.repaint();

    std::vector<double> times;
    times.reserve(size_t(paints));
    QElapsedTimer clock;
    for (int i = 0; i < paints; ++i) {
        clock.start();
        slider.repaint();
        times.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    slider.hide();
    std::sort(times.begin(), times.end());
    return { times[times.size() / 2], times[times.size() * 9 / 10], times.front() };
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int paints = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;

    auto plain = makeSlider();
    const Figures own = measure(*plain, paints);

    auto hooked = makeSlider();
    PercentageSlider::paintWhite(*hooked);
    const Figures white = measure(*hooked, paints);

    auto gradient = makeSlider();
    WhiteSlider::SetStyle(gradient.get(), 2);
    gradient->setProperty(WhiteSlider::PropGradientColor1, 0xFFFFFFu);
    gradient->setProperty(WhiteSlider::PropGradientColor2, 0xC08040u);
    WhiteSlider::HookWindow(gradient.get());
    const Figures shaded = measure(*gradient, paints);

    std::printf("platform %s, %d paints of a 425 x 41 slider, microseconds per paint\n",
        qPrintable(QGuiApplication::platformName()), paints);
    std::printf("%-22s median %8.1f  p90 %8.1f  best %8.1f\n", "plain slider", own.median, own.p90,
        own.best);
    std::printf("%-22s median %8.1f  p90 %8.1f  best %8.1f\n", "hooked, style 0 white",
        white.median, white.p90, white.best);
    std::printf("%-22s median %8.1f  p90 %8.1f  best %8.1f\n", "hooked, style 2", shaded.median,
        shaded.p90, shaded.best);
    return 0;
}
