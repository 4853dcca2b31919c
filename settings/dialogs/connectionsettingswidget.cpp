#include "settings/dialogs/connectionsettingswidget.h"
#include "ui_connectionsettingswidget.h"

#include "connection/connectionmode.h"
#include "settings/formatsetting.h"
#include "settings/serialportlist.h"
#include "settings/dialogs/settingschoices.h"

#include <QLineEdit>
#include <QSerialPortInfo>
#include <QSignalBlocker>

using namespace SettingsChoices;

namespace {

// Marks the one port entry that was typed or has left the system's list.
constexpr int ExtraPortRole = Qt::UserRole + 1;
constexpr int NetworkData = -1;

bool isSerialData(const QVariant &data)
{
    return data.typeId() == QMetaType::QString && !data.toString().isEmpty();
}

bool sameData(const QVariant &a, const QVariant &b)
{
    if (a.typeId() == QMetaType::QString || b.typeId() == QMetaType::QString)
        return a.typeId() == b.typeId() && a.toString() == b.toString();
    return a.isValid() && b.isValid() && a.toInt() == b.toInt();
}

int findPortData(const QComboBox *box, const QVariant &data)
{
    for (int i = 0; i < box->count(); ++i) {
        if (sameData(box->itemData(i), data))
            return i;
    }
    return -1;
}

void setData(int &field, const QComboBox *box)
{
    if (box->currentIndex() >= 0 && box->currentData().isValid())
        field = box->currentData().toInt();
}

} // namespace

ConnectionSettingsWidget::ConnectionSettingsWidget(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ConnectionSettingsWidget>())
{
    const QSignalBlocker quiet(this);
    ui->setupUi(this);
    fillBaudRates(ui->baudRateBox);
    fillBaudRates(ui->rfc2217BaudRateBox);
    for (QComboBox *box : {ui->dataBitsBox, ui->rfc2217DataBitsBox})
        fillDataBits(box);
    for (QComboBox *box : {ui->parityBox, ui->rfc2217ParityBox})
        fillParity(box);
    for (QComboBox *box : {ui->stopBitsBox, ui->rfc2217StopBitsBox})
        fillStopBits(box);
    for (QComboBox *box : {ui->flowControlBox, ui->rfc2217FlowControlBox})
        fillFlowControl(box);
    fillNetworkModes(ui->modeBox);
    fillBindAddresses(ui->tcpServerBindBox);
    fillBindAddresses(ui->udpServerBindBox);
    for (QComboBox *box : {ui->tcpClientHostBox, ui->rfc2217HostBox, ui->udpClientHostBox}) {
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setCompleter(nullptr);
    }

    // Device paths are typed whole: completion would turn /dev/pts/1 into a listed name.
    ui->portBox->setInsertPolicy(QComboBox::NoInsert);
    ui->portBox->setCompleter(nullptr);
    ui->portBox->lineEdit()->setPlaceholderText(tr("Port name or device path"));
    connect(ui->portBox->lineEdit(), &QLineEdit::editingFinished, this, &ConnectionSettingsWidget::commitTypedPort);

    connect(ui->rfc2217BaudRateBox, &QComboBox::currentIndexChanged, this, [this] {
        followBaudChoice(ui->rfc2217BaudRateBox);
        emit settingsEdited();
    });
    connect(ui->rfc2217BaudRateBox, &QComboBox::currentTextChanged, this, &ConnectionSettingsWidget::settingsEdited);
    for (QComboBox *box : {ui->rfc2217DataBitsBox, ui->rfc2217ParityBox, ui->rfc2217StopBitsBox,
                           ui->rfc2217FlowControlBox, ui->tcpServerBindBox, ui->udpServerBindBox})
        connect(box, &QComboBox::currentIndexChanged, this, &ConnectionSettingsWidget::settingsEdited);
    connect(ui->rfc2217HostBox, &QComboBox::currentTextChanged, this, &ConnectionSettingsWidget::settingsEdited);
    for (QSpinBox *spin : {ui->tcpClientPortBox, ui->rfc2217PortBox, ui->tcpServerPortBox, ui->udpServerPortBox,
                           ui->udpClientPortBox, ui->udpClientLocalPortBox})
        connect(spin, &QSpinBox::valueChanged, this, &ConnectionSettingsWidget::settingsEdited);

    on_rfc2217UseRemoteBox_toggled(ui->rfc2217UseRemoteBox->isChecked());
    refreshPorts();
    showPageForSelection();
}

