#include "connection/multiclientserver.h"
#include "connection/connectioncontroller.h"
#include "connection/connectionlog.h"

#include <QHostAddress>
#include <QTcpSocket>

MultiClientServer::MultiClientServer(QObject *parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, &MultiClientServer::handleNewConnection);
}

MultiClientServer::~MultiClientServer()
{
    stop();
}

QString MultiClientServer::peerKeyOf(const QTcpSocket *socket)
{
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

bool MultiClientServer::addressAllowed(const QHostAddress &address, const QStringList &allowlist)
{
    if (allowlist.isEmpty())
        return true;
    for (const QString &raw : allowlist) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        if (entry.contains(QLatin1Char('/'))) {
            const auto subnet = QHostAddress::parseSubnet(entry);
            if (subnet.first.isNull())
                continue;
            // A v4-mapped v6 peer (dual-stack listener) must still match a v4 subnet.
            QHostAddress peer = address;
            bool isV4 = false;
            const quint32 v4 = address.toIPv4Address(&isV4);
            if (isV4 && subnet.first.protocol() == QAbstractSocket::IPv4Protocol)
                peer = QHostAddress(v4);
            if (peer.isInSubnet(subnet))
                return true;
        } else {
            const QHostAddress host(entry);
            if (!host.isNull() && host.isEqual(address, QHostAddress::TolerantConversion))
                return true;
        }
    }
    return false;
}

void MultiClientServer::refuse(QTcpSocket *socket, const QString &reason)
{
    const QString peer = peerKeyOf(socket);
    socket->disconnectFromHost();
    socket->deleteLater();
    emit connectionRefused(peer, reason);
}

void MultiClientServer::handleNewConnection()
{
    bool accepted = false;
    while (hasPendingConnections()) {
        QTcpSocket *socket = nextPendingConnection();
        if (!socket)
            continue;
        if (!addressAllowed(socket->peerAddress(), m_allowlist)) {
            refuse(socket, tr("not on the address allowlist"));
            continue;
        }
        if (m_clientPolicy == 1 && !m_clients.isEmpty()) {
            refuse(socket, tr("the port already has a client (exclusive mode)"));
            continue;
        }
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { clientDisconnected(socket); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readReady(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, &MultiClientServer::bytesWritten);
        m_clients.append(socket);
        const QString peer = peerKeyOf(socket);
        m_peerKeys.insert(socket, peer);
        configureClient(socket);
        accepted = true;
        emit clientArrived(peer);
        qCDebug(lcConnection) << "hasPendingConnections" << socket->peerAddress() << socket->peerPort();
        // A client may have sent bytes before we connected to readyRead.
        if (socket->bytesAvailable() > 0)
            readReady(socket);
    }
    if (accepted)
        emit connectionStateChange();
}

void MultiClientServer::configureClient(QTcpSocket *socket) const
{
    if (m_lowLatency) {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    }
    socket->setReadBufferSize(m_paused ? 4096 : m_readLimit > 0 ? qMin(m_readLimit, ConnectionController::kSocketReadChunk) : ConnectionController::kSocketReadChunk);
}

void MultiClientServer::setReadLimit(qint64 bytes)
{
    m_readLimit = bytes;
    for (QTcpSocket *socket : std::as_const(m_clients))
        configureClient(socket);
}

void MultiClientServer::readReady(QTcpSocket *socket)
{
    if (m_paused || !m_clients.contains(socket))
        return;
    const QByteArray data = socket->readAll();
    if (data.isEmpty())
        return;
    const QString peer = m_peerKeys.value(socket);
    m_messages[peer].append(data);
    emit newMessage(peer);
}

void MultiClientServer::clientDisconnected(QTcpSocket *socket)
{
    if (!m_clients.removeOne(socket))
        return;
    const QString peer = m_peerKeys.take(socket);
    m_messages.remove(peer);
    socket->deleteLater();
    if (!peer.isEmpty())
        emit clientGone(peer);
    emit connectionStateChange();
}

QByteArray MultiClientServer::takeMessage(const QString &peer)
{
    auto it = m_messages.find(peer);
    if (it == m_messages.end())
        return {};
    return std::exchange(it.value(), QByteArray());
}

qint64 MultiClientServer::writeToAll(const QByteArray &data)
{
    if (data.isEmpty())
        return 0;
    qint64 best = 0;
    for (QTcpSocket *socket : std::as_const(m_clients)) {
        if (socket->state() != QAbstractSocket::ConnectedState)
            continue;
        best = qMax(best, socket->write(data));
    }
    return best;
}

// Out now rather than on the next pass of the event loop: less latency, and a forwarder
// sees at once what the socket could not take.
static bool writeNow(QTcpSocket *socket, const QByteArray &data)
{
    if (socket->write(data) == -1)
        return false;
    socket->flush();
    return true;
}

bool MultiClientServer::sendTo(const QString &peer, const QByteArray &data)
{
    if (data.isEmpty())
        return false;
    for (QTcpSocket *socket : std::as_const(m_clients)) {
        if (socket->state() == QAbstractSocket::ConnectedState && m_peerKeys.value(socket) == peer)
            return writeNow(socket, data);
    }
    return false;
}

bool MultiClientServer::sendToIndex(const QByteArray &data, int index)
{
    if (data.isEmpty() || m_clients.isEmpty())
        return false;
    if (index < 0 || index >= m_clients.size())
        index = 0;
    qCDebug(lcConnection) << "tcpServerSend: index =" << index;
    return writeNow(m_clients.at(index), data);
}

QStringList MultiClientServer::clientPeers() const
{
    QStringList peers;
    for (const QTcpSocket *socket : m_clients)
        peers << m_peerKeys.value(socket);
    return peers;
}

qint64 MultiClientServer::largestBytesToWrite() const
{
    qint64 most = 0;
    for (const QTcpSocket *socket : m_clients)
        most = qMax(most, socket->bytesToWrite());
    return most;
}

void MultiClientServer::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    for (QTcpSocket *socket : std::as_const(m_clients))
        configureClient(socket);
    if (!paused) {
        // Copy: a receiver may react to newMessage by closing a client.
        const QList<QTcpSocket *> clients = m_clients;
        for (QTcpSocket *socket : clients) {
            if (m_clients.contains(socket) && socket->bytesAvailable() > 0)
                readReady(socket);
        }
    }
}

void MultiClientServer::setLowLatency(bool on)
{
    if (on == m_lowLatency)
        return;
    m_lowLatency = on;
    for (QTcpSocket *socket : std::as_const(m_clients))
        configureClient(socket);
}

void MultiClientServer::setClientPolicy(int policy)
{
    m_clientPolicy = policy;
}

void MultiClientServer::setAllowlist(const QStringList &list)
{
    m_allowlist = list;
}

void MultiClientServer::stop()
{
    close();
    const QList<QTcpSocket *> clients = std::exchange(m_clients, {});
    for (QTcpSocket *socket : clients) {
        socket->disconnect(this);
        disconnect(socket, nullptr, this, nullptr);
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->abort();
        socket->deleteLater();
    }
    m_messages.clear();
    m_peerKeys.clear();
    emit connectionStateChange();
}
