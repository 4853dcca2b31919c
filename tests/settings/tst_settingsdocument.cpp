#include "settings/displayfont.h"
#include "settings/settingsdocument.h"

#include <QFile>
#include <QFontDatabase>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

class tst_SettingsDocument : public QObject
{
    Q_OBJECT
private slots:
    void roundTripRestoresEveryField();
    void missingFileChangesNothing();
    void absentKeysTakeWhenAbsentValues();
    void documentValues_data();
    void documentValues();
    void paneValues_data();
    void paneValues();
    void groupOrder_data();
    void groupOrder();
    void allGroupsHiddenFallsBackToDefault();
    void rewriteDropsRemovedPanes();
    void damagedFilesStillLoad_data();
    void damagedFilesStillLoad();

private:
    QString writeRaw(const QByteArray &content);
    QTemporaryDir m_dir;
    int m_fileNo = 0;
};

QString tst_SettingsDocument::writeRaw(const QByteArray &content)
{
    const QString path = m_dir.filePath(QStringLiteral("doc%1.qln").arg(++m_fileNo));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write test document");
    f.write(content);
    return path;
}

static FormatSetting unusualPane(int seed)
{
    // Every field away from its default so that a key the writer forgets shows up.
    FormatSetting s;
    s.ConnMode = seed % 8;
    s.PortName = QStringLiteral("/dev/ttyUSB%1").arg(seed);
    s.BaudRate = 115200 + seed;
    s.DataBits = 7;
    s.StopBits = 2;
    s.Parity = 2;
    s.FlowControl = 1;
    s.DtrOn = false;
    s.RtsOn = false;
    s.LastTargetHost = {QStringLiteral("10.0.0.%1").arg(seed), QString(), QStringLiteral("host,with,commas")};
    s.LastTargetPort = 5020 + seed;
    s.UdpLocalPort = quint16(40000 + seed);
    s.UseRemoteSerialConfig = false;
    s.ReceiveMsgForamt = 1;
    s.ReceiveEncoding = QStringLiteral("GBK");
    s.RxAutoFeedLine = true;
    s.RxLineEndingMode = 3;
    s.AutoFeedInterval = 55 + seed;
    s.DisplaySendMsg = true;
    s.DisplayMsgTime = true;
    s.RxTimeFormat = QStringLiteral("<hh:mm> ");
    s.TxTimeFormat = QStringLiteral(" [tx] ");
    s.DisplayBufferSize = 4096 + seed;
    s.displayFont = makeDisplayFont(preferredMonospaceFamily(), 9 + seed);
    s.displayFont.setWeight(QFont::Bold);
    s.FormatDisplayColor = true;
    s.SendTextColor = QColor(0x12, 0xab, 0xef);
    s.ReceiveTextColor = QColor(0xfe, 0x01, 0x80);
    s.ShowControlLineLeds = false;
    s.SplitterLeft = 111 + seed;
    s.SplitterRight = 222 + seed;
    s.SendMsgFormat = 1;
    s.SendEncoding = QStringLiteral("Big5");
    s.AutoSend = true;
    s.SendInterval = 1500;
    s.SendTimeUnit = 1;
    s.SupportComment = true;
    s.FormatSend = true;
    s.SendChecksum = 4;
    s.TxAutoFeedLine = true;
    s.TxLineEndingMode = 3;
    s.TerminalEnterMode = 4;
    s.SendList = {QStringLiteral("AT+GMR"), QStringLiteral("a, b"), QStringLiteral("01 02 // c")};
    s.LogSaveFlag = true;
    s.LogFilePath = QStringLiteral("/tmp/logs/%S-%Y.log");
    s.LogTimestampEnabled = true;
    s.LogFileTime = QStringLiteral("%h%m%s ");
    s.LogRotateAtSize = false;
    s.LogRotateSize = 2048 + seed;
    s.LogRotateAtTime = true;
    s.LogRotateTime = QTime(13, 45, 7, 250);
    s.NeedHourTimeStamp = false;
    return s;
}

