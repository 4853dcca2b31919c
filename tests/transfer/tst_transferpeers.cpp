// A pane's transfers against lrzsz where the wire is the point: a socat pty pair, TCP,
// RFC 2217 through ser2net and a TCP server with two clients. Each transfer is set up
// through the transfer dialog, as a user would, and checked by sha256. Then the ways a
// transfer can end early, with what is left of the file.
#include "tests/support/peers.h"

#include "connection/connectionmode.h"
#include "terminal/serialportwidget.h"
#include "transfer/dialogs/filetransferbar.h"
#include "transfer/dialogs/filetransferdialog.h"
#include "transfer/porttransfer.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 MiB = 1 << 20;

QByteArray randomBytes(qint64 size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator rng(quint32(size) + 7);
    for (char &c : data)
        c = char(rng.bounded(256));
    return data;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray sha(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

// A pane with its transfer driver and progress strip, as the main window makes it.
struct Pane
{
    explicit Pane(const FormatSetting &s)
        : widget(std::make_unique<SerialPortWidget>(s, 0))
        , transfer(new PortTransfer(widget->session()))
        , bar(new FileTransferBar(transfer, widget.get()))
    {
        widget->addStrip(bar);
    }
    std::unique_ptr<SerialPortWidget> widget;
    PortTransfer *transfer;
    FileTransferBar *bar;
};

FormatSetting settingsFor(int mode, const QString &port, quint16 tcpPort = 0, int flow = 0)
{
    FormatSetting s;
    s.ConnMode = mode;
    s.PortName = port;
    s.BaudRate = 115200;
    s.FlowControl = flow;
    s.LastTargetHost = {QStringLiteral("127.0.0.1")};
    s.LastTargetPort = tcpPort;
    return s;
}

} // namespace

class tst_TransferPeers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void lrzszOverPty_data();
    void lrzszOverPty();
    void overNetwork_data();
    void overNetwork();
    void earlyEndings_data();
    void earlyEndings();

private:
    bool startFromDialog(Pane &pane, bool receive, int protocol, const QString &path, QString *why);
    void exchange(Pane &pane, const std::function<QProcess *()> &startPeer, bool receive, int protocol,
                  const QByteArray &data, const QString &work);
    QString workDir();

    QTemporaryDir m_dir;
};

void tst_TransferPeers::initTestCase()
{
    const QString missing = LrzszPeer::missingTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs socat and lrzsz; missing: ") + missing));
    QVERIFY(m_dir.isValid());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("config")));
}

QString tst_TransferPeers::workDir()
{
    const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char('/'), QLatin1Char('_')));
    QDir().mkpath(path + QStringLiteral("/out"));
    return path;
}

// Fills in the dialog as a user would and starts what it describes.
bool tst_TransferPeers::startFromDialog(Pane &pane, bool receive, int protocol, const QString &path, QString *why)
{
    FileTransferDialog dialog(*pane.widget->session(), receive ? XferOptions::Receive : XferOptions::Send);
    auto *protocols = dialog.findChild<QComboBox *>(QStringLiteral("protocolBox"));
    protocols->setCurrentIndex(protocols->findData(protocol));
    dialog.findChild<QLineEdit *>(QStringLiteral("pathEdit"))->setText(path);
    dialog.accept();
    return dialog.result() == QDialog::Accepted && dialog.startOn(*pane.transfer, why);
}

