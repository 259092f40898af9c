// SPDX-License-Identifier: MIT

// Mouse events travel through the window as real ones do, so hit-testing and propagation count.
#define QTEST_QPA_MOUSE_HANDLING
#include "app/Form1.h"
#include "app/MainModule.h"
#include "app/PictureButton.h"
#include "app/QtDialogs.h"
#include "filelist/widgets/ImageListView.h"
#include "runtime/Runtime.h"
#include "tests/common/FakeDialogs.h"
#include "tests/common/ImageFixtures.h"
#include "tests/common/QuietServices.h"
#include "tests/common/TestUtils.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

struct Harness
{
    std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
    QStringList launched;
    int endCalls = 0;
    float draw = 0.5f;

    Form1::Services services(const QString& programFolder)
    {
        Form1::Services s = quietServices(dialogs, programFolder);
        s.rnd = [this] { return draw; };
        s.launch = [this](const QString& commandLine) { launched << commandLine; };
        s.endProgram = [this] { ++endCalls; };
        return s;
    }
};

QString settingsFile()
{
    return Runtime::settingsFilePath(QStringLiteral("Quorvane"));
}

QString storedPercentage()
{
    return Runtime::GetSetting(QStringLiteral("Quorvane"), QStringLiteral("Pictelle"),
        QStringLiteral("SliderValue"), QStringLiteral("<missing>"));
}

void storePercentage(const QString& text)
{
    QFile::remove(settingsFile());
    if (!text.isNull())
        Runtime::SaveSetting(QStringLiteral("Quorvane"), QStringLiteral("Pictelle"),
            QStringLiteral("SliderValue"), text);
}

QStringList entries(const Form1& form)
{
    QStringList out;
    const QAbstractItemModel* model = form.ListView1->model();
    for (int i = 0; i < model->rowCount(); ++i)
        out << model->index(i, 0).data().toString();
    return out;
}

// Qt drops a move that does not change the pointer's position, so step onto `pos` from a
// neighbouring pixel of the same control.
void moveOnto(QWidget* widget, QPoint pos)
{
    QTest::mouseMove(widget, pos - QPoint(1, 1));
    QTest::mouseMove(widget, pos);
}

void writeImage(const QString& path, int width, int height, const char* format)
{
    QVERIFY2(ImageFixtures::gradient(width, height).save(path, format), qPrintable(path));
}

} // namespace

class Form1Test : public QObject
{
    Q_OBJECT

private slots:
    void init() { storePercentage(QString()); }

    void startsAsDesigned();
    void centresOnWholeScreen_data();
    void centresOnWholeScreen();
    void handPointerFromProgramFolder_data();
    void handPointerFromProgramFolder();
    void webPageOnlyOnSeven_data();
    void webPageOnlyOnSeven();
    void restoresPercentage_data();
    void restoresPercentage();
    void sliderMoveIsStoredAtOnce();
    void addDialog_data();
    void addDialog();
    void dialogFilterIgnoresCase_data();
    void dialogFilterIgnoresCase();
    void doubleClickRemoves_data();
    void doubleClickRemoves();
    void listKeys_data();
    void listKeys();
    void buttonKeys_data();
    void buttonKeys();
    void pointerRules_data();
    void pointerRules();
    void folderButtonAndDropFeedTheList();
    void conversionFromWindow();
    void failedEntryKeepsWindow_data();
    void failedEntryKeepsWindow();

private:
    QString binDir() const { return TestUtils::binDir(); }
};

