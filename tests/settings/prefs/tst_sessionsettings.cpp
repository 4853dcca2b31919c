#include "connection/connectionmode.h"
#include "settings/sessionsettings.h"
#include "tests/settings/settingstest.h"

#include <QJsonDocument>
#include <QTest>

// The JSON session document: written and read back whole, and read through the
// preferences' own rules, so a foreign or damaged document cannot set what the
// preferences reader would refuse.
class tst_SessionSettings : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip()
    {
        LastSettings record = unusualRecord();
        record.displayFont.setFamily(QStringLiteral("%1,Fallback Mono").arg(preferredMonospaceFamily()));
        const QJsonObject written = sessionSettingsToJson(record, QStringLiteral("cid-1"), QStringLiteral("bench"), 2, true);
        const QJsonObject display = written.value(QStringLiteral("settings")).toObject().value(QStringLiteral("display")).toObject();
        QCOMPARE(display.value(QStringLiteral("font")).toObject().value(QStringLiteral("family")).toString(),
                 preferredMonospaceFamily());

        // Read into the defaults, every value of the document comes back.
        LastSettings read = LastSettings::builtInDefaults();
        int language = 0;
        QVERIFY(sessionSettingsFromJson(QJsonDocument::fromJson(QJsonDocument(written).toJson()).object(), read, &language));
        QCOMPARE(language, 2);
        QCOMPARE(sessionSettingsToJson(read, QStringLiteral("cid-1"), QStringLiteral("bench"), 2, true), written);
        QVERIFY(!sessionSettingsToJson(record, {}, {}, 0, false).value(QStringLiteral("settings")).toObject().contains(
            QStringLiteral("send_history")));
    }

    void readRules_data()
    {
        QTest::addColumn<QByteArray>("doc");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("field");    // what the record holds afterwards, as text
        QTest::addColumn<QString>("expected");

        const QByteArray head = R"({"schema":"qln.session-settings","version":1,"settings":)";
        auto doc = [&](const char *settings) { return head + settings + '}'; };
        const QString same; // null: the field keeps its value
        QTest::newRow("version 2") << QByteArray(R"({"schema":"qln.session-settings","version":2,"settings":{"connection":{"serial":{"baud_rate":115200}}}})")
                                   << false << "baud" << same;
        QTest::newRow("only schema and version") << QByteArray(R"({"schema":"qln.session-settings","version":1})") << true << "baud" << same;
        QTest::newRow("baud rate") << doc(R"({"connection":{"serial":{"baud_rate":115200}}})") << true << "baud" << "115200";
        QTest::newRow("baud rate 0") << doc(R"({"connection":{"serial":{"baud_rate":0}}})") << true << "baud" << same;
        QTest::newRow("9 data bits") << doc(R"({"connection":{"serial":{"data_bits":9}}})") << true << "data" << same;
        QTest::newRow("udp port 70000") << doc(R"({"connection":{"network":{"udp_local_port":70000}}})") << true << "udp" << same;
        QTest::newRow("unknown encoding") << doc(R"({"display":{"receive_encoding":"klingon"}})") << true << "encoding" << "UTF-8";
        QTest::newRow("hosts") << doc(R"({"connection":{"network":{"target_hosts":["a",2]}}})") << true << "hosts" << "[a,2]";
        QTest::newRow("empty history") << doc(R"({"send_history":[]})") << true << "history" << "[]";
    }

    void readRules()
    {
        QFETCH(QByteArray, doc);
        QFETCH(bool, accepted);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        auto text = [&](const LastSettings &s) {
            const auto list = [](const QStringList &l) { return QLatin1Char('[') + l.join(QLatin1Char(',')) + QLatin1Char(']'); };
            const QHash<QString, QString> fields{
                {QStringLiteral("baud"), QString::number(s.LastBaudrate)}, {QStringLiteral("data"), QString::number(s.LastDatabits)},
                {QStringLiteral("udp"), QString::number(s.LastUdpLocalPort)}, {QStringLiteral("encoding"), s.LastReceiveEncoding},
                {QStringLiteral("hosts"), list(s.LastTargetHosts)}, {QStringLiteral("history"), list(s.SendList)}};
            return fields.value(field);
        };
        const LastSettings before = unusualRecord();
        LastSettings record = before;
        QCOMPARE(sessionSettingsFromJson(QJsonDocument::fromJson(doc).object(), record), accepted);
        QCOMPARE(text(record), expected.isNull() ? text(before) : expected);
        if (!accepted)
            QCOMPARE(sessionSettingsToJson(record, {}, {}, 0, true), sessionSettingsToJson(before, {}, {}, 0, true));
    }

private:
    static LastSettings unusualRecord()
    {
        PreferenceSources window;
        window.firstPane = unusualPane(TcpClient, 3);
        window.sendHistory = window.firstPane.SendList;
        window.autoReconnect = true;
        window.openLastConnection = false;
        LastSettings record = collectPreferences(LastSettings::builtInDefaults(), window);
        record.LastUdpServerPort = 40404;
        return record;
    }
};

QTEST_MAIN(tst_SessionSettings)
#include "tst_sessionsettings.moc"
