#include "settings/displayfont.h"
#include "settings/lastsettings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class tst_LastSettings : public QObject
{
    Q_OBJECT
private slots:
    void emptyStoreYieldsDefaults();
    void writeThenReadGivesBackEveryField();
    void writtenKeysAreExactlyThePreferenceKeys();
    void writeLeavesOtherKeysAlone();
    void badValuesTakeDefaults_data();
    void badValuesTakeDefaults();
    void encodingsReadAsCanonicalNames_data();
    void encodingsReadAsCanonicalNames();
    void quickSettingsLayoutRules_data();
    void quickSettingsLayoutRules();
    void recentFilesStoredWithoutRepeatsAndCutToNine();
    void defaultsSeedTheSamePaneAsANewPane();
    void firstPaneSurvivesARestart();
    void collectKeepsWhatTheWindowDoesNotHold();
    void hostHistorySeed_data();
    void hostHistorySeed();

private:
    std::unique_ptr<QSettings> store(const QByteArray &raw = QByteArray());
    QTemporaryDir m_dir;
    int m_storeNo = 0;
};

std::unique_ptr<QSettings> tst_LastSettings::store(const QByteArray &raw)
{
    const QString path = m_dir.filePath(QStringLiteral("prefs%1.ini").arg(++m_storeNo));
    if (!raw.isEmpty()) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write test store");
        f.write(raw);
    }
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

// Every field by name, so a failure points at the field.
static void compareAll(const LastSettings &a, const LastSettings &b)
{
    QCOMPARE(a.LastConnMode, b.LastConnMode);
    QCOMPARE(a.LastPortName, b.LastPortName);
    QCOMPARE(a.LastBaudrate, b.LastBaudrate);
    QCOMPARE(a.LastDatabits, b.LastDatabits);
    QCOMPARE(a.LastStopbits, b.LastStopbits);
    QCOMPARE(a.LastParity, b.LastParity);
    QCOMPARE(a.LastFlowControl, b.LastFlowControl);
    QCOMPARE(a.LastDtrOn, b.LastDtrOn);
    QCOMPARE(a.LastRtsOn, b.LastRtsOn);
    QCOMPARE(a.LastTargetHost, b.LastTargetHost);
    QCOMPARE(a.LastTargetHosts, b.LastTargetHosts);
    QCOMPARE(a.LastTargetPort, b.LastTargetPort);
    QCOMPARE(a.LastUdpLocalPort, b.LastUdpLocalPort);
    QCOMPARE(a.LastUdpServerPort, b.LastUdpServerPort);
    QCOMPARE(a.LastReceiveMessageFormat, b.LastReceiveMessageFormat);
    QCOMPARE(a.LastSendMessageFormat, b.LastSendMessageFormat);
    QCOMPARE(a.LastReceiveEncoding, b.LastReceiveEncoding);
    QCOMPARE(a.LastSendEncoding, b.LastSendEncoding);
    QCOMPARE(a.LastSendChecksum, b.LastSendChecksum);
    QCOMPARE(a.LastTerminalEnterMode, b.LastTerminalEnterMode);
    QCOMPARE(a.LastAutoFeedInterval, b.LastAutoFeedInterval);
    QCOMPARE(a.LastSplitterLeft, b.LastSplitterLeft);
    QCOMPARE(a.LastSplitterRight, b.LastSplitterRight);
    QCOMPARE(a.LastRxAutoFeedLine, b.LastRxAutoFeedLine);
    QCOMPARE(a.LastRxLineEndingMode, b.LastRxLineEndingMode);
    QCOMPARE(a.LastTxAutoFeedLine, b.LastTxAutoFeedLine);
    QCOMPARE(a.LastTxLineEndingMode, b.LastTxLineEndingMode);
    QCOMPARE(a.quickSettings.showConnection, b.quickSettings.showConnection);
    QCOMPARE(a.quickSettings.showReceive, b.quickSettings.showReceive);
    QCOMPARE(a.quickSettings.showSend, b.quickSettings.showSend);
    QCOMPARE(a.quickSettings.groupOrder, b.quickSettings.groupOrder);
    QCOMPARE(a.quickSettings.fieldOrder, b.quickSettings.fieldOrder);
    QCOMPARE(a.quickSettings.hiddenFields, b.quickSettings.hiddenFields);
    QCOMPARE(a.LastDisplaySendMsg, b.LastDisplaySendMsg);
    QCOMPARE(a.LastDisplaySendTime, b.LastDisplaySendTime);
    QCOMPARE(a.LastDisplayRxTimeFormat, b.LastDisplayRxTimeFormat);
    QCOMPARE(a.LastDisplayTxTimeFormat, b.LastDisplayTxTimeFormat);
    QCOMPARE(a.LastDisplayBufferSize, b.LastDisplayBufferSize);
    QCOMPARE(a.displayFont.family(), b.displayFont.family());
    QCOMPARE(a.displayFont.pointSize(), b.displayFont.pointSize());
    QCOMPARE(a.LastFormatDisplayColor, b.LastFormatDisplayColor);
    QCOMPARE(a.LastSendTextColor, b.LastSendTextColor);
    QCOMPARE(a.LastReceiveTextColor, b.LastReceiveTextColor);
    QCOMPARE(a.LastShowControlLineLeds, b.LastShowControlLineLeds);
    QCOMPARE(a.LastLogSaveFlag, b.LastLogSaveFlag);
    QCOMPARE(a.LastLogFilePath, b.LastLogFilePath);
    QCOMPARE(a.LastLogFileName, b.LastLogFileName);
    QCOMPARE(a.LastLogTimestampEnabled, b.LastLogTimestampEnabled);
    QCOMPARE(a.LastLogTimestamp, b.LastLogTimestamp);
    QCOMPARE(a.LastLogRotateAtSize, b.LastLogRotateAtSize);
    QCOMPARE(a.LastLogRotateSize, b.LastLogRotateSize);
    QCOMPARE(a.LastLogRotateAtTime, b.LastLogRotateAtTime);
    QCOMPARE(a.LastLogRotateTime, b.LastLogRotateTime);
    QCOMPARE(a.LastNeedHourTimeStamp, b.LastNeedHourTimeStamp);
    QCOMPARE(a.SendList, b.SendList);
    QCOMPARE(a.RecentFiles, b.RecentFiles);
    QCOMPARE(a.LastFile, b.LastFile);
    QCOMPARE(a.LastLogFile, b.LastLogFile);
    QCOMPARE(a.LastDirectory, b.LastDirectory);
    QCOMPARE(a.OpenLastConnection, b.OpenLastConnection);
    QCOMPARE(a.LastConnectionOpen, b.LastConnectionOpen);
    QCOMPARE(a.AutoReconnect, b.AutoReconnect);
}

