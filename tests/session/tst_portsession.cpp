#include "faketransport.h"

#include "connection/connectionmode.h"
#include "session/ansiescapefilter.h"
#include "session/portsession.h"
#include "tests/support/bytes.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <climits>
#include <memory>

// The session through a fake transport: the pipelines, routing, lease and reconnect
// machine, with no wire underneath.
class tst_PortSession : public QObject
{
    Q_OBJECT
private slots:
    void receivedTextReachesViewAndConsole_data();
    void receivedTextReachesViewAndConsole();
    void peersLoopAndLease();
    void lineChangesAreCheckedFirst_data();
    void lineChangesAreCheckedFirst();
    void reconnectMachine_data();
    void reconnectMachine();
    void floodKeepsTheLogAndMarksGaps_data();
    void floodKeepsTheLogAndMarksGaps();
    void logFileOfASession();
    void closeLogsWhatIsQueued();

private:
    void make(FormatSetting s = FormatSetting(), bool open = true, int mode = TcpClient);
    QString viewText();
    QString logged();
    FormatSetting logging(const QString &name);

    std::unique_ptr<PortSession> m_session;
    FakeTransport *m_wire = nullptr;
    std::unique_ptr<QSignalSpy> m_batches;
    QTemporaryDir m_dir;
};

// A new session for each test; the one before goes.
void tst_PortSession::make(FormatSetting s, bool open, int mode)
{
    s.ConnMode = mode;
    m_session = std::make_unique<PortSession>(s, 0);
    m_session->setViewAttached(true);
    m_wire = useFakeTransport(*m_session);
    m_batches = std::make_unique<QSignalSpy>(m_session.get(), &PortSession::displayBatch);
    if (open)
        m_session->open();
}

QString tst_PortSession::viewText()
{
    m_session->flushDisplay();
    QString text;
    for (const QList<QVariant> &args : std::as_const(*m_batches)) {
        for (const ViewSegment &segment : args.at(0).value<QList<ViewSegment>>())
            text += segment.text;
    }
    return text;
}

// The session's log file below its header, as it stands once the session has closed.
QString tst_PortSession::logged()
{
    m_session->close();
    QFile log(m_session->settings().resolvedLogPath);
    const QString text = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QStringLiteral("<no log>");
    return text.mid(text.indexOf(u'\n', text.indexOf(QStringLiteral("Launch at: "))) + 1);
}

FormatSetting tst_PortSession::logging(const QString &name)
{
    FormatSetting s;
    s.LogSaveFlag = true;
    s.LogFilePath = m_dir.filePath(name);
    s.NeedHourTimeStamp = false;
    return s;
}

void tst_PortSession::receivedTextReachesViewAndConsole_data()
{
    QTest::addColumn<bool>("stamps");
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("console");
    QTest::newRow("CR LF then lone LF") << false << QByteArrayList{"ABC\r\n", "\n"} << QStringLiteral("ABC\n")
                                        << QStringLiteral("ABC\n\n");
    QTest::newRow("escape split, its first part shows nothing") << false << QByteArrayList{"\x1b[3", "1mX"} << QStringLiteral("X")
                                                                << QStringLiteral("X");
    QTest::newRow("utf-8 split") << false << QByteArrayList{"\xe4\xb8", "\xad!"} << QStringLiteral("\u4e2d!")
                                 << QStringLiteral("\u4e2d!");
    QTest::newRow("stamps on every line") << true << QByteArrayList{"a\nb\n", "c"} << QStringLiteral("[R] a\n[R] b\n[R] c")
                                          << QStringLiteral("a\n[R] b\n[R] c");
}

void tst_PortSession::receivedTextReachesViewAndConsole()
{
    QFETCH(bool, stamps);
    QFETCH(QByteArrayList, chunks);
    QFETCH(QString, shown);
    QFETCH(QString, console);
    FormatSetting s;
    s.DisplayMsgTime = stamps;
    s.RxTimeFormat = QStringLiteral("[R] ");
    make(s);
    m_session->setConsoleWatched(true);
    QSignalSpy consoleSpy(m_session.get(), &PortSession::consoleTraffic);
    for (const QByteArray &chunk : chunks)
        m_wire->feed(chunk);
    QCOMPARE(viewText(), shown);
    QString consoleText;
    for (const QList<QVariant> &args : std::as_const(consoleSpy))
        consoleText += args.at(2).toString();
    QCOMPARE(consoleText, console);
    QCOMPARE(m_session->rxByteCount(), quint64(chunks.join().size())); // escape sequences count as received
}

