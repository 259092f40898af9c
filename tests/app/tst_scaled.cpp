// SPDX-License-Identifier: MIT

// The window on a display scaled by 2: the layout is kept in the desktop's logical pixels,
// and the thumbnails come out exactly as at scale 1.
#include "app/Form1.h"
#include "app/PictureButton.h"
#include "filelist/widgets/ImageListView.h"
#include "tests/common/FakeDialogs.h"
#include "tests/common/ImageFixtures.h"
#include "tests/common/QuietServices.h"
#include "tests/common/TestUtils.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

namespace {

Form1::Services services(const std::shared_ptr<FakeDialogs>& dialogs)
{
    return quietServices(dialogs, TestUtils::binDir());
}

// The window as it looks once shown, at the device pixels of the current scale.
QImage windowShot()
{
    Form1 form(services(std::make_shared<FakeDialogs>()));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return {};
    return form.grab().toImage();
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ScaledTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layoutIsKept();
    void looksLikeScaleOne();
    void thumbnailsAreThoseOfScaleOne();
};

void ScaledTest::initTestCase()
{
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
}

void ScaledTest::layoutIsKept()
{
    Form1 form(services(std::make_shared<FakeDialogs>()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(444, 321));
    const QList<QPair<QWidget*, QRect>> designed {
        { form.Check1, QRect(8, 136, 137, 81) },
        { form.Check2, QRect(296, 136, 137, 81) },
        { form.Check3, QRect(152, 136, 137, 81) },
        { form.ListView1, QRect(8, 8, 425, 121) },
        { form.Slider1, QRect(8, 240, 425, 41) },
        { form.ProgressBar1, QRect(8, 288, 425, 25) },
        { form.Label1, QRect(16, 224, 209, 17) },
    };
    for (const auto& [widget, rect] : designed)
        QCOMPARE(widget->geometry(), rect);
    QCOMPARE(form.ListView1->columnWidth(0), 5300 / 15);

    // Drawn at twice the pixels: the slider's white background reaches every device pixel
    // of its right end, beyond the track.
    const QImage slider = form.Slider1->grab().toImage();
    QCOMPARE(slider.size(), QSize(850, 82));
    for (int y = 0; y < slider.height(); ++y)
        QCOMPARE(slider.pixel(slider.width() - 1, y), qRgb(255, 255, 255));
    // The button pictures are drawn from their full 32 x 32 pixels, not blown up from less.
    const QPixmap picture = form.Check1->icon().pixmap(QSize(32, 32), 2.0);
    QCOMPARE(picture.deviceIndependentSize().toSize(), QSize(32, 32));
}

// The window at scale 2, halved, against the same window drawn at scale 1 by a child
// process: the same things in the same places (fonts and pictures are drawn finer, so
// edges differ a little).
void ScaledTest::looksLikeScaleOne()
{
    QTemporaryDir folder;
    const QString one = folder.filePath("scale1.png");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), { "--shot", one });
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 0);
    const QImage atOne = QImage(one).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(atOne.size(), QSize(444, 321));

    const QImage atTwo = windowShot();
    QCOMPARE(atTwo.size(), QSize(888, 642));
    const QImage halved
        = atTwo.scaled(atOne.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
              .convertToFormat(QImage::Format_RGB32);
    qint64 close = 0;
    for (int y = 0; y < atOne.height(); ++y)
        for (int x = 0; x < atOne.width(); ++x) {
            const QRgb a = atOne.pixel(x, y);
            const QRgb b = halved.pixel(x, y);
            if (qAbs(qRed(a) - qRed(b)) < 48 && qAbs(qGreen(a) - qGreen(b)) < 48
                && qAbs(qBlue(a) - qBlue(b)) < 48)
                ++close;
        }
    const double share = double(close) / (atOne.width() * atOne.height());
    qDebug("%.1f %% of the pixels match", share * 100);
    QVERIFY2(share > 0.93, qPrintable(QString::number(share)));
}

// Converted from the scaled window and by pictelle-batch at scale 1: the same bytes.
void ScaledTest::thumbnailsAreThoseOfScaleOne()
{
    QTemporaryDir fromWindow, fromBatch;
    const QStringList names { "photo.jpg", "shot.png", "scan.bmp" };
    const QList<QSize> sizes { QSize(300, 200), QSize(121, 90), QSize(101, 57) };
    const char* formats[] = { "JPG", "PNG", "BMP" };
    QStringList windowFiles, batchFiles;
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY(ImageFixtures::gradient(sizes[i].width(), sizes[i].height())
                    .save(fromWindow.filePath(names[i]), formats[i]));
        QVERIFY(QFile::copy(fromWindow.filePath(names[i]), fromBatch.filePath(names[i])));
        windowFiles << fromWindow.filePath(names[i]);
        batchFiles << fromBatch.filePath(names[i]);
    }

    auto dialogs = std::make_shared<FakeDialogs>();
    dialogs->filesToReturn = windowFiles;
    Form1 form(services(dialogs));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Slider1->setValue(35);
    QTest::mouseClick(form.Check1, Qt::LeftButton);
    QSignalSpy finished(&form, &Form1::conversionFinished);
    QTest::mouseClick(form.Check2, Qt::LeftButton);
    QVERIFY(finished.wait(120000));
    QCOMPARE(dialogs->doneCount(), 1);

    QProcess batch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "1");
    batch.setProcessEnvironment(env);
    batch.start(TestUtils::binDir() + "/pictelle-batch", QStringList { "-p", "35" } + batchFiles);
    QVERIFY(batch.waitForFinished(120000));
    QCOMPARE(batch.exitCode(), 0);

    // 35 % of each side in single precision: 90 x 0.35f lies just below 31.5.
    const QList<QSize> expected { QSize(105, 70), QSize(42, 31), QSize(35, 20) };
    for (int i = 0; i < names.size(); ++i) {
        const QString thumbnail = "t" + names[i];
        QCOMPARE(QImage(fromWindow.filePath(thumbnail)).size(), expected[i]);
        QVERIFY2(
            fileBytes(fromWindow.filePath(thumbnail)) == fileBytes(fromBatch.filePath(thumbnail)),
            qPrintable(thumbnail));
    }
}

int main(int argc, char** argv)
{
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    const bool shot = argc == 3 && qstrcmp(argv[1], "--shot") == 0;
    if (!shot)
        qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    if (shot)
        return windowShot().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    ScaledTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scaled.moc"
