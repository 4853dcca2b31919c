#include "session/porttransport.h"

#include "connection/connectioncontroller.h"
#include "connection/connectionmode.h"
#include "connection/rfc2217lineconfig.h"
#include "settings/formatsetting.h"
#include "settings/serialportlist.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

QString socketStateText(int state)
{
    switch (state) {
    case QAbstractSocket::HostLookupState: return PortTransport::tr("The socket is performing a host name lookup.");
    case QAbstractSocket::ConnectingState: return PortTransport::tr("The socket has started establishing a connection...");
    case QAbstractSocket::ConnectedState: return PortTransport::tr("Connection is established.");
    case QAbstractSocket::BoundState: return PortTransport::tr("The socket is bound to an address and port.");
    case QAbstractSocket::ClosingState:
        return PortTransport::tr("The socket is about to close (data may still be waiting to be written).");
    case QAbstractSocket::ListeningState: return PortTransport::tr("For internal use only.");
    default: return PortTransport::tr("The socket is not connected");
    }
}

namespace {

QString coloured(const QString &colour, const QString &text)
{
    return QStringLiteral("<font color = %1>%2 </font>").arg(colour, text);
}

} // namespace

PortTransport::PortTransport(int mode, ConnectionController *controller, QObject *parent)
    : QObject(parent)
    , m_mode(mode)
    , m_controller(controller)
{
    connect(controller, &ConnectionController::statusMessage, this, &PortTransport::statusMessage);
    connect(controller, &ConnectionController::bytesWritten, this, &PortTransport::bytesWritten);
}

void PortTransport::close(const FormatSetting &s)
{
    m_controller->closeConnection(m_mode, s.PortName);
}

bool PortTransport::isOpen() const
{
    return m_controller->isConnectionOpen(m_mode);
}

PortTransport::Reconnect PortTransport::reconnect(const FormatSetting &)
{
    return Reconnect::GiveUp;
}

QString PortTransport::lostText(const FormatSetting &) const
{
    return {};
}

bool PortTransport::closeIfVanished(const FormatSetting &)
{
    return false;
}

LampStates PortTransport::lamps(const FormatSetting &) const
{
    return {};
}

bool PortTransport::canThrottle(const FormatSetting &) const
{
    return false;
}

bool PortTransport::setBreak(bool)
{
    return false;
}

bool PortTransport::setOutputLine(int, bool, const FormatSetting &)
{
    return false;
}

qint64 PortTransport::pendingBytes() const
{
    return m_controller->pendingBytes(m_mode);
}

void PortTransport::setReadPaused(bool paused)
{
    m_controller->setPaused(m_mode, paused);
}

void PortTransport::setReadLimit(qint64 bytes)
{
    m_controller->setReadLimit(bytes);
}

namespace {

// ---- Local serial port ----------------------------------------------------------

class SerialTransport : public PortTransport
{
public:
    explicit SerialTransport(ConnectionController *c)
        : PortTransport(SerialPort, c)
    {
        connect(c, &ConnectionController::readyRead, this, [this] { emit received(readAll(), QString()); });
        connect(c, &ConnectionController::serialPortLost, this, &PortTransport::lost);
    }

    bool open(const FormatSetting &s, const QString &portNameOverride) override
    {
        // The controller applies the wanted output levels as the port opens.
        if (!m_controller->serialPort()->isOpen()) {
            m_controller->setControlLine(ConnectionController::Dtr, s.DtrOn);
            m_controller->setControlLine(ConnectionController::Rts, s.RtsOn);
        }
        const QString name = portNameOverride.isNull() ? s.PortName : portNameOverride;
        return m_controller->openSerialPort(s, portNameOverride, name, false);
    }

    void close(const FormatSetting &s) override
    {
        PortTransport::close(s);
        if (!m_controller->serialPort()->isOpen())
            m_controller->serialPort()->setPortName(s.PortName);
    }

