#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The service's settings, from its command line.
struct ServiceOptions
{
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 8787;
    QString database;       // empty: the default SQLite file
    QString tlsCertificate; // PEM files; both or neither
    QString tlsKey;
    int accessTokenTtlSeconds = 900;
    int refreshTokenTtlDays = 30;
    qint64 maxBodyBytes = 1024 * 1024;
    qint64 monthlyUploadLimit = 0; // bytes of console traffic per account; 0: unlimited

    // `add-user EMAIL` instead of serving.
    QString addUserEmail;
    QString addUserName;

    QString defaultDatabase() const;
    QString databaseUrl() const { return database.isEmpty() ? defaultDatabase() : database; }
};

// Parses the arguments (program name first). Returns false with the text for the
// user in `message`; `exitCode` is 0 when the text is the help or the version.
bool parseServiceOptions(const QStringList &arguments, ServiceOptions *options, QString *message,
                         int *exitCode);
