#include "connection/connectionmode.h"
#include "settings/dialogs/connectionsettingswidget.h"
#include "settings/formatsetting.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>

using PortList = QList<ConnectionSettingsWidget::PortEntry>;

static ConnectionSettingsWidget::PortEntry port(const QString &name, const QString &description = QString(),
                                               int vid = -1, int pid = -1)
{
    ConnectionSettingsWidget::PortEntry e;
    e.name = name;
    e.description = description;
    e.hasIds = vid >= 0;
    e.vendorId = quint16(vid);
    e.productId = quint16(pid);
    return e;
}

// Every connection field away from its default.
static FormatSetting unusualConnection(int mode)
{
    FormatSetting s;
    s.ConnMode = mode;
    s.PortName = QStringLiteral("ttyUSB1");
    s.BaudRate = 115200;
    s.DataBits = 7;
    s.StopBits = 2;
    s.Parity = 3;
    s.FlowControl = 2;
    s.LastTargetHost = {QStringLiteral("10.1.2.3"), QStringLiteral("example.net")};
    s.LastTargetPort = 5020;
    s.UdpLocalPort = 40123;
    s.UseRemoteSerialConfig = false;
    return s;
}

class tst_ConnectionSettingsWidget : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void portEntryText_data();
    void portEntryText();
    void listOrderAndData();
    void pages_data();
    void pages();
    void typedDevicePathIsKept();
    void typedListedNameSelectsIt();
    void unlistedPortFromRecordIsKept();
    void refillKeepsSelectionSilently();
    void vanishedPortStaysSelected();
    void unchangedListKeepsTyping();
    void signalsByKindOfEdit_data();
    void signalsByKindOfEdit();
    void loadEmitsNothing();
    void customBaudRate_data();
    void customBaudRate();
    void remoteParametersFollowKeepBox();
    void modesWithoutEntrySurviveUntilChanged_data();
    void modesWithoutEntrySurviveUntilChanged();
    void hostHistoryMovesUsedHostFirst();
    void serialFieldLayout_data();
    void serialFieldLayout();

private:
    template<typename T> T *child(const char *name)
    {
        T *w = m_widget->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("missing child %s", name);
        return w;
    }
    QString pageName() { return child<QStackedWidget>("pageStack")->currentWidget()->objectName(); }

    ConnectionSettingsWidget *m_widget = nullptr;
};

void tst_ConnectionSettingsWidget::init()
{
    m_widget = new ConnectionSettingsWidget;
    m_widget->refillPorts({port(QStringLiteral("ttyS0")), port(QStringLiteral("ttyUSB1"), QStringLiteral("FT232R"), 0x403, 0x6001)});
    m_widget->show();
}

void tst_ConnectionSettingsWidget::cleanup()
{
    delete m_widget;
    m_widget = nullptr;
}

void tst_ConnectionSettingsWidget::portEntryText_data()
{
    QTest::addColumn<ConnectionSettingsWidget::PortEntry>("entry");
    QTest::addColumn<QString>("text");
    QTest::newRow("name only") << port(QStringLiteral("ttyS0")) << QStringLiteral("ttyS0");
    QTest::newRow("with description") << port(QStringLiteral("COM3"), QStringLiteral("USB Serial"))
                                      << QStringLiteral("COM3 - USB Serial");
    QTest::newRow("ids in hex, padded") << port(QStringLiteral("ttyACM0"), QStringLiteral("CDC"), 0x2e8a, 0xa)
                                        << QStringLiteral("ttyACM0 - CDC [2E8A:000A]");
}

void tst_ConnectionSettingsWidget::portEntryText()
{
    QFETCH(ConnectionSettingsWidget::PortEntry, entry);
    QFETCH(QString, text);
    QCOMPARE(ConnectionSettingsWidget::portEntryText(entry), text);
}

