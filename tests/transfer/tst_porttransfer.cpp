// A transfer on a port session over a fake transport and a virtual clock: when it may
// start, what hostile input does to it, how each kind of ending is reported and what
// becomes of the partial file, and who may use the port meanwhile.
#include "tests/session/faketransport.h"

#include "connection/connectionmode.h"
#include "transfer/porttransfer.h"

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

const QByteArray kEot(1, XmodemCodec::Eot);
const QByteArray kEndOfBatch = XmodemCodec::buildFrame(0, QByteArray(128, '\0'), true);

enum Trigger { CancelHere, DeviceCancels, PortClosed, ConnectionLost };

} // namespace

class tst_PortTransfer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void refusals_data();
    void refusals();
    void hostileInput_data();
    void hostileInput();
    void endings_data();
    void endings();
    void serverClientIsTheOnlyPartner();
    void portIsGuardedWhileRunning();

private:
    void make(int mode = TcpClient, bool open = true);
    void deliver(const QByteArray &bytes, const QString &peer = QString());
    static void settle();
    void expire();
    QString folder() const { return m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())); }

    QTemporaryDir m_dir;
    std::unique_ptr<PortSession> m_session;
    FakeTransport *m_wire = nullptr;
    PortTransfer *m_transfer = nullptr;
    qint64 m_now = 0;
};

void tst_PortTransfer::init()
{
    QVERIFY(m_dir.isValid());
    m_transfer = nullptr;
    m_session.reset();
}

void tst_PortTransfer::make(int mode, bool open)
{
    FormatSetting s;
    s.ConnMode = mode;
    m_session = std::make_unique<PortSession>(s);
    m_wire = useFakeTransport(*m_session);
    if (open)
        QVERIFY(m_session->open());
    m_transfer = new PortTransfer(m_session.get());
    m_transfer->setClock([this] { return m_now; });
}

void tst_PortTransfer::deliver(const QByteArray &bytes, const QString &peer)
{
    m_wire->feed(bytes, peer);
    settle();
}

// Drained steps are queued, and each may queue the next; a few passes empty the queue.
void tst_PortTransfer::settle()
{
    for (int pass = 0; pass < 4; ++pass)
        QCoreApplication::processEvents();
}

// Jumps the virtual clock to the transfer's next deadline and lets its timer fire.
void tst_PortTransfer::expire()
{
    auto *tick = m_transfer->findChild<QTimer *>(QStringLiteral("transferTickTimer"));
    QVERIFY(tick && tick->isActive());
    m_now += tick->interval();
    tick->stop();
    QVERIFY(QMetaObject::invokeMethod(tick, "timeout"));
    settle();
}

void tst_PortTransfer::refusals_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("peers");
    QTest::addColumn<QString>("setup");  // "closed", "paused", "bridged", "none selected", "running"
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("refusal");
    const QStringList none;
    const QStringList two{QStringLiteral("10.0.0.1:5"), QStringLiteral("10.0.0.2:6")};
    QTest::newRow("closed") << int(TcpClient) << none << "closed" << int(Ymodem) << "The connection is not open.";
    QTest::newRow("UDP") << int(UdpServer) << none << "" << int(Ymodem)
                         << "File transfer needs an ordered, reliable connection. UDP cannot provide one.";
    QTest::newRow("bridged") << int(TcpClient) << none << "bridged" << int(Ymodem)
                             << "This port is part of a bridge link. Remove the link before transferring a file.";
    QTest::newRow("paused") << int(TcpClient) << none << "paused" << int(Ymodem)
                            << "The view is paused. Resume it before transferring a file.";
    QTest::newRow("server alone") << int(TcpServer) << none << "" << int(Ymodem) << "No client is connected yet.";
    QTest::newRow("server, none selected") << int(TcpServer) << two << "none selected" << int(Ymodem)
                                           << "Several clients are connected. Select the one to transfer with.";
    QTest::newRow("YMODEM-G without RTS/CTS") << int(SerialPort) << none << "" << int(YmodemG)
                                              << "YMODEM-G does not retransmit, so it needs hardware flow control "
                                                 "(RTS/CTS). This connection has none.";
    QTest::newRow("second transfer") << int(TcpClient) << none << "running" << int(Ymodem)
                                     << "A file transfer is already running on this port.";
}