// One transfer with lrzsz running in `work` (its file is src.bin, its output goes to
// out/), ours reading src.bin or writing into in/; compared by sha256 afterwards.
// startPeer runs once our side is waiting.
void tst_TransferPeers::exchange(Pane &pane, const std::function<QProcess *()> &startPeer, bool receive, int protocol,
                                 const QByteArray &data, const QString &work)
{
    QString why;
    const QString ours = receive ? work + QStringLiteral("/in") : work + QStringLiteral("/src.bin");
    QVERIFY2(startFromDialog(pane, receive, protocol, ours, &why), qPrintable(why));
    QProcess *peer = startPeer();
    QVERIFY(QTest::qWaitFor([&] { return !pane.transfer->isActive(); }, 120000));
    const PortTransfer::Outcome &outcome = pane.transfer->lastOutcome();
    QVERIFY2(outcome.success, qPrintable(outcome.summary));
    // The event loop keeps running: our last ACK leaves through it.
    QVERIFY2(QTest::qWaitFor([&] { return peer->state() == QProcess::NotRunning; }, 30000), "lrzsz did not exit");
    const QByteArray errors = peer->readAllStandardError();
    // In G mode sb leaves as soon as its last block is out; our final ACK then finds
    // the socat adapter's pipe closed, which socat reports as an error of its own.
    QVERIFY2(peer->exitCode() == 0 || (protocol == YmodemG && errors.contains("Broken pipe")), errors.constData());

    const bool ymodem = protocol == Ymodem || protocol == YmodemG;
    const QString name = ymodem ? QStringLiteral("src.bin") : receive ? QStringLiteral("received.bin") : QStringLiteral("out.bin");
    const QByteArray got = readFile(QDir(receive ? ours : work + QStringLiteral("/out")).filePath(name));
    QCOMPARE(sha(got.left(data.size())), sha(data));
    // XMODEM has no length: the rest is SUB padding up to a whole block.
    const QByteArray padding = got.mid(data.size());
    QVERIFY2(ymodem ? padding.isEmpty() : (got.size() % 128 == 0 && padding.size() < 1024), qPrintable(QString::number(got.size())));
    QCOMPARE(padding, QByteArray(padding.size(), XmodemCodec::Sub));
    QVERIFY2(outcome.summary.startsWith(QStringLiteral("Transfer complete: %1 bytes").arg(groupedNumber(receive ? got.size() : data.size()))),
             qPrintable(outcome.summary));
}

void tst_TransferPeers::lrzszOverPty_data()
{
    QTest::addColumn<bool>("receive");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("command");
    QTest::addColumn<qint64>("size");
    struct Row
    {
        bool receive;
        XferProtocol protocol;
        const char *command;
        bool big;
    };
    const Row rows[] = {
        {false, Xmodem, "rx -q out.bin", false},     {false, XmodemCrc, "rx -q -c out.bin", false},
        {false, Xmodem1k, "rx -q -c out.bin", true}, {false, Ymodem, "rb -q", true},
        {true, Xmodem, "sx -q src.bin", false},      {true, XmodemCrc, "sx -q src.bin", false},
        {true, Xmodem1k, "sx -q -k src.bin", false}, {true, Ymodem, "sb -q src.bin", false},
        {true, Ymodem, "sb -q -k src.bin", true},    {true, YmodemG, "sb -q -k src.bin", true},
    };
    for (const Row &r : rows) {
        for (qint64 size : {qint64(0), qint64(1), qint64(1025), MiB}) {
            if (size < MiB || r.big) {
                QTest::addRow("%s %s/%s/%lld", r.receive ? "from" : "to", r.command, qPrintable(xferProtocolName(r.protocol)), size)
                    << r.receive << int(r.protocol) << QString::fromLatin1(r.command) << size;
            }
        }
    }
}

void tst_TransferPeers::lrzszOverPty()
{
    QFETCH(bool, receive);
    QFETCH(int, protocol);
    QFETCH(QString, command);
    QFETCH(qint64, size);
    const QString work = workDir();
    const QByteArray data = randomBytes(size);
    QFile src(work + QStringLiteral("/src.bin"));
    QVERIFY(src.open(QIODevice::WriteOnly) && src.write(data) == size);
    src.close();
    PtyPair pty(work);
    QVERIFY(pty.start());
    // YMODEM-G needs RTS/CTS; a pty takes the setting.
    Pane pane(settingsFor(SerialPort, pty.a(), 0, protocol == YmodemG ? 1 : 0));
    QVERIFY(pane.widget->session()->open());
    LrzszPeer lrzsz;
    const QString runIn = receive ? work : work + QStringLiteral("/out");
    exchange(pane, [&] { return lrzsz.run(pty.b(), command, runIn); }, receive, protocol, data, work);
}

