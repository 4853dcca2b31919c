#include "connection/connectionmode.h"
#include "settings/dialogs/settingspanel.h"
#include "tests/settings/settingstest.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

// The sample record with the connection fields that `mode`'s page does not edit,
// and the fields the panel never edits, back at their defaults.
static FormatSetting editedBy(int mode)
{
    FormatSetting s = unusualPane(mode);
    const FormatSetting d;
    const bool serial = mode == SerialPort || mode == RemoteSerial;
    const bool udpClient = mode == UdpClient || mode == UdpGroup;
    if (mode != SerialPort)
        s.PortName = d.PortName;
    if (!serial) {
        s.BaudRate = d.BaudRate; s.DataBits = d.DataBits; s.StopBits = d.StopBits;
        s.Parity = d.Parity; s.FlowControl = d.FlowControl;
    }
    if (mode == SerialPort || mode == TcpServer || mode == UdpServer)
        s.LastTargetHost = d.LastTargetHost;
    if (mode == SerialPort)
        s.LastTargetPort = d.LastTargetPort;
    if (!udpClient)
        s.UdpLocalPort = d.UdpLocalPort;
    if (mode != RemoteSerial)
        s.UseRemoteSerialConfig = d.UseRemoteSerialConfig;
    s.SplitterLeft = d.SplitterLeft; s.SplitterRight = d.SplitterRight; s.SendList = d.SendList;
    return s;
}

class tst_SettingsPanel : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_panel = std::make_unique<SettingsPanel>(); }
    void roundTripThroughTheControls_data()
    {
        QTest::addColumn<int>("mode");
        for (int mode : {SerialPort, TcpServer, TcpClient, UdpServer, UdpClient, UdpGroup, RemoteSerial})
            QTest::addRow("mode %d", mode) << mode;
    }

    void roundTripThroughTheControls()
    {
        QFETCH(int, mode);
        // Into a default record: every field the panel edits must be stored.
        const FormatSetting in = editedBy(mode);
        m_panel->loadControls(in);
        FormatSetting out;
        m_panel->storeControls(out);
        QVERIFY(out.sameStoredValues(in));

        // Into the working copy: what the panel does not edit stays as it was, and so
        // do values its lists do not offer (receive line mode 0, a hand-edited enter mode).
        FormatSetting copy = unusualPane(mode);
        copy.RxLineEndingMode = 0;
        copy.TerminalEnterMode = 9;
        m_panel->setSettings(copy);
        m_panel->store();
        QVERIFY(m_panel->settings().sameStoredValues(copy));
    }

    void coarseUnits_data()
    {
        // The send period and the log rotation size are shown in coarser units than stored.
        QTest::addColumn<bool>("send"); // else the rotation size, in MiB
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("unit"); // the send time unit stored, then shown
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("shownUnit");
        QTest::addColumn<int>("typed"); // -1: left untouched
        QTest::addColumn<int>("result");
        QTest::newRow("whole seconds") << true << 7000 << 1 << 7 << 1 << -1 << 7000;
        QTest::newRow("whole minutes, 3 typed") << true << 120000 << 2 << 2 << 2 << 3 << 180000;
        QTest::newRow("1.5 s shown in ms") << true << 1500 << 1 << 1500 << 0 << -1 << 1500;
        QTest::newRow("unknown unit counts as ms") << true << 900 << 9 << 900 << 0 << 250 << 250;
        QTest::newRow("odd size untouched stays exact") << false << 1500000 << 0 << 1 << 0 << -1 << 1500000;
        QTest::newRow("typed 3 MiB") << false << 104857600 << 0 << 100 << 0 << 3 << 3145728;
        QTest::newRow("largest") << false << 104857600 << 0 << 100 << 0 << 2047 << 2047 * 1048576;
    }

    void coarseUnits()
    {
        QFETCH(bool, send);
        QFETCH(int, stored);
        QFETCH(int, unit);
        QFETCH(int, shown);
        QFETCH(int, shownUnit);
        QFETCH(int, typed);
        QFETCH(int, result);
        FormatSetting s;
        (send ? s.SendInterval : s.LogRotateSize) = stored;
        s.SendTimeUnit = unit;
        m_panel->loadControls(s);
        auto *spin = find<QSpinBox>(send ? QStringLiteral("sendIntervalSpinBox") : QStringLiteral("rotateSizeSpinBox"));
        QCOMPARE(spin->value(), shown);
        QCOMPARE(find<QComboBox>(QStringLiteral("sendTimeUnitBox"))->currentData().toInt(), shownUnit);
        // No send period beyond one day, in any unit.
        if (send)
            QCOMPARE(qint64(spin->maximum()) * (shownUnit == 2 ? 60000 : shownUnit == 1 ? 1000 : 1), qint64(86400000));
        if (typed >= 0)
            spin->setValue(typed);
        FormatSetting out;
        m_panel->storeControls(out);
        QCOMPARE(send ? out.SendInterval : out.LogRotateSize, result);
        QCOMPARE(out.SendTimeUnit, shownUnit);
    }

    void blankPatternsTakeDefaults()
    {
        m_panel->loadControls(unusualPane(SerialPort));
        const std::pair<const char *, const char *> typed[] = {
            {"rxTimeFormatEdit", "   "}, {"txTimeFormatEdit", ""}, {"logTimestampEdit", ""}, {"filePathEdit", "  "}};
        for (const auto &[edit, text] : typed)
            find<QLineEdit>(QLatin1String(edit))->setText(QLatin1String(text));
        FormatSetting out;
        m_panel->storeControls(out);
        QCOMPARE((QStringList{out.RxTimeFormat, out.TxTimeFormat, out.LogFileTime, out.LogFilePath}),
                 (QStringList{FormatSetting::defaultRxTimeFormat(), FormatSetting::defaultTxTimeFormat(),
                              FormatSetting::defaultLogTimeFormat(), FormatSetting::defaultLogPath()}));
    }

    void logFileNames()
    {
        // The preview follows the typed pattern.
        m_panel->setSessionName(QStringLiteral("bench"));
        find<QLineEdit>(QStringLiteral("filePathEdit"))->setText(QStringLiteral("/tmp/%S_%Y.log"));
        QCOMPARE(find<QLabel>(QStringLiteral("logNameResultLabel"))->text(),
                 QStringLiteral("/tmp/bench_%1.log").arg(QDate::currentDate().year()));
        // A chosen file without a suffix gets ".log".
        QCOMPARE(SettingsPanel::withLogSuffix(QStringLiteral("/tmp/x.d/port1")), QStringLiteral("/tmp/x.d/port1.log"));
        QCOMPARE(SettingsPanel::withLogSuffix(QStringLiteral("/tmp/port1.txt")), QStringLiteral("/tmp/port1.txt"));
        QCOMPARE(SettingsPanel::withLogSuffix(QString()), QString());
    }

private:
    template<typename T> T *find(const QString &name) { return child<T>(m_panel.get(), name); }
    std::unique_ptr<SettingsPanel> m_panel;
};

QTEST_MAIN(tst_SettingsPanel)
#include "tst_settingspanel.moc"
