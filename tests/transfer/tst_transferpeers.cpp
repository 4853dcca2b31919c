// A pane's transfers against lrzsz where the wire is the point: a socat pty pair, TCP,
// RFC 2217 through ser2net and a TCP server with two clients. Each transfer is set up
// through the transfer dialog, as a user would, and checked by sha256. Then the ways a
// transfer can end early, with what is left of the file.
#include "tests/support/bytes.h"
#include "tests/support/peers.h"
#include "tests/support/settingsfolder.h"

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
#include <QScopeGuard>
#include <QSerialPort>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 MiB = 1 << 20;

// A pane with its transfer driver and progress strip, as the main window makes it.
struct Pane
{
    Pane(int mode, const QString &port, quint16 tcpPort = 0, int flow = 0)
        : widget(std::make_unique<SerialPortWidget>(
              FormatSetting{.ConnMode = mode, .PortName = port, .FlowControl = flow, .LastTargetPort = tcpPort}, 0))
        , transfer(new PortTransfer(widget->session()))
        , bar(new FileTransferBar(transfer, widget.get()))
    {
        widget->addStrip(bar);
    }
    std::unique_ptr<SerialPortWidget> widget;
    PortTransfer *transfer;
    FileTransferBar *bar;
};

// One transfer against lrzsz. One cut short says how it ends, with the summary, the
// files left and the notes expected.
struct Run
{
    int mode;
    bool receive;
    XferProtocol protocol;
    QByteArray command;
    QByteArray data;
    QByteArray ending;
    QString summary;
    QStringList files;
    QString notes;
};

} // namespace

Q_DECLARE_METATYPE(Run)

