#include "connection/connectionmode.h"
#include "settings/dialogs/connectionsettingswidget.h"
#include "settings/dialogs/multiportsettingdlg.h"
#include "settings/dialogs/quicksettingseditor.h"
#include "settings/dialogs/settingspanel.h"
#include "tests/settings/settingstest.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using PortList = QList<ConnectionSettingsWidget::PortEntry>;
static ConnectionSettingsWidget::PortEntry named(const QString &name)
{
    return {name, {}, false, 0, 0};
}

// The sample record with the connection fields that `mode`'s page does not edit,
// and the fields the panel never edits, back at their defaults.
static FormatSetting editedBy(int mode)
{
    FormatSetting s = unusualPane(mode);
    const FormatSetting d;
    if (mode != SerialPort)
        s.PortName = d.PortName;
    if (mode != SerialPort && mode != RemoteSerial) {
        s.BaudRate = d.BaudRate; s.DataBits = d.DataBits; s.StopBits = d.StopBits;
        s.Parity = d.Parity; s.FlowControl = d.FlowControl;
    }
    if (mode == SerialPort || mode == TcpServer || mode == UdpServer)
        s.LastTargetHost = d.LastTargetHost;
    if (mode == SerialPort)
        s.LastTargetPort = d.LastTargetPort;
    if (mode != UdpClient && mode != UdpGroup)
        s.UdpLocalPort = d.UdpLocalPort;
    if (mode != RemoteSerial)
        s.UseRemoteSerialConfig = d.UseRemoteSerialConfig;
    s.SplitterLeft = d.SplitterLeft; s.SplitterRight = d.SplitterRight; s.SendList = d.SendList;
    return s;
}

// A value shown in a coarser unit: stored, shown, typed (-1: left untouched) and stored back.
struct Units
{
    bool send; // else the log rotation size, shown in MiB
    int stored, unit; // the send time unit stored
    int shown, shownUnit;
    int typed, result;
};
Q_DECLARE_METATYPE(Units)

static QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

static FormatSetting loggingPane(const QString &path)
{
    FormatSetting s;
    s.LogSaveFlag = true;
    s.LogFilePath = path;
    s.AutoFeedInterval = 55;
    return s;
}

