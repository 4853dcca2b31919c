#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

struct FormatSetting;
class QComboBox;

namespace Ui {
class ConnectionSettingsWidget;
}

// Compact connection editor: the port box (serial ports, "TCP/UDP", remote
// serial, or a typed device path), the network mode and one page per mode.
class ConnectionSettingsWidget : public QWidget
{
    Q_OBJECT
public:
    // One serial port as the system reports it.
    struct PortEntry
    {
        QString name;
        QString description;
        bool hasIds = false;
        quint16 vendorId = 0;
        quint16 productId = 0;
    };

    explicit ConnectionSettingsWidget(QWidget *parent = nullptr);
    ~ConnectionSettingsWidget() override;

    static QList<PortEntry> systemPorts();
    static QString portEntryText(const PortEntry &entry);

    // Refills the port box with signals blocked, keeping the selection and a
    // typed or vanished device; does nothing when the list is unchanged.
    void refillPorts(const QList<PortEntry> &ports);
    void refreshPorts() { refillPorts(systemPorts()); }

    // Shows a record's connection fields; emits nothing.
    void loadFrom(const FormatSetting &settings);
    // Writes the fields of the selected mode's page; the others stay as they are.
    void storeTo(FormatSetting &settings);

    bool isSerialPortSelected() const;
    int connectionMode() const;
    QString portName() const;
    // The chosen bind address as a QHostAddress::SpecialAddress value (Any outside the server pages).
    int bindAddress() const;

    // Quick-settings layout of the serial page: rows in `order` first, the
    // rest after them in their usual order; rows in `hidden` are hidden.
    void applySerialFieldLayout(const QStringList &order, const QStringList &hidden);
    static QStringList serialFieldKeys();

signals:
    void connectionConfigChanged();
    void settingsEdited();

private slots:
    // Connected by name by the form.
    void on_portBox_currentIndexChanged(int index);
    void on_modeBox_currentIndexChanged(int index);
    void on_baudRateBox_currentIndexChanged(int index);
    void on_baudRateBox_currentTextChanged(const QString &text);
    void on_dataBitsBox_currentIndexChanged(int index);
    void on_parityBox_currentIndexChanged(int index);
    void on_stopBitsBox_currentIndexChanged(int index);
    void on_flowControlBox_currentIndexChanged(int index);
    void on_tcpClientHostBox_currentTextChanged(const QString &text);
    void on_udpClientHostBox_currentTextChanged(const QString &text);
    void on_rfc2217UseRemoteBox_toggled(bool checked);

private:
    void commitTypedPort();
    void selectPortData(const QVariant &data);
    int insertExtraPort(const QString &name);
    void showPageForSelection();
    void setHostHistory(const QStringList &history);
    // The box's entries with the host in its edit first.
    static QStringList hostHistory(const QComboBox *box);
    static QStringList pushHost(const QStringList &history, const QString &host);
    static void showSerial(QComboBox *baud, QComboBox *data, QComboBox *parity, QComboBox *stop,
                           QComboBox *flow, const FormatSetting &s);

    std::unique_ptr<Ui::ConnectionSettingsWidget> ui;
    // A mode no page offers (unassigned, UDP group) survives until the user picks another.
    int m_keptMode = -1;
};
