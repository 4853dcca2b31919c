#include "cloud/networkservices.h"
#include "cloud/cloudlog.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QUrl>

Q_LOGGING_CATEGORY(lcCloud, "quillon.cloud", QtWarningMsg)

namespace {

const QString kAccount = QStringLiteral("account");
const QString kConsole = QStringLiteral("console");
const QString kSync = QStringLiteral("sync");

// The user's text for a failed reply: the HTTP status decides first, then the transport.
QString failureText(int status, QNetworkReply::NetworkError error)
{
    if (status == 404 || status == 405 || status == 501)
        return NetworkServices::tr("The server does not offer this feature yet. The service may be under maintenance "
                                   "or being upgraded; please try again later or check for a newer version.");
    if (status == 401 || status == 403)
        return NetworkServices::tr("The server declined the request. Please sign in again and retry.");
    if (status >= 500)
        return NetworkServices::tr("The server encountered an internal error. Please try again later.");
    if (status >= 400 && status <= 499)
        return NetworkServices::tr("The server rejected the request (HTTP %1). Please try again later.").arg(status);
    switch (error) {
    case QNetworkReply::NoError:
        return NetworkServices::tr("The server returned an unexpected response. Please try again later.");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return NetworkServices::tr(
            "The server did not respond in time. Please check your network connection and try again.");
    case QNetworkReply::SslHandshakeFailedError:
        return NetworkServices::tr(
            "A secure connection to the server could not be established. Please check your network environment.");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return NetworkServices::tr("The proxy server could not be reached. Please check your proxy settings.");
    default:
        return NetworkServices::tr("Could not connect to the server. Please check your network connection and try again.");
    }
}

} // namespace

NetworkServices::NetworkServices(QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
{
    connect(m_manager, &QNetworkAccessManager::finished, this, &NetworkServices::onFinished);
}

NetworkServices::~NetworkServices() = default;

QString NetworkServices::baseUrl()
{
    const QString host = qEnvironmentVariable("QLN_HOST").trimmed();
    if (!host.isEmpty())
        return host;
    const QString stored = QSettings().value(QStringLiteral("HostAddress")).toString().trimmed();
    return stored.isEmpty() ? defaultBaseUrl() : stored;
}

QNetworkRequest NetworkServices::makeRequest(const QString &path, const QString &domain, const QString &token,
                                             const QUrlQuery &query) const
{
    QUrl url(baseUrl() + path);
    if (!query.isEmpty())
        url.setQuery(query);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::Attribute(DomainAttribute), domain);
    request.setTransferTimeout(TransferTimeoutMs);
    if (!token.isEmpty())
        request.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + token.toUtf8());
    return request;
}

void NetworkServices::get(const QString &path, const QString &domain, const QString &token, const QUrlQuery &query)
{
    const QNetworkRequest request = makeRequest(path, domain, token, query);
    qCDebug(lcCloud) << "[NetworkServices] GET" << request.url();
    m_manager->get(request);
    ++m_pending;
}

void NetworkServices::post(const QString &path, const QString &domain, const QString &token, const QJsonObject &body)
{
    QNetworkRequest request = makeRequest(path, domain, token, {});
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    qCDebug(lcCloud) << "[NetworkServices] POST" << request.url();
    m_manager->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    ++m_pending;
}

void NetworkServices::put(const QString &path, const QString &domain, const QString &token, const QJsonObject &body)
{
    QNetworkRequest request = makeRequest(path, domain, token, {});
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    qCDebug(lcCloud) << "[NetworkServices] PUT" << request.url();
    m_manager->put(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    ++m_pending;
}

void NetworkServices::requestCloudQuota(const QString &token)
{
    get(QStringLiteral("/api/v3/cloud/quota"), QStringLiteral("cloud"), token);
}

void NetworkServices::pollConsoleCommands(const QString &token, const QString &cid, int limit)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("cid"), cid);
    query.addQueryItem(QStringLiteral("limit"), QString::number(limit));
    get(QStringLiteral("/api/v3/console/commands/poll"), kConsole, token, query);
}

void NetworkServices::sendConsoleHeartbeat(const QString &token, const QJsonObject &body)
{
    post(QStringLiteral("/api/v3/console/heartbeat"), kConsole, token, body);
}

void NetworkServices::sendConsoleSnapshot(const QString &token, const QJsonObject &body)
{
    post(QStringLiteral("/api/v3/console/ports/snapshot"), kConsole, token, body);
}

void NetworkServices::sendConsoleEvents(const QString &token, const QJsonObject &body)
{
    post(QStringLiteral("/api/v3/console/events"), kConsole, token, body);
}

void NetworkServices::sendCommandResult(const QString &token, const QString &commandId, const QJsonObject &body)
{
    post(QStringLiteral("/api/v3/console/commands") + QStringLiteral("/%1/result").arg(commandId), kConsole, token,
         body);
}

void NetworkServices::requestAccountMe(const QString &token)
{
    get(QStringLiteral("/api/v3/account/me"), kAccount, token);
}

