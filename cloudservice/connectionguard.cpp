#include "cloudservice/connectionguard.h"

#include "cloudservice/servicelog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

namespace {
int s_live = 0;
qint64 s_bodiesInFlight = 0;
}

QByteArray HttpReply::reason(int status)
{
    switch (status) {
    case 200: return QByteArrayLiteral("OK");
    case 201: return QByteArrayLiteral("Created");
    case 204: return QByteArrayLiteral("No Content");
    case 302: return QByteArrayLiteral("Found");
    case 400: return QByteArrayLiteral("Bad Request");
    case 401: return QByteArrayLiteral("Unauthorized");
    case 403: return QByteArrayLiteral("Forbidden");
    case 404: return QByteArrayLiteral("Not Found");
    case 405: return QByteArrayLiteral("Method Not Allowed");
    case 408: return QByteArrayLiteral("Request Timeout");
    case 409: return QByteArrayLiteral("Conflict");
    case 411: return QByteArrayLiteral("Length Required");
    case 413: return QByteArrayLiteral("Payload Too Large");
    case 429: return QByteArrayLiteral("Too Many Requests");
    case 431: return QByteArrayLiteral("Request Header Fields Too Large");
    case 500: return QByteArrayLiteral("Internal Server Error");
    case 503: return QByteArrayLiteral("Service Unavailable");
    default: return QByteArrayLiteral("Status");
    }
}

QByteArray HttpReply::serialize(bool closeAfter) const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const auto &[name, value] : headers)
        out += name + ": " + value + "\r\n";
    if (closeAfter)
        out += "Connection: close\r\n";
    out += "\r\n";
    out += body;
    return out;
}

ConnectionGuard::ConnectionGuard(QTcpSocket *socket, const GuardLimits &limits)
    : QObject(socket), m_socket(socket), m_limits(limits),
      m_limiter(limits.maxHeadBytes, limits.maxBodyBytes)
{
    ++s_live;
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ConnectionGuard::onTimeout);
    connect(socket, &QIODevice::readyRead, this, &ConnectionGuard::onReadyRead);
    if (s_live > m_limits.maxConnections) {
        qCInfo(lcCloud) << "connection refused: too many connections" << s_live;
        refuse(503, "too_many_connections", "The service has too many open connections.", 0);
        return;
    }
    armTimer();
}

ConnectionGuard::~ConnectionGuard()
{
    --s_live;
    s_bodiesInFlight -= m_reserved;
}

