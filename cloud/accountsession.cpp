#include "cloud/accountsession.h"
#include "cloud/cloudlog.h"

#include "cloud/deviceid.h"
#include "cloud/networkservices.h"
#include "cloud/refreshtokenstore.h"

namespace {

const QString kUserId = QStringLiteral("AccountUserId");
const QString kEmail = QStringLiteral("AccountEmail");
const QString kUsername = QStringLiteral("AccountUsername");
const QString kRememberMe = QStringLiteral("AccountRememberMe");
const QString kSyncRevision = QStringLiteral("AccountSyncRevision");

bool endsSignIn(const QString &code)
{
    return code == QLatin1String("invalid_refresh_token") || code == QLatin1String("refresh_token_expired")
        || code == QLatin1String("refresh_token_reused");
}

} // namespace

AccountSession::AccountSession(NetworkServices *network, SettingsLocation location, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_location(std::move(location))
    , m_tokenStore(new RefreshTokenStore(m_location, this))
{
    m_deviceId = DeviceId::stored(*m_location.open());
    connect(m_network, &NetworkServices::accountResponse, this, &AccountSession::onAccountResponse);
    connect(m_network, &NetworkServices::networkError, this, &AccountSession::onNetworkError);
    connect(m_tokenStore, &RefreshTokenStore::loaded, this, &AccountSession::onTokenLoaded);
    m_refreshTimer.setSingleShot(true);
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] {
        if (!m_refreshPending)
            requestRefresh(m_deviceId);
        if (!m_refreshPending) // throttled: try again when the throttle allows
            m_refreshTimer.start(qMax<qint64>(100, RefreshThrottleMs - m_lastRefreshAttempt.elapsed()));
    });
}

AccountSession::~AccountSession() = default;

bool AccountSession::hasValidAccessToken() const
{
    return !m_accessToken.isEmpty() && m_accessExpiry.isValid()
        && QDateTime::currentDateTimeUtc().addSecs(ExpiryMarginSeconds) < m_accessExpiry;
}

QString AccountSession::displayName() const
{
    if (!m_email.isEmpty())
        return m_email;
    if (!m_username.isEmpty())
        return m_username;
    return tr("Not signed in");
}

bool AccountSession::requestRefresh(const QString &deviceId)
{
    if (m_refreshToken.isEmpty())
        return false;
    if (m_lastRefreshAttempt.isValid() && m_lastRefreshAttempt.elapsed() < RefreshThrottleMs)
        return true;
    m_lastRefreshAttempt.start();
    m_refreshPending = true;
    qCDebug(lcCloud) << "refreshing the access token";
    m_network->refreshToken(m_refreshToken, deviceId);
    return true;
}

void AccountSession::applyLogin(const QJsonObject &response)
{
    const QJsonObject user = response.value(QStringLiteral("user")).toObject();
    m_userId = user.value(QStringLiteral("id")).toInt();
    m_email = user.value(QStringLiteral("email")).toString();
    m_username = user.value(QStringLiteral("username")).toString();
    m_accessToken = response.value(QStringLiteral("access_token")).toString();
    if (response.contains(QStringLiteral("refresh_token")))
        m_refreshToken = response.value(QStringLiteral("refresh_token")).toString();
    m_accessExpiry =
        QDateTime::currentDateTimeUtc().addSecs(qint64(response.value(QStringLiteral("expires_in")).toDouble()));
    saveIdentity();
    scheduleRefresh();
    emit changed();
}

void AccountSession::applyQuota(const QJsonObject &response)
{
    const QJsonObject up = response.value(QStringLiteral("up")).toObject();
    const QJsonObject down = response.value(QStringLiteral("down")).toObject();
    auto bytes = [](const QJsonObject &o, const char *key) {
        return qint64(o.value(QLatin1String(key)).toDouble());
    };
    m_quota.known = true;
    m_quota.month = response.value(QStringLiteral("month")).toString();
    m_quota.enforced = response.value(QStringLiteral("enforced")).toBool();
    m_quota.upUsed = bytes(up, "used");
    m_quota.upLimit = bytes(up, "free_limit");
    m_quota.uploadRemaining = bytes(up, "remaining");
    m_quota.downUsed = bytes(down, "used");
    m_quota.downLimit = bytes(down, "free_limit");
    m_quota.purchasedBytes = bytes(response, "purchased_bytes");
    emit changed();
}