// Every field away from its default, so a key the writer or reader misses shows up.
static LastSettings unusualPrefs()
{
    LastSettings s;
    s.LastConnMode = 7;
    s.LastPortName = QStringLiteral("/dev/serial/by-id/usb-FTDI_A,B-if00");
    s.LastBaudrate = 921600;
    s.LastDatabits = 7;
    s.LastStopbits = 2;
    s.LastParity = 3;
    s.LastFlowControl = 2;
    s.LastDtrOn = false;
    s.LastRtsOn = false;
    s.LastTargetHost = QStringLiteral("plc.local");
    s.LastTargetHosts = {QStringLiteral("plc.local"), QStringLiteral("10.1.2.3"), QStringLiteral("a,b")};
    s.LastTargetPort = 502;
    s.LastUdpLocalPort = 40001;
    s.LastUdpServerPort = 40002;
    s.LastReceiveMessageFormat = 1;
    s.LastSendMessageFormat = 1;
    s.LastReceiveEncoding = QStringLiteral("GBK");
    s.LastSendEncoding = QStringLiteral("Shift-JIS");
    s.LastSendChecksum = 4;
    s.LastTerminalEnterMode = 4;
    s.LastAutoFeedInterval = 75;
    s.LastSplitterLeft = 321;
    s.LastSplitterRight = 654;
    s.LastRxAutoFeedLine = true;
    s.LastRxLineEndingMode = 2;
    s.LastTxAutoFeedLine = true;
    s.LastTxLineEndingMode = 3;
    s.quickSettings.showReceive = false;
    s.quickSettings.groupOrder = {QStringLiteral("send"), QStringLiteral("receive"), QStringLiteral("connection")};
    s.quickSettings.fieldOrder.insert(QStringLiteral("controlLines"), {QStringLiteral("dtr"), QStringLiteral("rts")});
    s.quickSettings.fieldOrder.insert(QStringLiteral("send"), {QStringLiteral("encoding"), QStringLiteral("format")});
    s.quickSettings.hiddenFields.insert(QStringLiteral("connection"), {QStringLiteral("parity")});
    s.LastDisplaySendMsg = true;
    s.LastDisplaySendTime = true;
    s.LastDisplayRxTimeFormat = QStringLiteral("<hh:mm> ");
    s.LastDisplayTxTimeFormat = QStringLiteral(">hh< ");
    s.LastDisplayBufferSize = 65536;
    s.displayFont = makeDisplayFont(preferredMonospaceFamily(), 17);
    s.LastFormatDisplayColor = true;
    s.LastSendTextColor = QColor(0x12, 0xab, 0xef);
    s.LastReceiveTextColor = QColor(0xfe, 0x01, 0x80);
    s.LastShowControlLineLeds = false;
    s.LastLogSaveFlag = true;
    s.LastLogFilePath = QStringLiteral("/var/log/q/%S_%Y.log");
    s.LastLogFileName = QStringLiteral("bench_");
    s.LastLogTimestampEnabled = true;
    s.LastLogTimestamp = QStringLiteral("{%h%m} ");
    s.LastLogRotateAtSize = false;
    s.LastLogRotateSize = 2097152;
    s.LastLogRotateAtTime = true;
    s.LastLogRotateTime = QTime(23, 45, 6, 789);
    s.LastNeedHourTimeStamp = false;
    s.SendList = {QStringLiteral("AT"), QStringLiteral("01 03 00 00, 00 0A // poll"), QString()};
    s.RecentFiles = {QStringLiteral("/tmp/a.qln"), QStringLiteral("/tmp/b,c.qln")};
    s.LastFile = QStringLiteral("/tmp/a.qln");
    s.LastLogFile = QStringLiteral("/tmp/port.log");
    s.LastDirectory = QStringLiteral("/tmp");
    s.OpenLastConnection = false;
    s.LastConnectionOpen = true;
    s.AutoReconnect = true;
    return s;
}

