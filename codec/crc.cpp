#include "codec/crc.h"

#include <QByteArray>
#include <QCoreApplication>

#include <array>
#include <type_traits>

namespace {

constexpr quint64 maskOf(int width)
{
    return width >= 64 ? ~quint64(0) : width < 1 ? 0 : (quint64(1) << width) - 1;
}

constexpr quint64 reflectBits(quint64 v, int width)
{
    quint64 r = 0;
    for (int i = 0; i < width; ++i) {
        r = (r << 1) | (v & 1);
        v >>= 1;
    }
    return r;
}

// A catalog row compiled into its own table-driven routine.
template<int Width, quint64 Poly, quint64 Init, quint64 XorOut, bool Reflected>
struct FixedCrc
{
    static_assert(Reflected || Width >= 8, "catalog rows below 8 bits are all reflected");
    static constexpr quint64 kMask = maskOf(Width);
    // The narrowest entry keeps the table within a few cache lines.
    using Entry = std::conditional_t<Width <= 8, quint8,
                                     std::conditional_t<Width <= 16, quint16, quint32>>;
    static_assert(Width <= 32, "catalog rows are at most 32 bits wide");

    static constexpr std::array<Entry, 256> makeTable()
    {
        std::array<Entry, 256> t{};
        for (quint64 n = 0; n < 256; ++n) {
            quint64 r;
            if constexpr (Reflected) {
                const quint64 rpoly = reflectBits(Poly, Width);
                r = n;
                for (int k = 0; k < 8; ++k)
                    r = (r & 1) ? (r >> 1) ^ rpoly : r >> 1;
            } else {
                const quint64 top = quint64(1) << (Width - 1);
                r = n << (Width - 8);
                for (int k = 0; k < 8; ++k)
                    r = ((r & top) ? (r << 1) ^ Poly : r << 1) & kMask;
            }
            t[n] = Entry(r);
        }
        return t;
    }
    static constexpr std::array<Entry, 256> kTable = makeTable();

    static quint64 compute(const uchar *p, qsizetype n)
    {
        if constexpr (Reflected) {
            // The LSB-first register holds the mirror image of the model's init.
            quint64 crc = reflectBits(Init, Width);
            for (qsizetype i = 0; i < n; ++i)
                crc = (crc >> 8) ^ kTable[(crc ^ p[i]) & 0xFF];
            return (crc ^ XorOut) & kMask;
        } else {
            quint64 crc = Init;
            for (qsizetype i = 0; i < n; ++i)
                crc = ((crc << 8) ^ kTable[((crc >> (Width - 8)) ^ p[i]) & 0xFF]) & kMask;
            return (crc ^ XorOut) & kMask;
        }
    }
};

using Crc4ItuRoutine = FixedCrc<4, 0x3, 0x0, 0x0, true>;
using Crc5ItuRoutine = FixedCrc<5, 0x15, 0x00, 0x00, true>;
using Crc5UsbRoutine = FixedCrc<5, 0x05, 0x1F, 0x1F, true>;
using Crc6ItuRoutine = FixedCrc<6, 0x03, 0x00, 0x00, true>;
using Crc8Routine = FixedCrc<8, 0x07, 0x00, 0x00, false>;
using Crc16ModbusRoutine = FixedCrc<16, 0x8005, 0xFFFF, 0x0000, true>;
using Crc16UsbRoutine = FixedCrc<16, 0x8005, 0xFFFF, 0xFFFF, true>;
using Crc32Routine = FixedCrc<32, 0x04C11DB7, 0xFFFFFFFF, 0xFFFFFFFF, true>;
using CrcCustomRoutine = FixedCrc<16, 0x1021, 0xFFFF, 0x0000, false>;

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// 1 to 16 hexadecimal digits, as the parameter fields accept.
bool parseHex(const QString &text, quint64 *value)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 16)
        return false;
    quint64 v = 0;
    for (QChar c : t) {
        const int d = hexDigit(c);
        if (d < 0)
            return false;
        v = (v << 4) | quint64(d);
    }
    *value = v;
    return true;
}

} // namespace

const QList<CrcModel> &crcCatalog()
{
    static const QList<CrcModel> catalog = {
        {qint32(CrcCatalogId::Crc4Itu), QStringLiteral("CRC-4/ITU"), 4, 0x3, 0x0, 0x0, true, true},
        {qint32(CrcCatalogId::Crc5Itu), QStringLiteral("CRC-5/ITU"), 5, 0x15, 0x00, 0x00, true, true},
        {qint32(CrcCatalogId::Crc5Usb), QStringLiteral("CRC-5/USB"), 5, 0x05, 0x1F, 0x1F, true, true},
        {qint32(CrcCatalogId::Crc6Itu), QStringLiteral("CRC-6/ITU"), 6, 0x03, 0x00, 0x00, true, true},
        {qint32(CrcCatalogId::Crc8), QStringLiteral("CRC-8"), 8, 0x07, 0x00, 0x00, false, false},
        {qint32(CrcCatalogId::Crc16Modbus), QStringLiteral("CRC-16/MODBUS"), 16, 0x8005, 0xFFFF, 0x0000, true, true},
        {qint32(CrcCatalogId::Crc16Usb), QStringLiteral("CRC-16/USB"), 16, 0x8005, 0xFFFF, 0xFFFF, true, true},
        {qint32(CrcCatalogId::Crc32), QStringLiteral("CRC-32"), 32, 0x04C11DB7, 0xFFFFFFFF, 0xFFFFFFFF, true, true},
        {qint32(CrcCatalogId::CrcCustom), QStringLiteral("Custom"), 16, 0x1021, 0xFFFF, 0x0000, false, false},
    };
    return catalog;
}

