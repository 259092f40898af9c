// SPDX-License-Identifier: MIT

// Starts the built program on a virtual X server under a real window manager, as a user
// would see it; and on a virtual X server or a headless Wayland compositor with files on its
// command line, read and pressed by way of the accessibility bus as a screen reader does.
#include "tests/common/TestUtils.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
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
#include <optional>
#include <signal.h>
#include <sys/stat.h>

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

// Starts Xvfb on a free display number (one whose lock file is absent and whose server comes
// up) and returns the number, 0 when none could be started.
int startXvfb(QProcess& server)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return 0;
    for (int candidate = 120; candidate < 200; ++candidate) {
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
            return candidate;
        server.waitForFinished();
    }
    return 0;
}

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
}

// One accessible object as the accessibility bus names it.
struct Node
{
    QString service;
    QString path;
};

// What a screen reader reads of the program, over the accessibility bus (AT-SPI).
class Reader
{
public:
    explicit Reader(const QDBusConnection& bus)
        : m_bus(bus)
    {
    }

    QVariant property(const Node& node, const char* interface, const char* name) const
    {
        QDBusMessage call = QDBusMessage::createMethodCall(node.service, node.path,
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << QString::fromLatin1(interface) << QString::fromLatin1(name);
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    QString text(const Node& node, const char* name) const
    {
        return property(node, "org.a11y.atspi.Accessible", name).toString();
    }
    QVariant call(const Node& node, const char* interface, const char* method,
        const QVariantList& arguments = {}) const
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            node.service, node.path, QString::fromLatin1(interface), QString::fromLatin1(method));
        message.setArguments(arguments);
        const QDBusMessage reply = m_bus.call(message, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().first();
    }
    QList<Node> children(const Node& node) const
    {
        QList<Node> out;
        const QVariant reply = call(node, "org.a11y.atspi.Accessible", "GetChildren");
        if (!reply.canConvert<QDBusArgument>())
            return out;
        const QDBusArgument list = reply.value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QString service;
            QDBusObjectPath path;
            list.beginStructure();
            list >> service >> path;
            list.endStructure();
            out.append({ service, path.path() });
        }
        list.endArray();
        return out;
    }
    // The program's root object: the application named `name` among the bus's clients.
    std::optional<Node> application(const QString& name) const
    {
        QDBusMessage listNames = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
        const QDBusMessage reply = m_bus.call(listNames, QDBus::Block, 5000);
        if (reply.arguments().isEmpty())
            return std::nullopt;
        for (const QString& service : reply.arguments().first().toStringList()) {
            if (!service.startsWith(QLatin1Char(':')))
                continue;
            const Node root { service, QStringLiteral("/org/a11y/atspi/accessible/root") };
            if (text(root, "Name") == name)
                return root;
        }
        return std::nullopt;
    }
    // Every object below `from` with the role named `role` (and the name `name`, if given).
    QList<Node> find(const Node& from, const QString& role, const QString& name = {}) const
    {
        QList<Node> found;
        for (const Node& child : children(from)) {
            if (call(child, "org.a11y.atspi.Accessible", "GetRoleName").toString() == role
                && (name.isEmpty() || text(child, "Name") == name))
                found.append(child);
            found += find(child, role, name);
        }
        return found;
    }
    bool press(const Node& node) const
    {
        return call(node, "org.a11y.atspi.Action", "DoAction", { QVariant(0) }).toBool();
    }

private:
    QDBusConnection m_bus;
};

qint64 modifiedNanoseconds(const QString& path)
{
    struct stat st;
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

} // namespace

class RealWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void showsSizesAndCloses_data();
    void showsSizesAndCloses();
    void readAndPressedByAReader_data();
    void readAndPressedByAReader();
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

    QProcess server;
    const int number = startXvfb(server);
    // Ended by SIGTERM, not by the QProcess's SIGKILL, so that Xvfb removes its lock file.
    const auto stopServer = qScopeGuard([&server] { stop(server); });
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

void RealWindowTest::readAndPressedByAReader_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("language"); // LANG
    QTest::addColumn<QStringList>("buttons"); // the three buttons' names, in tab order
    QTest::addColumn<QString>("slider");
    QTest::addColumn<bool>("convert");
    const QStringList english { "Add Image File(s)", "Convert to Thumbnail",
        "Add All File(s) In Folder" };
    QTest::newRow("X11, C locale") << "xcb"
                                   << "C" << english << "Percentage of Original" << true;
    QTest::newRow("X11, German") << "xcb"
                                 << "de_DE.UTF-8"
                                 << QStringList { "Bilddatei(en) hinzufügen",
                                        "In Miniatur umwandeln",
                                        "Alle Dateien im Ordner hinzufügen" }
                                 << "Prozent des Originals" << false;
    QTest::newRow("Wayland") << "wayland"
                             << "C" << english << "Percentage of Original" << true;
}

