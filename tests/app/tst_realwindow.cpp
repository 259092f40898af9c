// SPDX-License-Identifier: MIT

// Starts the built program on a virtual X server under a real window manager, as a user
// would see it.
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <memory>

namespace {

// Xlib, loaded at run time so that the test program needs no X library at link time.
struct Xlib
{
    void* handle = nullptr;
    decltype(&::XOpenDisplay) openDisplay = nullptr;
    decltype(&::XCloseDisplay) closeDisplay = nullptr;
    decltype(&::XDefaultRootWindow) defaultRootWindow = nullptr;
    decltype(&::XQueryTree) queryTree = nullptr;
    decltype(&::XFetchName) fetchName = nullptr;
    decltype(&::XFree) free = nullptr;
    decltype(&::XGetWindowAttributes) getWindowAttributes = nullptr;
    decltype(&::XGetImage) getImage = nullptr;
    decltype(&::XInternAtom) internAtom = nullptr;
    decltype(&::XSendEvent) sendEvent = nullptr;
    decltype(&::XSync) sync = nullptr;
    decltype(&::XGetWindowProperty) getWindowProperty = nullptr;

    Xlib()
    {
        handle = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return;
        const auto load = [this](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(handle, name));
        };
        load(openDisplay, "XOpenDisplay");
        load(closeDisplay, "XCloseDisplay");
        load(defaultRootWindow, "XDefaultRootWindow");
        load(queryTree, "XQueryTree");
        load(fetchName, "XFetchName");
        load(free, "XFree");
        load(getWindowAttributes, "XGetWindowAttributes");
        load(getImage, "XGetImage");
        load(internAtom, "XInternAtom");
        load(sendEvent, "XSendEvent");
        load(sync, "XSync");
        load(getWindowProperty, "XGetWindowProperty");
    }
    ~Xlib()
    {
        if (handle)
            dlclose(handle);
    }
    bool ok() const
    {
        return handle && openDisplay && getImage && sendEvent && queryTree && getWindowProperty;
    }
};

// The viewable window named `title` anywhere below `from`, or 0: a window manager puts the
// program's window inside its frame.
Window findWindow(Xlib& x, Display* display, Window from, const char* title)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!x.queryTree(display, from, &root, &parent, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        if (x.fetchName(display, children[i], &name) && name) {
            XWindowAttributes attributes {};
            if (qstrcmp(name, title) == 0
                && x.getWindowAttributes(display, children[i], &attributes)
                && attributes.map_state == IsViewable)
                found = children[i];
            x.free(name);
        }
        if (!found)
            found = findWindow(x, display, children[i], title);
    }
    if (children)
        x.free(children);
    return found;
}

// The outer rectangle of the root's child that holds `window`: the frame the window manager
// drew around it.
QRect frameRect(Xlib& x, Display* display, Window window)
{
    for (;;) {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!x.queryTree(display, window, &root, &parent, &children, &count))
            return {};
        if (children)
            x.free(children);
        if (parent == root)
            break;
        window = parent;
    }
    XWindowAttributes a {};
    if (!x.getWindowAttributes(display, window, &a))
        return {};
    return QRect(a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width);
}

// True once a window manager announces itself on the root window.
bool windowManagerRunning(Xlib& x, Display* display)
{
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    const int status = x.getWindowProperty(display, x.defaultRootWindow(display),
        x.internAtom(display, "_NET_SUPPORTING_WM_CHECK", False), 0, 1, False, AnyPropertyType,
        &type, &format, &items, &after, &data);
    if (data)
        x.free(data);
    return status == Success && items == 1;
}

QImage grab(Xlib& x, Display* display, Window window, int width, int height)
{
    XImage* raw = x.getImage(display, window, 0, 0, width, height, AllPlanes, ZPixmap);
    if (!raw)
        return {};
    QImage image;
    if (raw->bits_per_pixel == 32)
        image = QImage(reinterpret_cast<const uchar*>(raw->data), width, height,
            raw->bytes_per_line, QImage::Format_RGB32)
                    .copy();
    XDestroyImage(raw);
    return image;
}

int distinctColours(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

} // namespace

class RealWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void showsSizesAndCloses_data();
    void showsSizesAndCloses();
};

void RealWindowTest::showsSizesAndCloses_data()
{
    QTest::addColumn<int>("scale");
    QTest::newRow("scale 1") << 1;
    // A display scaled by 2 keeps the layout: everything is twice as many device pixels.
    QTest::newRow("scale 2") << 2;
}

