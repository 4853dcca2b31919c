#include "connection/rfc2217clientsession.h"
#include "connection/rfc2217codec.h"
#include "connection/rfc2217lineconfig.h"
#include "tests/support/bytes.h"
#include "tests/support/peers.h"
#include "tests/support/ptypair.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <functional>

namespace {

QByteArray reversed(QByteArray bytes)
{
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

// Plays the pane: owns the socket and the session and does what the pane does with
// each result, with the handshake timer emulated on the wall clock.
class ClientDriver
{
public:
    Rfc2217ClientSession session;
    Rfc2217LineConfig config;
    QTcpSocket socket;
    QByteArray data;
    QStringList messages;

    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        m_timerArmed = socket.waitForConnected(5000);
        write(session.start());
        m_sinceStart.start();
        return m_timerArmed;
    }
    void write(const QByteArray &bytes)
    {
        if (!bytes.isEmpty() && socket.write(bytes) > 0)
            socket.waitForBytesWritten(1000);
    }
    void send(const QByteArray &payload) { write(session.encodeData(payload)); }
    void handle(const Rfc2217Result &result)
    {
        write(result.reply);
        if (result.negotiationEnded) {
            m_timerArmed = false;
            if (session.state() == Rfc2217ClientSession::Active)
                write(session.applyConfig(config));
        }
        if (!result.message.isEmpty())
            messages << result.message;
        data += result.data;
    }
    bool pumpUntil(const std::function<bool()> &done, int timeoutMs = 10000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            if (m_timerArmed && m_sinceStart.hasExpired(Rfc2217ClientSession::HandshakeTimeoutMs)) {
                m_timerArmed = false;
                handle(session.handshakeTimedOut());
            }
            if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(30))
                handle(session.decode(socket.readAll()));
        }
        return true;
    }
    // Lets pending answers arrive and be handled.
    void pumpFor(int ms) { (void)pumpUntil([] { return false; }, ms); }

private:
    bool m_timerArmed = false;
    QElapsedTimer m_sinceStart;
};

// Every byte value, 0xFF included, both ways between the client and the device.
bool roundTrip(ClientDriver &client, QSerialPort &device, int copies)
{
    device.clear();
    client.data.clear();
    const QByteArray payload = allByteValues(copies);
    client.send(payload);
    if (TestPeers::readFor(device, payload.size(), 5000) != payload || !TestPeers::readFor(device, 1, 300).isEmpty())
        return false;
    device.write(reversed(payload));
    device.waitForBytesWritten(5000);
    const bool arrived = client.pumpUntil([&] { return client.data.size() >= payload.size(); });
    client.pumpFor(200);
    return arrived && client.data == reversed(payload);
}

} // namespace

// The codec and client session against real peers over loopback TCP: ser2net in front of
// a socat pty pair, and pyserial's RFC 2217 client.
class TestRfc2217Peers : public QObject
{
    Q_OBJECT

private slots:
    void ser2netModes_data()
    {
        QTest::addColumn<QString>("accepter");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("message"); // what the one message says
        QTest::newRow("RFC 2217") << QStringLiteral("telnet(rfc2217),tcp") << int(Rfc2217ClientSession::Active) << QStringLiteral("accepted");
        QTest::newRow("plain Telnet") << QStringLiteral("telnet,tcp") << int(Rfc2217ClientSession::PlainTelnet) << QStringLiteral("plain Telnet");
        QTest::newRow("raw TCP") << QStringLiteral("tcp") << int(Rfc2217ClientSession::TransparentTcp) << QStringLiteral("transparent TCP");
    }

    // The negotiation ends in the state the server supports, and data crosses intact:
    // Telnet escapes 0xFF both ways, raw TCP carries it single. Where the server takes
    // settings, the pty's termios follows ours.
    void ser2netModes()
    {
        QFETCH(QString, accepter);
        QFETCH(int, state);
        QFETCH(QString, message);
        if (Ser2net::program().isEmpty() || !PtyPair::available())
            QSKIP("ser2net or socat is not installed");
        // ser2net serves one end of a pty pair; the device is the other end.
        PtyPair pty;
        QSerialPort device(pty.b());
        Ser2net ser2net;
        QVERIFY(pty.start() && device.open(QIODevice::ReadWrite));
        QVERIFY2(ser2net.start(pty.a(), accepter, pty.folder()), ser2net.errors().constData());
        ClientDriver client;
        client.config = {.baudRate = 9600, .stopBits = 2, .useRemoteSerialConfig = false};
        QVERIFY(client.connectTo(ser2net.port()));
        if (state == Rfc2217ClientSession::TransparentTcp) {
            // The handshake has nobody to talk to but the device.
            const QByteArray handshake = Rfc2217Codec(Rfc2217Codec::Client).buildHandshake();
            QCOMPARE(TestPeers::readFor(device, handshake.size(), 5000).toHex(), handshake.toHex());
        }
        QVERIFY(client.pumpUntil([&] { return client.session.state() != Rfc2217ClientSession::Negotiating; }));
        QCOMPARE(int(client.session.state()), state);
        QCOMPARE(client.messages.size(), 1);
        QVERIFY2(client.messages.first().contains(message), qPrintable(client.messages.first()));
        if (state != Rfc2217ClientSession::Active) {
            QVERIFY(client.session.applyConfig(client.config).isEmpty());
            QVERIFY(client.session.setBreak(true).isEmpty());
            QVERIFY(roundTrip(client, device, 4));
            return;
        }
        // ser2net echoes every setting and reports the modem state once the mask is set.
        const Rfc2217ClientSession &s = client.session;
        QVERIFY(client.pumpUntil([&] {
            return s.remoteBaudRate() == 9600 && s.remoteStopBits() == 2 && s.remoteModemStateKnown() && s.remoteParity() == 0
                && s.remoteDataBits() == 8;
        }));
        client.pumpFor(300);
        const QString tty = TestPeers::sttyOf(pty.a());
        QVERIFY2(tty.contains(QLatin1String("speed 9600 baud")) && tty.contains(QLatin1String(" cstopb")) && tty.contains(QLatin1String(" cs8")),
                 qPrintable(tty));

        // A break is accepted and the session stays in step; ser2net answers our signature with its own.
        QVERIFY(roundTrip(client, device, 8));
        client.write(client.session.setBreak(true));
        client.write(client.session.setBreak(false));
        client.send(QByteArrayLiteral("\xff\x00\xfftail"));
        QCOMPARE(TestPeers::readFor(device, 7, 5000), QByteArrayLiteral("\xff\x00\xfftail"));
        QCOMPARE(client.session.state(), Rfc2217ClientSession::Active);
        QCOMPARE(client.session.remoteSummary(), QStringLiteral("9600 \u00B7 ser2net"));
    }