class tst_TransferPeers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QString missing = LrzszPeer::missingTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs socat and lrzsz; missing: ") + missing));
        QVERIFY(m_dir.isValid());
        useSettingsFolder(m_dir.filePath(QStringLiteral("config")));
    }

    void againstLrzsz_data()
    {
        QTest::addColumn<Run>("run");
        // Direction, protocol, the lrzsz command, and whether it also takes 1 MiB.
        const std::tuple<bool, XferProtocol, const char *, bool> rows[] = {
            {false, Xmodem, "rx -q out.bin", false},     {false, XmodemCrc, "rx -q -c out.bin", false},
            {false, Xmodem1k, "rx -q -c out.bin", true}, {false, Ymodem, "rb -q", true},
            {true, Xmodem, "sx -q src.bin", false},      {true, XmodemCrc, "sx -q src.bin", false},
            {true, Xmodem1k, "sx -q -k src.bin", false}, {true, Ymodem, "sb -q src.bin", false},
            {true, Ymodem, "sb -q -k src.bin", true},    {true, YmodemG, "sb -q -k src.bin", true},
        };
        for (const auto &[receive, protocol, command, big] : rows) {
            for (qint64 size : {qint64(0), qint64(1), qint64(1025), MiB}) {
                if (size < MiB || big) {
                    QTest::addRow("pty %s %s/%s/%lld", receive ? "from" : "to", command, qPrintable(xferProtocolName(protocol)), size)
                        << Run{SerialPort, receive, protocol, command, randomBytes(size, 7)};
                }
            }
        }
        const QByteArray ff(4096, '\xff');
        QTest::newRow("TCP to rb") << Run{TcpClient, false, Ymodem, "rb -q", randomBytes(1025, 7)};
        QTest::newRow("TCP from sb") << Run{TcpClient, true, Ymodem, "sb -q -k src.bin", randomBytes(65537, 7)};
        QTest::newRow("RFC 2217 0xFF to rb") << Run{RemoteSerial, false, Ymodem, "rb -q", ff};
        QTest::newRow("RFC 2217 0xFF from sb") << Run{RemoteSerial, true, Ymodem, "sb -q -k src.bin", ff};
        QTest::newRow("TCP server, other client talks") << Run{TcpServer, false, Ymodem, "rb -q", randomBytes(1025, 7)};

        const QString stopped = QStringLiteral(", so the transfer stopped. If this was a firmware update the device may be "
                                               "left with an incomplete image -- run the update again.");
        const QString kept = QStringLiteral("What arrived was kept as ");
        const QByteArray mib = randomBytes(MiB, 7);
        QTest::newRow("send cancelled from the bar")
            << Run{SerialPort, false, Ymodem, "rb -q", mib, "bar",
                   QStringLiteral("Transfer failed: Cancelled. The device may still have received up to one more block of data -- if "
                                  "this was a firmware update, run the whole update again. (")};
        QTest::newRow("port closed") << Run{SerialPort, true, Ymodem, "sb -q -k src.bin", mib, "close",
                                           QStringLiteral("Transfer failed: The connection was closed") + stopped,
                                           {QStringLiteral("src.bin.partial")}, kept};
        QTest::newRow("pty vanishes") << Run{SerialPort, true, Ymodem, "sb -q -k src.bin", mib, "vanish",
                                             QStringLiteral("Transfer failed: The connection was lost") + stopped,
                                             {QStringLiteral("src.bin.partial")}, kept};
        QTest::newRow("device cancels") << Run{SerialPort, true, XmodemCrc, {}, {}, "device",
                                               QStringLiteral("Transfer failed: The device cancelled the transfer."),
                                               {QStringLiteral("received.bin.partial")}, kept};
        QTest::newRow("disk full at the header")
            << Run{SerialPort, true, Ymodem, "sb -q -k src.bin", mib, "tmpfs", QStringLiteral("Transfer failed: Could not create the destination file."),
                   {}, QStringLiteral("MB free but the file needs 1 MB. Choose another location.")};
        QTest::newRow("disk full while writing")
            << Run{SerialPort, true, Xmodem1k, "sx -q -k src.bin", mib, "tmpfs", QStringLiteral("Transfer failed: Writing to disk failed."),
                   {QStringLiteral("received.bin.partial")}, QStringLiteral("No space left on device|") + kept};
    }

    // lrzsz runs in the row's folder; the transfer is set up through the dialog and the
    // file that arrived on either side is compared by sha256. A transfer cut short keeps
    // ".partial" or deletes it as designed, and says why.
    void againstLrzsz()
    {
        QFETCH(Run, run);
        const auto &[mode, receive, protocol, command, data, ending, summary, files, notes] = run;
        const QString work = workDir(data);
        QVERIFY(!work.isEmpty());
        const QString in = work + QStringLiteral("/in");
        if (ending == "tmpfs"
            && QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                           QStringLiteral("size=256k"), QStringLiteral("tmpfs"), in}) != 0)
            QSKIP("mounting a small tmpfs is not permitted here");
        auto unmount = qScopeGuard([&] {
            if (ending == "tmpfs")
                QProcess::execute(QStringLiteral("umount"), {in});
        });
        const QString runIn = receive ? work : work + QStringLiteral("/out");
        const quint16 port = TestPeers::freePort();
        PtyPair pty(work);
        Ser2net ser2net;
        LrzszPeer onPty;
        QProcess overTcp;
        overTcp.setWorkingDirectory(runIn);
        // rb speaks first; over TCP a short pause lets the pane connect and start before it does.
        const QString exec = QStringLiteral("SYSTEM:sleep 0.5; exec %1").arg(QString::fromLatin1(command));
        if (mode == SerialPort || mode == RemoteSerial)
            QVERIFY(pty.start());
        if (mode == RemoteSerial)
            QVERIFY2(ser2net.start(pty.a(), QStringLiteral("telnet(rfc2217),tcp"), work), ser2net.errors().constData());
        if (mode == TcpClient)
            overTcp.start(PtyPair::socat(), {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port), exec});
        // YMODEM-G needs RTS/CTS; a pty takes the setting.
        Pane pane(mode, pty.a(), mode == RemoteSerial ? ser2net.port() : port, protocol == YmodemG ? 1 : 0);
        PortSession *session = pane.widget->session();
        // A refused attempt leaves no socket behind, so opening again retries until socat listens.
        QVERIFY(QTest::qWaitFor([&] { return session->open() && session->isOpen(); }, 5000));
        QTcpSocket other;
        if (mode == TcpServer) {
            overTcp.start(PtyPair::socat(), {QStringLiteral("TCP:127.0.0.1:%1").arg(port), exec});
            QVERIFY(QTest::qWaitFor([&] { return session->peers().size() == 1; }, 5000));
            other.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(QTest::qWaitFor([&] { return session->peers().size() == 2; }, 5000));
            const QString otherKey = QStringLiteral("127.0.0.1:%1").arg(other.localPort());
            session->selectPeer(session->peers().at(session->peers().at(0) == otherKey ? 1 : 0));
            QTimer::singleShot(200, &other, [&other] { other.write("other client talks\n"); });
        }

        QString why;
        QVERIFY2(startFromDialog(pane, receive, protocol, receive ? in : work + QStringLiteral("/src.bin"), &why), qPrintable(why));
        // On a pty, lrzsz starts once our side waits, so its first request reaches the transfer.
        QProcess *peer = nullptr;
        QSerialPort device(pty.b());
        if (ending == "device") {
            // No lrzsz: the device answers the first request with CAN CAN.
            QVERIFY(device.open(QIODevice::ReadWrite));
            QVERIFY(TestPeers::readFor(device, 1, 10000).contains('C'));
            device.write(QByteArray(2, XmodemCodec::Can));
            QVERIFY(device.waitForBytesWritten(1000));
        } else {
            peer = mode == SerialPort || mode == RemoteSerial ? onPty.run(pty.b(), QString::fromLatin1(command), runIn) : &overTcp;
        }
        if (!ending.isEmpty() && peer) {
            // Somewhere in the middle of the file, the ending strikes.
            QVERIFY(QTest::qWaitFor([&] { return !pane.transfer->isActive() || pane.transfer->transfer()->progress().bytesDone > 65536; }, 30000));
            if (ending == "bar")
                pane.bar->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
            else if (ending == "close")
                pane.widget->closePort();
            else if (ending == "vanish")
                QVERIFY(pty.stop());
        }
        QVERIFY(QTest::qWaitFor([&] { return !pane.transfer->isActive(); }, 120000));
        const PortTransfer::Outcome &outcome = pane.transfer->lastOutcome();
        if (!ending.isEmpty()) {
            QVERIFY2(outcome.summary.startsWith(summary), qPrintable(outcome.summary));
            QCOMPARE(QDir(in).entryList(QDir::Files | QDir::Hidden), files);
            // The sink's own reason comes first, then where the partial file went.
            const QString shown = outcome.notes.join(QLatin1Char('|'));
            QVERIFY2(notes.isEmpty() ? shown.isEmpty() : shown.contains(notes), qPrintable(shown));
            if (ending == "close" || ending == "bar") {
                // The abort reached lrzsz, which gives up instead of waiting for us.
                QVERIFY(QTest::qWaitFor([&] { return peer->state() == QProcess::NotRunning; }, 15000));
                QVERIFY(peer->exitCode() != 0);
            }
            return;
        }
        QVERIFY2(outcome.success, qPrintable(outcome.summary));
        // The event loop keeps running: our last ACK leaves through it.
        QVERIFY2(QTest::qWaitFor([&] { return peer->state() == QProcess::NotRunning; }, 30000), "lrzsz did not exit");
        const QByteArray errors = peer->readAllStandardError();
        // In G mode sb leaves as soon as its last block is out; our final ACK then finds
        // the socat adapter's pipe closed, which socat reports as an error of its own.
        QVERIFY2(peer->exitCode() == 0 || (protocol == YmodemG && errors.contains("Broken pipe")), errors.constData());

        const bool ymodem = protocol == Ymodem || protocol == YmodemG;
        const QString name = ymodem ? QStringLiteral("src.bin") : receive ? QStringLiteral("received.bin") : QStringLiteral("out.bin");
        QFile arrived(work + (receive ? QStringLiteral("/in/") : QStringLiteral("/out/")) + name);
        QVERIFY(arrived.open(QIODevice::ReadOnly));
        const QByteArray got = arrived.readAll();
        QCOMPARE(QCryptographicHash::hash(got.left(data.size()), QCryptographicHash::Sha256).toHex(),
                 QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
        // XMODEM has no length: the rest is SUB padding up to a whole block.
        const QByteArray padding = got.mid(data.size());
        QVERIFY2(ymodem ? padding.isEmpty() : (got.size() % 128 == 0 && padding.size() < 1024), qPrintable(QString::number(got.size())));
        QCOMPARE(padding, QByteArray(padding.size(), XmodemCodec::Sub));
        QVERIFY2(outcome.summary.startsWith(QStringLiteral("Transfer complete: %1 bytes").arg(groupedNumber(receive ? got.size() : data.size()))),
                 qPrintable(outcome.summary));
        if (mode == TcpServer) {
            session->flushDisplay();
            QVERIFY2(pane.widget->receiveText().contains(QStringLiteral("other client talks")), qPrintable(pane.widget->receiveText()));
        }
    }