    bool write(const QByteArray &bytes, const QString &, const FormatSetting &s) override
    {
        return m_controller->writeSerial(bytes, s, s.PortName);
    }

    TransportStatus status(const FormatSetting &s) const override
    {
        const QSerialPort *port = m_controller->serialPort();
        QString name = port->isOpen() ? port->portName() : s.PortName;
        if (name.startsWith(QLatin1String("cu.")))
            name.remove(0, 3);
        if (!port->isOpen())
            return {QStringLiteral("<font color = red> %1 CLOSED </font>").arg(name), TransportStatus::Closed};
        const QString parity = port->parity() == QSerialPort::NoParity ? QStringLiteral("NONE")
            : port->parity() == QSerialPort::EvenParity               ? QStringLiteral("EVEN")
            : port->parity() == QSerialPort::OddParity                ? QStringLiteral("ODD")
                                                                       : QString();
        const QString stop = port->stopBits() == QSerialPort::TwoStop ? QStringLiteral("2")
            : port->stopBits() == QSerialPort::OneAndHalfStop         ? QStringLiteral("1.5")
                                                                       : QStringLiteral("1");
        const QString flow = port->flowControl() == QSerialPort::HardwareControl ? QStringLiteral("Hardware")
            : port->flowControl() == QSerialPort::SoftwareControl                ? QStringLiteral("Xon/Xoff")
                                                                                  : QStringLiteral("OFF");
        return {QStringLiteral("<font color = green> %1 OPENED, %2, %3, %4, %5, %6 </font>")
                    .arg(name)
                    .arg(port->baudRate())
                    .arg(int(port->dataBits()))
                    .arg(parity, stop, flow),
                TransportStatus::Running};
    }

    Reconnect reconnect(const FormatSetting &s) override
    {
        if (m_controller->serialPort()->isOpen())
            return Reconnect::GiveUp;
        if (!isPresent(s.PortName) || !m_controller->openSerialPort(s, s.PortName, s.PortName, true))
            return Reconnect::Waiting;
        emit statusMessage(PortTransport::tr("Serial Port %1 RECONNECTED").arg(s.PortName), 3000);
        return Reconnect::Restored;
    }

    QString lostText(const FormatSetting &s) const override
    {
        return PortTransport::tr("Serial Port %1 lost, waiting for it to come back...").arg(s.PortName);
    }

    bool closeIfVanished(const FormatSetting &s) override
    {
        if (!m_controller->serialPort()->isOpen() || isPresent(s.PortName))
            return false;
        m_controller->serialPort()->close();
        return true;
    }

    LampStates lamps(const FormatSetting &s) const override
    {
        LampStates out;
        auto &l = out.lamps;
        QSerialPort *port = m_controller->serialPort();
        const bool open = port->isOpen();
        if (s.FlowControl == QSerialPort::HardwareControl)
            l[LampStates::Rts] = {open, Lamp::Amber};
        else
            l[LampStates::Rts] = {m_controller->controlLineState(ConnectionController::Rts), Lamp::Green};
        l[LampStates::Dtr] = {m_controller->controlLineState(ConnectionController::Dtr), Lamp::Green};
        if (!open)
            return out;
        const QSerialPort::PinoutSignals pins = port->pinoutSignals();
        // Ports without modem lines (pseudo-terminals) fail this query; that is no port fault.
        if (port->error() != QSerialPort::NoError && port->error() != QSerialPort::ResourceError
            && port->error() != QSerialPort::ReadError)
            port->clearError();
        l[LampStates::Cts].on = pins.testFlag(QSerialPort::ClearToSendSignal);
        l[LampStates::Dsr].on = pins.testFlag(QSerialPort::DataSetReadySignal);
        l[LampStates::Dcd].on = pins.testFlag(QSerialPort::DataCarrierDetectSignal);
        l[LampStates::Ri].on = pins.testFlag(QSerialPort::RingIndicatorSignal);
        return out;
    }

    bool canThrottle(const FormatSetting &s) const override { return s.FlowControl != QSerialPort::NoFlowControl; }

