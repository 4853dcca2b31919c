#include "connection/connectioncontroller.h"
#include "connection/connectionlog.h"

#include "connection/multiclientserver.h"
#include "settings/formatsetting.h"

#include <QFile>
#include <QSerialPort>
#include <QTcpSocket>
#include <QUdpSocket>

#ifdef Q_OS_LINUX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcConnection, "quillon.connection", QtWarningMsg)

QString UdpPeer::key() const
{
    return ConnectionController::peerKey(address, port);
}

ConnectionController::ConnectionController(QObject *parent)
    : QObject(parent)
    , m_serial(new QSerialPort(QStringLiteral("COM1"), this))
{
    connect(m_serial, &QSerialPort::readyRead, this, &ConnectionController::readyRead);
    connect(m_serial, &QSerialPort::bytesWritten, this, &ConnectionController::bytesWritten);
    connect(m_serial, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) { onSerialError(e); });
}

ConnectionController::~ConnectionController()
{
    // The server's stop() would otherwise signal into a half-destroyed controller.
    if (m_server)
        m_server->disconnect(this);
}

QString ConnectionController::portKeyPrefix(int mode)
{
    switch (mode) {
    case SerialPort: return QStringLiteral("ser");
    case TcpServer: return QStringLiteral("tcps");
    case TcpClient: return QStringLiteral("tcpc");
    case UdpServer: return QStringLiteral("udps");
    case UdpClient: return QStringLiteral("udpc");
    case UdpGroup: return QStringLiteral("udpg");
    case RemoteSerial: return QStringLiteral("rser");
    default: return QStringLiteral("port");
    }
}

QString ConnectionController::portKey(int mode, int portIndex)
{
    return QStringLiteral("%1-%2").arg(portKeyPrefix(mode)).arg(portIndex);
}

