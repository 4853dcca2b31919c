#pragma once

#include <QByteArray>
#include <QDialog>

#include <memory>

namespace Ui {
class ModbusBuilderDialog;
}

// Composes one Modbus RTU or ASCII request from a form and previews its frame after
// every change; the frame can be copied or handed to a port's send area.
class ModbusBuilderDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ModbusBuilderDialog(QWidget *parent = nullptr);
    ~ModbusBuilderDialog() override;

    // The frame of the current form, empty while the form is refused.
    QByteArray frame() const { return m_frame; }

signals:
    void insertRequested(const QString &hexText);

private slots:
    void on_copyHexButton_clicked();
    void on_insertButton_clicked();
    void on_closeButton_clicked();

private:
    quint8 functionCode() const;
    void updateFunctionFields();
    void updatePreview();
    void showError(const QString &message);

    std::unique_ptr<Ui::ModbusBuilderDialog> ui;
    QByteArray m_frame;
};
