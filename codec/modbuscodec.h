#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>

#include <optional>

// One Modbus request as the builder form holds it.
struct ModbusRequest
{
    quint8 slave = 1;
    quint8 function = 0x03;
    quint16 address = 0;
    quint16 quantity = 1;
    // Register values, or coil states where any non-zero value means ON.
    QList<quint16> values;
};

// Builds Modbus request PDUs and their RTU and ASCII frames. Pure functions: each
// call validates the request and returns the bytes, or empty bytes and the reason.
class ModbusCodec
{
    Q_DECLARE_TR_FUNCTIONS(ModbusCodec)

public:
    static constexpr int maxSlave = 247;
    static constexpr int maxReadCoils = 2000;
    static constexpr int maxReadRegisters = 125;
    static constexpr int maxWriteCoils = 1968;
    static constexpr int maxWriteRegisters = 123;

    static QByteArray buildPdu(const ModbusRequest &request, QString *error);
    static QByteArray rtuFrame(const ModbusRequest &request, QString *error);
    static QByteArray asciiFrame(const ModbusRequest &request, QString *error);

    // Values for the function from the builder's values line (parts split at blanks
    // and commas): coil states 0/1 for 0x0F, 16-bit hex values for 0x06 and 0x10,
    // nothing for the others. On a bad part, returns nothing and sets error.
    static std::optional<QList<quint16>> parseValues(quint8 function, const QString &text,
                                                     QString *error);

    // CRC-16/MODBUS (init 0xFFFF, reflected poly 0xA001), sent low byte first.
    static quint16 crc16(const QByteArray &bytes);
    // Two's complement of the 8-bit sum.
    static quint8 lrc(const QByteArray &bytes);
};