// The settings editors and the options dialog, driven offscreen: the connection
// editor, the settings panel around it, the quick-settings editor and the dialog
// that holds them.
class tst_SettingsDialogs : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_widget = std::make_unique<ConnectionSettingsWidget>();
        m_widget->refillPorts(m_ports);
        m_widget->show();
        m_panel = std::make_unique<SettingsPanel>();
        m_editor = std::make_unique<QuickSettingsEditor>();
    }

    void modes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("fields"); // some of what the page edits
        QTest::newRow("serial") << int(SerialPort) << "serialPage" << words("parityBox");
        QTest::newRow("tcp server") << int(TcpServer) << "tcpServerPage" << words("tcpServerPortBox tcpServerBindBox");
        QTest::newRow("tcp client") << int(TcpClient) << "tcpClientPage" << words("tcpClientHostBox tcpClientPortBox");
        QTest::newRow("udp server") << int(UdpServer) << "udpServerPage" << words("udpServerPortBox");
        const QStringList udp = words("udpClientHostBox udpClientPortBox udpClientLocalPortBox");
        QTest::newRow("udp client") << int(UdpClient) << "udpClientPage" << udp;
        QTest::newRow("udp group") << int(UdpGroup) << "udpClientPage" << udp;
        QTest::newRow("remote serial") << int(RemoteSerial) << "rfc2217Page"
                                       << words("rfc2217HostBox rfc2217PortBox rfc2217FlowControlBox");
        QTest::newRow("unassigned") << int(Unassigned) << "tcpClientPage" << words("tcpClientHostBox tcpClientPortBox");
    }

    void modes()
    {
        QFETCH(int, mode);
        QFETCH(QString, page);
        QFETCH(QStringList, fields);

        // A stored record shows its page without reporting an edit.
        QSignalSpy config(m_widget.get(), &ConnectionSettingsWidget::connectionConfigChanged);
        QSignalSpy edits(m_widget.get(), &ConnectionSettingsWidget::settingsEdited);
        m_widget->loadFrom(unusualPane(mode));
        QCOMPARE(config.count() + edits.count(), 0);
        QCOMPARE(pageName(), page);
        QCOMPARE(box("modeBox")->isVisible(), mode != SerialPort && mode != RemoteSerial);
        QCOMPARE(m_widget->connectionMode(), mode); // kept even where no entry offers it
        // The unlisted device of a serial record stays selected.
        QCOMPARE(m_widget->portName(), mode == SerialPort ? QStringLiteral("/dev/pts/1") : QString());
        if (mode == Unassigned) {
            choose("modeBox", int(TcpServer));
            QCOMPARE(m_widget->connectionMode(), int(TcpServer));
            return;
        }

        // Picking the mode by hand from another one reports a new kind of connection;
        // editing the page then only reports an edit, and storing takes that page.
        m_widget->loadFrom(unusualPane(mode == TcpClient ? int(UdpServer) : int(TcpClient)));
        if (mode == SerialPort || mode == RemoteSerial)
            choose("portBox", mode == SerialPort ? QVariant(QStringLiteral("ttyS0")) : QVariant(mode));
        else
            choose("modeBox", mode);
        QCOMPARE(pageName(), page);
        QCOMPARE(config.count(), 1);
        edits.clear();
        for (int i = 0; i < fields.size(); ++i) {
            QWidget *field = child<QWidget>(m_widget.get(), fields.at(i));
            QVERIFY2(field->isVisible(), qPrintable(fields.at(i)));
            auto *combo = qobject_cast<QComboBox *>(field);
            if (!combo)
                static_cast<QSpinBox *>(field)->setValue(4000 + i);
            else if (combo->isEditable())
                combo->setEditText(QStringLiteral("198.51.100.9"));
            else
                combo->setCurrentIndex((combo->currentIndex() + 1) % combo->count());
        }
        QCOMPARE(config.count(), 1);
        QVERIFY(edits.size() >= fields.size());
        FormatSetting out;
        m_widget->storeTo(out);
        QCOMPARE(out.ConnMode, mode);
        QCOMPARE(out.PortName, mode == SerialPort ? QStringLiteral("ttyS0") : QString());

        // Through the settings panel into a default record, every field it edits in this
        // mode is stored. Into the working copy, what it does not edit stays as it was,
        // and so do values its lists do not offer (receive line mode 0, a hand-edited enter mode).
        m_panel->loadControls(editedBy(mode));
        FormatSetting stored;
        m_panel->storeControls(stored);
        QVERIFY(stored.sameStoredValues(editedBy(mode)));
        FormatSetting copy = unusualPane(mode);
        copy.RxLineEndingMode = 0;
        copy.TerminalEnterMode = 9;
        m_panel->setSettings(copy);
        m_panel->store();
        QVERIFY(m_panel->settings().sameStoredValues(copy));
    }

    void portList()
    {
        // Typed device paths: the second replaces the first typed entry, and a refill,
        // which never lists them, must not drop one.
        QSignalSpy config(m_widget.get(), &ConnectionSettingsWidget::connectionConfigChanged);
        QSignalSpy edited(m_widget.get(), &ConnectionSettingsWidget::settingsEdited);
        const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_X-if00-port0");
        for (const QString &path : {QStringLiteral("/dev/pts/3"), byId}) {
            type(path, true);
            QCOMPARE(m_widget->portName(), path);
        }
        QCOMPARE(config.count(), 2);
        QCOMPARE(box("portBox")->count(), 5);
        m_widget->refillPorts(PortList{named(QStringLiteral("ttyS0"))});
        FormatSetting out;
        m_widget->storeTo(out);
        QCOMPARE(out.PortName, byId);

        // A listed name typed but not confirmed: storing selects that entry.
        m_widget->loadFrom(unusualPane(TcpClient));
        type(QStringLiteral("ttyS0"), false);
        m_widget->storeTo(out);
        QCOMPARE(out.ConnMode, int(SerialPort));
        QCOMPARE(out.PortName, QStringLiteral("ttyS0"));
        QCOMPARE(box("portBox")->count(), 4);

        // A selected port keeps its selection when the list moves; gone for the moment it
        // stays selected, back the listed entry replaces the stand-in. None of it, nor a
        // refill under another mode, is an edit.
        FormatSetting s = unusualPane(SerialPort);
        s.PortName = QStringLiteral("ttyUSB1");
        m_widget->loadFrom(s);
        config.clear();
        edited.clear();
        m_widget->refillPorts(PortList{named(QStringLiteral("ttyACM0"))} + m_ports);
        QCOMPARE(box("portBox")->currentIndex(), 2);
        m_widget->refillPorts(PortList{named(QStringLiteral("ttyS0"))});
        QCOMPARE(m_widget->portName(), QStringLiteral("ttyUSB1"));
        m_widget->refillPorts(m_ports);
        QCOMPARE(box("portBox")->count(), 4);
        QCOMPARE(box("portBox")->currentText(), QStringLiteral("ttyUSB1 - CDC [2E8A:000A]")); // ids in hex, padded
        m_widget->loadFrom(unusualPane(RemoteSerial));
        m_widget->refillPorts(PortList{named(QStringLiteral("ttyS0"))});
        QCOMPARE(m_widget->connectionMode(), int(RemoteSerial));
        QCOMPARE(config.count() + edited.count(), 0);

        // While the user types a path, refills leave the text alone.
        type(QStringLiteral("/dev/pt"), false);
        for (int i = 0; i < 2; ++i) {
            m_widget->refillPorts(m_ports);
            QCOMPARE(box("portBox")->currentText(), QStringLiteral("/dev/pt"));
        }
    }

    void editedValuesStored()
    {
        // The sample's rate is not listed: it comes back in the custom edit.
        m_widget->loadFrom(unusualPane(SerialPort));
        QComboBox *baud = box("baudRateBox");
        QCOMPARE(baud->isEditable() ? baud->currentText() : QString(), QStringLiteral("57601"));
        choose("baudRateBox", 19200);
        QVERIFY(!baud->isEditable());
        baud->setCurrentIndex(baud->findText(QStringLiteral("Custom")));
        QCOMPARE(baud->currentText(), QString());
        QTest::keyClicks(baud->lineEdit(), QStringLiteral("25x0000")); // the validator drops the letter
        FormatSetting out;
        m_widget->storeTo(out);
        QCOMPARE(out.BaudRate, 250000);

        // The host used moves to the front of the history.
        m_widget->loadFrom(unusualPane(TcpClient));
        box("tcpClientHostBox")->setCurrentIndex(1);
        m_widget->storeTo(out);
        QCOMPARE(out.LastTargetHost, (QStringList{QStringLiteral("old,example"), QStringLiteral("192.0.2.1"), QString()}));
        // A new host goes first; the box's entries follow, whatever the record held.
        box("tcpClientHostBox")->setEditText(QStringLiteral("192.0.2.9"));
        out.LastTargetHost = {QStringLiteral("unrelated")};
        m_widget->storeTo(out);
        QCOMPARE(out.LastTargetHost, (QStringList{QStringLiteral("192.0.2.9"), QStringLiteral("192.0.2.1"),
                                                  QStringLiteral("old,example"), QString()}));
    }

    void serialFieldLayout()
    {
        // Listed rows first in the given order (unknown and repeated names ignored), the
        // rest in their usual order. A layout applied before must not matter.
        m_widget->applySerialFieldLayout({QStringLiteral("parity")}, {QStringLiteral("stopBits")});
        const QStringList hidden = words("baudRate flowControl");
        m_widget->applySerialFieldLayout(words("stopBits nonsense stopBits dataBits"), hidden);
        auto *form = child<QFormLayout>(m_widget.get(), "serialLayout");
        QStringList shown;
        for (int row = 0; row < form->rowCount(); ++row) {
            QWidget *field = form->itemAt(row, QFormLayout::FieldRole)->widget();
            shown << field->objectName().chopped(3); // "Box"
            QCOMPARE(field->isVisibleTo(m_widget.get()), !hidden.contains(shown.last()));
            QCOMPARE(form->itemAt(row, QFormLayout::LabelRole)->widget()->isVisibleTo(m_widget.get()),
                     field->isVisibleTo(m_widget.get()));
        }
        QCOMPARE(shown, words("stopBits dataBits baudRate parity flowControl"));
    }

    void coarseUnits_data()
    {
        // The send period and the log rotation size are shown in coarser units than stored.
        QTest::addColumn<Units>("row");
        QTest::newRow("whole minutes, 3 typed") << Units{true, 120000, 2, 2, 2, 3, 180000};
        QTest::newRow("1.5 s shown in ms") << Units{true, 1500, 1, 1500, 0, -1, 1500};
        QTest::newRow("unknown unit counts as ms") << Units{true, 900, 9, 900, 0, 250, 250};
        QTest::newRow("odd size untouched stays exact") << Units{false, 1500000, 0, 1, 0, -1, 1500000};
        QTest::newRow("typed 3 MiB") << Units{false, 104857600, 0, 100, 0, 3, 3145728};
        QTest::newRow("largest") << Units{false, 104857600, 0, 100, 0, 2047, 2047 * 1048576};
    }

    void coarseUnits()
    {
        QFETCH(Units, row);
        FormatSetting s;
        (row.send ? s.SendInterval : s.LogRotateSize) = row.stored;
        s.SendTimeUnit = row.unit;
        m_panel->loadControls(s);
        auto *spin = find<QSpinBox>(row.send ? QStringLiteral("sendIntervalSpinBox") : QStringLiteral("rotateSizeSpinBox"));
        QCOMPARE(spin->value(), row.shown);
        QCOMPARE(find<QComboBox>(QStringLiteral("sendTimeUnitBox"))->currentData().toInt(), row.shownUnit);
        if (row.send) // no send period beyond one day, in any unit
            QCOMPARE(qint64(spin->maximum()) * (row.shownUnit == 2 ? 60000 : row.shownUnit == 1 ? 1000 : 1), qint64(86400000));
        if (row.typed >= 0)
            spin->setValue(row.typed);
        FormatSetting out;
        m_panel->storeControls(out);
        QCOMPARE(row.send ? out.SendInterval : out.LogRotateSize, row.result);
        QCOMPARE(out.SendTimeUnit, row.shownUnit);
    }

    void patterns()
    {
        // Blank stamp and log patterns store the defaults.
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

        // The log name preview follows the typed pattern; a chosen file without a suffix gets ".log".
        m_panel->setSessionName(QStringLiteral("bench"));
        find<QLineEdit>(QStringLiteral("filePathEdit"))->setText(QStringLiteral("/tmp/%S_%Y.log"));
        QCOMPARE(find<QLabel>(QStringLiteral("logNameResultLabel"))->text(),
                 QStringLiteral("/tmp/bench_%1.log").arg(QDate::currentDate().year()));
        QCOMPARE(SettingsPanel::withLogSuffix(QStringLiteral("/tmp/x.d/port1")), QStringLiteral("/tmp/x.d/port1.log"));
        QCOMPARE(SettingsPanel::withLogSuffix(QStringLiteral("/tmp/port1.txt")), QStringLiteral("/tmp/port1.txt"));
        QCOMPARE(SettingsPanel::withLogSuffix(QString()), QString());
    }

    void layoutReadsBack()
    {
        QuickSettingsLayout layout;
        layout.showConnection = layout.showSend = false;
        layout.fieldOrder.insert(QStringLiteral("connection"), words("flowControl stopBits parity dataBits baudRate"));
        layout.hiddenFields.insert(QStringLiteral("connection"), words("parity baudRate"));
        // Not shown by the editor, but must survive it.
        layout.fieldOrder.insert(QStringLiteral("controlLines"), words("cts rts"));
        layout.hiddenFields.insert(QStringLiteral("controlLines"), words("ri"));
        // Explicit lists equal to the usual order stay explicit.
        layout.fieldOrder.insert(QStringLiteral("receive"), words("rxFormat rxAutoFeed rxDisplayTime"));
        layout.hiddenFields.insert(QStringLiteral("receive"), QStringList());
        // Repeated and unknown names go; the fields left out follow in their usual order.
        layout.groupOrder = words("send bogus send");
        layout.fieldOrder.insert(QStringLiteral("send"), words("txLoop nonsense txLoop txFormat"));
        m_editor->setQuickLayout(layout);
        QuickSettingsLayout expected = layout;
        expected.groupOrder = words("send connection receive");
        expected.fieldOrder.insert(QStringLiteral("send"), words("txLoop txFormat txAutoFeed txTerminalEnter txChecksum "
                                                                 "txDisplaySend txLineByLine"));
        QCOMPARE(m_editor->quickLayout(), expected);
    }

    void moves_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("clicks"); // "up" / "down"
        QTest::addColumn<QString>("parentKey");  // empty: top level
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("group down twice, then past the end")
            << "connection" << words("down down down") << "" << words("receive send connection");
        QTest::newRow("group up at the top") << "connection" << words("up") << "" << words("connection receive send");
        QTest::newRow("field up") << "parity" << words("up up") << "connection"
                                  << words("parity baudRate dataBits stopBits flowControl");
    }

    void moves()
    {
        QFETCH(QString, key);
        QFETCH(QStringList, clicks);
        QFETCH(QString, parentKey);
        QFETCH(QStringList, expected);
        auto *up = m_editor->findChild<QPushButton *>(QStringLiteral("quickSettingsMoveUpButton"));
        auto *down = m_editor->findChild<QPushButton *>(QStringLiteral("quickSettingsMoveDownButton"));
        treeItem(QStringLiteral("txLoop"))->setCheckState(0, Qt::Unchecked);
        QTreeWidgetItem *item = treeItem(key);
        tree()->setCurrentItem(item);
        for (const QString &c : clicks)
            QTest::mouseClick(c == QLatin1String("up") ? up : down, Qt::LeftButton);
        QCOMPARE(tree()->currentItem(), item);
        const QuickSettingsLayout l = m_editor->quickLayout();
        if (parentKey.isEmpty()) {
            QCOMPARE(l.groupOrder, expected);
            QVERIFY(item->isExpanded());
        } else {
            QCOMPARE(l.fieldOrder.value(parentKey), expected);
        }
        // A move carries the field's check state along and touches no other group.
        QCOMPARE(l.hiddenFields.value(QStringLiteral("send")), QStringList{QStringLiteral("txLoop")});
        QCOMPARE(treeItem(QStringLiteral("send"))->childCount(), 7);
    }

    void okChecks_data()
    {
        QTest::addColumn<QString>("firstPath");
        QTest::addColumn<bool>("firstLogging");
        QTest::addColumn<QString>("secondPath");
        QTest::addColumn<bool>("quickGroups");
        QTest::addColumn<int>("badTab"); // -1: accepted, else warned about, with that tab in front
        QTest::newRow("second short after trimming") << "/tmp/a.log" << true << "  ab " << true << 1;
        QTest::newRow("first empty") << "" << true << "/tmp/b.log" << true << 0;
        QTest::newRow("short but not logging") << "xy" << false << "/tmp/b.log" << true << -1;
        QTest::newRow("no quick settings group") << "/tmp/a.log" << true << "/tmp/b.log" << false << 2;
    }

    void okChecks()
    {
        QFETCH(QString, firstPath);
        QFETCH(bool, firstLogging);
        QFETCH(QString, secondPath);
        QFETCH(bool, quickGroups);
        QFETCH(int, badTab);
        MultiPortSettingDlg dlg(2);
        watch(dlg);
        FormatSetting first = loggingPane(firstPath);
        first.LogSaveFlag = firstLogging;
        dlg.setSettings(0, first);
        dlg.setSettings(1, loggingPane(secondPath));
        QuickSettingsLayout quick;
        quick.showConnection = quick.showReceive = quick.showSend = quickGroups;
        dlg.setQuickSettingsLayout(quick);
        dlg.show();
        QTest::mouseClick(child<QPushButton>(&dlg, "pbOK"), Qt::LeftButton);
        if (badTab < 0) {
            QCOMPARE(m_warnings, QStringList());
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            return;
        }
        QCOMPARE(m_warnings.size(), 1);
        QVERIFY(dlg.isVisible());
        // The offending tab is brought forward, the user's text is kept.
        QCOMPARE(child<QTabWidget>(&dlg, "panelTabs")->currentIndex(), badTab);
        if (badTab < 2)
            QCOMPARE(child<QLineEdit>(dlg.panel(badTab), "filePathEdit")->text(), badTab == 0 ? firstPath : secondPath);
    }

    void applyStoresCancelKeeps()
    {
        MultiPortSettingDlg dlg(2);
        watch(dlg);
        dlg.setSettings(1, loggingPane(QStringLiteral("/tmp/p.log")));
        dlg.show();
        auto *spin = child<QSpinBox>(dlg.panel(1), "autoFeedIntervalSpinBox");
        spin->setValue(321);
        QCOMPARE(dlg.settings(1).AutoFeedInterval, 55); // not before Apply
        QTest::mouseClick(child<QPushButton>(&dlg, "pbApply"), Qt::LeftButton);
        QCOMPARE(dlg.settings(1).AutoFeedInterval, 321);
        QVERIFY(dlg.isVisible());

        spin->setValue(999);
        QTest::mouseClick(child<QPushButton>(&dlg, "pbCancel"), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(dlg.settings(1).AutoFeedInterval, 321);
        QVERIFY(m_warnings.isEmpty());
    }

    void restoreDefaults_data()
    {
        QTest::addColumn<int>("answer"); // 1 restore, 0 cancel, -1 Enter on the shipped question
        QTest::newRow("restore") << 1;
        QTest::newRow("cancel") << 0;
        QTest::newRow("Enter on the real question cancels") << -1;
    }

    void restoreDefaults()
    {
        QFETCH(int, answer);
        MultiPortSettingDlg dlg(answer < 0 ? 1 : 2); // one pane: the quick settings are a page of its panel
        watch(dlg);
        FormatSetting odd = loggingPane(QStringLiteral("/tmp/odd.log"));
        odd.ConnMode = 2;
        odd.SendChecksum = 5;
        for (int i = 0; i < dlg.panelCount(); ++i)
            dlg.setSettings(i, odd);
        QuickSettingsLayout layout;
        layout.showSend = false;
        dlg.setQuickSettingsLayout(layout);
        dlg.show();

        int asked = 0;
        if (answer >= 0) {
            dlg.setQuestionHook([&](const QString &, const QString &) { return ++asked && answer; });
        } else {
            // Runs inside the box's own event loop; Enter must not wipe the settings.
            QTimer::singleShot(0, &dlg, [&] {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                    asked += box->defaultButton() == box->button(QMessageBox::Cancel);
                    QTest::keyClick(box, Qt::Key_Return);
                    if (box->isVisible())
                        box->reject(); // never leave the test waiting on a modal loop
                }
            });
        }
        QTest::mouseClick(child<QPushButton>(&dlg, "pbRestoreDefaults"), Qt::LeftButton);
        QCOMPARE(asked, 1);
        QCOMPARE(dlg.defaultsRestored(), answer == 1);
        QCOMPARE(dlg.quickSettingsLayout() == QuickSettingsLayout(), answer == 1);
        QCOMPARE(dlg.panel(0)->connectionEditor()->connectionMode(), answer == 1 ? 0 : 2);

        // OK then hands the defaults over as the records.
        QTest::mouseClick(child<QPushButton>(&dlg, "pbOK"), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        for (int i = 0; i < dlg.panelCount(); ++i)
            QVERIFY(dlg.settings(i).sameStoredValues(answer == 1 ? FormatSetting::builtInDefaults() : odd));
    }

private:
    QComboBox *box(const char *name) { return child<QComboBox>(m_widget.get(), name); }
    QString pageName() { return child<QStackedWidget>(m_widget.get(), "pageStack")->currentWidget()->objectName(); }
    void choose(const char *name, const QVariant &data) { box(name)->setCurrentIndex(box(name)->findData(data)); }
    void type(const QString &text, bool confirm)
    {
        box("portBox")->lineEdit()->selectAll();
        QTest::keyClicks(box("portBox")->lineEdit(), text);
        if (confirm)
            QTest::keyClick(box("portBox")->lineEdit(), Qt::Key_Return);
    }

    std::unique_ptr<ConnectionSettingsWidget> m_widget;
    const PortList m_ports{named(QStringLiteral("ttyS0")), {QStringLiteral("ttyUSB1"), QStringLiteral("CDC"), true, 0x2e8a, 0xa}};

    template<typename T> T *find(const QString &name) { return child<T>(m_panel.get(), name); }
    std::unique_ptr<SettingsPanel> m_panel;

    QTreeWidget *tree() { return m_editor->findChild<QTreeWidget *>(QStringLiteral("quickSettingsTree")); }
    QTreeWidgetItem *treeItem(const QString &key)
    {
        const auto items = tree()->findItems(QStringLiteral("*"), Qt::MatchWildcard | Qt::MatchRecursive);
        for (QTreeWidgetItem *item : items) {
            if (item->data(0, Qt::UserRole).toString() == key)
                return item;
        }
        qFatal("no item %s", qPrintable(key));
    }
    std::unique_ptr<QuickSettingsEditor> m_editor;

    QStringList m_warnings;
    void watch(MultiPortSettingDlg &dlg)
    {
        m_warnings.clear();
        dlg.setWarningHook([this](const QString &title, const QString &text) { m_warnings << title + u'|' + text; });
    }
};

QTEST_MAIN(tst_SettingsDialogs)
#include "tst_settingsdialogs.moc"