void tst_LastSettings::emptyStoreYieldsDefaults()
{
    auto settings = store();
    const LastSettings s = readPreferences(*settings);

    // The values of the preferences table, written out here on purpose.
    QCOMPARE(s.LastConnMode, 0);
    QCOMPARE(s.LastPortName, QString());
    QCOMPARE(s.LastBaudrate, 9600);
    QCOMPARE(s.LastDatabits, 8);
    QCOMPARE(s.LastStopbits, 1);
    QCOMPARE(s.LastParity, 0);
    QCOMPARE(s.LastFlowControl, 0);
    QCOMPARE(s.LastDtrOn, true);
    QCOMPARE(s.LastRtsOn, true);
    QCOMPARE(s.LastTargetHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(s.LastTargetHosts, QStringList{QStringLiteral("127.0.0.1")});
    QCOMPARE(s.LastTargetPort, 6000);
    QCOMPARE(s.LastUdpLocalPort, quint16(60001));
    QCOMPARE(s.LastUdpServerPort, quint16(60000));
    QCOMPARE(s.LastReceiveMessageFormat, 2);
    QCOMPARE(s.LastSendMessageFormat, 2);
    QCOMPARE(s.LastReceiveEncoding, QStringLiteral("UTF-8"));
    QCOMPARE(s.LastSendEncoding, QStringLiteral("UTF-8"));
    QCOMPARE(s.LastSendChecksum, 0);
    QCOMPARE(s.LastTerminalEnterMode, 1);
    QCOMPARE(s.LastAutoFeedInterval, 20);
    QCOMPARE(s.LastSplitterLeft, 10000);
    QCOMPARE(s.LastSplitterRight, 50000);
    QCOMPARE(s.LastRxAutoFeedLine, false);
    QCOMPARE(s.LastRxLineEndingMode, 0);
    QCOMPARE(s.LastTxAutoFeedLine, false);
    QCOMPARE(s.LastTxLineEndingMode, 0);
    QCOMPARE(s.quickSettings.showConnection, true);
    QCOMPARE(s.quickSettings.showReceive, true);
    QCOMPARE(s.quickSettings.showSend, true);
    QCOMPARE(s.quickSettings.groupOrder,
             (QStringList{QStringLiteral("connection"), QStringLiteral("receive"), QStringLiteral("send")}));
    QVERIFY(s.quickSettings.fieldOrder.isEmpty());
    QVERIFY(s.quickSettings.hiddenFields.isEmpty());
    QCOMPARE(s.LastDisplaySendMsg, false);
    QCOMPARE(s.LastDisplaySendTime, false);
    QCOMPARE(s.LastDisplayRxTimeFormat, QStringLiteral("[Rx][hh:mm:ss.zzz] "));
    QCOMPARE(s.LastDisplayTxTimeFormat, QStringLiteral("[Tx][hh:mm:ss.zzz] "));
    QCOMPARE(s.LastDisplayBufferSize, 10485760);
    QCOMPARE(s.displayFont.family(), preferredMonospaceFamily());
    QCOMPARE(s.displayFont.pointSize(), 12);
    QCOMPARE(s.LastFormatDisplayColor, false);
    QCOMPARE(s.LastSendTextColor.name(), QStringLiteral("#000000"));
    QCOMPARE(s.LastReceiveTextColor.name(), QStringLiteral("#000000"));
    QCOMPARE(s.LastShowControlLineLeds, true);
    QCOMPARE(s.LastLogSaveFlag, false);
    QCOMPARE(s.LastLogFilePath, QDir::home().filePath(QStringLiteral("qln_%S-%Y%M%D.log")));
    QCOMPARE(s.LastLogFileName, QStringLiteral("qln_"));
    QCOMPARE(s.LastLogTimestampEnabled, false);
    QCOMPARE(s.LastLogTimestamp, QStringLiteral("[%h:%m:%s.%z] "));
    QCOMPARE(s.LastLogRotateAtSize, true);
    QCOMPARE(s.LastLogRotateSize, 104857600);
    QCOMPARE(s.LastLogRotateAtTime, false);
    QCOMPARE(s.LastLogRotateTime, QTime(0, 0, 0, 0));
    QCOMPARE(s.LastNeedHourTimeStamp, true);
    QCOMPARE(s.SendList, QStringList());
    QCOMPARE(s.RecentFiles, QStringList());
    QCOMPARE(s.LastFile, QString());
    QCOMPARE(s.LastLogFile, QString());
    QCOMPARE(s.LastDirectory, QString());
    QCOMPARE(s.OpenLastConnection, true);
    QCOMPARE(s.LastConnectionOpen, false);
    QCOMPARE(s.AutoReconnect, false);

    // A fresh record is the same thing.
    compareAll(s, LastSettings::builtInDefaults());
}

void tst_LastSettings::writeThenReadGivesBackEveryField()
{
    const LastSettings written = unusualPrefs();
    QString path;
    {
        auto settings = store();
        path = settings->fileName();
        writePreferences(*settings, written);
    }
    // A new store object on the file, as after a restart.
    QSettings reopened(path, QSettings::IniFormat);
    compareAll(readPreferences(reopened), written);
}

void tst_LastSettings::writtenKeysAreExactlyThePreferenceKeys()
{
    auto settings = store();
    writePreferences(*settings, unusualPrefs());
    QStringList expected = {
        QStringLiteral("LastConnMode"), QStringLiteral("LastPortName"), QStringLiteral("LastBaudrate"),
        QStringLiteral("LastDatabits"), QStringLiteral("LastStopbits"), QStringLiteral("LastParity"),
        QStringLiteral("LastFlowControl"), QStringLiteral("LastDtrOn"), QStringLiteral("LastRtsOn"),
        QStringLiteral("LastTargetHost"), QStringLiteral("LastTargetHosts"), QStringLiteral("LastTargetPort"),
        QStringLiteral("LastUdpLocalPort"), QStringLiteral("LastUdpServerPort"),
        QStringLiteral("LastReceiveMessageFormat"), QStringLiteral("LastSendMessageFormat"),
        QStringLiteral("LastReceiveEncoding"), QStringLiteral("LastSendEncoding"), QStringLiteral("LastSendChecksum"),
        QStringLiteral("LastTerminalEnterMode"), QStringLiteral("LastAutoFeedInterval"),
        QStringLiteral("LastSplitterLeft"), QStringLiteral("LastSplitterRight"), QStringLiteral("LastRxAutoFeedLine"),
        QStringLiteral("LastRxLineEndingMode"), QStringLiteral("LastTxAutoFeedLine"),
        QStringLiteral("LastTxLineEndingMode"), QStringLiteral("QuickSettings/Connection"),
        QStringLiteral("QuickSettings/Receive"), QStringLiteral("QuickSettings/Send"),
        QStringLiteral("QuickSettings/GroupOrder"), QStringLiteral("LastDisplaySendMsg"),
        QStringLiteral("LastDisplaySendTime"), QStringLiteral("LastDisplayRxTimeFormat"),
        QStringLiteral("LastDisplayTxTimeFormat"), QStringLiteral("LastDisplayBufferSize"),
        QStringLiteral("LastDisplayFontFamily"), QStringLiteral("LastDisplayFontSize"),
        QStringLiteral("LastFormatDisplayColor"), QStringLiteral("LastSendTextColor"),
        QStringLiteral("LastReceiveTextColor"), QStringLiteral("LastShowControlLineLeds"),
        QStringLiteral("LastLogSaveFlag"), QStringLiteral("LastLogFilePath"), QStringLiteral("LastLogFileName"),
        QStringLiteral("LastLogTimestampEnabled"), QStringLiteral("LastLogTimestamp"),
        QStringLiteral("LastLogRotateAtSize"), QStringLiteral("LastLogRotateSize"),
        QStringLiteral("LastLogRotateAtTime"), QStringLiteral("LastLogRotateTime"),
        QStringLiteral("LastNeedHourTimeStamp"), QStringLiteral("SendList"), QStringLiteral("RecentFiles"),
        QStringLiteral("LastFile"), QStringLiteral("LastLogFile"), QStringLiteral("LastDirectory"),
        QStringLiteral("OpenLastConnection"), QStringLiteral("LastConnectionOpen"), QStringLiteral("AutoReconnect")};
    for (const char *group : {"connection", "controlLines", "receive", "send"}) {
        expected << QStringLiteral("QuickSettings/Fields/%1/Order").arg(QLatin1String(group))
                 << QStringLiteral("QuickSettings/Fields/%1/Hidden").arg(QLatin1String(group));
    }
    QStringList keys = settings->allKeys();
    keys.sort();
    expected.sort();
    QCOMPARE(keys, expected);
    QCOMPARE(settings->value(QStringLiteral("LastSendTextColor")).toString(), QStringLiteral("#12abef"));
    QCOMPARE(settings->value(QStringLiteral("LastReceiveTextColor")).toString(), QStringLiteral("#fe0180"));
}

void tst_LastSettings::writeLeavesOtherKeysAlone()
{
    auto settings = store("[General]\nValueL=1\n[Bridge]\nCount=2\n");
    writePreferences(*settings, unusualPrefs());
    QCOMPARE(settings->value(QStringLiteral("ValueL")).toInt(), 1);
    QCOMPARE(settings->value(QStringLiteral("Bridge/Count")).toInt(), 2);
}

void tst_LastSettings::badValuesTakeDefaults_data()
{
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("conn mode above 7") << QByteArray("LastConnMode=9");
    QTest::newRow("conn mode negative") << QByteArray("LastConnMode=-1");
    QTest::newRow("conn mode text") << QByteArray("LastConnMode=serial");
    QTest::newRow("baud text") << QByteArray("LastBaudrate=fast");
    QTest::newRow("baud zero") << QByteArray("LastBaudrate=0");
    QTest::newRow("baud beyond int") << QByteArray("LastBaudrate=99999999999");
    QTest::newRow("data bits 9") << QByteArray("LastDatabits=9");
    QTest::newRow("stop bits 0") << QByteArray("LastStopbits=0");
    QTest::newRow("parity 1 is no module value") << QByteArray("LastParity=1");
    QTest::newRow("flow control 3") << QByteArray("LastFlowControl=3");
    QTest::newRow("dtr yes") << QByteArray("LastDtrOn=yes");
    QTest::newRow("rts empty") << QByteArray("LastRtsOn=");
    QTest::newRow("target port too big") << QByteArray("LastTargetPort=70000");
    QTest::newRow("udp local port negative") << QByteArray("LastUdpLocalPort=-5");
    QTest::newRow("udp server port 65536") << QByteArray("LastUdpServerPort=65536");
    QTest::newRow("receive format 3") << QByteArray("LastReceiveMessageFormat=3");
    QTest::newRow("send format 0") << QByteArray("LastSendMessageFormat=0");
    QTest::newRow("unknown encoding") << QByteArray("LastReceiveEncoding=Klingon");
    QTest::newRow("checksum 6") << QByteArray("LastSendChecksum=6");
    QTest::newRow("enter mode text") << QByteArray("LastTerminalEnterMode=CRLF");
    QTest::newRow("auto feed negative") << QByteArray("LastAutoFeedInterval=-20");
    QTest::newRow("splitter text") << QByteArray("LastSplitterLeft=wide");
    QTest::newRow("rx stamp blank") << QByteArray("LastDisplayRxTimeFormat=\"   \"");
    QTest::newRow("tx stamp empty") << QByteArray("LastDisplayTxTimeFormat=");
    QTest::newRow("buffer zero") << QByteArray("LastDisplayBufferSize=0");
    QTest::newRow("font size text") << QByteArray("LastDisplayFontSize=big");
    QTest::newRow("font size huge") << QByteArray("LastDisplayFontSize=5000");
    QTest::newRow("font family missing") << QByteArray("LastDisplayFontFamily=No Such Font Family 123");
    QTest::newRow("send colour word") << QByteArray("LastSendTextColor=bluish");
    QTest::newRow("receive colour short") << QByteArray("LastReceiveTextColor=#12");
    QTest::newRow("log path blank") << QByteArray("LastLogFilePath=\"  \"");
    QTest::newRow("rotate size negative") << QByteArray("LastLogRotateSize=-1");
    QTest::newRow("rotate time 25h") << QByteArray("LastLogRotateTime=25:99:00");
    QTest::newRow("rotate time text") << QByteArray("LastLogRotateTime=midnight");
    QTest::newRow("need hour stamp 2") << QByteArray("LastNeedHourTimeStamp=2");
    QTest::newRow("open last connection maybe") << QByteArray("OpenLastConnection=maybe");
    QTest::newRow("auto reconnect number") << QByteArray("AutoReconnect=7");
    QTest::newRow("group flag text") << QByteArray("[QuickSettings]\nConnection=no");
    QTest::newRow("binary junk") << QByteArray("LastBaudrate=@Variant(\\0\\0\\0\\x7f\\0\\0)");
}

void tst_LastSettings::badValuesTakeDefaults()
{
    QFETCH(QByteArray, line);
    const QByteArray raw = line.startsWith('[') ? line + '\n' : "[General]\n" + line + '\n';
    auto settings = store(raw);
    compareAll(readPreferences(*settings), LastSettings::builtInDefaults());
}

void tst_LastSettings::encodingsReadAsCanonicalNames_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("lower-case gbk") << QByteArray("gbk") << QStringLiteral("GBK");
    QTest::newRow("utf8 without dash") << QByteArray("utf8") << QStringLiteral("UTF-8");
    QTest::newRow("shift jis spelt with underscore") << QByteArray("shift_jis") << QStringLiteral("Shift-JIS");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("UTF-8");
}