void tst_SettingsDocument::roundTripRestoresEveryField()
{
    SettingsDocument doc;
    doc.PortNumber = 3;
    doc.ColumnNumber = 2;
    doc.QuickView = false;
    doc.quickSettings.showReceive = false;
    doc.quickSettings.groupOrder = {QStringLiteral("send"), QStringLiteral("connection"), QStringLiteral("receive")};
    doc.quickSettings.fieldOrder.insert(QStringLiteral("connection"), {QStringLiteral("parity"), QStringLiteral("baudRate")});
    doc.quickSettings.hiddenFields.insert(QStringLiteral("controlLines"), {QStringLiteral("dtr")});
    for (int i = 0; i < 3; ++i)
        doc.panes << unusualPane(i + 1);
    doc.panes[2] = FormatSetting::builtInDefaults();

    const QString path = m_dir.filePath(QStringLiteral("roundtrip.qln"));
    QList<int> progress;
    QVERIFY(writeFile(path, doc, [&](int p) { progress << p; }));
    QCOMPARE(progress.first(), 0);
    QCOMPARE(progress.last(), 100);
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));

    SettingsDocument back;
    QVERIFY(readSettingFile(path, back));
    QCOMPARE(back.PortNumber, 3);
    QCOMPARE(back.ColumnNumber, 2);
    QCOMPARE(back.QuickView, false);
    QVERIFY(back.quickSettings == doc.quickSettings);
    QCOMPARE(back.panes.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const FormatSetting &a = doc.panes.at(i);
        const FormatSetting &b = back.panes.at(i);
        QVERIFY2(a.sameStoredValues(b), qPrintable(QStringLiteral("pane %1 differs").arg(i)));
        // Spot checks that sameStoredValues itself looks at the rotation keys.
        QCOMPARE(b.LogRotateTime, a.LogRotateTime);
        QCOMPARE(b.LogRotateSize, a.LogRotateSize);
        QCOMPARE(b.NeedHourTimeStamp, a.NeedHourTimeStamp);
        QCOMPARE(b.LastTargetHost, a.LastTargetHost);
    }
    FormatSetting changed = doc.panes.at(0);
    changed.LogRotateAtTime = !changed.LogRotateAtTime;
    QVERIFY(!changed.sameStoredValues(back.panes.at(0)));
}

void tst_SettingsDocument::missingFileChangesNothing()
{
    SettingsDocument doc;
    doc.PortNumber = 5;
    doc.panes << unusualPane(1);
    QVERIFY(!readSettingFile(m_dir.filePath(QStringLiteral("nope.qln")), doc));
    QVERIFY(!readSettingFile(m_dir.path(), doc)); // a folder is not a document
    QCOMPARE(doc.PortNumber, 5);
    QCOMPARE(doc.panes.size(), 1);
    QCOMPARE(doc.panes.first().BaudRate, 115201);
}

void tst_SettingsDocument::absentKeysTakeWhenAbsentValues()
{
    SettingsDocument doc;
    QVERIFY(readSettingFile(writeRaw("[General]\nPortNumber=1\n"), doc));
    QCOMPARE(doc.panes.size(), 1);
    const FormatSetting &s = doc.panes.first();
    QCOMPARE(s.ConnMode, 0);
    QCOMPARE(s.BaudRate, 0);
    QCOMPARE(s.DataBits, 0);
    QCOMPARE(s.DtrOn, true);
    QCOMPARE(s.LastTargetHost, QStringList{QString()});
    QCOMPARE(s.LastTargetPort, 0);
    QCOMPARE(s.UdpLocalPort, quint16(60001));
    QCOMPARE(s.ReceiveMsgForamt, 0);
    QCOMPARE(s.ReceiveEncoding, QStringLiteral("UTF-8"));
    QCOMPARE(s.RxTimeFormat, QStringLiteral("[Rx][hh:mm:ss.zzz] "));
    QCOMPARE(s.TxTimeFormat, QStringLiteral("[Tx][hh:mm:ss.zzz] "));
    QCOMPARE(s.DisplayBufferSize, FormatSetting().DisplayBufferSize);
    QVERIFY(!s.SendTextColor.isValid());
    QCOMPARE(s.ShowControlLineLeds, true);
    QCOMPARE(s.TerminalEnterMode, 1);
    QCOMPARE(s.LogFilePath, FormatSetting::defaultLogPath());
    QCOMPARE(s.LogFileTime, QString());
    QCOMPARE(s.LogRotateAtSize, false);
    QVERIFY(!s.LogRotateTime.isValid());
    QCOMPARE(s.NeedHourTimeStamp, false);
    QCOMPARE(s.displayFont.family(), preferredMonospaceFamily());
    QCOMPARE(s.displayFont.pointSize(), 12);
    QVERIFY(s.displayFont.fixedPitch());
    QCOMPARE(doc.QuickView, true);
}

void tst_SettingsDocument::documentValues_data()
{
    QTest::addColumn<QByteArray>("general");
    QTest::addColumn<int>("panes");
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("quickView");
    QTest::newRow("zero panes") << QByteArray("PortNumber=0\nColumnNumber=0") << 1 << 1 << true;
    QTest::newRow("negative") << QByteArray("PortNumber=-3\nColumnNumber=-1") << 1 << 1 << true;
    QTest::newRow("forty panes") << QByteArray("PortNumber=40\nColumnNumber=99") << 16 << 16 << false;
    QTest::newRow("huge number") << QByteArray("PortNumber=99999999999999999999") << 1 << 1 << true;
    QTest::newRow("not a number") << QByteArray("PortNumber=lots\nColumnNumber=x") << 1 << 1 << true;
    QTest::newRow("quick view stored") << QByteArray("PortNumber=4\nQuickView=true") << 4 << 1 << true;
    QTest::newRow("quick view garbage") << QByteArray("PortNumber=1\nQuickView=maybe") << 1 << 1 << true;
    QTest::newRow("two panes default view") << QByteArray("PortNumber=2\nColumnNumber=2") << 2 << 2 << false;
}