void Form1Test::startsAsDesigned()
{
    Harness h;
    Form1 form(h.services(binDir()));
    QCOMPARE(form.windowTitle(), QStringLiteral("Pictelle"));
    QCOMPARE(form.ListView1->model()->columnCount(), 1);
    QCOMPARE(form.ListView1->model()->headerData(0, Qt::Horizontal).toString(),
        QStringLiteral("Image File(s)"));
    QCOMPARE(form.ListView1->model()->rowCount(), 0);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(444, 321));
    QCOMPARE(form.focusWidget(), form.Command1);
    // Command1 holds the focus but lies wholly outside the client area.
    QVERIFY(!form.rect().intersects(form.Command1->geometry()));
    for (QWidget* visible : { static_cast<QWidget*>(form.Check1),
             static_cast<QWidget*>(form.Check2), static_cast<QWidget*>(form.Check3),
             static_cast<QWidget*>(form.ListView1), static_cast<QWidget*>(form.Slider1),
             static_cast<QWidget*>(form.ProgressBar1), static_cast<QWidget*>(form.Label1) })
        QVERIFY2(form.rect().contains(visible->geometry()), qPrintable(visible->objectName()));
    QVERIFY(h.dialogs->messages.isEmpty());
    QCOMPARE(h.endCalls, 0);

    // Each button shows its drawn picture, and the window's icon is wholly transparent.
    for (PictureButton* button : { form.Check1, form.Check2, form.Check3 }) {
        const QImage picture = button->icon().pixmap(32, 32).toImage();
        const auto opaque = [&picture] {
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x)
                    if (qAlpha(picture.pixel(x, y)) == 255)
                        return true;
            return false;
        };
        QVERIFY2(!picture.isNull() && opaque(), qPrintable(button->objectName()));
    }
    const QImage icon = form.windowIcon().pixmap(32, 32).toImage();
    QCOMPARE(icon.size(), QSize(32, 32));
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            QCOMPARE(qAlpha(icon.pixel(x, y)), 0);

    // Tab walks the controls in the designed order, starting from the hidden Command1.
    QList<QWidget*> order;
    QWidget* w = form.Command1;
    do {
        if (w->focusPolicy() & Qt::TabFocus && w->isVisibleTo(&form))
            order << w;
        w = w->nextInFocusChain();
    } while (w != form.Command1 && order.size() < 20);
    const QList<QWidget*> designed
        = { form.Command1, form.Check1, form.Check2, form.ListView1, form.Check3, form.Slider1 };
    QCOMPARE(order, designed);
}

void Form1Test::centresOnWholeScreen_data()
{
    QTest::addColumn<QSize>("size");
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    QTest::newRow("designed window") << QSize(444, 321);
    QTest::newRow("wider than the screen") << QSize(screen.width() + 300, 200);
    QTest::newRow("taller than the screen") << QSize(200, screen.height() + 101);
}

void Form1Test::centresOnWholeScreen()
{
    QFETCH(QSize, size);
    QWidget window;
    window.resize(size);
    Main::CenterForm(window);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect frame = window.frameGeometry();
    // Equal margins on both sides, to the pixel, negative when the window is larger.
    QVERIFY(qAbs((frame.left() - screen.left()) - (screen.right() - frame.right())) <= 1);
    QVERIFY(qAbs((frame.top() - screen.top()) - (screen.bottom() - frame.bottom())) <= 1);
    if (size.width() > screen.width())
        QVERIFY(frame.left() < screen.left());
    if (size.height() > screen.height())
        QVERIFY(frame.top() < screen.top());
}

void Form1Test::handPointerFromProgramFolder_data()
{
    QTest::addColumn<QString>("cursorFile"); // "copy", "none", "garbage", "folder"
    QTest::addColumn<bool>("expectHand");
    QTest::newRow("drawn hand present") << "copy" << true;
    QTest::newRow("no HAND-M.CUR") << "none" << false;
    QTest::newRow("damaged HAND-M.CUR") << "garbage" << false;
    QTest::newRow("folder named HAND-M.CUR") << "folder" << false;
}

