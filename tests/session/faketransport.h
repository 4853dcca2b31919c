#pragma once

#include "session/portsession.h"

#include <QElapsedTimer>
#include <QList>

// A connection without a wire: records what the session writes and lets the test
// deliver bytes, peers and losses the way a real transport would.
class FakeTransport : public PortTransport
{
public:
    struct Write
    {
        QByteArray bytes;
        QString peer;
    };

    using PortTransport::PortTransport;

    bool open(const FormatSetting &, const QString &) override { return m_open = true; }
    void close(const FormatSetting &) override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool write(const QByteArray &bytes, const QString &peer, const FormatSetting &) override
    {
        if (!m_open)
            return false;
        writes.append({bytes, peer});
        return true;
    }
    TransportStatus status(const FormatSetting &) const override
    {
        return {m_open ? QStringLiteral("open") : QStringLiteral("closed"),
                m_open ? TransportStatus::Running : TransportStatus::Closed};
    }
    QString lostText(const FormatSetting &) const override { return QStringLiteral("lost"); }
    Reconnect reconnect(const FormatSetting &) override
    {
        ++reconnectAttempts;
        if (!comesBack)
            return Reconnect::Waiting;
        m_open = true;
        return Reconnect::Restored;
    }
    QStringList peers() const override { return peerList; }
    bool setBreak(bool level) override
    {
        breaks.append({level, clock.isValid() ? clock.elapsed() : 0});
        return m_open;
    }

    // The test's side.
    void feed(const QByteArray &bytes, const QString &peer = QString()) { emit received(bytes, peer); }
    void drop()
    {
        m_open = false;
        emit lost();
    }
    void setPeers(const QStringList &peers)
    {
        peerList = peers;
        emit peersChanged();
    }
    QByteArray written() const
    {
        QByteArray all;
        for (const Write &w : writes)
            all += w.bytes;
        return all;
    }

    bool comesBack = false;
    int reconnectAttempts = 0;
    QStringList peerList;
    QList<Write> writes;
    QList<std::pair<bool, qint64>> breaks; // level, ms since `clock` started
    QElapsedTimer clock;

private:
    bool m_open = false;
};

// Puts a fake transport under `session` and returns it.
inline FakeTransport *useFakeTransport(PortSession &session)
{
    session.setTransportFactory([](int mode, ConnectionController *c) { return std::make_unique<FakeTransport>(mode, c); });
    return static_cast<FakeTransport *>(session.transport());
}
