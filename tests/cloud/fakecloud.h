#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// A one-request-per-connection HTTP server on a free loopback port: it records what
// arrives and answers with whatever the test's handler returns. For the client's
// own behaviour where the real service cannot produce the answer (a body that is
// not JSON) or where every request must be seen.
class FakeCloud : public QTcpServer
{
public:
    struct Request
    {
        QByteArray method;
        QByteArray target; // path and query
        QHash<QByteArray, QByteArray> headers; // lower-case names
        QByteArray body;
        QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
        QByteArray path() const { return target.indexOf('?') < 0 ? target : target.left(target.indexOf('?')); }
    };
    struct Reply
    {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray body = R"({"type":"console","status":true})";
    };
    using Handler = std::function<Reply(const Request &)>;

    FakeCloud()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    QList<Request> requests;

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        Request request;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            if (colon > 0)
                request.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        request.body = buffer.mid(end + 4, length);
        m_buffers.remove(socket);
        requests.append(request);
        const Reply reply = m_handler ? m_handler(request) : Reply();
        socket->write("HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reply.reason
                      + "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
                      + QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body);
        socket->disconnectFromHost();
    }

    Handler m_handler;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
