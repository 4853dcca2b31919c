#pragma once

#include "bridge/bridgeconfig.h"

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class BridgeEditDialog;
}

// Edits one bridge record; shows only the fields its choices use.
class BridgeEditDialog : public QDialog
{
    Q_OBJECT
public:
    // paneLabels: one per pane, in pane order.
    BridgeEditDialog(const BridgeConfig &config, const QStringList &paneLabels, QWidget *parent = nullptr);
    ~BridgeEditDialog() override;

    // The record as edited; fields the dialog does not show keep their values.
    BridgeConfig config() const;

    // Whether a field's row is shown, by the name of its edit widget.
    bool isFieldShown(const QString &objectName) const;

public slots:
    void updateFieldVisibility();

protected:
    void done(int result) override;

private:
    void setConfig(const BridgeConfig &config);
    void browseCaptureFile();

    std::unique_ptr<Ui::BridgeEditDialog> ui;
    BridgeConfig m_original;
};
