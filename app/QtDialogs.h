// SPDX-License-Identifier: MIT

#pragma once

#include "runtime/Dialogs.h"

// The real dialogs, built on QFileDialog, QInputDialog and QMessageBox.
class QtDialogs : public Dialogs
{
public:
    QStringList openFiles(QWidget* parent, const QString& title, const QString& filter) override;
    QString chooseFolder(QWidget* parent, const QString& title) override;
    QString inputBox(QWidget* parent, const QString& prompt, const QString& title,
        const QString& defaultText) override;
    Answer msgBox(QWidget* parent, const QString& text, Buttons buttons, Icon icon,
        const QString& title) override;
};

// Turns a "description|patterns|..." filter into QFileDialog's ";;"-separated form. Every
// pattern letter becomes a [xX] class so that "*.jpg" also offers Cat.JPG, whatever the
// dialog's own case rules; "*.*" becomes "*" (every file, with or without a dot). The
// descriptions keep their own "(*.bmp;...)": the open dialog hides the pattern group added
// here, so the user reads the descriptions alone.
QString qtFileFilter(const QString& filter);