QString ConnectionController::peerKey(const QHostAddress &address, quint16 port)
{
    return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

QString ConnectionController::connectionTitle(const FormatSetting &s, int portIndex)
{
    const QString host = s.LastTargetHost.value(0);
    switch (s.ConnMode) {
    case SerialPort: return s.PortName;
    case TcpServer: return tr("TCP Server :%1").arg(s.LastTargetPort);
    case TcpClient: return tr("TCP Client %1:%2").arg(host).arg(s.LastTargetPort);
    case UdpServer: return tr("UDP Server :%1").arg(s.LastTargetPort);
    case UdpClient:
    case UdpGroup: return tr("UDP %1:%2").arg(host).arg(s.LastTargetPort);
    case RemoteSerial: return tr("Remote Serial %1:%2").arg(host).arg(s.LastTargetPort);
    default: return tr("Port %1").arg(portIndex + 1);
    }
}

// ---- Serial -----------------------------------------------------------------

// The most common first failure on Linux: the device belongs to a group (dialout, uucp)
// that the user is not in, or joined without logging in again since.
QString ConnectionController::permissionHint(const QString &device)
{
#ifdef Q_OS_LINUX
    const QByteArray path = QFile::encodeName(device);
    struct stat info{};
    if (device.isEmpty() || ::stat(path.constData(), &info) != 0 || ::access(path.constData(), R_OK | W_OK) == 0
        || errno != EACCES)
        return {};
    const group *owner = ::getgrgid(info.st_gid);
    const passwd *user = ::getpwuid(::getuid());
    if (!owner || !user)
        return {};
    return QLatin1Char(' ')
        + tr("The port belongs to the group \"%1\", which this session does not have. Add yourself to it with "
             "\"sudo usermod -aG %1 %2\", then log out and log in again.")
              .arg(QString::fromLocal8Bit(owner->gr_name), QString::fromLocal8Bit(user->pw_name));
#else
    Q_UNUSED(device)
    return {};
#endif
}

bool ConnectionController::openSerialPort(const FormatSetting &settings, const QString &portNameOverride,
                                          const QString &displayName, bool quiet)
{
    const QString name = portNameOverride.isNull() ? settings.PortName : portNameOverride;
    qCDebug(lcConnection) << "openPort: " << name;
    if (m_serial->isOpen())
        return true;
    m_serial->setPortName(name);
    if (!m_serial->open(QIODevice::ReadWrite)) {
        const QString text = tr("Serial Port %1 OPEN FAILED! ERROR: ").arg(displayName) + m_serial->errorString()
            + permissionHint(name.startsWith(u'/') ? name : QStringLiteral("/dev/") + name);
        if (!quiet) {
            emit errorOccurred(text);
            emit statusMessage(text, 5000);
        }
        return false;
    }
    // A device that cannot take a line setting keeps running, but the user is told.
    auto check = [this](bool ok, const QString &what) {
        if (!ok)
            emit statusMessage(tr("Failed to set %1: %2").arg(what, m_serial->errorString()), 3000);
    };
    check(m_serial->setBaudRate(settings.BaudRate, QSerialPort::AllDirections), tr("baud rate"));
    check(m_serial->setDataBits(QSerialPort::DataBits(settings.DataBits)), tr("data bits"));
    check(m_serial->setParity(QSerialPort::Parity(settings.Parity)), tr("parity"));
    check(m_serial->setStopBits(QSerialPort::StopBits(settings.StopBits)), tr("stop bits"));
    check(m_serial->setFlowControl(QSerialPort::FlowControl(settings.FlowControl)), tr("flow control"));
    m_breakActive = false;
    m_serial->setBreakEnabled(false);
    m_serial->clearError();
    emit statusMessage(tr("Serial Port %1 OPEN SUCCESS").arg(displayName), 1000);
    driveLine(Dtr, m_dtrLevel, true);
    if (m_serial->flowControl() != QSerialPort::HardwareControl)
        driveLine(Rts, m_rtsLevel, true);
    return true;
}

bool ConnectionController::writeSerial(const QByteArray &data, const FormatSetting &settings, const QString &portName)
{
    if (!m_serial->isOpen() && !openSerialPort(settings, portName, portName, false))
        return false;
    // An idle port sends now (see writeTcpClient); a busy one already waits to be
    // writable, and a device slower than us would only refuse a second try.
    const bool idle = m_serial->bytesToWrite() == 0;
    if (m_serial->write(data) == -1) {
        qCInfo(lcConnection) << "Send message failed!" << m_serial->error() << m_serial->errorString();
        return false;
    }
    if (idle)
        m_serial->flush();
    return true;
}

bool ConnectionController::driveLine(int line, bool level, bool report)
{
    bool ok = false;
    QString name;
    switch (line) {
    case Rts:
        if (m_serial->flowControl() == QSerialPort::HardwareControl) {
            if (report)
                emit statusMessage(tr("RTS is managed automatically by RTS/CTS flow control"), 3000);
            return false;
        }
        ok = m_serial->setRequestToSend(level);
        name = QStringLiteral("RTS");
        break;
    case Break:
        ok = m_serial->setBreakEnabled(level);
        name = tr("Break");
        break;
    case Dtr:
        ok = m_serial->setDataTerminalReady(level);
        name = QStringLiteral("DTR");
        break;
    default:
        return false;
    }
    if (!ok && report)
        emit statusMessage(tr("Failed to set %1: %2").arg(name, m_serial->errorString()), 3000);
    return ok;
}

bool ConnectionController::setControlLine(int line, bool level)
{
    switch (line) {
    case Dtr:
    case Rts:
        (line == Dtr ? m_dtrLevel : m_rtsLevel) = level;
        return m_serial->isOpen() ? driveLine(line, level, true) : true;
    case Break:
        if (m_serial->isOpen()) {
            const bool ok = driveLine(Break, level, true);
            m_breakActive = level && ok;
            return ok;
        }
        m_breakActive = false;
        if (level) {
            emit statusMessage(tr("Open the serial port before sending Break"), 3000);
            return false;
        }
        return true;
    default:
        return false;
    }
}

bool ConnectionController::controlLineState(int line) const
{
    switch (line) {
    case Dtr: return m_dtrLevel;
    case Rts: return m_rtsLevel;
    case Break: return m_breakActive;
    default: return false;
    }
}

void ConnectionController::onSerialError(int error)
{
    // A vanished USB adapter reports a resource error; a hung-up tty (a pty whose
    // other end went away) only reports read errors, over and over.
    const bool lost = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (!lost || !m_serial->isOpen() || !m_watchPortLoss)
        return;
    const QString name = m_serial->portName();
    m_breakActive = false;
    m_serial->close();
    emit statusMessage(tr("Serial Port %1 DISCONNECTED").arg(name), 5000);
    emit serialPortLost();
}

// ---- TCP client -------------------------------------------------------------

void ConnectionController::connectTcpClient(const QString &host, quint16 port)
{
    if (m_tcpClient)
        return;
    qCDebug(lcConnection) << "start: new Tcp Socket";
    auto *socket = new QTcpSocket(this);
    m_tcpClient = socket;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        if (socket != m_tcpClient)
            return;
        if (!m_pendingTcpOutput.isEmpty())
            socket->write(std::exchange(m_pendingTcpOutput, QByteArray()));
        emit peerArrived(QString());
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket == m_tcpClient)
            emit readyRead();
    });
    connect(socket, &QTcpSocket::bytesWritten, this, &ConnectionController::bytesWritten);
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        qCDebug(lcConnection) << "disconnectTcpClient :" << socket->peerName();
        if (socket == m_tcpClient) {
            m_pendingTcpOutput.clear();
            m_tcpClient = nullptr;
        }
        socket->deleteLater();
        emit tcpClientDisconnected();
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) {
        if (socket != m_tcpClient)
            return;
        const QString text = tr("TCP connect FAILED: %1").arg(socket->errorString());
        emit errorOccurred(text);
        emit statusMessage(text, 5000);
        m_pendingTcpOutput.clear();
        m_tcpClient = nullptr;
        socket->deleteLater();
    });
    configureTcpClient();
    socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void ConnectionController::configureTcpClient()
{
    if (!m_tcpClient)
        return;
    if (m_lowLatency) {
        m_tcpClient->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_tcpClient->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    }
    m_tcpClient->setReadBufferSize(m_paused ? 4096 : socketReadLimit());
}

