#include "connection/connectionmode.h"
#include "session/portsession.h"
#include "tests/support/peers.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

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
    void serialReconnects();
    void serialLossWithoutReconnectCloses();
    void tcpReconnects();
    void remoteLineSettingsReachTheDevice();

private:
    static bool sawMessage(const QSignalSpy &spy, const QString &text);
    QTemporaryDir m_dir;
};

void tst_SessionWire::initTestCase()
{
    if (!PtyPair::available())
        QSKIP("socat is not installed");
    QVERIFY(m_dir.isValid());
}

bool tst_SessionWire::sawMessage(const QSignalSpy &spy, const QString &text)
{
    for (const QList<QVariant> &args : spy) {
        if (args.at(0).toString() == text)
            return true;
    }
    return false;
}

void tst_SessionWire::serialReconnects()
{
    PtyPair pty(m_dir.filePath(QStringLiteral("reconnect")));
    QVERIFY(QDir().mkpath(pty.folder()));
    QVERIFY(pty.start());
    FormatSetting s;
    s.ConnMode = SerialPort;
    s.PortName = pty.a(); // a device path the system's port list never shows
    PortSession session(s);
    session.setAutoReconnect(true);
    QSignalSpy messages(&session, &PortSession::statusMessage);
    QVERIFY(session.open());
    QTest::qWait(1200); // one presence check passes while the link exists
    QVERIFY(session.isOpen());

    QVERIFY(pty.stop());
    QVERIFY(QTest::qWaitFor([&] { return session.isReconnectArmed(); }, 3000));
    QVERIFY(sawMessage(messages, QStringLiteral("Serial Port %1 lost, waiting for it to come back...").arg(pty.a())));
    QCOMPARE(session.state(), Running); // waiting keeps the state
    QVERIFY(pty.start());
    QVERIFY(QTest::qWaitFor([&] { return session.isOpen(); }, 4000));
    QVERIFY(sawMessage(messages, QStringLiteral("Serial Port %1 RECONNECTED").arg(pty.a())));

    // Data flows again through the new terminal behind the old name.
    QSignalSpy received(&session, &PortSession::received);
    const int fd = ::open(QFile::encodeName(pty.b()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "back", 4), ssize_t(4));
    QVERIFY(QTest::qWaitFor([&] { return session.rxByteCount() >= 4; }, 3000));
    ::close(fd);
    QCOMPARE(received.first().at(0).toByteArray(), QByteArray("back"));
}

void tst_SessionWire::serialLossWithoutReconnectCloses()
{
    PtyPair pty(m_dir.filePath(QStringLiteral("loss")));
    QVERIFY(QDir().mkpath(pty.folder()));
    QVERIFY(pty.start());
    FormatSetting s;
    s.ConnMode = SerialPort;
    s.PortName = pty.a();
    PortSession session(s);
    QVERIFY(session.open());
    QVERIFY(pty.stop());
    QVERIFY(QTest::qWaitFor([&] { return session.state() == Closed; }, 3000));
    QCOMPARE(session.statusLine(), QStringLiteral("<font color = red> %1 CLOSED </font>").arg(pty.a()));
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
    PortSession session(s);
    session.setAutoReconnect(true);
    QSignalSpy messages(&session, &PortSession::statusMessage);
    QVERIFY(session.open());
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QVERIFY(QTest::qWaitFor([&] { return session.isOpen(); }, 3000));

    server.close();
    peer->abort();
    QVERIFY(QTest::qWaitFor([&] { return sawMessage(messages, QStringLiteral("Connection lost, reconnecting...")); }, 3000));
    QTest::qWait(2500); // at least one attempt finds nobody listening
    QVERIFY(!session.isOpen());
    QVERIFY(server.listen(QHostAddress::LocalHost, port));
    QVERIFY(QTest::qWaitFor([&] { return sawMessage(messages, QStringLiteral("TCP connection RESTORED")); }, 8000));
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
    QVERIFY(QTest::qWaitFor([&] { return TestPeers::sttyOf(pty.b()).contains(QStringLiteral("speed 9600 baud")); }, 8000));
    QVERIFY(TestPeers::sttyOf(pty.b()).contains(QStringLiteral(" cstopb")));

    // A new line setting goes to the device server at once.
    FormatSetting edited = session.settings();
    edited.BaudRate = 57600;
    edited.StopBits = 1;
    QVERIFY(session.applyLineEdit(edited));
    QVERIFY(QTest::qWaitFor([&] { return TestPeers::sttyOf(pty.b()).contains(QStringLiteral("speed 57600 baud")); }, 5000));
    QVERIFY(TestPeers::sttyOf(pty.b()).contains(QStringLiteral("-cstopb")));

    // Bytes cross both ways, 0xFF included.
    const QByteArray payload("\x01\xff\x02", 3);
    // Non-blocking, so that reading never stops the event loop that sends.
    const int fd = ::open(QFile::encodeName(pty.a()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QFile device;
    QVERIFY(device.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle));
    QVERIFY(session.send(payload));
    QCOMPARE(TestPeers::readFor(device, payload.size(), 3000), payload);
    QSignalSpy received(&session, &PortSession::received);
    QCOMPARE(device.write(payload), qint64(payload.size()));
    QVERIFY(QTest::qWaitFor([&] { return session.rxByteCount() >= quint64(payload.size()); }, 3000));
    QCOMPARE(received.first().at(0).toByteArray(), payload);
}

QTEST_MAIN(tst_SessionWire)
#include "tst_sessionwire.moc"
