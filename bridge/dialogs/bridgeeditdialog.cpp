#include "bridge/dialogs/bridgeeditdialog.h"
#include "ui_bridgeeditdialog.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace {

constexpr qint64 KiB = 1024;
constexpr qint64 MiB = 1024 * 1024;

void select(QComboBox *box, const QVariant &data)
{
    const int at = box->findData(data);
    box->setCurrentIndex(at < 0 ? 0 : at);
}

// Hex pairs with optional blanks; nullopt for anything else.
std::optional<QByteArray> hexBytes(const QString &text)
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("\\s")));
    static const QRegularExpression hex(QStringLiteral("^(?:[0-9A-Fa-f]{2})*$"));
    if (!hex.match(digits).hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(digits.toLatin1());
}

} // namespace

BridgeEditDialog::BridgeEditDialog(const BridgeConfig &config, const QStringList &paneLabels, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::BridgeEditDialog>())
    , m_original(config)
{
    ui->setupUi(this);
    for (int i = 0; i < paneLabels.size(); ++i) {
        ui->endABox->addItem(paneLabels.at(i), i);
        ui->endBBox->addItem(paneLabels.at(i), i);
    }
    ui->directionBox->addItem(tr("A → B"), BridgeConfig::AToB);
    ui->directionBox->addItem(tr("B → A"), BridgeConfig::BToA);
    ui->directionBox->addItem(tr("A ⇄ B (both ways)"), BridgeConfig::BothWays);
    ui->protocolBox->addItem(tr("Transparent (pass bytes through)"), BridgeConfig::Transparent);
    ui->protocolBox->addItem(tr("RFC 2217 server (remote client sets the serial parameters)"), BridgeConfig::Rfc2217Server);
    ui->protocolBox->addItem(tr("RFC 2217 client (set a remote device server's serial parameters)"), BridgeConfig::Rfc2217Client);
    ui->protocolBox->addItem(tr("Modbus TCP to Modbus RTU gateway"), BridgeConfig::ModbusGateway);
    ui->framingBox->addItem(tr("Forward immediately (lowest latency)"), BridgeConfig::ForwardImmediately);
    ui->framingBox->addItem(tr("Cut on idle gap (Modbus RTU)"), BridgeConfig::CutOnIdleGap);
    ui->framingBox->addItem(tr("Cut on delimiter"), BridgeConfig::CutOnDelimiter);
    ui->framingBox->addItem(tr("Fixed length"), BridgeConfig::FixedLength);
    ui->overflowBox->addItem(tr("Slow the sender down (recommended)"), BridgeConfig::SlowSender);
    ui->overflowBox->addItem(tr("Drop the oldest data"), BridgeConfig::DropOldest);
    ui->overflowBox->addItem(tr("Drop the newest data"), BridgeConfig::DropNewest);
    ui->overflowBox->addItem(tr("Stop the bridge and tell me"), BridgeConfig::StopBridge);
    ui->fanoutBox->addItem(tr("One client at a time (recommended)"), BridgeConfig::OneClient);
    ui->fanoutBox->addItem(tr("Take turns, one request at a time"), BridgeConfig::TakeTurns);
    ui->fanoutBox->addItem(tr("All clients share the port"), BridgeConfig::SharePort);
    ui->udpTargetBox->addItem(tr("Reply to the last sender"), BridgeConfig::ReplyToLastSender);
    ui->udpTargetBox->addItem(tr("Fixed destination"), BridgeConfig::FixedDestination);
    ui->udpTargetBox->addItem(tr("All known peers"), BridgeConfig::AllPeers);
    ui->captureFormatBox->addItem(tr("Hex"), true);
    ui->captureFormatBox->addItem(tr("Text (control bytes escaped)"), false);

    setConfig(config);
    for (QComboBox *box : {ui->protocolBox, ui->framingBox, ui->fanoutBox})
        connect(box, &QComboBox::currentIndexChanged, this, &BridgeEditDialog::updateFieldVisibility);
    connect(ui->captureCheck, &QCheckBox::toggled, this, &BridgeEditDialog::updateFieldVisibility);
    connect(ui->browseButton, &QPushButton::clicked, this, &BridgeEditDialog::browseCaptureFile);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    updateFieldVisibility();
}