    bool setBreak(bool level) override
    {
        return m_controller->setControlLine(ConnectionController::Break, level);
    }

    bool setOutputLine(int line, bool level, const FormatSetting &) override
    {
        // A closed port takes the level when it opens; a refusal was reported.
        m_controller->setControlLine(line, level);
        return true;
    }

private:
    // The serial module reads a few hundred bytes per wake-up; a fast port would cost
    // one pass of the event loop for each. What the device has already delivered is
    // taken in one read instead, exactly as much as the kernel says is waiting, so the
    // read never finds the port empty (which the module would take for a lost port).
    QByteArray readAll()
    {
        QByteArray bytes = m_controller->readAvailable(SerialPort);
#ifdef Q_OS_UNIX
        const QSerialPort *port = m_controller->serialPort();
        int waiting = 0;
        if (bytes.isEmpty() || !port->isOpen() || m_controller->isPaused()
            || ::ioctl(port->handle(), FIONREAD, &waiting) != 0 || waiting <= 0)
            return bytes;
        const qint64 limit = m_controller->readLimit();
        const qint64 room = limit > 0 ? limit - bytes.size() : kMaxDirectRead;
        if (room <= 0)
            return bytes;
        const qsizetype at = bytes.size();
        bytes.resize(at + qsizetype(qMin<qint64>(waiting, room)));
        const ssize_t got = ::read(port->handle(), bytes.data() + at, size_t(bytes.size() - at));
        bytes.resize(at + qMax<ssize_t>(got, 0));
#endif
        return bytes;
    }

    static constexpr int kMaxDirectRead = 1 << 20;

    // The system's port list misses pseudo-terminals and /dev/serial/by-id links,
    // so a port whose device path exists counts as present too.
    static bool isPresent(const QString &name)
    {
        if (name.isEmpty())
            return false;
        const auto ports = availableSerialPorts();
        for (const QSerialPortInfo &info : ports) {
            if (info.portName() == name || info.systemLocation() == name)
                return true;
        }
#ifndef Q_OS_WIN
        return QFileInfo::exists(QDir::isAbsolutePath(name) ? name : QStringLiteral("/dev/") + name);
#else
        return false;
#endif
    }
};

// ---- TCP client, plain or with RFC 2217 ------------------------------------------

class TcpClientTransport : public PortTransport
{
public:
    TcpClientTransport(int mode, ConnectionController *c)
        : PortTransport(mode, c)
    {
        connect(c, &ConnectionController::readyRead, this, [this] { onBytes(m_controller->readAvailable(m_mode)); });
        connect(c, &ConnectionController::tcpClientDisconnected, this, [this] {
            onDisconnected();
            emit peerLost(QString());
            emit lost();
        });
        connect(c, &ConnectionController::peerArrived, this, [this](const QString &peer) {
            if (!peer.isEmpty())
                return;
            onConnected();
            emit peerArrived(QString());
        });
    }

    bool open(const FormatSetting &s, const QString &) override
    {
        // The connection completes later; the status line follows it.
        if (!m_controller->tcpClientSocket())
            connectTo(s);
        return true;
    }

    bool write(const QByteArray &bytes, const QString &, const FormatSetting &s) override
    {
        if (!m_controller->tcpClientSocket())
            connectTo(s);
        return m_controller->writeTcpClient(encode(bytes));
    }

    TransportStatus status(const FormatSetting &) const override
    {
        const QTcpSocket *socket = m_controller->tcpClientSocket();
        const auto state = socket ? socket->state() : QAbstractSocket::UnconnectedState;
        return {coloured(state == QAbstractSocket::ConnectedState ? QStringLiteral("green") : QStringLiteral("red"),
                         socketStateText(state)),
                TransportStatus::Keep};
    }

    QString lostText(const FormatSetting &) const override { return PortTransport::tr("Connection lost, reconnecting..."); }

