// SPDX-License-Identifier: MIT

#pragma once

#include <QObject>
#include <QVariant>

namespace WhiteSlider {

// Reads a painter property as a 32-bit value; unset or non-numeric reads as 0. Unsigned and
// wider values keep their low 32 bits, so 0xFFFFFF and 0x8000000F read back as stored.
inline qint32 readProperty(const QObject* window, const char* name)
{
    const QVariant value = window->property(name);
    bool ok = false;
    const qlonglong n = value.toLongLong(&ok);
    return ok ? qint32(quint32(quint64(n))) : 0;
}

} // namespace WhiteSlider
