#include "cloudservice/cloudservice.h"

#include "cloudservice/cloudhttpserver.h"
#include "cloudservice/connectionguard.h"
#include "cloudservice/servicelog.h"

#include <QDateTime>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>

namespace {
AccountApi::Settings accountSettings(const ServiceOptions &options)
{
    AccountApi::Settings settings;
    settings.accessTtlSeconds = options.accessTokenTtlSeconds;
    settings.refreshTtlDays = options.refreshTokenTtlDays;
    return settings;
}

ConsoleApi::Settings consoleSettings(const ServiceOptions &options)
{
    ConsoleApi::Settings settings;
    settings.monthlyUploadLimit = options.monthlyUploadLimit;
    return settings;
}

bool loadTls(const ServiceOptions &options, QSslConfiguration *configuration, QString *error)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(options.tlsCertificate, QSsl::Pem);
    if (chain.isEmpty()) {
        *error = QStringLiteral("no certificate in %1").arg(options.tlsCertificate);
        return false;
    }
    QFile keyFile(options.tlsKey);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(options.tlsKey, keyFile.errorString());
        return false;
    }
    const QByteArray pem = keyFile.readAll();
    QSslKey key;
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(pem, algorithm, QSsl::Pem);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        *error = QStringLiteral("no usable private key in %1").arg(options.tlsKey);
        return false;
    }
    *configuration = QSslConfiguration::defaultConfiguration();
    configuration->setLocalCertificateChain(chain);
    configuration->setPrivateKey(key);
    configuration->setProtocol(QSsl::TlsV1_2OrLater);
    configuration->setPeerVerifyMode(QSslSocket::VerifyNone);
    return true;
}
}

CloudService::CloudService(const ServiceOptions &options, QObject *parent)
    : QObject(parent), m_options(options),
      m_hub(ConsoleHub::Limits{}, [] { return Credentials::newId(); }), m_worker(this),
      m_accounts(&m_store, &m_worker, accountSettings(options)),
      m_console(&m_store, &m_hub, consoleSettings(options)), m_sync(&m_store, SyncApi::Settings{}),
      m_router(&m_store)
{
    m_clock.start();
    m_accounts.addRoutes(m_router);
    m_console.addRoutes(m_router);
    m_sync.addRoutes(m_router);
    connect(&m_housekeeping, &QTimer::timeout, this, &CloudService::housekeeping);
}

CloudService::~CloudService() = default;

bool CloudService::start(QString *error)
{
    if (!m_store.open(m_options.databaseUrl(), error)) {
        *error = QStringLiteral("cannot open the database %1: %2").arg(m_options.databaseUrl(), *error);
        return false;
    }
    if (!listen(error))
        return false;
    m_housekeeping.start(10 * 1000);
    serviceLog(QStringLiteral("listening on %1 (database %2)").arg(m_url, m_store.describe()));
    return true;
}

bool CloudService::listen(QString *error)
{
    GuardLimits limits;
    limits.maxBodyBytes = m_options.maxBodyBytes;
    limits.maxBodyBytesInFlight = 64 * m_options.maxBodyBytes;
    const bool tls = !m_options.tlsCertificate.isEmpty();
    m_http = new CloudHttpServer(&m_router, tls, this);
    QTcpServer *server = nullptr;
    if (tls) {
        QSslConfiguration configuration;
        if (!loadTls(m_options, &configuration, error))
            return false;
        auto *sslServer = new GuardedServer<QSslServer>(limits);
        sslServer->setSslConfiguration(configuration);
        server = sslServer;
    } else {
        server = new GuardedServer<QTcpServer>(limits);
    }
    if (!server->listen(m_options.address, m_options.port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(m_options.address.toString())
                         .arg(m_options.port)
                         .arg(server->errorString());
        delete server;
        return false;
    }
    m_http->bind(server);
    QString host = server->serverAddress().toString();
    if (server->serverAddress().protocol() == QAbstractSocket::IPv6Protocol)
        host = QStringLiteral("[%1]").arg(host);
    m_url = QStringLiteral("%1://%2:%3").arg(tls ? QStringLiteral("https") : QStringLiteral("http"), host)
                    .arg(server->serverPort());
    return true;
}

void CloudService::housekeeping()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    m_store.clearFailure();
    m_hub.expire(m_clock.elapsed());
    m_console.expireCommands(now);
    if (++m_housekeepingRuns % 6 == 0) {
        m_store.purge(now);
        m_accounts.prune();
        m_sync.prune();
    }
}

int CloudService::addUser(const ServiceOptions &options, const QString &password, QString *message)
{
    const QString email = AccountApi::normalizedEmail(options.addUserEmail);
    if (!AccountApi::validEmail(email)) {
        *message = QStringLiteral("not a valid email address: %1").arg(options.addUserEmail);
        return 2;
    }
    if (const QString problem = AccountApi::passwordProblem(password); !problem.isEmpty()) {
        *message = problem;
        return 2;
    }
    CloudStore store;
    QString error;
    if (!store.open(options.databaseUrl(), &error)) {
        *message = QStringLiteral("cannot open the database %1: %2").arg(options.databaseUrl(), error);
        return 1;
    }
    const QString username = options.addUserName.isEmpty() ? email.section(QLatin1Char('@'), 0, 0)
                                                            : options.addUserName;
    const qint64 id = store.createAccount(email, username, Credentials::hashPassword(password),
                                          QDateTime::currentMSecsSinceEpoch());
    if (id <= 0) {
        *message = store.failed() ? QStringLiteral("the database refused the account")
                                  : QStringLiteral("an account with the email %1 exists already").arg(email);
        return 1;
    }
    *message = QStringLiteral("account %1 created for %2 (%3)").arg(id).arg(email, store.describe());
    return 0;
}
