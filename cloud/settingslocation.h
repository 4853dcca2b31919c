#pragma once

#include <QSettings>
#include <QString>

#include <memory>

// Where the cloud classes keep their keys: the application's native store, or an
// INI file of its own (two accounts side by side in one process, as tests need).
class SettingsLocation
{
public:
    SettingsLocation() = default;
    explicit SettingsLocation(QString iniFile) : m_iniFile(std::move(iniFile)) {}

    std::unique_ptr<QSettings> open() const
    {
        return m_iniFile.isEmpty() ? std::make_unique<QSettings>()
                                   : std::make_unique<QSettings>(m_iniFile, QSettings::IniFormat);
    }

private:
    QString m_iniFile;
};
