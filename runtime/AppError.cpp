// SPDX-License-Identifier: MIT

#include "runtime/AppError.h"

AppError AppError::about(int number, const QString& subject)
{
    return AppError(number, QLatin1String(errorWords(number)) + QStringLiteral(": ") + subject);
}

AppError fileError(int errnoValue, const QString& path)
{
    return AppError(fileErrorNumber(errnoValue),
        QString::fromLocal8Bit(fileErrorWords(errnoValue)) + QStringLiteral(": ") + path);
}
