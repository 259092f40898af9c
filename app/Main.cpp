// SPDX-License-Identifier: MIT

#include "app/Form1.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

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
    QApplication app(argc, argv);
    Form1 window;
    window.show();
    return app.exec();
}