void RealWindowTest::readAndPressedByAReader()
{
    QFETCH(QString, platform);
    QFETCH(QString, language);
    QFETCH(QStringList, buttons);
    QFETCH(QString, slider);
    QFETCH(bool, convert);

    QTemporaryDir home;
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(
        runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));

    // A session bus of its own, whose accessibility bus is switched on as a desktop does for
    // a screen reader.
    QProcess sessionBus;
    sessionBus.setProcessEnvironment(env);
    sessionBus.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--nofork"),
            QStringLiteral("--print-address=1") });
    QVERIFY2(sessionBus.waitForStarted(), "dbus-daemon could not be started");
    const auto stopBus = qScopeGuard([&sessionBus] { stop(sessionBus); });
    QTRY_VERIFY_WITH_TIMEOUT(sessionBus.canReadLine(), 20000);
    const QString sessionAddress = QString::fromUtf8(sessionBus.readLine()).trimmed();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionAddress);
    QDBusConnection session
        = QDBusConnection::connectToBus(sessionAddress, QStringLiteral("session"));
    const auto disconnect = qScopeGuard([] {
        QDBusConnection::disconnectFromBus(QStringLiteral("session"));
        QDBusConnection::disconnectFromBus(QStringLiteral("a11y"));
    });
    QVERIFY2(session.isConnected(), qPrintable(session.lastError().message()));
    QDBusMessage enable = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Set"));
    enable << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled")
           << QVariant::fromValue(QDBusVariant(true));
    const QDBusMessage enabled = session.call(enable, QDBus::Block, 20000);
    QVERIFY2(enabled.type() == QDBusMessage::ReplyMessage, qPrintable(enabled.errorMessage()));
    const QDBusMessage addressReply = session.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
    QVERIFY2(!addressReply.arguments().isEmpty(), qPrintable(addressReply.errorMessage()));
    QDBusConnection a11y = QDBusConnection::connectToBus(
        addressReply.arguments().first().toString(), QStringLiteral("a11y"));
    QVERIFY2(a11y.isConnected(), qPrintable(a11y.lastError().message()));

    QProcess display;
    display.setProcessEnvironment(env);
    display.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (platform == QLatin1String("xcb")) {
        const int number = startXvfb(display);
        QVERIFY2(number, "no virtual X server could be started");
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(number));
    } else {
        const QString weston = QStandardPaths::findExecutable(QStringLiteral("weston"));
        QVERIFY2(!weston.isEmpty(), "weston is not installed (scripts/setup.sh installs it)");
        const QString socket
            = QStringLiteral("pictelle-%1").arg(QCoreApplication::applicationPid());
        // Headless compositors take no input: the reader's bus is the only way in.
        display.start(weston,
            { QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=") + socket,
                QStringLiteral("--idle-time=0"),
                QStringLiteral("--log=") + home.filePath(QStringLiteral("weston.log")) });
        QVERIFY2(display.waitForStarted(), "weston could not be started");
        QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(runtime + QLatin1Char('/') + socket)
                || display.state() != QProcess::Running,
            "weston made no socket", 30000);
        QVERIFY2(display.state() == QProcess::Running, "weston ended at start");
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    }
    const auto stopDisplay = qScopeGuard([&display] { stop(display); });

    // A folder (searched, its files in name order) and two files, in that order.
    QTemporaryDir pictures;
    QStringList order;
    QStringList names;
    for (int i = 1; i <= 12; ++i)
        names << QStringLiteral("p%1.png").arg(i);
    names << QStringLiteral("P13.png");
    QVERIFY(QDir(pictures.path()).mkdir(QStringLiteral("folder")));
    // Written in another order than the names', so that the file system does not give it.
    for (int i = names.size() - 1; i >= 0; --i) {
        QImage picture(50, 40, QImage::Format_RGB32);
        picture.fill(qRgb(i * 10, 100, 200));
        QVERIFY(picture.save(pictures.filePath(QStringLiteral("folder/") + names[i])));
    }
    for (const QString& name : names)
        order << pictures.filePath(QStringLiteral("folder/t") + name);
    QImage photo(100, 80, QImage::Format_RGB32);
    photo.fill(qRgb(200, 40, 40));
    QVERIFY(photo.save(pictures.filePath(QStringLiteral("a.jpg"))));
    QVERIFY(photo.save(pictures.filePath(QStringLiteral("b.png"))));
    order << pictures.filePath(QStringLiteral("ta.jpg"))
          << pictures.filePath(QStringLiteral("tb.png"));

    QProcess program;
    // Under Wayland the program picks its platform itself, as in a desktop session.
    if (platform == QLatin1String("xcb"))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    else
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("LANG"), language);
    env.remove(QStringLiteral("LANGUAGE"));
    env.remove(QStringLiteral("LC_ALL"));
    env.remove(QStringLiteral("LC_MESSAGES"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.setWorkingDirectory(pictures.path());
    program.start(TestUtils::binDir() + QStringLiteral("/pictelle"),
        { QStringLiteral("folder"), QStringLiteral("a.jpg"),
            pictures.filePath(QStringLiteral("b.png")) });
    QVERIFY(program.waitForStarted());
    const auto stopProgram = qScopeGuard([&program] {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished();
        }
    });

    const Reader reader(a11y);
    std::optional<Node> app;
    QTRY_VERIFY2_WITH_TIMEOUT((app = reader.application(QStringLiteral("pictelle"))).has_value()
            || program.state() != QProcess::Running,
        "the program never appeared on the accessibility bus", 30000);
    QVERIFY2(app, "the program ended at start");
    QList<Node> pushButtons;
    QTRY_VERIFY_WITH_TIMEOUT(
        (pushButtons = reader.find(*app, QStringLiteral("push button"))).size() >= 3, 30000);

    // Each button by its caption, with a description and its key; the slider by what its value
    // means, read as a percentage; the progress bar and the list by name.
    for (const QString& name : buttons) {
        const QList<Node> button = reader.find(*app, QStringLiteral("push button"), name);
        QVERIFY2(button.size() == 1, qPrintable(name));
        QVERIFY2(!reader.text(button.first(), "Description").isEmpty(), qPrintable(name));
    }
    const QList<Node> sliders = reader.find(*app, QStringLiteral("slider"));
    QCOMPARE(sliders.size(), 1);
    QCOMPARE(reader.text(sliders.first(), "Name"), slider);
    QCOMPARE(
        reader.property(sliders.first(), "org.a11y.atspi.Value", "CurrentValue").toDouble(), 40.0);
    QVERIFY2(reader.text(sliders.first(), "Description").startsWith(QStringLiteral("40")),
        qPrintable(reader.text(sliders.first(), "Description")));
    const QList<Node> bars = reader.find(*app, QStringLiteral("progress bar"));
    QCOMPARE(bars.size(), 1);
    QVERIFY(!reader.text(bars.first(), "Name").isEmpty());
    const QList<Node> lists = reader.find(*app, QStringLiteral("list"));
    QCOMPARE(lists.size(), 1);
    QVERIFY(!reader.text(lists.first(), "Name").isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(
        reader.children(lists.first()).size(), qsizetype(order.size()), 30000);

    if (convert) {
        const QList<Node> convertButton
            = reader.find(*app, QStringLiteral("push button"), buttons.at(1));
        QCOMPARE(convertButton.size(), 1);
        QVERIFY(reader.press(convertButton.first()));
        // The run ends with "done" in a message box, whose OK the reader presses too.
        QTRY_COMPARE_WITH_TIMEOUT(
            reader.find(*app, QStringLiteral("label"), QStringLiteral("done")).size(), 1, 60000);
        for (qsizetype i = 0; i < order.size(); ++i) {
            QVERIFY2(QImage(order[i]).size() == QSize(20, 16) || i >= order.size() - 2,
                qPrintable(order[i]));
            // Converted in list order: each thumbnail written after the one before.
            if (i > 0)
                QVERIFY2(modifiedNanoseconds(order[i - 1]) <= modifiedNanoseconds(order[i]),
                    qPrintable(order[i]));
        }
        QCOMPARE(QImage(order.last()).size(), QSize(40, 32));
        const QList<Node> ok
            = reader.find(*app, QStringLiteral("push button"), QStringLiteral("OK"));
        QCOMPARE(ok.size(), 1);
        QVERIFY(reader.press(ok.first()));
        QTRY_VERIFY_WITH_TIMEOUT(
            reader.find(*app, QStringLiteral("label"), QStringLiteral("done")).isEmpty(), 30000);
    }

    // Closed as the end of the session closes it.
    ::kill(pid_t(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

QTEST_GUILESS_MAIN(RealWindowTest)
#include "tst_realwindow.moc"
