// SPDX-License-Identifier: MIT

#include "app/MainModule.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace Main {

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

void CenterForm(QWidget& window)
{
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize outer = window.frameGeometry().size();
    // Single precision and truncation toward zero, as the design computes it.
    const float left = float(area.width() - outer.width()) / 2.0f;
    const float top = float(area.height() - outer.height()) / 2.0f;
    window.move(area.x() + int(std::trunc(left)), area.y() + int(std::trunc(top)));
}

} // namespace Main
