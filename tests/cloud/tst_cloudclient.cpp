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

// The REST client and the console's commands against a fake service that answers
// what a row asks for and records every request; ports have fake transports.
class tst_CloudClient : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_cloud = std::make_unique<FakeCloud>();
        qputenv("QLN_HOST", "  " + m_cloud->url().toUtf8() + " \t"); // the spaces never reach a URL
        m_network = std::make_unique<NetworkServices>();
    }

    void restClient()
    {
        // A 401 whose body is not JSON is an error with the status line in the detail.
        m_cloud->handler = [](const FakeCloud::Request &) { return FakeCloud::Reply{401, "Unauthorized", "<html>expired</html>"}; };
        QSignalSpy error(m_network.get(), &NetworkServices::networkError);
        QSignalSpy sync(m_network.get(), &NetworkServices::syncResponse);
        m_network->readSyncItems(QString(), QStringLiteral("settings.session"));
        QTRY_COMPARE(error.size(), 1);
        QCOMPARE(error.at(0).at(0).toString() + QLatin1Char('|') + error.at(0).at(1).toString(),
                 QStringLiteral("sync|The server declined the request. Please sign in again and retry."));
        QCOMPARE(error.at(0).at(2).toString().section(QLatin1Char('\n'), 0, 1),
                 QStringLiteral("URL: %1/api/v3/sync/items?namespace=settings.session\nHTTP status: 401 Unauthorized").arg(m_cloud->url()));
        QVERIFY(!m_cloud->requests.at(0).headers.contains("authorization")); // no token, no header

        // A 409 with a typed body is an answer, not an error.
        m_cloud->handler = [](const FakeCloud::Request &) {
            return FakeCloud::Reply{409, "Conflict", R"({"type":" Sync","code":"revision_conflict"})"};
        };
        m_network->writeSyncItem(QStringLiteral("tøken"), QStringLiteral("settings.session"), QStringLiteral("default"), 3, {});
        QTRY_COMPARE(sync.size(), 1);
        QCOMPARE(error.size(), 1);
        const FakeCloud::Request &put = m_cloud->requests.at(1);
        QCOMPARE(put.method + ' ' + put.target, QByteArray("PUT /api/v3/sync/items/settings.session/default"));
        QCOMPARE(put.headers.value("authorization"), QStringLiteral("Bearer tøken").toUtf8());
        QCOMPARE(put.json().value(QStringLiteral("base_revision")).toInt(), 3);
    }

    void commands_data()
    {
        QTest::addColumn<QString>("allowed");    // "send", "control" or "both"
        QTest::addColumn<bool>("transfer");      // the serial port is lent to a file transfer
        QTest::addColumn<QByteArray>("command"); // session "s1" is the current one
        QTest::addColumn<QString>("result");     // error code and the start of the message
        QTest::addColumn<QByteArray>("written"); // to the serial port
        QTest::addColumn<QString>("line");       // the serial port's baud/data/parity/stop/flow afterwards

        const QString same = QStringLiteral("9600/8/0/1/0");
        QTest::newRow("text with crlf") << "send" << false << QByteArray(R"("send_text","session_id":"s1","port_key":"ser-0",
            "payload":{"text":"AT","line_ending":"crlf"})") << "|sent 4 bytes" << QByteArray("AT\r\n") << same;
        QTest::newRow("text without permission") << "control" << false << QByteArray(R"("send_text","session_id":"s1",
            "port_key":"ser-0","payload":{"text":"AT"})") << "permission_denied|remote send is disabled on the device" << QByteArray() << same;
        QTest::newRow("text during a transfer") << "send" << true << QByteArray(R"("send_text","session_id":"s1",
            "port_key":"ser-0","payload":{"text":"AT"})") << "port_busy|" << QByteArray() << same;
        QTest::newRow("hex") << "send" << false << QByteArray(R"("send_hex","session_id":"s1","port_key":"ser-0",
            "payload":{"hex":"01 0a\tFF"})") << "|sent 3 bytes" << QByteArray("\x01\x0a\xff", 3) << same;
        QTest::newRow("hex with a non-hex character") << "send" << false << QByteArray(R"("send_hex","session_id":"s1",
            "port_key":"ser-0","payload":{"hex":"01 0G 02"})") << "internal_error|invalid hex" << QByteArray() << same;
        QTest::newRow("snapshot of a stale session") << "both" << false << QByteArray(R"("request_snapshot","session_id":"old")")
            << "session_mismatch|" << QByteArray() << same;
        QTest::newRow("config applied") << "control" << false << QByteArray(R"("set_port_config","session_id":"s1",
            "port_key":"ser-0","payload":{"baud_rate":19200,"data_bits":7,"parity":"even","stop_bits":1.5,"flow_control":"rtscts"})")
            << "|port settings applied: 19200 baud, 7 data bits, parity even, 1.5 stop bits, flow control rtscts"
            << QByteArray() << "19200/7/2/3/1";
        QTest::newRow("config with an unknown parity") << "control" << false << QByteArray(R"("set_port_config",
            "session_id":"s1","port_key":"ser-0","payload":{"baud_rate":19200,"parity":"sometimes"})")
            << "invalid_payload|invalid value for parity" << QByteArray() << same;
    }

    void commands()
    {
        QFETCH(QString, allowed);
        QFETCH(bool, transfer);
        QFETCH(QByteArray, command);
        QFETCH(QString, result);
        QFETCH(QByteArray, written);
        QFETCH(QString, line);

        AccountSession account(m_network.get(), SettingsLocation(m_dir.filePath(QStringLiteral("quillon.ini"))));
        account.tokenStore()->setSecretStoreEnabled(false);
        account.applyLogin({{QStringLiteral("access_token"), QStringLiteral("access")}, {QStringLiteral("expires_in"), 900}});
        FormatSetting settings;
        PortSession serial(settings, 0);
        FakeTransport *wire = useFakeTransport(serial);
        settings.ConnMode = TcpClient;
        PortSession tcp(settings, 1);
        useFakeTransport(tcp);
        QVERIFY(serial.open() && tcp.open());
        QVERIFY(!transfer || serial.lease()->acquire(PortRequester::Transfer));
        CloudConsoleService console(m_network.get(), &account);
        console.setSessionsProvider([&] { return QList<PortSession *>{&serial, &tcp}; });
        console.setAllowRemoteSend(allowed != QLatin1String("control"));
        console.setAllowPortControl(allowed != QLatin1String("send"));
        console.setEnabled(true);
        QTRY_COMPARE(m_network->pendingRequests(), 0);
        m_cloud->requests.clear();

        const QJsonObject object = QJsonDocument::fromJson(R"({"command_id":"c-7","command":)" + command + '}').object();
        console.onConsoleResponse({{QStringLiteral("cid"), console.deviceId()},
                                   {QStringLiteral("session_id"), QStringLiteral("s1")},
                                   {QStringLiteral("commands"), QJsonArray{object}}});
        QTRY_COMPARE(m_network->pendingRequests(), 0);
        // One request: the result; a refused snapshot request sends no snapshot.
        QCOMPARE(m_cloud->requests.size(), 1);
        QCOMPARE(m_cloud->requests.at(0).target, QByteArray("/api/v3/console/commands/c-7/result"));
        const QJsonObject answer = m_cloud->requests.at(0).json();
        const QString code = answer.value(QStringLiteral("error_code")).toString();
        QCOMPARE(answer.value(QStringLiteral("status")).toString(), code.isEmpty() ? QStringLiteral("succeeded") : QStringLiteral("failed"));
        QCOMPARE((code + QLatin1Char('|') + answer.value(QStringLiteral("message")).toString()).left(result.size()), result);
        QCOMPARE(wire->written(), written);
        const FormatSetting &s = serial.settings();
        QCOMPARE(QStringLiteral("%1/%2/%3/%4/%5").arg(s.BaudRate).arg(s.DataBits).arg(s.Parity).arg(s.StopBits).arg(s.FlowControl), line);
    }

    void queueIsBounded()
    {
        // 30 events of 10 bytes into room for 8 events or 100 bytes: the newest stay, and
        // one marker per port at the front stands for every byte dropped.
        ConsoleEventQueue queue(8, 100);
        for (int i = 0; i < 30; ++i)
            queue.push(i % 2 ? QStringLiteral("ser-0") : QStringLiteral("tcpc-1"), QStringLiteral("rx"),
                       QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0')), QString());
        QVERIFY(queue.size() <= 8);
        const QList<ConsoleEventQueue::Event> batch = queue.takeBatch();
        QCOMPARE(batch.at(0).skippedBytes + batch.at(1).skippedBytes, queue.droppedBytes());
        QCOMPARE(batch.at(0).text, ConsoleEventQueue::markerText(batch.at(0).skippedBytes));
        QCOMPARE(queue.droppedBytes() + 10 * qint64(batch.size() - 2), qint64(300));
        QCOMPARE(batch.last().text, QStringLiteral("0000000029"));
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakeCloud> m_cloud;
    std::unique_ptr<NetworkServices> m_network;
};

QTEST_GUILESS_MAIN(tst_CloudClient)
#include "tst_cloudclient.moc"
