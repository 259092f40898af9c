// SPDX-License-Identifier: MIT

#include "runtime/Logging.h"

Q_LOGGING_CATEGORY(lcRuntime, "pictelle.runtime", QtWarningMsg)
Q_LOGGING_CATEGORY(lcImaging, "pictelle.imaging", QtWarningMsg)
Q_LOGGING_CATEGORY(lcConversion, "pictelle.conversion", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFileList, "pictelle.filelist", QtWarningMsg)
Q_LOGGING_CATEGORY(lcBackground, "pictelle.background", QtWarningMsg)
Q_LOGGING_CATEGORY(lcApp, "pictelle.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTools, "pictelle.tools", QtWarningMsg)
