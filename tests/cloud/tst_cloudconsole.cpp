#include "cloud/accountsession.h"
#include "cloud/cloudconsoleservice.h"
#include "cloud/networkservices.h"
#include "cloud/refreshtokenstore.h"
#include "connection/connectionmode.h"
#include "fakecloud.h"
#include "tests/session/faketransport.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The console's side of the protocol: commands run on port sessions with fake
// transports, and every request goes to a fake service that records it.
class tst_CloudConsole : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void commands_data();
    void commands();
    void commandDeliveredTwiceRunsOnce();
    void watchingAndTraffic();
    void queueIsBounded();
    void quotaStopsTheConsole();

private:
    // A poll answer for this device carrying `commands`.
    QJsonObject pollAnswer(bool watching, const QJsonArray &commands = {}) const;
    QList<FakeCloud::Request> requestsTo(const QByteArray &pathPart) const;

    QTemporaryDir m_dir;
    std::unique_ptr<FakeCloud> m_cloud;
    std::unique_ptr<NetworkServices> m_network;
    std::unique_ptr<AccountSession> m_account;
    std::unique_ptr<CloudConsoleService> m_console;
    std::unique_ptr<PortSession> m_serial;
    std::unique_ptr<PortSession> m_tcp;
    FakeTransport *m_serialWire = nullptr;
    FakeTransport *m_tcpWire = nullptr;
};

void tst_CloudConsole::init()
{
    m_cloud = std::make_unique<FakeCloud>();
    qputenv("QLN_HOST", m_cloud->url().toUtf8());
    m_network = std::make_unique<NetworkServices>();
    m_account = std::make_unique<AccountSession>(m_network.get(),
                                                 SettingsLocation(m_dir.filePath(QStringLiteral("quillon.ini"))));
    m_account->tokenStore()->setSecretStoreEnabled(false);
    m_account->applyLogin({{QStringLiteral("status"), true},
                           {QStringLiteral("access_token"), QStringLiteral("access")},
                           {QStringLiteral("expires_in"), 900},
                           {QStringLiteral("user"), QJsonObject{{QStringLiteral("id"), 7}}}});
    FormatSetting serial;
    serial.ConnMode = SerialPort;
    m_serial = std::make_unique<PortSession>(serial, 0);
    m_serialWire = useFakeTransport(*m_serial);
    FormatSetting tcp;
    tcp.ConnMode = TcpClient;
    m_tcp = std::make_unique<PortSession>(tcp, 1);
    m_tcpWire = useFakeTransport(*m_tcp);
    m_console = std::make_unique<CloudConsoleService>(m_network.get(), m_account.get());
    m_console->setSessionsProvider([this] { return QList<PortSession *>{m_serial.get(), m_tcp.get()}; });
    m_console->setEnabled(true);
    QTRY_COMPARE(m_network->pendingRequests(), 0); // the first heartbeat and poll
    m_cloud->requests.clear();
}

void tst_CloudConsole::cleanup()
{
    m_console.reset();
    m_serial.reset();
    m_tcp.reset();
}

QJsonObject tst_CloudConsole::pollAnswer(bool watching, const QJsonArray &commands) const
{
    return {{QStringLiteral("type"), QStringLiteral("console")}, {QStringLiteral("status"), true},
            {QStringLiteral("cid"), m_console->deviceId()},     {QStringLiteral("watching"), watching},
            {QStringLiteral("session_id"), QStringLiteral("s1")}, {QStringLiteral("commands"), commands}};
}

QList<FakeCloud::Request> tst_CloudConsole::requestsTo(const QByteArray &pathPart) const
{
    QList<FakeCloud::Request> found;
    for (const FakeCloud::Request &r : m_cloud->requests) {
        if (r.path().contains(pathPart))
            found << r;
    }
    return found;
}

static QString lineText(const FormatSetting &s)
{
    return QStringLiteral("%1/%2/%3/%4/%5").arg(s.BaudRate).arg(s.DataBits).arg(s.Parity).arg(s.StopBits).arg(s.FlowControl);
}

