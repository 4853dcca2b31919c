#include "codec/wiretextcodecregistry.h"
#include "connection/connectionmode.h"
#include "settings/formatsetting.h"
#include "settings/dialogs/settingschoices.h"
#include "settings/dialogs/settingspanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <functional>

namespace {

// Every field away from its default; `mode` picks which connection page is used.
FormatSetting unusual(int mode)
{
    FormatSetting s;
    s.ConnMode = mode;
    s.PortName = QStringLiteral("/dev/pts/9");
    s.BaudRate = 57600;
    s.DataBits = 6;
    s.StopBits = 3;
    s.Parity = 5;
    s.FlowControl = 1;
    s.DtrOn = false;
    s.RtsOn = false;
    s.LastTargetHost = {QStringLiteral("192.0.2.7"), QStringLiteral("old.example")};
    s.LastTargetPort = 7001;
    s.UdpLocalPort = 50505;
    s.UseRemoteSerialConfig = false;
    s.ReceiveMsgForamt = 1;
    s.ReceiveEncoding = WireTextCodecRegistry::canonicalName(QStringLiteral("GB18030"));
    s.RxAutoFeedLine = true;
    s.RxLineEndingMode = 3;
    s.AutoFeedInterval = 75;
    s.DisplaySendMsg = true;
    s.DisplayMsgTime = true;
    s.RxTimeFormat = QStringLiteral("<hh:mm> ");
    s.TxTimeFormat = QStringLiteral("{ss.zzz} ");
    s.DisplayBufferSize = 2000000;
    s.displayFont = QFont(QStringLiteral("Serif"), 17);
    s.displayFont.setWeight(QFont::Bold);
    s.FormatDisplayColor = true;
    s.SendTextColor = QColor(QStringLiteral("#12ab34"));
    s.ReceiveTextColor = QColor(QStringLiteral("#fe0010"));
    s.ShowControlLineLeds = false;
    s.SplitterLeft = 123;
    s.SplitterRight = 456;
    s.SendMsgFormat = 1;
    s.SendEncoding = WireTextCodecRegistry::canonicalName(QStringLiteral("Shift_JIS"));
    s.AutoSend = true;
    s.SendInterval = 7000;
    s.SendTimeUnit = 1;
    s.SupportComment = true;
    s.FormatSend = true;
    s.SendChecksum = 4;
    s.TxAutoFeedLine = true;
    s.TxLineEndingMode = 3;
    s.TerminalEnterMode = 4;
    s.SendList = {QStringLiteral("AT"), QStringLiteral("ATI")};
    s.LogSaveFlag = true;
    s.LogFilePath = QStringLiteral("/tmp/logs/dev_%Y.log");
    s.LogTimestampEnabled = true;
    s.LogFileTime = QStringLiteral("%h:%m ");
    s.LogRotateAtSize = false;
    s.LogRotateSize = 200 * 1048576;
    s.LogRotateAtTime = true;
    s.LogRotateTime = QTime(3, 30, 15);
    s.NeedHourTimeStamp = false;
    return s;
}

struct FieldCheck
{
    const char *name;
    std::function<QString(const FormatSetting &)> text;
};

QString list(const QStringList &l) { return l.join(QLatin1Char('|')); }

// Each field as text, so every row compares one field.
const QList<FieldCheck> &fieldChecks()
{
    static const QList<FieldCheck> checks{
        {"ConnMode", [](const FormatSetting &s) { return QString::number(s.ConnMode); }},
        {"PortName", [](const FormatSetting &s) { return s.PortName; }},
        {"BaudRate", [](const FormatSetting &s) { return QString::number(s.BaudRate); }},
        {"DataBits", [](const FormatSetting &s) { return QString::number(s.DataBits); }},
        {"StopBits", [](const FormatSetting &s) { return QString::number(s.StopBits); }},
        {"Parity", [](const FormatSetting &s) { return QString::number(s.Parity); }},
        {"FlowControl", [](const FormatSetting &s) { return QString::number(s.FlowControl); }},
        {"DtrOn", [](const FormatSetting &s) { return QString::number(s.DtrOn); }},
        {"RtsOn", [](const FormatSetting &s) { return QString::number(s.RtsOn); }},
        {"LastTargetHost", [](const FormatSetting &s) { return list(s.LastTargetHost); }},
        {"LastTargetPort", [](const FormatSetting &s) { return QString::number(s.LastTargetPort); }},
        {"UdpLocalPort", [](const FormatSetting &s) { return QString::number(s.UdpLocalPort); }},
        {"UseRemoteSerialConfig", [](const FormatSetting &s) { return QString::number(s.UseRemoteSerialConfig); }},
        {"ReceiveMsgForamt", [](const FormatSetting &s) { return QString::number(s.ReceiveMsgForamt); }},
        {"ReceiveEncoding", [](const FormatSetting &s) { return s.ReceiveEncoding; }},
        {"RxAutoFeedLine", [](const FormatSetting &s) { return QString::number(s.RxAutoFeedLine); }},
        {"RxLineEndingMode", [](const FormatSetting &s) { return QString::number(s.RxLineEndingMode); }},
        {"AutoFeedInterval", [](const FormatSetting &s) { return QString::number(s.AutoFeedInterval); }},
        {"DisplaySendMsg", [](const FormatSetting &s) { return QString::number(s.DisplaySendMsg); }},
        {"DisplayMsgTime", [](const FormatSetting &s) { return QString::number(s.DisplayMsgTime); }},
        {"RxTimeFormat", [](const FormatSetting &s) { return s.RxTimeFormat; }},
        {"TxTimeFormat", [](const FormatSetting &s) { return s.TxTimeFormat; }},
        {"DisplayBufferSize", [](const FormatSetting &s) { return QString::number(s.DisplayBufferSize); }},
        {"LogFontFamily", [](const FormatSetting &s) { return s.displayFont.family(); }},
        {"LogFontSize", [](const FormatSetting &s) { return QString::number(s.displayFont.pointSize()); }},
        {"LogFontWeight", [](const FormatSetting &s) { return QString::number(s.displayFont.weight()); }},
        {"FormatDisplayColor", [](const FormatSetting &s) { return QString::number(s.FormatDisplayColor); }},
        {"SendTextColor", [](const FormatSetting &s) { return s.SendTextColor.name(); }},
        {"ReceiveTextColor", [](const FormatSetting &s) { return s.ReceiveTextColor.name(); }},
        {"ShowControlLineLeds", [](const FormatSetting &s) { return QString::number(s.ShowControlLineLeds); }},
        {"SendMsgFormat", [](const FormatSetting &s) { return QString::number(s.SendMsgFormat); }},
        {"SendEncoding", [](const FormatSetting &s) { return s.SendEncoding; }},
        {"AutoSend", [](const FormatSetting &s) { return QString::number(s.AutoSend); }},
        {"SendInterval", [](const FormatSetting &s) { return QString::number(s.SendInterval); }},
        {"SendTimeUnit", [](const FormatSetting &s) { return QString::number(s.SendTimeUnit); }},
        {"SupportComment", [](const FormatSetting &s) { return QString::number(s.SupportComment); }},
        {"FormatSend", [](const FormatSetting &s) { return QString::number(s.FormatSend); }},
        {"SendChecksum", [](const FormatSetting &s) { return QString::number(s.SendChecksum); }},
        {"TxAutoFeedLine", [](const FormatSetting &s) { return QString::number(s.TxAutoFeedLine); }},
        {"TxLineEndingMode", [](const FormatSetting &s) { return QString::number(s.TxLineEndingMode); }},
        {"TerminalEnterMode", [](const FormatSetting &s) { return QString::number(s.TerminalEnterMode); }},
        {"LogSaveFlag", [](const FormatSetting &s) { return QString::number(s.LogSaveFlag); }},
        {"LogFilePath", [](const FormatSetting &s) { return s.LogFilePath; }},
        {"LogTimestampEnabled", [](const FormatSetting &s) { return QString::number(s.LogTimestampEnabled); }},
        {"LogFileTime", [](const FormatSetting &s) { return s.LogFileTime; }},
        {"LogRotateAtSize", [](const FormatSetting &s) { return QString::number(s.LogRotateAtSize); }},
        {"LogRotateSize", [](const FormatSetting &s) { return QString::number(s.LogRotateSize); }},
        {"LogRotateAtTime", [](const FormatSetting &s) { return QString::number(s.LogRotateAtTime); }},
        {"LogRotateTime", [](const FormatSetting &s) { return s.LogRotateTime.toString(QStringLiteral("HH:mm:ss.zzz")); }},
        {"NeedHourTimeStamp", [](const FormatSetting &s) { return QString::number(s.NeedHourTimeStamp); }},
        // Not edited by the dialog: a store must leave them alone.
        {"SplitterLeft", [](const FormatSetting &s) { return QString::number(s.SplitterLeft); }},
        {"SplitterRight", [](const FormatSetting &s) { return QString::number(s.SplitterRight); }},
        {"SendList", [](const FormatSetting &s) { return list(s.SendList); }},
    };
    return checks;
}

} // namespace

