#include "cloudservice/accountapi.h"

#include "cloudservice/credentials.h"
#include "cloudservice/servicelog.h"

#include <QDateTime>
#include <QJsonArray>
#include <QRandomGenerator>

namespace {
const QString kAccount = QStringLiteral("account");

LoginThrottle::Policy emailPolicy()
{
    return {};
}

LoginThrottle::Policy addressPolicy()
{
    LoginThrottle::Policy policy;
    policy.freeFailures = 20;
    return policy;
}

// Every code request counts: ten an hour per client address.
LoginThrottle::Policy codePolicy()
{
    LoginThrottle::Policy policy;
    policy.freeFailures = 10;
    policy.windowMs = 60 * 60 * 1000;
    policy.firstLockMs = 10 * 60 * 1000;
    policy.maxLockMs = 60 * 60 * 1000;
    return policy;
}
}

AccountApi::AccountApi(CloudStore *store, PasswordWorker *worker, const Settings &settings)
    : m_store(store), m_worker(worker), m_settings(settings), m_failuresByEmail(emailPolicy()),
      m_failuresByAddress(addressPolicy()), m_codesByAddress(codePolicy())
{
    m_clock.start();
    // Unknown addresses are checked against this, so they take as long as known ones.
    m_dummyHash = QStringLiteral("pbkdf2-sha256$%1$AAAAAAAAAAAAAAAAAAAAAA==$AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=")
                          .arg(Credentials::kIterations);
}

void AccountApi::addRoutes(ApiRouter &router)
{
    using M = QHttpServerRequest::Method;
    using A = ApiRouter::Access;
    const auto bindTo = [this](ApiReply (AccountApi::*handler)(ApiRequest &)) {
        return [this, handler](ApiRequest &call) { return (this->*handler)(call); };
    };
    router.add(M::Post, QStringLiteral("/api/v3/account/register/code"), kAccount, A::Public,
               bindTo(&AccountApi::requestCode));
    router.add(M::Post, QStringLiteral("/api/v3/account/register"), kAccount, A::Public,
               bindTo(&AccountApi::registerAccount));
    router.add(M::Post, QStringLiteral("/api/v3/account/login"), kAccount, A::Public, bindTo(&AccountApi::login));
    router.add(M::Post, QStringLiteral("/api/v3/account/token/refresh"), kAccount, A::Public,
               bindTo(&AccountApi::refresh));
    router.add(M::Post, QStringLiteral("/api/v3/account/logout"), kAccount, A::Public, bindTo(&AccountApi::logout));
    router.add(M::Get, QStringLiteral("/api/v3/account/me"), kAccount, A::Bearer, bindTo(&AccountApi::me));
    router.add(M::Post, QStringLiteral("/api/v3/account/devices/bind"), kAccount, A::Bearer,
               bindTo(&AccountApi::bind));
}

void AccountApi::prune()
{
    const qint64 tick = m_clock.elapsed();
    m_failuresByEmail.prune(tick);
    m_failuresByAddress.prune(tick);
    m_codesByAddress.prune(tick);
}

QString AccountApi::normalizedEmail(const QString &email)
{
    return email.trimmed().toLower();
}

bool AccountApi::validEmail(const QString &email)
{
    static const QRegularExpression pattern(QStringLiteral("^[^@\\s]+@[^@\\s]+\\.[^@\\s]+$"));
    return email.size() <= 254 && pattern.match(email).hasMatch();
}

QString AccountApi::passwordProblem(const QString &password)
{
    if (password.size() < 8)
        return QStringLiteral("The password needs at least 8 characters.");
    if (password.size() > 1024)
        return QStringLiteral("The password is longer than 1024 characters.");
    return {};
}

const QRegularExpression &AccountApi::cidPattern()
{
    static const QRegularExpression pattern(QStringLiteral(
            "^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$"));
    return pattern;
}