void RealWindowTest::showsSizesAndCloses()
{
    QFETCH(int, scale);
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    QVERIFY2(!xvfb.isEmpty(), "Xvfb is not installed (scripts/setup.sh installs it)");
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    QVERIFY2(!openbox.isEmpty(), "openbox is not installed (scripts/setup.sh installs it)");
    Xlib x;
    QVERIFY2(x.ok(), "libX11.so.6 could not be loaded");

    // A free display number: one whose lock file is absent and whose server comes up.
    QProcess server;
    int number = 0;
    for (int candidate = 120; candidate < 200 && !number; ++candidate) {
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(candidate)))
            continue;
        server.start(xvfb,
            { QStringLiteral(":%1").arg(candidate), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp") });
        if (!server.waitForStarted())
            continue;
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(candidate);
        QElapsedTimer waited;
        waited.start();
        while (!QFile::exists(socket) && server.state() == QProcess::Running
            && waited.elapsed() < 20000)
            QTest::qWait(50);
        if (server.state() == QProcess::Running && QFile::exists(socket))
            number = candidate;
        else
            server.waitForFinished();
    }
    QVERIFY2(number, "no virtual X server could be started");
    const auto stopServer = qScopeGuard([&server] {
        server.terminate();
        server.waitForFinished();
    });
    const QByteArray displayName = ":" + QByteArray::number(number);

    std::unique_ptr<Display, decltype(x.closeDisplay)> display(
        x.openDisplay(displayName.constData()), x.closeDisplay);
    QVERIFY(display);

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(displayName));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));

    QProcess windowManager;
    windowManager.setProcessEnvironment(env);
    windowManager.setProcessChannelMode(QProcess::ForwardedChannels);
    windowManager.start(openbox, { QStringLiteral("--sm-disable") });
    QVERIFY2(windowManager.waitForStarted(), "openbox could not be started");
    const auto stopWindowManager = qScopeGuard([&windowManager] {
        windowManager.terminate();
        if (!windowManager.waitForFinished(10000)) {
            windowManager.kill();
            windowManager.waitForFinished();
        }
    });
    QTRY_VERIFY2_WITH_TIMEOUT(
        windowManagerRunning(x, display.get()) || windowManager.state() != QProcess::Running,
        "openbox never took the display", 30000);
    QVERIFY2(windowManager.state() == QProcess::Running, "openbox ended at start");

    QProcess program;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(TestUtils::binDir() + QStringLiteral("/pictelle"), {});
    QVERIFY(program.waitForStarted());
    const auto stopProgram = qScopeGuard([&program] {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished();
        }
    });

    Window window = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        (window = findWindow(x, display.get(), x.defaultRootWindow(display.get()), "Pictelle"))
            != 0,
        30000);
    XWindowAttributes attributes {};
    QVERIFY(x.getWindowAttributes(display.get(), window, &attributes));
    QCOMPARE(QSize(attributes.width, attributes.height), QSize(444, 321) * scale);

    // The outer frame, title bar included, sits in the middle of the screen.
    const QSize screen(1024, 768);
    const auto offCentre = [&] {
        const QRect frame = frameRect(x, display.get(), window);
        return QPoint(frame.x() * 2 + frame.width() - screen.width(),
                   frame.y() * 2 + frame.height() - screen.height())
            / 2;
    };
    const auto describe = [&] {
        const QRect frame = frameRect(x, display.get(), window);
        return QStringLiteral("frame at %1,%2 sized %3x%4")
            .arg(frame.x())
            .arg(frame.y())
            .arg(frame.width())
            .arg(frame.height());
    };
    QTRY_VERIFY2_WITH_TIMEOUT(
        qAbs(offCentre().x()) <= 2 && qAbs(offCentre().y()) <= 2, qPrintable(describe()), 30000);
    const QRect frame = frameRect(x, display.get(), window);
    QVERIFY2(frame.height() > attributes.height, "the window manager drew no title bar");

    // Painted when the white background and the buttons' many colours are there.
    QImage shot;
    QTRY_VERIFY_WITH_TIMEOUT(
        (shot = grab(x, display.get(), window, attributes.width, attributes.height),
            !shot.isNull() && shot.pixel(440 * scale, 220 * scale) == qRgb(255, 255, 255)
                && distinctColours(shot) > 40),
        30000);
    // Kept once two grabs in a row agree, so the last paint has landed.
    QImage previous;
    QTRY_VERIFY_WITH_TIMEOUT(
        (previous = shot,
            shot = grab(x, display.get(), window, attributes.width, attributes.height),
            shot == previous),
        30000);
    QVERIFY(!shot.isNull());
    QVERIFY(shot.save(home.filePath(QStringLiteral("window.png"))));
    const QByteArray keep = qgetenv("PICTELLE_SCREENSHOT");
    if (!keep.isEmpty() && scale == 1)
        QVERIFY(shot.save(QString::fromLocal8Bit(keep)));

    // Close it as a window manager would: WM_DELETE_WINDOW.
    XEvent close {};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = x.internAtom(display.get(), "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = long(x.internAtom(display.get(), "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    QVERIFY(x.sendEvent(display.get(), window, False, NoEventMask, &close));
    x.sync(display.get(), False);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

QTEST_GUILESS_MAIN(RealWindowTest)
#include "tst_realwindow.moc"