void tst_CloudConsole::commands_data()
{
    QTest::addColumn<QString>("allowed"); // "send", "control", "both" or ""
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("transfer");
    QTest::addColumn<QJsonObject>("command");
    QTest::addColumn<QString>("code"); // empty: succeeded
    QTest::addColumn<QString>("message"); // the start of the result message
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("serialLine"); // baud/data/parity/stop/flow afterwards

    const QString unchanged = QStringLiteral("9600/8/0/1/0");
    auto cmd = [](const char *name, const char *port, QJsonObject payload = {}, const char *session = "s1") {
        return QJsonObject{{QStringLiteral("command_id"), QString::fromLatin1(name) + QStringLiteral("-1")},
                           {QStringLiteral("command"), QString::fromLatin1(name)},
                           {QStringLiteral("session_id"), QString::fromLatin1(session)},
                           {QStringLiteral("port_key"), QString::fromLatin1(port)},
                           {QStringLiteral("payload"), payload}};
    };
    auto text = [](const char *t, const char *ending) {
        return QJsonObject{{QStringLiteral("text"), QString::fromUtf8(t)}, {QStringLiteral("line_ending"), QString::fromLatin1(ending)}};
    };
    auto hex = [](const char *h) { return QJsonObject{{QStringLiteral("hex"), QString::fromLatin1(h)}}; };
    auto config = [](QJsonObject o) { return o; };

    QTest::newRow("text with crlf") << "send" << true << false << cmd("send_text", "ser-0", text("AT", "crlf"))
        << "" << "sent 4 bytes" << QByteArray("AT\r\n") << unchanged;
    QTest::newRow("text with unknown ending") << "send" << true << false << cmd("send_text", "tcpc-1", text("é", "nul"))
        << "" << "sent 2 bytes" << QByteArray("\xc3\xa9") << unchanged;
    QTest::newRow("text without permission") << "control" << true << false << cmd("send_text", "ser-0", text("AT", "cr"))
        << "permission_denied" << "remote send is disabled on the device" << QByteArray() << unchanged;
    QTest::newRow("empty text") << "send" << true << false << cmd("send_text", "ser-0", text("", "cr"))
        << "internal_error" << "empty payload" << QByteArray() << unchanged;
    QTest::newRow("text to a closed port") << "send" << false << false << cmd("send_text", "ser-0", text("AT", "lf"))
        << "port_closed" << "" << QByteArray() << unchanged;
    QTest::newRow("text during a transfer") << "send" << true << true << cmd("send_text", "ser-0", text("AT", "lf"))
        << "port_busy" << "" << QByteArray() << unchanged;
    QTest::newRow("hex") << "send" << true << false << cmd("send_hex", "ser-0", hex("01 0a\tFF"))
        << "" << "sent 3 bytes" << QByteArray("\x01\x0a\xff", 3) << unchanged;
    QTest::newRow("hex with a non-hex character") << "send" << true << false << cmd("send_hex", "ser-0", hex("01 0G 02"))
        << "internal_error" << "invalid hex" << QByteArray() << unchanged;
    QTest::newRow("hex with an odd digit") << "send" << true << false << cmd("send_hex", "ser-0", hex("01 2"))
        << "internal_error" << "invalid hex" << QByteArray() << unchanged;
    QTest::newRow("blank hex") << "send" << true << false << cmd("send_hex", "ser-0", hex("  "))
        << "internal_error" << "empty payload" << QByteArray() << unchanged;
    QTest::newRow("stale session") << "both" << true << false << cmd("send_text", "ser-0", text("AT", "cr"), "old")
        << "session_mismatch" << "" << QByteArray() << unchanged;
    QTest::newRow("snapshot of a stale session") << "both" << true << false << cmd("request_snapshot", "", {}, "old")
        << "session_mismatch" << "" << QByteArray() << unchanged;
    QTest::newRow("snapshot") << "" << true << false << cmd("request_snapshot", "") << "" << "snapshot sent"
                              << QByteArray() << unchanged;
    QTest::newRow("unknown port") << "both" << true << false << cmd("send_text", "ser-9", text("AT", "cr"))
        << "port_not_found" << "" << QByteArray() << unchanged;
    QTest::newRow("unknown command") << "both" << true << false << cmd("reboot", "ser-0")
        << "internal_error" << "unsupported command: reboot" << QByteArray() << unchanged;
    QTest::newRow("config applied") << "control" << false << false
        << cmd("set_port_config", "ser-0", config({{QStringLiteral("baud_rate"), 19200}, {QStringLiteral("data_bits"), 7},
                                                   {QStringLiteral("parity"), QStringLiteral("even")},
                                                   {QStringLiteral("stop_bits"), 1.5},
                                                   {QStringLiteral("flow_control"), QStringLiteral("rtscts")}}))
        << "" << "port settings applied: 19200 baud, 7 data bits, parity even, 1.5 stop bits, flow control rtscts"
        << QByteArray() << "19200/7/2/3/1";
    QTest::newRow("config keeps what it does not name") << "control" << true << false
        << cmd("set_port_config", "ser-0", config({{QStringLiteral("parity"), QStringLiteral("mark")}}))
        << "" << "port settings applied" << QByteArray() << "9600/8/5/1/0";
    QTest::newRow("config with an unknown parity") << "control" << true << false
        << cmd("set_port_config", "ser-0", config({{QStringLiteral("baud_rate"), 19200}, {QStringLiteral("parity"), QStringLiteral("sometimes")}}))
        << "invalid_payload" << "invalid value for parity" << QByteArray() << unchanged;
    QTest::newRow("config with 9 data bits") << "control" << true << false
        << cmd("set_port_config", "ser-0", config({{QStringLiteral("data_bits"), 9}}))
        << "invalid_payload" << "" << QByteArray() << unchanged;
    QTest::newRow("config with a fractional baud rate") << "control" << true << false
        << cmd("set_port_config", "ser-0", config({{QStringLiteral("baud_rate"), 9600.5}}))
        << "invalid_payload" << "invalid value for baud_rate" << QByteArray() << unchanged;
    QTest::newRow("config with 2.5 stop bits") << "control" << true << false
        << cmd("set_port_config", "ser-0", config({{QStringLiteral("stop_bits"), 2.5}}))
        << "invalid_payload" << "" << QByteArray() << unchanged;
    QTest::newRow("config on a network port") << "control" << true << false
        << cmd("set_port_config", "tcpc-1", config({{QStringLiteral("baud_rate"), 19200}}))
        << "not_serial" << "only a serial port has parameters" << QByteArray() << unchanged;
    QTest::newRow("config during a transfer") << "control" << true << true
        << cmd("set_port_config", "ser-0", config({{QStringLiteral("baud_rate"), 19200}}))
        << "port_busy" << "" << QByteArray() << unchanged;
    QTest::newRow("config without permission") << "send" << true << false
        << cmd("set_port_config", "ser-0", config({{QStringLiteral("baud_rate"), 19200}}))
        << "permission_denied" << "remote port control is disabled on the device" << QByteArray() << unchanged;
    QTest::newRow("close during a transfer") << "control" << true << true << cmd("close_port", "ser-0")
        << "port_busy" << "" << QByteArray() << unchanged;
}

