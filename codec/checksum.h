#pragma once

#include <QtGlobal>

class QByteArray;

// Checksum a port appends to every frame it sends; the values are persisted.
enum class ChecksumMode : qint32 {
    None = 0,
    Sum8 = 1,
    Xor8 = 2,
    Crc8 = 3,
    Crc16Modbus = 4,
    Crc32 = 5,
};

// data followed by its checksum; empty data and unknown modes get nothing appended.
QByteArray appendChecksum(const QByteArray &data, ChecksumMode mode);
QByteArray appendChecksum(const QByteArray &data, int mode);

// The 8-bit sum and exclusive-or of all bytes, computed in wide steps.
quint8 checksumSum8(const char *data, qsizetype size);
quint8 checksumXor8(const char *data, qsizetype size);
