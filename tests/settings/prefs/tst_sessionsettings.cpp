#include "connection/connectionmode.h"
#include "settings/sessionsettings.h"
#include "tests/settings/settingstest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

// The JSON session document: written and read back whole, refused when foreign,
// read through the preferences' own rules, and merged for "Merge Lists".
class tst_SessionSettings : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip();
    void refused_data();
    void refused();
    void readRules_data();
    void readRules();
    void ports();
    void merge_data();
    void merge();

private:
    static LastSettings unusualRecord();
};

LastSettings tst_SessionSettings::unusualRecord()
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

static QJsonObject document(const QJsonObject &settings)
{
    return {{QStringLiteral("schema"), QStringLiteral("qln.session-settings")},
            {QStringLiteral("version"), 1},
            {QStringLiteral("settings"), settings}};
}

void tst_SessionSettings::roundTrip()
{
    LastSettings record = unusualRecord();
    record.displayFont.setFamily(QStringLiteral("%1,Fallback Mono").arg(preferredMonospaceFamily()));
    const QJsonObject written = sessionSettingsToJson(record, QStringLiteral("cid-1"), QStringLiteral("bench"), 2, true);
    const QJsonObject display = written.value(QStringLiteral("settings")).toObject().value(QStringLiteral("display")).toObject();
    QCOMPARE(display.value(QStringLiteral("font")).toObject().value(QStringLiteral("family")).toString(),
             preferredMonospaceFamily());
    QCOMPARE(display.value(QStringLiteral("receive_encoding")).toString(), QStringLiteral("GBK"));
    QCOMPARE(display.value(QStringLiteral("colors")).toObject().value(QStringLiteral("receive_text")).toString(),
             QStringLiteral("#fe0180"));
    QCOMPARE(written.value(QStringLiteral("updated_by")).toObject().value(QStringLiteral("cid")).toString(),
             QStringLiteral("cid-1"));

    // Read into the defaults, every value of the document comes back.
    LastSettings read = LastSettings::builtInDefaults();
    int language = 0;
    QVERIFY(sessionSettingsFromJson(QJsonDocument::fromJson(QJsonDocument(written).toJson()).object(), read, &language));
    QCOMPARE(language, 2);
    QCOMPARE(sessionSettingsToJson(read, QStringLiteral("cid-1"), QStringLiteral("bench"), 2, true), written);
    QCOMPARE(read.SendList, record.SendList);
    QCOMPARE(read.AutoReconnect, true);

    // Without the history flag the list stays home.
    const QJsonObject plain = sessionSettingsToJson(record, {}, {}, 0, false);
    QVERIFY(!plain.value(QStringLiteral("settings")).toObject().contains(QStringLiteral("send_history")));
}

void tst_SessionSettings::refused_data()
{
    QTest::addColumn<QJsonObject>("doc");
    QJsonObject v2 = document({});
    v2.insert(QStringLiteral("version"), 2);
    QJsonObject textVersion = document({});
    textVersion.insert(QStringLiteral("version"), QStringLiteral("1"));
    QJsonObject otherSchema = document({});
    otherSchema.insert(QStringLiteral("schema"), QStringLiteral("qln.session-settings.v2"));
    QJsonObject noVersion = document({});
    noVersion.remove(QStringLiteral("version"));
    QTest::newRow("version 2") << v2;
    QTest::newRow("version as text") << textVersion;
    QTest::newRow("another schema") << otherSchema;
    QTest::newRow("no version") << noVersion;
}

void tst_SessionSettings::refused()
{
    QFETCH(QJsonObject, doc);
    QJsonObject settings{{QStringLiteral("connection"), QJsonObject{{QStringLiteral("conn_mode"), 2}}}};
    doc.insert(QStringLiteral("settings"), settings);
    const LastSettings before = unusualRecord();
    LastSettings record = before;
    int language = 7;
    QVERIFY(!sessionSettingsFromJson(doc, record, &language));
    QCOMPARE(sessionSettingsToJson(record, {}, {}, 0, true), sessionSettingsToJson(before, {}, {}, 0, true));
    QCOMPARE(language, 7);
    QVERIFY(sessionPortsFromJson(doc, [](const QString &) { return FormatSetting(); }).isEmpty());
}

// A few fields by their preferences key, for the table below.
static QVariant field(const LastSettings &s, const QString &key)
{
    const QHash<QString, QVariant> fields{{QStringLiteral("LastBaudrate"), s.LastBaudrate},
                                          {QStringLiteral("LastDatabits"), s.LastDatabits},
                                          {QStringLiteral("LastParity"), s.LastParity},
                                          {QStringLiteral("LastConnMode"), s.LastConnMode},
                                          {QStringLiteral("LastPortName"), s.LastPortName},
                                          {QStringLiteral("LastUdpLocalPort"), int(s.LastUdpLocalPort)},
                                          {QStringLiteral("LastSendChecksum"), s.LastSendChecksum},
                                          {QStringLiteral("LastDisplayBufferSize"), s.LastDisplayBufferSize},
                                          {QStringLiteral("LastReceiveEncoding"), s.LastReceiveEncoding},
                                          {QStringLiteral("LastSendTextColor"), s.LastSendTextColor.name()},
                                          {QStringLiteral("LastTargetHosts"), s.LastTargetHosts},
                                          {QStringLiteral("SendList"), s.SendList},
                                          {QStringLiteral("LastRxAutoFeedLine"), s.LastRxAutoFeedLine}};
    return fields.value(key);
}

