#include "app/runtime/AppError.h"
#include "background/WhiteSlider.h"

#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QTest>
#include <limits>
#include <vector>

using namespace WhiteSlider;

namespace {

quint32 colorRef(const QColor& c)
{
    return quint32(c.red()) | quint32(c.green()) << 8 | quint32(c.blue()) << 16;
}

// The runtime error number `call` throws, or 0 when it returns.
template <typename Call> int errorOf(Call call)
{
    try {
        call();
    } catch (const AppError& e) {
        return e.number();
    }
    return 0;
}

constexpr qint32 Max = std::numeric_limits<qint32>::max();
constexpr qint32 Min = std::numeric_limits<qint32>::min();

} // namespace

class TestColors : public QObject
{
    Q_OBJECT

private slots:
    void translateColor();
    void colorToVertex_data();
    void colorToVertex();
    void colorToVertexRefuses_data();
    void colorToVertexRefuses();
    void shiftColor_data();
    void shiftColor();
    void shiftByZeroKeepsPlainColours();
    void shiftOverflow_data();
    void shiftOverflow();
    void fadeSequence();
    void fadeWithOddSteps_data();
    void fadeWithOddSteps();
    void gradientEdges_data();
    void gradientEdges();
    void gradientStaysInItsRectangle();
};

void TestColors::translateColor()
{
    QCOMPARE(TranslateColor(0xFFFFFF), 0xFFFFFFu);
    QCOMPARE(TranslateColor(0x123456), 0x123456u);
    QCOMPARE(TranslateColor(0), 0u);

    // System colours follow the palette as it is now, not as it was at the first call.
    QPalette palette = QGuiApplication::palette();
    palette.setColor(QPalette::Button, QColor(0x10, 0x20, 0x30));
    palette.setColor(QPalette::Base, QColor(0x40, 0x50, 0x60));
    palette.setColor(QPalette::Text, QColor(0x70, 0x80, 0x90));
    QGuiApplication::setPalette(palette);
    QCOMPARE(TranslateColor(0x8000000F), 0x302010u);
    QCOMPARE(TranslateColor(0x80000005), 0x605040u);
    QCOMPARE(TranslateColor(0x80000008), 0x908070u);

    palette.setColor(QPalette::Button, QColor(0xAB, 0xCD, 0xEF));
    QGuiApplication::setPalette(palette);
    QCOMPARE(TranslateColor(ButtonFace), colorRef(QColor(0xAB, 0xCD, 0xEF)));

    // An index the desktop has nothing for.
    QCOMPARE(TranslateColor(0x80000063), 0u);
}

void TestColors::colorToVertex_data()
{
    QTest::addColumn<quint32>("color");
    QTest::addColumn<int>("red");
    QTest::addColumn<int>("green");
    QTest::addColumn<int>("blue");

    QTest::newRow("0x123456") << 0x123456u << 0x5600 << 0x3400 << 0x1200;
    QTest::newRow("red only") << 0xFFu << 0xFF00 << 0 << 0;
    QTest::newRow("black") << 0u << 0 << 0 << 0;
    QTest::newRow("white keeps 0xFF00") << 0xFFFFFFu << 0xFF00 << 0xFF00 << 0xFF00;
    QTest::newRow("short hex text") << 0x00A00Bu << 0x0B00 << 0xA000 << 0;
}

void TestColors::colorToVertex()
{
    QFETCH(quint32, color);
    QFETCH(int, red);
    QFETCH(int, green);
    QFETCH(int, blue);

    const VertexColor v = ColorToVertex(color);
    QCOMPARE(int(v.Red), red);
    QCOMPARE(int(v.Green), green);
    QCOMPARE(int(v.Blue), blue);
}

void TestColors::colorToVertexRefuses_data()
{
    QTest::addColumn<quint32>("color");
    QTest::newRow("seven digits") << 0x1000000u;
    QTest::newRow("button face reference") << ButtonFace;
    QTest::newRow("all bits") << 0xFFFFFFFFu;
}

