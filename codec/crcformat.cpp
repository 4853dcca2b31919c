#include "codec/crcformat.h"

QString formatCrcValue(quint64 value, int width, int base)
{
    int digits = 0;
    switch (base) {
    case 16:
        digits = (width + 3) / 4;
        break;
    case 8:
        digits = (width + 2) / 3;
        break;
    case 2:
        digits = width;
        break;
    default:
        base = 10;
        break;
    }
    return QString::number(value, base).toUpper().rightJustified(digits, QLatin1Char('0'));
}

QByteArray crcWireBytes(quint64 value, int width, bool bigEndian)
{
    const int count = qBound(0, (width + 7) / 8, 8);
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i) {
        const char b = char((value >> (8 * i)) & 0xFF);
        bytes[bigEndian ? count - 1 - i : i] = b;
    }
    return bytes;
}
