// quillon-transfer as a script runs it: its command line, its exit status for each
// kind of failure, and whole transfers against lrzsz over a pty pair.
#include "tests/support/bytes.h"
#include "tests/support/peers.h"

#include "transfer/xmodemcodec.h"

#include <QDir>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

class tst_TransferCli : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_program = qEnvironmentVariable("QUILLON_BINARY_DIR") + QStringLiteral("/transfercli/quillon-transfer");
        QVERIFY2(QFileInfo(m_program).isExecutable(), qPrintable(m_program));
        QVERIFY(m_dir.isValid());
        if (!LrzszPeer::missingTools().isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs socat and lrzsz; missing: ") + LrzszPeer::missingTools()));
    }

    void exitStatus_data()
    {
        // %A is our end of a pty pair, %W the row's folder with src.bin in it.
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("far");  // what runs on the pty's other end
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");  // fragments separated by '|', on stdout for 0, else stderr
        QTest::newRow("help") << "--help" << "" << 0 << "send [options] FILE|receive [options] [FOLDER]|Exit status:";
        QTest::newRow("sent to rb") << "send --port=%A %W/src.bin" << "rb -q" << 0 << "Transfer complete: 70,000 bytes";
        QTest::newRow("received from sb") << "receive --port=%A %W/in" << "sb -q -k ../src.bin" << 0
                                          << "Transfer complete: 70,000 bytes";
        QTest::newRow("no command") << "--port=%A" << "" << 1 << "Say send or receive.|Try quillon-transfer --help.";
        QTest::newRow("no port") << "send f" << "" << 1 << "--port is required.";
        QTest::newRow("TCP without a number") << "send f --port=tcp:host" << "" << 1 << "\"tcp:host\" is not tcp:HOST:PORT.";
        QTest::newRow("unknown option") << "receive --port=%A --speed=9600" << "" << 1 << "Unknown option --speed.";
        QTest::newRow("unknown protocol") << "receive --port=%A --protocol=zmodem" << "" << 1 << "Unknown protocol \"zmodem\"";
        QTest::newRow("YMODEM-G without RTS/CTS") << "receive --port=%A --protocol=ymodem-g" << "" << 1
                                                  << "YMODEM-G does not retransmit, so it needs hardware flow control";
        QTest::newRow("no such port") << "receive --port=%W/ttyNone" << "" << 2 << "OPEN FAILED";
        QTest::newRow("TCP refused") << "receive --port=tcp:127.0.0.1:1" << "" << 2 << "quillon-transfer: ";
        QTest::newRow("device cancels") << "receive --protocol=xmodem-crc --name=x.bin --port=%A %W/in" << "CAN CAN" << 3
                                        << "Transfer failed: The device cancelled the transfer.\nWhat arrived was kept as "
                                           "\"%W/in/x.bin.partial\".";
        QTest::newRow("file to send missing") << "send --port=%A %W/missing.bin" << "" << 5 << "Could not open missing.bin: ";
        QTest::newRow("folder cannot be made") << "receive --protocol=xmodem --port=%A %W/src.bin/sub" << "" << 5
                                               << "Transfer failed: Could not create the destination file.\nThe folder ";
    }

    void exitStatus()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, far);
        QFETCH(int, status);
        QFETCH(QString, says);
        const QString work = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(work + QStringLiteral("/in")));
        const QByteArray data = randomBytes(70000, 1);
        QFile src(work + QStringLiteral("/src.bin"));
        QVERIFY(src.open(QIODevice::WriteOnly) && src.write(data) == data.size());
        src.close();
        PtyPair pty(work);
        QVERIFY(pty.start());

        QStringList args = arguments.split(QLatin1Char(' '));
        for (QString &arg : args)
            arg.replace(QLatin1String("%A"), pty.a()).replace(QLatin1String("%W"), work);
        QProcess program;
        program.start(m_program, args);
        QVERIFY(program.waitForStarted(5000));
        LrzszPeer lrzsz;
        QProcess *peer = nullptr;
        if (far == QLatin1String("CAN CAN")) {
            QSerialPort device(pty.b());
            QVERIFY(device.open(QIODevice::ReadWrite));
            QVERIFY(TestPeers::readFor(device, 1, 10000).contains('C'));
            device.write(QByteArray(2, XmodemCodec::Can));
            QVERIFY(device.waitForBytesWritten(1000));
        } else if (!far.isEmpty()) {
            peer = lrzsz.run(pty.b(), far, work + QStringLiteral("/in"));
        }
        QVERIFY(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);
        const QString out = QString::fromLocal8Bit(status == 0 ? program.readAllStandardOutput() : program.readAllStandardError());
        for (const QString &fragment : says.replace(QLatin1String("%W"), work).split(QLatin1Char('|')))
            QVERIFY2(out.contains(fragment), qPrintable(fragment + QStringLiteral(" not in:\n") + out));
        if (!peer)
            return;
        // Not a terminal: only the summary, no progress line.
        QVERIFY2(!out.contains(QLatin1Char('\r')) && out.count(QLatin1Char('\n')) == 1, qPrintable(out));
        QVERIFY(QTest::qWaitFor([&] { return peer->state() == QProcess::NotRunning; }, 10000));
        QFile got(work + QStringLiteral("/in/src.bin"));
        QVERIFY(got.open(QIODevice::ReadOnly));
        QVERIFY(got.readAll() == data);
    }

private:
    QString m_program;
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(tst_TransferCli)
#include "tst_transfercli.moc"