void tst_SessionSettings::readRules_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected"); // invalid: the field keeps its value

    const QVariant keeps;
    QTest::newRow("baud rate") << QByteArray(R"({"connection":{"serial":{"baud_rate":115200}}})") << "LastBaudrate" << QVariant(115200);
    QTest::newRow("baud rate 0") << QByteArray(R"({"connection":{"serial":{"baud_rate":0}}})") << "LastBaudrate" << keeps;
    QTest::newRow("9 data bits") << QByteArray(R"({"connection":{"serial":{"data_bits":9}}})") << "LastDatabits" << keeps;
    QTest::newRow("parity 1") << QByteArray(R"({"connection":{"serial":{"parity":1}}})") << "LastParity" << keeps;
    QTest::newRow("parity mark") << QByteArray(R"({"connection":{"serial":{"parity":5}}})") << "LastParity" << QVariant(5);
    QTest::newRow("mode 8") << QByteArray(R"({"connection":{"conn_mode":8}})") << "LastConnMode" << keeps;
    QTest::newRow("mode as bool") << QByteArray(R"({"connection":{"conn_mode":true}})") << "LastConnMode" << keeps;
    QTest::newRow("port name as object") << QByteArray(R"({"connection":{"port_name":{"a":1}}})") << "LastPortName" << keeps;
    QTest::newRow("udp port 70000") << QByteArray(R"({"connection":{"network":{"udp_local_port":70000}}})")
                                    << "LastUdpLocalPort" << keeps;
    QTest::newRow("checksum 6") << QByteArray(R"({"display":{"send_checksum":6}})") << "LastSendChecksum" << keeps;
    QTest::newRow("buffer 0") << QByteArray(R"({"display":{"display_buffer_size":0}})") << "LastDisplayBufferSize" << keeps;
    QTest::newRow("unknown encoding") << QByteArray(R"({"display":{"receive_encoding":"klingon"}})")
                                      << "LastReceiveEncoding" << QVariant(QStringLiteral("UTF-8"));
    QTest::newRow("encoding spelled loosely") << QByteArray(R"({"display":{"receive_encoding":"big-5"}})")
                                              << "LastReceiveEncoding" << QVariant(QStringLiteral("Big5"));
    QTest::newRow("bad colour") << QByteArray(R"({"display":{"colors":{"send_text":"#ggg"}}})") << "LastSendTextColor" << keeps;
    QTest::newRow("colour") << QByteArray(R"({"display":{"colors":{"send_text":"#0a0b0c"}}})") << "LastSendTextColor"
                            << QVariant(QStringLiteral("#0a0b0c"));
    QTest::newRow("flag as text") << QByteArray(R"({"display":{"rx_auto_feed_line":"yes"}})") << "LastRxAutoFeedLine" << keeps;
    QTest::newRow("display not an object") << QByteArray(R"({"display":[1,2]})") << "LastSendChecksum" << keeps;
    QTest::newRow("hosts as text") << QByteArray(R"({"connection":{"network":{"target_hosts":"a"}}})") << "LastTargetHosts" << keeps;
    QTest::newRow("hosts") << QByteArray(R"({"connection":{"network":{"target_hosts":["a",2]}}})") << "LastTargetHosts"
                           << QVariant(QStringList{QStringLiteral("a"), QStringLiteral("2")});
    QTest::newRow("no history") << QByteArray(R"({})") << "SendList" << keeps;
    QTest::newRow("empty history") << QByteArray(R"({"send_history":[]})") << "SendList" << QVariant(QStringList());
    QTest::newRow("history as object") << QByteArray(R"({"send_history":{"0":"x"}})") << "SendList" << keeps;
}

void tst_SessionSettings::readRules()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, key);
    QFETCH(QVariant, expected);
    const LastSettings before = unusualRecord();
    LastSettings record = before;
    QVERIFY(sessionSettingsFromJson(document(QJsonDocument::fromJson(settings).object()), record));
    QCOMPARE(field(record, key), expected.isValid() ? expected : field(before, key));
}