ConnectionSettingsWidget::~ConnectionSettingsWidget() = default;

QList<ConnectionSettingsWidget::PortEntry> ConnectionSettingsWidget::systemPorts()
{
    QList<PortEntry> ports;
    const auto infos = availableSerialPorts();
    for (const QSerialPortInfo &info : infos) {
        PortEntry e;
        e.name = info.portName();
        e.description = info.description();
        e.hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        e.vendorId = info.vendorIdentifier();
        e.productId = info.productIdentifier();
        ports << e;
    }
    return ports;
}

QString ConnectionSettingsWidget::portEntryText(const PortEntry &entry)
{
    QString text = entry.name;
    if (!entry.description.isEmpty())
        text += QStringLiteral(" - ") + entry.description;
    if (entry.hasIds) {
        text += QStringLiteral(" [%1:%2]")
                    .arg(entry.vendorId, 4, 16, QLatin1Char('0'))
                    .arg(entry.productId, 4, 16, QLatin1Char('0'))
                    .toUpper();
    }
    return text;
}

void ConnectionSettingsWidget::refillPorts(const QList<PortEntry> &ports)
{
    QComboBox *box = ui->portBox;
    QStringList texts, names;
    for (const PortEntry &e : ports) {
        texts << portEntryText(e);
        names << e.name;
    }
    QStringList oldTexts, oldNames;
    QString extraName;
    for (int i = 0; i < box->count(); ++i) {
        const QVariant data = box->itemData(i);
        if (box->itemData(i, ExtraPortRole).toBool())
            extraName = data.toString();
        else if (isSerialData(data)) {
            oldTexts << box->itemText(i);
            oldNames << data.toString();
        }
    }
    const bool hasFixedEntries = findPortData(box, QVariant(NetworkData)) >= 0;
    if (hasFixedEntries && texts == oldTexts && names == oldNames)
        return; // unchanged: leave the user's popup and typing alone

    const QVariant current = box->currentData();
    const QString editText = box->currentText();
    const bool userTyping = box->currentIndex() < 0 || editText != box->itemText(box->currentIndex());
    if (isSerialData(current))
        extraName = current.toString();

    const QSignalBlocker blocker(box);
    box->clear();
    for (int i = 0; i < texts.size(); ++i)
        box->addItem(texts.at(i), names.at(i));
    box->addItem(tr("TCP/UDP"), NetworkData);
    box->addItem(tr("Remote Serial (RFC 2217)"), int(RemoteSerial));
    // A pseudo-terminal, a by-id link or a device that is gone for the moment
    // stays choosable: the pane may still hold it or wait for it to return.
    if (!extraName.isEmpty() && !names.contains(extraName))
        insertExtraPort(extraName);
    const int index = current.isValid() ? findPortData(box, current) : -1;
    box->setCurrentIndex(index >= 0 ? index : 0);
    if (userTyping && hasFixedEntries)
        box->setEditText(editText);
    showPageForSelection();
}

int ConnectionSettingsWidget::insertExtraPort(const QString &name)
{
    QComboBox *box = ui->portBox;
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemData(i, ExtraPortRole).toBool()) {
            box->setItemText(i, name);
            box->setItemData(i, name);
            return i;
        }
    }
    int at = findPortData(box, QVariant(NetworkData));
    if (at < 0)
        at = box->count();
    box->insertItem(at, name, name);
    box->setItemData(at, true, ExtraPortRole);
    return at;
}