void tst_ConnectionSettingsWidget::listOrderAndData()
{
    auto *box = child<QComboBox>("portBox");
    QCOMPARE(box->count(), 4);
    QCOMPARE(box->itemText(1), QStringLiteral("ttyUSB1 - FT232R [0403:6001]"));
    QCOMPARE(box->itemData(1).toString(), QStringLiteral("ttyUSB1"));
    QCOMPARE(box->itemText(2), QStringLiteral("TCP/UDP"));
    QCOMPARE(box->itemData(2).toInt(), -1);
    QCOMPARE(box->itemText(3), QStringLiteral("Remote Serial (RFC 2217)"));
    QCOMPARE(box->itemData(3).toInt(), 7);
    QVERIFY(box->isEditable());
}

void tst_ConnectionSettingsWidget::pages_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("modeBoxShown");
    QTest::addColumn<bool>("serialSelected");
    QTest::newRow("serial") << 0 << QStringLiteral("serialPage") << false << true;
    QTest::newRow("tcp server") << 1 << QStringLiteral("tcpServerPage") << true << false;
    QTest::newRow("tcp client") << 2 << QStringLiteral("tcpClientPage") << true << false;
    QTest::newRow("udp server") << 4 << QStringLiteral("udpServerPage") << true << false;
    QTest::newRow("udp client") << 5 << QStringLiteral("udpClientPage") << true << false;
    QTest::newRow("remote serial") << 7 << QStringLiteral("rfc2217Page") << false << false;
}

void tst_ConnectionSettingsWidget::pages()
{
    QFETCH(int, mode);
    QFETCH(QString, page);
    QFETCH(bool, modeBoxShown);
    QFETCH(bool, serialSelected);
    m_widget->loadFrom(unusualConnection(mode));
    QCOMPARE(pageName(), page);
    QCOMPARE(child<QComboBox>("modeBox")->isVisible(), modeBoxShown);
    QCOMPARE(m_widget->isSerialPortSelected(), serialSelected);
    QCOMPARE(m_widget->connectionMode(), mode);
    QCOMPARE(m_widget->portName(), serialSelected ? QStringLiteral("ttyUSB1") : QString());
}

void tst_ConnectionSettingsWidget::typedDevicePathIsKept()
{
    QSignalSpy config(m_widget, &ConnectionSettingsWidget::connectionConfigChanged);
    auto *box = child<QComboBox>("portBox");
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("/dev/pts/3"));
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QVERIFY(m_widget->isSerialPortSelected());
    QCOMPARE(m_widget->portName(), QStringLiteral("/dev/pts/3"));
    QCOMPARE(pageName(), QStringLiteral("serialPage"));
    QCOMPARE(config.count(), 1);

    // A second path replaces the first typed entry rather than piling up.
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("/dev/serial/by-id/usb-FTDI_X-if00-port0"));
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QCOMPARE(m_widget->portName(), QStringLiteral("/dev/serial/by-id/usb-FTDI_X-if00-port0"));
    QCOMPARE(config.count(), 2);
    QCOMPARE(box->count(), 5);

    // The enumeration never lists it; a refill must not drop it.
    m_widget->refillPorts({port(QStringLiteral("ttyS0"))});
    QCOMPARE(m_widget->portName(), QStringLiteral("/dev/serial/by-id/usb-FTDI_X-if00-port0"));
    FormatSetting out;
    m_widget->storeTo(out);
    QCOMPARE(out.ConnMode, 0);
    QCOMPARE(out.PortName, QStringLiteral("/dev/serial/by-id/usb-FTDI_X-if00-port0"));
}

void tst_ConnectionSettingsWidget::typedListedNameSelectsIt()
{
    auto *box = child<QComboBox>("portBox");
    m_widget->loadFrom(unusualConnection(TcpClient));
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("ttyS0"));
    FormatSetting out;
    m_widget->storeTo(out); // typed but not confirmed: storing takes it
    QCOMPARE(out.ConnMode, 0);
    QCOMPARE(out.PortName, QStringLiteral("ttyS0"));
    QCOMPARE(box->currentIndex(), 0);
    QCOMPARE(box->count(), 4);
}

