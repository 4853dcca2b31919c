#pragma once

#include "connection/connectionmode.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>

class MultiClientServer;
class QSerialPort;
class QTcpSocket;
class QUdpSocket;
struct FormatSetting;

// One sender heard on the pane's UDP socket.
struct UdpPeer
{
    QHostAddress address;
    quint16 port = 0;
    QByteArray lastDatagram;
    QDateTime lastSeen;

    QString key() const;
};

// The one object through which a pane talks to its transport: opens and closes
// the serial port, TCP client, TCP server or UDP socket for the mode it is told,
// moves bytes, keeps the UDP peer table and reports every state change as a
// ready-to-show text. It never reconnects by itself; the pane drives that.
class ConnectionController : public QObject
{
    Q_OBJECT
public:
    // A socket hands over at most this much per read: a flood then arrives in pieces
    // that leave room for the rest of the event loop, and beyond it the peer is held
    // back by TCP instead of filling memory.
    static constexpr qint64 kSocketReadChunk = 256 * 1024;

    enum ControlLine { Dtr = 0, Rts = 1, Break = 2 };

    explicit ConnectionController(QObject *parent = nullptr);
    ~ConnectionController() override;

    static QString portKeyPrefix(int mode);
    static QString portKey(int mode, int portIndex);
    static QString connectionTitle(const FormatSetting &settings, int portIndex);
    static QString peerKey(const QHostAddress &address, quint16 port);
    // What to add to an open failure when the device's group keeps the user out.
    static QString permissionHint(const QString &device);

    // Serial
    bool openSerialPort(const FormatSetting &settings, const QString &portNameOverride,
                        const QString &displayName, bool quiet);
    bool writeSerial(const QByteArray &data, const FormatSetting &settings, const QString &portName);
    bool setControlLine(int line, bool level);
    bool controlLineState(int line) const;
    QSerialPort *serialPort() const { return m_serial; }

    // TCP client (modes 2 and 7)
    void connectTcpClient(const QString &host, quint16 port);
    bool writeTcpClient(const QByteArray &data);
    QTcpSocket *tcpClientSocket() const { return m_tcpClient; }

    // TCP server (mode 1)
    void listenTcp(const QHostAddress &address, quint16 port);
    // Where a TCP server pane listens (every interface unless a program says otherwise).
    void setListenAddress(const QHostAddress &address) { m_listenAddress = address; }
    QHostAddress listenAddress() const { return m_listenAddress; }
    QString serverAddressText() const;
    qint64 serverBroadcast(const QByteArray &data);
    bool serverSendTo(const QString &peer, const QByteArray &data);
    bool serverSendToIndex(const QByteArray &data, int index);
    QByteArray serverTakeMessage(const QString &peer);
    QStringList serverClients() const;
    MultiClientServer *server() const { return m_server; }

    // UDP (modes 4 to 6)
    bool bindUdp(quint16 localPort);
    // Joins `host` when it is a multicast group; other addresses need nothing.
    void joinUdpGroup(const QString &host);
    bool udpSendTo(const QByteArray &data, const QString &host, quint16 port);
    bool udpReplyToCurrentPeer(const QByteArray &data);
    bool udpSendToPeer(const QString &peer, const QByteArray &data);
    qint64 udpSendToAllPeers(const QByteArray &data);
    bool udpSendToPeerRow(const QByteArray &data, int row);
    QByteArray udpPeerData(int row) const;
    void clearUdpPeers();
    QList<QPair<QByteArray, QString>> readUdpDatagrams();
    const QList<UdpPeer> &udpPeers() const { return m_udpPeers; }
    int currentPeerRow() const { return m_currentPeerRow; }

    void closeConnection(int mode, const QString &displayName);
    bool isConnectionOpen(int mode) const;
    QByteArray readAvailable(int mode);
    qint64 pendingBytes(int mode) const;

    void setPaused(int mode, bool paused);
    bool isPaused() const { return m_paused; }
    // How much one read takes from the connection while not paused (0: all there is).
    // A consumer that must not be handed more than it can queue bounds it.
    void setReadLimit(qint64 bytes);
    qint64 readLimit() const { return m_readLimit; }
    // What a socket hands over per read: the limit, but never more than a chunk.
    qint64 socketReadLimit() const { return m_readLimit > 0 ? qMin(m_readLimit, kSocketReadChunk) : kSocketReadChunk; }
    void setLowLatency(bool on);
    bool lowLatency() const { return m_lowLatency; }
    void setClientPolicy(int policy);
    int clientPolicy() const { return m_clientPolicy; }
    void setAllowlist(const QStringList &list);
    QStringList allowlist() const { return m_allowlist; }
    void setWatchPortLoss(bool on) { m_watchPortLoss = on; }
    bool watchPortLoss() const { return m_watchPortLoss; }

signals:
    void statusMessage(const QString &message, int timeoutMs);
    void errorOccurred(const QString &message);
    void readyRead();
    void serialPortLost();
    void tcpClientDisconnected();
    void serverConnectionsChanged();
    void serverMessage(const QString &peer);
    void peerLost(const QString &peer);
    void peerArrived(const QString &peer);
    void udpReadyRead();
    void udpPeersChanged();
    void bytesWritten(qint64 bytes);

private:
    bool driveLine(int line, bool level, bool report);
    void onSerialError(int error);
    void configureTcpClient();
    void discardTcpClient(QTcpSocket *socket);
    void recordUdpSender(const QHostAddress &address, quint16 port, const QByteArray &datagram);

    QSerialPort *m_serial = nullptr;
    bool m_dtrLevel = true;
    bool m_rtsLevel = true;
    bool m_breakActive = false;
    bool m_watchPortLoss = false;
    QTcpSocket *m_tcpClient = nullptr;
    QUdpSocket *m_udp = nullptr;
    MultiClientServer *m_server = nullptr;
    bool m_paused = false;
    qint64 m_readLimit = 0;
    bool m_lowLatency = false;
    int m_clientPolicy = 0;
    QStringList m_allowlist;
    QHostAddress m_listenAddress{QHostAddress::Any};
    QByteArray m_pendingTcpOutput;
    QList<UdpPeer> m_udpPeers;
    QHash<QString, int> m_udpPeerIndex;
    int m_currentPeerRow = -1;
};
