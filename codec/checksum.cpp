#include "codec/checksum.h"

#include "codec/crc.h"

#include <QByteArray>

#include <cstring>

quint8 checksumSum8(const char *data, qsizetype size)
{
    const auto *p = reinterpret_cast<const uchar *>(data);
    // Sixteen lanes the compiler can vectorise; the sum only matters modulo 256.
    quint32 lanes[16] = {};
    qsizetype i = 0;
    for (; i + 16 <= size; i += 16) {
        for (int k = 0; k < 16; ++k)
            lanes[k] += p[i + k];
    }
    quint32 sum = 0;
    for (quint32 lane : lanes)
        sum += lane;
    for (; i < size; ++i)
        sum += p[i];
    return quint8(sum);
}

quint8 checksumXor8(const char *data, qsizetype size)
{
    quint64 acc[2] = {0, 0};
    qsizetype i = 0;
    for (; i + 16 <= size; i += 16) {
        quint64 w[2];
        std::memcpy(w, data + i, sizeof w);
        acc[0] ^= w[0];
        acc[1] ^= w[1];
    }
    quint64 x = acc[0] ^ acc[1];
    x ^= x >> 32;
    x ^= x >> 16;
    x ^= x >> 8;
    quint8 result = quint8(x);
    for (; i < size; ++i)
        result ^= quint8(data[i]);
    return result;
}

QByteArray appendChecksum(const QByteArray &data, ChecksumMode mode)
{
    if (data.isEmpty())
        return data;
    QByteArray out = data;
    switch (mode) {
    case ChecksumMode::Sum8:
        out.append(char(checksumSum8(data.constData(), data.size())));
        break;
    case ChecksumMode::Xor8:
        out.append(char(checksumXor8(data.constData(), data.size())));
        break;
    case ChecksumMode::Crc8:
        out.append(char(computeCatalogCrc(CrcCatalogId::Crc8, data)));
        break;
    case ChecksumMode::Crc16Modbus: {
        const quint64 crc = computeCatalogCrc(CrcCatalogId::Crc16Modbus, data);
        out.append(char(crc & 0xFF));
        out.append(char((crc >> 8) & 0xFF));
        break;
    }
    case ChecksumMode::Crc32: {
        const quint64 crc = computeCatalogCrc(CrcCatalogId::Crc32, data);
        for (int k = 0; k < 4; ++k)
            out.append(char((crc >> (8 * k)) & 0xFF));
        break;
    }
    case ChecksumMode::None:
    default:
        break;
    }
    return out;
}

QByteArray appendChecksum(const QByteArray &data, int mode)
{
    return appendChecksum(data, static_cast<ChecksumMode>(mode));
}
