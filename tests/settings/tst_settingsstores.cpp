#include "connection/connectionmode.h"
#include "settings/lastsettings.h"
#include "settings/settingsdocument.h"
#include "settings/sessionsettings.h"
#include "tests/settings/settingstest.h"
#include "tests/support/bytes.h"

#include <QFile>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The settings documents, the application preferences in their store, and the JSON
// session document that carries them to the cloud.
class tst_SettingsStores : public QObject
{
    Q_OBJECT
private slots:
    // Settings documents: every field of every pane through one save and open.
    void documentRoundTrip()
    {
        SettingsDocument doc;
        doc.PortNumber = 3;
        doc.ColumnNumber = 2;
        doc.QuickView = false;
        doc.quickSettings.showReceive = false;
        doc.quickSettings.groupOrder = {QStringLiteral("send"), QStringLiteral("connection"), QStringLiteral("receive")};
        doc.quickSettings.fieldOrder.insert(QStringLiteral("connection"), {QStringLiteral("parity"), QStringLiteral("baudRate")});
        doc.quickSettings.hiddenFields.insert(QStringLiteral("controlLines"), {QStringLiteral("dtr")});
        doc.panes = {unusualPane(7, 1), unusualPane(5, 2), FormatSetting::builtInDefaults()};

        const QString path = m_dir.filePath(QStringLiteral("roundtrip.qln"));
        QList<int> progress;
        QVERIFY(writeFile(path, doc, [&](int p) { progress << p; }));
        QCOMPARE(progress.first(), 0);
        QCOMPARE(progress.last(), 100);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));

        SettingsDocument back;
        QVERIFY(readSettingFile(path, back));
        QCOMPARE((QList<int>{back.PortNumber, back.ColumnNumber, back.QuickView}), (QList<int>{3, 2, false}));
        QCOMPARE(back.quickSettings, doc.quickSettings);
        QCOMPARE(back.panes.size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(back.panes.at(i).sameStoredValues(doc.panes.at(i)), qPrintable(QStringLiteral("pane %1").arg(i)));
        // The comparison is not blind: two different panes differ.
        QVERIFY(!back.panes.at(0).sameStoredValues(back.panes.at(1)));

        // Saving fewer panes over the same file leaves no stale pane sections behind.
        doc.PortNumber = 1;
        doc.panes.resize(1);
        QVERIFY(writeFile(path, doc));
        QCOMPARE(QSettings(path, QSettings::IniFormat).childGroups(),
                 (QStringList{QStringLiteral("0"), QStringLiteral("QuickSettings")}));

        // A missing file or a folder is no document and leaves the one in hand alone.
        QVERIFY(!readSettingFile(m_dir.filePath(QStringLiteral("nope.qln")), back));
        QVERIFY(!readSettingFile(m_dir.path(), back));
        QCOMPARE(back.PortNumber, 3);
    }

    void documentHostile_data()
    {
        // `key` names what the document reads as, in the keys of the document written
        // back from it; an empty key checks only that a usable document came out.
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QByteArray one = "[General]\nPortNumber=1\n[0]\n";
        const QString buffer = QStringLiteral("0/DisplayBufferSize");
        QTest::newRow("no buffer size takes the default") << one << buffer << "10485760";
        QTest::newRow("buffer size 0") << one + "DisplayBufferSize=0" << buffer << "10485760";
        QTest::newRow("buffer size negative") << one + "DisplayBufferSize=-1" << buffer << "10485760";
        QTest::newRow("baud rate text") << one + "BaudRate=fast" << "0/BaudRate" << "0";
        QTest::newRow("mode 9 is serial") << one + "ConnMode=9" << "0/ConnMode" << "0";
        QTest::newRow("udp local port too big") << one + "UdpLocalPort=70000" << "0/UdpLocalPort" << "60001";
        QTest::newRow("host history split") << one + "LastTargetHost=a-||--||-b" << "0/LastTargetHost" << "a-||--||-b";
        QTest::newRow("blank tx stamp") << one + "TxTimeFormat=\"   \"" << "0/TxTimeFormat"
                                        << FormatSetting::defaultTxTimeFormat();
        QTest::newRow("unknown encoding") << one + "SendEncoding=nonsense" << "0/SendEncoding" << "UTF-8";
        QTest::newRow("font size absurd") << one + "LogFontSize=100000" << "0/LogFontSize" << "12";
        QTest::newRow("no panes") << QByteArray("[General]\nPortNumber=0\nColumnNumber=0") << "PortNumber" << "1";
        QTest::newRow("forty panes") << QByteArray("[General]\nPortNumber=40\nColumnNumber=99") << "ColumnNumber" << "16";
        QTest::newRow("two panes hide quick settings") << QByteArray("[General]\nPortNumber=2") << "QuickView" << "false";

        SettingsDocument two;
        two.PortNumber = 2;
        two.panes = {unusualPane(2, 1), unusualPane(7, 2)};
        QFile f(m_dir.filePath(QStringLiteral("full.qln")));
        if (!writeFile(f.fileName(), two) || !f.open(QIODevice::ReadOnly))
            qFatal("cannot write the full document");
        const QByteArray full = f.readAll();
        QTest::newRow("truncated mid-line") << full.left(full.size() * 2 / 3) << "" << "";
        QTest::newRow("truncated in a section header") << full.left(full.indexOf('[', 10) + 2) << "" << "";
        QTest::newRow("random bytes") << randomBytes(4096, 1234) << "" << "";
        QTest::newRow("nul bytes") << QByteArray(1000, '\0') << "" << "";
        QTest::newRow("absurd values") << QByteArray("[General]\nPortNumber=16\n[3]\nBaudRate=99999999999\n"
                                                     "DataBits=-8\nLogFontSize=-5\nLogFontWeight=999999\n"
                                                     "LastTargetHost=\nSendList=@Invalid()\n"
                                                     "LogRotateTime=@Variant(\\0\\0\\0)\n")
                                       << "3/LogFontSize" << "12";
    }

    void documentHostile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        SettingsDocument doc;
        QVERIFY(readSettingFile(writeTextFile(m_dir.filePath(QStringLiteral("hostile.qln")), content), doc));
        QVERIFY(doc.PortNumber >= 1 && doc.PortNumber <= 16);
        QVERIFY(doc.ColumnNumber >= 1 && doc.ColumnNumber <= 16);
        QCOMPARE(doc.panes.size(), doc.PortNumber);
        for (const FormatSetting &s : std::as_const(doc.panes)) {
            QVERIFY(s.ConnMode >= 0 && s.ConnMode <= 7);
            QVERIFY(s.BaudRate >= 0);
            QVERIFY(s.DisplayBufferSize >= 1);
            QVERIFY(!s.LastTargetHost.isEmpty());
            QVERIFY(s.displayFont.pointSize() >= 1);
        }
        if (key.isEmpty())
            return;
        const QString path = m_dir.filePath(QStringLiteral("written.qln"));
        QVERIFY(writeFile(path, doc));
        QCOMPARE(storedText(QSettings(path, QSettings::IniFormat), key), expected);
    }

    // Preferences: what the first pane and the window hold, through one write and read.
    void preferencesSurviveARestart()
    {
        // The preferences keep the font's family and size only, and none of the
        // auto-send, comment and remote-serial choices: those stay at the defaults.
        const FormatSetting base = FormatSetting::builtInDefaults();
        FormatSetting pane = unusualPane(5);
        pane.displayFont.setWeight(base.displayFont.weight());
        pane.AutoSend = base.AutoSend;
        pane.SendInterval = base.SendInterval;
        pane.SendTimeUnit = base.SendTimeUnit;
        pane.SupportComment = base.SupportComment;
        pane.FormatSend = base.FormatSend;
        pane.UseRemoteSerialConfig = base.UseRemoteSerialConfig;

        PreferenceSources window;
        window.firstPane = pane;
        window.sendHistory = pane.SendList;
        window.quickSettings.showSend = false;
        window.quickSettings.groupOrder = {QStringLiteral("send"), QStringLiteral("receive"), QStringLiteral("connection")};
        window.quickSettings.hiddenFields.insert(QStringLiteral("controlLines"), {QStringLiteral("ri")});
        window.recentFiles = {QStringLiteral("/tmp/one.qln"), QStringLiteral("/tmp/b,c.qln")};
        window.currentFile = QStringLiteral("/tmp/one.qln");
        window.lastLogFile = QStringLiteral("/tmp/last.log");
        window.lastDirectory = QStringLiteral("/tmp/docs");
        window.openLastConnection = false;
        window.lastConnectionOpen = true;
        window.autoReconnect = true;
        // What the window does not hold comes from the previous record.
        LastSettings previous = LastSettings::builtInDefaults();
        previous.LastUdpServerPort = 1234;
        previous.LastLogFileName = QStringLiteral("rig_");

        // Keys of other parts of the program in the same store stay.
        auto settings = store("[General]\nValueL=1\n[Bridge]\nCount=2\n");
        writePreferences(*settings, collectPreferences(previous, window));
        settings->sync();
        QSettings reopened(settings->fileName(), QSettings::IniFormat);
        const LastSettings prefs = readPreferences(reopened);
        QCOMPARE(reopened.value(QStringLiteral("ValueL")).toInt() + reopened.value(QStringLiteral("Bridge/Count")).toInt(), 3);

        QVERIFY(paneSettingsFrom(prefs, base).sameStoredValues(pane));
        QCOMPARE(prefs.LastTargetHost, pane.LastTargetHost.first());
        QCOMPARE(prefs.LastTargetHosts, pane.LastTargetHost);
        QCOMPARE(quickSettingsFrom(prefs), window.quickSettings);
        QCOMPARE(prefs.RecentFiles, window.recentFiles);
        QCOMPARE((QStringList{prefs.LastFile, prefs.LastLogFile, prefs.LastDirectory, prefs.LastLogFileName}),
                 (QStringList{window.currentFile, window.lastLogFile, window.lastDirectory, previous.LastLogFileName}));
        QCOMPARE((QList<bool>{prefs.OpenLastConnection, prefs.LastConnectionOpen, prefs.AutoReconnect}),
                 (QList<bool>{false, true, true}));
        QCOMPARE(prefs.LastUdpServerPort, quint16(1234));
    }

    void preferencesSeedAPane()
    {
        // An empty store at the first start seeds the same pane as a new one.
        const FormatSetting newPane = FormatSetting::builtInDefaults();
        LastSettings prefs = readPreferences(*store());
        QVERIFY(paneSettingsFrom(prefs, newPane).sameStoredValues(newPane));

        // The current host leads the pane's host history, which is never empty.
        const QString a = QStringLiteral("a.local"), b = QStringLiteral("10.0.0.2"), c = QStringLiteral("c");
        const auto hosts = [&](const QString &current, const QStringList &history) {
            prefs.LastTargetHost = current;
            prefs.LastTargetHosts = history;
            return paneSettingsFrom(prefs).LastTargetHost;
        };
        QCOMPARE(hosts(b, {a, b, c}), (QStringList{b, a, c}));
        QCOMPARE(hosts(c, {a}), (QStringList{c, a}));
        QCOMPARE(hosts(QString(), {}), QStringList{QString()});
    }

    void preferencesStoredValues_data()
    {
        // Stored lines and what the preferences read the last one as, seen in the key
        // they write back: values out of range, unparsable or blank take the default.
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("expected");
        QTest::newRow("conn mode above 7") << QByteArray("LastConnMode=9") << "0";
        QTest::newRow("binary junk") << QByteArray("LastBaudrate=@Variant(\\0\\0\\0\\x7f\\0\\0)") << "9600";
        QTest::newRow("parity 1 is no module value") << QByteArray("LastParity=1") << "0";
        QTest::newRow("dtr yes") << QByteArray("LastDtrOn=yes") << "true";
        QTest::newRow("unknown encoding") << QByteArray("LastReceiveEncoding=Klingon") << "UTF-8";
        QTest::newRow("buffer zero") << QByteArray("LastDisplayBufferSize=0") << "10485760";
        QTest::newRow("font size huge") << QByteArray("LastDisplayFontSize=5000") << "12";
        QTest::newRow("font family missing") << QByteArray("LastDisplayFontFamily=No Such Font 123")
            << preferredMonospaceFamily();
        QTest::newRow("colour word") << QByteArray("LastSendTextColor=bluish") << "#000000";
        QTest::newRow("rotate time 25h") << QByteArray("LastLogRotateTime=25:99:00") << "00:00:00.000";
        QTest::newRow("rotate time text") << QByteArray("LastLogRotateTime=06:30") << "06:30:00.000";
        QTest::newRow("recent files repeated") << QByteArray("RecentFiles=/a.qln, , /b.qln, /a.qln") << "/a.qln,/b.qln";
        QTest::newRow("recent files cut to nine") << QByteArray("RecentFiles=/1, /2, /3, /4, /5, /6, /7, /8, /9, /10, /11")
                                                  << "/1,/2,/3,/4,/5,/6,/7,/8,/9";
        QTest::newRow("group order cleaned") << QByteArray("[QuickSettings]\nGroupOrder=send, bogus, send")
            << "send,connection,receive";
        QTest::newRow("all groups hidden is the default layout")
            << QByteArray("[QuickSettings]\nConnection=false\nReceive=false\nSend=false\nFields\\send\\Hidden=format") << "";
    }

    void preferencesStoredValues()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QString, expected);
        const QString text = QString::fromLatin1(lines);
        const QString group = text.startsWith(QLatin1Char('[')) ? text.section(QLatin1Char(']'), 0, 0).mid(1) + u'/' : QString();
        const QString key = group + text.section(QLatin1Char('\n'), -1).section(QLatin1Char('='), 0, 0).replace(u'\\', u'/');
        auto written = store();
        writePreferences(*written, readPreferences(*store(group.isEmpty() ? "[General]\n" + lines + '\n' : lines + '\n')));
        QCOMPARE(storedText(*written, key), expected);
    }

    // The JSON session document: written and read back whole, and read through the
    // preferences' own rules, so a foreign or damaged document cannot set what the
    // preferences reader would refuse.
    void sessionDocumentRoundTrip()
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

    void sessionDocumentReadRules_data()
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

    void sessionDocumentReadRules()
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
    std::unique_ptr<QSettings> store(const QByteArray &raw = QByteArray())
    {
        const QString path = writeTextFile(m_dir.filePath(QStringLiteral("prefs%1.ini").arg(++m_storeNo)), raw);
        return std::make_unique<QSettings>(path, QSettings::IniFormat);
    }
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

    QTemporaryDir m_dir;
    int m_storeNo = 0;
};

QTEST_MAIN(tst_SettingsStores)
#include "tst_settingsstores.moc"