void tst_LastSettings::encodingsReadAsCanonicalNames()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, expected);
    auto settings = store("[General]\nLastReceiveEncoding=" + stored + "\nLastSendEncoding=" + stored + '\n');
    const LastSettings s = readPreferences(*settings);
    QCOMPARE(s.LastReceiveEncoding, expected);
    QCOMPARE(s.LastSendEncoding, expected);
}

void tst_LastSettings::quickSettingsLayoutRules_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("showReceive");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QStringList>("sendHidden");

    const QStringList defaultOrder{QStringLiteral("connection"), QStringLiteral("receive"), QStringLiteral("send")};
    QTest::newRow("all groups hidden falls back to the default layout")
        << QByteArray("[QuickSettings]\nConnection=false\nReceive=false\nSend=false\nGroupOrder=send, receive\n"
                      "Fields\\send\\Hidden=format\n")
        << true << defaultOrder << QStringList();
    QTest::newRow("repeats and unknown names in the order")
        << QByteArray("[QuickSettings]\nReceive=false\nGroupOrder=send, bogus, send\n") << false
        << QStringList{QStringLiteral("send"), QStringLiteral("connection"), QStringLiteral("receive")}
        << QStringList();
    QTest::newRow("hidden fields kept")
        << QByteArray("[QuickSettings]\nFields\\send\\Hidden=format, checksum\n") << true << defaultOrder
        << QStringList{QStringLiteral("format"), QStringLiteral("checksum")};
}