void tst_ConnectionSettingsWidget::unlistedPortFromRecordIsKept()
{
    FormatSetting s = unusualConnection(SerialPort);
    s.PortName = QStringLiteral("/dev/pts/7");
    m_widget->loadFrom(s);
    QVERIFY(m_widget->isSerialPortSelected());
    FormatSetting out;
    m_widget->storeTo(out);
    QCOMPARE(out.PortName, s.PortName);
}

void tst_ConnectionSettingsWidget::refillKeepsSelectionSilently()
{
    m_widget->loadFrom(unusualConnection(SerialPort)); // ttyUSB1
    QSignalSpy config(m_widget, &ConnectionSettingsWidget::connectionConfigChanged);
    QSignalSpy edited(m_widget, &ConnectionSettingsWidget::settingsEdited);
    m_widget->refillPorts({port(QStringLiteral("ttyACM0")), port(QStringLiteral("ttyS0")),
                           port(QStringLiteral("ttyUSB1"), QStringLiteral("FT232R"), 0x403, 0x6001)});
    QCOMPARE(m_widget->portName(), QStringLiteral("ttyUSB1"));
    QCOMPARE(child<QComboBox>("portBox")->currentIndex(), 2);
    QCOMPARE(config.count(), 0);
    QCOMPARE(edited.count(), 0);

    m_widget->loadFrom(unusualConnection(RemoteSerial));
    m_widget->refillPorts({port(QStringLiteral("ttyS0"))});
    QCOMPARE(m_widget->connectionMode(), 7);
    QCOMPARE(pageName(), QStringLiteral("rfc2217Page"));
    QCOMPARE(config.count(), 0);
}

void tst_ConnectionSettingsWidget::vanishedPortStaysSelected()
{
    m_widget->loadFrom(unusualConnection(SerialPort));
    m_widget->refillPorts({port(QStringLiteral("ttyS0"))});
    QCOMPARE(m_widget->portName(), QStringLiteral("ttyUSB1"));
    // Back in the list: the listed entry is used and the stand-in is gone.
    m_widget->refillPorts({port(QStringLiteral("ttyS0")), port(QStringLiteral("ttyUSB1"), QStringLiteral("FT232R"))});
    auto *box = child<QComboBox>("portBox");
    QCOMPARE(box->count(), 4);
    QCOMPARE(box->currentText(), QStringLiteral("ttyUSB1 - FT232R"));
}

void tst_ConnectionSettingsWidget::unchangedListKeepsTyping()
{
    auto *box = child<QComboBox>("portBox");
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("/dev/pt"));
    m_widget->refillPorts({port(QStringLiteral("ttyS0")), port(QStringLiteral("ttyUSB1"), QStringLiteral("FT232R"), 0x403, 0x6001)});
    QCOMPARE(box->currentText(), QStringLiteral("/dev/pt"));
    m_widget->refillPorts({port(QStringLiteral("ttyS0"))});
    QCOMPARE(box->currentText(), QStringLiteral("/dev/pt"));
}

void tst_ConnectionSettingsWidget::signalsByKindOfEdit_data()
{
    QTest::addColumn<QString>("boxName");
    QTest::addColumn<int>("startMode");
    QTest::addColumn<int>("configChanges");
    QTest::addColumn<bool>("edited");
    QTest::newRow("port") << QStringLiteral("portBox") << 0 << 1 << false;
    QTest::newRow("mode") << QStringLiteral("modeBox") << 2 << 1 << false;
    QTest::newRow("parity") << QStringLiteral("parityBox") << 0 << 0 << true;
    QTest::newRow("data bits") << QStringLiteral("dataBitsBox") << 0 << 0 << true;
    QTest::newRow("bind") << QStringLiteral("tcpServerBindBox") << 1 << 0 << true;
    QTest::newRow("remote flow") << QStringLiteral("rfc2217FlowControlBox") << 7 << 0 << true;
}

