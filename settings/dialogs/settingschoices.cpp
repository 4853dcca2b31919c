#include "settings/dialogs/settingschoices.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QIntValidator>
#include <QLineEdit>

namespace SettingsChoices {

namespace {

struct Choice
{
    const char *label;
    int value;
};

void fill(QComboBox *box, std::initializer_list<Choice> choices)
{
    box->clear();
    for (const Choice &c : choices)
        box->addItem(QCoreApplication::translate("SettingsPanel", c.label), c.value);
}

} // namespace

void fillBaudRates(QComboBox *box)
{
    box->clear();
    for (int rate : {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600})
        box->addItem(QString::number(rate), rate);
    // No item data: that is how the custom entry is told apart.
    box->addItem(QCoreApplication::translate("SettingsPanel", "Custom"));
    box->setInsertPolicy(QComboBox::NoInsert);
}

void fillDataBits(QComboBox *box)
{
    fill(box, {{"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}});
    box->setCurrentIndex(3);
}

void fillParity(QComboBox *box)
{
    fill(box, {{"None", 0}, {"Even", 2}, {"Odd", 3}, {"Mark", 5}, {"Space", 4}});
}

void fillStopBits(QComboBox *box)
{
    fill(box, {{"1", 1}, {"1.5", 3}, {"2", 2}});
}

void fillFlowControl(QComboBox *box)
{
    fill(box, {{"None", 0}, {"RTS/CTS", 1}, {"XON/XOFF", 2}});
}

void fillNetworkModes(QComboBox *box)
{
    fill(box, {{"TCP Client", 2}, {"TCP Server", 1}, {"UDP Client", 5}, {"UDP Server", 4}, {"UDP Group", 6}});
}

void fillBindAddresses(QComboBox *box)
{
    // QHostAddress::SpecialAddress values.
    fill(box, {{"Any", 4}, {"AnyIPv4", 6}, {"LocalHost", 2}, {"LocalHostIPv6", 3}});
}

void fillRxLineEndings(QComboBox *box)
{
    fill(box, {{"CR (\\r)", 1}, {"LF (\\n)", 2}, {"CR & LF (\\r\\n)", 3}, {"LR & CR (\\n\\r)", 4}});
}

void fillTxLineEndings(QComboBox *box)
{
    fill(box, {{"None", 0}, {"CR (\\r)", 1}, {"LF (\\n)", 2}, {"CR & LF (\\r\\n)", 3}, {"LR & CR (\\n\\r)", 4}});
}

void fillEnterModes(QComboBox *box)
{
    fill(box, {{"CR (\\r)", 1}, {"LF (\\n)", 2}, {"CR & LF (\\r\\n)", 3}, {"LF & CR (\\n\\r)", 4}});
}

void fillChecksums(QComboBox *box)
{
    fill(box, {{"None", 0}, {"Checksum-8 (SUM)", 1}, {"XOR (BCC)", 2}, {"CRC-8", 3}, {"CRC-16/MODBUS", 4},
               {"CRC-32", 5}});
}

void fillSendTimeUnits(QComboBox *box)
{
    fill(box, {{"ms", 0}, {"s", 1}, {"min", 2}});
}

bool selectData(QComboBox *box, int value)
{
    const int index = box->findData(value);
    box->setCurrentIndex(index);
    return index >= 0;
}

void followBaudChoice(QComboBox *box)
{
    const bool custom = box->currentIndex() >= 0 && !box->currentData().isValid();
    if (custom) {
        if (!box->isEditable()) {
            box->setEditable(true);
            box->setCompleter(nullptr);
            box->setValidator(new QIntValidator(1, 100000000, box));
        }
        box->clearEditText();
    } else if (box->isEditable()) {
        box->setEditable(false);
    }
}

void showBaudRate(QComboBox *box, int rate)
{
    const int index = box->findData(rate);
    if (index >= 0) {
        box->setCurrentIndex(index);
        followBaudChoice(box);
        return;
    }
    const int custom = box->count() - 1;
    if (box->currentIndex() != custom)
        box->setCurrentIndex(custom);
    followBaudChoice(box);
    if (rate > 0)
        box->setEditText(QString::number(rate));
}

int baudRate(const QComboBox *box)
{
    if (box->currentIndex() >= 0 && !box->currentData().isValid())
        return box->currentText().toInt();
    return box->currentData().toInt();
}

int sendUnitFactor(int unit)
{
    switch (unit) {
    case 1: return 1000;
    case 2: return 60000;
    default: return 1;
    }
}

} // namespace SettingsChoices