BridgeEditDialog::~BridgeEditDialog() = default;

void BridgeEditDialog::setConfig(const BridgeConfig &c)
{
    ui->nameEdit->setText(c.Name);
    select(ui->endABox, c.PortA);
    select(ui->endBBox, c.PortB);
    select(ui->directionBox, c.Direction);
    ui->enabledCheck->setChecked(c.Enabled);
    ui->autoOpenCheck->setChecked(c.AutoOpenPeer);
    ui->showForwardedCheck->setChecked(c.ShowForwardedInDisplay);
    ui->allowedEdit->setPlainText(c.AllowedPeers.join(QLatin1Char('\n')));
    select(ui->protocolBox, c.Protocol);
    ui->transactionTimeoutSpin->setValue(c.ModbusTransactionTimeoutMs);
    select(ui->framingBox, c.FramingMode);
    ui->idleGapSpin->setValue(c.FramingIdleGapMs);
    ui->delimiterEdit->setText(QString::fromLatin1(c.FramingDelimiterHex.toHex(' ').toUpper()));
    ui->fixedLengthSpin->setValue(c.FramingFixedLength);
    ui->maxFrameSpin->setValue(c.FramingMaxBytes);
    ui->maxHoldSpin->setValue(c.FramingMaxHoldMs);
    ui->bufferLimitSpin->setValue(int(qBound(qint64(1), c.QueueLimitBytes / KiB, qint64(ui->bufferLimitSpin->maximum()))));
    select(ui->overflowBox, c.OverflowPolicy);
    select(ui->fanoutBox, c.FanoutMode);
    ui->answerTimeoutSpin->setValue(c.ArbiterResponseTimeoutMs);
    select(ui->udpTargetBox, c.UdpTargetMode);
    ui->floodGuardCheck->setChecked(c.FloodGuardEnabled);
    ui->captureCheck->setChecked(c.LogEnabled);
    ui->captureFileEdit->setText(c.LogFilePath);
    select(ui->captureFormatBox, c.LogHex);
    ui->rotateSpin->setValue(int(qBound(qint64(1), c.LogRotateBytes / MiB, qint64(ui->rotateSpin->maximum()))));
}

BridgeConfig BridgeEditDialog::config() const
{
    BridgeConfig c = m_original;
    c.Name = ui->nameEdit->text().trimmed();
    c.PortA = ui->endABox->currentData().toInt();
    c.PortB = ui->endBBox->currentData().toInt();
    c.Direction = ui->directionBox->currentData().toInt();
    c.Enabled = ui->enabledCheck->isChecked();
    c.AutoOpenPeer = ui->autoOpenCheck->isChecked();
    c.ShowForwardedInDisplay = ui->showForwardedCheck->isChecked();
    c.AllowedPeers.clear();
    const QStringList lines = ui->allowedEdit->toPlainText().split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (!line.trimmed().isEmpty())
            c.AllowedPeers.append(line.trimmed());
    }
    c.Protocol = ui->protocolBox->currentData().toInt();
    c.ModbusTransactionTimeoutMs = ui->transactionTimeoutSpin->value();
    c.FramingMode = ui->framingBox->currentData().toInt();
    c.FramingIdleGapMs = ui->idleGapSpin->value();
    c.FramingDelimiterHex = hexBytes(ui->delimiterEdit->text()).value_or(m_original.FramingDelimiterHex);
    c.FramingFixedLength = ui->fixedLengthSpin->value();
    c.FramingMaxBytes = ui->maxFrameSpin->value();
    c.FramingMaxHoldMs = ui->maxHoldSpin->value();
    // The spin shows whole KiB; an untouched limit keeps its exact value and watermarks.
    const qint64 limit = qint64(ui->bufferLimitSpin->value()) * KiB;
    if (limit != m_original.QueueLimitBytes / KiB * KiB) {
        c.QueueLimitBytes = limit;
        c.HighWatermark = limit * 3 / 4;
        c.LowWatermark = limit / 4;
    }
    c.OverflowPolicy = ui->overflowBox->currentData().toInt();
    c.FanoutMode = ui->fanoutBox->currentData().toInt();
    c.ArbiterResponseTimeoutMs = ui->answerTimeoutSpin->value();
    c.UdpTargetMode = ui->udpTargetBox->currentData().toInt();
    c.FloodGuardEnabled = ui->floodGuardCheck->isChecked();
    c.LogEnabled = ui->captureCheck->isChecked();
    c.LogFilePath = ui->captureFileEdit->text().trimmed();
    c.LogHex = ui->captureFormatBox->currentData().toBool();
    const qint64 rotate = qint64(ui->rotateSpin->value()) * MiB;
    if (rotate != m_original.LogRotateBytes / MiB * MiB)
        c.LogRotateBytes = rotate;
    return c;
}