class tst_SettingsPanel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void bindingsRoundTripEveryField_data();
    void bindingsRoundTripEveryField();
    void workingCopyRoundTrip();
    void validation_data();
    void validation();
    void sendIntervalUnit_data();
    void sendIntervalUnit();
    void sendIntervalShownExactly_data();
    void sendIntervalShownExactly();
    void rotateSizeInMiB_data();
    void rotateSizeInMiB();
    void emptyPatternsTakeDefaults_data();
    void emptyPatternsTakeDefaults();
    void unlistedChoiceIsKept_data();
    void unlistedChoiceIsKept();
    void logSuffix_data();
    void logSuffix();
    void pagesAndTexts();

private:
    template<typename T> T *child(const char *name)
    {
        T *w = m_panel->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("missing child %s", name);
        return w;
    }
    SettingsPanel *m_panel = nullptr;
};

void tst_SettingsPanel::init()
{
    m_panel = new SettingsPanel;
}

void tst_SettingsPanel::cleanup()
{
    delete m_panel;
    m_panel = nullptr;
}

void tst_SettingsPanel::bindingsRoundTripEveryField_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("check");
    const QStringList serialOnly{QStringLiteral("PortName")};
    const QStringList networkFields{QStringLiteral("LastTargetHost"), QStringLiteral("LastTargetPort"),
                                    QStringLiteral("UdpLocalPort"), QStringLiteral("UseRemoteSerialConfig")};
    const QStringList serialFields{QStringLiteral("BaudRate"), QStringLiteral("DataBits"), QStringLiteral("StopBits"),
                                   QStringLiteral("Parity"), QStringLiteral("FlowControl")};
    for (int i = 0; i < fieldChecks().size(); ++i) {
        const QString name = QLatin1String(fieldChecks().at(i).name);
        // Each connection field through the page that edits it; the rest through the serial page.
        QList<int> modes{int(SerialPort)};
        if (name == QStringLiteral("ConnMode"))
            modes = {TcpServer, TcpClient, UdpServer, UdpClient, RemoteSerial};
        else if (serialFields.contains(name))
            modes = {SerialPort, RemoteSerial};
        else if (name == QStringLiteral("UdpLocalPort"))
            modes = {UdpClient};
        else if (name == QStringLiteral("UseRemoteSerialConfig"))
            modes = {RemoteSerial};
        else if (networkFields.contains(name))
            modes = {TcpClient, UdpClient, RemoteSerial};
        for (int mode : modes)
            QTest::addRow("%s, mode %d", qPrintable(name), mode) << mode << i;
    }
}

