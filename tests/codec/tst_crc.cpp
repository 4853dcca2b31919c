#include "codec/checksum.h"
#include "codec/crc.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

const QByteArray kCheck = QByteArrayLiteral("123456789");

quint64 reflect(quint64 v, int width)
{
    quint64 r = 0;
    for (int i = 0; i < width; ++i)
        r |= ((v >> i) & 1) << (width - 1 - i);
    return r;
}

// Textbook model: one message bit at a time into an MSB-first register; input
// reflection reverses each byte. Shares no code or structure with the engine.
quint64 referenceCrc(const QByteArray &data, const CrcParams &p)
{
    const quint64 mask = p.width >= 64 ? ~quint64(0) : (quint64(1) << p.width) - 1;
    quint64 reg = p.init & mask;
    for (char c : data) {
        const quint8 byte = p.refIn ? quint8(reflect(quint8(c), 8)) : quint8(c);
        for (int i = 7; i >= 0; --i) {
            const quint64 top = (reg >> (p.width - 1)) & 1;
            reg = (reg << 1) & mask;
            if (top ^ ((byte >> i) & 1))
                reg ^= p.poly & mask;
        }
    }
    return ((p.refOut ? reflect(reg, p.width) : reg) ^ p.xorOut) & mask;
}

QByteArray randomData(QRandomGenerator &rng, int size)
{
    QByteArray b(size, '\0');
    for (char &c : b)
        c = char(rng.bounded(256));
    return b;
}

} // namespace

class tst_Crc : public QObject
{
    Q_OBJECT

private slots:
    void catalog_data();
    void catalog();
    void publishedModels_data();
    void publishedModels();
    void everyWidthAgainstReference();
    void validateParams_data();
    void validateParams();
    void appendChecksum_data();
    void appendChecksum();
};

void tst_Crc::catalog_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<quint64>("check");
    QTest::addColumn<quint64>("empty");
    QTest::newRow("CRC-4/ITU") << 0 << quint64(0x7) << quint64(0);
    QTest::newRow("CRC-5/ITU") << 1 << quint64(0x07) << quint64(0);
    QTest::newRow("CRC-5/USB") << 2 << quint64(0x19) << quint64(0);
    QTest::newRow("CRC-6/ITU") << 3 << quint64(0x06) << quint64(0);
    QTest::newRow("CRC-8") << 4 << quint64(0xF4) << quint64(0);
    QTest::newRow("CRC-16/MODBUS") << 5 << quint64(0x4B37) << quint64(0xFFFF);
    QTest::newRow("CRC-16/USB") << 6 << quint64(0xB4C8) << quint64(0);
    QTest::newRow("CRC-32") << 7 << quint64(0xCBF43926) << quint64(0);
    QTest::newRow("Custom") << 8 << quint64(0x29B1) << quint64(0xFFFF);
    QTest::newRow("unknown 9") << 9 << quint64(0) << quint64(0);
    QTest::newRow("unknown -1") << -1 << quint64(0) << quint64(0);
}

// The fixed routines agree with the published check values and with the generic
// engine on random data of every awkward length.
void tst_Crc::catalog()
{
    QFETCH(int, id);
    QFETCH(quint64, check);
    QFETCH(quint64, empty);
    QCOMPARE(computeCatalogCrc(id, kCheck), check);
    QCOMPARE(computeCatalogCrc(id, QByteArray()), empty);
    const auto m = findCrcModel(id);
    QCOMPARE(bool(m), check != 0);
    if (!m)
        return;
    const CrcParams p{m->width, m->poly, m->init, m->xorOut, m->refIn, m->refOut};
    QCOMPARE(referenceCrc(kCheck, p), check);
    QRandomGenerator rng(4242);
    for (int size : {1, 2, 3, 7, 8, 15, 16, 17, 64, 255, 1000}) {
        const QByteArray data = randomData(rng, size);
        QCOMPARE(computeCatalogCrc(id, data), computeCrc(data, p));
    }
}

