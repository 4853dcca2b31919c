#include "tools/toolbox.h"
#include "ui_toolbox.h"

#include "codec/crcformat.h"
#include "codec/hextext.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpressionValidator>

namespace {

enum ByteOrder { BigEndian = 0, LittleEndian = 1 };

QString hexField(quint64 value, int width)
{
    return formatCrcValue(value, width, 16);
}

} // namespace

ToolBox::ToolBox(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ToolBox>())
{
    ui->setupUi(this);
    setWindowFlag(Qt::Tool);

    const CrcParams start;
    m_custom = {QString::number(start.width), hexField(start.poly, start.width), hexField(start.init, start.width),
                hexField(start.xorOut, start.width), start.refIn, start.refOut};

    ui->leWidth->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{1,2}")), this));
    auto *hex = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,16}")), this);
    for (QLineEdit *field : {ui->lePoly, ui->leInit, ui->leXorout}) {
        field->setValidator(hex);
        connect(field, &QLineEdit::textChanged, this, &ToolBox::rememberCustomFields);
    }
    connect(ui->leWidth, &QLineEdit::textChanged, this, &ToolBox::rememberCustomFields);
    connect(ui->cbRefin, &QCheckBox::toggled, this, &ToolBox::rememberCustomFields);
    connect(ui->cbRefout, &QCheckBox::toggled, this, &ToolBox::rememberCustomFields);

    const int bases[] = {16, 10, 8, 2};
    for (int i = 0; i < ui->cbResultBase->count(); ++i)
        ui->cbResultBase->setItemData(i, bases[i]);
    ui->cbByteOrder->setItemData(0, BigEndian);
    ui->cbByteOrder->setItemData(1, LittleEndian);

    // Filling the box selects its first row and shows that row's parameters.
    for (const CrcModel &model : crcCatalog()) {
        const bool custom = model.id == int(CrcCatalogId::CrcCustom);
        ui->cbName->addItem(custom ? tr("Custom") : model.name, model.id);
    }
    ui->cbName->setCurrentIndex(ui->cbName->findData(int(CrcCatalogId::Crc16Modbus)));
}

ToolBox::~ToolBox() = default;

// ---- Converter ----------------------------------------------------------------

void ToolBox::on_hexToText_clicked()
{
    const HexInput parsed = parseHexInput(ui->inputText->toPlainText());
    if (!parsed.ok) {
        ui->converterErrorLabel->setText(parsed.error);
        ui->outputText->clear();
        return;
    }
    const Utf8Text decoded = decodeUtf8Lossy(parsed.bytes);
    ui->converterErrorLabel->setText(
            decoded.invalidBytes == 0
                    ? QString()
                    : tr("%1 byte(s) are not valid UTF-8 and are shown as U+FFFD; the first is byte %2.")
                              .arg(decoded.invalidBytes)
                              .arg(decoded.firstInvalid + 1));
    ui->outputText->setPlainText(decoded.text);
}

void ToolBox::on_textToHex_clicked()
{
    ui->converterErrorLabel->clear();
    // Sixteen pairs a line: easy to count, and a text view lays out a megabyte of short
    // lines in milliseconds where one endless line takes it a second.
    ui->outputText->setPlainText(toHexPairs(ui->inputText->toPlainText().toUtf8(), 16));
}

void ToolBox::on_btnCopyConverted_clicked()
{
    QGuiApplication::clipboard()->setText(ui->outputText->toPlainText());
}

// ---- CRC calculator -------------------------------------------------------------

bool ToolBox::isCustom() const
{
    return ui->cbName->currentData().toInt() == int(CrcCatalogId::CrcCustom);
}