void tst_CloudConsole::commands()
{
    QFETCH(QString, allowed);
    QFETCH(bool, open);
    QFETCH(bool, transfer);
    QFETCH(QJsonObject, command);
    QFETCH(QString, code);
    QFETCH(QString, message);
    QFETCH(QByteArray, written);
    QFETCH(QString, serialLine);

    m_console->setAllowRemoteSend(allowed == QLatin1String("send") || allowed == QLatin1String("both"));
    m_console->setAllowPortControl(allowed == QLatin1String("control") || allowed == QLatin1String("both"));
    if (open) {
        QVERIFY(m_serial->open());
        QVERIFY(m_tcp->open());
    }
    if (transfer)
        QVERIFY(m_serial->lease()->acquire(PortRequester::Transfer));

    m_console->onConsoleResponse(pollAnswer(false, {command}));
    QTRY_COMPARE(m_network->pendingRequests(), 0);

    const QString id = command.value(QStringLiteral("command_id")).toString();
    const QList<FakeCloud::Request> results = requestsTo("/result");
    QCOMPARE(results.size(), 1);
    QCOMPARE(results.at(0).path(), QStringLiteral("/api/v3/console/commands/%1/result").arg(id).toUtf8());
    const QJsonObject result = results.at(0).json();
    QCOMPARE(result.value(QStringLiteral("status")).toString(),
             code.isEmpty() ? QStringLiteral("succeeded") : QStringLiteral("failed"));
    QCOMPARE(result.value(QStringLiteral("error_code")).toString(), code);
    QVERIFY2(result.value(QStringLiteral("message")).toString().startsWith(message),
             qPrintable(result.value(QStringLiteral("message")).toString()));
    QCOMPARE(m_serialWire->written() + m_tcpWire->written(), written);
    QCOMPARE(lineText(m_serial->settings()), serialLine);
    // A snapshot goes out only for a command that got through every check.
    const bool snapshot = command.value(QStringLiteral("command")).toString() == QLatin1String("request_snapshot");
    QCOMPARE(requestsTo("/ports/snapshot").size(), snapshot && code.isEmpty() ? 1 : 0);
}

