#include "bridge/bridgelink.h"
#include "bridge/portendpoint.h"
#include "logging/logwriter.h"
#include "tests/session/faketransport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The endpoint and the link over sessions on fake transports, and the capture file.
class tst_BridgeLink : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void telnetEscapeCountsOnlyWholeBytes();
    void endpointOfAGoneSession();
    void states_data();
    void states();
    void displayMute();
    void captureLines_data();
    void captureLines();
    void captureRotatesAndFails();

private:
    std::unique_ptr<PortSession> m_a, m_b;
    FakeTransport *m_wireA = nullptr, *m_wireB = nullptr;
};

void tst_BridgeLink::init()
{
    FormatSetting s;
    s.PortName = QStringLiteral("portA");
    m_a = std::make_unique<PortSession>(s, 0);
    s.PortName = QStringLiteral("portB");
    m_b = std::make_unique<PortSession>(s, 1);
    m_wireA = useFakeTransport(*m_a);
    m_wireB = useFakeTransport(*m_b);
    QVERIFY(m_a->open() && m_b->open());
}

void tst_BridgeLink::telnetEscapeCountsOnlyWholeBytes()
{
    PortEndpoint sink(m_b.get());
    sink.setTelnetEscape(true);
    sink.setWriteLimit(5);
    // Three 0xFF take six bytes on the wire; only two fit whole.
    QCOMPARE(sink.write(QByteArray(3, '\xff'), QString()), qint64(2));
    QCOMPARE(m_wireB->written(), QByteArray(4, '\xff'));

    // Through a pipe, what was not taken goes next time, escaped exactly once.
    BridgePipe pipe;
    pipe.configure(BridgeConfig().normalised());
    const QByteArray input = QByteArray("a\xff\xff" "b\xff", 5);
    pipe.ingest(input, QString(), 0);
    while (auto w = pipe.nextWrite({true, 0}))
        pipe.written(sink.write(w->bytes, w->peer));
    QCOMPARE(m_wireB->written(), QByteArray(4, '\xff') + QByteArray("a\xff\xff\xff\xff" "b\xff\xff", 8));
    QCOMPARE(pipe.counters().bytesForwarded, qint64(input.size()));
}

void tst_BridgeLink::endpointOfAGoneSession()
{
    PortEndpoint end(m_a.get());
    end.setReadPaused(true);
    end.setReadPaused(true);
    end.setReadPaused(false);
    QCOMPARE(end.holds(), 1); // holds nest
    m_a.reset();
    QCOMPARE(end.write("x", QString()), qint64(0));
    QCOMPARE(end.pendingBytes(), qint64(0));
    QVERIFY(!end.isOpen());
    QVERIFY(!end.canThrottle());
    QCOMPARE(end.label(), QStringLiteral("1: "));
}

void tst_BridgeLink::states_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("openA");
    QTest::addColumn<bool>("openB");
    QTest::addColumn<bool>("overflow");
    QTest::addColumn<QString>("text");

    QTest::newRow("disabled") << false << true << true << false << QStringLiteral("Disabled");
    QTest::newRow("running") << true << true << true << false << QStringLiteral("Running");
    QTest::newRow("A closed") << true << false << true << false << QStringLiteral("Degraded: 1: portA is closed");
    QTest::newRow("B closed") << true << true << false << false << QStringLiteral("Degraded: 2: portB is closed");
    QTest::newRow("both closed") << true << false << false << false
                                 << QStringLiteral("Waiting for both ends to open");
    QTest::newRow("stopped on overflow") << true << true << true << true
                                         << QStringLiteral("Suspended: Egress queue overflowed");
}

void tst_BridgeLink::states()
{
    QFETCH(bool, enabled);
    QFETCH(bool, openA);
    QFETCH(bool, openB);
    QFETCH(bool, overflow);
    QFETCH(QString, text);
    BridgeConfig c;
    c.Enabled = enabled;
    c.OverflowPolicy = BridgeConfig::StopBridge;
    c.QueueLimitBytes = 8;
    PortEndpoint a(m_a.get()), b(m_b.get());
    BridgeLink link(c, &a, &b);
    link.start();
    QCOMPARE(link.isRunning(), enabled);
    if (overflow) {
        m_wireB->refuseWrites = true;
        m_wireA->feed("12345");
        m_wireA->feed("67890");
    }
    if (!openA)
        m_a->close();
    if (!openB)
        m_b->close();
    QCOMPARE(link.stateText(), text);
    link.stop();
    QCOMPARE(m_a->lease()->bridgeHolds() + m_b->lease()->bridgeHolds(), 0);
}

