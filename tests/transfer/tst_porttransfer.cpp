// A transfer on a port session over a fake transport and a virtual clock: when it may
// start, who may use the port meanwhile and what hostile input does to it; and the
// received file's name and path, which must stay inside the chosen folder.
#include "tests/session/faketransport.h"

#include "connection/connectionmode.h"
#include "transfer/porttransfer.h"
#include "transfer/xferfilesink.h"

#include <QDateTime>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray frame(quint8 block, const QByteArray &payload)
{
    return XmodemCodec::buildFrame(block, payload.leftJustified(128, XmodemCodec::Sub), true);
}

QByteArray header(const QString &name, qint64 size, qint64 mtime = 0)
{
    return XmodemCodec::buildFrame(0, XmodemCodec::buildHeader({name, size, mtime}), true);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

constexpr qint64 Now = 1700000000;  // 2023-11-14

} // namespace

class tst_PortTransfer : public QObject
{
    Q_OBJECT
private slots:
    void refusals_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("refusal"); // what the reason must name
        QTest::newRow("closed") << int(TcpClient) << "closed" << "not open";
        QTest::newRow("UDP") << int(UdpServer) << "" << "UDP cannot";
        QTest::newRow("bridged") << int(TcpClient) << "bridged" << "Remove the link";
        QTest::newRow("paused") << int(TcpClient) << "paused" << "Resume it";
        QTest::newRow("server alone") << int(TcpServer) << "" << "No client";
        QTest::newRow("server, none selected") << int(TcpServer) << "two clients" << "Select the one";
        QTest::newRow("YMODEM-G without RTS/CTS") << int(SerialPort) << "YMODEM-G" << "needs hardware flow control";
        QTest::newRow("second transfer") << int(TcpClient) << "running" << "already running";
    }

    void refusals()
    {
        QFETCH(int, mode);
        QFETCH(QString, setup);
        QFETCH(QString, refusal);
        make(mode, setup != QLatin1String("closed"));
        if (setup == QLatin1String("two clients")) {
            m_wire->setPeers({QStringLiteral("10.0.0.1:5"), QStringLiteral("10.0.0.2:6")});
            m_session->selectPeer(QString());
        }
        if (setup == QLatin1String("paused"))
            QVERIFY(m_session->pause());
        if (setup == QLatin1String("bridged"))
            QVERIFY(m_session->lease()->acquire(PortRequester::Bridge));
        XferOptions options;
        options.direction = XferOptions::Receive;
        if (setup == QLatin1String("running"))
            QVERIFY(m_transfer->startTransfer(options, folder(), QStringLiteral("x.bin")));
        options.protocol = setup == QLatin1String("YMODEM-G") ? YmodemG : Ymodem;
        QString why;
        QVERIFY(!m_transfer->startTransfer(options, folder(), QStringLiteral("x.bin"), &why));
        QVERIFY2(why.contains(refusal), qPrintable(why));
        if (setup != QLatin1String("running")) {
            QVERIFY(!QFileInfo::exists(folder()));
            return;
        }
        // The running transfer holds the port until it ends; typing is refused meanwhile.
        QVERIFY(!m_session->send("typed"));
        m_transfer->cancelTransfer();
        expire("transferDrainTimer");
        QVERIFY(!m_session->lease()->transferHeld() && m_session->send("typed"));
    }

    void hostileInput_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<int>("silences");  // deadlines that pass with nothing arriving
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("timeKept");  // else the file shows when it arrived
        const QByteArray data = QByteArray("abcd");
        const QList<QByteArray> rest{frame(1, data), QByteArray(1, XmodemCodec::Eot), header(QString(), 0)};
        QTest::newRow("size over the cap") << QList<QByteArray>{header(QStringLiteral("big.bin"), 200 << 20)} << 0
                                           << "Transfer failed: The device offered a 209715200 byte file" << QStringList() << false;
        QTest::newRow("4 GiB") << QList<QByteArray>{header(QStringLiteral("huge.bin"), qint64(1) << 32)} << 0
                               << "Transfer failed: The device offered a 4294967296 byte file" << QStringList() << false;
        QTest::newRow("folder parts, garbage between blocks")
            << QList<QByteArray>{header(QStringLiteral("../../x"), 4, 1600000000), QByteArray("\x04zz\x18q\xff\x00", 7)} + rest
            << 0 << "Transfer complete" << QStringList{QStringLiteral("x")} << true;
        QTest::newRow("time in 1970") << QList<QByteArray>{header(QStringLiteral("/etc/passwd"), 4, 60)} + rest << 0
                                      << "Transfer complete" << QStringList{QStringLiteral("passwd")} << false;
        QTest::newRow("time in 2100") << QList<QByteArray>{header(QStringLiteral("C:\\x"), 4, 4102444800)} + rest << 0
                                      << "Transfer complete" << QStringList{QStringLiteral("x")} << false;
        QTest::newRow("device stops answering")
            << QList<QByteArray>{header(QStringLiteral("s.bin"), 300), frame(1, data)} << 11
            << "Transfer failed: Gave up after 10 retries. (42% transferred)" << QStringList{QStringLiteral("s.bin.partial")}
            << false;
    }

    void hostileInput()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(int, silences);
        QFETCH(QString, summary);
        QFETCH(QStringList, files);
        QFETCH(bool, timeKept);
        make();
        QSignalSpy ended(m_transfer, &PortTransfer::transferEnded);
        XferOptions options;
        options.direction = XferOptions::Receive;
        options.receiveCap = qint64(100) << 20;
        QVERIFY(m_transfer->startTransfer(options, folder(), QStringLiteral("unused.bin")));
        for (const QByteArray &chunk : chunks) {
            m_wire->feed(chunk);
            settle();
        }
        for (int i = 0; i < silences; ++i)
            expire();
        if (m_transfer->isActive())
            expire("transferDrainTimer");  // an abort was sent: a short wait for a device that missed it
        QCOMPARE(ended.size(), 1);
        QVERIFY2(m_transfer->lastOutcome().summary.startsWith(summary), qPrintable(m_transfer->lastOutcome().summary));
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), files);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        if (!m_transfer->lastOutcome().success)
            return;
        const qint64 mtime = QFileInfo(QDir(folder()).filePath(files.first())).lastModified().toSecsSinceEpoch();
        QVERIFY2(timeKept ? mtime == 1600000000 : qAbs(mtime - QDateTime::currentSecsSinceEpoch()) < 60, qPrintable(QString::number(mtime)));
    }

    void sanitizedNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        const QString fallback = QStringLiteral("received_%1.bin")
                                     .arg(QDateTime::fromSecsSinceEpoch(Now).toString(QStringLiteral("yyyyMMdd-hhmmss")));
        QTest::newRow("drive-relative") << QStringLiteral("C:x") << QStringLiteral("C");
        QTest::newRow("dot dot") << QStringLiteral("..") << fallback;
        QTest::newRow("NUL and controls") << QStringLiteral("a%1b\x01\x1f\x7f" "c.bin").arg(QChar(0)) << QStringLiteral("abc.bin");
        QTest::newRow("trailing dots and spaces") << QStringLiteral(" report.txt. . ") << QStringLiteral("report.txt");
        QTest::newRow("device name") << QStringLiteral("com1.tar.gz") << QStringLiteral("_com1.tar.gz");
        QTest::newRow("only removed characters") << QStringLiteral("<>|?*\"") << fallback;
        QTest::newRow("not a device") << QStringLiteral("COM10.bin") << QStringLiteral("COM10.bin");
        // 150 two-byte characters: 300 bytes, cut before the 128th character.
        QTest::newRow("300-byte UTF-8") << QString(150, QChar(0xe9)) << QString(127, QChar(0xe9));
    }

    void sanitizedNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        const QString clean = sanitizeFileName(name, Now);
        QCOMPARE(clean, expected);
        QVERIFY(clean.toUtf8().size() <= 255);
    }

    void linksAreNeitherFollowedNorReplaced()
    {
        QTemporaryDir tmp;
        const QString folder = tmp.filePath(QStringLiteral("links"));
        QVERIFY(QDir().mkpath(folder));
        const QString outside = tmp.filePath(QStringLiteral("outside.txt"));
        QFile target(outside);
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write("precious") == 8);
        target.close();
        const QDir dir(folder);
        // One link at the final name, a dangling one at "(1)", one at the temporary name.
        QVERIFY(QFile::link(outside, dir.filePath(QStringLiteral("fw.bin"))));
        QVERIFY(QFile::link(tmp.filePath(QStringLiteral("nowhere")), dir.filePath(QStringLiteral("fw (1).bin"))));
        QVERIFY(QFile::link(outside, dir.filePath(QStringLiteral(".fw (2).bin.part"))));

        XferFileSink sink(folder, QString(), Now);
        QVERIFY2(sink.open({QStringLiteral("fw.bin"), -1, 0}), qPrintable(sink.errorText()));
        QVERIFY(sink.nameTaken());
        QVERIFY(sink.write("new data"));
        // Written under a hidden temporary name, the link there removed, then renamed.
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral(".fw (2).bin.part"))).isFile());
        QVERIFY(!QFileInfo(dir.filePath(QStringLiteral(".fw (2).bin.part"))).isSymLink());
        QVERIFY(sink.finish(-1));
        QCOMPARE(sink.finalPath(), dir.filePath(QStringLiteral("fw (2).bin")));
        QCOMPARE(readAll(sink.finalPath()), QByteArray("new data"));
        QVERIFY(!QFileInfo(sink.finalPath()).isSymLink());
        QCOMPARE(readAll(outside), QByteArray("precious"));
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("fw.bin"))).isSymLink());
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("fw (1).bin"))).isSymLink());
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral(".fw (2).bin.part"))));
    }

