#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QTcpServer>

class QHostAddress;
class QTcpSocket;

// Listening side of the TCP server mode: many clients (or one, exclusive), an
// address allowlist, and per-client receive buffers that never mix.
class MultiClientServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit MultiClientServer(QObject *parent = nullptr);
    ~MultiClientServer() override;

    void stop();
    qint64 writeToAll(const QByteArray &data);
    bool sendTo(const QString &peer, const QByteArray &data);
    bool sendToIndex(const QByteArray &data, int index);
    QByteArray takeMessage(const QString &peer);

    void setPaused(bool paused);
    // How much one read takes from a client while not paused (0: all there is).
    void setReadLimit(qint64 bytes);
    void setLowLatency(bool on);
    void setClientPolicy(int policy);
    void setAllowlist(const QStringList &list);

    bool isPaused() const { return m_paused; }
    bool lowLatency() const { return m_lowLatency; }
    int clientPolicy() const { return m_clientPolicy; }
    QStringList allowlist() const { return m_allowlist; }
    int clientCount() const { return int(m_clients.size()); }
    QStringList clientPeers() const;
    qint64 largestBytesToWrite() const;

    static QString peerKeyOf(const QTcpSocket *socket);
    static bool addressAllowed(const QHostAddress &address, const QStringList &allowlist);

signals:
    void connectionStateChange();
    void newMessage(const QString &message);
    void clientGone(const QString &peer);
    void clientArrived(const QString &peer);
    void bytesWritten(qint64 bytes);
    void connectionRefused(const QString &peer, const QString &reason);

public slots:
    void handleNewConnection();
    void clientDisconnected(QTcpSocket *socket);
    void readReady(QTcpSocket *socket);

private:
    void refuse(QTcpSocket *socket, const QString &reason);
    void configureClient(QTcpSocket *socket) const;

    QList<QTcpSocket *> m_clients;
    QMap<QString, QByteArray> m_messages;
    QHash<const QTcpSocket *, QString> m_peerKeys;
    int m_clientPolicy = 0;
    bool m_paused = false;
    qint64 m_readLimit = 0;
    bool m_lowLatency = false;
    QStringList m_allowlist;
};
