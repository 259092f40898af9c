// SPDX-License-Identifier: MIT

#include "background/PercentageSlider.h"
#include "background/SliderHook.h"
#include "background/WhiteSlider.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <memory>

using namespace WhiteSlider;

namespace {

class TestSlider : public QSlider
{
public:
    using QSlider::QSlider;

    QPoint besideHandle() const // on the groove, right of the handle
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect handle
            = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
        return QPoint(width() - 8, handle.center().y());
    }
};

// A slider laid out as the main window's percentage slider.
std::unique_ptr<TestSlider> makeSlider()
{
    auto slider = std::make_unique<TestSlider>();
    PercentageSlider::configure(*slider);
    // A fresh slider draws its ticks in another colour the first time only.
    slider->grab();
    return slider;
}

QImage capture(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb buttonFace()
{
    return QApplication::palette().color(QPalette::Button).rgb();
}

// The control's own drawing, to compare a painted slider with.
QImage ownDrawing()
{
    return capture(*makeSlider());
}

// Pixels of `painted` that differ from the expected composition: `fill(x, y)` where the
// control's own drawing shows button face, the control's pixel elsewhere.
template <typename Fill> int compositionErrors(const QImage& painted, Fill fill)
{
    const QImage own = ownDrawing();
    int errors = 0;
    for (int y = 0; y < own.height(); ++y) {
        for (int x = 0; x < own.width(); ++x) {
            const QRgb o = own.pixel(x, y);
            errors += painted.pixel(x, y) != (o == buttonFace() ? fill(x, y) : o);
        }
    }
    return errors;
}

int countPixels(const QImage& image, QRgb color)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == color;
    return n;
}

} // namespace

class TestPainter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void solidFill_data();
    void solidFill();
    void gradientEdges_data();
    void gradientEdges();
    void tiledPicture();
    void fadeStartsBlackThenFollowsLevel();
    void hookOnce();
    void destroyingControlRemovesPainter();
    void pagingStillRepeats();
};

void TestPainter::initTestCase()
{
    // A grab fills the control's background with the window role; make that the button face
    // so that a grab shows what the control draws on a button-face ground.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    QApplication::setPalette(palette);
}

void TestPainter::solidFill_data()
{
    QTest::addColumn<int>("style"); // -1: never set
    QTest::addColumn<bool>("setColor");
    QTest::addColumn<quint32>("color");
    QTest::addColumn<QRgb>("expected");

    const QRgb white = qRgb(255, 255, 255);
    const QRgb highlight = QApplication::palette().color(QPalette::Highlight).rgb();
    QTest::newRow("white") << 0 << true << 0xFFFFFFu << white;
    QTest::newRow("red in low byte") << 0 << true << 0x3366CCu << qRgb(0xCC, 0x66, 0x33);
    QTest::newRow("system colour") << 0 << true << 0x8000000Du << highlight;
    QTest::newRow("style never set") << -1 << true << 0xFFFFFFu << white;
    QTest::newRow("nothing set: black") << -1 << false << 0u << qRgb(0, 0, 0);
    QTest::newRow("unknown style: black") << 7 << true << 0xFFFFFFu << qRgb(0, 0, 0);
}

// Every button-face pixel shows the fill, every other pixel is the control's own.
void TestPainter::solidFill()
{
    QFETCH(int, style);
    QFETCH(bool, setColor);
    QFETCH(quint32, color);
    QFETCH(QRgb, expected);

    auto slider = makeSlider();
    if (style >= 0)
        SetStyle(slider.get(), style);
    if (setColor)
        SetSolidColor(slider.get(), color);
    HookWindow(slider.get());
    const QImage painted = capture(*slider);

    QCOMPARE(compositionErrors(painted, [&](int, int) { return expected; }), 0);
    const int filled = countPixels(painted, expected);
    QVERIFY(filled > painted.width() * 10);
    QVERIFY(filled < painted.width() * painted.height() * 9 / 10); // the slider is still there

    // docs/painter-slider.png is made by running this test with PICTELLE_DOCS_DIR=<repo>/docs.
    if (qEnvironmentVariableIsSet("PICTELLE_DOCS_DIR")
        && QTest::currentDataTag() == QLatin1String("white"))
        QVERIFY(painted.save(
            QDir(qEnvironmentVariable("PICTELLE_DOCS_DIR")).filePath("painter-slider.png")));
}

void TestPainter::gradientEdges_data()
{
    QTest::addColumn<qint32>("direction");
    QTest::newRow("left to right") << 0;
    QTest::newRow("top to bottom") << 1;
}

// Colour 1 on the first column or row, colour 2 on the last; the control's pixels kept.
void TestPainter::gradientEdges()
{
    QFETCH(qint32, direction);
    auto slider = makeSlider();
    SetStyle(slider.get(), 2);
    slider->setProperty(PropGradientColor1, 0x0000FFu);
    slider->setProperty(PropGradientColor2, 0xFF8000u);
    slider->setProperty(PropGradientDir, direction);
    HookWindow(slider.get());
    const QImage painted = capture(*slider);

    const int w = painted.width(), h = painted.height();
    int edges = 0;
    const int errors = compositionErrors(painted, [&](int x, int y) {
        const int along = direction == 0 ? x : y;
        const int last = direction == 0 ? w - 1 : h - 1;
        if (along != 0 && along != last)
            return painted.pixel(x, y); // inside: checked by the fill's own test
        ++edges;
        return along == 0 ? qRgb(255, 0, 0) : qRgb(0, 0x80, 0xFF);
    });
    QCOMPARE(errors, 0);
    QVERIFY(edges > (direction == 0 ? h : w));
}

