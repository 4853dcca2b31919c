#include "cloud/networkservices.h"
#include "fakecloud.h"

#include <QSignalSpy>
#include <QTest>

// The REST client against a fake service that answers whatever a row asks for.
class tst_NetworkServices : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void replies_data();
    void replies();
    void requestShape();
    void connectionRefused();

private:
    std::unique_ptr<FakeCloud> m_cloud;
};

void tst_NetworkServices::init()
{
    m_cloud = std::make_unique<FakeCloud>();
    QVERIFY(m_cloud->isListening());
    qputenv("QLN_HOST", m_cloud->url().toUtf8());
}

void tst_NetworkServices::replies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    // "error", the name of the response signal, or "" for no signal at all.
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("message");

    const QString declined = QStringLiteral("The server declined the request. Please sign in again and retry.");
    QTest::newRow("401 with an html body") << 401 << QByteArray("<html>expired</html>") << "error" << declined;
    QTest::newRow("409 with a typed body") << 409
        << QByteArray(R"({"type":"sync","status":false,"code":"revision_conflict"})") << "syncResponse" << QString();
    QTest::newRow("404 untyped json") << 404 << QByteArray(R"({"status":false,"code":"not_found"})") << "error"
        << QStringLiteral("The server does not offer this feature yet. The service may be under maintenance or being "
                          "upgraded; please try again later or check for a newer version.");
    QTest::newRow("503 empty") << 503 << QByteArray() << "error"
        << QStringLiteral("The server encountered an internal error. Please try again later.");
    QTest::newRow("429 text") << 429 << QByteArray("slow down") << "error"
        << QStringLiteral("The server rejected the request (HTTP 429). Please try again later.");
    QTest::newRow("200 not json") << 200 << QByteArray("hello") << "error"
        << QStringLiteral("The server returned an unexpected response. Please try again later.");
    QTest::newRow("200 untyped json") << 200 << QByteArray(R"({"status":true})") << "" << QString();
    QTest::newRow("200 unknown type") << 200 << QByteArray(R"({"type":"weather"})") << "" << QString();
    QTest::newRow("type spelled loosely") << 200 << QByteArray(R"({"type":" Quota "})") << "cloudQuotaResponse"
                                          << QString();
    QTest::newRow("403 typed account") << 403
        << QByteArray(R"({"type":"account","status":false,"code":"too_many_devices"})") << "accountResponse" << QString();
}

void tst_NetworkServices::replies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);
    QFETCH(QString, message);
    m_cloud->setHandler([&](const FakeCloud::Request &) {
        return FakeCloud::Reply{status, status == 401 ? QByteArray("Unauthorized") : QByteArray("Whatever"), body};
    });
    NetworkServices network;
    QSignalSpy error(&network, &NetworkServices::networkError);
    std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> spies;
    spies.emplace_back(QStringLiteral("syncResponse"), std::make_unique<QSignalSpy>(&network, &NetworkServices::syncResponse));
    spies.emplace_back(QStringLiteral("accountResponse"),
                       std::make_unique<QSignalSpy>(&network, &NetworkServices::accountResponse));
    spies.emplace_back(QStringLiteral("cloudQuotaResponse"),
                       std::make_unique<QSignalSpy>(&network, &NetworkServices::cloudQuotaResponse));

    network.readSyncItems(QStringLiteral("token"), QStringLiteral("settings.session"));
    QTRY_COMPARE(network.pendingRequests(), 0);
    QTest::qWait(20); // a signal that should not come would come now

    QCOMPARE(error.size(), outcome == QLatin1String("error") ? 1 : 0);
    for (const auto &[name, spy] : spies) {
        QCOMPARE(spy->size(), name == outcome ? 1 : 0);
        if (name == outcome)
            QCOMPARE(spy->at(0).at(0).toJsonObject(), QJsonDocument::fromJson(body).object());
    }
    if (outcome == QLatin1String("error")) {
        QCOMPARE(error.at(0).at(0).toString(), QStringLiteral("sync"));
        QCOMPARE(error.at(0).at(1).toString(), message);
        const QString detail = error.at(0).at(2).toString();
        QVERIFY2(detail.startsWith(QStringLiteral("URL: %1/api/v3/sync/items").arg(m_cloud->url())), qPrintable(detail));
        if (status == 401)
            QVERIFY2(detail.contains(QLatin1String("\nHTTP status: 401 Unauthorized")), qPrintable(detail));
    }
}

void tst_NetworkServices::requestShape()
{
    // Spaces around QLN_HOST do not reach the URL; no token means no Authorization header.
    qputenv("QLN_HOST", "  " + m_cloud->url().toUtf8() + " \t");
    NetworkServices network;
    network.pollConsoleCommands(QString(), QStringLiteral("c1d"), 16);
    network.writeSyncItem(QStringLiteral("tøken"), QStringLiteral("settings.session"), QStringLiteral("default"), 3,
                          {{QStringLiteral("a"), 1}});
    QTRY_COMPARE(m_cloud->requests.size(), 2);

    // The two requests may arrive in either order.
    const bool getFirst = m_cloud->requests.at(0).method == "GET";
    const FakeCloud::Request &poll = m_cloud->requests.at(getFirst ? 0 : 1);
    QCOMPARE(poll.method, QByteArray("GET"));
    QCOMPARE(poll.target, QByteArray("/api/v3/console/commands/poll?cid=c1d&limit=16"));
    QVERIFY(!poll.headers.contains("authorization"));

    const FakeCloud::Request &put = m_cloud->requests.at(getFirst ? 1 : 0);
    QCOMPARE(put.method, QByteArray("PUT"));
    QCOMPARE(put.path(), QByteArray("/api/v3/sync/items/settings.session/default"));
    QCOMPARE(put.headers.value("authorization"), QStringLiteral("Bearer tøken").toUtf8());
    QCOMPARE(put.headers.value("content-type"), QByteArray("application/json"));
    QCOMPARE(put.json(), (QJsonObject{{QStringLiteral("base_revision"), 3},
                                      {QStringLiteral("payload"), QJsonObject{{QStringLiteral("a"), 1}}}}));
}

void tst_NetworkServices::connectionRefused()
{
    const QString url = m_cloud->url();
    m_cloud.reset(); // nobody listens there now
    NetworkServices network;
    QSignalSpy error(&network, &NetworkServices::networkError);
    network.login(QStringLiteral("a@example.com"), QStringLiteral("pw"), {}, {}, {});
    QTRY_COMPARE(error.size(), 1);
    QCOMPARE(error.at(0).at(0).toString(), QStringLiteral("account"));
    QCOMPARE(error.at(0).at(1).toString(),
             QStringLiteral("Could not connect to the server. Please check your network connection and try again."));
    QVERIFY(!error.at(0).at(2).toString().contains(QLatin1String("HTTP status")));
    QVERIFY(error.at(0).at(2).toString().startsWith(QStringLiteral("URL: ") + url));
}

QTEST_GUILESS_MAIN(tst_NetworkServices)
#include "tst_networkservices.moc"
