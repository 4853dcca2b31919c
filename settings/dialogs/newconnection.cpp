#include "settings/dialogs/newconnection.h"
#include "ui_newconnection.h"

NewConnection::NewConnection(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::NewConnection>())
{
    ui->setupUi(this);
    ui->connectionTypeBox->addItem(tr("Serial Port"), int(SerialPortChoice));
    ui->connectionTypeBox->addItem(tr("TCP/IP"), int(NetworkChoice));
    ui->connectionTypeBox->addItem(tr("Bridge (network to serial)"), int(BridgeChoice));
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

NewConnection::~NewConnection() = default;

int NewConnection::selectedIndex() const
{
    return ui->connectionTypeBox->currentData().toInt();
}