// Sends go to the selected peer, and to the first when it leaves; a transfer's tap takes
// its peer's bytes before the view, the counters and the features see them. The Loop never
// runs faster than every 10 ms (0 would resend on every pass of the event loop and flood the
// port) and steps through the lines; a transfer holds it back, and the user and bridges with it.
void tst_PortSession::peersLoopAndLease()
{
    FormatSetting s;
    s.TxLineEndingMode = 2;
    s.TxAutoFeedLine = true;
    s.AutoSend = true;
    s.SendInterval = 0;
    make(s);
    auto *loop = m_session->findChild<QTimer *>(QStringLiteral("sendTimer"));
    QVERIFY(loop && loop->isActive());
    QCOMPARE(loop->interval(), 10);

    m_wire->setPeers({QStringLiteral("a:1"), QStringLiteral("b:2")});
    QCOMPARE(m_session->selectedPeer(), QStringLiteral("a:1"));
    QSignalSpy forwarded(m_session.get(), &PortSession::received);
    QByteArray taken;
    m_session->setReceiveTap([&](const QByteArray &bytes, const QString &peer) {
        if (peer != QLatin1String("a:1"))
            return false;
        taken += bytes;
        return true;
    });
    m_wire->feed("file", QStringLiteral("a:1"));
    m_wire->feed("chat", QStringLiteral("b:2"));
    QCOMPARE(taken, QByteArray("file"));
    QCOMPARE(viewText(), QStringLiteral("chat"));
    QCOMPARE(forwarded.size(), 1);
    QCOMPARE(m_session->rxByteCount(), quint64(4));
    m_session->selectPeer(QStringLiteral("b:2")); // the Loop has no text yet: only these two sends go out
    m_session->send("x");
    m_wire->setPeers({QStringLiteral("a:1")}); // b leaves: back to the first
    m_session->send("y");
    QCOMPARE(m_wire->writes.size(), 2);
    QCOMPARE(m_wire->writes.at(0).peer, QStringLiteral("b:2"));
    QCOMPARE(m_wire->writes.at(1).peer, QStringLiteral("a:1"));
    m_wire->writes.clear();

    m_session->setLoopText(QStringLiteral("l1\nl2\n\nl3"));
    m_session->setLineByLine(true);
    QTRY_VERIFY_WITH_TIMEOUT(m_wire->written().size() >= 12, 10000);
    QVERIFY2(m_wire->written().startsWith("l1\nl2\nl3\nl1\n"), m_wire->written().constData());
    m_wire->writes.clear();

    QSignalSpy messages(m_session.get(), &PortSession::statusMessage);
    PortLease *lease = m_session->lease();

    QVERIFY(lease->acquire(PortRequester::Transfer));
    QVERIFY(!loop->isActive()); // the Loop would interleave with the transfer's blocks
    QVERIFY(!m_session->send("user"));
    QVERIFY(!m_session->pause());
    QVERIFY(!m_session->reconfigure(m_session->settings()));
    QCOMPARE(messages.size(), 3); // each refusal says why, in its own words
    const QSet<QString> reasons{messages.at(0).at(0).toString(), messages.at(1).at(0).toString(),
                                messages.at(2).at(0).toString()};
    QVERIFY(reasons.size() == 3 && !reasons.contains(QString()));
    QCOMPARE(m_session->write("bridge", {}, PortSession::Echo::None, PortRequester::Bridge), 0);
    QCOMPARE(m_session->write("block", {}, PortSession::Echo::None, PortRequester::Transfer), 5);
    QString why;
    QVERIFY(!lease->acquire(PortRequester::Bridge, &why));
    QVERIFY(!why.isEmpty());
    lease->release(PortRequester::Transfer);
    QVERIFY(loop->isActive());

    QVERIFY(lease->acquire(PortRequester::Bridge));
    QVERIFY(lease->acquire(PortRequester::Bridge));
    why.clear();
    QVERIFY(!lease->acquire(PortRequester::Transfer, &why));
    QVERIFY(!why.isEmpty());
    QVERIFY(m_session->send("user")); // a bridge shares the port
    QCOMPARE(m_wire->written(), QByteArray("blockuser"));
}

