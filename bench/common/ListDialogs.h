// SPDX-License-Identifier: MIT

#pragma once

#include "runtime/Dialogs.h"

#include <QStringList>
#include <cstdio>

// Dialogs for benchmarks that drive the window: the open dialog returns `files`, the other
// questions are cancelled, and any message but "done" is printed on stderr.
class ListDialogs : public Dialogs
{
public:
    QStringList files;

    QStringList openFiles(QWidget*, const QString&, const QString&) override { return files; }
    QString chooseFolder(QWidget*, const QString&) override { return {}; }
    QString inputBox(QWidget*, const QString&, const QString&, const QString&) override
    {
        return {};
    }
    Answer msgBox(QWidget*, const QString& text, Buttons, Icon, const QString&) override
    {
        if (text != QLatin1String("done"))
            std::fprintf(stderr, "bench: %s\n", qPrintable(text));
        return Answer::Ok;
    }
};
