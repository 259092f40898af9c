// SPDX-License-Identifier: MIT

#pragma once

#include "runtime/files/ErrorWords.h"

#include <QString>
#include <stdexcept>

// The one error type of Pictelle: a runtime error number and a description that names
// the file concerned, since the user has no other way to learn which entry failed.
class AppError : public std::runtime_error
{
public:
    AppError(int number, const QString& description)
        : std::runtime_error(description.toStdString())
        , m_number(number)
        , m_description(description)
    {
    }

    // Error `number` about `subject` (a path, or what was wrong), described as
    // "<errorWords(number)>: <subject>", e.g. "Invalid picture: /home/ann/Pics/Cat.bmp".
    static AppError about(int number, const QString& subject);

    int number() const noexcept { return m_number; }
    const QString& description() const noexcept { return m_description; }

    // The same error with the reason the system or a decoder gave after its words, the way a
    // converter's reason follows its message: "<description>: <reason>". Unchanged when
    // `reason` is empty. The number stays, since callers act on it.
    AppError withReason(const QString& reason) const;

private:
    int m_number;
    QString m_description;
};

// Maps an errno value from a failed file operation on `path` to a runtime error with a
// description such as "Permission denied: /home/ann/Pics/tCat.jpg"; a missing file gives
// 53 "File not found: <path>".
AppError fileError(int errnoValue, const QString& path);

// The system's words for an errno value ("No space left on device"); empty for 0.
QString systemReason(int errnoValue);