void tst_ConnectionSettingsWidget::signalsByKindOfEdit()
{
    QFETCH(QString, boxName);
    QFETCH(int, startMode);
    QFETCH(int, configChanges);
    QFETCH(bool, edited);
    m_widget->loadFrom(unusualConnection(startMode));
    QSignalSpy config(m_widget, &ConnectionSettingsWidget::connectionConfigChanged);
    QSignalSpy edits(m_widget, &ConnectionSettingsWidget::settingsEdited);
    auto *box = child<QComboBox>(qPrintable(boxName));
    box->setCurrentIndex((box->currentIndex() + 1) % box->count());
    QCOMPARE(config.count(), configChanges);
    QCOMPARE(edits.count() > 0, edited);
}

void tst_ConnectionSettingsWidget::loadEmitsNothing()
{
    QSignalSpy config(m_widget, &ConnectionSettingsWidget::connectionConfigChanged);
    QSignalSpy edits(m_widget, &ConnectionSettingsWidget::settingsEdited);
    for (int mode : {7, 0, 1, 5, 2})
        m_widget->loadFrom(unusualConnection(mode));
    QCOMPARE(config.count(), 0);
    QCOMPARE(edits.count(), 0);
}

void tst_ConnectionSettingsWidget::customBaudRate_data()
{
    QTest::addColumn<QString>("boxName");
    QTest::addColumn<int>("mode");
    QTest::newRow("serial") << QStringLiteral("baudRateBox") << 0;
    QTest::newRow("remote serial") << QStringLiteral("rfc2217BaudRateBox") << 7;
}

void tst_ConnectionSettingsWidget::customBaudRate()
{
    QFETCH(QString, boxName);
    QFETCH(int, mode);
    FormatSetting s = unusualConnection(mode);
    m_widget->loadFrom(s);
    auto *box = child<QComboBox>(qPrintable(boxName));
    QVERIFY(!box->isEditable());
    box->setCurrentIndex(box->findText(QStringLiteral("Custom")));
    QVERIFY(box->isEditable());
    QCOMPARE(box->currentText(), QString());
    QTest::keyClicks(box->lineEdit(), QStringLiteral("25x0000")); // the validator drops the letter
    FormatSetting out;
    m_widget->storeTo(out);
    QCOMPARE(out.BaudRate, 250000);

    // A stored rate that is not listed comes back in the custom edit.
    m_widget->loadFrom(out);
    QVERIFY(box->isEditable());
    QCOMPARE(box->currentText(), QStringLiteral("250000"));

    box->setCurrentIndex(box->findData(19200));
    QVERIFY(!box->isEditable());
    m_widget->storeTo(out);
    QCOMPARE(out.BaudRate, 19200);
}

void tst_ConnectionSettingsWidget::remoteParametersFollowKeepBox()
{
    FormatSetting s = unusualConnection(RemoteSerial);
    s.UseRemoteSerialConfig = true;
    m_widget->loadFrom(s);
    auto *keep = child<QCheckBox>("rfc2217UseRemoteBox");
    auto *baud = child<QComboBox>("rfc2217BaudRateBox");
    QVERIFY(keep->isChecked());
    QVERIFY(!baud->isEnabled());
    QVERIFY(!child<QComboBox>("rfc2217FlowControlBox")->isEnabled());
    keep->setChecked(false);
    QVERIFY(baud->isEnabled());
    QVERIFY(child<QComboBox>("rfc2217ParityBox")->isEnabled());
    FormatSetting out;
    out.UseRemoteSerialConfig = true;
    m_widget->storeTo(out);
    QVERIFY(!out.UseRemoteSerialConfig);
}

void tst_ConnectionSettingsWidget::modesWithoutEntrySurviveUntilChanged_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("page");
    QTest::newRow("udp group") << int(UdpGroup) << QStringLiteral("udpClientPage");
    QTest::newRow("unassigned") << int(Unassigned) << QStringLiteral("tcpClientPage");
}

