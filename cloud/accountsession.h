#pragma once

#include "cloud/settingslocation.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

class NetworkServices;
class RefreshTokenStore;

// The one place where the signed-in identity and the tokens live. It applies every
// sign-in answer (from the dialog's sign-in as from its own refreshes), refreshes
// the access token before it runs out, and keeps the refresh token between runs
// only when the user asked to stay signed in.
class AccountSession : public QObject
{
    Q_OBJECT
public:
    // An access token closer than this to its expiry counts as spent.
    static constexpr int ExpiryMarginSeconds = 30;
    // At most one refresh request in this time.
    static constexpr int RefreshThrottleMs = 15000;

    AccountSession(NetworkServices *network, SettingsLocation location = {}, QObject *parent = nullptr);
    ~AccountSession() override;

    NetworkServices *network() const { return m_network; }
    RefreshTokenStore *tokenStore() const { return m_tokenStore; }
    QString deviceId() const { return m_deviceId; }

    bool hasValidAccessToken() const;
    QString accessToken() const { return m_accessToken; }
    QDateTime accessExpiry() const { return m_accessExpiry; }
    // Signed in: an access token, or a refresh token to get one.
    bool isSignedIn() const { return !m_accessToken.isEmpty() || !m_refreshToken.isEmpty(); }
    int userId() const { return m_userId; }
    QString email() const { return m_email; }
    QString username() const { return m_username; }
    QString displayName() const;

    // False without a refresh token; true when a request was sent or one was sent
    // less than RefreshThrottleMs ago (callers retry on their next tick).
    bool requestRefresh(const QString &deviceId);
    void applyLogin(const QJsonObject &response);
    // A sign-in (log-in or registration) is on its way; its answer will be applied,
    // and `remember` says whether it keeps the refresh token between runs. Sign-in
    // answers nobody waits for (a refresh answered after signing out) are ignored.
    void beginSignIn(bool remember)
    {
        m_rememberMe = remember;
        m_signInPending = true;
    }
    void applyQuota(const QJsonObject &response);
    void setUploadRemaining(qint64 bytes, bool enforced);
    void signOut();
    // Loads the stored identity and, with a kept refresh token, signs in again.
    void restore();

    // Quota, as the last cloud quota answer gave it.
    struct Quota
    {
        bool known = false;
        bool enforced = false;
        qint64 uploadRemaining = -1;
        QString month;
        qint64 upUsed = 0;
        qint64 upLimit = 0;
        qint64 downUsed = 0;
        qint64 downLimit = 0;
        qint64 purchasedBytes = 0;
    };
    const Quota &quota() const { return m_quota; }

signals:
    void changed();
    // The service ended the sign-in (a refresh refused); `reason` is for the user.
    void signedOutByService(const QString &reason);

private:
    void onAccountResponse(const QJsonObject &response);
    void onNetworkError(const QString &domain, const QString &message, const QString &detail);
    void onTokenLoaded(const QString &token);
    void scheduleRefresh();
    void saveIdentity();
    void clear();

    NetworkServices *m_network;
    SettingsLocation m_location;
    RefreshTokenStore *m_tokenStore;
    QString m_deviceId;

    int m_userId = 0;
    QString m_email;
    QString m_username;
    QString m_accessToken;
    QDateTime m_accessExpiry;
    QString m_refreshToken;
    bool m_rememberMe = false;
    QElapsedTimer m_lastRefreshAttempt;
    bool m_refreshPending = false;
    bool m_signInPending = false;
    Quota m_quota;
    QTimer m_refreshTimer;
};
