#include "background/SliderHook.h"
#include "background/WhiteSlider.h"

#include <QApplication>
#include <QDir>
#include <QImage>
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

    // Where the groove is, for a click beside the handle.
    QPoint besideHandle() const
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
    auto slider = std::make_unique<TestSlider>(Qt::Horizontal);
    slider->setRange(1, 100);
    slider->setValue(40);
    slider->setPageStep(5);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(1);
    slider->setFixedSize(425, 41);
    // A fresh slider draws its ticks in another colour the first time only; render it once so
    // that every rendering compared is a steady one.
    slider->grab();
    return slider;
}

QImage capture(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb rgbOf(quint32 color)
{
    return qRgb(int(color & 0xFF), int(color >> 8 & 0xFF), int(color >> 16 & 0xFF));
}

QRgb buttonFace()
{
    return QApplication::palette().color(QPalette::Button).rgb();
}

// Counts pixels of `painted` that differ from the expected composition: where the control's
// own drawing `own` shows button face, `fill(x, y)`; elsewhere the control's pixel.
template <typename Fill> int compositionErrors(const QImage& own, const QImage& painted, Fill fill)
{
    int errors = 0;
    for (int y = 0; y < own.height(); ++y) {
        for (int x = 0; x < own.width(); ++x) {
            const QRgb o = own.pixel(x, y);
            const QRgb expected = o == buttonFace() ? fill(x, y) : o;
            if (painted.pixel(x, y) != expected)
                ++errors;
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
    void gradient_data();
    void gradient();
    void tiledPicture();
    void unknownStyleAndBadColours();
    void fadeStartsBlackThenFollowsLevel();
    void hookOnce();
    void destroyingControlRemovesPainter();
    void pagingStillRepeats();
};

void TestPainter::initTestCase()
{
    // The control's own rendering (grab) fills with the window role; make it the button face
    // so that it is a faithful picture of what the control draws on a button-face ground.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    QApplication::setPalette(palette);
}

void TestPainter::solidFill_data()
{
    QTest::addColumn<bool>("setStyle");
    QTest::addColumn<bool>("setColor");
    QTest::addColumn<quint32>("color");
    QTest::addColumn<QRgb>("expected");

    QTest::newRow("white") << true << true << 0xFFFFFFu << qRgb(255, 255, 255);
    QTest::newRow("red low byte") << true << true << 0x3366CCu << qRgb(0xCC, 0x66, 0x33);
    QTest::newRow("highlight system colour")
        << true << true << 0x8000000Du << QApplication::palette().color(QPalette::Highlight).rgb();
    QTest::newRow("style never set") << false << true << 0xFFFFFFu << qRgb(255, 255, 255);
    QTest::newRow("nothing set paints black") << false << false << 0u << qRgb(0, 0, 0);
}

// Every button-face pixel shows the fill, every other pixel is the control's own.
void TestPainter::solidFill()
{
    QFETCH(bool, setStyle);
    QFETCH(bool, setColor);
    QFETCH(quint32, color);
    QFETCH(QRgb, expected);

    auto own = makeSlider();
    const QImage reference = capture(*own);
    QVERIFY(countPixels(reference, buttonFace()) > reference.width() * 10);

    auto slider = makeSlider();
    if (setStyle)
        SetStyle(slider.get(), 0);
    if (setColor)
        SetSolidColor(slider.get(), color);
    HookWindow(slider.get());
    const QImage painted = capture(*slider);

    QCOMPARE(painted.size(), reference.size());
    QCOMPARE(compositionErrors(reference, painted, [&](int, int) { return expected; }), 0);
    // The control's drawing is still there.
    QVERIFY(countPixels(painted, expected) < painted.width() * painted.height() * 9 / 10);

    // docs/painter-slider.png is made by running this test with PICTELLE_DOCS_DIR=<repo>/docs.
    if (qEnvironmentVariableIsSet("PICTELLE_DOCS_DIR")
        && QTest::currentDataTag() == QLatin1String("white"))
        QVERIFY(painted.save(
            QDir(qEnvironmentVariable("PICTELLE_DOCS_DIR")).filePath("painter-slider.png")));
}

void TestPainter::gradient_data()
{
    QTest::addColumn<qint32>("direction");
    QTest::newRow("left to right") << 0;
    QTest::newRow("top to bottom") << 1;
}

// Colour 1 along the start edge, colour 2 along the end edge, moving steadily in between;
// the control's own pixels untouched.
void TestPainter::gradient()
{
    QFETCH(qint32, direction);
    const quint32 color1 = 0x0000FF; // red
    const quint32 color2 = 0xFF8000; // blue with some green

    auto own = makeSlider();
    const QImage reference = capture(*own);
    auto slider = makeSlider();
    SetStyle(slider.get(), 2);
    slider->setProperty(PropGradientColor1, color1);
    slider->setProperty(PropGradientColor2, color2);
    slider->setProperty(PropGradientDir, direction);
    HookWindow(slider.get());
    const QImage painted = capture(*slider);

    const int steps = direction == 0 ? painted.width() : painted.height();
    const int across = direction == 0 ? painted.height() : painted.width();
    const auto at = [&](const QImage& image, int along, int other) {
        return direction == 0 ? image.pixel(along, other) : image.pixel(other, along);
    };

    int startEdge = 0, endEdge = 0;
    for (int i = 0; i < steps; ++i) {
        for (int j = 0; j < across; ++j) {
            const QRgb own = at(reference, i, j);
            const QRgb shown = at(painted, i, j);
            if (own != buttonFace()) {
                QCOMPARE(shown, own);
                continue;
            }
            if (i == 0) {
                QCOMPARE(shown, rgbOf(color1));
                ++startEdge;
            } else if (i == steps - 1) {
                QCOMPARE(shown, rgbOf(color2));
                ++endEdge;
            }
            // Red falls and blue rises from each step to the next.
            if (i > 0 && at(reference, i - 1, j) == buttonFace()) {
                const QRgb before = at(painted, i - 1, j);
                QVERIFY(qRed(shown) <= qRed(before));
                QVERIFY(qBlue(shown) >= qBlue(before));
            }
        }
    }
    QVERIFY(startEdge > across / 2);
    QVERIFY(endEdge > across / 2);
}

// A picture is tiled from the control's top left corner.
void TestPainter::tiledPicture()
{
    QImage tile(3, 2, QImage::Format_RGB32);
    for (int y = 0; y < tile.height(); ++y)
        for (int x = 0; x < tile.width(); ++x)
            tile.setPixel(x, y, qRgb(40 * x, 100 * y, 200));

    auto own = makeSlider();
    const QImage reference = capture(*own);
    auto slider = makeSlider();
    SetStyle(slider.get(), 1);
    slider->setProperty(PropPicture, tile);
    HookWindow(slider.get());
    const QImage painted = capture(*slider);

    QCOMPARE(compositionErrors(reference, painted,
                 [&](int x, int y) { return tile.pixel(x % tile.width(), y % tile.height()); }),
        0);
}

// Failures inside the paint skip only their own step and never leave the event filter.
void TestPainter::unknownStyleAndBadColours()
{
    auto own = makeSlider();
    const QImage reference = capture(*own);

    auto unknown = makeSlider();
    SetStyle(unknown.get(), 7);
    SetSolidColor(unknown.get(), 0xFFFFFF);
    HookWindow(unknown.get());
    QCOMPARE(
        compositionErrors(reference, capture(*unknown), [](int, int) { return qRgb(0, 0, 0); }), 0);

    // A system colour has no vertex form: that end of the gradient is black, the other intact.
    auto bad = makeSlider();
    SetStyle(bad.get(), 2);
    bad->setProperty(PropGradientColor1, ButtonFace);
    bad->setProperty(PropGradientColor2, 0x00FF00u);
    bad->setProperty(PropGradientDir, 1);
    HookWindow(bad.get());
    const QImage painted = capture(*bad);
    const int last = painted.height() - 1;
    for (int x = 0; x < painted.width(); ++x) {
        if (reference.pixel(x, 0) == buttonFace())
            QCOMPARE(painted.pixel(x, 0), qRgb(0, 0, 0));
        if (reference.pixel(x, last) == buttonFace())
            QCOMPARE(painted.pixel(x, last), qRgb(0, 255, 0));
    }

    // A gradient direction the fill refuses leaves the fresh, black surface.
    bad->setProperty(PropGradientDir, 2);
    QCOMPARE(
        compositionErrors(reference, capture(*bad), [](int, int) { return qRgb(0, 0, 0); }), 0);
}

// Style 3 paints black until the first tick, then both colours shifted by the fade level.
void TestPainter::fadeStartsBlackThenFollowsLevel()
{
    auto own = makeSlider();
    const QImage reference = capture(*own);
    auto slider = makeSlider();
    SetStyle(slider.get(), 3);
    slider->setProperty(PropGradientColor1, 0x000000u);
    slider->setProperty(PropGradientColor2, 0x600000u);
    slider->setProperty(PropGradientDir, 1);
    slider->setProperty(PropFadeTime, 16);
    HookWindow(slider.get());

    int x = 0;
    while (reference.pixel(x, 0) != buttonFace() || reference.pixel(x, 40) != buttonFace())
        ++x;
    QCOMPARE(capture(*slider).pixel(x, 0), qRgb(0, 0, 0));
    QCOMPARE(capture(*slider).pixel(x, 40), qRgb(0, 0, 0));

    QRgb top = 0;
    QTRY_VERIFY((top = capture(*slider).pixel(x, 0)) != qRgb(0, 0, 0));
    const QImage painted = capture(*slider);
    top = painted.pixel(x, 0);
    const QRgb bottom = painted.pixel(x, 40);
    const int level = qRed(top);
    QVERIFY2(
        level == 255 || level % 16 == 0 || level % 16 == 15, qPrintable(QString::number(level)));
    // Red and green move by the level; blue by its own share of it.
    QCOMPARE(top, qRgb(level, level, 0));
    QCOMPARE(bottom, qRgb(level, level, std::min(255, 0x60 + 0x60 * level / 192)));
}

// A second hook changes nothing; a window marked as hooked is not hooked again.
void TestPainter::hookOnce()
{
    auto own = makeSlider();
    const QImage reference = capture(*own);

    auto slider = makeSlider();
    SetSolidColor(slider.get(), 0xFFFFFF);
    HookWindow(slider.get());
    HookWindow(slider.get());
    QVERIFY(IsHooked(slider.get()));
    QCOMPARE(slider->findChildren<SliderHook*>().size(), 1);
    QCOMPARE(compositionErrors(
                 reference, capture(*slider), [](int, int) { return qRgb(255, 255, 255); }),
        0);

    auto marked = makeSlider();
    SetSolidColor(marked.get(), 0xFFFFFF);
    MarkHooked(marked.get());
    HookWindow(marked.get());
    QVERIFY(marked->findChildren<SliderHook*>().isEmpty());
    QCOMPARE(capture(*marked), reference);
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
    QCoreApplication::processEvents();

    slider.reset();
    QVERIFY(hook.isNull());
    // A fade tick that outlived its control would land here.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Holding the mouse button beside the handle keeps paging: the slider's own repeat timer
// still reaches it. Also shows the painter on the real on-screen path.
void TestPainter::pagingStillRepeats()
{
    auto slider = makeSlider();
    SetStyle(slider.get(), 0);
    SetSolidColor(slider.get(), 0xFFFFFF);
    HookWindow(slider.get());
    slider->show();
    QVERIFY(QTest::qWaitForWindowExposed(slider.get()));

    // What reaches the screen is what a grab shows.
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
