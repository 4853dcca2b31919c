#pragma once

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// A loopback HTTP server that records every request and answers, one request per
// connection, what the test's handler returns: for what the real service never
// sends (a body that is not JSON) and where every request must be seen.
class FakeCloud : public QTcpServer
{
public:
    struct Request
    {
        QByteArray method, target, body;
        QHash<QByteArray, QByteArray> headers; // lower-case names
        QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    };
    struct Reply
    {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray body = R"({"type":"console","status":true})";
    };

    FakeCloud()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }

    std::function<Reply(const Request &)> handler = [](const Request &) { return Reply(); };
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
        for (const QByteArray &line : lines.mid(1))
            request.headers.insert(line.left(line.indexOf(':')).trimmed().toLower(), line.mid(line.indexOf(':') + 1).trimmed());
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        request.body = buffer.mid(end + 4, length);
        m_buffers.remove(socket);
        requests.append(request);
        const Reply reply = handler(request);
        socket->write("HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reply.reason + "\r\nConnection: close\r\n"
                      + "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body);
        socket->disconnectFromHost();
    }

    QHash<QTcpSocket *, QByteArray> m_buffers;
};
