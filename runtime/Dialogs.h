// SPDX-License-Identifier: MIT

#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The modal dialogs of the window: open dialog, folder chooser, prompt and message box.
// The window reaches them only through this interface so that tests can answer them
// without a dialog ever opening.
class Dialogs
{
public:
    enum class Buttons { OkOnly, YesNo };
    enum class Icon { None, Critical, Question };
    enum class Answer { Ok, Yes, No };

    virtual ~Dialogs() = default;

    // Multi-select open dialog. `filter` is in the "description|patterns|description|
    // patterns" form, patterns separated by ";" and matched regardless of letter case.
    // Returns the chosen files as full paths in the dialog's order; empty on Cancel.
    virtual QStringList openFiles(QWidget* parent, const QString& title, const QString& filter) = 0;
    // Folder chooser; returns the chosen folder, empty on Cancel.
    virtual QString chooseFolder(QWidget* parent, const QString& title) = 0;
    // One-line prompt; returns the text typed, empty on Cancel.
    virtual QString inputBox(
        QWidget* parent, const QString& prompt, const QString& title, const QString& defaultText)
        = 0;
    // Message box; returns the button pressed (Ok when it is closed otherwise and has only
    // OK, No when it has Yes and No).
    virtual Answer msgBox(
        QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title)
        = 0;
};
