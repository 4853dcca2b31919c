#include "connection/rfc2217clientsession.h"
#include "connection/rfc2217codec.h"
#include "connection/rfc2217lineconfig.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString findTool(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    return path;
}

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QByteArray allByteValues(int copies)
{
    QByteArray out;
    for (int c = 0; c < copies; ++c) {
        for (int i = 0; i < 256; ++i)
            out.append(char(i));
    }
    return out;
}

QByteArray reversed(const QByteArray &bytes)
{
    QByteArray out(bytes.size(), Qt::Uninitialized);
    std::reverse_copy(bytes.cbegin(), bytes.cend(), out.begin());
    return out;
}

// The far end of a socat pty pair: what the "device" sees.
class PtyEnd
{
public:
    ~PtyEnd() { close(); }
    bool open(const QString &path, int flags)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), flags | O_NOCTTY | O_NONBLOCK);
        return m_fd >= 0;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    void flush() { tcflush(m_fd, TCIOFLUSH); }
    bool write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        QDeadlineTimer deadline(5000);
        while (done < bytes.size() && !deadline.hasExpired()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else
                QTest::qWait(5);
        }
        return done == bytes.size();
    }
    QByteArray read(qsizetype wanted, int timeoutMs)
    {
        QByteArray out;
        QDeadlineTimer deadline(timeoutMs);
        while (out.size() < wanted && !deadline.hasExpired()) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
                char buf[4096];
                const ssize_t n = ::read(m_fd, buf, sizeof buf);
                if (n > 0)
                    out.append(buf, n);
            }
        }
        return out;
    }
    bool attributes(termios *t) const { return tcgetattr(m_fd, t) == 0; }

private:
    int m_fd = -1;
};

// Plays the pane: owns the socket and the session and does what the pane does with
// each result, with the handshake timer emulated on the wall clock.
class ClientDriver
{
public:
    Rfc2217ClientSession session;
    Rfc2217LineConfig config;
    QTcpSocket socket;
    QByteArray data;
    QByteArray received; // every byte from the peer, for the log
    QStringList messages;

    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(5000))
            return false;
        write(session.start());
        m_timerArmed = true;
        m_sinceStart.start();
        return true;
    }
    void write(const QByteArray &bytes)
    {
        if (bytes.isEmpty())
            return;
        socket.write(bytes);
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
    bool pumpUntil(const std::function<bool()> &done, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            if (m_timerArmed && m_sinceStart.hasExpired(Rfc2217ClientSession::HandshakeTimeoutMs)) {
                m_timerArmed = false;
                handle(session.handshakeTimedOut());
            }
            if (socket.bytesAvailable() == 0)
                socket.waitForReadyRead(30);
            const QByteArray chunk = socket.readAll();
            if (!chunk.isEmpty()) {
                received += chunk;
                handle(session.decode(chunk));
            }
        }
        return true;
    }
    // Lets pending answers arrive and be handled.
    void pumpFor(int ms)
    {
        pumpUntil([] { return false; }, ms);
    }

private:
    bool m_timerArmed = false;
    QElapsedTimer m_sinceStart;
};

const QString acceptedText = QStringLiteral("The remote port accepted serial parameter control.");

} // namespace

// The codec and client session against real peers over loopback TCP: ser2net in front of
// a socat pty pair, a socat echo peer, and pyserial's RFC 2217 client.
class TestRfc2217Peers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void ser2netClientSession();
    void ser2netPlainTelnetRefusesComPort();
    void ser2netRawPortEndsTransparent();
    void echoPeerReflectsHandshake();
    void pyserialClientAgainstServerRole();

private:
    QProcess *spawn(const QString &program, const QStringList &args);
    bool startPtyPair();
    bool startSer2net(const QString &accepter);
    bool waitForPort(quint16 port);
    termios ttyAttributes();

    QString m_ser2net;
    QString m_socat;
    bool m_pyserial = false;
    QList<QProcess *> m_processes;
    QTemporaryDir *m_dir = nullptr;
    quint16 m_port = 0;
};

void TestRfc2217Peers::initTestCase()
{
    m_ser2net = findTool(QStringLiteral("ser2net"));
    m_socat = findTool(QStringLiteral("socat"));
    if (QFile::exists(QStringLiteral("/usr/bin/python3"))) {
        QProcess probe;
        probe.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import serial.rfc2217")});
        m_pyserial = probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    }
}