void tst_SettingsPanel::bindingsRoundTripEveryField()
{
    QFETCH(int, mode);
    QFETCH(int, check);
    const FieldCheck &field = fieldChecks().at(check);
    FormatSetting in = unusual(mode);
    if (mode == UdpClient)
        in.LastTargetHost.swapItemsAt(0, 1); // the host history as stored, not as the default would be
    const FormatSetting defaults;
    QVERIFY2(field.text(in) != field.text(defaults), "the test record must differ from the default here");

    m_panel->loadControls(in);
    FormatSetting out; // starts at the defaults, so a field the panel does not store shows up
    const bool untouched = QByteArray(field.name).startsWith("Splitter") || QByteArray(field.name) == "SendList";
    m_panel->storeControls(out);
    QCOMPARE(field.text(out), untouched ? field.text(defaults) : field.text(in));
}

void tst_SettingsPanel::workingCopyRoundTrip()
{
    for (int mode : {0, 1, 2, 4, 5, 7}) {
        const FormatSetting in = unusual(mode);
        m_panel->setSettings(in);
        m_panel->store();
        QVERIFY2(m_panel->settings().sameStoredValues(in), qPrintable(QStringLiteral("mode %1").arg(mode)));
    }
}

void tst_SettingsPanel::validation_data()
{
    QTest::addColumn<bool>("logging");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    const QString bad = QStringLiteral("Please input correct log file name!");
    QTest::newRow("two characters, logging") << true << QStringLiteral("ab") << bad;
    QTest::newRow("two characters padded, logging") << true << QStringLiteral("  ab ") << bad;
    QTest::newRow("empty, logging") << true << QString() << bad;
    QTest::newRow("three characters, logging") << true << QStringLiteral("a.l") << QString();
    QTest::newRow("two characters, not logging") << false << QStringLiteral("ab") << QString();
}

