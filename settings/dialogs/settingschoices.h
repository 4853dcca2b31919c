#pragma once

#include <QString>

class QComboBox;

// The value lists of the settings editors (item text, item data), filled the
// same way wherever a list appears, and the custom baud rate behaviour.
namespace SettingsChoices {

void fillBaudRates(QComboBox *box);
void fillDataBits(QComboBox *box);
void fillParity(QComboBox *box);
void fillStopBits(QComboBox *box);
void fillFlowControl(QComboBox *box);
void fillNetworkModes(QComboBox *box);
void fillBindAddresses(QComboBox *box);
void fillRxLineEndings(QComboBox *box);
void fillTxLineEndings(QComboBox *box);
void fillEnterModes(QComboBox *box);
void fillChecksums(QComboBox *box);
void fillSendTimeUnits(QComboBox *box);

// Selects the item whose data equals value; returns false (and selects
// nothing) when there is none, so a caller can keep a value it cannot show.
bool selectData(QComboBox *box, int value);

// Call when the baud box's current item changed: "Custom" makes it editable
// with an empty, digits-only edit; a listed rate makes it fixed again.
void followBaudChoice(QComboBox *box);
// Shows a rate: the listed item, else "Custom" with the rate typed in.
void showBaudRate(QComboBox *box, int rate);
// The rate shown, or 0 when "Custom" holds no number yet.
int baudRate(const QComboBox *box);

// Milliseconds per step of a send time unit (0 ms, 1 s, 2 min); unknown units count as 1.
int sendUnitFactor(int unit);

} // namespace SettingsChoices