void tst_TransferPeers::overNetwork_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("receive");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("data");
    const QByteArray ff(4096, '\xff');
    QTest::newRow("TCP to rb") << int(TcpClient) << false << "rb -q" << randomBytes(1025);
    QTest::newRow("TCP from sb") << int(TcpClient) << true << "sb -q -k src.bin" << randomBytes(65537);
    QTest::newRow("RFC 2217 0xFF to rb") << int(RemoteSerial) << false << "rb -q" << ff;
    QTest::newRow("RFC 2217 0xFF from sb") << int(RemoteSerial) << true << "sb -q -k src.bin" << ff;
    QTest::newRow("TCP server, second client talks") << int(TcpServer) << false << "rb -q" << randomBytes(1025);
}

void tst_TransferPeers::overNetwork()
{
    QFETCH(int, mode);
    QFETCH(bool, receive);
    QFETCH(QString, command);
    QFETCH(QByteArray, data);
    const QString work = workDir();
    QFile src(work + QStringLiteral("/src.bin"));
    QVERIFY(src.open(QIODevice::WriteOnly) && src.write(data) == data.size());
    src.close();
    const QString runIn = receive ? work : work + QStringLiteral("/out");
    const quint16 port = TestPeers::freePort();
    PtyPair pty(work);
    Ser2net ser2net;
    LrzszPeer lrzsz;
    QProcess listener;
    listener.setWorkingDirectory(runIn);
    // rb speaks first; a short pause lets the pane connect and start before it does.
    const QString exec = QStringLiteral("SYSTEM:sleep 0.5; exec %1").arg(command);
    if (mode == RemoteSerial) {
        QVERIFY(pty.start());
        QVERIFY2(ser2net.start(pty.a(), QStringLiteral("telnet(rfc2217),tcp"), work), ser2net.errors().constData());
    }
    if (mode == TcpClient)
        listener.start(PtyPair::socat(), {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port), exec});
    Pane pane(settingsFor(mode, QString(), mode == RemoteSerial ? ser2net.port() : port));
    PortSession *session = pane.widget->session();
    // A refused attempt leaves no socket behind, so opening again retries until socat listens.
    QVERIFY(QTest::qWaitFor([&] { return session->open() && session->isOpen(); }, 5000));
    QTcpSocket other;
    if (mode == TcpServer) {
        listener.start(PtyPair::socat(), {QStringLiteral("TCP:127.0.0.1:%1").arg(port), exec});
        QVERIFY(QTest::qWaitFor([&] { return session->peers().size() == 1; }, 5000));
        other.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(QTest::qWaitFor([&] { return session->peers().size() == 2; }, 5000));
        const QString otherKey = QStringLiteral("127.0.0.1:%1").arg(other.localPort());
        session->selectPeer(session->peers().at(session->peers().at(0) == otherKey ? 1 : 0));
        QTimer::singleShot(200, &other, [&other] { other.write("other client talks\n"); });
    }
    exchange(pane, [&] { return mode == RemoteSerial ? lrzsz.run(pty.b(), command, runIn) : &listener; }, receive,
             Ymodem, data, work);
    if (mode == TcpServer) {
        session->flushDisplay();
        QVERIFY2(pane.widget->receiveText().contains(QStringLiteral("other client talks")), qPrintable(pane.widget->receiveText()));
    }
}

void tst_TransferPeers::earlyEndings_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("command");  // empty: the test plays the device itself
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QStringList>("files");
    const QString closedOrLost = QStringLiteral(", so the transfer stopped. If this was a firmware update the device "
                                                "may be left with an incomplete image -- run the update again.");
    QTest::newRow("cancel from the bar") << "bar" << int(Ymodem) << "sb -q -k src.bin" << "Transfer failed: Cancelled. ("
                                         << QStringList();
    QTest::newRow("device cancels") << "CAN CAN" << int(XmodemCrc) << QString()
                                    << "Transfer failed: The device cancelled the transfer."
                                    << QStringList{QStringLiteral("received.bin.partial")};
    QTest::newRow("port closed") << "close" << int(Ymodem) << "sb -q -k src.bin"
                                 << QStringLiteral("Transfer failed: The connection was closed") + closedOrLost
                                 << QStringList{QStringLiteral("src.bin.partial")};
    QTest::newRow("pty vanishes") << "vanish" << int(Ymodem) << "sb -q -k src.bin"
                                  << QStringLiteral("Transfer failed: The connection was lost") + closedOrLost
                                  << QStringList{QStringLiteral("src.bin.partial")};
    QTest::newRow("disk full at the header") << "tmpfs" << int(Ymodem) << "sb -q -k src.bin"
                                             << "Transfer failed: Could not create the destination file." << QStringList();
    QTest::newRow("disk full while writing") << "tmpfs" << int(Xmodem1k) << "sx -q -k src.bin"
                                             << "Transfer failed: Writing to disk failed."
                                             << QStringList{QStringLiteral("received.bin.partial")};
}