void tst_SettingsDocument::documentValues()
{
    QFETCH(QByteArray, general);
    QFETCH(int, panes);
    QFETCH(int, columns);
    QFETCH(bool, quickView);
    SettingsDocument doc;
    QVERIFY(readSettingFile(writeRaw("[General]\n" + general + "\n"), doc));
    QCOMPARE(doc.PortNumber, panes);
    QCOMPARE(doc.panes.size(), panes);
    QCOMPARE(doc.ColumnNumber, columns);
    QCOMPARE(doc.QuickView, quickView);
}

void tst_SettingsDocument::paneValues_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("mode 7 kept") << QByteArray("ConnMode=7") << "ConnMode" << QVariant(7);
    QTest::newRow("mode 9 is serial") << QByteArray("ConnMode=9") << "ConnMode" << QVariant(0);
    QTest::newRow("mode -1 is serial") << QByteArray("ConnMode=-1") << "ConnMode" << QVariant(0);
    QTest::newRow("empty host history") << QByteArray("LastTargetHost=") << "LastTargetHost" << QVariant(QStringList{QString()});
    QTest::newRow("host history split") << QByteArray("LastTargetHost=a-||--||-b") << "LastTargetHost"
                                        << QVariant(QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")});
    QTest::newRow("rx stamp blanks") << QByteArray("RxTimeFormat=\"   \"") << "RxTimeFormat"
                                     << QVariant(QStringLiteral("[Rx][hh:mm:ss.zzz] "));
    QTest::newRow("encoding alias") << QByteArray("ReceiveEncoding=cp936") << "ReceiveEncoding"
                                    << QVariant(QStringLiteral("GBK"));
    QTest::newRow("unknown encoding") << QByteArray("ReceiveEncoding=nonsense-enc") << "ReceiveEncoding"
                                      << QVariant(QStringLiteral("UTF-8"));
    QTest::newRow("baud garbage") << QByteArray("BaudRate=fast") << "BaudRate" << QVariant(0);
    QTest::newRow("baud negative") << QByteArray("BaudRate=-9600") << "BaudRate" << QVariant(0);
    QTest::newRow("udp port too big") << QByteArray("UdpLocalPort=70000") << "UdpLocalPort" << QVariant(60001);
    QTest::newRow("dtr garbage") << QByteArray("DtrOn=perhaps") << "DtrOn" << QVariant(true);
    QTest::newRow("leds off") << QByteArray("ShowControlLineLeds=false") << "ShowControlLineLeds" << QVariant(false);
    QTest::newRow("colour") << QByteArray("SendTextColor=#00ff7f") << "SendTextColor" << QVariant(QStringLiteral("#00ff7f"));
    QTest::newRow("colour garbage") << QByteArray("SendTextColor=purplish") << "SendTextColor" << QVariant(QString());
    QTest::newRow("rotate time text") << QByteArray("LogRotateTime=06:30:00") << "LogRotateTime"
                                      << QVariant(QTime(6, 30));
    QTest::newRow("font size absurd") << QByteArray("LogFontSize=100000") << "LogFontSize" << QVariant(12);
}

static QVariant fieldValue(const FormatSetting &s, const QString &field)
{
    if (field == QLatin1String("ConnMode")) return s.ConnMode;
    if (field == QLatin1String("LastTargetHost")) return s.LastTargetHost;
    if (field == QLatin1String("RxTimeFormat")) return s.RxTimeFormat;
    if (field == QLatin1String("ReceiveEncoding")) return s.ReceiveEncoding;
    if (field == QLatin1String("BaudRate")) return s.BaudRate;
    if (field == QLatin1String("UdpLocalPort")) return int(s.UdpLocalPort);
    if (field == QLatin1String("DtrOn")) return s.DtrOn;
    if (field == QLatin1String("ShowControlLineLeds")) return s.ShowControlLineLeds;
    if (field == QLatin1String("SendTextColor")) return s.SendTextColor.isValid() ? s.SendTextColor.name() : QString();
    if (field == QLatin1String("LogRotateTime")) return s.LogRotateTime;
    if (field == QLatin1String("LogFontSize")) return s.displayFont.pointSize();
    return {};
}

