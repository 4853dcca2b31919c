#pragma once

#include <QDialog>
#include <QSettings>
#include <QString>

namespace Ui {
class SetConfigFilePathDialog;
}

// First-run dialog that asks for the folder the configuration data goes in.
class SetConfigFilePathDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SetConfigFilePathDialog(QWidget *parent = nullptr);
    ~SetConfigFilePathDialog() override;

    // Where a new installation keeps its configuration unless the user picks another folder.
    static QString proposedConfigFolder();

private slots:
    void on_config_file_path_tb_clicked();
    void on_buttonBox_accepted();

private:
    Ui::SetConfigFilePathDialog *m_ui;
    QSettings m_settings;
    QString m_configFilePath;
};
