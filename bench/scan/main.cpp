// SPDX-License-Identifier: MIT

// The folder scan of "Add All File(s) In Folder" over a big tree, and the window's list
// with that many entries: appending them as the open dialog's handler does, scrolling
// through, and removing entries from the top as the double click does.
//
//   bench-scan FOLDER [EXTENSION]
// Prints seconds for each step.

#include "app/Form1.h"
#include "app/PictureButton.h"
#include "bench/common/ListDialogs.h"
#include "filelist/AddFolder.h"
#include "filelist/widgets/ImageEntries.h"
#include "filelist/widgets/ImageListView.h"
#include "tests/common/QuietServices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>
#include <cstdio>

namespace {

double secondsOf(QElapsedTimer& t)
{
    const double s = double(t.nsecsElapsed()) / 1e9;
    t.restart();
    return s;
}

// Each step is a function of its own, not inlined, so that an instruction count can be
// taken for it alone: valgrind --tool=callgrind --toggle-collect='*removeFromTop*' ...
Q_NEVER_INLINE void appendAll(Form1& form)
{
    QTest::mouseClick(form.Check1, Qt::LeftButton);
    QApplication::processEvents();
}

Q_NEVER_INLINE void scrollThrough(ImageListView* list, int steps)
{
    QScrollBar* bar = list->verticalScrollBar();
    for (int i = 0; i <= steps; ++i) {
        bar->setValue(int(qint64(bar->maximum()) * i / steps));
        list->viewport()->repaint();
    }
}

Q_NEVER_INLINE void removeFromTop(ImageListView* list, int removals)
{
    ImageEntries* model = list->entries();
    for (int i = 0; i < removals && model->count() > 0; ++i) {
        list->setCurrentIndex(model->index(0));
        model->removeAt(0);
        QApplication::processEvents();
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: bench-scan FOLDER [EXTENSION]\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString extension = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("jpg");

    QElapsedTimer t;
    t.start();
    const QStringList entries = AddFolder::FolderEntries(folder, extension);
    std::printf("scan %.3f s entries %lld\n", secondsOf(t), qlonglong(entries.size()));

    auto dialogs = std::make_shared<ListDialogs>();
    dialogs->files = entries;
    Form1 form(quietServices(dialogs));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    ImageListView* list = form.ListView1;
    ImageEntries* model = form.ListView1->entries();

    t.restart();
    appendAll(form);
    std::printf("append %.3f s entries %d\n", secondsOf(t), model->count());

    const int steps = 200;
    scrollThrough(list, steps);
    std::printf("scroll %.3f s (%d pages painted)\n", secondsOf(t), steps + 1);

    const int removals = 1000;
    removeFromTop(list, removals);
    std::printf("remove %.3f s (%d entries from the top, one by one)\n", secondsOf(t), removals);

    const int middle = model->count() / 2;
    list->scrollTo(model->index(middle));
    list->viewport()->repaint();
    model->removeAt(middle);
    QApplication::processEvents();
    std::printf("remove-middle %.3f s\n", secondsOf(t));
    return 0;
}