void tst_CloudConsole::commandDeliveredTwiceRunsOnce()
{
    m_console->setAllowRemoteSend(true);
    QVERIFY(m_serial->open());
    const QJsonObject command{{QStringLiteral("command_id"), QStringLiteral("c-42")},
                              {QStringLiteral("command"), QStringLiteral("send_text")},
                              {QStringLiteral("session_id"), QStringLiteral("s1")},
                              {QStringLiteral("port_key"), QStringLiteral("ser-0")},
                              {QStringLiteral("payload"), QJsonObject{{QStringLiteral("text"), QStringLiteral("once")}}}};
    m_console->onConsoleResponse(pollAnswer(false, {command}));
    m_console->onConsoleResponse(pollAnswer(false, {command}));
    QTRY_COMPARE(m_network->pendingRequests(), 0);
    QCOMPARE(m_serialWire->written(), QByteArray("once"));
    // The second delivery means the first result was lost: it is answered again.
    const QList<FakeCloud::Request> results = requestsTo("/commands/c-42/result");
    QCOMPARE(results.size(), 2);
    QCOMPARE(results.at(1).json(), results.at(0).json());
}

void tst_CloudConsole::watchingAndTraffic()
{
    QSignalSpy watching(m_console.get(), &CloudConsoleService::watchingChanged);
    QVERIFY(m_serial->open());
    QJsonObject stranger = pollAnswer(true);
    stranger.insert(QStringLiteral("cid"), QStringLiteral("00000000-0000-0000-0000-000000000000"));
    m_console->onConsoleResponse(stranger);
    QVERIFY(!m_console->isWatching());

    m_console->onConsoleResponse(pollAnswer(true));
    QCOMPARE(watching.size(), 1);
    QVERIFY(m_serial->isConsoleWatched() && m_tcp->isConsoleWatched());
    QCOMPARE(m_console->pollInterval(), CloudConsoleService::PollBackoffMs[0]);

    m_serialWire->feed("hello\n");
    m_console->onUploadTick();
    QTRY_COMPARE(m_network->pendingRequests(), 0);
    const QList<FakeCloud::Request> snapshots = requestsTo("/ports/snapshot");
    QCOMPARE(snapshots.size(), 1);
    const QJsonArray ports = snapshots.at(0).json().value(QStringLiteral("ports")).toArray();
    QCOMPARE(ports.size(), 2);
    QCOMPARE(ports.at(0).toObject().value(QStringLiteral("port_key")).toString(), QStringLiteral("ser-0"));
    QCOMPARE(ports.at(0).toObject().value(QStringLiteral("is_open")).toBool(), true);
    QVERIFY(ports.at(0).toObject().value(QStringLiteral("capabilities")).toArray().contains(QStringLiteral("set_port_config")));
    QVERIFY(!ports.at(1).toObject().value(QStringLiteral("capabilities")).toArray().contains(QStringLiteral("set_port_config")));
    const QList<FakeCloud::Request> uploads = requestsTo("/console/events");
    QCOMPARE(uploads.size(), 1);
    const QJsonObject event = uploads.at(0).json().value(QStringLiteral("events")).toArray().at(0).toObject();
    QCOMPARE(event.value(QStringLiteral("port_key")).toString(), QStringLiteral("ser-0"));
    QCOMPARE(event.value(QStringLiteral("event_type")).toString(), QStringLiteral("rx"));
    QCOMPARE(event.value(QStringLiteral("payload_text")).toString(), QStringLiteral("hello\n"));

    // One poll without a watcher is forgiven, the second ends watching.
    m_console->onConsoleResponse(pollAnswer(false));
    QVERIFY(m_console->isWatching());
    m_console->onConsoleResponse(pollAnswer(true));
    m_console->onConsoleResponse(pollAnswer(false));
    QVERIFY(m_console->isWatching());
    m_console->onConsoleResponse(pollAnswer(false));
    QVERIFY(!m_console->isWatching());
    QCOMPARE(watching.size(), 2);
    QVERIFY(!m_serial->isConsoleWatched() && !m_tcp->isConsoleWatched());
}

