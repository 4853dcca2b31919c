#include "connection/connectionmode.h"
#include "session/portsession.h"
#include "tests/support/peers.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

// The session on real connections where the wire is the point: a pty that vanishes
// and comes back under the same name, a TCP peer that goes away, and ser2net as the
// device server of a remote serial port.
class tst_SessionWire : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void serialLoss_data();
    void serialLoss();
    void tcpReconnects();
    void remoteLineSettingsReachTheDevice();

private:
    QTemporaryDir m_dir;
};

void tst_SessionWire::initTestCase()
{
    if (!PtyPair::available())
        QSKIP("socat is not installed");
    QVERIFY(m_dir.isValid());
}

void tst_SessionWire::serialLoss_data()
{
    QTest::addColumn<bool>("autoReconnect");
    QTest::newRow("waits and reconnects") << true;
    QTest::newRow("closes without reconnection") << false;
}

void tst_SessionWire::serialLoss()
{
    QFETCH(bool, autoReconnect);
    PtyPair pty(m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())));
    QVERIFY(QDir().mkpath(pty.folder()));
    QVERIFY(pty.start());
    FormatSetting s;
    s.ConnMode = SerialPort;
    s.PortName = pty.a(); // a device path the system's port list never shows
    QStringList messages; // outlives the session, which reports its closing too
    PortSession session(s);
    session.setAutoReconnect(autoReconnect);
    connect(&session, &PortSession::statusMessage, this, [&messages](const QString &text) { messages.append(text); });
    QVERIFY(session.open());
    // The presence check passes while the link exists.
    QSignalSpy presenceCheck(session.findChild<QTimer *>(QStringLiteral("portListTimer")), &QTimer::timeout);
    QVERIFY(presenceCheck.wait(10000));
    QVERIFY(session.isOpen());

    QVERIFY(pty.stop());
    if (!autoReconnect) {
        QTRY_VERIFY_WITH_TIMEOUT(session.state() == Closed, 10000);
        QCOMPARE(session.statusLine(), QStringLiteral("<font color = red> %1 CLOSED </font>").arg(pty.a()));
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(session.isReconnectArmed(), 10000);
    QVERIFY(messages.contains(QStringLiteral("Serial Port %1 lost, waiting for it to come back...").arg(pty.a())));
    QCOMPARE(session.state(), Running); // waiting keeps the state
    QVERIFY(pty.start());
    QTRY_VERIFY_WITH_TIMEOUT(session.isOpen(), 10000);
    QVERIFY(messages.contains(QStringLiteral("Serial Port %1 RECONNECTED").arg(pty.a())));

    // Data flows again through the new terminal behind the old name.
    QSignalSpy received(&session, &PortSession::received);
    const int fd = ::open(QFile::encodeName(pty.b()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "back", 4), ssize_t(4));
    QTRY_VERIFY_WITH_TIMEOUT(session.rxByteCount() >= 4, 10000);
    ::close(fd);
    QCOMPARE(received.first().at(0).toByteArray(), QByteArray("back"));
}

void tst_SessionWire::tcpReconnects()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const quint16 port = server.serverPort();
    FormatSetting s;
    s.ConnMode = TcpClient;
    s.LastTargetHost = {QStringLiteral("127.0.0.1")};
    s.LastTargetPort = port;
    QStringList messages; // outlives the session, which reports its closing too
    PortSession session(s);
    session.setAutoReconnect(true);
    connect(&session, &PortSession::statusMessage, this, [&messages](const QString &text) { messages.append(text); });
    QVERIFY(session.open());
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QTRY_VERIFY_WITH_TIMEOUT(session.isOpen(), 10000);

    server.close();
    peer->abort();
    QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QStringLiteral("Connection lost, reconnecting...")), 10000);
    // At least one attempt finds nobody listening.
    QSignalSpy attempts(session.findChild<QTimer *>(QStringLiteral("reconnectTimer")), &QTimer::timeout);
    QVERIFY(attempts.wait(10000));
    QVERIFY(!session.isOpen());
    QVERIFY(server.listen(QHostAddress::LocalHost, port));
    QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QStringLiteral("TCP connection RESTORED")), 15000);
    QVERIFY(session.isOpen());
    QCOMPARE(session.state(), Running);
}

void tst_SessionWire::remoteLineSettingsReachTheDevice()
{
    if (Ser2net::program().isEmpty())
        QSKIP("ser2net is not installed");
    PtyPair pty(m_dir.filePath(QStringLiteral("remote")));
    QVERIFY(QDir().mkpath(pty.folder()));
    QVERIFY(pty.start());
    Ser2net ser2net;
    QVERIFY2(ser2net.start(pty.b(), QStringLiteral("telnet(rfc2217),tcp"), pty.folder()), ser2net.errors().constData());
    FormatSetting s;
    s.ConnMode = RemoteSerial;
    s.LastTargetHost = {QStringLiteral("127.0.0.1")};
    s.LastTargetPort = ser2net.port();
    s.UseRemoteSerialConfig = false;
    s.BaudRate = 9600;
    s.StopBits = 2;
    PortSession session(s);
    QVERIFY(session.open());
    QVERIFY(QTest::qWaitFor([&] { return TestPeers::sttyOf(pty.b()).contains(QStringLiteral("speed 9600 baud")); }, 15000));
    QVERIFY(TestPeers::sttyOf(pty.b()).contains(QStringLiteral(" cstopb")));

    // A new line setting goes to the device server at once.
    FormatSetting edited = session.settings();
    edited.BaudRate = 57600;
    edited.StopBits = 1;
    QVERIFY(session.applyLineEdit(edited));
    QVERIFY(QTest::qWaitFor([&] { return TestPeers::sttyOf(pty.b()).contains(QStringLiteral("speed 57600 baud")); }, 15000));
    QVERIFY(TestPeers::sttyOf(pty.b()).contains(QStringLiteral("-cstopb")));

    // Bytes cross both ways, 0xFF included.
    const QByteArray payload("\x01\xff\x02", 3);
    // Non-blocking, so that reading never stops the event loop that sends.
    const int fd = ::open(QFile::encodeName(pty.a()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QFile device;
    QVERIFY(device.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle));
    QVERIFY(session.send(payload));
    QCOMPARE(TestPeers::readFor(device, payload.size(), 10000), payload);
    QSignalSpy received(&session, &PortSession::received);
    QCOMPARE(device.write(payload), qint64(payload.size()));
    QVERIFY(QTest::qWaitFor([&] { return session.rxByteCount() >= quint64(payload.size()); }, 10000));
    QCOMPARE(received.first().at(0).toByteArray(), payload);
}

QTEST_MAIN(tst_SessionWire)
#include "tst_sessionwire.moc"
