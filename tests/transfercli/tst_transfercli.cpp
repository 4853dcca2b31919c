// quillon-transfer as a script runs it: its command line, its exit status for each
// kind of failure, and whole transfers against lrzsz over a pty pair.
#include "tests/support/peers.h"

#include "transfer/xmodemcodec.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

class tst_TransferCli : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void badCommandLines_data();
    void badCommandLines();
    void helpListsEverything();
    void exitStatus_data();
    void exitStatus();

private:
    // Runs the program; `device` plays the far end meanwhile, on the pty's other side.
    int run(const QStringList &arguments, const std::function<void()> &device = {});

    QString m_program;
    QTemporaryDir m_dir;
    QString m_out;
    QString m_err;
};

void tst_TransferCli::initTestCase()
{
    m_program = QProcessEnvironment::systemEnvironment().value(QStringLiteral("QUILLON_BINARY_DIR"))
        + QStringLiteral("/transfercli/quillon-transfer");
    QVERIFY2(QFileInfo(m_program).isExecutable(), qPrintable(m_program));
    QVERIFY(m_dir.isValid());
}

int tst_TransferCli::run(const QStringList &arguments, const std::function<void()> &device)
{
    QProcess process;
    process.start(m_program, arguments);
    if (!process.waitForStarted(5000))
        return -1;
    if (device)
        device();
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000)) {
        process.kill();
        process.waitForFinished(3000);
        return -1;
    }
    m_out = QString::fromLocal8Bit(process.readAllStandardOutput());
    m_err = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void tst_TransferCli::badCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");
    const QString port = QStringLiteral("--port=/dev/null");
    QTest::newRow("nothing") << QStringList() << "Say send or receive.";
    QTest::newRow("unknown command") << QStringList{QStringLiteral("push"), port} << "Unknown command \"push\"";
    QTest::newRow("send without a file") << QStringList{QStringLiteral("send"), port} << "send takes exactly one FILE.";
    QTest::newRow("no port") << QStringList{QStringLiteral("send"), QStringLiteral("f")} << "--port is required.";
    QTest::newRow("port without a value") << QStringList{QStringLiteral("send"), QStringLiteral("f"), QStringLiteral("--port")}
                                          << "--port needs a value.";
    QTest::newRow("TCP without a port number") << QStringList{QStringLiteral("send"), QStringLiteral("f"), QStringLiteral("--port=tcp:host")}
                                               << "\"tcp:host\" is not tcp:HOST:PORT.";
    QTest::newRow("unknown option") << QStringList{QStringLiteral("receive"), port, QStringLiteral("--speed=9600")}
                                    << "Unknown option --speed.";
    QTest::newRow("unknown protocol") << QStringList{QStringLiteral("receive"), port, QStringLiteral("--protocol=zmodem")}
                                      << "Unknown protocol \"zmodem\"";
    QTest::newRow("unknown flow") << QStringList{QStringLiteral("receive"), port, QStringLiteral("--flow=dsr")}
                                  << "Unknown flow control \"dsr\"";
    QTest::newRow("negative size") << QStringList{QStringLiteral("receive"), port, QStringLiteral("--max-size=-1")}
                                   << "--max-size takes a number of MiB from 0 to 65536.";
    QTest::newRow("YMODEM-G without RTS/CTS")
        << QStringList{QStringLiteral("receive"), port, QStringLiteral("--protocol=ymodem-g")}
        << "YMODEM-G does not retransmit, so it needs hardware flow control (RTS/CTS).";
}

void tst_TransferCli::badCommandLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);
    QCOMPARE(run(arguments), 1);
    QVERIFY2(m_err.contains(complaint) && m_err.contains(QLatin1String("--help")), qPrintable(m_err));
    QVERIFY(m_out.isEmpty());
}

void tst_TransferCli::helpListsEverything()
{
    QCOMPARE(run({QStringLiteral("--help")}), 0);
    const QStringList parts{QStringLiteral("send [options] FILE"), QStringLiteral("receive [options] [FOLDER]"),
                            QStringLiteral("--port"), QStringLiteral("tcp:HOST:PORT"), QStringLiteral("rfc2217:HOST:PORT"),
                            QStringLiteral("--baud"), QStringLiteral("--flow"), QStringLiteral("rtscts"),
                            QStringLiteral("--protocol"), QStringLiteral("ymodem-g"), QStringLiteral("--name"),
                            QStringLiteral("--max-size"), QStringLiteral("--quiet")};
    for (const QString &part : parts)
        QVERIFY2(m_out.contains(part), qPrintable(part));
    for (int status = 0; status <= 5; ++status)
        QVERIFY2(m_out.contains(QStringLiteral("\n  %1  ").arg(status)), qPrintable(QString::number(status)));
}

