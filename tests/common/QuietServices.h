// SPDX-License-Identifier: MIT

#pragma once

#include "app/Form1.h"

#include <memory>

// The window's services for tests and benchmarks: the dialogs given, a draw that opens no web
// page, nothing launched, the process never ended. Header only: the shared test library
// links no window.
inline Form1::Services quietServices(
    std::shared_ptr<Dialogs> dialogs, const QString& programFolder = QString())
{
    Form1::Services services;
    services.dialogs = std::move(dialogs);
    services.rnd = [] { return 0.5f; };
    services.launch = [](const QString&) {};
    services.endProgram = [] {};
    services.programFolder = programFolder;
    return services;
}
