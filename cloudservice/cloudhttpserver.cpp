#include "cloudservice/cloudhttpserver.h"

#include "cloudservice/apirouter.h"
#include "cloudservice/connectionguard.h"
#include "cloudservice/servicelog.h"

#include <QDateTime>
#include <QFile>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>

namespace {
struct StaticFile
{
    const char *path;
    const char *resource;
    const char *type;
};

// The page loads nothing but its own files; no inline script or style is allowed.
const QByteArray kPagePolicy = QByteArrayLiteral(
        "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
        "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");

void addCommonHeaders(HttpReply &reply, bool tls)
{
    reply.headers.append({QByteArrayLiteral("X-Content-Type-Options"), QByteArrayLiteral("nosniff")});
    reply.headers.append({QByteArrayLiteral("Referrer-Policy"), QByteArrayLiteral("no-referrer")});
    if (tls)
        reply.headers.append({QByteArrayLiteral("Strict-Transport-Security"), QByteArrayLiteral("max-age=31536000")});
}
}

CloudHttpServer::CloudHttpServer(ApiRouter *router, bool tls, QObject *parent)
    : QAbstractHttpServer(parent), m_router(router), m_tls(tls)
{
    m_clock.start();
}

HttpReply CloudHttpServer::httpReply(const ApiReply &reply, bool tls)
{
    HttpReply http;
    http.status = reply.status;
    http.body = QJsonDocument(reply.body).toJson(QJsonDocument::Compact);
    http.headers = reply.headers;
    http.headers.append({QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store")});
    addCommonHeaders(http, tls);
    return http;
}

HttpReply CloudHttpServer::staticFile(const QHttpServerRequest &request) const
{
    static const StaticFile files[] = {
        {"/", ":/web/index.html", "text/html; charset=utf-8"},
        {"/index.html", ":/web/index.html", "text/html; charset=utf-8"},
        {"/console.css", ":/web/console.css", "text/css; charset=utf-8"},
        {"/console.js", ":/web/console.js", "text/javascript; charset=utf-8"},
        {"/icon.svg", ":/web/icon.svg", "image/svg+xml"},
    };
    const QString path = request.url().path();
    for (const StaticFile &file : files) {
        if (path != QLatin1String(file.path))
            continue;
        if (request.method() != QHttpServerRequest::Method::Get) {
            ApiReply refusal = ApiReply::failure(405, QString(), QStringLiteral("method_not_allowed"),
                                                 QStringLiteral("This path takes GET only."));
            refusal.headers.append({QByteArrayLiteral("Allow"), QByteArrayLiteral("GET")});
            return httpReply(refusal, m_tls);
        }
        QFile resource(QLatin1String(file.resource));
        if (!resource.open(QIODevice::ReadOnly))
            break;
        HttpReply reply;
        reply.contentType = file.type;
        reply.body = resource.readAll();
        reply.headers.append({QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-cache")});
        reply.headers.append({QByteArrayLiteral("Content-Security-Policy"), kPagePolicy});
        reply.headers.append({QByteArrayLiteral("X-Frame-Options"), QByteArrayLiteral("DENY")});
        addCommonHeaders(reply, m_tls);
        return reply;
    }
    return httpReply(ApiReply::failure(404, QString(), QStringLiteral("not_found"), QStringLiteral("No such path.")),
                     m_tls);
}

bool CloudHttpServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    ConnectionGuard *guard = ConnectionGuard::of(socket);
    const bool close = request.value(QByteArrayLiteral("connection")).toLower().contains("close");
    const QString path = request.url().path();
    const QString method = methodName(request.method());
    const quint64 ticket = guard ? guard->openResponse(close) : 0;
    QElapsedTimer took;
    took.start();
    const auto send = [target = QPointer<ConnectionGuard>(guard), socket = QPointer<QTcpSocket>(socket), ticket,
                       close, method, path, took](const HttpReply &reply) {
        qCInfo(lcCloud).noquote() << method << path << reply.status << took.nsecsElapsed() / 1000 << "us";
        if (target)
            target->sendResponse(ticket, reply);
        else if (socket)
            socket->write(reply.serialize(close));
    };
    if (!path.startsWith(QLatin1String("/api/"))) {
        send(staticFile(request));
        return true;
    }
    const bool tls = m_tls;
    m_router->dispatch(request, QDateTime::currentMSecsSinceEpoch(), m_clock.elapsed(),
                       [send, tls](const ApiReply &reply) { send(httpReply(reply, tls)); });
    return true;
}

void CloudHttpServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    // handleRequest() answers every request, so this is never reached.
    Q_UNUSED(request);
    Q_UNUSED(socket);
}
