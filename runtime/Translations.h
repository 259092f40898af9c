// SPDX-License-Identifier: MIT

#pragma once

#include <QString>

class QCoreApplication;

// The user's language for Pictelle's texts and Qt's own (its standard buttons and dialogs).
namespace Translations {

// Installs on `app` the translations for the desktop's language (QLocale::system(), taken from
// LANGUAGE, LC_ALL, LC_MESSAGES and LANG): Pictelle's from "translations" in the program folder,
// Qt's from Qt's translations folder. English, the C locale and a language without a
// translation leave every text as written.
void install(QCoreApplication& app);

// The folder Pictelle's translations are read from: "translations" in the program folder.
QString folder();

// A runtime error's description in the user's language. Each line is taken apart at ": ";
// a part that is the known English wording of an error (an error number's words such as
// "File not found", or a sentence such as "The converter did not write %1 from %2") is
// translated, everything else (paths, the system's and the converters' reasons) is kept.
QString errorDescription(const QString& description);

} // namespace Translations
