#pragma once

#include "connection/rfc2217clientsession.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <array>
#include <memory>

class ConnectionController;
struct FormatSetting;

// One lamp of the control-line row as the connection reports it.
struct Lamp
{
    enum Colour { Green, Amber, Grey };
    bool on = false;
    Colour colour = Green;
};

// RTS, DTR and the inputs CTS, DSR, DCD, RI, in that order.
struct LampStates
{
    enum Line { Rts, Dtr, Cts, Dsr, Dcd, Ri };
    std::array<Lamp, 6> lamps{};
};

// The status line of a connection and what it says about the pane's state.
struct TransportStatus
{
    enum Hint { Keep, Running, Closed };
    QString html; // empty: leave the line as it is
    Hint hint = Keep;
};

// The part of a port session that differs by kind of connection: opening, writing,
// the status line, reconnecting and the control lines. makePortTransport() is the
// one place that picks it from the connection mode. Received bytes and connection
// events come out as signals; the controller underneath owns the sockets.
class PortTransport : public QObject
{
    Q_OBJECT
public:
    enum class Reconnect { Waiting, Restored, GiveUp };

    PortTransport(int mode, ConnectionController *controller, QObject *parent = nullptr);

    int mode() const { return m_mode; }
    ConnectionController *controller() const { return m_controller; }

    virtual bool open(const FormatSetting &s, const QString &portNameOverride) = 0;
    virtual void close(const FormatSetting &s);
    virtual bool isOpen() const;
    // Writes to one peer (a server client or UDP sender), or to the connection's own
    // destination when `peer` is empty.
    virtual bool write(const QByteArray &bytes, const QString &peer, const FormatSetting &s) = 0;
    virtual TransportStatus status(const FormatSetting &s) const = 0;
    // What to show when the connection is lost and will be waited for; empty when this
    // kind of connection does not reconnect.
    virtual QString lostText(const FormatSetting &s) const;
    // One step of the reconnect machine, every two seconds after a loss.
    virtual Reconnect reconnect(const FormatSetting &s);
    // Closes an open port that has disappeared from the system without telling
    // (checked each second); true when it did.
    virtual bool closeIfVanished(const FormatSetting &s);
    virtual LampStates lamps(const FormatSetting &s) const;
    virtual QStringList peers() const { return {}; }
    // The peer the connection itself would answer, if it tracks one.
    virtual QString currentPeer() const { return {}; }
    // The read side can be held back so that the far end slows down.
    virtual bool canThrottle(const FormatSetting &s) const;

    // Control lines. A refusal is reported through statusMessage.
    virtual bool setBreak(bool level);
    virtual bool setOutputLine(int line, bool level, const FormatSetting &s);
    // The line settings changed while the connection is open.
    virtual void applyLineSettings(const FormatSetting &) {}

    qint64 pendingBytes() const;
    void setReadPaused(bool paused);
    void setReadLimit(qint64 bytes);

signals:
    void received(const QByteArray &bytes, const QString &peer);
    void lost();
    void peersChanged();
    void peerArrived(const QString &peer);
    void peerLost(const QString &peer);
    void linesChanged();
    void bytesWritten(qint64 bytes);
    void statusMessage(const QString &text, int timeoutMs);

protected:
    int m_mode;
    ConnectionController *m_controller;
};

std::unique_ptr<PortTransport> makePortTransport(int mode, ConnectionController *controller);

// The socket-state texts every network status line uses.
QString socketStateText(int state);