private:
    // Fills in the dialog as a user would and starts what it describes.
    bool startFromDialog(Pane &pane, bool receive, int protocol, const QString &path, QString *why)
    {
        FileTransferDialog dialog(*pane.widget->session(), receive ? XferOptions::Receive : XferOptions::Send);
        auto *protocols = dialog.findChild<QComboBox *>(QStringLiteral("protocolBox"));
        protocols->setCurrentIndex(protocols->findData(protocol));
        dialog.findChild<QLineEdit *>(QStringLiteral("pathEdit"))->setText(path);
        dialog.accept();
        return dialog.result() == QDialog::Accepted && dialog.startOn(*pane.transfer, why);
    }

    // A folder for the row: src.bin holds `source`, lrzsz writes into out/, we into in/.
    QString workDir(const QByteArray &source)
    {
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char('/'), QLatin1Char('_')));
        QDir().mkpath(path + QStringLiteral("/out"));
        QDir().mkpath(path + QStringLiteral("/in"));
        QFile src(path + QStringLiteral("/src.bin"));
        return src.open(QIODevice::WriteOnly) && src.write(source) == source.size() ? path : QString();
    }

    QTemporaryDir m_dir;
};

QTEST_MAIN(tst_TransferPeers)
#include "tst_transferpeers.moc"
