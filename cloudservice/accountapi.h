#pragma once

#include "cloudservice/apirouter.h"
#include "cloudservice/cloudstore.h"
#include "cloudservice/loginthrottle.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QRegularExpression>

class PasswordWorker;

// Accounts and sign-in: registration codes, registration, log-in with an access token
// and a refresh token, refresh with rotation (a refresh token used twice ends its whole
// sign-in), log-out, the current account and binding a device to it.
class AccountApi
{
public:
    struct Settings
    {
        int accessTtlSeconds = 900;
        int refreshTtlDays = 30;
        int maxDevices = 100;
        qint64 codeLifetimeMs = 15 * 60 * 1000;
        qint64 codeResendMs = 60 * 1000;
        int codeAttempts = 5;
    };

    AccountApi(CloudStore *store, PasswordWorker *worker, const Settings &settings);

    void addRoutes(ApiRouter &router);
    void prune();

    static QString normalizedEmail(const QString &email);
    static bool validEmail(const QString &email);
    // Empty when the password is acceptable, else why not.
    static QString passwordProblem(const QString &password);
    static const QRegularExpression &cidPattern();
    static QJsonObject userJson(const CloudStore::Account &account);
    static QJsonObject deviceJson(const CloudStore::Device &device, qint64 now);
    static QJsonValue timeJson(qint64 ms);

private:
    ApiReply requestCode(ApiRequest &call);
    ApiReply registerAccount(ApiRequest &call);
    ApiReply login(ApiRequest &call);
    ApiReply refresh(ApiRequest &call);
    ApiReply logout(ApiRequest &call);
    ApiReply me(ApiRequest &call);
    ApiReply bind(ApiRequest &call);

    // Binds the device named in the body (if any), opens or continues a token family
    // and answers with a fresh token pair.
    ApiReply signedIn(const CloudStore::Account &account, qint64 familyId, const QString &cid,
                      const QString &deviceName, const QString &clientVersion);
    ApiReply throttled(qint64 retryAfterMs, const QString &code, const QString &description) const;
    qint64 now() const;

    CloudStore *m_store;
    PasswordWorker *m_worker;
    Settings m_settings;
    QElapsedTimer m_clock; // for the throttles
    LoginThrottle m_failuresByEmail;
    LoginThrottle m_failuresByAddress;
    LoginThrottle m_codesByAddress;
    QString m_dummyHash;
};