void tst_Crc::publishedModels_data()
{
    QTest::addColumn<CrcParams>("p");
    QTest::addColumn<quint64>("check");
    // Check values on "123456789" from the published CRC catalogue: {width, poly, init, xorOut, refIn, refOut}.
    QTest::newRow("CRC-3/GSM") << CrcParams{3, 0x3, 0, 0x7, false, false} << quint64(0x4);
    QTest::newRow("CRC-3/ROHC") << CrcParams{3, 0x3, 0x7, 0, true, true} << quint64(0x6);
    QTest::newRow("CRC-6/CDMA2000-A") << CrcParams{6, 0x27, 0x3F, 0, false, false} << quint64(0x0D);
    QTest::newRow("CRC-10/ATM") << CrcParams{10, 0x233, 0, 0, false, false} << quint64(0x199);
    QTest::newRow("CRC-12/UMTS") << CrcParams{12, 0x80F, 0, 0, false, true} << quint64(0xDAF);
    QTest::newRow("CRC-16/KERMIT") << CrcParams{16, 0x1021, 0, 0, true, true} << quint64(0x2189);
    // Reflected models whose init is not a bit palindrome: the register starts from the mirrored init.
    QTest::newRow("CRC-16/RIELLO") << CrcParams{16, 0x1021, 0xB2AA, 0, true, true} << quint64(0x63D0);
    QTest::newRow("CRC-24/BLE") << CrcParams{24, 0x65B, 0x555555, 0, true, true} << quint64(0xC25A56);
    QTest::newRow("CRC-31/PHILIPS") << CrcParams{31, 0x04C11DB7, 0x7FFFFFFF, 0x7FFFFFFF, false, false} << quint64(0x0CE9E46C);
    QTest::newRow("CRC-32C") << CrcParams{32, 0x1EDC6F41, 0xFFFFFFFF, 0xFFFFFFFF, true, true} << quint64(0xE3069283);
    QTest::newRow("CRC-40/GSM") << CrcParams{40, 0x0004820009, 0, 0xFFFFFFFFFF, false, false} << quint64(0xD4164FC646);
    QTest::newRow("CRC-64/WE") << CrcParams{64, 0x42F0E1EBA9EA3693, ~0ull, ~0ull, false, false} << quint64(0x62EC59E3F1A4F00A);
    QTest::newRow("CRC-64/XZ") << CrcParams{64, 0x42F0E1EBA9EA3693, ~0ull, ~0ull, true, true} << quint64(0x995DC9BBDF1939FA);
}

void tst_Crc::publishedModels()
{
    QFETCH(CrcParams, p);
    QFETCH(quint64, check);
    QCOMPARE(computeCrc(kCheck, p), check);
    QCOMPARE(referenceCrc(kCheck, p), check);
}

void tst_Crc::everyWidthAgainstReference()
{
    QRandomGenerator rng(1964);
    for (int width = -1; width <= 65; ++width) {
        const quint64 mask = width <= 0 ? 0 : width >= 64 ? ~quint64(0) : (quint64(1) << width) - 1;
        QCOMPARE(widthMask(width), mask);
        if (width < 1 || width > 64)
            continue;
        for (int round = 0; round < 12; ++round) {
            const CrcParams p{width, (rng.generate64() & mask) | 1, rng.generate64() & mask, rng.generate64() & mask,
                              bool(round & 1), bool(round & 2)};
            const QByteArray data = randomData(rng, int(rng.bounded(1, 200)));
            QVERIFY2(computeCrc(data, p) == referenceCrc(data, p),
                     qPrintable(QStringLiteral("width %1 poly %2 round %3").arg(width).arg(p.poly, 0, 16).arg(round)));
        }
    }
}

