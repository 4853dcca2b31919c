#include "transfer/dialogs/filetransferbar.h"
#include "ui_filetransferbar.h"

#include "transfer/porttransfer.h"

FileTransferBar::FileTransferBar(PortTransfer *transfer, QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::FileTransferBar>())
    , m_transfer(transfer)
{
    ui->setupUi(this);
    setVisible(false);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(100);
    connect(&m_refresh, &QTimer::timeout, this, &FileTransferBar::refresh);
    connect(ui->cancelButton, &QPushButton::clicked, this, &FileTransferBar::cancelRequested);
    connect(this, &FileTransferBar::cancelRequested, transfer, [transfer] { transfer->cancelTransfer(); });
    connect(transfer, &PortTransfer::transferProgressed, this, [this] {
        if (!m_refresh.isActive())
            m_refresh.start();
    });
    connect(transfer, &PortTransfer::transferStateChanged, this, [this] {
        m_refresh.stop();
        refresh();
    });
}

FileTransferBar::~FileTransferBar() = default;

QString FileTransferBar::title() const
{
    return ui->titleLabel->text();
}

QString FileTransferBar::detail() const
{
    return ui->detailLabel->text();
}

QString FileTransferBar::titleText(const PortTransfer &transfer)
{
    const FileTransferSession *t = transfer.transfer();
    QString name = t->progress().fileName;
    if (name.isEmpty())
        name = tr("(unnamed)");
    const QString protocol = xferProtocolName(t->options().protocol);
    QString text = t->options().receiving() ? tr("Receiving %1 (%2)").arg(name, protocol)
                                            : tr("Sending %1 (%2)").arg(name, protocol);
    if (!t->client().isEmpty())
        text += tr(" -> %1").arg(t->client());
    return text;
}

void FileTransferBar::refresh()
{
    const FileTransferSession *t = m_transfer->transfer();
    if (!t) {
        setVisible(false);
        return;
    }
    ui->titleLabel->setText(titleText(*m_transfer));
    ui->detailLabel->setText(t->progressText(m_transfer->now()));
    const XferProgress p = t->progress();
    if (p.bytesTotal >= 1) {
        ui->progressBar->setRange(0, 100);
        ui->progressBar->setValue(int(std::min<qint64>(p.bytesDone * 100 / p.bytesTotal, 100)));
    } else {
        ui->progressBar->setRange(0, 0);
    }
    setVisible(true);
}