void tst_PortSession::lineChangesAreCheckedFirst_data()
{
    using R = PortSession::LineChangeResult;
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("transfer");
    QTest::addColumn<LineChange>("change");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("baud"); // in effect afterwards
    QTest::newRow("all applied") << int(SerialPort) << false << LineChange{57600, 7, 2, 2, 1} << int(R::Applied) << 57600;
    QTest::newRow("baud only") << int(SerialPort) << false << LineChange{1200, {}, {}, {}, {}} << int(R::Applied) << 1200;
    QTest::newRow("baud 0") << int(SerialPort) << false << LineChange{0, {}, {}, {}, {}} << int(R::Invalid) << 9600;
    QTest::newRow("baud 2^31-1") << int(SerialPort) << false << LineChange{INT_MAX, {}, {}, {}, {}} << int(R::Invalid) << 9600;
    QTest::newRow("9 data bits, nothing applied") << int(SerialPort) << false << LineChange{57600, 9, {}, {}, {}}
                                                  << int(R::Invalid) << 9600;
    QTest::newRow("parity 1 is no parity value") << int(SerialPort) << false << LineChange{{}, {}, 1, {}, {}}
                                                 << int(R::Invalid) << 9600;
    QTest::newRow("network port") << int(TcpServer) << false << LineChange{57600, {}, {}, {}, {}} << int(R::NotSerial) << 9600;
    QTest::newRow("during a transfer") << int(SerialPort) << true << LineChange{57600, {}, {}, {}, {}} << int(R::Busy) << 9600;
}

void tst_PortSession::lineChangesAreCheckedFirst()
{
    QFETCH(int, mode);
    QFETCH(bool, transfer);
    QFETCH(LineChange, change);
    QFETCH(int, result);
    QFETCH(int, baud);
    make(FormatSetting(), false, mode);
    if (transfer)
        QVERIFY(m_session->lease()->acquire(PortRequester::Transfer));
    QCOMPARE(int(m_session->applyLineChange(change, PortRequester::Console)), result);
    const LineChange now = m_session->lineSettingsInEffect();
    QCOMPARE(*now.baudRate, baud);
    if (result == int(PortSession::LineChangeResult::Applied) && change.dataBits)
        QCOMPARE(now.dataBits, change.dataBits);
    else
        QCOMPARE(*now.dataBits, 8);
}

void tst_PortSession::reconnectMachine_data()
{
    QTest::addColumn<bool>("autoReconnect");
    QTest::addColumn<bool>("comesBack");
    QTest::addColumn<int>("state");
    QTest::newRow("comes back") << true << true << int(Running);
    QTest::newRow("waits") << true << false << int(Running);
    QTest::newRow("no reconnection") << false << true << int(Closed);
}

void tst_PortSession::reconnectMachine()
{
    QFETCH(bool, autoReconnect);
    QFETCH(bool, comesBack);
    QFETCH(int, state);
    make();
    m_session->setAutoReconnect(autoReconnect);
    auto *timer = m_session->findChild<QTimer *>(QStringLiteral("reconnectTimer"));
    timer->setInterval(5);
    QSignalSpy messages(m_session.get(), &PortSession::statusMessage);
    QSignalSpy lost(m_session.get(), &PortSession::connectionLost);
    m_wire->comesBack = comesBack;
    m_wire->drop();
    QCOMPARE(lost.size(), 1);
    QCOMPARE(m_session->isReconnectArmed(), autoReconnect);
    QCOMPARE(messages.size() == 1 && messages.first().at(0) == QStringLiteral("lost"), autoReconnect);
    if (autoReconnect)
        QTRY_VERIFY_WITH_TIMEOUT(m_wire->reconnectAttempts > 0, 10000);
    else
        QVERIFY(!timer->isActive());
    QCOMPARE(m_session->isReconnectArmed(), autoReconnect && !comesBack);
    QCOMPARE(m_session->isOpen(), autoReconnect && comesBack);
    QCOMPARE(int(m_session->state()), state);
    // Closing by hand ends the waiting.
    m_session->close();
    QVERIFY(!m_session->isReconnectArmed());
    QVERIFY(!timer->isActive());
}