void tst_SettingsPanel::validation()
{
    QFETCH(bool, logging);
    QFETCH(QString, path);
    QFETCH(QString, message);
    child<QCheckBox>("logSaveBox")->setChecked(logging);
    child<QLineEdit>("filePathEdit")->setText(path);
    QCOMPARE(m_panel->validate(), message);
}

void tst_SettingsPanel::sendIntervalUnit_data()
{
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("stored");
    QTest::newRow("5 with factor 1000") << 5 << 1 << 5000;
    QTest::newRow("250 ms") << 250 << 0 << 250;
    QTest::newRow("3 min") << 3 << 2 << 180000;
}

void tst_SettingsPanel::sendIntervalUnit()
{
    QFETCH(int, shown);
    QFETCH(int, unit);
    QFETCH(int, stored);
    auto *units = child<QComboBox>("sendTimeUnitBox");
    units->setCurrentIndex(units->findData(unit));
    child<QSpinBox>("sendIntervalSpinBox")->setValue(shown);
    FormatSetting out;
    m_panel->storeControls(out);
    QCOMPARE(out.SendInterval, stored);
    QCOMPARE(out.SendTimeUnit, unit);
    QCOMPARE(SettingsChoices::sendUnitFactor(unit) * shown, stored);
    // No product beyond one day: the spin box stops there in every unit.
    QCOMPARE(qint64(child<QSpinBox>("sendIntervalSpinBox")->maximum()) * SettingsChoices::sendUnitFactor(unit),
             qint64(86400000));
}

void tst_SettingsPanel::sendIntervalShownExactly_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("shownValue");
    QTest::addColumn<int>("shownUnit");
    QTest::newRow("whole seconds") << 7000 << 1 << 7 << 1;
    QTest::newRow("whole minutes") << 120000 << 2 << 2 << 2;
    QTest::newRow("1.5 s falls back to ms") << 1500 << 1 << 1500 << 0;
    QTest::newRow("unknown unit counts as ms") << 900 << 9 << 900 << 0;
}

void tst_SettingsPanel::sendIntervalShownExactly()
{
    QFETCH(int, interval);
    QFETCH(int, unit);
    QFETCH(int, shownValue);
    QFETCH(int, shownUnit);
    FormatSetting s;
    s.SendInterval = interval;
    s.SendTimeUnit = unit;
    m_panel->loadControls(s);
    QCOMPARE(child<QSpinBox>("sendIntervalSpinBox")->value(), shownValue);
    QCOMPARE(child<QComboBox>("sendTimeUnitBox")->currentData().toInt(), shownUnit);
    FormatSetting out;
    m_panel->storeControls(out);
    QCOMPARE(out.SendInterval, interval);
}

void tst_SettingsPanel::rotateSizeInMiB_data()
{
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("typed");
    QTest::addColumn<int>("stored");
    QTest::newRow("100 MiB untouched") << 104857600 << 100 << -1 << 104857600;
    QTest::newRow("odd size untouched stays exact") << 1500000 << 1 << -1 << 1500000;
    QTest::newRow("typed 3 MiB") << 104857600 << 100 << 3 << 3145728;
    QTest::newRow("largest") << 104857600 << 100 << 2047 << 2047 * 1048576;
}

void tst_SettingsPanel::rotateSizeInMiB()
{
    QFETCH(int, bytes);
    QFETCH(int, shown);
    QFETCH(int, typed);
    QFETCH(int, stored);
    FormatSetting s;
    s.LogRotateSize = bytes;
    m_panel->loadControls(s);
    auto *spin = child<QSpinBox>("rotateSizeSpinBox");
    QCOMPARE(spin->value(), shown);
    if (typed >= 0)
        spin->setValue(typed);
    FormatSetting out;
    m_panel->storeControls(out);
    QCOMPARE(out.LogRotateSize, stored);
}

