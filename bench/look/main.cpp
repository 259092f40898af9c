// SPDX-License-Identifier: MIT

// The window's look while its list is filled, selected, scrolled, paged and emptied entry by
// entry, so that two builds can be compared pixel by pixel after a change to the list:
//
//   bench-look PREFIX
// writes PREFIX-<step>.png (the window drawn anew) and PREFIX-<step>-screen.png (what the
// window's backing store holds after the updates the step made) for every step. Compare two
// builds with ImageMagick: compare -metric AE old-<step>.png new-<step>.png /dev/null

#include "app/Form1.h"
#include "app/PictureButton.h"
#include "bench/common/ListDialogs.h"
#include "filelist/widgets/ImageEntries.h"
#include "filelist/widgets/ImageListView.h"
#include "tests/common/QuietServices.h"

#include <QApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <functional>

namespace {

struct Step
{
    const char* name;
    std::function<void(Form1&, ImageListView&)> act;
};

void removeAt(ImageListView& list, int row)
{
    list.entries()->removeAt(row < 0 ? list.entries()->count() + row : row);
}

QList<Step> steps()
{
    using L = ImageListView;
    return {
        { "empty", [](Form1&, L&) {} },
        { "filled", [](Form1& form, L&) { QTest::mouseClick(form.Check1, Qt::LeftButton); } },
        { "selected", [](Form1&, L& list) { list.setCurrentIndex(list.entries()->index(2)); } },
        { "focused", [](Form1&, L& list) { list.setFocus(); } },
        { "bottom",
            [](Form1&, L& list) {
                list.setCurrentIndex(list.entries()->index(36));
                list.scrollToBottom();
            } },
        { "paged-up",
            [](Form1&, L& list) {
                QTest::keyClick(&list, Qt::Key_PageUp);
                QTest::keyClick(&list, Qt::Key_Up);
            } },
        { "removed-above-current",
            [](Form1&, L& list) {
                list.scrollToTop();
                list.setCurrentIndex(list.entries()->index(2));
                removeAt(list, 0);
            } },
        { "removed-current", [](Form1&, L& list) { removeAt(list, 1); } },
        { "removed-below", [](Form1&, L& list) { removeAt(list, 4); } },
        { "removed-out-of-view",
            [](Form1&, L& list) {
                list.scrollTo(list.entries()->index(20), QAbstractItemView::PositionAtTop);
                removeAt(list, 3);
            } },
        { "removed-in-view", [](Form1&, L& list) { removeAt(list, 21); } },
        { "removed-last",
            [](Form1&, L& list) {
                list.scrollToBottom();
                removeAt(list, -1);
            } },
        { "removed-at-bottom", [](Form1&, L& list) { removeAt(list, -3); } },
        { "removed-most",
            [](Form1&, L& list) {
                for (int i = 0; i < 30; ++i)
                    removeAt(list, 0);
            } },
        { "wide-column",
            [](Form1&, L& list) {
                list.setColumnWidth(0, 600);
                list.horizontalScrollBar()->setValue(100);
            } },
    };
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: bench-look PREFIX\n", stderr);
        return 2;
    }
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    auto dialogs = std::make_shared<ListDialogs>();
    for (int i = 0; i < 40; ++i)
        dialogs->files << QStringLiteral("/home/ann/Pictures/Holidays 2024/Beach/IMG_%1 gjqy.jpg")
                              .arg(1000 + i);
    Form1 form(quietServices(dialogs));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    for (const Step& step : steps()) {
        step.act(form, *form.ListView1);
        // Time for delayed layouts and repaints to run, so that settled states are compared.
        QTest::qWait(30);
        const QString name = prefix + QLatin1Char('-') + QLatin1String(step.name);
        form.grab().save(name + QStringLiteral(".png"));
        form.screen()->grabWindow(form.winId()).save(name + QStringLiteral("-screen.png"));
    }
    return 0;
}