private:
    void make(int mode = TcpClient, bool open = true)
    {
        m_session = std::make_unique<PortSession>(FormatSetting{.ConnMode = mode});
        m_wire = useFakeTransport(*m_session);
        if (open)
            QVERIFY(m_session->open());
        m_transfer = new PortTransfer(m_session.get());
        m_transfer->setClock([this] { return m_now; });
    }

    // Drained steps are queued, and each may queue the next; a few passes empty the queue.
    static void settle()
    {
        for (int pass = 0; pass < 4; ++pass)
            QCoreApplication::processEvents();
    }

    // Jumps the virtual clock to the deadline of one of the transfer's timers (the engine's
    // tick, or the wait after an abort) and lets the timer fire.
    void expire(const char *timer = "transferTickTimer")
    {
        auto *t = m_transfer->findChild<QTimer *>(QString::fromLatin1(timer));
        QVERIFY(t && t->isActive());
        m_now += t->interval();
        t->stop();
        QVERIFY(QMetaObject::invokeMethod(t, "timeout"));
        settle();
    }

    QString folder() const { return m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())); }

    QTemporaryDir m_dir;
    std::unique_ptr<PortSession> m_session;
    FakeTransport *m_wire = nullptr;
    PortTransfer *m_transfer = nullptr;
    qint64 m_now = 0;
};

QTEST_GUILESS_MAIN(tst_PortTransfer)
#include "tst_porttransfer.moc"