void ToolBox::on_cbName_currentTextChanged(const QString &)
{
    const int id = ui->cbName->currentData().toInt();
    m_fillingFields = true;
    if (isCustom()) {
        ui->leWidth->setText(m_custom.width);
        ui->lePoly->setText(m_custom.poly);
        ui->leInit->setText(m_custom.init);
        ui->leXorout->setText(m_custom.xorOut);
        ui->cbRefin->setChecked(m_custom.refIn);
        ui->cbRefout->setChecked(m_custom.refOut);
    } else if (const std::optional<CrcModel> model = findCrcModel(id)) {
        ui->leWidth->setText(QString::number(model->width));
        ui->lePoly->setText(hexField(model->poly, model->width));
        ui->leInit->setText(hexField(model->init, model->width));
        ui->leXorout->setText(hexField(model->xorOut, model->width));
        ui->cbRefin->setChecked(model->refIn);
        ui->cbRefout->setChecked(model->refOut);
    }
    m_fillingFields = false;
    const bool editable = isCustom();
    for (QLineEdit *field : {ui->leWidth, ui->lePoly, ui->leInit, ui->leXorout})
        field->setReadOnly(!editable);
    ui->cbRefin->setEnabled(editable);
    ui->cbRefout->setEnabled(editable);
    // The byte order shows the order the model is usually sent in.
    ui->cbByteOrder->setCurrentIndex(id == int(CrcCatalogId::Crc16Modbus) ? LittleEndian : BigEndian);
    calculate();
}

void ToolBox::rememberCustomFields()
{
    if (m_fillingFields || !isCustom())
        return;
    m_custom = {ui->leWidth->text(), ui->lePoly->text(), ui->leInit->text(), ui->leXorout->text(),
                ui->cbRefin->isChecked(), ui->cbRefout->isChecked()};
    calculate();
}

void ToolBox::on_inputCrc_textChanged()
{
    calculate();
}

void ToolBox::on_rbAscii_toggled(bool)
{
    calculate();
}

void ToolBox::on_calculateCRC_clicked()
{
    calculate();
}

void ToolBox::calculate()
{
    QByteArray bytes;
    const QString input = ui->inputCrc->toPlainText();
    if (ui->rbAscii->isChecked()) {
        bytes = input.toUtf8();
    } else {
        HexInput parsed = parseHexInput(input);
        if (!parsed.ok) {
            refuse(parsed.error);
            return;
        }
        bytes = std::move(parsed.bytes);
    }

    const int id = ui->cbName->currentData().toInt();
    if (isCustom()) {
        const CrcParamsResult checked =
                validateCrcParams(ui->leWidth->text(), ui->lePoly->text(), ui->leInit->text(),
                                  ui->leXorout->text(), ui->cbRefin->isChecked(), ui->cbRefout->isChecked());
        if (!checked.ok) {
            refuse(checked.error);
            return;
        }
        m_crc = computeCrc(bytes, checked.params);
        m_width = checked.params.width;
    } else {
        const std::optional<CrcModel> model = findCrcModel(id);
        if (!model)
            return;
        m_crc = computeCatalogCrc(id, bytes);
        m_width = model->width;
    }
    ui->crcErrorLabel->clear();
    m_inputBytes = std::move(bytes);
    m_haveResult = true;
    showResult();
}

void ToolBox::refuse(const QString &message)
{
    ui->crcErrorLabel->setText(message);
    m_inputBytes.clear();
    m_haveResult = false;
    ui->leResult->clear();
    ui->leWireBytes->clear();
    ui->btnInsertFrame->setEnabled(false);
}

void ToolBox::showResult()
{
    if (!m_haveResult)
        return;
    const bool bigEndian = ui->cbByteOrder->currentData().toInt() == BigEndian;
    ui->leResult->setText(formatCrcValue(m_crc, m_width, m_base));
    ui->leWireBytes->setText(toHexPairs(crcWireBytes(m_crc, m_width, bigEndian)));
    ui->btnInsertFrame->setEnabled(!m_inputBytes.isEmpty());
}

void ToolBox::on_cbResultBase_currentIndexChanged(int index)
{
    m_base = ui->cbResultBase->itemData(index).toInt();
    showResult();
}

void ToolBox::on_cbByteOrder_currentIndexChanged(int)
{
    showResult();
}

void ToolBox::on_btnCopyResult_clicked()
{
    QGuiApplication::clipboard()->setText(ui->leResult->text());
}

void ToolBox::on_btnCopyWire_clicked()
{
    QGuiApplication::clipboard()->setText(ui->leWireBytes->text());
}

void ToolBox::on_btnInsertFrame_clicked()
{
    if (!m_haveResult || m_inputBytes.isEmpty())
        return;
    const bool bigEndian = ui->cbByteOrder->currentData().toInt() == BigEndian;
    emit insertRequested(toHexPairs(m_inputBytes + crcWireBytes(m_crc, m_width, bigEndian)));
}
