#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>

#include <functional>

// What the bridge and gateway tests on real sockets share.
namespace WireTest {

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

} // namespace WireTest
