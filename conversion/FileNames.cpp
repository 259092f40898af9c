// SPDX-License-Identifier: MIT

#include "conversion/FileNames.h"

#include "runtime/AppError.h"

namespace FileNames {
namespace {

// The original counters were signed 16-bit: longer names overflowed.
constexpr qsizetype maxShortCounter = 32767;

void checkShortCounter(const QString& name)
{
    if (name.size() > maxShortCounter)
        throw AppError::about(ErrorNumber::Overflow,
            QStringLiteral("a file name of %1 characters is too long").arg(name.size()));
}

} // namespace

QString GetFileName(const QString& path, QChar separator)
{
    return path.mid(path.lastIndexOf(separator) + 1);
}

QString GetExtension(const QString& name)
{
    checkShortCounter(name);
    return name.mid(name.lastIndexOf(QLatin1Char('.')) + 1);
}

QString GetBaseName(const QString& name)
{
    checkShortCounter(name);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        throw AppError::about(
            ErrorNumber::InvalidCall, QStringLiteral("\"%1\" has no dot").arg(name));
    return name.left(dot);
}

} // namespace FileNames
