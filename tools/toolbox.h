#pragma once

#include "codec/crc.h"

#include <QByteArray>
#include <QDialog>

#include <memory>

namespace Ui {
class ToolBox;
}

// The toolbox window: a hex/text converter and a CRC calculator over the catalog or a
// custom model. Both work on UTF-8 only, whatever encoding a port uses.
class ToolBox : public QDialog
{
    Q_OBJECT
public:
    explicit ToolBox(QWidget *parent = nullptr);
    ~ToolBox() override;

signals:
    void insertRequested(const QString &hexFrame);

private slots:
    void on_hexToText_clicked();
    void on_textToHex_clicked();
    void on_calculateCRC_clicked();
    void on_cbName_currentTextChanged(const QString &crcName);
    void on_inputCrc_textChanged();
    void on_rbAscii_toggled(bool checked);
    void on_cbResultBase_currentIndexChanged(int index);
    void on_cbByteOrder_currentIndexChanged(int index);
    void on_btnCopyConverted_clicked();
    void on_btnCopyResult_clicked();
    void on_btnCopyWire_clicked();
    void on_btnInsertFrame_clicked();

private:
    bool isCustom() const;
    void showParameters(const CrcParams &params, bool editable);
    void rememberCustomFields();
    void calculate();
    void refuse(const QString &message);
    void showResult();

    std::unique_ptr<Ui::ToolBox> ui;
    QByteArray m_inputBytes;
    bool m_haveResult = false;
    quint64 m_crc = 0;
    int m_width = 16;
    int m_base = 16;
    // The custom fields as last typed, shown again when "Custom" is chosen.
    struct CustomFields
    {
        QString width, poly, init, xorOut;
        bool refIn = false;
        bool refOut = false;
    } m_custom;
    bool m_fillingFields = false;
};