void tst_SettingsPanel::emptyPatternsTakeDefaults_data()
{
    QTest::addColumn<QString>("editName");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("rx empty") << QStringLiteral("rxTimeFormatEdit") << QString() << FormatSetting::defaultRxTimeFormat();
    QTest::newRow("rx spaces") << QStringLiteral("rxTimeFormatEdit") << QStringLiteral("   ") << FormatSetting::defaultRxTimeFormat();
    QTest::newRow("tx empty") << QStringLiteral("txTimeFormatEdit") << QString() << FormatSetting::defaultTxTimeFormat();
    QTest::newRow("log stamp empty") << QStringLiteral("logTimestampEdit") << QString() << FormatSetting::defaultLogTimeFormat();
    QTest::newRow("log path empty") << QStringLiteral("filePathEdit") << QString() << FormatSetting::defaultLogPath();
    QTest::newRow("rx kept") << QStringLiteral("rxTimeFormatEdit") << QStringLiteral("[hh]") << QStringLiteral("[hh]");
}

void tst_SettingsPanel::emptyPatternsTakeDefaults()
{
    QFETCH(QString, editName);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    m_panel->loadControls(unusual(SerialPort));
    child<QLineEdit>(qPrintable(editName))->setText(typed);
    FormatSetting out;
    m_panel->storeControls(out);
    const QString got = editName.startsWith(QStringLiteral("rx")) ? out.RxTimeFormat
                      : editName.startsWith(QStringLiteral("tx")) ? out.TxTimeFormat
                      : editName.startsWith(QStringLiteral("logT")) ? out.LogFileTime
                                                                    : out.LogFilePath;
    QCOMPARE(got, expected);
}

void tst_SettingsPanel::unlistedChoiceIsKept_data()
{
    QTest::addColumn<int>("rxLineMode");
    QTest::addColumn<int>("enterMode");
    QTest::newRow("default receive line mode 0") << 0 << 1;
    QTest::newRow("hand-edited enter mode") << 2 << 9;
}

void tst_SettingsPanel::unlistedChoiceIsKept()
{
    QFETCH(int, rxLineMode);
    QFETCH(int, enterMode);
    FormatSetting s;
    s.RxLineEndingMode = rxLineMode;
    s.TerminalEnterMode = enterMode;
    m_panel->loadControls(s);
    FormatSetting out;
    out.RxLineEndingMode = rxLineMode;
    out.TerminalEnterMode = enterMode;
    m_panel->storeControls(out);
    QCOMPARE(out.RxLineEndingMode, rxLineMode);
    QCOMPARE(out.TerminalEnterMode, enterMode);
}

void tst_SettingsPanel::logSuffix_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("result");
    QTest::newRow("no suffix") << QStringLiteral("/tmp/x/port1") << QStringLiteral("/tmp/x/port1.log");
    QTest::newRow("log") << QStringLiteral("/tmp/x/port1.log") << QStringLiteral("/tmp/x/port1.log");
    QTest::newRow("txt") << QStringLiteral("/tmp/x/port1.txt") << QStringLiteral("/tmp/x/port1.txt");
    QTest::newRow("dotted folder") << QStringLiteral("/tmp/x.d/port1") << QStringLiteral("/tmp/x.d/port1.log");
    QTest::newRow("cancelled") << QString() << QString();
}

void tst_SettingsPanel::logSuffix()
{
    QFETCH(QString, chosen);
    QFETCH(QString, result);
    QCOMPARE(SettingsPanel::withLogSuffix(chosen), result);
}

void tst_SettingsPanel::pagesAndTexts()
{
    auto *tabs = child<QTabWidget>("settingsTabs");
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i)
        titles << tabs->tabText(i);
    QCOMPARE(titles, (QStringList{QStringLiteral("Connection"), QStringLiteral("Receive"), QStringLiteral("Send"),
                                  QStringLiteral("Log"), QStringLiteral("Display")}));
    QCOMPARE(child<QLabel>("rxTimePreviewLabel")->text().size(), QStringLiteral("[Rx][22:55:59.987] ").size());
    QVERIFY(child<QLabel>("logNameHelpLabel")->text().contains(QStringLiteral("%S - session name;")));
    auto *checksums = child<QComboBox>("sendChecksumBox");
    QCOMPARE(checksums->count(), 6);
    QCOMPARE(checksums->itemText(4), QStringLiteral("CRC-16/MODBUS"));
    QCOMPARE(checksums->itemData(4).toInt(), 4);
    // The resolved log name follows the typed pattern.
    m_panel->setSessionName(QStringLiteral("bench"));
    child<QLineEdit>("filePathEdit")->setText(QStringLiteral("/tmp/%S_%Y.log"));
    QCOMPARE(child<QLabel>("logNameResultLabel")->text(),
             QStringLiteral("/tmp/bench_%1.log").arg(QDate::currentDate().year()));
}

QTEST_MAIN(tst_SettingsPanel)
#include "tst_settingspanel.moc"