void tst_Crc::validateParams_data()
{
    QTest::addColumn<QString>("fields"); // width|poly|init|xorOut
    QTest::addColumn<QString>("error");
    const QString width = QStringLiteral("Width must be between 1 and 64.");
    const auto fits = [](const char *f) {
        return QLatin1String(f) + QStringLiteral(" must be a hexadecimal value that fits the width.");
    };
    QTest::newRow("valid 16") << QStringLiteral("16|1021|ffff|0") << QString();
    QTest::newRow("valid 64, full") << QStringLiteral("64|42F0E1EBA9EA3693|FFFFFFFFFFFFFFFF|FFFFFFFFFFFFFFFF") << QString();
    QTest::newRow("width 0") << QStringLiteral("0|1|0|0") << width;
    QTest::newRow("width 65") << QStringLiteral("65|1|0|0") << width;
    QTest::newRow("width empty") << QStringLiteral("|1|0|0") << width;
    QTest::newRow("width hex") << QStringLiteral("0x10|1|0|0") << width;
    QTest::newRow("width checked first") << QStringLiteral("99|zz|0|0") << width;
    QTest::newRow("poly FF fits 8") << QStringLiteral("8|FF|0|0") << QString();
    QTest::newRow("poly 100 too wide for 8") << QStringLiteral("8|100|0|0") << fits("Polynomial");
    QTest::newRow("poly not hex") << QStringLiteral("8|G1|0|0") << fits("Polynomial");
    QTest::newRow("poly empty") << QStringLiteral("8||0|0") << fits("Polynomial");
    QTest::newRow("poly 17 digits") << QStringLiteral("64|00000000000000001|0|0") << fits("Polynomial");
    QTest::newRow("init too wide") << QStringLiteral("16|1021|1FFFF|0") << fits("Initial value");
    QTest::newRow("xorOut too wide") << QStringLiteral("4|3|0|10") << fits("Final XOR");
    QTest::newRow("xorOut negative") << QStringLiteral("4|3|0|-1") << fits("Final XOR");
    QTest::newRow("zero poly") << QStringLiteral("16|0000|0|0") << QStringLiteral("Polynomial must not be zero.");
}

void tst_Crc::validateParams()
{
    QFETCH(QString, fields);
    QFETCH(QString, error);
    const QStringList f = fields.split(QLatin1Char('|'));
    const CrcParamsResult r = validateCrcParams(f[0], f[1], f[2], f[3], true, false);
    QCOMPARE(r.error, error);
    QCOMPARE(r.ok, error.isEmpty());
    if (r.ok) {
        const CrcParams want{f[0].toInt(), f[1].toULongLong(nullptr, 16), f[2].toULongLong(nullptr, 16),
                             f[3].toULongLong(nullptr, 16), true, false};
        QCOMPARE(computeCrc(kCheck, r.params), computeCrc(kCheck, want));
        QCOMPARE(r.params.width, want.width);
    }
}

void tst_Crc::appendChecksum_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("appended");
    const auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    QTest::newRow("none") << kCheck << 0 << QByteArray();
    QTest::newRow("SUM wraps") << hex("ff02") << 1 << hex("01");
    QTest::newRow("XOR") << hex("0ff0") << 2 << hex("ff");
    QTest::newRow("CRC-8") << kCheck << 3 << hex("f4");
    QTest::newRow("CRC-16/MODBUS low byte first") << kCheck << 4 << hex("374b");
    QTest::newRow("CRC-32 LSB first") << kCheck << 5 << hex("2639f4cb");
    QTest::newRow("unknown mode 6") << kCheck << 6 << QByteArray();
    QTest::newRow("unknown mode -1") << kCheck << -1 << QByteArray();
    for (int mode = 0; mode <= 5; ++mode)
        QTest::addRow("empty frame, mode %d", mode) << QByteArray() << mode << QByteArray();
}

void tst_Crc::appendChecksum()
{
    QFETCH(QByteArray, data);
    QFETCH(int, mode);
    QFETCH(QByteArray, appended);
    QCOMPARE(::appendChecksum(data, mode).toHex(), (data + appended).toHex());
    QCOMPARE(::appendChecksum(data, ChecksumMode(mode)).toHex(), (data + appended).toHex());
    if (mode != 1 && mode != 2)
        return;
    // The wide-step sum and XOR against a plain byte loop, on every length up to 100.
    QRandomGenerator rng(77);
    for (int size = 1; size <= 100; ++size) {
        const QByteArray d = randomData(rng, size);
        quint8 want = 0;
        for (char c : d)
            want = mode == 1 ? quint8(want + quint8(c)) : quint8(want ^ quint8(c));
        QCOMPARE(quint8(::appendChecksum(d, mode).back()), want);
    }
}

QTEST_APPLESS_MAIN(tst_Crc)
#include "tst_crc.moc"
