#include "bridge/bridgelink.h"
#include "connection/connectionmode.h"
#include "gateway/gateway.h"
#include "session/portsession.h"
#include "tests/bridge/bridgetest.h"
#include "tests/support/peers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

const QString python = QStringLiteral("/usr/bin/python3");

QString script(const QString &name)
{
    return QStringLiteral(QUILLON_TEST_SOURCE_DIR "/") + name;
}

// The gateway under test, in this process or as the quillon-gateway program, started
// with the same command line; its log lines are collected either way.
class Host
{
public:
    ~Host() { stop(); }
    bool start(bool binary, const QStringList &args, quint16 port)
    {
        if (binary) {
            m_process = std::make_unique<QProcess>();
            m_process->start(QStringLiteral(QUILLON_GATEWAY_BINARY), args);
        } else {
            QList<GatewayBridge> bridges;
            QString error;
            if (GatewayOptions::parse(args, &bridges, &error) != GatewayOptions::Parse::Run)
                return false;
            m_gateway = std::make_unique<Gateway>(bridges);
            m_gateway->setLogSink([this](const QString &line) { m_log += line + QLatin1Char('\n'); });
            if (!m_gateway->start(&error))
                return false;
        }
        return TestPeers::waitForPort(port, 10000);
    }
    // SIGTERM or its equivalent; true when the gateway stopped cleanly.
    bool stop(int ms = 5000)
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process->processId()), SIGTERM);
            const bool done = m_process->waitForFinished(ms);
            m_log += QString::fromLocal8Bit(m_process->readAllStandardError());
            return done && m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
        }
        if (m_gateway && !m_stopped) {
            QSignalSpy finished(m_gateway.get(), &Gateway::finished);
            m_gateway->shutdown();
            m_stopped = !finished.isEmpty() || finished.wait(ms);
            return m_stopped;
        }
        return true;
    }
    QString log() const { return m_log; }
    // A counter from the Modbus summary line, e.g. "expired".
    qint64 modbusCount(const QString &name) const
    {
        const auto m = QRegularExpression(QStringLiteral("(\\d+) %1").arg(name)).match(m_log);
        return m.hasMatch() ? m.captured(1).toLongLong() : -1;
    }
    BridgeLink *link() const { return m_gateway ? m_gateway->link(0) : nullptr; }

private:
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<Gateway> m_gateway;
    bool m_stopped = false;
    QString m_log;
};

QProcess *run(std::vector<std::unique_ptr<QProcess>> &owned, const QString &program, const QStringList &args)
{
    owned.push_back(std::make_unique<QProcess>());
    owned.back()->start(program, args);
    return owned.back().get();
}

// The peer's exit code once it ends, -1 when it does not or crashes. The event loop
// runs meanwhile: an in-process gateway serves the peer.
int exitCode(QProcess *p, int ms)
{
    const bool ended = QTest::qWaitFor([p] { return p->state() == QProcess::NotRunning; }, ms);
    return ended && p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
}

} // namespace

using namespace BridgeTest;

