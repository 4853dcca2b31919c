#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

class QByteArray;

// One named CRC model; poly is in normal form without the top bit.
struct CrcModel
{
    qint32 id = 0;
    QString name;
    qint32 width = 0;
    quint64 poly = 0;
    quint64 init = 0;
    quint64 xorOut = 0;
    bool refIn = false;
    bool refOut = false;
};

// Parameters of a user-defined CRC (defaults: the custom model's starting values).
struct CrcParams
{
    qint32 width = 16;
    quint64 poly = 0x1021;
    quint64 init = 0xFFFF;
    quint64 xorOut = 0;
    bool refIn = false;
    bool refOut = false;
};

// Either validated parameters (ok) or the reason they were refused.
struct CrcParamsResult
{
    CrcParams params;
    QString error;
    bool ok = false;
};

// Ids of the catalog rows; they are the item data of the calculator's model chooser.
enum class CrcCatalogId : qint32 {
    Crc4Itu = 0,
    Crc5Itu = 1,
    Crc5Usb = 2,
    Crc6Itu = 3,
    Crc8 = 4,
    Crc16Modbus = 5,
    Crc16Usb = 6,
    Crc32 = 7,
    CrcCustom = 8,
};

const QList<CrcModel> &crcCatalog();
std::optional<CrcModel> findCrcModel(int id);
// Fixed routine of catalog row id; any other id gives 0.
quint64 computeCatalogCrc(int id, const QByteArray &data);
quint64 computeCatalogCrc(int id, const char *data, qsizetype size);
inline quint64 computeCatalogCrc(CrcCatalogId id, const QByteArray &data)
{
    return computeCatalogCrc(int(id), data);
}
// Generic bit-by-bit engine for any width 1..64.
quint64 computeCrc(const QByteArray &data, const CrcParams &params);
quint64 widthMask(int width);
// Messages are in the toolbox's translation context, which shows them.
CrcParamsResult validateCrcParams(const QString &width, const QString &poly, const QString &init,
                                  const QString &xorOut, bool refIn, bool refOut);