    Reconnect reconnect(const FormatSetting &s) override
    {
        const QTcpSocket *socket = m_controller->tcpClientSocket();
        if (!socket) {
            emit statusMessage(PortTransport::tr("Reconnecting to %1:%2 ...").arg(s.LastTargetHost.value(0)).arg(s.LastTargetPort), 2000);
            connectTo(s);
            return Reconnect::Waiting;
        }
        if (socket->state() != QAbstractSocket::ConnectedState)
            return Reconnect::Waiting;
        emit statusMessage(PortTransport::tr("TCP connection RESTORED"), 3000);
        return Reconnect::Restored;
    }

    bool canThrottle(const FormatSetting &) const override { return true; }

protected:
    virtual void connectTo(const FormatSetting &s)
    {
        // The host is the first entry of the host history, so it is always in it.
        m_controller->connectTcpClient(s.LastTargetHost.value(0), quint16(s.LastTargetPort));
    }
    virtual QByteArray encode(const QByteArray &bytes) const { return bytes; }
    virtual void onBytes(const QByteArray &bytes) { emit received(bytes, QString()); }
    virtual void onConnected() {}
    virtual void onDisconnected() {}
};

class RemoteSerialTransport : public TcpClientTransport
{
public:
    explicit RemoteSerialTransport(ConnectionController *c)
        : TcpClientTransport(RemoteSerial, c)
    {
        m_handshake.setSingleShot(true);
        m_handshake.setInterval(Rfc2217ClientSession::HandshakeTimeoutMs);
        connect(&m_handshake, &QTimer::timeout, this, [this] { apply(m_rfc.handshakeTimedOut()); });
    }

    void applyLineSettings(const FormatSetting &s) override
    {
        m_settings = s;
        if (m_rfc.state() == Rfc2217ClientSession::Active)
            pushConfig();
    }

    LampStates lamps(const FormatSetting &s) const override
    {
        LampStates out;
        auto &l = out.lamps;
        const bool accepted = m_rfc.codec().comPortAccepted();
        auto remote = [&](bool known, bool level, bool wanted) -> Lamp {
            if (known)
                return {level, Lamp::Green};
            if (wanted && accepted)
                return {true, Lamp::Amber};
            return {false, Lamp::Grey};
        };
        l[LampStates::Rts] = remote(m_rfc.remoteRtsKnown(), m_rfc.remoteRts(), s.RtsOn);
        l[LampStates::Dtr] = remote(m_rfc.remoteDtrKnown(), m_rfc.remoteDtr(), s.DtrOn);
        if (m_rfc.remoteModemStateKnown()) {
            const quint8 modem = m_rfc.remoteModemState();
            l[LampStates::Cts].on = modem & 0x10;
            l[LampStates::Dsr].on = modem & 0x20;
            l[LampStates::Ri].on = modem & 0x40;
            l[LampStates::Dcd].on = modem & 0x80;
        }
        return out;
    }

    bool setBreak(bool level) override
    {
        const QByteArray command = m_rfc.setBreak(level);
        if (command.isEmpty()) {
            if (level)
                emit statusMessage(PortTransport::tr("The remote peer did not accept RFC 2217 com-port control, so Break cannot be sent."), 5000);
            return false;
        }
        if (!m_controller->writeTcpClient(command)) {
            if (level)
                emit statusMessage(PortTransport::tr("Could not send Break: the connection is not open."), 5000);
            return false;
        }
        if (level)
            emit statusMessage(PortTransport::tr("Sent Break to the remote port; it is released when you let go."), 5000);
        return true;
    }

    bool setOutputLine(int line, bool level, const FormatSetting &s) override
    {
        const QString name = line == ConnectionController::Rts ? QStringLiteral("RTS") : QStringLiteral("DTR");
        if (m_rfc.state() != Rfc2217ClientSession::Active) {
            emit statusMessage(PortTransport::tr("The remote peer did not accept RFC 2217 com-port control, so %1 cannot be set from here.").arg(name),
                               6000);
            return false;
        }
        applyLineSettings(s);
        emit statusMessage(PortTransport::tr("Asked the remote port for %1 %2; the lamp turns green when the server confirms it.")
                               .arg(name, level ? PortTransport::tr("high") : PortTransport::tr("low")),
                           5000);
        return true;
    }