void TestColors::colorToVertexRefuses()
{
    QFETCH(quint32, color);
    QCOMPARE(errorOf([&] { ColorToVertex(color); }), int(ErrorNumber::InvalidCall));
}

void TestColors::shiftColor_data()
{
    QTest::addColumn<quint32>("color");
    QTest::addColumn<qint32>("amount");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("black by 64, no blue") << 0x000000u << 64 << 0x004040u;
    QTest::newRow("blue scaled by itself") << 0x600000u << 96 << 0x906060u;
    QTest::newRow("all cut to 255") << 0x808080u << 255 << 0xFFFFFFu;
    QTest::newRow("mixed") << 0xC08040u << 100 << 0xFFE4A4u;
    QTest::newRow("darker, division toward zero") << 0xFFFFFFu << -10 << 0xF2F5F5u;
    QTest::newRow("darker") << 0x204060u << -32 << 0x1B2040u;
    QTest::newRow("cut to 0") << 0x102030u << -255 << 0x000000u;
    QTest::newRow("large amount, no overflow") << 0u << Max << 0x00FFFFu;
    // A system colour reference is a negative number: its blue comes out as -1, and only the
    // direction of the amount is clamped, so the high bits survive a positive shift.
    QTest::newRow("negative blue kept when brightening") << 0xFFFF0000u << 10 << 0xFFFF0A0Au;
    QTest::newRow("negative blue cut when darkening") << 0xFFFF0000u << -10 << 0u;
}

void TestColors::shiftColor()
{
    QFETCH(quint32, color);
    QFETCH(qint32, amount);
    QFETCH(quint32, expected);
    QCOMPARE(ShiftColor(color, amount), expected);
}

void TestColors::shiftByZeroKeepsPlainColours()
{
    for (quint32 color = 0; color <= 0xFFFFFF; color += 0x010307) {
        if (ShiftColor(color, 0) != color)
            QFAIL(qPrintable(QStringLiteral("changed 0x%1").arg(color, 6, 16, QLatin1Char('0'))));
    }
    QCOMPARE(ShiftColor(0xFFFFFF, 0), 0xFFFFFFu);
}

void TestColors::shiftOverflow_data()
{
    QTest::addColumn<quint32>("color");
    QTest::addColumn<qint32>("amount");
    QTest::newRow("red plus max") << 0x000001u << Max;
    QTest::newRow("blue times amount") << 0x800000u << (1 << 24);
    QTest::newRow("blue times min") << 0x020000u << Min;
}

void TestColors::shiftOverflow()
{
    QFETCH(quint32, color);
    QFETCH(qint32, amount);
    QCOMPARE(errorOf([&] { ShiftColor(color, amount); }), int(ErrorNumber::Overflow));
}

// With a step of 16 the level climbs 16 ... 240, is cut to 255, falls 239 ... 15, is cut to 0
// and climbs again.
void TestColors::fadeSequence()
{
    std::vector<int> expected;
    for (int level = 16; level <= 240; level += 16)
        expected.push_back(level);
    expected.push_back(255);
    for (int level = 239; level >= 15; level -= 16)
        expected.push_back(level);
    expected.push_back(0);
    expected.push_back(16);

    FadeState fade;
    QCOMPARE(fade.level, 0);
    for (size_t i = 0; i < expected.size(); ++i) {
        StepFade(fade, 16);
        QCOMPARE(fade.level, expected[i]);
    }
    QVERIFY(!fade.falling);
}

void TestColors::fadeWithOddSteps_data()
{
    QTest::addColumn<qint32>("step");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -7;
    QTest::newRow("max") << Max;
    QTest::newRow("min") << Min;
    QTest::newRow("300") << 300;
}

