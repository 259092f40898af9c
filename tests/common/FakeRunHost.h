// SPDX-License-Identifier: MIT

#pragma once

#include "conversion/ConversionRun.h"
#include "runtime/AppError.h"

#include <QList>
#include <QStringList>
#include <functional>

// A conversion run's host for tests: records what the run tells it and answers every
// "go on?" as told. Header only: the shared test library links only the runtime layer.
class FakeRunHost : public ConversionRun::Host
{
public:
    int percent = 40;
    int entries = 0; // the list's entry count
    bool goOn = false; // the answer to every "go on?"
    // Called at each progress with the 1-based entry about to be worked on.
    std::function<void(int entry)> beforeEntry;

    QList<float> progress;
    int doneShown = 0;
    QList<AppError> errors;
    QList<bool> remainFlags;
    QStringList events; // "progress", "done" and "error <description>", in order

    int percentage() override { return percent; }
    int entryCount() override { return entries; }
    void setProgress(float value) override
    {
        progress.append(value);
        events << QStringLiteral("progress");
        if (beforeEntry)
            beforeEntry(int(value * entries / 100.0f + 0.5f));
    }
    void showDone() override
    {
        ++doneShown;
        events << QStringLiteral("done");
    }
    bool goOnAfter(const AppError& error, bool entriesRemain) override
    {
        errors.append(error);
        remainFlags.append(entriesRemain);
        events << QStringLiteral("error ") + error.description();
        return goOn;
    }
};
