// SPDX-License-Identifier: MIT

// How live the window stays during a conversion run: opens the window (offscreen is fine),
// lists the files, presses "Convert to Thumbnail" and measures, with a 5 ms probe timer,
// the gaps between turns of the event loop until the run has ended. Dialogs are answered
// at once (the closing "done" included), so nothing waits for a person.
//
//   bench-live PERCENT FILE...
// Prints: entries, run seconds, probe turns, the worst gap and the 99th percentile (ms).

#include "app/Form1.h"
#include "app/PictureButton.h"
#include "bench/common/ListDialogs.h"
#include "filelist/widgets/ImageListView.h"
#include "runtime/Runtime.h"
#include "tests/common/QuietServices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fputs("usage: bench-live PERCENT FILE...\n", stderr);
        return 2;
    }
    auto dialogs = std::make_shared<ListDialogs>();
    for (int i = 2; i < argc; ++i)
        dialogs->files << QString::fromLocal8Bit(argv[i]);

    Form1 form(quietServices(dialogs, Runtime::AppPath() + QStringLiteral("/../bin")));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    form.Slider1->setValue(QString::fromLocal8Bit(argv[1]).toInt());
    QTest::mouseClick(form.Check1, Qt::LeftButton);

    std::vector<double> gaps;
    QElapsedTimer sinceLast;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        gaps.push_back(double(sinceLast.nsecsElapsed()) / 1e6);
        sinceLast.restart();
    });
    QSignalSpy finished(&form, &Form1::conversionFinished);
    QElapsedTimer run;
    run.start();
    sinceLast.start();
    probe.start();
    QTest::mouseClick(form.Check2, Qt::LeftButton);
    if (!finished.wait(600000))
        return 1;
    const double seconds = double(run.nsecsElapsed()) / 1e9;
    probe.stop();

    std::sort(gaps.begin(), gaps.end());
    const double worst = gaps.empty() ? 0 : gaps.back();
    const double p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    std::printf("entries %d run %.3f s turns %zu worst %.1f ms p99 %.1f ms\n",
        form.ListView1->model()->rowCount(), seconds, gaps.size(), worst, p99);
    return 0;
}
