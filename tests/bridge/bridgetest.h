#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>

#include <functional>

// What the bridge and gateway tests share: sockets, waits, memory and Modbus requests.
namespace BridgeTest {

inline bool connectTo(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(5000);
}

// QTest::qWaitFor sleeps 10 ms between passes, far too slow for streams.
inline bool runUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

inline qint64 residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    const QByteArray status = f.readAll();
    return status.mid(status.indexOf("VmRSS:") + 6).trimmed().split(' ').first().toLongLong();
}

// An MBAP request; the length field counts the unit and the PDU unless given.
inline QByteArray mbap(quint16 id, quint8 unit, const QByteArray &pdu, quint16 protocol = 0, int length = -1)
{
    const quint16 len = length < 0 ? quint16(pdu.size() + 1) : quint16(length);
    QByteArray out;
    for (quint16 v : {id, protocol, len}) {
        out.append(char(v >> 8));
        out.append(char(v & 0xFF));
    }
    out.append(char(unit));
    return out + pdu;
}

// A read of one holding register at address.
inline QByteArray readPdu(quint8 address)
{
    return QByteArray::fromHex("0300") + char(address) + QByteArray::fromHex("0001");
}

} // namespace BridgeTest