void tst_LastSettings::quickSettingsLayoutRules()
{
    QFETCH(QByteArray, raw);
    QFETCH(bool, showReceive);
    QFETCH(QStringList, order);
    QFETCH(QStringList, sendHidden);
    auto settings = store(raw);
    const LastSettings s = readPreferences(*settings);
    QCOMPARE(s.quickSettings.showReceive, showReceive);
    QCOMPARE(s.quickSettings.groupOrder, order);
    QCOMPARE(s.quickSettings.hiddenFields.value(QStringLiteral("send")), sendHidden);

    // A record from elsewhere (options dialog, sync) gets the same rules.
    LastSettings other;
    other.quickSettings.showConnection = other.quickSettings.showReceive = other.quickSettings.showSend = false;
    other.quickSettings.groupOrder = {QStringLiteral("receive")};
    QCOMPARE(quickSettingsFrom(other), QuickSettingsLayout());
}

void tst_LastSettings::recentFilesStoredWithoutRepeatsAndCutToNine()
{
    LastSettings s;
    for (int i = 1; i <= 12; ++i)
        s.RecentFiles << QStringLiteral("/docs/f%1.qln").arg(i);
    s.RecentFiles.insert(1, QStringLiteral("/docs/f1.qln"));
    s.RecentFiles.insert(2, QString());
    auto settings = store();
    writePreferences(*settings, s);
    const QStringList stored = readPreferences(*settings).RecentFiles;
    QCOMPARE(stored.size(), LastSettings::maxRecentFiles);
    QCOMPARE(stored.first(), QStringLiteral("/docs/f1.qln"));
    QCOMPARE(stored.at(1), QStringLiteral("/docs/f2.qln"));
    QCOMPARE(stored.last(), QStringLiteral("/docs/f9.qln"));
}