void Form1Test::handPointerFromProgramFolder()
{
    QFETCH(QString, cursorFile);
    QFETCH(bool, expectHand);
    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("HAND-M.CUR"));
    if (cursorFile == QLatin1String("copy"))
        QVERIFY(QFile::copy(binDir() + QStringLiteral("/HAND-M.CUR"), target));
    else if (cursorFile == QLatin1String("garbage")) {
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a cursor at all");
    } else if (cursorFile == QLatin1String("folder"))
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("HAND-M.CUR")));

    Harness h;
    Form1 form(h.services(folder.path()));
    QCOMPARE(form.hasMouseIcon(), expectHand);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    moveOnto(form.Check2, form.Check2->rect().center());
    // The buttons ask for the custom pointer either way; without a hand it shows the arrow.
    QTRY_COMPARE(form.MousePointer(), 99);
    QCOMPARE(form.cursor().shape(), expectHand ? Qt::BitmapCursor : Qt::ArrowCursor);
    if (expectHand) {
        const QPixmap hand = form.cursor().pixmap();
        QCOMPARE(hand.size(), QSize(32, 32));
        // The hot spot is the fingertip: an opaque pixel in the picture's top rows.
        const QPoint hot = form.cursor().hotSpot();
        QVERIFY(hot.y() < 8);
        QVERIFY(qAlpha(hand.toImage().pixel(hot)) > 0);
    }
}

void Form1Test::webPageOnlyOnSeven_data()
{
    QTest::addColumn<float>("draw");
    QTest::addColumn<bool>("opens");
    QTest::newRow("draw 7") << 0.0605f << true;
    QTest::newRow("draw 6") << 0.0599f << false;
    QTest::newRow("draw 8") << 0.0701f << false;
    QTest::newRow("draw 1") << 0.0f << false;
    QTest::newRow("draw 100") << 0.9999f << false;
}

void Form1Test::webPageOnlyOnSeven()
{
    QFETCH(float, draw);
    QFETCH(bool, opens);
    Harness h;
    h.draw = draw;
    Form1 form(h.services(binDir()));
    QCOMPARE(h.launched.size(), opens ? 1 : 0);
    if (opens) {
        const QStringList args = Runtime::splitCommandLine(h.launched.first());
        QCOMPARE(args, QStringList({ QStringLiteral("xdg-open"), QLatin1String(Form1::WebPage) }));
    }
}

void Form1Test::restoresPercentage_data()
{
    QTest::addColumn<QString>("stored"); // null: no entry
    QTest::addColumn<int>("expected");
    QTest::newRow("first run") << QString() << 40;
    QTest::newRow("100") << "100" << 100;
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("73") << "73" << 73;
    QTest::newRow("abc") << "abc" << 40;
    QTest::newRow("0") << "0" << 40;
    QTest::newRow("101") << "101" << 40;
    QTest::newRow("-5") << "-5" << 40;
    QTest::newRow("4.5") << "4.5" << 40;
    QTest::newRow("empty") << "" << 40;
}

void Form1Test::restoresPercentage()
{
    QFETCH(QString, stored);
    QFETCH(int, expected);
    storePercentage(stored);
    Harness h;
    Form1 form(h.services(binDir()));
    QCOMPARE(form.Slider1->value(), expected);
    if (stored.isNull()) // a first run writes nothing until the slider moves
        QVERIFY(!QFile::exists(settingsFile()));
    QVERIFY(h.dialogs->messages.isEmpty());
}

void Form1Test::sliderMoveIsStoredAtOnce()
{
    Harness h;
    {
        Form1 form(h.services(binDir()));
        QCOMPARE(form.Slider1->value(), 40);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.Slider1->setFocus();
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(form.Slider1, Qt::Key_Right);
        QCOMPARE(form.Slider1->value(), 45);
        // On disk before the window goes away: closing ends the program at once.
        QCOMPARE(storedPercentage(), QStringLiteral("45"));
    }
    {
        Form1 fresh(h.services(binDir()));
        QCOMPARE(fresh.Slider1->value(), 45);
        fresh.Slider1->setValue(7);
    }
    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(QRegularExpression(QStringLiteral("(^|\\n)SliderValue=7\\s*(\\n|$)"))
                 .match(text)
                 .hasMatch(),
        qPrintable(text));
}

