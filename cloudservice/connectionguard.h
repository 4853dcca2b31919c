#pragma once

#include "cloudservice/requestlimiter.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTimer>

#include <map>

class QTcpSocket;

struct GuardLimits
{
    qint64 maxHeadBytes = 16 * 1024;
    qint64 maxBodyBytes = 1024 * 1024;
    int requestTimeoutMs = 60000; // from a request's first byte to its last
    int idleTimeoutMs = 120000;   // keep-alive connection without a request
    qint64 maxDrainBytes = 8 * 1024 * 1024; // body still read away after a 413
    int maxConnections = 1000;
    // Qt's parser holds an unfinished body about twice over; this bounds the sum of
    // the bodies being received on all connections.
    qint64 maxBodyBytesInFlight = 64 * 1024 * 1024;
};

// One HTTP answer, serialised by the guard so that deferred answers keep their order.
struct HttpReply
{
    int status = 200;
    QByteArray contentType = QByteArrayLiteral("application/json");
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    QByteArray serialize(bool closeAfter) const;
    static QByteArray reason(int status);
};

// Sits on one accepted socket in front of Qt's HTTP parser: refuses requests that are
// too large or badly framed before they are buffered, closes stalled and idle
// connections, and writes the answers of the requests in the order they arrived even
// when some are answered later (password hashing runs on worker threads).
// Created by GuardedServer for every socket it hands to the HTTP server, whose
// readyRead handler is connected after this one.
class ConnectionGuard : public QObject
{
    Q_OBJECT
public:
    ConnectionGuard(QTcpSocket *socket, const GuardLimits &limits);
    ~ConnectionGuard() override;

    static ConnectionGuard *of(QTcpSocket *socket);
    static int liveConnections();
    static qint64 bodyBytesInFlight();

    // A place in the answer order for the request just parsed.
    quint64 openResponse(bool closeAfter);
    void sendResponse(quint64 ticket, const HttpReply &reply);

private:
    void onReadyRead();
    // Accounts for the body now being received; false when it does not fit.
    bool reserveBody();
    void discard();
    void refuse(int status, const QByteArray &code, const QByteArray &description, qint64 drain);
    void onTimeout();
    void armTimer();
    void flush();

    struct Pending
    {
        bool closeAfter = false;
        bool ready = false;
        QByteArray bytes;
    };

    QTcpSocket *m_socket;
    GuardLimits m_limits;
    RequestLimiter m_limiter;
    QTimer m_timer;
    bool m_inRequest = false;
    bool m_refused = false;
    bool m_closing = false;
    qint64 m_drainLeft = 0;
    qint64 m_reserved = 0;
    quint64 m_nextTicket = 0;
    std::map<quint64, Pending> m_pending;
};

// A TCP (or TLS) server whose sockets each get a ConnectionGuard before Qt's HTTP
// server connects to them.
template<class Server>
class GuardedServer : public Server
{
public:
    explicit GuardedServer(const GuardLimits &limits) : m_limits(limits) {}

    QTcpSocket *nextPendingConnection() override
    {
        QTcpSocket *socket = Server::nextPendingConnection();
        if (socket)
            new ConnectionGuard(socket, m_limits);
        return socket;
    }

private:
    GuardLimits m_limits;
};
