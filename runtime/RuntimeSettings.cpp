// SPDX-License-Identifier: MIT

#include "runtime/AppError.h"
#include "runtime/Runtime.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTime>
#include <bit>
#include <cstdint>
#include <mutex>
#include <random>
#include <unistd.h>
#include <vector>

namespace Runtime {

// ---------------------------------------------------------------------------------------
// Settings

QString settingsFilePath(const QString& appName)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QLatin1Char('/') + appName + QStringLiteral(".conf");
}

QString GetSetting(
    const QString& appName, const QString& section, const QString& key, const QString& defaultValue)
{
    QSettings settings(settingsFilePath(appName), QSettings::IniFormat);
    settings.beginGroup(section);
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return defaultValue;
    // An unquoted comma in a hand-edited file makes the INI reader return a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void SaveSetting(
    const QString& appName, const QString& section, const QString& key, const QString& value)
{
    const QString path = settingsFilePath(appName);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw AppError(ErrorNumber::PathFileAccess,
            QStringLiteral("Cannot create the folder of the settings file: ") + path);
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(section);
    settings.setValue(key, value);
    settings.endGroup();
    // The window may end the program right after a change: the value must be on disk now.
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw AppError(
            ErrorNumber::PathFileAccess, QStringLiteral("Cannot write the settings file: ") + path);
}

// ---------------------------------------------------------------------------------------
// Program, screen, random numbers

QString AppPath()
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return QCoreApplication::applicationDirPath();
        if (size_t(length) < buffer.size()) {
            QString exe = QFile::decodeName(QByteArray(buffer.data(), length));
            // The kernel marks an executable replaced on disk while running.
            if (exe.endsWith(QLatin1String(" (deleted)")))
                exe.chop(10);
            const QString folder = QFileInfo(exe).absolutePath();
            return folder;
        }
        buffer.resize(buffer.size() * 2);
    }
}

namespace {

struct RandomSource
{
    std::mutex mutex;
    std::mt19937 generator { 0x50494354u }; // fixed until Randomize, as the forms runtime did
};

RandomSource& randomSource()
{
    static RandomSource instance;
    return instance;
}

} // namespace

void Randomize(float seed)
{
    RandomSource& r = randomSource();
    std::lock_guard lock(r.mutex);
    r.generator.seed(std::bit_cast<std::uint32_t>(seed));
}

float Rnd()
{
    RandomSource& r = randomSource();
    std::lock_guard lock(r.mutex);
    // 24 random bits fill a float's mantissa exactly, so the result can never round up to 1.
    return float(r.generator() >> 8) * (1.0f / 16777216.0f);
}

float Timer()
{
    return float(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0f;
}

} // namespace Runtime