void Form1Test::addDialog_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("chosen");
    const QStringList none;
    QTest::newRow("one file") << none << QStringList { "/home/ann/Pics/Cat.JPG" };
    QTest::newRow("three behind existing")
        << QStringList { "/x/first.png" }
        << QStringList { "/home/ann/Pics/b.jpg", "/home/ann/Pics/a.jpg", "/home/ann/Pics/c.gif" };
    QTest::newRow("root folder") << none << QStringList { "/a.jpg", "/b.jpg" };
    QTest::newRow("duplicate kept") << QStringList { "/p/Cat.jpg" } << QStringList { "/p/Cat.jpg" };
    QTest::newRow("odd names") << none
                               << QStringList { "/p/$(rm x);`y` z.jpg", "/p/no extension",
                                      "/p/Ünïcode.wmf" };
    QTest::newRow("cancel") << QStringList { "/p/keep.bmp", "/p/keep2.bmp" } << none;
}

void Form1Test::addDialog()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, chosen);
    Harness h;
    Form1 form(h.services(binDir()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    h.dialogs->filesToReturn = before;
    if (!before.isEmpty())
        QTest::mouseClick(form.Check1, Qt::LeftButton);
    h.dialogs->filesToReturn = chosen;
    QTest::mouseClick(form.Check1, Qt::LeftButton);

    QCOMPARE(entries(form), before + chosen);
    // The button springs back and the dialog opened once per press, set up the same way.
    QVERIFY(!form.Check1->isChecked());
    QCOMPARE(h.dialogs->openCalls.size(), before.isEmpty() ? 1 : 2);
    QCOMPARE(h.dialogs->openCalls.last().first,
        QStringLiteral("Add File(s) - Hold Ctrl or Shift to select multiple files"));
    QCOMPARE(h.dialogs->openCalls.last().second, Form1::addFilesFilter());
}

void Form1Test::dialogFilterIgnoresCase_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("firstTypeMatches"); // 1 when "All Pictures" offers it
    QTest::newRow("lower") << "cat.jpg" << 1;
    QTest::newRow("upper") << "CAT.JPG" << 1;
    QTest::newRow("mixed") << "Logo.Png" << 1;
    QTest::newRow("ico") << "x.ICO" << 1;
    QTest::newRow("tiff") << "scan.tif" << 0;
    QTest::newRow("no dot") << "README" << 0;
}

void Form1Test::dialogFilterIgnoresCase()
{
    QFETCH(QString, fileName);
    QFETCH(int, firstTypeMatches);
    const QString filter = qtFileFilter(Form1::addFilesFilter());
    const QStringList types = filter.split(QStringLiteral(";;"));
    QCOMPARE(types.size(), 3);
    const auto offers = [&](const QString& type) {
        const QString patterns = type.mid(type.lastIndexOf(QLatin1Char('(')) + 1).chopped(1);
        for (const QString& p : patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            // Case-sensitive on purpose: the pattern itself must carry both cases.
            const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(p));
            if (re.match(fileName).hasMatch())
                return true;
        }
        return false;
    };
    QCOMPARE(offers(types[0]), firstTypeMatches == 1);
    QVERIFY(offers(types[1])); // "All Files" offers everything, with or without a dot
    QCOMPARE(offers(types[2]), fileName.endsWith(QLatin1String(".tif"))); // the new kinds
}

void Form1Test::doubleClickRemoves_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<int>("clicked"); // -1: double click below the entries, nothing selected
    QTest::addColumn<Qt::MouseButton>("button");
    const QStringList three { "/a.jpg", "/b.jpg", "/c.jpg" };
    QTest::newRow("middle entry") << three << 1 << Qt::LeftButton;
    QTest::newRow("first of duplicates")
        << QStringList { "/a.jpg", "/a.jpg" } << 0 << Qt::LeftButton;
    QTest::newRow("last entry") << QStringList { "/a.jpg", "/b.jpg" } << 1 << Qt::LeftButton;
    QTest::newRow("nothing selected") << QStringList { "/a.jpg", "/b.jpg" } << -1 << Qt::LeftButton;
    QTest::newRow("empty list") << QStringList() << -1 << Qt::LeftButton;
    // Only the primary button removes; the entry is selected all the same.
    QTest::newRow("right button") << three << 1 << Qt::RightButton;
    QTest::newRow("middle button") << three << 1 << Qt::MiddleButton;
}

