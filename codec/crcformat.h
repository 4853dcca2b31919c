#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// A CRC value in base 16, 10, 8 or 2, upper case. Hex, octal and binary are padded with
// leading zeros to the digits the width needs; decimal is not padded.
QString formatCrcValue(quint64 value, int width, int base);

// The (width + 7) / 8 low bytes of a CRC value, most or least significant first.
QByteArray crcWireBytes(quint64 value, int width, bool bigEndian);