QJsonValue AccountApi::timeJson(qint64 ms)
{
    if (ms <= 0)
        return QJsonValue::Null;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QJsonObject AccountApi::userJson(const CloudStore::Account &account)
{
    return {{QStringLiteral("id"), account.id},
            {QStringLiteral("email"), account.email},
            {QStringLiteral("username"), account.username},
            {QStringLiteral("created_at"), timeJson(account.createdAt)}};
}

QJsonObject AccountApi::deviceJson(const CloudStore::Device &device, qint64 now)
{
    // Heartbeats come every 20 s; three missed ones make a device offline.
    const bool online = device.lastSeen > 0 && now - device.lastSeen < 70 * 1000;
    return {{QStringLiteral("cid"), device.cid},
            {QStringLiteral("device_name"), device.deviceName},
            {QStringLiteral("client_version"), device.clientVersion},
            {QStringLiteral("hostname"), device.hostname},
            {QStringLiteral("bound_at"), timeJson(device.boundAt)},
            {QStringLiteral("last_seen"), timeJson(device.lastSeen)},
            {QStringLiteral("online"), online}};
}

qint64 AccountApi::now() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

ApiReply AccountApi::throttled(qint64 retryAfterMs, const QString &code, const QString &description) const
{
    const qint64 seconds = (retryAfterMs + 999) / 1000;
    ApiReply reply = ApiReply::failure(429, kAccount, code, description.arg(seconds));
    reply.body.insert(QStringLiteral("retry_after"), seconds);
    reply.headers.append({QByteArrayLiteral("Retry-After"), QByteArray::number(seconds)});
    return reply;
}

ApiReply AccountApi::requestCode(ApiRequest &call)
{
    FieldReader fields(call.body, kAccount);
    const QString email = normalizedEmail(fields.text("email", 254));
    if (!fields.ok())
        return fields.error();
    if (!validEmail(email))
        return ApiReply::failure(400, kAccount, QStringLiteral("invalid_email"),
                                 QStringLiteral("Please enter a valid email address."));
    const QString addressKey = call.remote.toString();
    if (const qint64 wait = m_codesByAddress.retryAfter(addressKey, m_clock.elapsed()))
        return throttled(wait, QStringLiteral("too_many_requests"),
                         QStringLiteral("Too many codes requested. Try again in %1 seconds."));
    const qint64 sentAt = m_store->registrationCodeSentAt(email);
    if (sentAt > 0 && call.now - sentAt < m_settings.codeResendMs)
        return throttled(m_settings.codeResendMs - (call.now - sentAt), QStringLiteral("too_many_requests"),
                         QStringLiteral("A code was sent a moment ago. Try again in %1 seconds."));
    m_codesByAddress.failed(addressKey, m_clock.elapsed());
    // The answer is the same whether the address has an account, so it reveals none.
    if (m_store->accountByEmail(email)) {
        serviceLog(QStringLiteral("registration code requested for %1, which already has an account; none sent")
                           .arg(email));
    } else if (!m_store->failed()) {
        const QString code = QStringLiteral("%1").arg(QRandomGenerator::system()->bounded(1000000), 6, 10,
                                                      QLatin1Char('0'));
        if (m_store->putRegistrationCode(email, Credentials::tokenDigest(code),
                                         call.now + m_settings.codeLifetimeMs, call.now))
            serviceLog(QStringLiteral("registration code for %1: %2 (valid for %3 minutes)")
                               .arg(email, code)
                               .arg(m_settings.codeLifetimeMs / 60000));
    }
    return ApiReply::success(kAccount,
                             {{QStringLiteral("description"),
                               QStringLiteral("A registration code was sent to %1.").arg(email)},
                              {QStringLiteral("expires_in"), m_settings.codeLifetimeMs / 1000}});
}

ApiReply AccountApi::registerAccount(ApiRequest &call)
{
    FieldReader fields(call.body, kAccount);
    const QString email = normalizedEmail(fields.text("email", 254));
    const QString username = fields.text("username", 64).trimmed();
    const QString password = fields.text("password", 1024);
    const QString code = fields.text("code", 16).trimmed();
    const QString cid = fields.matching("cid", cidPattern(), false).toLower();
    const QString deviceName = fields.text("device_name", 128, false);
    const QString clientVersion = fields.text("client_version", 64, false);
    if (!fields.ok())
        return fields.error();
    if (!validEmail(email))
        return ApiReply::failure(400, kAccount, QStringLiteral("invalid_email"),
                                 QStringLiteral("Please enter a valid email address."));
    if (const QString problem = passwordProblem(password); !problem.isEmpty())
        return ApiReply::failure(400, kAccount, QStringLiteral("weak_password"), problem);
    switch (m_store->checkRegistrationCode(email, Credentials::tokenDigest(code), call.now,
                                           m_settings.codeAttempts)) {
    case CloudStore::CodeCheck::Missing:
        return ApiReply::failure(400, kAccount, QStringLiteral("invalid_code"),
                                 QStringLiteral("There is no valid registration code for this email. "
                                                "Request a new one."));
    case CloudStore::CodeCheck::Wrong:
        return ApiReply::failure(400, kAccount, QStringLiteral("invalid_code"),
                                 QStringLiteral("The registration code is wrong."));
    case CloudStore::CodeCheck::Valid:
        break;
    }
    if (m_store->accountByEmail(email))
        return ApiReply::failure(409, kAccount, QStringLiteral("email_taken"),
                                 QStringLiteral("An account with this email exists. Sign in instead."));
    if (m_store->failed())
        return {};
    const ApiResponder respond = call.respond;
    const bool queued = m_worker->hash(password, [=, this](const QString &hash) {
        m_store->clearFailure();
        const qint64 id = m_store->createAccount(email, username, hash, now());
        const auto account = id > 0 ? m_store->account(id) : std::nullopt;
        if (!account) {
            respond(m_store->failed()
                            ? ApiReply::failure(500, kAccount, QStringLiteral("storage_error"),
                                                QStringLiteral("The service could not reach its database."))
                            : ApiReply::failure(409, kAccount, QStringLiteral("email_taken"),
                                                QStringLiteral("An account with this email exists.")));
            return;
        }
        m_store->dropRegistrationCode(email);
        serviceLog(QStringLiteral("account registered: %1").arg(email));
        respond(signedIn(*account, 0, cid, deviceName, clientVersion));
    });
    if (!queued)
        return ApiReply::failure(503, kAccount, QStringLiteral("busy"),
                                 QStringLiteral("The service is busy. Please try again shortly."));
    return ApiReply::later();
}

ApiReply AccountApi::login(ApiRequest &call)
{
    FieldReader fields(call.body, kAccount);
    const QString email = normalizedEmail(fields.text("email", 254));
    const QString password = fields.text("password", 1024);
    const QString cid = fields.matching("cid", cidPattern(), false).toLower();
    const QString deviceName = fields.text("device_name", 128, false);
    const QString clientVersion = fields.text("client_version", 64, false);
    if (!fields.ok())
        return fields.error();
    const QString emailKey = email;
    const QString addressKey = call.remote.toString();
    const qint64 wait = qMax(m_failuresByEmail.retryAfter(emailKey, m_clock.elapsed()),
                             m_failuresByAddress.retryAfter(addressKey, m_clock.elapsed()));
    if (wait > 0)
        return throttled(wait, QStringLiteral("too_many_attempts"),
                         QStringLiteral("Too many failed sign-ins. Try again in %1 seconds."));
    const auto account = m_store->accountByEmail(email);
    if (m_store->failed())
        return {};
    const ApiResponder respond = call.respond;
    const auto checked = [=, this](bool match) {
        m_store->clearFailure();
        const qint64 tick = m_clock.elapsed();
        if (!account || !match) {
            m_failuresByEmail.failed(emailKey, tick);
            m_failuresByAddress.failed(addressKey, tick);
            qCInfo(lcCloud) << "failed sign-in for" << email << "from" << addressKey;
            respond(ApiReply::failure(401, kAccount, QStringLiteral("invalid_credentials"),
                                      QStringLiteral("Incorrect email or password.")));
            return;
        }
        m_failuresByEmail.succeeded(emailKey);
        respond(signedIn(*account, 0, cid, deviceName, clientVersion));
    };
    if (!m_worker->verify(password, account ? account->passwordHash : m_dummyHash, checked))
        return ApiReply::failure(503, kAccount, QStringLiteral("busy"),
                                 QStringLiteral("The service is busy. Please try again shortly."));
    return ApiReply::later();
}

ApiReply AccountApi::signedIn(const CloudStore::Account &account, qint64 familyId, const QString &cid,
                              const QString &deviceName, const QString &clientVersion)
{
    const qint64 at = now();
    QJsonObject members{{QStringLiteral("user"), userJson(account)}};
    if (!cid.isEmpty()) {
        const auto device = m_store->bindDevice(account.id, cid, deviceName, clientVersion, at,
                                                m_settings.maxDevices);
        if (!device) {
            if (m_store->failed())
                return ApiReply::failure(500, kAccount, QStringLiteral("storage_error"),
                                         QStringLiteral("The service could not reach its database."));
            return ApiReply::failure(403, kAccount, QStringLiteral("too_many_devices"),
                                     QStringLiteral("This account has %1 devices already.")
                                             .arg(m_settings.maxDevices));
        }
        members.insert(QStringLiteral("device"), deviceJson(*device, at));
    }
    if (familyId == 0)
        familyId = m_store->createTokenFamily(account.id, cid, at);
    const QString access = Credentials::newToken();
    const QString refresh = Credentials::newToken();
    const qint64 refreshLifetime = qint64(m_settings.refreshTtlDays) * 24 * 3600 * 1000;
    if (familyId == 0
        || !m_store->storeTokens(familyId, Credentials::tokenDigest(access),
                                 at + qint64(m_settings.accessTtlSeconds) * 1000,
                                 Credentials::tokenDigest(refresh), at + refreshLifetime))
        return ApiReply::failure(500, kAccount, QStringLiteral("storage_error"),
                                 QStringLiteral("The service could not reach its database."));
    members.insert(QStringLiteral("access_token"), access);
    members.insert(QStringLiteral("refresh_token"), refresh);
    members.insert(QStringLiteral("token_type"), QStringLiteral("Bearer"));
    members.insert(QStringLiteral("expires_in"), m_settings.accessTtlSeconds);
    members.insert(QStringLiteral("refresh_expires_in"), refreshLifetime / 1000);
    return ApiReply::success(kAccount, members);
}

ApiReply AccountApi::refresh(ApiRequest &call)
{
    FieldReader fields(call.body, kAccount);
    const QString token = fields.text("refresh_token", 128);
    fields.matching("cid", cidPattern(), false);
    if (!fields.ok())
        return fields.error();
    qint64 familyId = 0;
    qint64 accountId = 0;
    switch (m_store->useRefreshToken(Credentials::tokenDigest(token), call.now, &familyId, &accountId)) {
    case CloudStore::RefreshOutcome::Unknown:
        return ApiReply::failure(401, kAccount, QStringLiteral("invalid_refresh_token"),
                                 QStringLiteral("This sign-in is no longer valid. Please sign in again."));
    case CloudStore::RefreshOutcome::Expired:
        return ApiReply::failure(401, kAccount, QStringLiteral("refresh_token_expired"),
                                 QStringLiteral("This sign-in has expired. Please sign in again."));
    case CloudStore::RefreshOutcome::Reused:
        serviceLog(QStringLiteral("refresh token of account %1 used twice; its sign-in was revoked").arg(accountId));
        return ApiReply::failure(401, kAccount, QStringLiteral("refresh_token_reused"),
                                 QStringLiteral("This sign-in was ended for safety. Please sign in again."));
    case CloudStore::RefreshOutcome::Rotated:
        break;
    }
    const auto account = m_store->account(accountId);
    if (!account)
        return ApiReply::failure(401, kAccount, QStringLiteral("invalid_refresh_token"),
                                 QStringLiteral("This sign-in is no longer valid. Please sign in again."));
    return signedIn(*account, familyId, QString(), QString(), QString());
}

ApiReply AccountApi::logout(ApiRequest &call)
{
    FieldReader fields(call.body, kAccount);
    const QString token = fields.text("refresh_token", 128, false);
    if (!fields.ok())
        return fields.error();
    if (!token.isEmpty()) {
        if (const qint64 family = m_store->familyOfRefreshToken(Credentials::tokenDigest(token)))
            m_store->revokeFamily(family);
    }
    if (!call.token.isEmpty()) {
        if (const auto bearer = m_store->bearer(Credentials::tokenDigest(call.token), call.now))
            m_store->revokeFamily(bearer->familyId);
    }
    return ApiReply::success(kAccount, {{QStringLiteral("description"), QStringLiteral("Signed out.")}});
}

ApiReply AccountApi::me(ApiRequest &call)
{
    const auto account = m_store->account(call.bearer.accountId);
    if (!account)
        return ApiReply::failure(401, QString(), QStringLiteral("invalid_token"),
                                 QStringLiteral("The account no longer exists."));
    QJsonArray devices;
    for (const CloudStore::Device &device : m_store->devices(account->id))
        devices.append(deviceJson(device, call.now));
    return ApiReply::success(kAccount, {{QStringLiteral("user"), userJson(*account)},
                                        {QStringLiteral("devices"), devices}});
}

ApiReply AccountApi::bind(ApiRequest &call)
{
    FieldReader fields(call.body, kAccount);
    const QString cid = fields.matching("cid", cidPattern()).toLower();
    const QString deviceName = fields.text("device_name", 128, false);
    const QString clientVersion = fields.text("client_version", 64, false);
    if (!fields.ok())
        return fields.error();
    const auto device = m_store->bindDevice(call.bearer.accountId, cid, deviceName, clientVersion, call.now,
                                            m_settings.maxDevices);
    if (!device) {
        if (m_store->failed())
            return {};
        return ApiReply::failure(403, kAccount, QStringLiteral("too_many_devices"),
                                 QStringLiteral("This account has %1 devices already.").arg(m_settings.maxDevices));
    }
    return ApiReply::success(kAccount, {{QStringLiteral("device"), deviceJson(*device, call.now)},
                                        {QStringLiteral("description"), QStringLiteral("Device bound.")}});
}
