#include "codec/modbuscodec.h"

#include "codec/crc.h"

namespace {

void appendU16(QByteArray &out, quint16 v)
{
    out.append(char(v >> 8));
    out.append(char(v & 0xFF));
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

QByteArray ModbusCodec::buildPdu(const ModbusRequest &request, QString *error)
{
    setError(error, QString());
    if (request.slave > maxSlave) {
        setError(error, tr("Slave ID must be between 0 and 247."));
        return {};
    }

    const quint8 fc = request.function;
    int count = 0;
    int maxCount = 0;
    bool coils = false;
    switch (fc) {
    case 0x01:
    case 0x02:
        count = request.quantity;
        maxCount = maxReadCoils;
        coils = true;
        break;
    case 0x03:
    case 0x04:
        count = request.quantity;
        maxCount = maxReadRegisters;
        break;
    case 0x05:
    case 0x06:
        break;
    case 0x0F:
        count = int(request.values.size());
        maxCount = maxWriteCoils;
        coils = true;
        break;
    case 0x10:
        count = int(request.values.size());
        maxCount = maxWriteRegisters;
        break;
    default:
        setError(error, tr("Unsupported function code 0x%1.")
                                .arg(QString::number(fc, 16).rightJustified(2, QLatin1Char('0'))
                                             .toUpper()));
        return {};
    }

    if (maxCount > 0) {
        if (count < 1 || count > maxCount) {
            setError(error, tr("%1 must be between %2 and %3.")
                                    .arg(coils ? tr("Coil count") : tr("Register count"))
                                    .arg(1)
                                    .arg(maxCount));
            return {};
        }
        if (int(request.address) + count > 65536) {
            setError(error, tr("Address %1 plus count %2 exceeds the 65536 address space.")
                                    .arg(request.address)
                                    .arg(count));
            return {};
        }
    } else if (request.values.size() != 1) {
        setError(error, fc == 0x05 ? tr("Write Single Coil needs exactly one value.")
                                   : tr("Write Single Register needs exactly one value."));
        return {};
    }

    QByteArray pdu;
    pdu.append(char(fc));
    appendU16(pdu, request.address);
    switch (fc) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
        appendU16(pdu, request.quantity);
        break;
    case 0x05:
        appendU16(pdu, request.values.first() ? 0xFF00 : 0x0000);
        break;
    case 0x06:
        appendU16(pdu, request.values.first());
        break;
    case 0x0F: {
        appendU16(pdu, quint16(count));
        const int byteCount = (count + 7) / 8;
        pdu.append(char(byteCount));
        QByteArray packed(byteCount, '\0');
        for (int i = 0; i < count; ++i) {
            if (request.values.at(i))
                packed[i / 8] = char(quint8(packed[i / 8]) | (1u << (i % 8)));
        }
        pdu.append(packed);
        break;
    }
    case 0x10:
        appendU16(pdu, quint16(count));
        pdu.append(char(2 * count));
        for (quint16 v : request.values)
            appendU16(pdu, v);
        break;
    }
    return pdu;
}

QByteArray ModbusCodec::rtuFrame(const ModbusRequest &request, QString *error)
{
    const QByteArray pdu = buildPdu(request, error);
    if (pdu.isEmpty())
        return {};
    QByteArray frame;
    frame.append(char(request.slave));
    frame.append(pdu);
    const quint16 crc = crc16(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

QByteArray ModbusCodec::asciiFrame(const ModbusRequest &request, QString *error)
{
    const QByteArray pdu = buildPdu(request, error);
    if (pdu.isEmpty())
        return {};
    QByteArray body;
    body.append(char(request.slave));
    body.append(pdu);
    body.append(char(lrc(body)));
    return QByteArrayLiteral(":") + body.toHex().toUpper() + QByteArrayLiteral("\r\n");
}

quint16 ModbusCodec::crc16(const QByteArray &bytes)
{
    return quint16(computeCatalogCrc(CrcCatalogId::Crc16Modbus, bytes));
}

quint8 ModbusCodec::lrc(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (char c : bytes)
        sum = quint8(sum + quint8(c));
    return quint8(-sum);
}