// The gateway against real peers: mbpoll and pymodbus clients through it to a pymodbus
// RTU slave on a pty, pyserial's RFC 2217 client, hostile Modbus clients, and a stop
// with data on its way. Each proof runs in this process and against the program.
class tst_GatewayWire : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!PtyPair::available() || TestPeers::findTool(QStringLiteral("mbpoll")).isEmpty()
            || !TestPeers::hasPythonModule(QStringLiteral("pymodbus")) || !TestPeers::hasPythonModule(QStringLiteral("serial")))
            QSKIP("needs socat, mbpoll, and /usr/bin/python3 with pymodbus and pyserial");
    }

    void init()
    {
        m_pty = std::make_unique<PtyPair>();
        QVERIFY(m_pty->start());
        m_port = TestPeers::freePort();
    }

    void cleanup()
    {
        for (auto &p : m_peers)
            TestPeers::stop(*p);
        m_peers.clear();
    }

    void modbus_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<int>("fanout");
        QTest::newRow("in process, sharing the port") << false << int(BridgeConfig::SharePort);
        QTest::newRow("in process, taking turns") << false << int(BridgeConfig::TakeTurns);
        QTest::newRow("program, sharing the port") << true << int(BridgeConfig::SharePort);
        QTest::newRow("program, taking turns") << true << int(BridgeConfig::TakeTurns);
    }

    // mbpoll writes coils; an absent unit's transactions expire; a header with protocol
    // id 1 costs only itself; 40 requests at once keep the newest 32, each answered with
    // its own data. Then two pymodbus clients (125-register reads, registers and coils
    // written and read back) and mbpoll polling at once: every answer reaches the client
    // that asked.
    void modbus()
    {
        QFETCH(bool, binary);
        QFETCH(int, fanout);
        QVERIFY(startSlave());
        Host host;
        const QString config = writeConfig(QStringLiteral("[meter]\nserial=%1,115200\nlisten=%2\nProtocol=2\n"
                                                          "ModbusTransactionTimeoutMs=600\nFanoutMode=")
                                           + QString::number(fanout) + QLatin1Char('\n'));
        QVERIFY(host.start(binary, {QStringLiteral("--config"), config}, m_port));
        const QString port = QString::number(m_port);
        const auto mbpoll = [this, &port](const char *options) {
            const QString line = QStringLiteral("-m tcp -p %1 -1 127.0.0.1 ").arg(port) + QLatin1String(options);
            return run(m_peers, TestPeers::findTool(QStringLiteral("mbpoll")), QProcess::splitCommand(line));
        };

        QCOMPARE(exitCode(mbpoll("-a1 -t0 -r30 1 0 1"), 10000), 0);
        QVERIFY(exitCode(mbpoll("-a2 -o 1.5 -t4 -r1"), 10000) > 0); // unit 2 never answers

        QTcpSocket raw;
        QVERIFY(connectTo(raw, m_port));
        raw.write(mbap(1, 1, readPdu(0), 1));
        QVERIFY(raw.waitForBytesWritten(2000));
        QTest::qWait(200);
        raw.write(mbap(77, 1, readPdu(5)));
        QCOMPARE(TestPeers::readFor(raw, 11, 5000), mbap(77, 1, QByteArray("\x03\x02\x03\xed", 4))); // 1005

        // Taking turns, the gateway sees one request at a time.
        const bool turns = fanout == BridgeConfig::TakeTurns;
        if (!turns) {
            QByteArray burst;
            for (int i = 0; i < 40; ++i)
                burst += mbap(quint16(200 + i), 1, readPdu(quint8(i)));
            raw.write(burst);
            const QByteArray answers = TestPeers::readFor(raw, 32 * 11, 10000);
            QTest::qWait(300);
            QCOMPARE(answers.size() + raw.readAll().size(), 32 * 11);
            for (int at = 0; at < answers.size(); at += 11) {
                const int id = (uchar(answers[at]) << 8 | uchar(answers[at + 1])) - 200;
                QVERIFY(id >= 8);
                QCOMPARE((uchar(answers[at + 9]) << 8 | uchar(answers[at + 10])) - 1000, id);
            }
        }

        QProcess *one = run(m_peers, python, {script(QStringLiteral("modbus_client.py")), port, QStringLiteral("15"), QStringLiteral("1")});
        QProcess *two = run(m_peers, python, {script(QStringLiteral("modbus_client.py")), port, QStringLiteral("15"), QStringLiteral("2")});
        // mbpoll polls once per run, over and over while the two clients work.
        for (int polls = 0; one->state() != QProcess::NotRunning || two->state() != QProcess::NotRunning || polls < 3; ++polls) {
            QProcess *poll = mbpoll("-a1 -t4 -r11 -c3");
            QCOMPARE(exitCode(poll, 10000), 0);
            const QString polled = QString::fromLatin1(poll->readAllStandardOutput());
            QVERIFY2(polled.contains(QStringLiteral("[13]: \t1012")), qPrintable(polled));
        }
        QVERIFY2(exitCode(one, 60000) == 0, one->readAllStandardError().constData());
        QVERIFY2(exitCode(two, 60000) == 0, two->readAllStandardError().constData());

        QVERIFY(host.stop());
        QVERIFY2(host.modbusCount(QStringLiteral("expired")) >= (turns ? 1 : 9), qPrintable(host.log()));
        QCOMPARE(host.modbusCount(QStringLiteral("malformed requests")), qint64(1));
        QCOMPARE(host.modbusCount(QStringLiteral("unmatched answers")), turns ? 0 : qint64(8));
        QCOMPARE(host.modbusCount(QStringLiteral("failed answers")), qint64(0));
    }

    void rfc2217Server_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::newRow("in process") << false;
        QTest::newRow("program") << true;
    }

    // pyserial's rfc2217:// client sets the line and drives the control lines through the
    // gateway; the pty's termios shows what took, refusals are answered as refusals, and
    // every byte value crosses both ways.
    void rfc2217Server()
    {
        QFETCH(bool, binary);
        Host host;
        const QString line = QStringLiteral("--serial %1,115200 --listen 127.0.0.1:%2 --protocol rfc2217").arg(m_pty->a()).arg(m_port);
        QVERIFY(host.start(binary, QProcess::splitCommand(line), m_port));
        QProcess *client = run(m_peers, python, {script(QStringLiteral("rfc2217_client.py")), QString::number(m_port), m_pty->a(), m_pty->b()});
        QVERIFY2(exitCode(client, 60000) == 0, client->readAllStandardError().constData());
        const QString out = QString::fromLatin1(client->readAllStandardOutput());
        QCOMPARE(out, QStringLiteral("line 9600 1 9600 False\nline 9600 2 9600 True\nline 57600 1 57600 False\n"
                                     "line 57600 2 57600 True\nrefused bytesize\nrefused parity\nlines answered\n"
                                     "to device True\nfrom device True\n"));

        QTcpSocket raw;
        QVERIFY(connectTo(raw, m_port));
        raw.write(QByteArray("\xff\xfa\x2c\x00\xff\xf0", 6));
        QVERIFY(TestPeers::readFor(raw, 40, 3000).contains(QByteArray("\xff\xfa\x2c\x64Quillon bridge\xff\xf0")));
        if (BridgeLink *link = host.link()) {
            const FormatSetting &serial = link->endpoint(BridgeLink::EndB)->session()->settings();
            QVERIFY(!serial.DtrOn && serial.RtsOn && !link->endpoint(BridgeLink::EndB)->session()->breakHeld());
            QCOMPARE(serial.BaudRate, 57600);
            QCOMPARE(serial.StopBits, 2);
        }
        QVERIFY(host.stop());
    }

    // SIGTERM while the framer holds an unfinished line (for up to a minute): it reaches
    // the device, and the program exits cleanly.
    void stopDeliversWhatIsOnItsWay()
    {
        Host host;
        const QString config = writeConfig(QStringLiteral("[held]\nserial=%1,115200\nlisten=%2\nFramingMode=2\nFramingMaxHoldMs=60000\n"));
        QVERIFY(host.start(true, {QStringLiteral("--config"), config}, m_port));
        QSerialPort device(m_pty->b());
        QVERIFY(device.open(QIODevice::ReadWrite));
        QTcpSocket client;
        QVERIFY(connectTo(client, m_port));
        client.write("first line\nunfinished");
        QCOMPARE(TestPeers::readFor(device, 11, 3000), QByteArray("first line\n"));
        QTest::qWait(300);
        QVERIFY(device.readAll().isEmpty());
        QVERIFY2(host.stop(), qPrintable(host.log()));
        QCOMPARE(TestPeers::readFor(device, 10, 3000), QByteArray("unfinished"));
    }

    // Clients sending random bytes, impossible lengths and an endless unfinished request
    // leave the gateway serving a well-behaved client, in bounded memory.
    void hostileModbusClients()
    {
        QVERIFY(startSlave());
        Host host;
        const QString config = writeConfig(QStringLiteral("[shared]\nserial=%1,115200\nlisten=%2\nProtocol=2\nFanoutMode=0\n"));
        QVERIFY(host.start(false, {QStringLiteral("--config"), config}, m_port));
        const qint64 before = residentKiB();
        std::array<QTcpSocket, 4> bad;
        for (QTcpSocket &s : bad)
            QVERIFY(connectTo(s, m_port));
        QTest::qWait(200);
        QRandomGenerator rng(502);
        QByteArray noise(64 << 10, Qt::Uninitialized);
        QByteArray lengths;
        for (quint16 len : {0, 1, 255, 65535})
            lengths += mbap(9, 1, QByteArray(1, '\x03'), 0, len);
        bad[1].write(lengths);
        bad[2].write(mbap(3, 1, QByteArray(1, '\x10'), 0, 254)); // then never finished
        int good = 0;
        QTcpSocket client;
        QVERIFY(connectTo(client, m_port));
        for (QDeadlineTimer until(3000); !until.hasExpired();) {
            rng.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
            bad[0].write(noise);
            bad[2].write(QByteArray(16 << 10, '\x03'));
            bad[3].write(mbap(1, 1, readPdu(0)).left(3));
            client.write(mbap(quint16(good), 1, readPdu(7)));
            if (TestPeers::readFor(client, 11, 2000).right(2) == QByteArray("\x03\xef", 2)) // 1007
                ++good;
        }
        QVERIFY2(good > 10, qPrintable(QString::number(good)));
        QVERIFY2(residentKiB() - before < 16 << 10, qPrintable(QString::number(residentKiB() - before)));
        QVERIFY(host.link()->gateway().counters().malformedRequests > 0);
        QVERIFY(host.stop());
    }

    // What each form of the command line and the configuration file sets, and what a
    // user is told about each mistake. %D is a folder for configuration files.
    void options_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("config"); // written to %D/g.conf when not empty
        QTest::addColumn<QString>("expected"); // the bridges read, or (part of) the error
        const QString none, file = QStringLiteral("--config %D/g.conf");
        QTest::newRow("full serial, every interface") << "--serial /dev/ttyX,19200,8E1,rtscts --listen 0.0.0.0:5020" << none
                                                      << "gateway /dev/ttyX 19200 8/2/1/1 0.0.0.0:5020 protocol 0 framing 0";
        QTest::newRow("defaults, Modbus cuts on gaps") << "--serial /dev/ttyX --listen 502 --protocol modbus --name meter" << none
                                                        << "meter /dev/ttyX 9600 8/0/1/0 127.0.0.1:502 protocol 2 framing 1";
        QTest::newRow("IPv6, framing given wins") << "--serial /dev/ttyX,1200,7m1.5 --listen [::1]:502 --protocol MODBUS --framing fixed:8"
                                                  << none << "gateway /dev/ttyX 1200 7/5/3/0 ::1:502 protocol 2 framing 3";
        QTest::newRow("config, two bridges")
            << file << "[a]\nserial=/dev/ttyA,19200,8N2\nlisten=5021\nProtocol=2\n[b]\nserial=/dev/ttyB\nlisten=5022\nFramingMode=3\n"
            << "a /dev/ttyA 19200 8/0/2/0 127.0.0.1:5021 protocol 2 framing 1 | b /dev/ttyB 9600 8/0/1/0 127.0.0.1:5022 protocol 0 framing 3";
        QTest::newRow("baud") << "--serial /dev/ttyX,49 --listen 1" << none
                              << "The baud rate \"49\" is not a number from 50 to 16000000.";
        QTest::newRow("line format") << "--serial /dev/ttyX,9600,9N1 --listen 1" << none << "The line format \"9N1\" is not like 8N1";
        QTest::newRow("flow") << "--serial /dev/ttyX,9600,8N1,hw --listen 1" << none
                              << "The flow control \"hw\" is not none, rtscts or xonxoff.";
        QTest::newRow("host name") << "--serial /dev/ttyX --listen localhost:502" << none << "for --listen, with a numeric address";
        QTest::newRow("port 0") << "--serial /dev/ttyX --listen 127.0.0.1:0" << none << "got \"127.0.0.1:0\"";
        QTest::newRow("gap 0") << "--framing idle-gap:0" << none << "for --framing, got \"idle-gap:0\".";
        QTest::newRow("delimiter not hex") << "--framing delimiter:0" << none << "for --framing, got \"delimiter:0\".";
        QTest::newRow("protocol") << "--protocol modbus-rtu" << none << "Expected raw, rfc2217 or modbus for --protocol, got \"modbus-rtu\".";
        QTest::newRow("allow") << "--allow 10.0.0.0/33" << none << "Expected an address or ADDR/NET for --allow, got \"10.0.0.0/33\".";
        QTest::newRow("serial alone") << "--serial /dev/ttyX" << none << "--serial and --listen go together.";
        QTest::newRow("nothing") << "" << none << "Nothing to serve: give --serial and --listen, or --config.";
        QTest::newRow("no value") << "--listen" << none << "--listen needs a value.";
        QTest::newRow("short option") << "-s /dev/ttyX" << none << "Unknown option \"-s\".";
        QTest::newRow("no file") << "--config %D/none.conf" << none << "Cannot read the configuration file";
        QTest::newRow("fixed key") << file << "[a]\nserial=/dev/ttyA\nlisten=5021\nPortA=1\n" << "section [a]: unknown or fixed keys PortA";
        QTest::newRow("no listen") << file << "[a]\nserial=/dev/ttyA\n" << "section [a]: serial= and listen= are both needed";
        QTest::newRow("bad line in a file") << file << "[a]\nserial=/dev/ttyA,9600,8X1\nlisten=1\n" << "section [a]: The line format \"8X1\"";
    }

    void options()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, config);
        QFETCH(QString, expected);
        const QString folder = m_dir.filePath(QStringLiteral("options"));
        QDir().mkpath(folder);
        QFile file(folder + QStringLiteral("/g.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(config.toUtf8()) == config.size());
        file.close();
        QList<GatewayBridge> bridges;
        QString error;
        const auto parsed = GatewayOptions::parse(arguments.replace(QLatin1String("%D"), folder).split(QLatin1Char(' '), Qt::SkipEmptyParts),
                                                  &bridges, &error);
        if (parsed == GatewayOptions::Parse::Error) {
            QVERIFY2(error.contains(expected), qPrintable(error));
            return;
        }
        QStringList read;
        for (const GatewayBridge &b : bridges) {
            const FormatSetting &s = b.serial;
            read << QStringLiteral("%1 %2 %3 %4/%5/%6/%7 %8:%9 protocol %10 framing %11")
                        .arg(b.config.Name, s.PortName)
                        .arg(s.BaudRate).arg(s.DataBits).arg(s.Parity).arg(s.StopBits).arg(s.FlowControl)
                        .arg(b.listenAddress.toString()).arg(b.listenPort).arg(b.config.Protocol).arg(b.config.FramingMode);
        }
        QCOMPARE(read.join(QStringLiteral(" | ")), expected);
    }

private:
    bool startSlave()
    {
        QProcess *slave = run(m_peers, python, {script(QStringLiteral("../support/modbus_slave.py")), QStringLiteral("rtu"), m_pty->b()});
        return QTest::qWaitFor([slave] { return slave->readAllStandardOutput().contains("ready"); }, 10000);
    }

    QString writeConfig(const QString &body)
    {
        const QString path = m_dir.filePath(QStringLiteral("gateway-%1.conf").arg(m_port));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(body.arg(m_pty->a()).arg(m_port).toUtf8());
        return path;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<PtyPair> m_pty;
    std::vector<std::unique_ptr<QProcess>> m_peers;
    quint16 m_port = 0;
};

QTEST_GUILESS_MAIN(tst_GatewayWire)
#include "tst_gatewaywire.moc"
