#pragma once

#include "settings/appsettings.h"

#include <QSettings>
#include <QTemporaryDir>

// The settings of a first start, read from an empty settings file (never the user's).
inline AppSettings DefaultSettings()
{
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    AppSettings settings;
    settings.Load(store);
    return settings;
}
