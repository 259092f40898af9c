// SPDX-License-Identifier: MIT

#pragma once

#include <QLoggingCategory>

// One category per layer, silent by default (warnings only). A bug report asks for
//   QT_LOGGING_RULES='pictelle.*.info=true' pictelle-batch ...
// which shows the decisions taken: scratch folder, decode scale, converter command lines and
// exit codes. Declared here, in the lowest layer, so that every layer names its own.
Q_DECLARE_LOGGING_CATEGORY(lcRuntime)
Q_DECLARE_LOGGING_CATEGORY(lcImaging)
Q_DECLARE_LOGGING_CATEGORY(lcConversion)
Q_DECLARE_LOGGING_CATEGORY(lcFileList)
Q_DECLARE_LOGGING_CATEGORY(lcBackground)
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcTools)