void TestRfc2217Peers::cleanup()
{
    // Last started first: ser2net lets go of the pty before socat goes away.
    while (!m_processes.isEmpty()) {
        QProcess *p = m_processes.takeLast();
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(3000)) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
        const QByteArray err = p->readAllStandardError();
        if (QTest::currentTestFailed() && !err.isEmpty())
            qWarning().noquote() << p->program() << "said:" << QString::fromLocal8Bit(err);
        delete p;
    }
    delete m_dir;
    m_dir = nullptr;
}

QProcess *TestRfc2217Peers::spawn(const QString &program, const QStringList &args)
{
    auto *p = new QProcess;
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start(program, args);
    m_processes << p;
    if (!p->waitForStarted(5000))
        return nullptr;
    return p;
}

bool TestRfc2217Peers::startPtyPair()
{
    m_dir = new QTemporaryDir;
    if (!m_dir->isValid())
        return false;
    const QString a = m_dir->filePath(QStringLiteral("ttyA"));
    const QString b = m_dir->filePath(QStringLiteral("ttyB"));
    if (!spawn(m_socat, {QStringLiteral("pty,raw,echo=0,link=") + a, QStringLiteral("pty,raw,echo=0,link=") + b}))
        return false;
    QDeadlineTimer deadline(10000);
    while (!(QFile::exists(a) && QFile::exists(b))) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

bool TestRfc2217Peers::waitForPort(quint16 port)
{
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(500)) {
            probe.disconnectFromHost();
            // The probe made ser2net open and close the tty; let it finish.
            QTest::qWait(300);
            return true;
        }
        QTest::qWait(50);
    }
    return false;
}

bool TestRfc2217Peers::startSer2net(const QString &accepter)
{
    m_port = freePort();
    const QString yaml = QStringLiteral("%YAML 1.1\n---\n"
                                        "connection: &port\n"
                                        "  accepter: %1,127.0.0.1,%2\n"
                                        "  enable: on\n"
                                        "  connector: serialdev,%3,115200n81,local\n"
                                        "  options:\n"
                                        "    kickolduser: true\n"
                                        "    chardelay: false\n")
                             .arg(accepter)
                             .arg(m_port)
                             .arg(m_dir->filePath(QStringLiteral("ttyA")));
    QFile file(m_dir->filePath(QStringLiteral("ser2net.yaml")));
    if (!file.open(QIODevice::WriteOnly) || file.write(yaml.toUtf8()) < 0)
        return false;
    file.close();
    if (!spawn(m_ser2net, {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), file.fileName(),
                           QStringLiteral("-P"), m_dir->filePath(QStringLiteral("ser2net.pid"))}))
        return false;
    return waitForPort(m_port);
}

termios TestRfc2217Peers::ttyAttributes()
{
    termios t{};
    PtyEnd a;
    if (a.open(m_dir->filePath(QStringLiteral("ttyA")), O_RDONLY))
        a.attributes(&t);
    return t;
}