void tst_SettingsDocument::paneValues()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);
    SettingsDocument doc;
    QVERIFY(readSettingFile(writeRaw("[General]\nPortNumber=2\n[1]\n" + line + "\n"), doc));
    QCOMPARE(doc.panes.size(), 2);
    QCOMPARE(fieldValue(doc.panes.at(1), field), expected);
}

void tst_SettingsDocument::groupOrder_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("expected");
    const QString c = QStringLiteral("connection"), r = QStringLiteral("receive"), s = QStringLiteral("send");
    QTest::newRow("send, unknown, send") << QStringList{s, QStringLiteral("bogus"), s} << QStringList{s, c, r};
    QTest::newRow("empty") << QStringList{} << QStringList{c, r, s};
    QTest::newRow("full reversed") << QStringList{s, r, c} << QStringList{s, r, c};
    QTest::newRow("field group not a group") << QStringList{QStringLiteral("controlLines"), r} << QStringList{r, c, s};
}

void tst_SettingsDocument::groupOrder()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, expected);
    QCOMPARE(QuickSettingsLayout::normalisedGroupOrder(stored), expected);

    // The same rule applies on the way through a document.
    SettingsDocument doc;
    doc.panes << FormatSetting();
    doc.quickSettings.groupOrder = stored;
    const QString path = m_dir.filePath(QStringLiteral("order.qln"));
    QVERIFY(writeFile(path, doc));
    SettingsDocument back;
    QVERIFY(readSettingFile(path, back));
    QCOMPARE(back.quickSettings.groupOrder, expected);
}

void tst_SettingsDocument::allGroupsHiddenFallsBackToDefault()
{
    SettingsDocument doc;
    const QByteArray text = "[QuickSettings]\nConnection=false\nReceive=false\nSend=false\n"
                            "GroupOrder=send, receive\nFields\\connection\\Hidden=parity\n";
    QVERIFY(readSettingFile(writeRaw(text), doc));
    QVERIFY(doc.quickSettings == QuickSettingsLayout());
}

void tst_SettingsDocument::rewriteDropsRemovedPanes()
{
    const QString path = m_dir.filePath(QStringLiteral("shrink.qln"));
    SettingsDocument doc;
    doc.PortNumber = 3;
    doc.panes = {unusualPane(1), unusualPane(2), unusualPane(3)};
    QVERIFY(writeFile(path, doc));
    doc.PortNumber = 1;
    doc.panes.resize(1);
    QVERIFY(writeFile(path, doc));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    QVERIFY(content.contains("[0]"));
    QVERIFY(!content.contains("[2]"));
}

void tst_SettingsDocument::damagedFilesStillLoad_data()
{
    QTest::addColumn<QByteArray>("content");
    QByteArray full;
    {
        SettingsDocument doc;
        doc.PortNumber = 2;
        doc.panes = {unusualPane(1), unusualPane(2)};
        const QString path = m_dir.filePath(QStringLiteral("full.qln"));
        writeFile(path, doc);
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        full = f.readAll();
    }
    QTest::newRow("truncated mid-line") << full.left(full.size() * 2 / 3);
    QTest::newRow("truncated in header") << full.left(full.indexOf('[', 10) + 2);
    QByteArray binary(4096, Qt::Uninitialized);
    QRandomGenerator rng(1234);
    for (char &c : binary)
        c = char(rng.bounded(256));
    QTest::newRow("random bytes") << binary;
    QTest::newRow("nul bytes") << QByteArray(1000, '\0');
    QTest::newRow("absurd values") << QByteArray("[General]\nPortNumber=16\n[3]\nBaudRate=99999999999\n"
                                                 "DataBits=-8\nLogFontSize=-5\nLogFontWeight=999999\n"
                                                 "DisplayBufferSize=-1\nLastTargetHost=\nSendList=@Invalid()\n"
                                                 "LogRotateTime=@Variant(\\0\\0\\0)\n");
}

void tst_SettingsDocument::damagedFilesStillLoad()
{
    QFETCH(QByteArray, content);
    SettingsDocument doc;
    QVERIFY(readSettingFile(writeRaw(content), doc));
    QVERIFY(doc.PortNumber >= 1 && doc.PortNumber <= 16);
    QCOMPARE(doc.panes.size(), doc.PortNumber);
    for (const FormatSetting &s : std::as_const(doc.panes)) {
        QVERIFY(s.ConnMode >= 0 && s.ConnMode <= 7);
        QVERIFY(s.BaudRate >= 0);
        QVERIFY(s.DisplayBufferSize >= 0);
        QVERIFY(!s.LastTargetHost.isEmpty());
        QVERIFY(s.displayFont.pointSize() >= 1);
    }
}

QTEST_MAIN(tst_SettingsDocument)
#include "tst_settingsdocument.moc"