std::optional<CrcModel> findCrcModel(int id)
{
    for (const CrcModel &m : crcCatalog()) {
        if (m.id == id)
            return m;
    }
    return std::nullopt;
}

quint64 computeCatalogCrc(int id, const char *data, qsizetype size)
{
    const auto *p = reinterpret_cast<const uchar *>(data);
    switch (id) {
    case qint32(CrcCatalogId::Crc4Itu): return Crc4ItuRoutine::compute(p, size);
    case qint32(CrcCatalogId::Crc5Itu): return Crc5ItuRoutine::compute(p, size);
    case qint32(CrcCatalogId::Crc5Usb): return Crc5UsbRoutine::compute(p, size);
    case qint32(CrcCatalogId::Crc6Itu): return Crc6ItuRoutine::compute(p, size);
    case qint32(CrcCatalogId::Crc8): return Crc8Routine::compute(p, size);
    case qint32(CrcCatalogId::Crc16Modbus): return Crc16ModbusRoutine::compute(p, size);
    case qint32(CrcCatalogId::Crc16Usb): return Crc16UsbRoutine::compute(p, size);
    case qint32(CrcCatalogId::Crc32): return Crc32Routine::compute(p, size);
    case qint32(CrcCatalogId::CrcCustom): return CrcCustomRoutine::compute(p, size);
    default: return 0;
    }
}

quint64 computeCatalogCrc(int id, const QByteArray &data)
{
    return computeCatalogCrc(id, data.constData(), data.size());
}

quint64 widthMask(int width)
{
    return maskOf(width);
}

quint64 computeCrc(const QByteArray &data, const CrcParams &params)
{
    const int width = params.width;
    if (width < 1)
        return 0;
    const quint64 mask = widthMask(width);
    const quint64 poly = params.poly & mask;
    const quint64 init = params.init & mask;
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const qsizetype n = data.size();
    quint64 reg;

    if (params.refIn) {
        const quint64 rpoly = reflectBits(poly, width);
        // init is the register of the unreflected algorithm, so the LSB-first
        // register starts from its mirror image (matters for e.g. CRC-24/BLE).
        reg = reflectBits(init, width);
        for (qsizetype i = 0; i < n; ++i) {
            reg ^= p[i];
            for (int k = 0; k < 8; ++k)
                reg = (reg & 1) ? (reg >> 1) ^ rpoly : reg >> 1;
            reg &= mask;
        }
    } else if (width >= 8) {
        const quint64 top = quint64(1) << (width - 1);
        reg = init;
        for (qsizetype i = 0; i < n; ++i) {
            reg ^= quint64(p[i]) << (width - 8);
            for (int k = 0; k < 8; ++k)
                reg = (reg & top) ? (reg << 1) ^ poly : reg << 1;
            reg &= mask;
        }
    } else {
        const int shift = 8 - width;
        const quint32 spoly = quint32(poly << shift) & 0xFF;
        quint32 r8 = quint32(init << shift) & 0xFF;
        for (qsizetype i = 0; i < n; ++i) {
            r8 ^= p[i];
            for (int k = 0; k < 8; ++k)
                r8 = ((r8 & 0x80) ? (r8 << 1) ^ spoly : r8 << 1) & 0xFF;
        }
        reg = r8 >> shift;
    }

    if (params.refOut != params.refIn)
        reg = reflectBits(reg, width);
    return (reg ^ params.xorOut) & mask;
}

CrcParamsResult validateCrcParams(const QString &width, const QString &poly, const QString &init,
                                  const QString &xorOut, bool refIn, bool refOut)
{
    CrcParamsResult result;
    const QString w = width.trimmed();
    bool digitsOnly = !w.isEmpty() && w.size() <= 3;
    for (QChar c : w)
        digitsOnly = digitsOnly && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int widthValue = digitsOnly ? w.toInt() : 0;
    if (widthValue < 1 || widthValue > 64) {
        result.error = QCoreApplication::translate("ToolBox", "Width must be between 1 and 64.");
        return result;
    }
    const quint64 mask = widthMask(widthValue);
    const struct {
        const QString &text;
        quint64 *target;
        const char *label;
    } fields[] = {
        {poly, &result.params.poly, QT_TRANSLATE_NOOP("ToolBox", "Polynomial")},
        {init, &result.params.init, QT_TRANSLATE_NOOP("ToolBox", "Initial value")},
        {xorOut, &result.params.xorOut, QT_TRANSLATE_NOOP("ToolBox", "Final XOR")},
    };
    for (const auto &f : fields) {
        quint64 v = 0;
        if (!parseHex(f.text, &v) || v > mask) {
            result.error = QCoreApplication::translate(
                    "ToolBox", "%1 must be a hexadecimal value that fits the width.")
                                   .arg(QCoreApplication::translate("ToolBox", f.label));
            return result;
        }
        *f.target = v;
    }
    if (result.params.poly == 0) {
        result.error = QCoreApplication::translate("ToolBox", "Polynomial must not be zero.");
        return result;
    }
    result.params.width = widthValue;
    result.params.refIn = refIn;
    result.params.refOut = refOut;
    result.ok = true;
    return result;
}
