// SPDX-License-Identifier: MIT

#include "app/Form1.h"
#include "filelist/AddFolder.h"
#include "filelist/widgets/ImageEntries.h"
#include "filelist/widgets/ImageListView.h"
#include "runtime/Translations.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Without a display Qt prints a page of plugin warnings and aborts; say it in one line.
bool displayAvailable()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// The entries for the program's arguments, in the order given: a folder stands for every file
// in it and below it, as "Add All File(s) In Folder" with "*" finds them; anything else is
// taken as a file, made absolute, whether or not it exists (the run passes over what it
// cannot convert, as it does for an entry added any other way).
QStringList commandLineEntries(const QStringList& arguments)
{
    QStringList entries;
    for (const QString& argument : arguments) {
        if (argument.isEmpty())
            continue;
        const QFileInfo info(argument);
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (info.isDir())
            entries += AddFolder::FolderEntries(
                path == QLatin1String("/") ? QString() : path, QStringLiteral("*"));
        else
            entries.append(path);
    }
    return entries;
}

int stopPipe[2] = { -1, -1 };

void noteStop(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(stopPipe[1], &byte, 1);
}

// The end of the desktop session (SIGTERM, SIGHUP) and an interrupt close the window as its
// close button does, so that a run under way leaves no temporary file and no converter.
void closeOnStopSignals(QWidget& window)
{
    if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[16];
        while (read(stopPipe[0], bytes, sizeof bytes) > 0) { }
        window.close();
    });
    struct sigaction action = {};
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : { SIGTERM, SIGHUP, SIGINT })
        sigaction(signal, &action, nullptr);
}

} // namespace

int main(int argc, char* argv[])
{
    if (!displayAvailable()) {
        std::fprintf(stderr,
            "pictelle: no display found (DISPLAY is not set); to run it without a screen use: "
            "xvfb-run -a %s\n",
            argv[0]);
        return 1;
    }
    // Qt 6.4 stays with X11 under GNOME's Wayland session: a Wayland session gets the window
    // as a Wayland client, through XWayland only where that cannot be had.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!(platform && *platform) && std::getenv("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    QApplication app(argc, argv);
    Translations::install(app);
    Form1 window;
    closeOnStopSignals(window);
    window.show();
    // Qt has taken its own options out of the arguments by now.
    const QStringList entries = commandLineEntries(app.arguments().mid(1));
    if (!entries.isEmpty())
        window.ListView1->entries()->append(entries);
    return app.exec();
}