void Form1Test::doubleClickRemoves()
{
    QFETCH(QStringList, list);
    QFETCH(int, clicked);
    QFETCH(Qt::MouseButton, button);
    Harness h;
    Form1 form(h.services(binDir()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    h.dialogs->filesToReturn = list;
    QTest::mouseClick(form.Check1, Qt::LeftButton);
    QWidget* viewport = form.ListView1->viewport();
    QStringList expected = list;
    if (clicked >= 0) {
        const QModelIndex item = form.ListView1->model()->index(clicked, 0);
        form.ListView1->setCurrentIndex(item);
        QVERIFY(form.ListView1->selectionModel()->isSelected(item));
        QTest::mouseDClick(viewport, button, {}, form.ListView1->visualRect(item).center());
        if (button == Qt::LeftButton)
            expected.removeAt(clicked);
    } else {
        QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(20, viewport->height() - 4),
            viewport->mapToGlobal(QPointF(20, viewport->height() - 4)), Qt::LeftButton,
            Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &dbl);
    }
    QCOMPARE(entries(form), expected);
}

void Form1Test::listKeys_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<int>("selected"); // -1: none
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("selectedAfter"); // -1: none
    const QStringList three { "/a.jpg", "/b.jpg", "/c.jpg" };
    const int none = Qt::NoModifier;
    const int alt = Qt::AltModifier;
    const QStringList withoutB { "/a.jpg", "/c.jpg" };
    QTest::newRow("delete middle entry")
        << three << 1 << int(Qt::Key_Delete) << none << withoutB << 1;
    QTest::newRow("delete last entry")
        << three << 2 << int(Qt::Key_Delete) << none << QStringList { "/a.jpg", "/b.jpg" } << 1;
    QTest::newRow("delete, nothing selected")
        << three << -1 << int(Qt::Key_Delete) << none << three << -1;
    QTest::newRow("delete, empty list")
        << QStringList() << -1 << int(Qt::Key_Delete) << none << QStringList() << -1;
    QTest::newRow("backspace is no delete")
        << three << 1 << int(Qt::Key_Backspace) << none << three << 1;
    const QStringList bAC { "/b.jpg", "/a.jpg", "/c.jpg" };
    QTest::newRow("alt+down on the first") << three << 0 << int(Qt::Key_Down) << alt << bAC << 1;
    QTest::newRow("alt+up on the second") << three << 1 << int(Qt::Key_Up) << alt << bAC << 0;
    QTest::newRow("alt+up on the first") << three << 0 << int(Qt::Key_Up) << alt << three << 0;
    QTest::newRow("alt+down on the last") << three << 2 << int(Qt::Key_Down) << alt << three << 2;
    QTest::newRow("alt+down, nothing selected")
        << three << -1 << int(Qt::Key_Down) << alt << three << -1;
    const QStringList same { "/a.jpg", "/a.jpg", "/c.jpg" };
    QTest::newRow("alt+down onto the same text")
        << same << 0 << int(Qt::Key_Down) << alt << same << 1;
    QTest::newRow("down alone only selects")
        << three << 0 << int(Qt::Key_Down) << none << three << 1;
}