    const Rfc2217ClientSession &rfc() const { return m_rfc; }

protected:
    void connectTo(const FormatSetting &s) override
    {
        m_settings = s;
        m_rfc.reset();
        TcpClientTransport::connectTo(s);
    }

    QByteArray encode(const QByteArray &bytes) const override { return m_rfc.encodeData(bytes); }

    void onBytes(const QByteArray &bytes) override
    {
        if (bytes.isEmpty())
            return;
        const Rfc2217Result result = m_rfc.decode(bytes);
        apply(result);
        emit received(result.data, QString());
    }

    void onConnected() override
    {
        m_rfc.reset();
        const QByteArray hello = m_rfc.start();
        if (!hello.isEmpty())
            m_controller->writeTcpClient(hello);
        m_handshake.start();
        emit linesChanged();
    }

    void onDisconnected() override
    {
        m_handshake.stop();
        m_rfc.reset();
        emit linesChanged();
    }

private:
    void apply(const Rfc2217Result &result)
    {
        if (!result.reply.isEmpty())
            m_controller->writeTcpClient(result.reply);
        if (!result.message.isEmpty())
            emit statusMessage(result.message, 3000);
        if (result.negotiationEnded) {
            m_handshake.stop();
            if (m_rfc.state() == Rfc2217ClientSession::Active)
                pushConfig();
        }
        emit linesChanged();
    }

    void pushConfig()
    {
        Rfc2217LineConfig config;
        config.baudRate = m_settings.BaudRate;
        config.dataBits = m_settings.DataBits;
        config.parity = m_settings.Parity;
        config.stopBits = m_settings.StopBits;
        config.flowControl = m_settings.FlowControl;
        config.dtrOn = m_settings.DtrOn;
        config.rtsOn = m_settings.RtsOn;
        config.useRemoteSerialConfig = m_settings.UseRemoteSerialConfig;
        const QByteArray bytes = m_rfc.applyConfig(config);
        if (!bytes.isEmpty())
            m_controller->writeTcpClient(bytes);
    }

    Rfc2217ClientSession m_rfc;
    QTimer m_handshake{this};
    FormatSetting m_settings;
};

// ---- TCP server -----------------------------------------------------------------

class TcpServerTransport : public PortTransport
{
public:
    explicit TcpServerTransport(ConnectionController *c)
        : PortTransport(TcpServer, c)
    {
        connect(c, &ConnectionController::serverMessage, this,
                [this](const QString &peer) { emit received(m_controller->serverTakeMessage(peer), peer); });
        connect(c, &ConnectionController::serverConnectionsChanged, this, &PortTransport::peersChanged);
        connect(c, &ConnectionController::peerArrived, this, &PortTransport::peerArrived);
        connect(c, &ConnectionController::peerLost, this, &PortTransport::peerLost);
    }

    bool open(const FormatSetting &s, const QString &) override
    {
        m_controller->listenTcp(m_controller->listenAddress(), quint16(s.LastTargetPort));
        return isOpen();
    }

    bool write(const QByteArray &bytes, const QString &peer, const FormatSetting &) override
    {
        return peer.isEmpty() ? m_controller->serverSendToIndex(bytes, 0) : m_controller->serverSendTo(peer, bytes);
    }

    TransportStatus status(const FormatSetting &) const override
    {
        if (!isOpen())
            return {coloured(QStringLiteral("red"), socketStateText(QAbstractSocket::UnconnectedState)),
                    TransportStatus::Keep};
        const QString address = m_controller->serverAddressText();
        const int colon = address.lastIndexOf(QLatin1Char(':'));
        const QString host = address.left(colon), port = address.mid(colon + 1);
        if (m_controller->serverClients().isEmpty())
            return {coloured(QStringLiteral("green"), PortTransport::tr("Waiting for Connections on %1:%2...").arg(host, port)),
                    TransportStatus::Keep};
        return {coloured(QStringLiteral("green"), PortTransport::tr("Connected") + QLatin1Char(' ') + PortTransport::tr("Listening on %1:%2").arg(host, port)),
                TransportStatus::Running};
    }

