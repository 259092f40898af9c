// SPDX-License-Identifier: MIT

#include "conversion/ConverterMessage.h"

#include <utility>

namespace ConverterMessage {
namespace {

// The code point of the UTF-8 sequence at `i` and its length; length 0 when the bytes there
// are no valid UTF-8 (overlong forms and surrogates included).
std::pair<char32_t, int> decodeAt(const QByteArray& bytes, qsizetype i)
{
    const auto lead = uchar(bytes[i]);
    if (lead < 0x80)
        return { lead, 1 };
    int length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return { 0, 0 };
    }
    if (i + length > bytes.size())
        return { 0, 0 };
    for (int k = 1; k < length; ++k) {
        const auto next = uchar(bytes[i + k]);
        if ((next & 0xC0) != 0x80)
            return { 0, 0 };
        code = (code << 6) | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return { 0, 0 };
    return { code, length };
}

// Characters that would reorder, hide or break the text around them.
bool mustEscape(char32_t code)
{
    if (code == '\n' || code == '\r')
        return false;
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x200B && code <= 0x200F)
        || (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069)
        || code == 0xFEFF;
}

QString escaped(char32_t code)
{
    if (code <= 0xFF)
        return QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'));
    return QStringLiteral("\\u{%1}").arg(uint(code), 4, 16, QLatin1Char('0'));
}

// `line` without the "<program>: <file>: " before the converter's own words.
QString withoutPrefix(QString line, const QString& program, const QStringList& files)
{
    const QString start = program + QStringLiteral(": ");
    if (program.isEmpty() || !line.startsWith(start))
        return line;
    for (const QString& file : files) {
        const QString named = start + file + QStringLiteral(": ");
        if (!file.isEmpty() && line.startsWith(named) && line.size() > named.size())
            return line.mid(named.size());
    }
    return line;
}

const QChar ellipsis(0x2026);

// `line` cut to maxLineLength characters, never between the halves of a surrogate pair.
QString shortened(const QString& line)
{
    if (line.size() <= maxLineLength)
        return line;
    qsizetype keep = maxLineLength - 1;
    if (line.at(keep - 1).isHighSurrogate())
        --keep;
    return line.left(keep) + ellipsis;
}

} // namespace

QString printable(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const auto [code, length] = decodeAt(bytes, i);
        if (length == 0) {
            text += escaped(uchar(bytes[i]));
            ++i;
            continue;
        }
        if (mustEscape(code))
            text += escaped(code);
        else
            text += QString::fromUcs4(&code, 1);
        i += length;
    }
    return text;
}

QString reason(
    const QByteArray& errorOutput, bool truncated, const QString& program, const QStringList& files)
{
    QString text = printable(errorOutput);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines;
    bool cut = truncated;
    for (const QString& piece : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString line = withoutPrefix(piece.trimmed(), program, files);
        if (line.isEmpty())
            continue;
        if (lines.size() == maxLines) {
            cut = true;
            break;
        }
        lines.append(shortened(line));
    }
    if (cut && !lines.isEmpty() && !lines.last().endsWith(ellipsis))
        lines.last() += ellipsis;
    return lines.join(QLatin1Char('\n'));
}

} // namespace ConverterMessage