void tst_ConnectionSettingsWidget::modesWithoutEntrySurviveUntilChanged()
{
    QFETCH(int, mode);
    QFETCH(QString, page);
    m_widget->loadFrom(unusualConnection(mode));
    QCOMPARE(pageName(), page);
    FormatSetting out;
    m_widget->storeTo(out);
    QCOMPARE(out.ConnMode, mode);
    auto *modes = child<QComboBox>("modeBox");
    modes->setCurrentIndex(modes->findData(int(TcpServer)));
    m_widget->storeTo(out);
    QCOMPARE(out.ConnMode, int(TcpServer));
}

void tst_ConnectionSettingsWidget::hostHistoryMovesUsedHostFirst()
{
    m_widget->loadFrom(unusualConnection(TcpClient));
    auto *host = child<QComboBox>("tcpClientHostBox");
    host->setCurrentIndex(1);
    FormatSetting out = unusualConnection(TcpClient);
    m_widget->storeTo(out);
    QCOMPARE(out.LastTargetHost, (QStringList{QStringLiteral("example.net"), QStringLiteral("10.1.2.3")}));
    // A new host goes first; the box's entries follow. The record's own list
    // does not matter: the box is what the user saw.
    host->setEditText(QStringLiteral("192.0.2.9"));
    out.LastTargetHost = {QStringLiteral("unrelated")};
    m_widget->storeTo(out);
    QCOMPARE(out.LastTargetHost,
             (QStringList{QStringLiteral("192.0.2.9"), QStringLiteral("10.1.2.3"), QStringLiteral("example.net")}));
}

void tst_ConnectionSettingsWidget::serialFieldLayout_data()
{
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QStringList>("hidden");
    QTest::addColumn<QStringList>("expected");
    const QStringList all = ConnectionSettingsWidget::serialFieldKeys();
    QTest::newRow("default") << QStringList() << QStringList() << all;
    QTest::newRow("reversed, parity hidden")
        << QStringList{QStringLiteral("flowControl"), QStringLiteral("stopBits"), QStringLiteral("parity"),
                       QStringLiteral("dataBits"), QStringLiteral("baudRate")}
        << QStringList{QStringLiteral("parity")}
        << QStringList{QStringLiteral("flowControl"), QStringLiteral("stopBits"), QStringLiteral("parity"),
                       QStringLiteral("dataBits"), QStringLiteral("baudRate")};
    QTest::newRow("partial order, unknown and repeated names")
        << QStringList{QStringLiteral("stopBits"), QStringLiteral("nonsense"), QStringLiteral("stopBits"),
                       QStringLiteral("dataBits")}
        << QStringList{QStringLiteral("baudRate"), QStringLiteral("flowControl")}
        << QStringList{QStringLiteral("stopBits"), QStringLiteral("dataBits"), QStringLiteral("baudRate"),
                       QStringLiteral("parity"), QStringLiteral("flowControl")};
}

void tst_ConnectionSettingsWidget::serialFieldLayout()
{
    QFETCH(QStringList, order);
    QFETCH(QStringList, hidden);
    QFETCH(QStringList, expected);
    // Apply a different layout first: the second call must not depend on the first.
    m_widget->applySerialFieldLayout({QStringLiteral("parity")}, {QStringLiteral("stopBits")});
    m_widget->applySerialFieldLayout(order, hidden);
    auto *form = child<QFormLayout>("serialLayout");
    QCOMPARE(form->rowCount(), 5);
    QStringList shown;
    for (int row = 0; row < form->rowCount(); ++row) {
        QWidget *field = form->itemAt(row, QFormLayout::FieldRole)->widget();
        QString key = field->objectName();
        key.chop(3); // "Box"
        shown << key;
        QCOMPARE(field->isVisibleTo(m_widget), !hidden.contains(key));
        QCOMPARE(form->itemAt(row, QFormLayout::LabelRole)->widget()->isVisibleTo(m_widget), !hidden.contains(key));
    }
    QCOMPARE(shown, expected);
}

QTEST_MAIN(tst_ConnectionSettingsWidget)
#include "tst_connectionsettingswidget.moc"