void ConnectionSettingsWidget::commitTypedPort()
{
    QComboBox *box = ui->portBox;
    const QString text = box->currentText().trimmed();
    const int current = box->currentIndex();
    if (current >= 0 && text == box->itemText(current))
        return;
    if (text.isEmpty()) {
        if (current >= 0)
            box->setEditText(box->itemText(current));
        return;
    }
    for (int i = 0; i < box->count(); ++i) {
        const QVariant data = box->itemData(i);
        if (box->itemText(i) == text || (isSerialData(data) && data.toString() == text)) {
            box->setCurrentIndex(i);
            box->setEditText(box->itemText(i));
            return;
        }
    }
    const int index = insertExtraPort(text);
    if (index == current) {
        // The typed entry was edited in place: no index change reports it.
        box->setEditText(text);
        m_keptMode = -1;
        showPageForSelection();
        emit connectionConfigChanged();
    } else {
        box->setCurrentIndex(index);
    }
}

void ConnectionSettingsWidget::selectPortData(const QVariant &data)
{
    const int index = findPortData(ui->portBox, data);
    ui->portBox->setCurrentIndex(index >= 0 ? index : 0);
}

void ConnectionSettingsWidget::showPageForSelection()
{
    const QVariant data = ui->portBox->currentData();
    const bool network = !isSerialData(data) && data.isValid() && data.toInt() == NetworkData;
    ui->modeLabel->setVisible(network);
    ui->modeBox->setVisible(network);
    QWidget *page = ui->serialPage;
    if (!isSerialData(data) && data.isValid() && data.toInt() == RemoteSerial) {
        page = ui->rfc2217Page;
    } else if (network) {
        switch (ui->modeBox->currentData().toInt()) {
        case TcpServer: page = ui->tcpServerPage; break;
        case UdpServer: page = ui->udpServerPage; break;
        case UdpClient:
        case UdpGroup: page = ui->udpClientPage; break;
        default: page = ui->tcpClientPage; break;
        }
    }
    ui->pageStack->setCurrentWidget(page);
    // Only the shown page may claim space, so the compact editor does not grow
    // to the tallest page.
    for (int i = 0; i < ui->pageStack->count(); ++i) {
        QWidget *w = ui->pageStack->widget(i);
        w->setSizePolicy(w == page ? QSizePolicy::Preferred : QSizePolicy::Ignored,
                         w == page ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    }
    ui->pageStack->updateGeometry();
    updateGeometry();
}

void ConnectionSettingsWidget::showSerial(QComboBox *baud, QComboBox *data, QComboBox *parity, QComboBox *stop,
                                          QComboBox *flow, const FormatSetting &s)
{
    showBaudRate(baud, s.BaudRate);
    selectData(data, s.DataBits);
    selectData(parity, s.Parity);
    selectData(stop, s.StopBits);
    selectData(flow, s.FlowControl);
}

void ConnectionSettingsWidget::setHostHistory(const QStringList &history)
{
    for (QComboBox *box : {ui->tcpClientHostBox, ui->rfc2217HostBox, ui->udpClientHostBox}) {
        box->clear();
        box->addItems(history);
        box->setCurrentIndex(history.isEmpty() ? -1 : 0);
        box->setEditText(history.value(0));
    }
}

QStringList ConnectionSettingsWidget::hostHistory(const QComboBox *box)
{
    QStringList history;
    for (int i = 0; i < box->count(); ++i)
        history << box->itemText(i);
    return pushHost(history, box->currentText().trimmed());
}

QStringList ConnectionSettingsWidget::pushHost(const QStringList &history, const QString &host)
{
    if (!history.isEmpty() && history.first() == host)
        return history;
    QStringList out{host};
    for (const QString &h : history) {
        if (h != host)
            out << h;
    }
    return out;
}

void ConnectionSettingsWidget::loadFrom(const FormatSetting &s)
{
    const QSignalBlocker quiet(this);
    const int mode = s.ConnMode;
    if (mode == SerialPort && !s.PortName.isEmpty()) {
        if (findPortData(ui->portBox, QVariant(s.PortName)) < 0)
            insertExtraPort(s.PortName);
        selectPortData(QVariant(s.PortName));
    } else if (mode == SerialPort) {
        ui->portBox->setCurrentIndex(0);
    } else if (mode == RemoteSerial) {
        selectPortData(QVariant(int(RemoteSerial)));
    } else {
        selectPortData(QVariant(NetworkData));
        const int shown = mode == Unassigned ? int(TcpClient) : mode;
        selectData(ui->modeBox, shown);
    }
    // Serial with no port to show and unassigned have no entry of their own: keep the
    // stored mode until the user picks another.
    m_keptMode = -1;
    if ((mode == SerialPort && !isSerialPortSelected()) || mode == Unassigned)
        m_keptMode = mode;

    showSerial(ui->baudRateBox, ui->dataBitsBox, ui->parityBox, ui->stopBitsBox, ui->flowControlBox, s);
    showSerial(ui->rfc2217BaudRateBox, ui->rfc2217DataBitsBox, ui->rfc2217ParityBox, ui->rfc2217StopBitsBox,
               ui->rfc2217FlowControlBox, s);
    ui->rfc2217UseRemoteBox->setChecked(s.UseRemoteSerialConfig);
    on_rfc2217UseRemoteBox_toggled(s.UseRemoteSerialConfig);
    setHostHistory(s.LastTargetHost);
    for (QSpinBox *spin : {ui->tcpClientPortBox, ui->rfc2217PortBox, ui->tcpServerPortBox, ui->udpServerPortBox,
                           ui->udpClientPortBox})
        spin->setValue(s.LastTargetPort);
    ui->udpClientLocalPortBox->setValue(s.UdpLocalPort);
    showPageForSelection();
}

void ConnectionSettingsWidget::storeTo(FormatSetting &s)
{
    commitTypedPort();
    const int mode = connectionMode();
    s.ConnMode = mode;
    auto storeSerial = [&s](QComboBox *baud, QComboBox *data, QComboBox *parity, QComboBox *stop, QComboBox *flow) {
        if (const int rate = baudRate(baud); rate > 0)
            s.BaudRate = rate;
        setData(s.DataBits, data);
        setData(s.Parity, parity);
        setData(s.StopBits, stop);
        setData(s.FlowControl, flow);
    };
    switch (mode) {
    case SerialPort:
        if (isSerialPortSelected())
            s.PortName = portName();
        storeSerial(ui->baudRateBox, ui->dataBitsBox, ui->parityBox, ui->stopBitsBox, ui->flowControlBox);
        break;
    case RemoteSerial:
        s.LastTargetHost = hostHistory(ui->rfc2217HostBox);
        s.LastTargetPort = ui->rfc2217PortBox->value();
        s.UseRemoteSerialConfig = ui->rfc2217UseRemoteBox->isChecked();
        storeSerial(ui->rfc2217BaudRateBox, ui->rfc2217DataBitsBox, ui->rfc2217ParityBox, ui->rfc2217StopBitsBox,
                    ui->rfc2217FlowControlBox);
        break;
    case TcpServer:
        s.LastTargetPort = ui->tcpServerPortBox->value();
        break;
    case UdpServer:
        s.LastTargetPort = ui->udpServerPortBox->value();
        break;
    case UdpClient:
    case UdpGroup:
        s.LastTargetHost = hostHistory(ui->udpClientHostBox);
        s.LastTargetPort = ui->udpClientPortBox->value();
        s.UdpLocalPort = quint16(ui->udpClientLocalPortBox->value());
        break;
    default: // TCP client and unassigned
        s.LastTargetHost = hostHistory(ui->tcpClientHostBox);
        s.LastTargetPort = ui->tcpClientPortBox->value();
        break;
    }
}

bool ConnectionSettingsWidget::isSerialPortSelected() const
{
    return ui->portBox->currentIndex() >= 0 && isSerialData(ui->portBox->currentData());
}

int ConnectionSettingsWidget::connectionMode() const
{
    if (m_keptMode >= 0)
        return m_keptMode;
    const QVariant data = ui->portBox->currentData();
    if (isSerialData(data) || !data.isValid())
        return SerialPort;
    if (data.toInt() == RemoteSerial)
        return RemoteSerial;
    return ui->modeBox->currentIndex() >= 0 ? ui->modeBox->currentData().toInt() : int(TcpClient);
}

QString ConnectionSettingsWidget::portName() const
{
    return isSerialPortSelected() ? ui->portBox->currentData().toString() : QString();
}

int ConnectionSettingsWidget::bindAddress() const
{
    const QWidget *page = ui->pageStack->currentWidget();
    if (page == ui->tcpServerPage)
        return ui->tcpServerBindBox->currentData().toInt();
    if (page == ui->udpServerPage)
        return ui->udpServerBindBox->currentData().toInt();
    return 4; // QHostAddress::Any
}

QStringList ConnectionSettingsWidget::serialFieldKeys()
{
    return {QStringLiteral("baudRate"), QStringLiteral("dataBits"), QStringLiteral("parity"),
            QStringLiteral("stopBits"), QStringLiteral("flowControl")};
}

void ConnectionSettingsWidget::applySerialFieldLayout(const QStringList &order, const QStringList &hidden)
{
    const QStringList keys = serialFieldKeys();
    const QList<QPair<QWidget *, QWidget *>> rows{{ui->baudRateLabel, ui->baudRateBox},
                                                  {ui->dataBitsLabel, ui->dataBitsBox},
                                                  {ui->parityLabel, ui->parityBox},
                                                  {ui->stopBitsLabel, ui->stopBitsBox},
                                                  {ui->flowControlLabel, ui->flowControlBox}};
    QStringList sorted;
    for (const QString &key : order) {
        if (keys.contains(key) && !sorted.contains(key))
            sorted << key;
    }
    for (const QString &key : keys) {
        if (!sorted.contains(key))
            sorted << key;
    }
    QFormLayout *form = ui->serialLayout;
    while (form->rowCount() > 0)
        form->takeRow(0); // keeps the widgets; they are added back below
    for (const QString &key : sorted) {
        const auto &row = rows.at(keys.indexOf(key));
        form->addRow(row.first, row.second);
        row.first->setVisible(!hidden.contains(key));
        row.second->setVisible(!hidden.contains(key));
    }
}

void ConnectionSettingsWidget::on_portBox_currentIndexChanged(int)
{
    m_keptMode = -1;
    showPageForSelection();
    emit connectionConfigChanged();
}

void ConnectionSettingsWidget::on_modeBox_currentIndexChanged(int)
{
    m_keptMode = -1;
    showPageForSelection();
    emit connectionConfigChanged();
}

void ConnectionSettingsWidget::on_baudRateBox_currentIndexChanged(int)
{
    followBaudChoice(ui->baudRateBox);
    emit settingsEdited();
}

void ConnectionSettingsWidget::on_baudRateBox_currentTextChanged(const QString &)
{
    emit settingsEdited();
}

void ConnectionSettingsWidget::on_dataBitsBox_currentIndexChanged(int)
{
    emit settingsEdited();
}

void ConnectionSettingsWidget::on_parityBox_currentIndexChanged(int)
{
    emit settingsEdited();
}

void ConnectionSettingsWidget::on_stopBitsBox_currentIndexChanged(int)
{
    emit settingsEdited();
}

void ConnectionSettingsWidget::on_flowControlBox_currentIndexChanged(int)
{
    emit settingsEdited();
}

void ConnectionSettingsWidget::on_tcpClientHostBox_currentTextChanged(const QString &)
{
    emit settingsEdited();
}

void ConnectionSettingsWidget::on_udpClientHostBox_currentTextChanged(const QString &)
{
    emit settingsEdited();
}

void ConnectionSettingsWidget::on_rfc2217UseRemoteBox_toggled(bool checked)
{
    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->rfc2217BaudRateLabel, ui->rfc2217BaudRateBox, ui->rfc2217DataBitsLabel, ui->rfc2217DataBitsBox,
             ui->rfc2217ParityLabel, ui->rfc2217ParityBox, ui->rfc2217StopBitsLabel, ui->rfc2217StopBitsBox,
             ui->rfc2217FlowControlLabel, ui->rfc2217FlowControlBox})
        w->setEnabled(!checked);
    emit settingsEdited();
}
