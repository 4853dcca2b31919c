#include "bridge/portendpoint.h"

#include "connection/connectionmode.h"

#include <algorithm>
#include <limits>

PortEndpoint::PortEndpoint(PortSession *session, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_paneIndex(session ? session->portIndex() : 0)
{
}

qsizetype PortEndpoint::escapedPrefix(const QByteArray &bytes, qint64 room)
{
    qint64 used = 0;
    qsizetype n = 0;
    for (; n < bytes.size(); ++n) {
        used += uchar(bytes.at(n)) == 0xFF ? 2 : 1;
        if (used > room)
            break;
    }
    return n;
}

int PortEndpoint::mode() const
{
    return m_session ? m_session->settings().ConnMode : -1;
}

qint64 PortEndpoint::send(const QByteArray &bytes, const QString &peer, PortSession::Echo how)
{
    if (peer != allPeers())
        return m_session->write(bytes, peer, how, PortRequester::Bridge);
    // Shown once, however many peers get it; taken when any peer took it.
    qint64 taken = 0;
    auto shown = how;
    const QStringList peers = m_session->peers();
    for (const QString &p : peers) {
        if (m_session->write(bytes, p, shown, PortRequester::Bridge) > 0) {
            taken = bytes.size();
            shown = PortSession::Echo::None;
        }
    }
    return taken;
}

qint64 PortEndpoint::write(const QByteArray &bytes, const QString &peer)
{
    if (!m_session || bytes.isEmpty() || m_session->lease()->transferHeld())
        return 0;
    const qint64 room = m_writeLimit > 0 ? m_writeLimit - pendingBytes() : std::numeric_limits<qint64>::max();
    if (room <= 0)
        return 0;
    const auto echo = m_showInView ? PortSession::Echo::ViewAndLog : PortSession::Echo::LogOnly;
    if (!m_telnetEscape)
        return qMax<qint64>(0, send(room >= bytes.size() ? bytes : bytes.first(room), peer, echo));
    // Never split a doubled 0xFF: only whole escaped bytes go out.
    const qsizetype n = escapedPrefix(bytes, room);
    if (n == 0)
        return 0;
    const QByteArray source(bytes.constData(), n);
    QByteArray escaped = source;
    escaped.replace(QByteArrayView("\xff", 1), QByteArrayView("\xff\xff", 2));
    const qint64 taken = send(escaped, peer, echo);
    if (taken >= escaped.size())
        return n;
    return taken > 0 ? escapedPrefix(source, taken) : 0;
}

qint64 PortEndpoint::writeRaw(const QByteArray &bytes, const QString &peer)
{
    if (!m_session || bytes.isEmpty() || m_session->lease()->transferHeld())
        return 0;
    return qMax<qint64>(0, send(bytes, peer, PortSession::Echo::None));
}

qint64 PortEndpoint::pendingBytes() const
{
    return m_session ? m_session->pendingBytes() : 0;
}

bool PortEndpoint::isOpen() const
{
    return m_session && m_session->isOpen();
}

void PortEndpoint::setReadPaused(bool on)
{
    const int before = m_holds;
    m_holds = qMax(0, m_holds + (on ? 1 : -1));
    if (m_session && (before == 0) != (m_holds == 0))
        m_session->setReadPaused(m_holds > 0);
}

void PortEndpoint::boundReads(qint64 room)
{
    m_readBounds.append(qMax(room, MinReadSliceBytes));
    applyReadBound();
}

void PortEndpoint::releaseReadBound(qint64 room)
{
    m_readBounds.removeOne(qMax(room, MinReadSliceBytes));
    applyReadBound();
}

void PortEndpoint::applyReadBound()
{
    if (!m_session)
        return;
    const auto least = std::min_element(m_readBounds.cbegin(), m_readBounds.cend());
    m_session->setReadLimit(least == m_readBounds.cend() ? 0 : *least);
}

bool PortEndpoint::canThrottle() const
{
    return m_session && m_session->canThrottle();
}

QString PortEndpoint::label() const
{
    return QStringLiteral("%1: %2").arg(m_paneIndex + 1).arg(m_session ? m_session->settings().PortName : QString());
}

bool PortEndpoint::isSerial() const
{
    return mode() == SerialPort;
}

bool PortEndpoint::isTcpClient() const
{
    return mode() == TcpClient;
}

bool PortEndpoint::isTcp() const
{
    return mode() == TcpServer || mode() == TcpClient;
}

bool PortEndpoint::acceptsManyPeers() const
{
    return mode() == TcpServer || mode() == UdpServer;
}