void tst_TransferPeers::earlyEndings()
{
    QFETCH(QString, how);
    QFETCH(int, protocol);
    QFETCH(QString, command);
    QFETCH(QString, summary);
    QFETCH(QStringList, files);
    const QString work = workDir();
    const QString in = work + QStringLiteral("/in");
    QVERIFY(QDir().mkpath(in));
    if (how == QLatin1String("tmpfs")) {
        if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                        QStringLiteral("size=256k"), QStringLiteral("tmpfs"), in}) != 0)
            QSKIP("mounting a small tmpfs is not permitted here");
    }
    auto unmount = qScopeGuard([&] {
        if (how == QLatin1String("tmpfs"))
            QProcess::execute(QStringLiteral("umount"), {in});
    });
    QFile src(work + QStringLiteral("/src.bin"));
    QVERIFY(src.open(QIODevice::WriteOnly) && src.write(randomBytes(MiB)) == MiB);
    src.close();
    PtyPair pty(work);
    QVERIFY(pty.start());
    Pane pane(settingsFor(SerialPort, pty.a()));
    QVERIFY(pane.widget->session()->open());
    LrzszPeer peer;
    QProcess *lrzsz = command.isEmpty() ? nullptr : peer.run(pty.b(), command, work);

    // Somewhere in the middle of the file, the ending strikes.
    connect(pane.transfer, &PortTransfer::transferProgressed, this, [&] {
        if (pane.transfer->transfer()->progress().bytesDone < 64 * 1024 || how == QLatin1String("tmpfs"))
            return;
        QTimer::singleShot(0, this, [&, how] {
            if (how == QLatin1String("bar"))
                pane.bar->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
            else if (how == QLatin1String("close"))
                pane.widget->closePort();
            else if (how == QLatin1String("vanish"))
                pty.stop();
        });
        disconnect(pane.transfer, &PortTransfer::transferProgressed, this, nullptr);
    });
    QString why;
    QVERIFY2(startFromDialog(pane, true, protocol, in, &why), qPrintable(why));
    if (command.isEmpty()) {
        // A device that sends one block and then cancels.
        QSerialPort device(pty.b());
        QVERIFY(device.open(QIODevice::ReadWrite));
        QVERIFY(TestPeers::readFor(device, 1, 5000).contains('C'));
        device.write(XmodemCodec::buildFrame(1, QByteArray(128, 'd'), true));
        QVERIFY(TestPeers::readFor(device, 1, 5000).contains(XmodemCodec::Ack));
        device.write(QByteArray(2, XmodemCodec::Can));
        QVERIFY(QTest::qWaitFor([&] { return !pane.transfer->isActive(); }, 5000));
    }
    QVERIFY(QTest::qWaitFor([&] { return !pane.transfer->isActive(); }, 60000));
    const PortTransfer::Outcome &outcome = pane.transfer->lastOutcome();
    QVERIFY2(outcome.summary.startsWith(summary), qPrintable(outcome.summary));
    QCOMPARE(QDir(in).entryList(QDir::Files | QDir::Hidden), files);
    if (how == QLatin1String("tmpfs"))
        QVERIFY2(!outcome.notes.isEmpty() && (outcome.notes.first().contains(QLatin1String("MB free"))
                                              || outcome.notes.first().contains(QLatin1String("space"))),
                 qPrintable(outcome.notes.join(QLatin1Char('|'))));
    if (how == QLatin1String("close") || how == QLatin1String("bar")) {
        // The abort reached lrzsz, which gives up instead of waiting for us.
        QVERIFY(QTest::qWaitFor([&] { return lrzsz->state() == QProcess::NotRunning; }, 15000));
        QVERIFY(lrzsz->exitCode() != 0);
    }
}

QTEST_MAIN(tst_TransferPeers)
#include "tst_transferpeers.moc"