void TestRfc2217Peers::ser2netClientSession()
{
    if (m_ser2net.isEmpty() || m_socat.isEmpty())
        QSKIP("ser2net or socat is not installed");
    QVERIFY(startPtyPair());
    PtyEnd device;
    QVERIFY(device.open(m_dir->filePath(QStringLiteral("ttyB")), O_RDWR));
    device.flush();
    QVERIFY(startSer2net(QStringLiteral("telnet(rfc2217),tcp")));

    ClientDriver client;
    client.config.useRemoteSerialConfig = false;
    client.config.baudRate = 9600;
    client.config.stopBits = 2;
    QVERIFY(client.connectTo(m_port));
    QVERIFY(client.pumpUntil([&] { return client.session.state() != Rfc2217ClientSession::Negotiating; }, 10000));
    QCOMPARE(client.session.state(), Rfc2217ClientSession::Active);
    QVERIFY(client.messages.contains(acceptedText));

    // ser2net echoes every setting and reports the modem state once the mask is set.
    QVERIFY(client.pumpUntil(
        [&] {
            return client.session.remoteBaudRate() == 9600 && client.session.remoteStopBits() == 2
                && client.session.remoteModemStateKnown() && client.session.remoteParity() == 0
                && client.session.remoteDataBits() == 8;
        },
        5000));
    client.pumpFor(300);
    qInfo().noquote() << "ser2net sent:" << client.received.toHex(' ');
    termios t = ttyAttributes();
    QCOMPARE(cfgetospeed(&t), speed_t(B9600));
    QVERIFY(t.c_cflag & CSTOPB);
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));

    // Only what changed goes out the second time.
    client.config.baudRate = 57600;
    const QByteArray change = client.session.applyConfig(client.config);
    QCOMPARE(change.toHex(), Rfc2217Codec(Rfc2217Codec::Client)
                                 .buildSuboption(Rfc2217Codec::SetBaudRate, Rfc2217Codec::baudRatePayload(57600))
                                 .toHex());
    client.write(change);
    QVERIFY(client.pumpUntil([&] { return client.session.remoteBaudRate() == 57600; }, 5000));
    QVERIFY(client.messages.contains(QStringLiteral("The remote port is now at 57600 baud.")));
    t = ttyAttributes();
    QCOMPARE(cfgetospeed(&t), speed_t(B57600));
    client.config.stopBits = 1;
    client.write(client.session.applyConfig(client.config));
    QVERIFY(client.pumpUntil([&] { return client.session.remoteStopBits() == 1; }, 5000));
    t = ttyAttributes();
    QVERIFY(!(t.c_cflag & CSTOPB));

    // Every byte value, 0xFF included, both ways.
    device.flush();
    client.data.clear();
    const QByteArray payload = allByteValues(8);
    client.send(payload);
    QCOMPARE(device.read(payload.size(), 10000).toHex(), payload.toHex());
    QVERIFY(device.write(reversed(payload)));
    QVERIFY(client.pumpUntil([&] { return client.data.size() >= payload.size(); }, 10000));
    client.pumpFor(100);
    QCOMPARE(client.data.toHex(), reversed(payload).toHex());

    // A break is accepted and the session stays in step.
    client.write(client.session.setBreak(true));
    client.write(client.session.setBreak(false));
    client.send(QByteArrayLiteral("\xff\x00\xfftail"));
    QCOMPARE(device.read(7, 5000), QByteArrayLiteral("\xff\x00\xfftail"));
    QCOMPARE(client.session.state(), Rfc2217ClientSession::Active);
    // ser2net answers our signature with its own.
    QCOMPARE(client.session.remoteSummary(), QStringLiteral("57600 \u00B7 ser2net"));
}

void TestRfc2217Peers::ser2netPlainTelnetRefusesComPort()
{
    if (m_ser2net.isEmpty() || m_socat.isEmpty())
        QSKIP("ser2net or socat is not installed");
    QVERIFY(startPtyPair());
    PtyEnd device;
    QVERIFY(device.open(m_dir->filePath(QStringLiteral("ttyB")), O_RDWR));
    device.flush();
    QVERIFY(startSer2net(QStringLiteral("telnet,tcp")));

    ClientDriver client;
    client.config.useRemoteSerialConfig = false;
    QVERIFY(client.connectTo(m_port));
    QVERIFY(client.pumpUntil([&] { return client.session.state() != Rfc2217ClientSession::Negotiating; }, 10000));
    qInfo().noquote() << "ser2net (telnet) sent:" << client.received.toHex(' ');
    QCOMPARE(client.session.state(), Rfc2217ClientSession::PlainTelnet);
    QCOMPARE(client.messages,
             QStringList{QStringLiteral("The remote does not support serial parameter control; continuing as plain Telnet.")});
    QVERIFY(client.session.applyConfig(client.config).isEmpty());
    QVERIFY(client.session.setBreak(true).isEmpty());

    // Telnet still escapes 0xFF both ways.
    device.flush();
    client.data.clear();
    const QByteArray payload = allByteValues(2);
    client.send(payload);
    QCOMPARE(device.read(payload.size(), 10000).toHex(), payload.toHex());
    QVERIFY(device.write(reversed(payload)));
    QVERIFY(client.pumpUntil([&] { return client.data.size() >= payload.size(); }, 10000));
    QCOMPARE(client.data.toHex(), reversed(payload).toHex());
}

