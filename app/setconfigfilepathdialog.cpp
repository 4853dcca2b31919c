#include "app/setconfigfilepathdialog.h"

#include "ui_setconfigfilepathdialog.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace {
const QString kKeyConfigPath = QStringLiteral("CONFIG_FILE_PATH");
}

SetConfigFilePathDialog::SetConfigFilePathDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::SetConfigFilePathDialog)
    , m_settings(QStringLiteral("VORTANE"), QStringLiteral("Quillon"))
{
    m_ui->setupUi(this);
    m_configFilePath = m_settings.value(kKeyConfigPath).toString();
    if (m_configFilePath.isEmpty())
        m_configFilePath = proposedConfigFolder();
    m_ui->config_file_path_le->setText(m_configFilePath);
}

SetConfigFilePathDialog::~SetConfigFilePathDialog()
{
    delete m_ui;
}

QString SetConfigFilePathDialog::proposedConfigFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/Config");
}

void SetConfigFilePathDialog::on_config_file_path_tb_clicked()
{
    QFileDialog picker(this);
    picker.setFileMode(QFileDialog::Directory);
    if (picker.exec() != QDialog::Accepted)
        return;
    const QStringList selected = picker.selectedFiles();
    if (!selected.isEmpty())
        m_ui->config_file_path_le->setText(selected.first());
}

void SetConfigFilePathDialog::on_buttonBox_accepted()
{
    m_configFilePath = m_ui->config_file_path_le->text();
    // A folder that cannot be created is not fatal: the program still needs to start.
    if (!m_configFilePath.isEmpty() && !QDir(m_configFilePath).exists())
        QDir().mkpath(m_configFilePath);
    m_settings.setValue(kKeyConfigPath, m_configFilePath);
    m_settings.sync();
}
