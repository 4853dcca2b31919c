#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrlQuery>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// The program's one client of the cloud service's REST interface (/api/v3). It builds
// authenticated JSON requests and turns every reply into exactly one signal: a typed
// response with the reply's JSON object, or networkError with a text for the user and
// the technical detail. It keeps no session state: callers pass tokens and bodies, and
// retry on their own timers.
class NetworkServices : public QObject
{
    Q_OBJECT
public:
    // The request attribute that carries the domain tag of a request.
    static constexpr int DomainAttribute = 1000;
    // A request that has not finished after this long ends as a time-out, so that
    // a service that stops answering never leaves a caller waiting for ever.
    static constexpr int TransferTimeoutMs = 20000;

    explicit NetworkServices(QObject *parent = nullptr);
    ~NetworkServices() override;

    // QLN_HOST (trimmed) when set, else the "HostAddress" setting, else the local
    // service that the run script starts.
    static QString baseUrl();
    static QString defaultBaseUrl() { return QStringLiteral("http://127.0.0.1:8787"); }

    void get(const QString &path, const QString &domain, const QString &token, const QUrlQuery &query = {});
    void post(const QString &path, const QString &domain, const QString &token, const QJsonObject &body);
    void put(const QString &path, const QString &domain, const QString &token, const QJsonObject &body);

    void requestCloudQuota(const QString &token);
    void pollConsoleCommands(const QString &token, const QString &cid, int limit);
    void sendConsoleHeartbeat(const QString &token, const QJsonObject &body);
    void sendConsoleSnapshot(const QString &token, const QJsonObject &body);
    void sendConsoleEvents(const QString &token, const QJsonObject &body);
    void sendCommandResult(const QString &token, const QString &commandId, const QJsonObject &body);
    void requestAccountMe(const QString &token);
    void requestRegisterCode(const QString &email);
    void registerAccount(const QString &email, const QString &username, const QString &password, const QString &code,
                         const QString &cid, const QString &deviceName, const QString &clientVersion);
    void login(const QString &email, const QString &password, const QString &cid, const QString &deviceName,
               const QString &clientVersion);
    void refreshToken(const QString &refreshToken, const QString &cid);
    // The access token, when given, is ended together with the refresh token.
    void logout(const QString &refreshToken, const QString &accessToken = QString());
    void bindDevice(const QString &token, const QString &cid, const QString &deviceName, const QString &clientVersion);
    void readSyncItems(const QString &token, const QString &ns = QString());
    void writeSyncItem(const QString &token, const QString &ns, const QString &key, qint64 baseRevision,
                       const QJsonObject &payload);
    // Usage reporting: a start counts a launch; info carries any other report.
    void reportClientStart(const QJsonObject &body);
    void reportClientInfo(const QJsonObject &body);

    // Requests sent and not yet answered.
    int pendingRequests() const { return m_pending; }

signals:
    void clientResponse(const QJsonObject &response);
    void advertResponse(const QJsonObject &response);
    void cloudQuotaResponse(const QJsonObject &response);
    void consoleResponse(const QJsonObject &response);
    void accountResponse(const QJsonObject &response);
    void syncResponse(const QJsonObject &response);
    void networkError(const QString &domain, const QString &message, const QString &detail);

private:
    QNetworkRequest makeRequest(const QString &path, const QString &domain, const QString &token,
                                const QUrlQuery &query) const;
    void onFinished(QNetworkReply *reply);
    void reportError(QNetworkReply *reply, const QString &domain, const QByteArray &body);

    QNetworkAccessManager *m_manager;
    int m_pending = 0;
};