void TestRfc2217Peers::ser2netRawPortEndsTransparent()
{
    if (m_ser2net.isEmpty() || m_socat.isEmpty())
        QSKIP("ser2net or socat is not installed");
    QVERIFY(startPtyPair());
    PtyEnd device;
    QVERIFY(device.open(m_dir->filePath(QStringLiteral("ttyB")), O_RDWR));
    device.flush();
    QVERIFY(startSer2net(QStringLiteral("tcp")));

    ClientDriver client;
    QVERIFY(client.connectTo(m_port));
    // The handshake has nobody to talk to but the device.
    const QByteArray handshake = Rfc2217Codec(Rfc2217Codec::Client).buildHandshake();
    QCOMPARE(device.read(handshake.size(), 5000).toHex(), handshake.toHex());
    QVERIFY(client.pumpUntil([&] { return client.session.state() != Rfc2217ClientSession::Negotiating; }, 10000));
    QCOMPARE(client.session.state(), Rfc2217ClientSession::TransparentTcp);
    QCOMPARE(client.messages,
             QStringList{QStringLiteral("The remote is not an RFC 2217 server; continuing as transparent TCP. "
                                        "The handshake bytes may have reached the remote serial line.")});

    // No Telnet on this path: single 0xFF both ways, none lost, none added.
    device.flush();
    client.data.clear();
    const QByteArray payload = allByteValues(4);
    client.send(payload);
    QCOMPARE(device.read(payload.size() + 1, 3000).toHex(), payload.toHex());
    QVERIFY(device.write(reversed(payload)));
    QVERIFY(client.pumpUntil([&] { return client.data.size() >= payload.size(); }, 10000));
    client.pumpFor(200);
    QCOMPARE(client.data.toHex(), reversed(payload).toHex());
}

void TestRfc2217Peers::echoPeerReflectsHandshake()
{
    if (m_socat.isEmpty())
        QSKIP("socat is not installed");
    m_dir = new QTemporaryDir;
    m_port = freePort();
    QVERIFY(spawn(m_socat, {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(m_port),
                            QStringLiteral("PIPE")}));
    QVERIFY(waitForPort(m_port));

    ClientDriver client;
    client.config.useRemoteSerialConfig = false;
    QVERIFY(client.connectTo(m_port));
    // An echo returns our own WILL/DO 44, which is indistinguishable from a server
    // accepting; what matters is that nothing is answered back (no option loop)
    // and that payload survives the round trip.
    QVERIFY(client.pumpUntil([&] { return client.session.state() != Rfc2217ClientSession::Negotiating; }, 10000));
    client.pumpFor(300);
    QCOMPARE(client.session.state(), Rfc2217ClientSession::Active);
    QCOMPARE(client.received.left(18).toHex(), Rfc2217Codec(Rfc2217Codec::Client).buildHandshake().toHex());
    QVERIFY(!client.session.gotComPortReply()); // our own requests are not taken for answers

    client.data.clear();
    const QByteArray payload = allByteValues(4);
    client.send(payload);
    QVERIFY(client.pumpUntil([&] { return client.data.size() >= payload.size(); }, 10000));
    client.pumpFor(200);
    QCOMPARE(client.data.toHex(), payload.toHex());
}