void tst_PortSession::floodKeepsTheLogAndMarksGaps_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("stamps");
    QTest::addColumn<bool>("paused"); // for the middle third
    QTest::addColumn<QByteArray>("stream");
    QByteArray lines;
    QRandomGenerator rng(7);
    for (int i = 0; i < 4000; ++i)
        lines += "line " + QByteArray::number(rng.generate()) + (i % 3 ? "\n" : " ");
    const QByteArray mixed = QByteArray(200000, '\0') + QByteArray("\x1b[").repeated(50000) + randomBytes(300000, 7)
        + QByteArray("\xff\xfe\xc0\x80").repeated(25000);
    QTest::newRow("text, stamps, paused") << int(TextFormat) << true << true << lines;
    QTest::newRow("hex, stamps, paused") << int(HexFormat) << true << true << lines;
    QTest::newRow("hostile hex: NULs, escapes, random, invalid UTF-8") << int(HexFormat) << false << false << mixed;
    QTest::newRow("hostile text: unterminated CSI flood") << int(TextFormat) << false << false
                                                          << QByteArray("\x1b[1;").repeated(60000) + "end";
    QTest::newRow("hostile text: 1 MB without a line feed") << int(TextFormat) << true << false << QByteArray(1 << 20, 'A');
}

// The view takes 1,000 bytes a refresh while far more arrives, and a paused view holds
// no more than its display buffer: the log, the counters and the features get every
// byte, and the gap notices account for every byte the view did not get.
void tst_PortSession::floodKeepsTheLogAndMarksGaps()
{
    QFETCH(int, format);
    QFETCH(bool, stamps);
    QFETCH(bool, paused);
    QFETCH(QByteArray, stream);
    FormatSetting s = logging(QStringLiteral("flood-%1.log").arg(qHash(QByteArray(QTest::currentDataTag()))));
    s.ReceiveMsgForamt = format;
    s.LogTimestampEnabled = stamps;
    s.LogFileTime = QStringLiteral("<%h:%m:%s> ");
    s.DisplayBufferSize = 10000; // a paused view holds the newest two chunks
    make(s);
    m_session->setViewBudget(1000);
    QSignalSpy forwarded(m_session.get(), &PortSession::received);
    const qsizetype chunks = (stream.size() + 4095) / 4096;
    qsizetype batchesBefore = 0;
    for (qsizetype i = 0; i < chunks; ++i) {
        if (paused && i == chunks / 3) {
            QVERIFY(m_session->pause());
            batchesBefore = m_batches->size();
        } else if (paused && i == 2 * chunks / 3) {
            QCOMPARE(m_batches->size(), batchesBefore); // nothing reached the paused view
            QVERIFY(m_session->open());
            QCOMPARE(m_session->state(), Running);
        }
        m_wire->feed(stream.mid(i * 4096, 4096));
        if (i % 8 == 7)
            m_session->flushDisplay();
    }
    m_session->flushDisplay();
    QCOMPARE(m_session->rxByteCount(), quint64(stream.size()));
    QCOMPARE(forwarded.size(), chunks);
    // Escape sequences leave received text, and nothing else does (the filter gives a
    // sequence that never ends back as text).
    const QByteArray kept = format == HexFormat ? stream : AnsiEscapeFilter().filter(stream);
    qint64 noted = 0;
    const QRegularExpression gap(QStringLiteral("-- ([\\d,]+) bytes not shown here; they are in the data log. --"));
    for (const QList<QVariant> &args : std::as_const(*m_batches)) {
        for (const ViewSegment &segment : args.at(0).value<QList<ViewSegment>>()) {
            const auto match = gap.match(segment.text);
            if (segment.notice && match.hasMatch())
                noted += match.captured(1).remove(u',').toLongLong();
        }
    }
    QVERIFY(noted > 0);
    QCOMPARE(noted + m_session->viewShownBytes(), qint64(kept.size()));
    QCOMPARE(m_session->viewSkippedBytes(), noted);

    QString log = logged().remove(QRegularExpression(QStringLiteral("<\\d\\d:\\d\\d:\\d\\d> ")));
    if (format == HexFormat)
        log.remove(u'\n');
    QCOMPARE(log, format == HexFormat ? toHexText(stream) : markControlChars(QString::fromLatin1(kept)));
}