void Form1Test::listKeys()
{
    QFETCH(QStringList, list);
    QFETCH(int, selected);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QStringList, expected);
    QFETCH(int, selectedAfter);
    Harness h;
    Form1 form(h.services(binDir()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    h.dialogs->filesToReturn = list;
    QTest::mouseClick(form.Check1, Qt::LeftButton);
    form.ListView1->setFocus();
    form.ListView1->clearSelection();
    if (selected >= 0)
        form.ListView1->setCurrentIndex(form.ListView1->model()->index(selected, 0));
    QCOMPARE(form.ListView1->selectionModel()->selectedRows().size(), selected >= 0 ? 1 : 0);
    QTest::keyClick(form.ListView1, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(entries(form), expected);
    const QModelIndexList after = form.ListView1->selectionModel()->selectedRows();
    QCOMPARE(after.isEmpty() ? -1 : after.first().row(), selectedAfter);
}

void Form1Test::buttonKeys_data()
{
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QString>("pressed"); // the control the keys reach
    QTest::addColumn<bool>("inTooltip"); // named in the control's tooltip
    QTest::newRow("ctrl+o adds files") << QKeySequence(Qt::CTRL | Qt::Key_O) << "Check1" << true;
    QTest::newRow("ctrl+return converts")
        << QKeySequence(Qt::CTRL | Qt::Key_Return) << "Check2" << true;
    QTest::newRow("ctrl+shift+o adds a folder")
        << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O) << "Check3" << true;
    QTest::newRow("alt+a, mnemonic") << QKeySequence(Qt::ALT | Qt::Key_A) << "Check1" << false;
    QTest::newRow("alt+c, mnemonic") << QKeySequence(Qt::ALT | Qt::Key_C) << "Check2" << false;
    QTest::newRow("alt+f, mnemonic") << QKeySequence(Qt::ALT | Qt::Key_F) << "Check3" << false;
    QTest::newRow("alt+p goes to the slider")
        << QKeySequence(Qt::ALT | Qt::Key_P) << "Slider1" << false;
}

void Form1Test::buttonKeys()
{
    QFETCH(QKeySequence, keys);
    QFETCH(QString, pressed);
    QFETCH(bool, inTooltip);
    Harness h;
    Form1 form(h.services(binDir()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QApplication::setActiveWindow(&form);
    auto* target = form.findChild<QWidget*>(pressed);
    QVERIFY(target);
    // The key pressed is named in the control's tooltip.
    if (inTooltip)
        QVERIFY2(target->toolTip().endsWith(
                     QStringLiteral("(%1)").arg(keys.toString(QKeySequence::NativeText))),
            qPrintable(target->toolTip()));
    QSignalSpy clicks(
        qobject_cast<QAbstractButton*>(target) ? target : form.Check1, SIGNAL(clicked(bool)));
    QTest::keySequence(&form, keys);
    if (pressed == QLatin1String("Slider1")) {
        QTRY_COMPARE(QApplication::focusWidget(), target);
        QCOMPARE(clicks.size(), 0);
    } else {
        QTRY_COMPARE(clicks.size(), 1);
        // The handler ran as after a click and set the button back.
        QVERIFY(!static_cast<QAbstractButton*>(target)->isChecked());
    }
    // The add dialog opens only for its own button.
    QCOMPARE(h.dialogs->openCalls.size(), pressed == QLatin1String("Check1") ? 1 : 0);
}

void Form1Test::pointerRules_data()
{
    QTest::addColumn<QString>("control"); // objectName, or "background"
    QTest::addColumn<bool>("press"); // a button press instead of a move
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::newRow("Check1 shows the hand") << "Check1" << false << 0 << 99;
    QTest::newRow("Check2 shows the hand") << "Check2" << false << 0 << 99;
    QTest::newRow("Check3 shows the hand") << "Check3" << false << 0 << 99;
    QTest::newRow("background brings the arrow") << "background" << false << 99 << 0;
    QTest::newRow("label brings the arrow") << "Label1" << false << 99 << 0;
    QTest::newRow("list brings the arrow") << "ListView1" << false << 99 << 0;
    QTest::newRow("slider keeps the hand") << "Slider1" << false << 99 << 99;
    QTest::newRow("moving over the bar keeps the hand") << "ProgressBar1" << false << 99 << 99;
    QTest::newRow("pressing on the bar brings the arrow") << "ProgressBar1" << true << 99 << 0;
    QTest::newRow("busy over a button") << "Check2" << false << 11 << 11;
    QTest::newRow("busy over the background") << "background" << false << 11 << 11;
    QTest::newRow("busy over the list") << "ListView1" << false << 11 << 11;
    QTest::newRow("busy pressing on the bar") << "ProgressBar1" << true << 11 << 11;
}

void Form1Test::pointerRules()
{
    QFETCH(QString, control);
    QFETCH(bool, press);
    QFETCH(int, before);
    QFETCH(int, after);
    QTemporaryDir folder;
    QVERIFY(QFile::copy(
        binDir() + QStringLiteral("/HAND-M.CUR"), folder.filePath(QStringLiteral("HAND-M.CUR"))));
    Harness h;
    Form1 form(h.services(folder.path()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.setMousePointer(before);

    QWidget* target = &form;
    QPoint at(440, 220); // background right of the label, between buttons and slider
    if (control == QLatin1String("ListView1")) {
        target = form.ListView1->viewport();
        at = target->rect().center();
    } else if (control != QLatin1String("background")) {
        target = form.findChild<QWidget*>(control);
        QVERIFY(target);
        at = target->rect().center();
    } else {
        QVERIFY(!form.childAt(at));
    }
    if (press)
        QTest::mousePress(target, Qt::LeftButton, {}, at);
    else
        moveOnto(target, at);
    QTRY_COMPARE(form.MousePointer(), after);
    const Qt::CursorShape shape = after == 11 ? Qt::WaitCursor
        : after == 99                         ? Qt::BitmapCursor
                                              : Qt::ArrowCursor;
    QCOMPARE(form.cursor().shape(), shape);
    if (press)
        QTest::mouseRelease(target, Qt::LeftButton, {}, at);
}

void Form1Test::folderButtonAndDropFeedTheList()
{
    QTemporaryDir pics;
    QVERIFY(QDir(pics.path()).mkpath(QStringLiteral("sub")));
    for (const char* name : { "a.jpg", "b.png", "sub/c.JPG" }) {
        QFile f(pics.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    Harness h;
    Form1 form(h.services(binDir()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    h.dialogs->extensionToReturn = QStringLiteral("jpg");
    h.dialogs->folderToReturn = pics.path();
    QTest::mouseClick(form.Check3, Qt::LeftButton);
    QVERIFY(!form.Check3->isChecked());
    QCOMPARE(entries(form),
        QStringList({ pics.filePath(QStringLiteral("a.jpg")),
            pics.filePath(QStringLiteral("sub/c.JPG")) }));
    QCOMPARE(form.MousePointer(), 0);

    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(pics.filePath(QStringLiteral("b.png"))) });
    const QPoint at = form.ListView1->viewport()->rect().center();
    QDragEnterEvent enter(
        at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ListView1->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(
        QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ListView1->viewport(), &drop);
    QCOMPARE(drop.dropAction(), Qt::CopyAction);
    QCOMPARE(entries(form).size(), 3);
    QCOMPARE(entries(form).last(), pics.filePath(QStringLiteral("b.png")));
}

void Form1Test::conversionFromWindow()
{
    QTemporaryDir pics;
    const QString jpg = pics.filePath(QStringLiteral("Cat.JPG"));
    const QString png = pics.filePath(QStringLiteral("my.photo.png"));
    const QString bmp = pics.filePath(QStringLiteral("logo.bmp"));
    const QString other = pics.filePath(QStringLiteral("clip.mp4"));
    writeImage(jpg, 300, 200, "JPG");
    writeImage(png, 120, 90, "PNG");
    writeImage(bmp, 101, 57, "BMP");
    QFile g(other);
    QVERIFY(g.open(QIODevice::WriteOnly));
    g.write("GIF89a");
    g.close();

    Harness h;
    Form1 form(h.services(binDir()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    h.dialogs->filesToReturn = { jpg, png, bmp, other };
    QTest::mouseClick(form.Check1, Qt::LeftButton);
    QSignalSpy finished(&form, &Form1::conversionFinished);
    QTest::mouseClick(form.Check2, Qt::LeftButton);

    // Locked until the run has ended: no second run, no list edit, no slider move.
    QVERIFY(form.isConverting());
    QVERIFY(!form.Check2->isChecked());
    QVERIFY(!form.Check1->isEnabled() && !form.Check2->isEnabled() && !form.Check3->isEnabled());
    QVERIFY(!form.Slider1->isEnabled());
    form.ListView1->setCurrentIndex(form.ListView1->model()->index(0, 0));
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
        Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ListView1->viewport(), &dbl);
    QTest::keyClick(form.ListView1, Qt::Key_Delete);
    QCOMPARE(entries(form).size(), 4);

    QVERIFY(finished.wait(120000));
    QVERIFY(!form.isConverting());
    QVERIFY(form.Check2->isEnabled() && form.Slider1->isEnabled());
    QCOMPARE(h.dialogs->doneCount(), 1);
    QCOMPARE(h.dialogs->messages.size(), 1);
    QCOMPARE(h.dialogs->messages.first().title, QStringLiteral("Pictelle"));
    QCOMPARE(form.ProgressBar1->value(), 100);
    QCOMPARE(entries(form), QStringList({ jpg, png, bmp, other }));

    const struct
    {
        QString thumb;
        QSize original;
    } outputs[] = {
        { pics.filePath(QStringLiteral("tCat.JPG")), QSize(300, 200) },
        { pics.filePath(QStringLiteral("tmy.photo.png")), QSize(120, 90) },
        { pics.filePath(QStringLiteral("tlogo.bmp")), QSize(101, 57) },
    };
    for (const auto& out : outputs) {
        const QImage thumb(out.thumb);
        QVERIFY2(!thumb.isNull(), qPrintable(out.thumb));
        // 40 percent a side: well below the original and keeping its shape.
        QVERIFY(thumb.width() < out.original.width() / 2);
        QVERIFY(qAbs(thumb.width() * out.original.height() - thumb.height() * out.original.width())
            <= out.original.width() + out.original.height());
    }
    QVERIFY(!QFile::exists(pics.filePath(QStringLiteral("tclip.mp4"))));
    QCOMPARE(h.endCalls, 0);
}

void Form1Test::failedEntryKeepsWindow_data()
{
    QTest::addColumn<bool>("goOn");
    QTest::newRow("No ends the run") << false;
    QTest::newRow("Yes goes on") << true;
}

void Form1Test::failedEntryKeepsWindow()
{
    QFETCH(bool, goOn);
    QTemporaryDir pics;
    const QString missing = pics.filePath(QStringLiteral("gone.jpg"));
    const QString good = pics.filePath(QStringLiteral("good.bmp"));
    writeImage(good, 64, 48, "BMP");

    Harness h;
    h.dialogs->answer = goOn ? Dialogs::Answer::Yes : Dialogs::Answer::No;
    Form1 form(h.services(binDir()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    h.dialogs->filesToReturn = { missing, good };
    QTest::mouseClick(form.Check1, Qt::LeftButton);
    QSignalSpy finished(&form, &Form1::conversionFinished);
    QTest::mouseClick(form.Check2, Qt::LeftButton);
    QVERIFY(finished.wait(120000));

    QVERIFY(!h.dialogs->messages.isEmpty());
    const auto& failure = h.dialogs->messages.first();
    QCOMPARE(failure.buttons, Dialogs::Buttons::YesNo); // an entry remained behind it
    QVERIFY2(failure.text.contains(missing), qPrintable(failure.text));
    QCOMPARE(h.dialogs->doneCount(), goOn ? 1 : 0);
    QCOMPARE(QFile::exists(pics.filePath(QStringLiteral("tgood.bmp"))), goOn);
    QVERIFY(form.isVisible());
    QCOMPARE(h.endCalls, 0);
    QCOMPARE(entries(form), QStringList({ missing, good }));
    QVERIFY(form.Check2->isEnabled());
}

int main(int argc, char** argv)
{
    // Settings go to a folder of this test's own, never the user's or another test's.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    Form1Test test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_form1.moc"