bool ConnectionController::writeTcpClient(const QByteArray &data)
{
    if (!m_tcpClient || data.isEmpty())
        return false;
    switch (m_tcpClient->state()) {
    case QAbstractSocket::ConnectedState: {
        if (!m_pendingTcpOutput.isEmpty())
            m_tcpClient->write(std::exchange(m_pendingTcpOutput, QByteArray()));
        // Out now rather than on the next pass of the event loop: less latency, and a
        // forwarder sees at once what the socket could not take.
        if (m_tcpClient->write(data) == -1)
            return false;
        m_tcpClient->flush();
        return true;
    }
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
        m_pendingTcpOutput.append(data);
        return true;
    default:
        return false;
    }
}

void ConnectionController::discardTcpClient(QTcpSocket *socket)
{
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

// ---- TCP server -------------------------------------------------------------

void ConnectionController::listenTcp(const QHostAddress &address, quint16 port)
{
    if (!m_server) {
        m_server = new MultiClientServer(this);
        connect(m_server, &MultiClientServer::connectionStateChange, this, &ConnectionController::serverConnectionsChanged);
        connect(m_server, &MultiClientServer::newMessage, this, &ConnectionController::serverMessage);
        connect(m_server, &MultiClientServer::clientGone, this, &ConnectionController::peerLost);
        connect(m_server, &MultiClientServer::clientArrived, this, &ConnectionController::peerArrived);
        connect(m_server, &MultiClientServer::bytesWritten, this, &ConnectionController::bytesWritten);
        connect(m_server, &MultiClientServer::connectionRefused, this, [this](const QString &peer, const QString &reason) {
            emit statusMessage(tr("Refused %1: %2").arg(peer, reason), 5000);
        });
    }
    m_server->stop();
    m_server->setLowLatency(m_lowLatency);
    m_server->setPaused(m_paused);
    m_server->setReadLimit(m_readLimit);
    m_server->setClientPolicy(m_clientPolicy);
    m_server->setAllowlist(m_allowlist);
    m_server->listen(address, port);
}

QString ConnectionController::serverAddressText() const
{
    if (!m_server)
        return {};
    return QStringLiteral("%1:%2").arg(m_server->serverAddress().toString()).arg(m_server->serverPort());
}

qint64 ConnectionController::serverBroadcast(const QByteArray &data)
{
    return m_server ? m_server->writeToAll(data) : 0;
}

bool ConnectionController::serverSendTo(const QString &peer, const QByteArray &data)
{
    return m_server && m_server->sendTo(peer, data);
}

bool ConnectionController::serverSendToIndex(const QByteArray &data, int index)
{
    return m_server && m_server->sendToIndex(data, index);
}

QByteArray ConnectionController::serverTakeMessage(const QString &peer)
{
    return m_server ? m_server->takeMessage(peer) : QByteArray();
}

QStringList ConnectionController::serverClients() const
{
    return m_server ? m_server->clientPeers() : QStringList();
}

// ---- UDP --------------------------------------------------------------------

bool ConnectionController::bindUdp(quint16 localPort)
{
    if (m_udp) {
        m_udp->disconnect(this);
        m_udp->abort();
        m_udp->deleteLater();
        m_udp = nullptr;
    }
    if (!m_udpPeers.isEmpty())
        clearUdpPeers();
    m_udp = new QUdpSocket(this);
    connect(m_udp, &QUdpSocket::readyRead, this, &ConnectionController::udpReadyRead);
    connect(m_udp, &QUdpSocket::bytesWritten, this, &ConnectionController::bytesWritten);
    if (!m_udp->bind(QHostAddress::AnyIPv4, localPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        const QString text = tr("UDP bind to port %1 FAILED: %2").arg(localPort).arg(m_udp->errorString());
        qCInfo(lcConnection) << text;
        emit errorOccurred(text);
        emit statusMessage(text, 5000);
        return false;
    }
    return true;
}

void ConnectionController::joinUdpGroup(const QString &host)
{
    const QHostAddress group(host);
    if (!m_udp || !group.isMulticast())
        return;
    if (!m_udp->joinMulticastGroup(group))
        emit statusMessage(tr("Could not join the multicast group %1: %2").arg(host, m_udp->errorString()), 5000);
}

QList<QPair<QByteArray, QString>> ConnectionController::readUdpDatagrams()
{
    QList<QPair<QByteArray, QString>> result;
    if (!m_udp)
        return result;
    while (m_udp->hasPendingDatagrams()) {
        const qint64 size = m_udp->pendingDatagramSize();
        QByteArray datagram(qMax<qint64>(size, 0), Qt::Uninitialized);
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 got = m_udp->readDatagram(datagram.data(), datagram.size(), &sender, &senderPort);
        qCDebug(lcConnection) << "[readUdpSocket] packetSize:" << got;
        if (got < 0)
            break;
        datagram.truncate(got);
        recordUdpSender(sender, senderPort, datagram);
        result.append({datagram, peerKey(sender, senderPort)});
    }
    return result;
}

void ConnectionController::recordUdpSender(const QHostAddress &address, quint16 port, const QByteArray &datagram)
{
    const QString key = peerKey(address, port);
    const auto it = m_udpPeerIndex.constFind(key);
    if (it != m_udpPeerIndex.constEnd()) {
        m_currentPeerRow = it.value();
        UdpPeer &peer = m_udpPeers[m_currentPeerRow];
        peer.lastDatagram = datagram;
        peer.lastSeen = QDateTime::currentDateTime();
        return;
    }
    m_udpPeers.append(UdpPeer{address, port, datagram, QDateTime::currentDateTime()});
    m_currentPeerRow = int(m_udpPeers.size()) - 1;
    m_udpPeerIndex.insert(key, m_currentPeerRow);
    emit udpPeersChanged();
}

bool ConnectionController::udpSendTo(const QByteArray &data, const QString &host, quint16 port)
{
    if (!m_udp || data.isEmpty())
        return false;
    qCDebug(lcConnection) << "udpSend:" << host << port;
    return m_udp->writeDatagram(data, QHostAddress(host), port) != -1;
}

bool ConnectionController::udpReplyToCurrentPeer(const QByteArray &data)
{
    if (!m_udp || data.isEmpty() || m_currentPeerRow < 0 || m_currentPeerRow >= m_udpPeers.size())
        return false;
    const UdpPeer &peer = m_udpPeers.at(m_currentPeerRow);
    return m_udp->writeDatagram(data, peer.address, peer.port) != -1;
}

bool ConnectionController::udpSendToPeer(const QString &peer, const QByteArray &data)
{
    if (!m_udp || data.isEmpty())
        return false;
    const auto it = m_udpPeerIndex.constFind(peer);
    if (it == m_udpPeerIndex.constEnd())
        return false;
    const UdpPeer &p = m_udpPeers.at(it.value());
    return m_udp->writeDatagram(data, p.address, p.port) != -1;
}

qint64 ConnectionController::udpSendToAllPeers(const QByteArray &data)
{
    if (!m_udp || data.isEmpty())
        return 0;
    qint64 best = 0;
    for (const UdpPeer &peer : std::as_const(m_udpPeers))
        best = qMax(best, m_udp->writeDatagram(data, peer.address, peer.port));
    return best;
}

bool ConnectionController::udpSendToPeerRow(const QByteArray &data, int row)
{
    if (!m_udp || data.isEmpty())
        return false;
    if (m_udpPeers.isEmpty()) {
        emit statusMessage(tr("No UDP peer to reply to yet"), 3000);
        return false;
    }
    if (row < 0 || row >= m_udpPeers.size())
        row = 0;
    qCDebug(lcConnection) << "sendUdpToPeer: row =" << row;
    const UdpPeer &peer = m_udpPeers.at(row);
    return m_udp->writeDatagram(data, peer.address, peer.port) != -1;
}

QByteArray ConnectionController::udpPeerData(int row) const
{
    return row >= 0 && row < m_udpPeers.size() ? m_udpPeers.at(row).lastDatagram : QByteArray();
}

void ConnectionController::clearUdpPeers()
{
    if (m_udpPeers.isEmpty() && m_currentPeerRow == -1)
        return;
    m_udpPeers.clear();
    m_udpPeerIndex.clear();
    m_currentPeerRow = -1;
    emit udpPeersChanged();
}

// ---- Common -----------------------------------------------------------------

void ConnectionController::closeConnection(int mode, const QString &displayName)
{
    switch (mode) {
    case SerialPort:
        if (m_serial->isOpen()) {
            driveLine(Break, false, false);
            driveLine(Dtr, false, false);
            if (m_serial->flowControl() != QSerialPort::HardwareControl)
                driveLine(Rts, false, false);
            m_breakActive = false;
            m_serial->close();
            emit statusMessage(m_serial->isOpen() ? tr("Serial Port %1 CLOSE FAILED").arg(displayName)
                                                  : tr("Serial Port %1 CLOSE SUCCESS").arg(displayName),
                               3000);
        }
        m_breakActive = false;
        break;
    case TcpServer:
        if (m_server)
            m_server->stop();
        break;
    case TcpClient:
    case RemoteSerial:
        if (QTcpSocket *socket = std::exchange(m_tcpClient, nullptr)) {
            m_pendingTcpOutput.clear();
            discardTcpClient(socket);
            emit tcpClientDisconnected();
        }
        break;
    case UdpServer:
    case UdpClient:
    case UdpGroup:
        if (m_udp)
            m_udp->abort();
        if (!m_udpPeers.isEmpty())
            clearUdpPeers();
        break;
    default:
        break;
    }
}

bool ConnectionController::isConnectionOpen(int mode) const
{
    switch (mode) {
    case SerialPort: return m_serial->isOpen();
    case TcpServer: return m_server && m_server->isListening();
    case TcpClient:
    case RemoteSerial: return m_tcpClient && m_tcpClient->state() == QAbstractSocket::ConnectedState;
    case UdpServer:
    case UdpClient:
    case UdpGroup: return m_udp && m_udp->state() == QAbstractSocket::BoundState;
    default: return false;
    }
}

QByteArray ConnectionController::readAvailable(int mode)
{
    if (m_paused)
        return {};
    switch (mode) {
    case SerialPort: return m_serial->readAll();
    case TcpClient:
    case RemoteSerial: return m_tcpClient ? m_tcpClient->readAll() : QByteArray();
    default: return {};
    }
}

qint64 ConnectionController::pendingBytes(int mode) const
{
    switch (mode) {
    case SerialPort: return m_serial->bytesToWrite();
    case TcpServer: return m_server ? m_server->largestBytesToWrite() : 0;
    case TcpClient:
    case RemoteSerial: return m_pendingTcpOutput.size() + (m_tcpClient ? m_tcpClient->bytesToWrite() : 0);
    case UdpServer:
    case UdpClient:
    case UdpGroup: return m_udp ? m_udp->bytesToWrite() : 0;
    default: return 0;
    }
}

void ConnectionController::setPaused(int mode, bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    const qint64 limit = paused ? 4096 : m_readLimit;
    const qint64 socketLimit = paused ? 4096 : socketReadLimit();
    switch (mode) {
    case SerialPort:
        m_serial->setReadBufferSize(limit);
        if (!paused && m_serial->isOpen() && m_serial->bytesAvailable() > 0)
            emit readyRead();
        break;
    case TcpClient:
    case RemoteSerial:
        if (m_tcpClient) {
            m_tcpClient->setReadBufferSize(socketLimit);
            if (!paused && m_tcpClient->bytesAvailable() > 0)
                emit readyRead();
        }
        break;
    case TcpServer:
        if (m_server)
            m_server->setPaused(paused);
        break;
    default:
        break;
    }
}

void ConnectionController::setReadLimit(qint64 bytes)
{
    m_readLimit = qMax<qint64>(0, bytes);
    if (m_server)
        m_server->setReadLimit(m_readLimit);
    if (m_paused)
        return;
    m_serial->setReadBufferSize(m_readLimit);
    if (m_tcpClient)
        m_tcpClient->setReadBufferSize(socketReadLimit());
}

void ConnectionController::setLowLatency(bool on)
{
    m_lowLatency = on;
    configureTcpClient();
    if (m_server)
        m_server->setLowLatency(on);
}

void ConnectionController::setClientPolicy(int policy)
{
    m_clientPolicy = policy;
    if (m_server)
        m_server->setClientPolicy(policy);
}

void ConnectionController::setAllowlist(const QStringList &list)
{
    m_allowlist = list;
    if (m_server)
        m_server->setAllowlist(list);
}