// Received and sent text, and a feature's writes in each echo mode. Sent text is
// encoded and ended as set, and kept once in the history.
void tst_PortSession::logFileOfASession()
{
    FormatSetting s = logging(QStringLiteral("logs/pane-%S.log"));
    s.LogTimestampEnabled = true;
    s.LogFileTime = QStringLiteral("<%h:%m> ");
    s.DisplaySendMsg = true;
    s.SendEncoding = QStringLiteral("GBK");
    s.TxAutoFeedLine = true;
    s.TxLineEndingMode = 3;
    make(s);
    m_wire->feed("hello\nwor");
    m_session->flushDisplay();
    m_wire->feed("ld\n");
    for (int i = 0; i < 2; ++i)
        QVERIFY(m_session->send(m_session->buildPayload(QStringLiteral("\u4e2d"))));
    QCOMPARE(m_session->settings().SendList, QStringList{QStringLiteral("\u4e2d")});
    m_session->write("none;", {}, PortSession::Echo::None, PortRequester::Bridge);
    m_session->write("log;", {}, PortSession::Echo::LogOnly, PortRequester::Bridge);
    m_session->write("both;", {}, PortSession::Echo::ViewAndLog, PortRequester::Bridge);
    QCOMPARE(viewText(), QStringLiteral("hello\nworld\n\u4e2d\n\u4e2d\nboth;"));
    QCOMPARE(m_wire->written(), QByteArray("\xd6\xd0\r\n\xd6\xd0\r\nnone;log;both;"));
    QCOMPARE(m_session->txByteCount(), quint64(m_wire->written().size()));
    QCOMPARE(QFileInfo(m_session->settings().resolvedLogPath).fileName(), QStringLiteral("pane-tcpc-0.log"));

    QCOMPARE(logged().replace(QRegularExpression(QStringLiteral("<\\d\\d:\\d\\d> ")), QStringLiteral("<s>")),
             QStringLiteral("<s>hello\n<s>world\n<s>\u4e2d\n<s>\u4e2d\n<s>log;\n<s>both;"));

    // A log that cannot be written turns logging off and says why.
    FormatSetting broken = m_session->settings();
    broken.LogFilePath = m_dir.path(); // a folder, not a file
    m_session->setSettings(broken);
    QVERIFY(m_session->open());
    QSignalSpy failed(m_session.get(), &PortSession::logFailed);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("LogWriter::flush")));
    m_wire->feed("data\n");
    m_session->close();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.first().at(0).toString(), QStringLiteral("Log path is a directory, not a file: %1").arg(m_dir.path()));
    QVERIFY(!m_session->settings().LogSaveFlag);
}

// A refresh drains only its share of a backlog; closing logs everything still queued.
void tst_PortSession::closeLogsWhatIsQueued()
{
    FormatSetting s = logging(QStringLiteral("close.log"));
    s.ReceiveMsgForamt = HexFormat;
    make(s);
    const QByteArray first(256 * 1024, 'a'); // one large drain teaches the session what a byte costs
    m_wire->feed(first);
    m_session->flushDisplay();
    const QByteArray backlog = QByteArray("0123456789abcdef").repeated(1 << 19);
    for (qsizetype i = 0; i < backlog.size(); i += 4096)
        m_wire->feed(backlog.mid(i, 4096));
    QCOMPARE(logged().remove(u'\n').size(), toHexText(first + backlog).size());
}

QTEST_MAIN(tst_PortSession)
#include "tst_portsession.moc"
