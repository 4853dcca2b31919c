#include "transfer/dialogs/filetransferdialog.h"
#include "ui_filetransferdialog.h"

#include "connection/connectionmode.h"
#include "session/portsession.h"
#include "transfer/porttransfer.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QSerialPort>
#include <QSettings>
#include <QStandardItemModel>
#include <QStandardPaths>

namespace {

const char *const kProtocolKey = "LastTransferProtocol";
const char *const kSendDirKey = "LastTransferSendDir";
const char *const kRecvDirKey = "LastTransferRecvDir";
const char *const kCapKey = "TransferRecvSizeCapMiB";

QString downloads()
{
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

bool isXmodem(int protocol)
{
    return protocol == Xmodem || protocol == XmodemCrc || protocol == Xmodem1k;
}

} // namespace

FileTransferDialog::FileTransferDialog(const PortSession &port, XferOptions::Direction direction, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::FileTransferDialog>())
    , m_direction(direction)
{
    ui->setupUi(this);
    const bool receiving = direction != XferOptions::Send;
    setWindowTitle(receiving ? tr("Receive File") : tr("Send File"));
    const int mode = port.settings().ConnMode;
    m_network = mode != SerialPort;
    m_streamingAllowed = allowsStreaming(port);
    ui->connectionLabel->setText(connectionText(port));

    ui->protocolBox->addItem(tr("XMODEM (128 bytes, checksum)"), int(Xmodem));
    ui->protocolBox->addItem(tr("XMODEM-CRC (128 bytes, CRC-16)"), int(XmodemCrc));
    ui->protocolBox->addItem(tr("XMODEM-1K (1024 bytes)"), int(Xmodem1k));
    ui->protocolBox->addItem(tr("YMODEM"), int(Ymodem));
    ui->protocolBox->addItem(tr("YMODEM-G (streaming, no retries)"), int(YmodemG));
    ui->blockSizeBox->addItem(QStringLiteral("1024"), 1024);
    ui->blockSizeBox->addItem(QStringLiteral("128"), 128);
    ui->pathLabel->setText(receiving ? tr("Save into:") : tr("File:"));

    const QSettings store;
    const int saved = ui->protocolBox->findData(store.value(QLatin1String(kProtocolKey), int(Ymodem)).toInt());
    ui->protocolBox->setCurrentIndex(saved < 0 ? ui->protocolBox->findData(int(Ymodem)) : saved);
    ui->capSpin->setValue(store.value(QLatin1String(kCapKey), 100).toInt());
    if (receiving)
        ui->pathEdit->setText(store.value(QLatin1String(kRecvDirKey), downloads()).toString());

    const QStringList clients = port.peers();
    ui->clientBox->addItems(clients);
    ui->clientBox->setCurrentIndex(std::max<qsizetype>(0, clients.indexOf(port.selectedPeer())));
    ui->clientBox->setEnabled(clients.size() >= 2);
    ui->formLayout->setRowVisible(ui->clientBox, mode == TcpServer);

    connect(ui->protocolBox, &QComboBox::currentIndexChanged, this, &FileTransferDialog::refreshFields);
    connect(ui->pathEdit, &QLineEdit::textChanged, this, &FileTransferDialog::refreshFields);
    connect(ui->browseButton, &QPushButton::clicked, this, &FileTransferDialog::browse);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &FileTransferDialog::accept);
    refreshFields();
}

FileTransferDialog::~FileTransferDialog() = default;

QString FileTransferDialog::connectionText(const PortSession &port)
{
    const FormatSetting &s = port.settings();
    const QString host = s.LastTargetHost.value(0);
    switch (s.ConnMode) {
    case SerialPort: {
        const QString flow = s.FlowControl == QSerialPort::HardwareControl ? tr("RTS/CTS")
            : s.FlowControl == QSerialPort::SoftwareControl                ? tr("XON/XOFF")
                                                                           : tr("no flow control");
        return tr("%1, %2 baud, %3").arg(s.PortName).arg(s.BaudRate).arg(flow);
    }
    case TcpClient: return tr("TCP %1:%2").arg(host).arg(s.LastTargetPort);
    case RemoteSerial: return tr("RFC 2217 %1:%2").arg(host).arg(s.LastTargetPort);
    case TcpServer: return tr("TCP server, port %1").arg(s.LastTargetPort);
    default: return {};
    }
}

