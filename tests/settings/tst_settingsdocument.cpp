#include "settings/settingsdocument.h"
#include "tests/settings/settingstest.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class tst_SettingsDocument : public QObject
{
    Q_OBJECT
private slots:
    void roundTripRestoresEveryField()
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
        QCOMPARE(QSettings(path, QSettings::IniFormat).childGroups(), (QStringList{QStringLiteral("0"), QStringLiteral("QuickSettings")}));

        // A missing file or a folder is no document and leaves the one in hand alone.
        QVERIFY(!readSettingFile(m_dir.filePath(QStringLiteral("nope.qln")), back));
        QVERIFY(!readSettingFile(m_dir.path(), back));
        QCOMPARE(back.PortNumber, 3);
    }

    void hostileDocuments_data()
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
        QByteArray binary(4096, Qt::Uninitialized);
        QRandomGenerator rng(1234);
        for (char &c : binary)
            c = char(rng.bounded(256));
        QTest::newRow("random bytes") << binary << "" << "";
        QTest::newRow("nul bytes") << QByteArray(1000, '\0') << "" << "";
        QTest::newRow("absurd values") << QByteArray("[General]\nPortNumber=16\n[3]\nBaudRate=99999999999\n"
                                                     "DataBits=-8\nLogFontSize=-5\nLogFontWeight=999999\n"
                                                     "LastTargetHost=\nSendList=@Invalid()\n"
                                                     "LogRotateTime=@Variant(\\0\\0\\0)\n")
                                       << "3/LogFontSize" << "12";
    }

    void hostileDocuments()
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

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(tst_SettingsDocument)
#include "tst_settingsdocument.moc"