void TestRfc2217Peers::pyserialClientAgainstServerRole()
{
    if (!m_pyserial)
        QSKIP("/usr/bin/python3 with pyserial is not installed");
    QString script = qEnvironmentVariable("QUILLON_TEST_DATA") + QStringLiteral("/pyserial_client.py");
    if (!QFile::exists(script))
        script = QFINDTESTDATA("pyserial_client.py");
    QVERIFY(QFile::exists(script));

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QProcess *python = spawn(QStringLiteral("/usr/bin/python3"), {script, QString::number(server.serverPort())});
    QVERIFY(python);
    QVERIFY(server.waitForNewConnection(15000));
    QTcpSocket *peer = server.nextPendingConnection();
    QVERIFY(peer);

    // A minimal serial port behind the server role: it takes every setting and answers
    // with the value in effect, as a bridge end does.
    Rfc2217Codec codec(Rfc2217Codec::Server);
    quint32 baud = 9600, dataBits = 8, parity = 0, stopBits = 1, flow = 0;
    bool dtr = true, rts = true, brk = false;
    QList<Rfc2217Event> seen;
    QByteArray data;
    bool echoed = false;
    const QByteArray payload = allByteValues(1);
    const auto write = [peer](const QByteArray &bytes) {
        if (!bytes.isEmpty()) {
            peer->write(bytes);
            peer->waitForBytesWritten(1000);
        }
    };
    const auto oneByte = [](quint32 v) { return QByteArray(1, char(v)); };
    write(codec.buildHandshake());

    QDeadlineTimer deadline(60000);
    while (python->state() != QProcess::NotRunning && !deadline.hasExpired()) {
        if (peer->bytesAvailable() == 0 && !peer->waitForReadyRead(20))
            python->waitForFinished(10);
        const QByteArray chunk = peer->readAll();
        if (chunk.isEmpty())
            continue;
        QList<Rfc2217Event> events;
        QByteArray reply;
        data += codec.parse(chunk, &events, &reply);
        for (const Rfc2217Event &ev : std::as_const(events)) {
            seen << ev;
            switch (ev.kind) {
            case Rfc2217Event::BaudRate:
                baud = ev.request ? baud : ev.value;
                reply += codec.buildSuboption(Rfc2217Codec::SetBaudRate, Rfc2217Codec::baudRatePayload(baud));
                break;
            case Rfc2217Event::DataSize:
                dataBits = ev.request ? dataBits : ev.value;
                reply += codec.buildSuboption(Rfc2217Codec::SetDataSize, oneByte(dataBits));
                break;
            case Rfc2217Event::Parity:
                parity = ev.request ? parity : ev.value;
                reply += codec.buildSuboption(Rfc2217Codec::SetParity, oneByte(Rfc2217Codec::parityToWire(qint32(parity))));
                break;
            case Rfc2217Event::StopSize:
                stopBits = ev.request ? stopBits : ev.value;
                reply += codec.buildSuboption(Rfc2217Codec::SetStopSize, oneByte(stopBits));
                break;
            case Rfc2217Event::FlowControl:
                flow = ev.request ? flow : ev.value;
                reply += codec.buildSuboption(Rfc2217Codec::SetControl,
                                              oneByte(Rfc2217Codec::flowControlToWire(qint32(flow))));
                break;
            case Rfc2217Event::Break:
                brk = ev.request ? brk : ev.on;
                reply += codec.buildSuboption(Rfc2217Codec::SetControl, oneByte(brk ? 5 : 6));
                break;
            case Rfc2217Event::Dtr:
                dtr = ev.request ? dtr : ev.on;
                reply += codec.buildSuboption(Rfc2217Codec::SetControl, oneByte(dtr ? 8 : 9));
                break;
            case Rfc2217Event::Rts:
                rts = ev.request ? rts : ev.on;
                reply += codec.buildSuboption(Rfc2217Codec::SetControl, oneByte(rts ? 11 : 12));
                break;
            case Rfc2217Event::Purge:
                reply += codec.buildSuboption(Rfc2217Codec::PurgeData, oneByte(ev.value));
                break;
            case Rfc2217Event::Signature:
                if (ev.request)
                    reply += codec.buildSuboption(Rfc2217Codec::Signature, QByteArrayLiteral("Quillon test"));
                break;
            default:
                break;
            }
        }
        write(reply);
        if (!echoed && data.size() >= payload.size()) {
            echoed = true;
            write(Rfc2217Codec::escapeData(reversed(payload)));
        }
    }
    const QString out = QString::fromLocal8Bit(python->readAllStandardOutput() + python->readAllStandardError());
    QVERIFY2(python->state() == QProcess::NotRunning, "pyserial did not finish");
    QVERIFY2(python->exitCode() == 0, qPrintable(out));
    QVERIFY(codec.comPortAccepted());
    QCOMPARE(data.toHex(), payload.toHex());

    // pyserial's requests, in the order it made them (open, then each setter).
    struct Expected
    {
        qint32 kind;
        quint32 value;
        bool on;
    };
    const Expected order[] = {
        {Rfc2217Event::BaudRate, 115200, false}, {Rfc2217Event::DataSize, 8, false},
        {Rfc2217Event::Parity, 0, false},        {Rfc2217Event::StopSize, 1, false},
        {Rfc2217Event::FlowControl, 0, false},   {Rfc2217Event::Dtr, 8, true},
        {Rfc2217Event::Rts, 11, true},           {Rfc2217Event::Purge, 1, false},
        {Rfc2217Event::Purge, 2, false},         {Rfc2217Event::BaudRate, 9600, false},
        {Rfc2217Event::Parity, 2, false},        {Rfc2217Event::Dtr, 9, false},
        {Rfc2217Event::Rts, 12, false},          {Rfc2217Event::Rts, 11, true},
        {Rfc2217Event::Break, 5, true},          {Rfc2217Event::Break, 6, false},
    };
    qsizetype at = 0;
    for (const Expected &e : order) {
        while (at < seen.size()
               && !(seen.at(at).kind == e.kind && seen.at(at).value == e.value && seen.at(at).on == e.on
                    && !seen.at(at).request))
            ++at;
        QVERIFY2(at < seen.size(), qPrintable(QStringLiteral("missing event kind %1 value %2").arg(e.kind).arg(e.value)));
        QVERIFY(!seen.at(at).fromServer);
        ++at;
    }
    QCOMPARE(baud, 9600u);
    QCOMPARE(parity, 2u);
    QVERIFY(!dtr);
    QVERIFY(rts);
    QVERIFY(!brk);
}

QTEST_GUILESS_MAIN(TestRfc2217Peers)
#include "tst_rfc2217peers.moc"