ConnectionGuard *ConnectionGuard::of(QTcpSocket *socket)
{
    return socket ? socket->findChild<ConnectionGuard *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

int ConnectionGuard::liveConnections()
{
    return s_live;
}

qint64 ConnectionGuard::bodyBytesInFlight()
{
    return s_bodiesInFlight;
}

bool ConnectionGuard::reserveBody()
{
    const qint64 wanted = m_limiter.inBody() ? m_limiter.declaredBodyBytes() : 0;
    if (wanted > 0 && wanted != m_reserved
        && s_bodiesInFlight - m_reserved + wanted > m_limits.maxBodyBytesInFlight)
        return false;
    s_bodiesInFlight += wanted - m_reserved;
    m_reserved = wanted;
    return true;
}

void ConnectionGuard::onReadyRead()
{
    if (m_refused) {
        discard();
        return;
    }
    // Within the HTTP server's read transaction bytesAvailable() counts only the bytes
    // its parser has not read yet, which are exactly the new ones.
    const qint64 available = m_socket->bytesAvailable();
    if (available <= 0)
        return;
    const QByteArray fresh = m_socket->peek(available);
    const RequestLimiter::Verdict verdict = m_limiter.feed(fresh);
    switch (verdict) {
    case RequestLimiter::Verdict::Pass:
        if (!reserveBody()) {
            refuse(503, "busy", "The service is receiving too much at once. Try again shortly.",
                   m_limiter.bodyBytesOutstanding());
            return;
        }
        armTimer();
        return;
    case RequestLimiter::Verdict::HeadTooLarge:
        refuse(431, "headers_too_large", "The request headers are too large.", 0);
        return;
    case RequestLimiter::Verdict::BodyTooLarge:
        refuse(413, "payload_too_large",
               "The request body is larger than " + QByteArray::number(m_limits.maxBodyBytes)
                       + " bytes.",
               m_limiter.bodyBytesOutstanding());
        return;
    case RequestLimiter::Verdict::LengthRequired:
        refuse(411, "length_required", "Send the body with a Content-Length.", 0);
        return;
    case RequestLimiter::Verdict::BadRequest:
        refuse(400, "bad_request", "The request framing is invalid.", 0);
        return;
    case RequestLimiter::Verdict::Pipelined:
        refuse(400, "pipelining_unsupported", "Send the next request after the answer to the previous one.", 0);
        return;
    }
}

void ConnectionGuard::refuse(int status, const QByteArray &code, const QByteArray &description,
                             qint64 drain)
{
    m_refused = true;
    s_bodiesInFlight -= m_reserved;
    m_reserved = 0;
    // Take the socket away from the HTTP parser: the rest of this request never
    // reaches it, so it never buffers it.
    QObject::disconnect(m_socket, &QIODevice::readyRead, nullptr, nullptr);
    connect(m_socket, &QIODevice::readyRead, this, &ConnectionGuard::discard);
    if (m_socket->isTransactionStarted())
        m_socket->rollbackTransaction();
    // What is buffered now has been fed to the limiter already: the rest of the head
    // and the part of the body that `drain` does not count.
    m_socket->skip(m_socket->bytesAvailable());
    // A well-behaved client finishes sending its body before it reads the answer;
    // reading a bounded amount away lets it see the refusal instead of a reset.
    m_drainLeft = drain <= m_limits.maxDrainBytes ? drain : 0;
    HttpReply reply;
    reply.status = status;
    reply.body = QJsonDocument(QJsonObject{{QStringLiteral("status"), false},
                                           {QStringLiteral("code"), QString::fromLatin1(code)},
                                           {QStringLiteral("description"),
                                            QString::fromLatin1(description)}})
                         .toJson(QJsonDocument::Compact);
    reply.headers.append({QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store")});
    reply.headers.append({QByteArrayLiteral("X-Content-Type-Options"), QByteArrayLiteral("nosniff")});
    if (status == 503)
        reply.headers.append({QByteArrayLiteral("Retry-After"), QByteArrayLiteral("5")});
    qCInfo(lcCloud) << "refused request with" << status << code;
    sendResponse(openResponse(true), reply);
    m_timer.start(m_limits.requestTimeoutMs);
    discard();
}

void ConnectionGuard::discard()
{
    while (m_socket->bytesAvailable() > 0) {
        const qint64 skipped = m_socket->skip(m_socket->bytesAvailable());
        if (skipped <= 0)
            break;
        m_drainLeft = qMax<qint64>(0, m_drainLeft - skipped);
    }
    if (m_drainLeft == 0 && !m_closing) {
        m_closing = true;
        flush();
    }
}

quint64 ConnectionGuard::openResponse(bool closeAfter)
{
    const quint64 ticket = m_nextTicket++;
    m_pending[ticket].closeAfter = closeAfter;
    return ticket;
}

void ConnectionGuard::sendResponse(quint64 ticket, const HttpReply &reply)
{
    const auto it = m_pending.find(ticket);
    if (it == m_pending.end())
        return;
    it->second.ready = true;
    it->second.bytes = reply.serialize(it->second.closeAfter);
    flush();
}

void ConnectionGuard::flush()
{
    while (!m_pending.empty() && m_pending.begin()->second.ready) {
        const Pending done = std::move(m_pending.begin()->second);
        m_pending.erase(m_pending.begin());
        if (m_socket->state() == QAbstractSocket::ConnectedState)
            m_socket->write(done.bytes);
        if (done.closeAfter) {
            // Refused requests close once their body has been read away.
            if (!m_refused || m_closing)
                m_socket->disconnectFromHost();
            m_pending.clear();
            return;
        }
    }
    if (m_pending.empty() && m_closing && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->disconnectFromHost();
    if (m_pending.empty() && !m_refused)
        armTimer();
}

void ConnectionGuard::armTimer()
{
    if (m_limiter.idle()) {
        m_inRequest = false;
        m_timer.start(m_limits.idleTimeoutMs);
    } else if (!m_inRequest) {
        // Started once per request, so a client dribbling bytes cannot extend it.
        m_inRequest = true;
        m_timer.start(m_limits.requestTimeoutMs);
    }
}

void ConnectionGuard::onTimeout()
{
    if (m_refused) {
        m_socket->abort();
        return;
    }
    if (!m_pending.empty()) {
        m_timer.start(m_limits.idleTimeoutMs);
        return;
    }
    if (m_inRequest) {
        refuse(408, "request_timeout", "The request was not completed in time.", 0);
        return;
    }
    qCInfo(lcCloud) << "closing idle connection";
    m_socket->disconnectFromHost();
}
