// SPDX-License-Identifier: MIT

#pragma once

#include "runtime/Dialogs.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <algorithm>

// Dialogs for window tests that answer from a script and remember what they were asked.
// Header only: the shared test library links no widgets.
class FakeDialogs : public Dialogs
{
public:
    struct Message
    {
        QString text;
        Buttons buttons;
        QString title;
    };

    QStringList filesToReturn;
    QString folderToReturn; // empty: Cancel
    QString extensionToReturn; // empty: Cancel
    Answer answer = Answer::No;
    QList<QPair<QString, QString>> openCalls; // title, filter
    QStringList asked; // "prompt|title|default" and "chooser|title", in order
    QList<Message> messages;

    QStringList openFiles(QWidget*, const QString& title, const QString& filter) override
    {
        openCalls.append({ title, filter });
        return filesToReturn;
    }
    QString chooseFolder(QWidget*, const QString& title) override
    {
        asked << QStringLiteral("chooser|") + title;
        return folderToReturn;
    }
    QString inputBox(
        QWidget*, const QString& prompt, const QString& title, const QString& defaultText) override
    {
        asked << prompt + QLatin1Char('|') + title + QLatin1Char('|') + defaultText;
        return extensionToReturn;
    }
    Answer msgBox(
        QWidget*, const QString& text, Buttons buttons, Icon, const QString& title) override
    {
        messages.append({ text, buttons, title });
        return buttons == Buttons::YesNo ? answer : Answer::Ok;
    }
    int doneCount() const
    {
        return int(std::count_if(messages.begin(), messages.end(),
            [](const Message& m) { return m.text == QLatin1String("done"); }));
    }
};
