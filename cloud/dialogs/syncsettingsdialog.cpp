#include "cloud/dialogs/syncsettingsdialog.h"
#include "ui_syncsettingsdialog.h"

#include <QMessageBox>
#include <QPushButton>

SyncSettingsDialog::SyncSettingsDialog(const SettingsSync::Options &options, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::SyncSettingsDialog>())
{
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui->autoSyncCheck, &QCheckBox::toggled, ui->intervalSpin, &QWidget::setEnabled);
    ui->sendHistoryCheck->setChecked(options.sendHistory);
    ui->autoSyncCheck->setChecked(options.autoSync);
    ui->intervalSpin->setValue(options.intervalMinutes);
    ui->intervalSpin->setEnabled(options.autoSync);
}

SyncSettingsDialog::~SyncSettingsDialog() = default;

SettingsSync::Options SyncSettingsDialog::options() const
{
    return {ui->sendHistoryCheck->isChecked(), ui->autoSyncCheck->isChecked(), ui->intervalSpin->value()};
}

SettingsSync::Choice askSyncConflict(QWidget *parent)
{
    QMessageBox box(QMessageBox::Question, SyncSettingsDialog::tr("Sync Settings"),
                    SyncSettingsDialog::tr("Cloud settings are different from this computer."), QMessageBox::Cancel, parent);
    box.setInformativeText(SyncSettingsDialog::tr("Choose which settings to keep for this manual sync."));
    QPushButton *cloud = box.addButton(SyncSettingsDialog::tr("Use Cloud"), QMessageBox::AcceptRole);
    QPushButton *local = box.addButton(SyncSettingsDialog::tr("Keep Local"), QMessageBox::AcceptRole);
    QPushButton *merge = box.addButton(SyncSettingsDialog::tr("Merge Lists"), QMessageBox::AcceptRole);
    box.exec();
    if (box.clickedButton() == cloud)
        return SettingsSync::Choice::UseCloud;
    if (box.clickedButton() == local)
        return SettingsSync::Choice::KeepLocal;
    if (box.clickedButton() == merge)
        return SettingsSync::Choice::MergeLists;
    return SettingsSync::Choice::Cancel;
}