void tst_CloudConsole::queueIsBounded()
{
    ConsoleEventQueue queue(8, 100);
    for (int i = 0; i < 30; ++i)
        queue.push(i % 2 ? QStringLiteral("ser-0") : QStringLiteral("tcpc-1"), QStringLiteral("rx"),
                   QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0')), QString());
    QVERIFY(queue.size() <= 8);
    QVERIFY(queue.queuedBytes() <= 100 + 2 * ConsoleEventQueue::markerText(1000).size());
    const QList<ConsoleEventQueue::Event> batch = queue.takeBatch();
    // Markers first, one per port, together standing for every dropped byte; the
    // newest events are kept in order.
    qint64 skipped = 0;
    int markers = 0;
    while (markers < batch.size() && batch.at(markers).skippedBytes > 0) {
        QCOMPARE(batch.at(markers).text, ConsoleEventQueue::markerText(batch.at(markers).skippedBytes));
        skipped += batch.at(markers++).skippedBytes;
    }
    QCOMPARE(markers, 2);
    QCOMPARE(skipped, queue.droppedBytes());
    QCOMPARE(skipped + 10 * qint64(batch.size() - markers), qint64(300));
    QCOMPARE(batch.last().text, QStringLiteral("0000000029"));
    QVERIFY(queue.isEmpty());

    // A batch stops before 64 events or 8192 bytes, but one big event still goes alone.
    ConsoleEventQueue big;
    for (int i = 0; i < 70; ++i)
        big.push(QStringLiteral("ser-0"), QStringLiteral("tx"), QStringLiteral("x"), QString());
    big.push(QStringLiteral("ser-0"), QStringLiteral("tx"), QString(9000, QLatin1Char('y')), QString());
    QCOMPARE(big.takeBatch().size(), ConsoleEventQueue::MaxBatchEvents);
    QCOMPARE(big.takeBatch().size(), 6);
    QCOMPARE(big.takeBatch().size(), 1);
}

void tst_CloudConsole::quotaStopsTheConsole()
{
    QSignalSpy stopped(m_console.get(), &CloudConsoleService::stoppedItself);
    m_console->onConsoleResponse(pollAnswer(true));
    m_account->setUploadRemaining(3, true);
    QVERIFY(m_serial->open());
    m_serialWire->feed("more than three\n");
    m_console->onUploadTick();
    QCOMPARE(stopped.size(), 1);
    QCOMPARE(stopped.at(0).at(0).toString(),
             QStringLiteral("Cloud Console stopped: monthly traffic quota used up. Please top up to continue."));
    QVERIFY(!m_console->isEnabled() && !m_console->isWatching());
    QVERIFY(!m_serial->isConsoleWatched());
    QTRY_COMPARE(m_network->pendingRequests(), 0);
    QVERIFY(requestsTo("/console/events").isEmpty());
}

QTEST_GUILESS_MAIN(tst_CloudConsole)
#include "tst_cloudconsole.moc"