bool FileTransferDialog::allowsStreaming(const PortSession &port)
{
    const FormatSetting &s = port.settings();
    return s.ConnMode != SerialPort || s.FlowControl == QSerialPort::HardwareControl;
}

void FileTransferDialog::refreshFields()
{
    const int protocol = ui->protocolBox->currentData().toInt();
    const bool receiving = m_direction != XferOptions::Send;
    if (auto *model = qobject_cast<QStandardItemModel *>(ui->protocolBox->model()))
        model->item(ui->protocolBox->findData(int(YmodemG)))->setEnabled(m_streamingAllowed);
    const bool blocks = protocol == Xmodem1k || protocol == Ymodem || protocol == YmodemG;
    ui->blockSizeBox->setEnabled(blocks);
    ui->blockSizeLabel->setEnabled(blocks);
    // YMODEM brings the name and the size itself.
    const bool named = receiving && isXmodem(protocol);
    ui->formLayout->setRowVisible(ui->saveAsEdit, named);
    ui->formLayout->setRowVisible(ui->capSpin, named);

    QString note;
    if (protocol == YmodemG && !m_streamingAllowed) {
        note = tr("YMODEM-G does not resend anything, so it needs hardware flow control (RTS/CTS). This connection "
                  "has none: a single error would abandon the whole transfer.");
    } else if (isXmodem(protocol)) {
        note = receiving ? tr("XMODEM carries no file name or length, so you must supply the name, and the received "
                              "file is always padded up to a whole number of blocks.")
                         : tr("XMODEM carries no file name or length. The device will receive the data padded up to "
                              "a whole number of blocks.");
    }
    ui->noteLabel->setText(note);
    ui->noteLabel->setVisible(!note.isEmpty());

    bool ready = true;
    if (!receiving) {
        const QFileInfo file(ui->pathEdit->text().trimmed());
        ready = file.exists() && file.isFile();
    }
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(ready);
}

void FileTransferDialog::browse()
{
    const QSettings store;
    if (m_direction == XferOptions::Send) {
        const QString start = store.value(QLatin1String(kSendDirKey), downloads()).toString();
        const QString file = QFileDialog::getOpenFileName(this, tr("File to send"), start);
        if (!file.isEmpty())
            ui->pathEdit->setText(QDir::toNativeSeparators(file));
        return;
    }
    const QString current = ui->pathEdit->text().trimmed();
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Save into"), current.isEmpty() ? downloads() : current);
    if (!folder.isEmpty())
        ui->pathEdit->setText(QDir::toNativeSeparators(folder));
}

void FileTransferDialog::accept()
{
    if (!ui->buttonBox->button(QDialogButtonBox::Ok)->isEnabled())
        return;
    QSettings store;
    store.setValue(QLatin1String(kProtocolKey), ui->protocolBox->currentData().toInt());
    if (m_direction == XferOptions::Send)
        store.setValue(QLatin1String(kSendDirKey), QFileInfo(path()).absolutePath());
    else
        store.setValue(QLatin1String(kRecvDirKey), path());
    store.setValue(QLatin1String(kCapKey), ui->capSpin->value());
    QDialog::accept();
}

XferOptions FileTransferDialog::options() const
{
    XferOptions o;
    o.protocol = XferProtocol(ui->protocolBox->currentData().toInt());
    o.direction = m_direction;
    o.blockSize = ui->blockSizeBox->currentData().toInt();
    const qint64 mib = ui->capSpin->value();
    o.receiveCap = mib < 1 ? 0 : mib << 20;
    return o;
}

QString FileTransferDialog::path() const
{
    return QDir::fromNativeSeparators(ui->pathEdit->text().trimmed());
}

QString FileTransferDialog::fileName() const
{
    return ui->saveAsEdit->text().trimmed();
}

QString FileTransferDialog::client() const
{
    return ui->clientBox->count() > 0 ? ui->clientBox->currentText() : QString();
}

bool FileTransferDialog::keepOpen() const
{
    return ui->keepOpenCheck->isChecked();
}

bool FileTransferDialog::startOn(PortTransfer &transfer, QString *refusal) const
{
    if (!client().isEmpty())
        transfer.portSession()->selectPeer(client());
    return transfer.startTransfer(options(), path(), fileName(), refusal);
}
