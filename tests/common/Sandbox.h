// SPDX-License-Identifier: MIT

#pragma once

#include "conversion/ConversionRun.h"
#include "tests/common/FakeRunHost.h"
#include "tests/common/TestUtils.h"

#include <QFile>
#include <QTemporaryDir>

// A program folder with links to the build's converters and reading program, a folder of
// pictures, and a host that goes on after a failed entry, for tests that run conversions.
// Header only.
struct Sandbox
{
    QTemporaryDir program;
    QTemporaryDir pics;
    FakeRunHost host;

    bool setUp()
    {
        if (!program.isValid() || !pics.isValid())
            return false;
        for (const char* tool : { "png2bmp", "bmp2png", "pictelle-read" })
            if (!QFile::link(TestUtils::binDir() + "/" + tool, program.filePath(tool)))
                return false;
        host.goOn = true;
        return true;
    }
    QString pic(const QString& name) const { return pics.filePath(name); }
    // Converts `entries` with `host`, as the window's run does.
    bool run(const QStringList& entries)
    {
        host.entries = int(entries.size());
        return ConversionRun::run({ entries, program.path() }, host);
    }
};
