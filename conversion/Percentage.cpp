// SPDX-License-Identifier: MIT

#include "conversion/Percentage.h"

#include "runtime/AppError.h"
#include "runtime/Runtime.h"

namespace Percentage {

namespace {

const QString AppName = QStringLiteral("Quorvane");
const QString Section = QStringLiteral("Pictelle");
const QString Key = QStringLiteral("SliderValue");

int fromText(const QString& stored)
{
    bool ok = false;
    const int value = stored.trimmed().toInt(&ok, 10);
    return ok && value >= 1 && value <= 100 ? value : Default;
}

} // namespace

int remembered()
{
    try {
        return fromText(Runtime::GetSetting(AppName, Section, Key, QString::number(Default)));
    } catch (const AppError&) {
        return Default;
    }
}

void remember(int value)
{
    Runtime::SaveSetting(AppName, Section, Key, QString::number(value));
}

} // namespace Percentage
