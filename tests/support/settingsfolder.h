#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <QString>

// Points the application's settings at a folder of the test's own, under the names the
// program uses, so a test never reads or writes the user's configuration.
inline void useSettingsFolder(const QString &folder)
{
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    QCoreApplication::setOrganizationName(QStringLiteral("VORTANE"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
}