void tst_SessionSettings::ports()
{
    FormatSetting serial = unusualPane(SerialPort, 1);
    FormatSetting tcp = unusualPane(TcpClient, 2);
    tcp.SendList = {QStringLiteral("tcp only")};
    QJsonObject doc = sessionSettingsToJson(unusualRecord(), {}, {}, 0, true);
    addSessionPorts(doc, {{QStringLiteral("ser-0"), serial}, {QStringLiteral("tcpc-1"), tcp}}, true);

    // Fields the document does not carry come from the base of each port.
    FormatSetting base;
    base.AutoSend = true;
    base.LogFilePath = QStringLiteral("/base.log");
    const QList<SessionPort> read = sessionPortsFromJson(QJsonDocument::fromJson(QJsonDocument(doc).toJson()).object(),
                                                         [&](const QString &) { return base; });
    QCOMPARE(read.size(), 2);
    QCOMPARE(read.at(0).portKey, QStringLiteral("ser-0"));
    QCOMPARE(read.at(1).portKey, QStringLiteral("tcpc-1"));
    for (int i = 0; i < 2; ++i) {
        const FormatSetting &want = i == 0 ? serial : tcp;
        const FormatSetting &got = read.at(i).settings;
        QCOMPARE(got.ConnMode, want.ConnMode);
        QCOMPARE(got.PortName, want.PortName);
        QCOMPARE(got.BaudRate, want.BaudRate);
        QCOMPARE(got.StopBits, want.StopBits);
        QCOMPARE(got.LastTargetHost, want.LastTargetHost);
        QCOMPARE(got.SendEncoding, want.SendEncoding);
        QCOMPARE(got.SendList, want.SendList);
        QCOMPARE(got.SendTextColor, want.SendTextColor);
        QCOMPARE(got.AutoSend, true);
        QCOMPARE(got.LogFilePath, QStringLiteral("/base.log"));
    }
}

void tst_SessionSettings::merge_data()
{
    QTest::addColumn<QStringList>("localPorts");
    QTest::addColumn<QStringList>("cloudPorts");
    QTest::addColumn<QVariant>("localHistory"); // a QStringList, or invalid when absent
    QTest::addColumn<QVariant>("cloudHistory");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QVariant>("history");

    const QVariant none;
    auto list = [](const char *joined) { return QString::fromLatin1(joined).split(QLatin1Char(' '), Qt::SkipEmptyParts); };
    QTest::newRow("shared port stays local, cloud port added") << list("ser-0") << list("ser-0 tcpc-1") << none << none
                                                               << list("ser-0 tcpc-1") << none;
    QTest::newRow("histories local first without repeats") << list("ser-0") << list("ser-0")
        << QVariant(list("a b")) << QVariant(list("b c a d")) << list("ser-0") << QVariant(list("a b c d"));
    QTest::newRow("history only in the cloud") << list("ser-0") << list("") << none << QVariant(list("x"))
                                               << list("ser-0") << QVariant(list("x"));
    QStringList fifteen;
    for (int i = 0; i < 15; ++i)
        fifteen << QStringLiteral("ser-%1").arg(i);
    QTest::newRow("sixteen panes at most") << fifteen << list("tcps-20 ser-3 udps-21") << none << none
                                           << (fifteen + list("tcps-20")) << none;
}

void tst_SessionSettings::merge()
{
    QFETCH(QStringList, localPorts);
    QFETCH(QStringList, cloudPorts);
    QFETCH(QVariant, localHistory);
    QFETCH(QVariant, cloudHistory);
    QFETCH(QStringList, ports);
    QFETCH(QVariant, history);

    // Local ports run at 1000 baud, cloud ports at 2000; histories follow the same lists.
    auto side = [](const QStringList &keys, int baud, const QVariant &hist) {
        LastSettings record = LastSettings::builtInDefaults();
        record.LastTargetHosts = {QStringLiteral("h%1").arg(baud), QStringLiteral("shared")};
        record.SendList = hist.toStringList();
        QJsonObject doc = sessionSettingsToJson(record, {}, {}, 0, hist.isValid());
        QList<SessionPort> list;
        for (const QString &key : keys) {
            FormatSetting pane;
            pane.BaudRate = baud;
            pane.SendList = hist.toStringList();
            list.append({key, pane});
        }
        addSessionPorts(doc, list, hist.isValid());
        return doc;
    };
    const QJsonObject merged = mergeSessionDocuments(side(localPorts, 1000, localHistory),
                                                     side(cloudPorts, 2000, cloudHistory), 16);
    const QList<SessionPort> read = sessionPortsFromJson(merged, [](const QString &) { return FormatSetting(); });
    QStringList keys;
    for (const SessionPort &port : read) {
        keys << port.portKey;
        QCOMPARE(port.settings.BaudRate, localPorts.contains(port.portKey) ? 1000 : 2000);
        if (localPorts.contains(port.portKey) && cloudPorts.contains(port.portKey) && history.isValid())
            QCOMPARE(port.settings.SendList, history.toStringList());
    }
    QCOMPARE(keys, ports);
    LastSettings record = LastSettings::builtInDefaults();
    record.SendList = {QStringLiteral("untouched")};
    QVERIFY(sessionSettingsFromJson(merged, record));
    QCOMPARE(record.LastTargetHosts, (QStringList{QStringLiteral("h1000"), QStringLiteral("shared"), QStringLiteral("h2000")}));
    QCOMPARE(record.SendList, history.isValid() ? history.toStringList() : QStringList{QStringLiteral("untouched")});
}

QTEST_MAIN(tst_SessionSettings)
#include "tst_sessionsettings.moc"