void tst_LastSettings::defaultsSeedTheSamePaneAsANewPane()
{
    const FormatSetting newPane = FormatSetting::builtInDefaults();
    const FormatSetting seeded = paneSettingsFrom(LastSettings::builtInDefaults(), newPane);
    QVERIFY(seeded.sameStoredValues(newPane));

    // And so does an empty store at the first start.
    auto settings = store();
    QVERIFY(paneSettingsFrom(readPreferences(*settings), newPane).sameStoredValues(newPane));
}

void tst_LastSettings::firstPaneSurvivesARestart()
{
    // Fields the preferences carry, all away from their defaults; the others
    // stay at the defaults, which is what the seed falls back to.
    FormatSetting pane = FormatSetting::builtInDefaults();
    pane.ConnMode = 5;
    pane.PortName = QStringLiteral("/dev/ttyACM3");
    pane.BaudRate = 57600;
    pane.DataBits = 6;
    pane.StopBits = 3;
    pane.Parity = 5;
    pane.FlowControl = 1;
    pane.DtrOn = false;
    pane.RtsOn = false;
    pane.LastTargetHost = {QStringLiteral("192.168.7.2"), QStringLiteral("gw"), QStringLiteral("10.0.0.9")};
    pane.LastTargetPort = 4001;
    pane.UdpLocalPort = 5555;
    pane.ReceiveMsgForamt = 1;
    pane.ReceiveEncoding = QStringLiteral("Big5");
    pane.RxAutoFeedLine = true;
    pane.RxLineEndingMode = 1;
    pane.AutoFeedInterval = 33;
    pane.DisplaySendMsg = true;
    pane.DisplayMsgTime = true;
    pane.RxTimeFormat = QStringLiteral("R ");
    pane.TxTimeFormat = QStringLiteral("T ");
    pane.DisplayBufferSize = 1000;
    pane.displayFont = makeDisplayFont(preferredMonospaceFamily(), 9);
    pane.displayFont.setWeight(QFont::Normal);
    pane.FormatDisplayColor = true;
    pane.SendTextColor = QColor(1, 2, 3);
    pane.ReceiveTextColor = QColor(250, 251, 252);
    pane.ShowControlLineLeds = false;
    pane.SplitterLeft = 7;
    pane.SplitterRight = 8;
    pane.SendMsgFormat = 1;
    pane.SendEncoding = QStringLiteral("EUC-KR");
    pane.SendChecksum = 5;
    pane.TxAutoFeedLine = true;
    pane.TxLineEndingMode = 2;
    pane.TerminalEnterMode = 3;
    pane.SendList = {QStringLiteral("ping"), QStringLiteral("7E 01")};
    pane.LogSaveFlag = true;
    pane.LogFilePath = QStringLiteral("/tmp/x_%S.log");
    pane.LogTimestampEnabled = true;
    pane.LogFileTime = QStringLiteral("%h ");
    pane.LogRotateAtSize = false;
    pane.LogRotateSize = 4096;
    pane.LogRotateAtTime = true;
    pane.LogRotateTime = QTime(6, 30);
    pane.NeedHourTimeStamp = false;

    PreferenceSources window;
    window.firstPane = pane;
    window.sendHistory = pane.SendList;
    window.quickSettings.showSend = false;
    window.recentFiles = {QStringLiteral("/tmp/one.qln")};
    window.currentFile = QStringLiteral("/tmp/one.qln");
    window.lastLogFile = QStringLiteral("/tmp/last.log");
    window.lastDirectory = QStringLiteral("/tmp/docs");
    window.openLastConnection = false;
    window.lastConnectionOpen = true;
    window.autoReconnect = true;

    QString path;
    {
        auto settings = store();
        path = settings->fileName();
        writePreferences(*settings, collectPreferences(LastSettings::builtInDefaults(), window));
    }
    QSettings reopened(path, QSettings::IniFormat);
    const LastSettings prefs = readPreferences(reopened);

    const FormatSetting seeded = paneSettingsFrom(prefs, FormatSetting::builtInDefaults());
    QVERIFY(seeded.sameStoredValues(pane));
    QCOMPARE(quickSettingsFrom(prefs), window.quickSettings);
    QCOMPARE(prefs.RecentFiles, window.recentFiles);
    QCOMPARE(prefs.LastFile, window.currentFile);
    QCOMPARE(prefs.LastLogFile, window.lastLogFile);
    QCOMPARE(prefs.LastDirectory, window.lastDirectory);
    QCOMPARE(prefs.OpenLastConnection, false);
    QCOMPARE(prefs.LastConnectionOpen, true);
    QCOMPARE(prefs.AutoReconnect, true);
}

