#pragma once

#include "cloud/settingslocation.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace QKeychain {
class Job;
}

// Keeps the refresh token between runs: in the desktop's secret store where one
// answers, else scrambled in the settings ("AccountRefreshToken"). A token found
// in the settings moves into the secret store the first time it is read there.
// The secret store answers asynchronously, so every operation ends in a signal.
class RefreshTokenStore : public QObject
{
    Q_OBJECT
public:
    enum class Backend { Unknown, SecretStore, Settings };

    explicit RefreshTokenStore(SettingsLocation location, QObject *parent = nullptr);

    // Off: only the settings are used (also when the program is built without a
    // secret-store library).
    void setSecretStoreEnabled(bool enabled);
    Backend backend() const { return m_backend; }

    // `account` names the entry in the secret store (one per account).
    void load(const QString &account);
    void save(const QString &account, const QString &token);
    void remove(const QString &account);

    // Exclusive-or with a keystream from SHA-256 over `installation` and a fixed key
    // text; applying it twice gives the input back.
    static QByteArray scramble(const QByteArray &data, const QByteArray &installation);

signals:
    void loaded(const QString &token);
    void saved();

private:
    QByteArray installation() const;
    QString settingsToken() const;
    void writeSettingsToken(const QString &token);
    void removeSettingsToken();
    void writeSecret(const QString &account, const QString &token);

    SettingsLocation m_location;
    Backend m_backend = Backend::Unknown;
    bool m_secretEnabled = false;
};