void tst_BridgeLink::displayMute()
{
    PortEndpoint a(m_a.get()), b(m_b.get());
    BridgeLink link(BridgeConfig(), &a, &b);
    link.start();
    QSignalSpy messages(&link, &BridgeLink::message);
    const QList<int> kibPerSecond{600, 600, 200, 100};
    const QList<bool> mutedAfter{true, true, true, false};
    for (int second = 0; second < kibPerSecond.size(); ++second) {
        for (int k = 0; k < kibPerSecond.at(second); ++k)
            m_wireA->feed(QByteArray(1024, 'm'));
        link.onSampleTick();
        QCOMPARE(link.isDisplayMuted(), mutedAfter.at(second));
        QCOMPARE(b.showInView(), !mutedAfter.at(second));
    }
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().first().toString(),
             QStringLiteral("(unnamed): high throughput, forwarded traffic is no longer shown (logging continues)"));
    QCOMPARE(link.samples().size(), 4);
    QCOMPARE(link.samples().at(2).aToB, qint64(200 * 1024));
    QCOMPARE(m_wireB->written().size(), 1500 * 1024);
}

void tst_BridgeLink::captureLines_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");

    QTest::newRow("hex") << true << QString() << QByteArray("\x00\x1f\xff" "a", 4)
                         << QStringLiteral("12:34:56.789  A->B  -  00 1F FF 61\n");
    QTest::newRow("text escapes") << false << QStringLiteral("10.0.0.2:5020") << QByteArray("a\r\n\t\x01\x7f\xe9 z", 9)
                                  << QStringLiteral("12:34:56.789  A->B  10.0.0.2:5020  a\\r\\n\\t\\x01\\x7F\u00e9 z\n");
}

void tst_BridgeLink::captureLines()
{
    QFETCH(bool, hex);
    QFETCH(QString, peer);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    const QDateTime at(QDate(2024, 5, 6), QTime(12, 34, 56, 789));
    QCOMPARE(BridgeCapture::line(at, BridgeCapture::AToB, peer, bytes, hex), line);
}

void tst_BridgeLink::captureRotatesAndFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("logs/cap.txt"));
    const QDateTime start(QDate(2024, 5, 6), QTime(8, 0));
    const QString header = QStringLiteral("# Quillon %1 bridge capture\n# Link:    \n# End A:   1: portA\n"
                                          "# End B:   2: portB\n# Started: 2024-05-06 08:00:00\n"
                                          "# Columns: time  direction  peer  data\n")
                               .arg(LogWriter::versionText());
    // Rotation is due once the file holds the header and two lines.
    BridgeCapture capture;
    capture.configure({path, true, header.toUtf8().size() + 40, QString(), QStringLiteral("1: portA"),
                       QStringLiteral("2: portB")});
    auto readAll = [](const QString &p) {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    capture.add(start, BridgeCapture::BToA, QString(), "one");
    QVERIFY(capture.write(start, nullptr));
    QCOMPARE(readAll(path), header + QStringLiteral("08:00:00.000  B->A  -  6F 6E 65\n"));
    capture.add(start, BridgeCapture::AToB, QString(), "two");
    QVERIFY(capture.write(start, nullptr)); // still below the rotation size
    const QString full = readAll(path);
    capture.add(start.addSecs(1), BridgeCapture::AToB, QString(), "three");
    QVERIFY(capture.write(start.addSecs(1), nullptr));
    QCOMPARE(readAll(path + QStringLiteral(".1")), full);
    QCOMPARE(readAll(path),
             QString(header).replace(QStringLiteral("08:00:00\n"), QStringLiteral("08:00:01\n"))
                 + QStringLiteral("08:00:01.000  A->B  -  74 68 72 65 65\n"));

    // A folder that cannot be made turns the capture off with the reason.
    capture.configure({dir.filePath(QStringLiteral("logs/cap.txt/sub/x.txt")), true, 120, {}, {}, {}});
    capture.add(start, BridgeCapture::AToB, QString(), "lost");
    QString error;
    QVERIFY(!capture.write(start, &error));
    QCOMPARE(error, QStringLiteral("Cannot create the log folder %1")
                        .arg(QDir::toNativeSeparators(dir.filePath(QStringLiteral("logs/cap.txt/sub")))));
    QVERIFY(!capture.isOn() && !capture.hasPending());
}

QTEST_GUILESS_MAIN(tst_BridgeLink)
#include "tst_bridgelink.moc"