    QStringList peers() const override { return m_controller->serverClients(); }
    bool canThrottle(const FormatSetting &) const override { return true; }
};

// ---- UDP server, client and group ---------------------------------------------------

class UdpTransport : public PortTransport
{
public:
    UdpTransport(int mode, ConnectionController *c)
        : PortTransport(mode, c)
    {
        connect(c, &ConnectionController::udpReadyRead, this, [this] {
            const auto datagrams = m_controller->readUdpDatagrams();
            for (const auto &[datagram, peer] : datagrams)
                emit received(datagram, peer);
        });
        connect(c, &ConnectionController::udpPeersChanged, this, &PortTransport::peersChanged);
    }

    bool open(const FormatSetting &s, const QString &) override
    {
        if (!m_controller->bindUdp(m_mode == UdpServer ? quint16(s.LastTargetPort) : s.UdpLocalPort))
            return false;
        // A group pane listens to its destination when that is a multicast group.
        if (m_mode == UdpGroup)
            m_controller->joinUdpGroup(s.LastTargetHost.value(0));
        return isOpen();
    }

    bool write(const QByteArray &bytes, const QString &peer, const FormatSetting &s) override
    {
        if (!peer.isEmpty())
            return m_controller->udpSendToPeer(peer, bytes);
        if (m_mode == UdpServer)
            return m_controller->udpSendToPeerRow(bytes, m_controller->currentPeerRow());
        return m_controller->udpSendTo(bytes, s.LastTargetHost.value(0), quint16(s.LastTargetPort));
    }

    TransportStatus status(const FormatSetting &s) const override
    {
        if (!isOpen())
            return {coloured(QStringLiteral("red"), socketStateText(QAbstractSocket::UnconnectedState)), TransportStatus::Keep};
        const int port = m_mode == UdpServer ? s.LastTargetPort : int(s.UdpLocalPort);
        return {coloured(QStringLiteral("green"), PortTransport::tr("UDP socket is bound to %1:%2.").arg(QStringLiteral("0.0.0.0")).arg(port)),
                TransportStatus::Keep};
    }

    QStringList peers() const override
    {
        QStringList keys;
        for (const UdpPeer &peer : m_controller->udpPeers())
            keys << peer.key();
        return keys;
    }

    QString currentPeer() const override
    {
        const int row = m_controller->currentPeerRow();
        return row >= 0 && row < m_controller->udpPeers().size() ? m_controller->udpPeers().at(row).key() : QString();
    }
};

// Mode 3 and unknown modes: no transport at all.
class NoTransport : public PortTransport
{
public:
    NoTransport(int mode, ConnectionController *c)
        : PortTransport(mode, c)
    {
    }
    bool open(const FormatSetting &, const QString &) override { return false; }
    bool write(const QByteArray &, const QString &, const FormatSetting &) override { return false; }
    TransportStatus status(const FormatSetting &) const override { return {}; }
};

} // namespace

std::unique_ptr<PortTransport> makePortTransport(int mode, ConnectionController *controller)
{
    switch (mode) {
    case SerialPort: return std::make_unique<SerialTransport>(controller);
    case TcpClient: return std::make_unique<TcpClientTransport>(mode, controller);
    case RemoteSerial: return std::make_unique<RemoteSerialTransport>(controller);
    case TcpServer: return std::make_unique<TcpServerTransport>(controller);
    case UdpServer:
    case UdpClient:
    case UdpGroup: return std::make_unique<UdpTransport>(mode, controller);
    default: return std::make_unique<NoTransport>(mode, controller);
    }
}
