#pragma once

#include "cloud/settingssync.h"

#include <QDialog>

#include <memory>

namespace Ui {
class SyncSettingsDialog;
}

// The sync options: send history, automatic sync and its interval.
class SyncSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SyncSettingsDialog(const SettingsSync::Options &options, QWidget *parent = nullptr);
    ~SyncSettingsDialog() override;

    SettingsSync::Options options() const;

private:
    std::unique_ptr<Ui::SyncSettingsDialog> ui;
};

// The three-way question of a manual sync whose cloud copy changed elsewhere.
SettingsSync::Choice askSyncConflict(QWidget *parent);