void tst_LastSettings::collectKeepsWhatTheWindowDoesNotHold()
{
    LastSettings previous = LastSettings::builtInDefaults();
    previous.LastUdpServerPort = 1234;
    previous.LastLogFileName = QStringLiteral("rig_");
    PreferenceSources window;
    window.firstPane = FormatSetting::builtInDefaults();
    const LastSettings s = collectPreferences(previous, window);
    QCOMPARE(s.LastUdpServerPort, quint16(1234));
    QCOMPARE(s.LastLogFileName, QStringLiteral("rig_"));
}

void tst_LastSettings::hostHistorySeed_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QStringList>("history");
    QTest::addColumn<QStringList>("paneHosts");

    const QString a = QStringLiteral("a.local"), b = QStringLiteral("10.0.0.2"), c = QStringLiteral("c");
    QTest::newRow("host leads history") << a << QStringList{a, b} << QStringList{a, b};
    QTest::newRow("host moved to front") << b << QStringList{a, b, c} << QStringList{b, a, c};
    QTest::newRow("host missing from history") << c << QStringList{a} << QStringList{c, a};
    QTest::newRow("empty history") << a << QStringList() << QStringList{a};
    QTest::newRow("nothing at all") << QString() << QStringList() << QStringList{QString()};
}

void tst_LastSettings::hostHistorySeed()
{
    QFETCH(QString, host);
    QFETCH(QStringList, history);
    QFETCH(QStringList, paneHosts);
    LastSettings prefs;
    prefs.LastTargetHost = host;
    prefs.LastTargetHosts = history;
    QCOMPARE(paneSettingsFrom(prefs, FormatSetting()).LastTargetHost, paneHosts);
}

QTEST_MAIN(tst_LastSettings)
#include "tst_lastsettings.moc"
