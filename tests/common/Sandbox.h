// SPDX-License-Identifier: MIT

#pragma once

#include "tests/common/TestUtils.h"

#include <QFile>
#include <QTemporaryDir>

// A program folder with links to the build's converters and reading program, and a folder of
// pictures, for tests that run conversions. Header only.
struct Sandbox
{
    QTemporaryDir program;
    QTemporaryDir pics;

    bool setUp()
    {
        if (!program.isValid() || !pics.isValid())
            return false;
        for (const char* tool : { "png2bmp", "bmp2png", "pictelle-read" })
            if (!QFile::link(TestUtils::binDir() + "/" + tool, program.filePath(tool)))
                return false;
        return true;
    }
    QString pic(const QString& name) const { return pics.filePath(name); }
};
