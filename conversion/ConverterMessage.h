// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A converter's standard error made fit for a message box.
namespace ConverterMessage {

// The most lines, and characters per line, a converter's reason keeps.
constexpr int maxLines = 3;
constexpr int maxLineLength = 240;

// The text of `bytes` with invalid UTF-8 shown as \xNN and control and direction-changing
// characters as \xNN or \u{NNNN}; line breaks ("\n", "\r") stay.
QString printable(const QByteArray& bytes);

// The reason in `errorOutput` (the converter's stderr, `truncated` when more was written):
// its non-empty lines, at most maxLines of maxLineLength, made printable and joined by
// "\n", "…" marking what was cut. The "<program>: <file>: " the converters put before their
// reason is dropped when `file` is one of `files`, which the message names anyway. Empty when
// the converter said nothing.
QString reason(const QByteArray& errorOutput, bool truncated, const QString& program,
    const QStringList& files);

} // namespace ConverterMessage
