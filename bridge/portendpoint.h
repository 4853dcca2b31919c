#pragma once

#include "session/portsession.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

// What a bridge writes into.
class BridgeSink
{
public:
    virtual ~BridgeSink() = default;
    // Returns the number of bytes taken; the rest stays with the caller.
    virtual qint64 write(const QByteArray &bytes, const QString &peer) = 0;
    virtual qint64 pendingBytes() const = 0;
    virtual bool isOpen() const = 0;
};

// What a bridge reads from and can hold back.
class BridgeSource
{
public:
    virtual ~BridgeSource() = default;
    virtual void setReadPaused(bool on) = 0;
    virtual bool canThrottle() const = 0;
};

// One port session seen as a bridge end. It never owns the session; once the
// session is gone every operation does nothing and reports 0 or false.
class PortEndpoint : public QObject, public BridgeSink, public BridgeSource
{
    Q_OBJECT
public:
    // As a peer: every client or UDP peer of the end, not just one.
    static QString allPeers() { return QStringLiteral("*"); }
    // Reads are never cut smaller than this, whatever room a queue keeps.
    static constexpr qint64 MinReadSliceBytes = 4096;

    explicit PortEndpoint(PortSession *session, QObject *parent = nullptr);

    PortSession *session() const { return m_session.data(); }
    int paneIndex() const { return m_paneIndex; }

    // With telnetEscape every 0xFF is doubled on the way out, and only the input bytes
    // whose escaped form was taken whole count as taken. A write never leaves more
    // than writeLimit bytes unwritten at the end (0: no limit).
    qint64 write(const QByteArray &bytes, const QString &peer) override;
    // Protocol replies: no escaping, not shown or logged as traffic.
    qint64 writeRaw(const QByteArray &bytes, const QString &peer);
    qint64 pendingBytes() const override;
    bool isOpen() const override;
    // Holds nest: the end reads again once every hold is released.
    void setReadPaused(bool on) override;
    bool canThrottle() const override;
    // While links read from this end, one read takes at most the smallest room they
    // ask for: what their queue keeps above its high watermark, so that a source held
    // back in time never overfills it. release() takes back what bound() asked.
    void boundReads(qint64 room);
    void releaseReadBound(qint64 room);

    QString label() const;
    bool isSerial() const;
    bool isTcpClient() const;
    bool isTcp() const;
    bool acceptsManyPeers() const;

    bool showInView() const { return m_showInView; }
    void setShowInView(bool on) { m_showInView = on; }
    bool telnetEscape() const { return m_telnetEscape; }
    void setTelnetEscape(bool on) { m_telnetEscape = on; }
    qint64 writeLimit() const { return m_writeLimit; }
    void setWriteLimit(qint64 bytes) { m_writeLimit = bytes; }
    int holds() const { return m_holds; }

    // How many leading bytes of `bytes` escape to at most `room` bytes.
    static qsizetype escapedPrefix(const QByteArray &bytes, qint64 room);

private:
    qint64 send(const QByteArray &bytes, const QString &peer, PortSession::Echo echo);
    void applyReadBound();
    int mode() const;

    QPointer<PortSession> m_session;
    int m_paneIndex = 0;
    bool m_showInView = true;
    bool m_telnetEscape = false;
    qint64 m_writeLimit = 0;
    int m_holds = 0;
    QList<qint64> m_readBounds;
};