void BridgeEditDialog::updateFieldVisibility()
{
    const int framing = ui->framingBox->currentData().toInt();
    const int fanout = ui->fanoutBox->currentData().toInt();
    const int protocol = ui->protocolBox->currentData().toInt();
    ui->framingForm->setRowVisible(ui->idleGapSpin, framing == BridgeConfig::CutOnIdleGap);
    ui->framingForm->setRowVisible(ui->delimiterEdit, framing == BridgeConfig::CutOnDelimiter);
    ui->framingForm->setRowVisible(ui->fixedLengthSpin, framing == BridgeConfig::FixedLength);
    ui->clientsForm->setRowVisible(ui->answerTimeoutSpin, fanout == BridgeConfig::TakeTurns);
    ui->clientsForm->setRowVisible(ui->turnTakingHint,
                                   fanout == BridgeConfig::TakeTurns && framing == BridgeConfig::ForwardImmediately);
    ui->protocolForm->setRowVisible(ui->transactionTimeoutSpin, protocol == BridgeConfig::ModbusGateway);
    QString hint;
    if (protocol == BridgeConfig::ModbusGateway && framing == BridgeConfig::ForwardImmediately)
        hint = tr("Modbus RTU has no length field, so the serial side needs \"Cut on idle gap\" framing for a reply to be recognised as one frame.");
    else if (protocol == BridgeConfig::Rfc2217Server)
        hint = tr("The network end speaks Telnet. Point a client at it with rfc2217://host:port, or a virtual COM driver that supports RFC 2217.");
    else if (protocol == BridgeConfig::Rfc2217Client)
        hint = tr("The network end must be a TCP client pointed at a device server that speaks RFC 2217 (Moxa NPort, ser2net, another Quillon). The other end's serial parameters are sent to the remote port when the link connects and whenever they change.");
    ui->protocolHint->setText(hint);
    ui->protocolForm->setRowVisible(ui->protocolHint, !hint.isEmpty());
    const bool capture = ui->captureCheck->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(ui->captureFileEdit), static_cast<QWidget *>(ui->browseButton),
                       static_cast<QWidget *>(ui->captureFormatBox), static_cast<QWidget *>(ui->rotateSpin),
                       static_cast<QWidget *>(ui->captureFileLabel), static_cast<QWidget *>(ui->captureFormatLabel),
                       static_cast<QWidget *>(ui->rotateLabel)})
        w->setEnabled(capture);
}

bool BridgeEditDialog::isFieldShown(const QString &objectName) const
{
    QWidget *w = findChild<QWidget *>(objectName);
    return w && !w->isHidden();
}

void BridgeEditDialog::browseCaptureFile()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Capture file"), ui->captureFileEdit->text(),
                                                      tr("Log files (*.log *.txt);;All files (*)"));
    if (!path.isEmpty())
        ui->captureFileEdit->setText(path);
}

void BridgeEditDialog::done(int result)
{
    if (result == Accepted && !hexBytes(ui->delimiterEdit->text())) {
        QMessageBox::warning(this, tr("Bridges"), tr("The delimiter must be hex bytes, e.g. 0D0A."));
        return;
    }
    QDialog::done(result);
}
