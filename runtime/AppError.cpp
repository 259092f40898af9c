// SPDX-License-Identifier: MIT

#include "runtime/AppError.h"

#include <cstring>

AppError AppError::about(int number, const QString& subject)
{
    return AppError(number, QLatin1String(errorWords(number)) + QStringLiteral(": ") + subject);
}

AppError AppError::withReason(const QString& reason) const
{
    if (reason.isEmpty())
        return *this;
    return AppError(m_number, m_description + QStringLiteral(": ") + reason);
}

QString systemReason(int errnoValue)
{
    return errnoValue == 0 ? QString() : QString::fromLocal8Bit(std::strerror(errnoValue));
}

AppError fileError(int errnoValue, const QString& path)
{
    return AppError(fileErrorNumber(errnoValue),
        QString::fromLocal8Bit(fileErrorWords(errnoValue)) + QStringLiteral(": ") + path);
}
