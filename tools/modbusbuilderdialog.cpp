#include "tools/modbusbuilderdialog.h"
#include "ui_modbusbuilderdialog.h"

#include "codec/hextext.h"
#include "codec/modbuscodec.h"

#include <QClipboard>
#include <QGuiApplication>

ModbusBuilderDialog::ModbusBuilderDialog(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ModbusBuilderDialog>())
{
    ui->setupUi(this);

    const struct {
        quint8 code;
        QString label;
    } functions[] = {
        {0x01, tr("01  Read Coils")},
        {0x02, tr("02  Read Discrete Inputs")},
        {0x03, tr("03  Read Holding Registers")},
        {0x04, tr("04  Read Input Registers")},
        {0x05, tr("05  Write Single Coil")},
        {0x06, tr("06  Write Single Register")},
        {0x0F, tr("0F  Write Multiple Coils")},
        {0x10, tr("10  Write Multiple Registers")},
    };
    for (const auto &f : functions)
        ui->functionBox->addItem(f.label, f.code);
    ui->functionBox->setCurrentIndex(ui->functionBox->findData(0x03));
    ui->coilStateBox->addItem(tr("ON  (FF 00)"), 1);
    ui->coilStateBox->addItem(tr("OFF (00 00)"), 0);

    connect(ui->protocolBox, &QComboBox::currentIndexChanged, this, &ModbusBuilderDialog::updatePreview);
    connect(ui->slaveSpin, &QSpinBox::valueChanged, this, &ModbusBuilderDialog::updatePreview);
    connect(ui->functionBox, &QComboBox::currentIndexChanged, this, [this] {
        updateFunctionFields();
        updatePreview();
    });
    connect(ui->addressSpin, &QSpinBox::valueChanged, this, &ModbusBuilderDialog::updatePreview);
    connect(ui->quantitySpin, &QSpinBox::valueChanged, this, &ModbusBuilderDialog::updatePreview);
    connect(ui->coilStateBox, &QComboBox::currentIndexChanged, this, &ModbusBuilderDialog::updatePreview);
    connect(ui->valuesEdit, &QLineEdit::textChanged, this, &ModbusBuilderDialog::updatePreview);

    updateFunctionFields();
    updatePreview();
}

ModbusBuilderDialog::~ModbusBuilderDialog() = default;

quint8 ModbusBuilderDialog::functionCode() const
{
    return quint8(ui->functionBox->currentData().toUInt());
}

void ModbusBuilderDialog::updateFunctionFields()
{
    const quint8 fc = functionCode();
    const bool reads = fc >= 0x01 && fc <= 0x04;
    ui->quantityLabel->setEnabled(reads);
    ui->quantitySpin->setEnabled(reads);
    ui->coilStateLabel->setEnabled(fc == 0x05);
    ui->coilStateBox->setEnabled(fc == 0x05);
    const bool values = fc == 0x06 || fc == 0x0F || fc == 0x10;
    ui->valuesLabel->setEnabled(values);
    ui->valuesEdit->setEnabled(values);
    QString placeholder;
    if (fc == 0x06)
        placeholder = tr("Register value in HEX, e.g. 00 0A");
    else if (fc == 0x10)
        placeholder = tr("Register values in HEX, e.g. 000A 0102");
    else if (fc == 0x0F)
        placeholder = tr("Coil states 0/1, e.g. 1 0 1 1");
    ui->valuesEdit->setPlaceholderText(placeholder);
}

void ModbusBuilderDialog::updatePreview()
{
    m_frame.clear();
    ui->errorLabel->clear();
    const bool ascii = ui->protocolBox->currentIndex() == 1;
    ui->asciiEdit->setVisible(ascii);

    ModbusRequest request;
    request.slave = quint8(ui->slaveSpin->value());
    request.function = functionCode();
    request.address = quint16(ui->addressSpin->value());
    request.quantity = quint16(ui->quantitySpin->value());
    QString error;
    if (request.function == 0x05) {
        request.values = {quint16(ui->coilStateBox->currentData().toUInt())};
    } else {
        const auto values = ModbusCodec::parseValues(request.function, ui->valuesEdit->text(), &error);
        if (!values) {
            showError(error);
            return;
        }
        request.values = *values;
    }

    m_frame = ascii ? ModbusCodec::asciiFrame(request, &error) : ModbusCodec::rtuFrame(request, &error);
    if (m_frame.isEmpty()) {
        showError(error);
        return;
    }
    ui->hexEdit->setText(toHexPairs(m_frame));
    // The ASCII frame ends in CR LF; the line shows them by name.
    ui->asciiEdit->setText(ascii ? QString::fromLatin1(m_frame.chopped(2)) + QStringLiteral("<CR><LF>") : QString());
    // Long frames show their start: slave and function code.
    ui->hexEdit->setCursorPosition(0);
    ui->asciiEdit->setCursorPosition(0);
    ui->copyHexButton->setEnabled(true);
    ui->insertButton->setEnabled(true);
}

void ModbusBuilderDialog::showError(const QString &message)
{
    ui->errorLabel->setText(message);
    ui->hexEdit->clear();
    ui->asciiEdit->clear();
    ui->copyHexButton->setEnabled(false);
    ui->insertButton->setEnabled(false);
}

void ModbusBuilderDialog::on_copyHexButton_clicked()
{
    QGuiApplication::clipboard()->setText(ui->hexEdit->text());
}

void ModbusBuilderDialog::on_insertButton_clicked()
{
    if (!m_frame.isEmpty())
        emit insertRequested(ui->hexEdit->text());
}

void ModbusBuilderDialog::on_closeButton_clicked()
{
    close();
}