void NetworkServices::requestRegisterCode(const QString &email)
{
    post(QStringLiteral("/api/v3/account/register/code"), kAccount, {}, {{QStringLiteral("email"), email}});
}

void NetworkServices::registerAccount(const QString &email, const QString &username, const QString &password,
                                      const QString &code, const QString &cid, const QString &deviceName,
                                      const QString &clientVersion)
{
    post(QStringLiteral("/api/v3/account/register"), kAccount, {},
         {{QStringLiteral("email"), email},
          {QStringLiteral("username"), username},
          {QStringLiteral("password"), password},
          {QStringLiteral("code"), code},
          {QStringLiteral("cid"), cid},
          {QStringLiteral("device_name"), deviceName},
          {QStringLiteral("client_version"), clientVersion}});
}

void NetworkServices::login(const QString &email, const QString &password, const QString &cid,
                            const QString &deviceName, const QString &clientVersion)
{
    post(QStringLiteral("/api/v3/account/login"), kAccount, {},
         {{QStringLiteral("email"), email},
          {QStringLiteral("password"), password},
          {QStringLiteral("cid"), cid},
          {QStringLiteral("device_name"), deviceName},
          {QStringLiteral("client_version"), clientVersion}});
}

void NetworkServices::refreshToken(const QString &refreshToken, const QString &cid)
{
    post(QStringLiteral("/api/v3/account/token/refresh"), kAccount, {},
         {{QStringLiteral("refresh_token"), refreshToken}, {QStringLiteral("cid"), cid}});
}

void NetworkServices::logout(const QString &refreshToken, const QString &accessToken)
{
    post(QStringLiteral("/api/v3/account/logout"), kAccount, accessToken,
         {{QStringLiteral("refresh_token"), refreshToken}});
}

void NetworkServices::bindDevice(const QString &token, const QString &cid, const QString &deviceName,
                                 const QString &clientVersion)
{
    post(QStringLiteral("/api/v3/account/devices/bind"), kAccount, token,
         {{QStringLiteral("cid"), cid},
          {QStringLiteral("device_name"), deviceName},
          {QStringLiteral("client_version"), clientVersion}});
}

void NetworkServices::readSyncItems(const QString &token, const QString &ns)
{
    QUrlQuery query;
    if (!ns.isEmpty())
        query.addQueryItem(QStringLiteral("namespace"), ns);
    get(QStringLiteral("/api/v3/sync/items"), kSync, token, query);
}

void NetworkServices::writeSyncItem(const QString &token, const QString &ns, const QString &key, qint64 baseRevision,
                                    const QJsonObject &payload)
{
    put(QStringLiteral("/api/v3/sync/items") + QStringLiteral("/%1/%2").arg(ns, key), kSync, token,
        {{QStringLiteral("base_revision"), baseRevision}, {QStringLiteral("payload"), payload}});
}

void NetworkServices::reportClientStart(const QJsonObject &body)
{
    post(QStringLiteral("/api/v3/clients"), QStringLiteral("client"), {}, body);
}

void NetworkServices::reportClientInfo(const QJsonObject &body)
{
    post(QStringLiteral("/api/v3/clients") + QStringLiteral("/info"), QStringLiteral("client"), {}, body);
}

void NetworkServices::onFinished(QNetworkReply *reply)
{
    --m_pending;
    reply->deleteLater();
    const QString domain = reply->request().attribute(QNetworkRequest::Attribute(DomainAttribute)).toString();
    const QByteArray body = reply->readAll();

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        reportError(reply, domain, body);
        return;
    }
    const QJsonObject object = document.object();
    const QJsonValue type = object.value(QStringLiteral("type"));
    if (!document.isObject() || !type.isString()) {
        if (reply->error() != QNetworkReply::NoError)
            reportError(reply, domain, body);
        else
            qCDebug(lcCloud) << "[NetworkServices] Unknown message type:" << type;
        return;
    }
    // A typed body is an answer even with an error status: the listener reads its
    // "status", "code" and "description".
    const QString kind = type.toString().trimmed().toLower();
    if (kind == QLatin1String("client"))
        emit clientResponse(object);
    else if (kind == QLatin1String("advert"))
        emit advertResponse(object);
    else if (kind == QLatin1String("account"))
        emit accountResponse(object);
    else if (kind == QLatin1String("sync"))
        emit syncResponse(object);
    else if (kind == QLatin1String("quota"))
        emit cloudQuotaResponse(object);
    else if (kind == QLatin1String("console"))
        emit consoleResponse(object);
}

void NetworkServices::reportError(QNetworkReply *reply, const QString &domain, const QByteArray &body)
{
    // Expected whenever the service is down, so not a warning of the program's own.
    qCInfo(lcCloud) << "[NetworkServices]" << reply->url() << reply->errorString() << body.left(200);
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    QString detail = QStringLiteral("URL: %1").arg(reply->url().toString());
    if (status > 0)
        detail += QStringLiteral("\nHTTP status: %1 %2")
                      .arg(status)
                      .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
    if (reply->error() != QNetworkReply::NoError)
        detail += QLatin1Char('\n') + reply->errorString();
    emit networkError(domain, failureText(status, reply->error()), detail);
}