    void pyserialClientAgainstServerRole()
    {
        if (!TestPeers::hasPythonModule(QStringLiteral("serial.rfc2217")))
            QSKIP("/usr/bin/python3 with pyserial is not installed");
        const QString script = QFINDTESTDATA("pyserial_client.py");
        QVERIFY(!script.isEmpty());
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {script, QString::number(server.serverPort())});
        QVERIFY(server.waitForNewConnection(15000));
        QTcpSocket *peer = server.nextPendingConnection();

        // A minimal serial port behind the server role: it takes every setting and answers
        // with the value in effect, as a bridge end does.
        Rfc2217Codec codec(Rfc2217Codec::Server);
        QHash<int, quint32> line{{Rfc2217Event::BaudRate, 9600}, {Rfc2217Event::DataSize, 8}, {Rfc2217Event::Parity, 0},
                                 {Rfc2217Event::StopSize, 1}, {Rfc2217Event::FlowControl, 0}, {Rfc2217Event::Break, 6},
                                 {Rfc2217Event::Dtr, 8}, {Rfc2217Event::Rts, 11}};
        QList<Rfc2217Event> seen;
        QByteArray data;
        const QByteArray payload = allByteValues(1);
        const auto write = [peer](const QByteArray &bytes) {
            if (!bytes.isEmpty() && peer->write(bytes) > 0)
                peer->waitForBytesWritten(1000);
        };
        write(codec.buildHandshake());
        bool echoed = false;
        const QDeadlineTimer deadline(60000);
        while (python.state() != QProcess::NotRunning && !deadline.hasExpired()) {
            if (peer->bytesAvailable() == 0 && !peer->waitForReadyRead(20))
                python.waitForFinished(10);
            QList<Rfc2217Event> events;
            QByteArray reply;
            data += codec.parse(peer->readAll(), &events, &reply);
            for (const Rfc2217Event &ev : std::as_const(events)) {
                seen << ev;
                if (!ev.request && ev.kind != Rfc2217Event::Signature)
                    line[ev.kind] = ev.value;
                const quint32 v = line.value(ev.kind, ev.value);
                const QByteArray answer = ev.kind == Rfc2217Event::BaudRate ? Rfc2217Codec::baudRatePayload(v)
                    : ev.kind == Rfc2217Event::Parity                     ? QByteArray(1, char(Rfc2217Codec::parityToWire(qint32(v))))
                    : ev.kind == Rfc2217Event::FlowControl                ? QByteArray(1, char(Rfc2217Codec::flowControlToWire(qint32(v))))
                    : ev.kind == Rfc2217Event::Signature                  ? QByteArrayLiteral("Quillon test")
                                                                          : QByteArray(1, char(v));
                if (ev.kind != Rfc2217Event::Signature || ev.request)
                    reply += codec.buildSuboption(ev.code, answer);
            }
            write(reply);
            if (!echoed && data.size() >= payload.size()) {
                echoed = true;
                write(Rfc2217Codec::escapeData(reversed(payload)));
            }
        }
        const QByteArray out = python.readAllStandardOutput() + python.readAllStandardError();
        QVERIFY2(python.state() == QProcess::NotRunning && python.exitCode() == 0, out.constData());
        QVERIFY(codec.comPortAccepted());
        QCOMPARE(data.toHex(), payload.toHex());

        // pyserial's requests, in the order it made them (open, then each setter).
        const QList<QPair<int, quint32>> order{
            {Rfc2217Event::BaudRate, 115200}, {Rfc2217Event::DataSize, 8}, {Rfc2217Event::Parity, 0}, {Rfc2217Event::StopSize, 1},
            {Rfc2217Event::FlowControl, 0}, {Rfc2217Event::Dtr, 8}, {Rfc2217Event::Rts, 11}, {Rfc2217Event::Purge, 1},
            {Rfc2217Event::Purge, 2}, {Rfc2217Event::BaudRate, 9600}, {Rfc2217Event::Parity, 2}, {Rfc2217Event::Dtr, 9},
            {Rfc2217Event::Rts, 12}, {Rfc2217Event::Rts, 11}, {Rfc2217Event::Break, 5}, {Rfc2217Event::Break, 6}};
        qsizetype at = 0;
        for (const auto &[kind, value] : order) {
            while (at < seen.size() && !(seen.at(at).kind == kind && seen.at(at).value == value && !seen.at(at).request))
                ++at;
            QVERIFY2(at < seen.size(), qPrintable(QStringLiteral("missing event kind %1 value %2").arg(kind).arg(value)));
            QVERIFY(!seen.at(at++).fromServer);
        }
    }
};

QTEST_GUILESS_MAIN(TestRfc2217Peers)
#include "tst_rfc2217peers.moc"
