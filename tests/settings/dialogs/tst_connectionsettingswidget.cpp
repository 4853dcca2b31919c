#include "connection/connectionmode.h"
#include "settings/dialogs/connectionsettingswidget.h"
#include "tests/settings/settingstest.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>

using PortList = QList<ConnectionSettingsWidget::PortEntry>;
static ConnectionSettingsWidget::PortEntry named(const QString &name)
{
    return {name, {}, false, 0, 0};
}

class tst_ConnectionSettingsWidget : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_widget = std::make_unique<ConnectionSettingsWidget>();
        m_widget->refillPorts(m_ports);
        m_widget->show();
    }
    void modes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("fields"); // some of what the page edits
        const auto names = [](const char *text) { return QString::fromLatin1(text).split(QLatin1Char(' ')); };
        QTest::newRow("serial") << int(SerialPort) << "serialPage" << names("parityBox");
        QTest::newRow("tcp server") << int(TcpServer) << "tcpServerPage" << names("tcpServerPortBox tcpServerBindBox");
        QTest::newRow("tcp client") << int(TcpClient) << "tcpClientPage" << names("tcpClientHostBox tcpClientPortBox");
        QTest::newRow("udp server") << int(UdpServer) << "udpServerPage" << names("udpServerPortBox");
        const QStringList udp = names("udpClientHostBox udpClientPortBox udpClientLocalPortBox");
        QTest::newRow("udp client") << int(UdpClient) << "udpClientPage" << udp;
        QTest::newRow("udp group") << int(UdpGroup) << "udpClientPage" << udp;
        QTest::newRow("remote serial") << int(RemoteSerial) << "rfc2217Page" << names("rfc2217HostBox rfc2217PortBox rfc2217FlowControlBox");
        QTest::newRow("unassigned") << int(Unassigned) << "tcpClientPage" << names("tcpClientHostBox tcpClientPortBox");
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
        // editing the page then only reports an edit, and storing takes that page (the
        // settings panel's round trip checks where each field goes).
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
    }

    void typedDevicePaths()
    {
        QSignalSpy config(m_widget.get(), &ConnectionSettingsWidget::connectionConfigChanged);
        const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_X-if00-port0");
        for (const QString &path : {QStringLiteral("/dev/pts/3"), byId}) {
            type(path, true);
            QCOMPARE(m_widget->portName(), path);
        }
        QCOMPARE(config.count(), 2);
        QCOMPARE(box("portBox")->count(), 5); // the second path replaced the first typed entry

        // The enumeration never lists it; a refill must not drop it.
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
    }

    void refillKeepsSelectionAndTyping()
    {
        FormatSetting s = unusualPane(SerialPort);
        s.PortName = QStringLiteral("ttyUSB1");
        m_widget->loadFrom(s);
        QSignalSpy config(m_widget.get(), &ConnectionSettingsWidget::connectionConfigChanged);
        QSignalSpy edited(m_widget.get(), &ConnectionSettingsWidget::settingsEdited);
        m_widget->refillPorts(PortList{named(QStringLiteral("ttyACM0"))} + m_ports);
        QCOMPARE(box("portBox")->currentIndex(), 2);
        // Gone for the moment: still selected; back: the listed entry replaces the stand-in.
        m_widget->refillPorts(PortList{named(QStringLiteral("ttyS0"))});
        QCOMPARE(m_widget->portName(), QStringLiteral("ttyUSB1"));
        m_widget->refillPorts(m_ports);
        QCOMPARE(box("portBox")->count(), 4);
        QCOMPARE(box("portBox")->currentText(), QStringLiteral("ttyUSB1 - CDC [2E8A:000A]")); // ids in hex, padded

        m_widget->loadFrom(unusualPane(RemoteSerial));
        m_widget->refillPorts(PortList{named(QStringLiteral("ttyS0"))});
        QCOMPARE(m_widget->connectionMode(), int(RemoteSerial));
        QCOMPARE(config.count() + edited.count(), 0);

        // While the user types a path, a refill leaves the text alone.
        type(QStringLiteral("/dev/pt"), false);
        m_widget->refillPorts(m_ports);
        QCOMPARE(box("portBox")->currentText(), QStringLiteral("/dev/pt"));
        m_widget->refillPorts(m_ports);
        QCOMPARE(box("portBox")->currentText(), QStringLiteral("/dev/pt"));
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
        const auto words = [](const char *text) { return QString::fromLatin1(text).split(QLatin1Char(' ')); };
        const QStringList hidden = words("baudRate flowControl");
        m_widget->applySerialFieldLayout(words("stopBits nonsense stopBits dataBits"), hidden);
        auto *form = child<QFormLayout>(m_widget.get(), "serialLayout");
        QStringList shown;
        for (int row = 0; row < form->rowCount(); ++row) {
            QWidget *field = form->itemAt(row, QFormLayout::FieldRole)->widget();
            shown << field->objectName().chopped(3); // "Box"
            QCOMPARE(field->isVisibleTo(m_widget.get()), !hidden.contains(shown.last()));
            QCOMPARE(form->itemAt(row, QFormLayout::LabelRole)->widget()->isVisibleTo(m_widget.get()), field->isVisibleTo(m_widget.get()));
        }
        QCOMPARE(shown, words("stopBits dataBits baudRate parity flowControl"));
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
};

QTEST_MAIN(tst_ConnectionSettingsWidget)
#include "tst_connectionsettingswidget.moc"