// A picture is tiled from the control's top left corner.
void TestPainter::tiledPicture()
{
    QImage tile(3, 2, QImage::Format_RGB32);
    for (int y = 0; y < tile.height(); ++y)
        for (int x = 0; x < tile.width(); ++x)
            tile.setPixel(x, y, qRgb(40 * x, 100 * y, 200));

    auto slider = makeSlider();
    SetStyle(slider.get(), 1);
    slider->setProperty(PropPicture, tile);
    HookWindow(slider.get());
    QCOMPARE(
        compositionErrors(capture(*slider), [&](int x, int y) { return tile.pixel(x % 3, y % 2); }),
        0);
}

// Style 3 paints black until the first tick, then both colours shifted by the fade level.
void TestPainter::fadeStartsBlackThenFollowsLevel()
{
    const QImage own = ownDrawing();
    auto slider = makeSlider();
    SetStyle(slider.get(), 3);
    slider->setProperty(PropGradientColor1, 0x000000u);
    slider->setProperty(PropGradientColor2, 0x600000u);
    slider->setProperty(PropGradientDir, 1);
    slider->setProperty(PropFadeTime, 16);
    HookWindow(slider.get());

    const int bottom = own.height() - 1;
    int x = 0;
    while (own.pixel(x, 0) != buttonFace() || own.pixel(x, bottom) != buttonFace())
        ++x;
    const QImage first = capture(*slider);
    QCOMPARE(first.pixel(x, 0), qRgb(0, 0, 0));
    QCOMPARE(first.pixel(x, bottom), qRgb(0, 0, 0));

    QTRY_VERIFY(capture(*slider).pixel(x, 0) != qRgb(0, 0, 0));
    const QImage later = capture(*slider);
    const int level = qRed(later.pixel(x, 0));
    QVERIFY2(
        level == 255 || level % 16 == 0 || level % 16 == 15, qPrintable(QString::number(level)));
    // Red and green move by the level, blue by its own share of it.
    QCOMPARE(later.pixel(x, 0), qRgb(level, level, 0));
    QCOMPARE(later.pixel(x, bottom), qRgb(level, level, 0x60 + 0x60 * level / 192));
}

// A second hook changes nothing; a window already marked as hooked is left alone.
void TestPainter::hookOnce()
{
    auto slider = makeSlider();
    SetSolidColor(slider.get(), 0xFFFFFF);
    HookWindow(slider.get());
    HookWindow(slider.get());
    QVERIFY(IsHooked(slider.get()));
    QCOMPARE(slider->findChildren<SliderHook*>().size(), 1);
    QCOMPARE(compositionErrors(capture(*slider), [](int, int) { return qRgb(255, 255, 255); }), 0);

    auto marked = makeSlider();
    SetSolidColor(marked.get(), 0xFFFFFF);
    MarkHooked(marked.get());
    HookWindow(marked.get());
    QVERIFY(marked->findChildren<SliderHook*>().isEmpty());
    QCOMPARE(capture(*marked), ownDrawing());
}

void TestPainter::destroyingControlRemovesPainter()
{
    auto slider = makeSlider();
    SetStyle(slider.get(), 3);
    slider->setProperty(PropFadeTime, 16);
    HookWindow(slider.get());
    QPointer<SliderHook> hook = slider->findChild<SliderHook*>();
    QVERIFY(hook);
    capture(*slider); // starts the fade timer

    slider.reset();
    QVERIFY(hook.isNull());
    QTest::qWait(5); // a fade tick that outlived its control would land here
}

// Holding the button beside the handle keeps paging: the slider's own repeat timer still
// reaches it. Also: what reaches the screen is what a grab shows.
void TestPainter::pagingStillRepeats()
{
    auto slider = makeSlider();
    PercentageSlider::paintWhite(*slider); // as the window paints it
    slider->show();
    QVERIFY(QTest::qWaitForWindowExposed(slider.get()));
    const QImage onScreen = slider->screen()
                                ->grabWindow(slider->winId())
                                .toImage()
                                .convertToFormat(QImage::Format_RGB32);
    QCOMPARE(onScreen, capture(*slider));
    QVERIFY(countPixels(onScreen, qRgb(255, 255, 255)) > onScreen.width() * 10);

    const QPoint beside = slider->besideHandle();
    QTest::mousePress(slider.get(), Qt::LeftButton, {}, beside);
    QCOMPARE(slider->value(), 45);
    QTRY_VERIFY(slider->value() >= 60);
    QTest::mouseRelease(slider.get(), Qt::LeftButton, {}, beside);
}

QTEST_MAIN(TestPainter)
#include "tst_painter.moc"