void tst_PortTransfer::refusals()
{
    QFETCH(int, mode);
    QFETCH(QStringList, peers);
    QFETCH(QString, setup);
    QFETCH(int, protocol);
    QFETCH(QString, refusal);
    make(mode, setup != QLatin1String("closed"));
    m_wire->setPeers(peers);
    if (setup == QLatin1String("none selected"))
        m_session->selectPeer(QString());
    if (setup == QLatin1String("paused"))
        QVERIFY(m_session->pause());
    if (setup == QLatin1String("bridged"))
        QVERIFY(m_session->lease()->acquire(PortRequester::Bridge));
    XferOptions options;
    options.direction = XferOptions::Receive;
    if (setup == QLatin1String("running"))
        QVERIFY(m_transfer->startTransfer(options, folder(), QStringLiteral("x.bin")));
    options.protocol = XferProtocol(protocol);
    QString why;
    QVERIFY(!m_transfer->startTransfer(options, folder(), QStringLiteral("x.bin"), &why));
    QCOMPARE(why, refusal);
    QVERIFY(!QFileInfo::exists(folder()) || setup == QLatin1String("running"));
}

void tst_PortTransfer::hostileInput_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<int>("silences");  // deadlines that pass with nothing arriving
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QStringList>("files");
    const QByteArray data = QByteArray("abcd");
    const QList<QByteArray> rest{frame(1, data), kEot, kEndOfBatch};
    QTest::newRow("size over the cap") << QList<QByteArray>{header(QStringLiteral("big.bin"), 200 << 20)} << 0
                                       << "Transfer failed: The device offered a 209715200 byte file, which is over "
                                          "the receive limit."
                                       << QStringList();
    QTest::newRow("4 GiB") << QList<QByteArray>{header(QStringLiteral("huge.bin"), qint64(1) << 32)} << 0
                           << "Transfer failed: The device offered a 4294967296 byte file, which is over the receive "
                              "limit."
                           << QStringList();
    QTest::newRow("folder parts") << QList<QByteArray>{header(QStringLiteral("../../up.bin"), 4)} + rest << 0
                                  << "Transfer complete" << QStringList{QStringLiteral("up.bin")};
    QTest::newRow("time in 1970") << QList<QByteArray>{header(QStringLiteral("old.bin"), 4, 60)} + rest << 0
                                  << "Transfer complete" << QStringList{QStringLiteral("old.bin")};
    QTest::newRow("time in 2100") << QList<QByteArray>{header(QStringLiteral("new.bin"), 4, 4102444800)} + rest << 0
                                  << "Transfer complete" << QStringList{QStringLiteral("new.bin")};
    QTest::newRow("garbage between blocks")
        << QList<QByteArray>{header(QStringLiteral("g.bin"), 4), QByteArray("\x04zz\x18q\xff\x00", 7)} + rest << 0
        << "Transfer complete" << QStringList{QStringLiteral("g.bin")};
    QTest::newRow("device stops answering")
        << QList<QByteArray>{header(QStringLiteral("s.bin"), 300), frame(1, data)} << 11
        << "Transfer failed: Gave up after 10 retries. (42% transferred)" << QStringList{QStringLiteral("s.bin.partial")};
}

void tst_PortTransfer::hostileInput()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(int, silences);
    QFETCH(QString, summary);
    QFETCH(QStringList, files);
    make();
    QSignalSpy ended(m_transfer, &PortTransfer::transferEnded);
    XferOptions options;
    options.direction = XferOptions::Receive;
    options.receiveCap = qint64(100) << 20;
    QVERIFY(m_transfer->startTransfer(options, folder(), QStringLiteral("unused.bin")));
    for (const QByteArray &chunk : chunks)
        deliver(chunk);
    for (int i = 0; i < silences; ++i)
        expire();
    QCOMPARE(ended.size(), 1);
    QVERIFY2(m_transfer->lastOutcome().summary.startsWith(summary), qPrintable(m_transfer->lastOutcome().summary));
    QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), files);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void tst_PortTransfer::endings_data()
{
    QTest::addColumn<bool>("receive");
    QTest::addColumn<int>("trigger");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("abortSent");
    QTest::addColumn<bool>("kept");
    const QString closed = QStringLiteral("The connection was closed, so the transfer stopped. If this was a firmware "
                                          "update the device may be left with an incomplete image -- run the update again.");
    const QString lost = QString(closed).replace(QLatin1String("was closed"), QLatin1String("was lost"));
    const QString cancelled = QStringLiteral("The device cancelled the transfer.");
    QTest::newRow("receive, cancelled here") << true << int(CancelHere) << "Cancelled." << true << false;
    QTest::newRow("receive, device cancels") << true << int(DeviceCancels) << cancelled << false << true;
    QTest::newRow("receive, port closed") << true << int(PortClosed) << closed << true << true;
    QTest::newRow("receive, connection lost") << true << int(ConnectionLost) << lost << false << true;
    QTest::newRow("send, cancelled here")
        << false << int(CancelHere)
        << "Cancelled. The device may still have received up to one more block of data -- if this was a firmware "
           "update, run the whole update again."
        << true << false;
    QTest::newRow("send, device cancels") << false << int(DeviceCancels) << cancelled << false << false;
    QTest::newRow("send, port closed") << false << int(PortClosed) << closed << true << false;
}