// Whatever the step, the level stays within 0..255; a step of 0 leaves it at 0.
void TestColors::fadeWithOddSteps()
{
    QFETCH(qint32, step);
    FadeState fade;
    for (int i = 0; i < 100; ++i) {
        StepFade(fade, step);
        QVERIFY(fade.level >= 0 && fade.level <= 255);
        if (step == 0)
            QCOMPARE(fade.level, 0);
    }
}

void TestColors::gradientEdges_data()
{
    QTest::addColumn<qint32>("direction");
    QTest::addColumn<QSize>("size");
    QTest::newRow("horizontal") << 0 << QSize(425, 41);
    QTest::newRow("vertical") << 1 << QSize(425, 41);
    QTest::newRow("horizontal, two columns") << 0 << QSize(2, 5);
    QTest::newRow("vertical, one row") << 1 << QSize(7, 1);
}

// Colour 1 on the first column or row, colour 2 on the last, even channels in between, and
// every line across the direction in one colour.
void TestColors::gradientEdges()
{
    QFETCH(qint32, direction);
    QFETCH(QSize, size);
    const quint32 color1 = 0x10FF20; // red 0x20, green 0xFF, blue 0x10
    const quint32 color2 = 0xF00030;

    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    FillGradient(image, 0, 0, size.width(), size.height(), color1, color2, direction);

    const int steps = direction == 0 ? size.width() : size.height();
    const auto at = [&](int along, int across) {
        return direction == 0 ? image.pixel(along, across) : image.pixel(across, along);
    };
    QCOMPARE(at(0, 0), qRgb(0x20, 0xFF, 0x10));
    if (steps > 1)
        QCOMPARE(at(steps - 1, 0), qRgb(0x30, 0x00, 0xF0));
    const int across = direction == 0 ? size.height() : size.width();
    for (int i = 0; i < steps; ++i) {
        for (int j = 1; j < across; ++j)
            QCOMPARE(at(i, j), at(i, 0));
        if (i > 0) {
            QVERIFY(qRed(at(i, 0)) >= qRed(at(i - 1, 0)));
            QVERIFY(qGreen(at(i, 0)) <= qGreen(at(i - 1, 0)));
            QVERIFY(qBlue(at(i, 0)) >= qBlue(at(i - 1, 0)));
        }
    }
    if (steps == 425) {
        // Half way is half way, within the loss of the low byte.
        const QRgb middle = at(212, 0);
        QVERIFY(qAbs(qGreen(middle) - 0x7F) <= 1);
        QVERIFY(qAbs(qBlue(middle) - (0x10 + 0xF0) / 2) <= 1);
    }
}

void TestColors::gradientStaysInItsRectangle()
{
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    const QImage untouched = image;

    // A direction the fill refuses, an empty rectangle: nothing changes.
    FillGradient(image, 0, 0, 20, 10, 0xFFFFFF, 0, 2);
    FillGradient(image, 0, 0, -5, 10, 0xFFFFFF, 0, 0);
    FillGradient(image, 0, 0, 20, 0, 0xFFFFFF, 0, 1);
    QCOMPARE(image, untouched);

    // A rectangle partly outside the surface fills only what lies inside it; its gradient is
    // still laid over the whole rectangle, so the column at x = 0 is not colour 1.
    FillGradient(image, -10, 4, 20, 100, 0x0000FF, 0x00FF00, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool inside = y >= 4 && x < 10;
            QCOMPARE(image.pixel(x, y) != qRgb(255, 0, 255), inside);
        }
    }
    QVERIFY(qRed(image.pixel(0, 4)) < 200 && qGreen(image.pixel(0, 4)) > 60);

    // A colour that has no vertex form is taken as black; the other end is unaffected.
    QImage bad(5, 1, QImage::Format_RGB32);
    FillGradient(bad, 0, 0, 5, 1, 0x1000000, 0xFFFFFF, 0);
    QCOMPARE(bad.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(bad.pixel(4, 0), qRgb(255, 255, 255));
}

QTEST_MAIN(TestColors)
#include "tst_colors.moc"