void AccountSession::setUploadRemaining(qint64 bytes, bool enforced)
{
    m_quota.uploadRemaining = bytes;
    m_quota.enforced = enforced;
}

void AccountSession::signOut()
{
    if (!m_refreshToken.isEmpty() || !m_accessToken.isEmpty())
        m_network->logout(m_refreshToken, m_accessToken);
    clear();
    emit changed();
}

void AccountSession::clear()
{
    m_refreshTimer.stop();
    m_tokenStore->remove(m_email);
    m_userId = 0;
    m_email.clear();
    m_username.clear();
    m_accessToken.clear();
    m_accessExpiry = QDateTime();
    m_refreshToken.clear();
    m_rememberMe = false;
    m_refreshPending = false;
    m_signInPending = false;
    m_quota = Quota();
    auto store = m_location.open();
    for (const QString &key : {kUserId, kEmail, kUsername, kRememberMe, kSyncRevision})
        store->remove(key);
}

void AccountSession::restore()
{
    auto store = m_location.open();
    m_userId = store->value(kUserId).toInt();
    m_email = store->value(kEmail).toString();
    m_username = store->value(kUsername).toString();
    m_rememberMe = store->value(kRememberMe).toBool();
    if (!m_rememberMe || m_email.isEmpty()) {
        // Nothing to come back with: the identity alone is no sign-in.
        for (const QString &key : {kUserId, kEmail, kUsername})
            store->remove(key);
        m_userId = 0;
        m_email.clear();
        m_username.clear();
        return;
    }
    m_tokenStore->load(m_email);
}

void AccountSession::onTokenLoaded(const QString &token)
{
    if (token.isEmpty()) {
        clear();
        emit changed();
        return;
    }
    m_refreshToken = token;
    emit changed();
    requestRefresh(m_deviceId);
}

void AccountSession::saveIdentity()
{
    auto store = m_location.open();
    store->setValue(kUserId, m_userId);
    store->setValue(kEmail, m_email);
    store->setValue(kUsername, m_username);
    store->setValue(kRememberMe, m_rememberMe);
    if (m_rememberMe && !m_refreshToken.isEmpty())
        m_tokenStore->save(m_email, m_refreshToken);
    else
        m_tokenStore->remove(m_email);
}

void AccountSession::scheduleRefresh()
{
    m_refreshTimer.stop();
    if (m_refreshToken.isEmpty())
        return;
    qint64 ms = RefreshThrottleMs;
    if (hasValidAccessToken()) {
        // Refresh while the token still counts as valid, leaving room for one
        // throttled retry before callers would find it spent.
        const QDateTime due = m_accessExpiry.addSecs(-ExpiryMarginSeconds).addMSecs(-RefreshThrottleMs);
        ms = qMax<qint64>(1000, QDateTime::currentDateTimeUtc().msecsTo(due));
    }
    m_refreshTimer.start(std::chrono::milliseconds(ms));
}

void AccountSession::onAccountResponse(const QJsonObject &response)
{
    const bool ok = response.value(QStringLiteral("status")).toBool();
    if (ok && response.contains(QStringLiteral("access_token"))) {
        const bool awaited = m_refreshPending || m_signInPending;
        m_refreshPending = m_signInPending = false;
        if (awaited)
            applyLogin(response);
        return;
    }
    if (!ok && !m_refreshPending)
        m_signInPending = false; // the sign-in was refused
    if (!m_refreshPending || ok)
        return;
    m_refreshPending = false;
    if (endsSignIn(response.value(QStringLiteral("code")).toString())) {
        qCInfo(lcCloud) << "refresh refused:" << response.value(QStringLiteral("code")).toString();
        clear();
        emit changed();
        emit signedOutByService(tr("Your cloud sign-in has ended. Please sign in again."));
        return;
    }
    scheduleRefresh();
}

void AccountSession::onNetworkError(const QString &domain, const QString &message, const QString &detail)
{
    Q_UNUSED(message);
    if (domain != QLatin1String("account"))
        return;
    m_signInPending = false;
    if (!m_refreshPending)
        return;
    qCInfo(lcCloud) << "refresh failed:" << detail;
    m_refreshPending = false;
    scheduleRefresh();
}