void tst_PortTransfer::endings()
{
    QFETCH(bool, receive);
    QFETCH(int, trigger);
    QFETCH(QString, message);
    QFETCH(bool, abortSent);
    QFETCH(bool, kept);
    make();
    QSignalSpy ended(m_transfer, &PortTransfer::transferEnded);
    QSignalSpy view(m_session.get(), &PortSession::displayBatch);
    const QString source = m_dir.filePath(QStringLiteral("300.bin"));
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(300, 'x')) == 300);
    file.close();
    XferOptions options;
    options.protocol = XmodemCrc;
    options.direction = receive ? XferOptions::Receive : XferOptions::Send;
    QVERIFY(m_transfer->startTransfer(options, receive ? folder() : source, QStringLiteral("r.bin")));
    // One block across before the ending.
    if (receive) {
        deliver(frame(1, "data"));
    } else {
        deliver("C");
        deliver(QByteArray(1, XmodemCodec::Ack));
    }
    const qsizetype before = m_wire->written().size();
    switch (trigger) {
    case CancelHere: m_transfer->cancelTransfer(); break;
    case DeviceCancels: deliver(QByteArray(2, XmodemCodec::Can)); break;
    case PortClosed: m_session->close(); break;
    case ConnectionLost: m_wire->drop(); break;
    }
    settle();
    QCOMPARE(ended.size(), 1);
    const QString percent = receive ? QString() : QStringLiteral(" (42% transferred)");
    QCOMPARE(m_transfer->lastOutcome().summary, QStringLiteral("Transfer failed: ") + message + percent);
    QCOMPARE(m_wire->written().mid(before), abortSent ? XmodemCodec::abortSequence() : QByteArray());
    if (receive) {
        const QStringList files = kept ? QStringList{QStringLiteral("r.bin.partial")} : QStringList();
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), files);
        if (kept)
            QCOMPARE(m_transfer->lastOutcome().notes.last(),
                     QStringLiteral("What arrived was kept as \"%1\".").arg(QDir(folder()).filePath(QStringLiteral("r.bin.partial"))));
    }
    // The view shows the headline and the summary as notices.
    QString shown;
    for (const QList<QVariant> &batch : view)
        for (const ViewSegment &segment : batch.at(0).value<QList<ViewSegment>>())
            shown += segment.text;
    QVERIFY2(shown.contains(QStringLiteral("\n-- Transfer failed: ") + message), qPrintable(shown));
    QVERIFY(!m_session->lease()->transferHeld());
}

void tst_PortTransfer::serverClientIsTheOnlyPartner()
{
    make(TcpServer);
    const QString a = QStringLiteral("10.0.0.1:5"), b = QStringLiteral("10.0.0.2:6");
    m_wire->setPeers({a, b});
    m_session->selectPeer(b);
    QSignalSpy others(m_session.get(), &PortSession::received);
    XferOptions options;
    options.protocol = XmodemCrc;
    options.direction = XferOptions::Receive;
    QVERIFY(m_transfer->startTransfer(options, folder(), QStringLiteral("c.bin")));
    deliver("from a", a);
    deliver(frame(1, "for us"), b);
    QCOMPARE(others.size(), 1);
    QCOMPARE(others.first().at(1).toString(), a);
    for (const FakeTransport::Write &w : std::as_const(m_wire->writes))
        QCOMPARE(w.peer, b);
    emit m_wire->peerLost(a);
    QVERIFY(m_transfer->isActive());
    emit m_wire->peerLost(b);
    QVERIFY(!m_transfer->isActive());
    QVERIFY(m_transfer->lastOutcome().summary.contains(QLatin1String("The connection was lost")));
}

void tst_PortTransfer::portIsGuardedWhileRunning()
{
    make();
    QSignalSpy messages(m_session.get(), &PortSession::statusMessage);
    XferOptions options;
    options.direction = XferOptions::Receive;
    QVERIFY(m_transfer->startTransfer(options, folder(), QStringLiteral("g.bin")));
    QVERIFY(!m_session->send("typed"));
    QVERIFY(!m_session->pause());
    QCOMPARE(messages.at(0).at(0).toString(),
             QStringLiteral("A file transfer is using this port. Sending data now would corrupt it."));
    QVERIFY(!m_wire->written().contains("typed"));
    m_transfer->cancelTransfer();
    settle();
    QVERIFY(m_session->send("typed"));
}

QTEST_GUILESS_MAIN(tst_PortTransfer)
#include "tst_porttransfer.moc"