void tst_TransferCli::exitStatus_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::newRow("sent to rb") << "send rb" << 0 << "Transfer complete: 70,000 bytes";
    QTest::newRow("received from sb") << "receive sb" << 0 << "Transfer complete: 70,000 bytes";
    QTest::newRow("no such port") << "no port" << 2 << "OPEN FAILED";
    QTest::newRow("TCP refused") << "tcp refused" << 2 << "quillon-transfer: ";
    QTest::newRow("device cancels") << "cancel" << 3 << "Transfer failed: The device cancelled the transfer.";
    QTest::newRow("file to send missing") << "missing" << 5 << "Could not open missing.bin: ";
    QTest::newRow("folder cannot be made") << "no folder" << 5 << "Transfer failed: Could not create the destination file.\nThe folder ";
}

void tst_TransferCli::exitStatus()
{
    QFETCH(QString, kind);
    QFETCH(int, status);
    QFETCH(QString, says);
    if (!LrzszPeer::missingTools().isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs socat and lrzsz; missing: ") + LrzszPeer::missingTools()));
    const QString work = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(work + QStringLiteral("/out")));
    QByteArray data(70000, Qt::Uninitialized);
    for (char &c : data)
        c = char(QRandomGenerator::global()->bounded(256));
    QFile src(work + QStringLiteral("/src.bin"));
    QVERIFY(src.open(QIODevice::WriteOnly) && src.write(data) == data.size());
    src.close();
    PtyPair pty(work);
    QVERIFY(pty.start());
    LrzszPeer lrzsz;
    QProcess *peer = nullptr;
    const QString port = QStringLiteral("--port=") + pty.a();
    QStringList arguments{QStringLiteral("receive"), port, work + QStringLiteral("/in")};
    std::function<void()> device;
    if (kind == QLatin1String("send rb")) {
        arguments = QStringList{QStringLiteral("send"), port, src.fileName()};
        device = [&] { peer = lrzsz.run(pty.b(), QStringLiteral("rb -q"), work + QStringLiteral("/out")); };
    } else if (kind == QLatin1String("receive sb")) {
        device = [&] { peer = lrzsz.run(pty.b(), QStringLiteral("sb -q -k src.bin"), work); };
    } else if (kind == QLatin1String("no port")) {
        arguments[1] = QStringLiteral("--port=") + work + QStringLiteral("/ttyNone");
    } else if (kind == QLatin1String("tcp refused")) {
        arguments[1] = QStringLiteral("--port=tcp:127.0.0.1:%1").arg(TestPeers::freePort());
    } else if (kind == QLatin1String("missing")) {
        arguments = QStringList{QStringLiteral("send"), port, work + QStringLiteral("/missing.bin")};
    } else if (kind == QLatin1String("no folder")) {
        arguments = QStringList{QStringLiteral("receive"), port, QStringLiteral("--protocol=xmodem"), src.fileName() + QStringLiteral("/sub")};
    } else if (kind == QLatin1String("cancel")) {
        device = [&] {
            QSerialPort far(pty.b());
            QVERIFY(far.open(QIODevice::ReadWrite));
            QVERIFY(TestPeers::readFor(far, 1, 10000).contains('C'));
            far.write(QByteArray(2, XmodemCodec::Can));
            QVERIFY(far.waitForBytesWritten(1000));
            QTest::qWait(200);
        };
    }
    QCOMPARE(run(arguments, device), status);
    QVERIFY2((status == 0 ? m_out : m_err).contains(says), qPrintable(m_out + m_err));
    if (status == 0) {
        // Not a terminal: only the summary, no progress line.
        QVERIFY2(!m_out.contains(QLatin1Char('\r')) && m_out.count(QLatin1Char('\n')) == 1, qPrintable(m_out));
        QVERIFY(QTest::qWaitFor([&] { return peer->state() == QProcess::NotRunning; }, 10000));
        const QString arrived = work + (kind.startsWith(QLatin1String("send")) ? QStringLiteral("/out/src.bin") : QStringLiteral("/in/src.bin"));
        QFile got(arrived);
        QVERIFY(got.open(QIODevice::ReadOnly));
        QVERIFY(got.readAll() == data);
    }
}

QTEST_GUILESS_MAIN(tst_TransferCli)
#include "tst_transfercli.moc"
