// SPDX-License-Identifier: MIT

#include "runtime/Translations.h"

#include "runtime/Logging.h"
#include "runtime/Runtime.h"
#include "runtime/files/ErrorWords.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTranslator>
#include <iterator>
#include <vector>

namespace Translations {
namespace {

// The English words of errors as they reach the user besides the error numbers' own
// (errorWords); "%1", "%2" stand for what they carry.
constexpr const char* otherWords[] = {
    QT_TRANSLATE_NOOP("Error", "Cannot write the settings file"),
    QT_TRANSLATE_NOOP("Error", "Cannot create the folder of the settings file"),
    QT_TRANSLATE_NOOP("Error", "The converter could not be started"),
    QT_TRANSLATE_NOOP("Error", "The converter wrote no PNG picture"),
    QT_TRANSLATE_NOOP("Error", "The file name is not valid UTF-8"),
    QT_TRANSLATE_NOOP("Error", "The converter did not write %1 from %2"),
    QT_TRANSLATE_NOOP("Error", "ended by signal %1 (%2)"),
    // What the converters say, by the kind of failure.
    QT_TRANSLATE_NOOP("Error", "not a PNG file"),
    QT_TRANSLATE_NOOP("Error", "file ends early"),
    QT_TRANSLATE_NOOP("Error", "unsupported pixel layout"),
    QT_TRANSLATE_NOOP("Error", "out of memory"),
    QT_TRANSLATE_NOOP("Error", "picture too large"),
    // Why a picture read in the program is refused, and why a JPEG was not written.
    QT_TRANSLATE_NOOP("Error", "ends early at byte %1"),
    QT_TRANSLATE_NOOP("Error", "ends early"),
    QT_TRANSLATE_NOOP("Error", "the file is empty"),
    QT_TRANSLATE_NOOP("Error", "not a JPEG file"),
    QT_TRANSLATE_NOOP("Error", "not a BMP file"),
    QT_TRANSLATE_NOOP("Error", "not a BMP, JPEG or icon file"),
    QT_TRANSLATE_NOOP("Error", "not a regular file"),
    QT_TRANSLATE_NOOP("Error", "no pixels"),
    QT_TRANSLATE_NOOP("Error", "more pixels than a picture may have"),
    QT_TRANSLATE_NOOP("Error", "more than %1 scans"),
    QT_TRANSLATE_NOOP("Error", "unsupported colour space of %1 components"),
    QT_TRANSLATE_NOOP("Error", "an unsupported kind of header"),
    QT_TRANSLATE_NOOP("Error", "an unsupported number of bits per pixel"),
    QT_TRANSLATE_NOOP("Error", "Cannot save the image. GDI+ Error:%1"),
    QT_TRANSLATE_NOOP("Error", "The reading program handed back no picture (%1)"),
    QT_TRANSLATE_NOOP("Error", "The WebP thumbnail could not be made (%1)"),
    QT_TRANSLATE_NOOP("Error", "The TIFF thumbnail could not be made (%1%2)"),
    QT_TRANSLATE_NOOP("Error", "The GIF thumbnail could not be made (%1)"),
};

struct Wording
{
    QString english;
    QRegularExpression pattern; // set for words that carry "%n"
};

const std::vector<Wording>& wordings()
{
    static const std::vector<Wording> table = [] {
        std::vector<Wording> out;
        static const QRegularExpression argument(QStringLiteral("%[1-9]"));
        std::vector<const char*> english;
        for (int number : ErrorNumber::all)
            english.push_back(errorWords(number));
        english.insert(english.end(), std::begin(otherWords), std::end(otherWords));
        for (const char* words : english) {
            Wording wording { QString::fromLatin1(words), {} };
            if (wording.english.contains(argument)) {
                QString expression;
                qsizetype done = 0;
                for (const QRegularExpressionMatch& m : argument.globalMatch(wording.english)) {
                    expression += QRegularExpression::escape(
                                      wording.english.mid(done, m.capturedStart() - done))
                        + QStringLiteral("(.*)");
                    done = m.capturedEnd();
                }
                expression += QRegularExpression::escape(wording.english.mid(done));
                wording.pattern
                    = QRegularExpression(QRegularExpression::anchoredPattern(expression));
            }
            out.push_back(std::move(wording));
        }
        return out;
    }();
    return table;
}

QString translatePart(const QString& part)
{
    for (const Wording& wording : wordings()) {
        if (!wording.pattern.pattern().isEmpty()) {
            const QRegularExpressionMatch match = wording.pattern.match(part);
            if (!match.hasMatch())
                continue;
            const QString out = QCoreApplication::translate("Error", wording.english.toLatin1());
            // In one call, so that a "%2" inside the first argument stays as it is.
            return match.lastCapturedIndex() == 1 ? out.arg(match.captured(1))
                                                  : out.arg(match.captured(1), match.captured(2));
        }
        if (part == wording.english)
            return QCoreApplication::translate("Error", wording.english.toLatin1());
    }
    return part;
}

bool load(QCoreApplication& app, const QString& name, const QString& directory)
{
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(), name, QStringLiteral("_"), directory)
        && QCoreApplication::installTranslator(translator)) {
        qCInfo(lcRuntime).noquote() << "translation" << translator->filePath() << "loaded";
        return true;
    }
    delete translator;
    return false;
}

} // namespace

QString folder()
{
    return Runtime::AppPath() + QStringLiteral("/translations");
}

void install(QCoreApplication& app)
{
    const QLocale locale;
    if (locale.language() == QLocale::C || locale.language() == QLocale::English)
        return;
    load(app, QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    load(app, QStringLiteral("pictelle"), folder());
}

QString errorDescription(const QString& description)
{
    const QString separator = QStringLiteral(": ");
    QStringList lines = description.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        QStringList parts = line.split(separator);
        for (QString& part : parts)
            part = translatePart(part);
        line = parts.join(separator);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace Translations
