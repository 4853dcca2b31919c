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
            const quint64 in = (byte >> i) & 1;
            const quint64 top = (reg >> (p.width - 1)) & 1;
            reg = (reg << 1) & mask;
            if (top ^ in)
                reg ^= p.poly & mask;
        }
    }
    if (p.refOut)
        reg = reflect(reg, p.width);
    return (reg ^ p.xorOut) & mask;
}

QByteArray randomData(QRandomGenerator &rng, int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char(rng.bounded(256));
    return b;
}

CrcParams paramsOf(const CrcModel &m)
{
    return {m.width, m.poly, m.init, m.xorOut, m.refIn, m.refOut};
}

} // namespace

class tst_Crc : public QObject
{
    Q_OBJECT

private slots:
    void catalogCheckValues_data();
    void catalogCheckValues();
    void catalogRoutinesMatchEngine();
    void unknownCatalogIdGivesZero();
    void publishedModels_data();
    void publishedModels();
    void everyWidthAgainstReference();
    void width64MixedReflection();
    void widthMaskEdges_data();
    void widthMaskEdges();
    void validateParams_data();
    void validateParams();
    void appendChecksumVectors_data();
    void appendChecksumVectors();
    void wideSumAndXorMatchByteLoop();
};

void tst_Crc::catalogCheckValues_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint64>("check");
    QTest::addColumn<quint64>("empty");

    QTest::newRow("CRC-4/ITU") << 0 << QStringLiteral("CRC-4/ITU") << quint64(0x7) << quint64(0);
    QTest::newRow("CRC-5/ITU") << 1 << QStringLiteral("CRC-5/ITU") << quint64(0x07) << quint64(0);
    QTest::newRow("CRC-5/USB") << 2 << QStringLiteral("CRC-5/USB") << quint64(0x19) << quint64(0);
    QTest::newRow("CRC-6/ITU") << 3 << QStringLiteral("CRC-6/ITU") << quint64(0x06) << quint64(0);
    QTest::newRow("CRC-8") << 4 << QStringLiteral("CRC-8") << quint64(0xF4) << quint64(0);
    QTest::newRow("CRC-16/MODBUS") << 5 << QStringLiteral("CRC-16/MODBUS") << quint64(0x4B37)
                                   << quint64(0xFFFF);
    QTest::newRow("CRC-16/USB") << 6 << QStringLiteral("CRC-16/USB") << quint64(0xB4C8) << quint64(0);
    QTest::newRow("CRC-32") << 7 << QStringLiteral("CRC-32") << quint64(0xCBF43926) << quint64(0);
    QTest::newRow("Custom") << 8 << QStringLiteral("Custom") << quint64(0x29B1) << quint64(0xFFFF);
}

void tst_Crc::catalogCheckValues()
{
    QFETCH(int, id);
    QFETCH(QString, name);
    QFETCH(quint64, check);
    QFETCH(quint64, empty);

    QCOMPARE(crcCatalog().at(id).id, id);
    const auto model = findCrcModel(id);
    QVERIFY(model);
    QCOMPARE(model->name, name);
    QCOMPARE(computeCatalogCrc(id, kCheck), check);
    QCOMPARE(computeCatalogCrc(id, QByteArray()), empty);
    QCOMPARE(computeCrc(kCheck, paramsOf(*model)), check);
    QCOMPARE(referenceCrc(kCheck, paramsOf(*model)), check);
}

void tst_Crc::catalogRoutinesMatchEngine()
{
    QRandomGenerator rng(4242);
    QCOMPARE(crcCatalog().size(), 9);
    for (const CrcModel &m : crcCatalog()) {
        for (int size : {1, 2, 3, 7, 8, 15, 16, 17, 64, 255, 1000}) {
            const QByteArray data = randomData(rng, size);
            QCOMPARE(computeCatalogCrc(m.id, data), computeCrc(data, paramsOf(m)));
        }
    }
}

void tst_Crc::unknownCatalogIdGivesZero()
{
    QCOMPARE(computeCatalogCrc(9, kCheck), quint64(0));
    QCOMPARE(computeCatalogCrc(-1, kCheck), quint64(0));
    QVERIFY(!findCrcModel(9));
    QVERIFY(!findCrcModel(-1));
}

void tst_Crc::publishedModels_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<quint64>("poly");
    QTest::addColumn<quint64>("init");
    QTest::addColumn<bool>("refIn");
    QTest::addColumn<bool>("refOut");
    QTest::addColumn<quint64>("xorOut");
    QTest::addColumn<quint64>("check");

    // Check values on "123456789" as published in the CRC catalogue (reveng).
    QTest::newRow("CRC-3/GSM") << 3 << quint64(0x3) << quint64(0) << false << false << quint64(0x7) << quint64(0x4);
    QTest::newRow("CRC-3/ROHC") << 3 << quint64(0x3) << quint64(0x7) << true << true << quint64(0) << quint64(0x6);
    QTest::newRow("CRC-5/EPC-C1G2") << 5 << quint64(0x09) << quint64(0x09) << false << false << quint64(0) << quint64(0x00);
    QTest::newRow("CRC-6/CDMA2000-A") << 6 << quint64(0x27) << quint64(0x3F) << false << false << quint64(0) << quint64(0x0D);
    QTest::newRow("CRC-7/MMC") << 7 << quint64(0x09) << quint64(0) << false << false << quint64(0) << quint64(0x75);
    QTest::newRow("CRC-8/MAXIM-DOW") << 8 << quint64(0x31) << quint64(0) << true << true << quint64(0) << quint64(0xA1);
    QTest::newRow("CRC-10/ATM") << 10 << quint64(0x233) << quint64(0) << false << false << quint64(0) << quint64(0x199);
    QTest::newRow("CRC-12/UMTS") << 12 << quint64(0x80F) << quint64(0) << false << true << quint64(0) << quint64(0xDAF);
    QTest::newRow("CRC-16/XMODEM") << 16 << quint64(0x1021) << quint64(0) << false << false << quint64(0) << quint64(0x31C3);
    QTest::newRow("CRC-16/CCITT-FALSE") << 16 << quint64(0x1021) << quint64(0xFFFF) << false << false << quint64(0) << quint64(0x29B1);
    QTest::newRow("CRC-16/KERMIT") << 16 << quint64(0x1021) << quint64(0) << true << true << quint64(0) << quint64(0x2189);
    QTest::newRow("CRC-16/ARC") << 16 << quint64(0x8005) << quint64(0) << true << true << quint64(0) << quint64(0xBB3D);
    QTest::newRow("CRC-16/UMTS") << 16 << quint64(0x8005) << quint64(0) << false << false << quint64(0) << quint64(0xFEE8);
    // Reflected models whose init is not a bit palindrome: the register must start
    // from the mirrored init.
    QTest::newRow("CRC-16/RIELLO") << 16 << quint64(0x1021) << quint64(0xB2AA) << true << true << quint64(0) << quint64(0x63D0);
    QTest::newRow("CRC-24/BLE") << 24 << quint64(0x00065B) << quint64(0x555555) << true << true << quint64(0) << quint64(0xC25A56);
    QTest::newRow("CRC-24/OPENPGP") << 24 << quint64(0x864CFB) << quint64(0xB704CE) << false << false << quint64(0) << quint64(0x21CF02);
    QTest::newRow("CRC-31/PHILIPS") << 31 << quint64(0x04C11DB7) << quint64(0x7FFFFFFF) << false << false << quint64(0x7FFFFFFF) << quint64(0x0CE9E46C);
    QTest::newRow("CRC-32C") << 32 << quint64(0x1EDC6F41) << quint64(0xFFFFFFFF) << true << true << quint64(0xFFFFFFFF) << quint64(0xE3069283);
    QTest::newRow("CRC-32/BZIP2") << 32 << quint64(0x04C11DB7) << quint64(0xFFFFFFFF) << false << false << quint64(0xFFFFFFFF) << quint64(0xFC891918);
    QTest::newRow("CRC-32/MPEG-2") << 32 << quint64(0x04C11DB7) << quint64(0xFFFFFFFF) << false << false << quint64(0) << quint64(0x0376E6E7);
    QTest::newRow("CRC-40/GSM") << 40 << quint64(0x0004820009) << quint64(0) << false << false << quint64(0xFFFFFFFFFF) << quint64(0xD4164FC646);
    QTest::newRow("CRC-64/ECMA-182") << 64 << quint64(0x42F0E1EBA9EA3693) << quint64(0) << false << false << quint64(0) << quint64(0x6C40DF5F0B497347);
    QTest::newRow("CRC-64/WE") << 64 << quint64(0x42F0E1EBA9EA3693) << ~quint64(0) << false << false << ~quint64(0) << quint64(0x62EC59E3F1A4F00A);
    QTest::newRow("CRC-64/XZ") << 64 << quint64(0x42F0E1EBA9EA3693) << ~quint64(0) << true << true << ~quint64(0) << quint64(0x995DC9BBDF1939FA);
}

void tst_Crc::publishedModels()
{
    QFETCH(int, width);
    QFETCH(quint64, poly);
    QFETCH(quint64, init);
    QFETCH(bool, refIn);
    QFETCH(bool, refOut);
    QFETCH(quint64, xorOut);
    QFETCH(quint64, check);
    const CrcParams p{width, poly, init, xorOut, refIn, refOut};
    QCOMPARE(computeCrc(kCheck, p), check);
    QCOMPARE(referenceCrc(kCheck, p), check);
}

void tst_Crc::everyWidthAgainstReference()
{
    QRandomGenerator rng(1964);
    for (int width = 1; width <= 64; ++width) {
        const quint64 mask = widthMask(width);
        for (int round = 0; round < 12; ++round) {
            CrcParams p;
            p.width = width;
            p.poly = (rng.generate64() & mask) | 1;
            p.init = rng.generate64() & mask;
            p.xorOut = rng.generate64() & mask;
            p.refIn = round & 1;
            p.refOut = round & 2;
            const QByteArray data = randomData(rng, int(rng.bounded(1, 200)));
            const quint64 got = computeCrc(data, p);
            const quint64 want = referenceCrc(data, p);
            if (got != want)
                QFAIL(qPrintable(QStringLiteral("width %1 poly %2 init %3 refIn %4 refOut %5: %6 != %7")
                                         .arg(width).arg(p.poly, 0, 16).arg(p.init, 0, 16)
                                         .arg(p.refIn).arg(p.refOut).arg(got, 0, 16).arg(want, 0, 16)));
        }
    }
}

void tst_Crc::width64MixedReflection()
{
    CrcParams p{64, 0x42F0E1EBA9EA3693, 0x0123456789ABCDEF, 0x00FF00FF00FF00FF, false, false};
    const quint64 plain = computeCrc(kCheck, p) ^ p.xorOut;
    p.refOut = true;
    QCOMPARE(computeCrc(kCheck, p), reflect(plain, 64) ^ p.xorOut);
}

void tst_Crc::widthMaskEdges_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<quint64>("mask");
    QTest::newRow("-1") << -1 << quint64(0);
    QTest::newRow("0") << 0 << quint64(0);
    QTest::newRow("1") << 1 << quint64(1);
    QTest::newRow("5") << 5 << quint64(0x1F);
    QTest::newRow("63") << 63 << quint64(0x7FFFFFFFFFFFFFFF);
    QTest::newRow("64") << 64 << ~quint64(0);
    QTest::newRow("65") << 65 << ~quint64(0);
}

void tst_Crc::widthMaskEdges()
{
    QFETCH(int, width);
    QFETCH(quint64, mask);
    QCOMPARE(widthMask(width), mask);
}

void tst_Crc::validateParams_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("poly");
    QTest::addColumn<QString>("init");
    QTest::addColumn<QString>("xorOut");
    QTest::addColumn<QString>("error");

    const QString widthMsg = QStringLiteral("Width must be between 1 and 64.");
    const auto fits = [](const char *f) {
        return QStringLiteral("%1 must be a hexadecimal value that fits the width.").arg(QLatin1String(f));
    };
    const auto s = [](const char *t) { return QString::fromLatin1(t); };
    QTest::newRow("valid 16") << s("16") << s("1021") << s("ffff") << s("0") << QString();
    QTest::newRow("valid 64 full") << s("64") << s("42F0E1EBA9EA3693") << s("FFFFFFFFFFFFFFFF") << s("FFFFFFFFFFFFFFFF") << QString();
    QTest::newRow("valid 1") << s("1") << s("1") << s("1") << s("0") << QString();
    QTest::newRow("width 0") << s("0") << s("1") << s("0") << s("0") << widthMsg;
    QTest::newRow("width 65") << s("65") << s("1") << s("0") << s("0") << widthMsg;
    QTest::newRow("width empty") << QString() << s("1") << s("0") << s("0") << widthMsg;
    QTest::newRow("width hex") << s("0x10") << s("1") << s("0") << s("0") << widthMsg;
    QTest::newRow("width negative") << s("-8") << s("1") << s("0") << s("0") << widthMsg;
    QTest::newRow("width checked first") << s("99") << s("zz") << s("0") << s("0") << widthMsg;
    QTest::newRow("poly 1FF for width 8") << s("8") << s("1FF") << s("0") << s("0") << fits("Polynomial");
    QTest::newRow("poly 100 for width 8") << s("8") << s("100") << s("0") << s("0") << fits("Polynomial");
    QTest::newRow("poly FF for width 8") << s("8") << s("FF") << s("0") << s("0") << QString();
    QTest::newRow("poly not hex") << s("8") << s("G1") << s("0") << s("0") << fits("Polynomial");
    QTest::newRow("poly empty") << s("8") << QString() << s("0") << s("0") << fits("Polynomial");
    QTest::newRow("poly 17 digits") << s("64") << s("00000000000000001") << s("0") << s("0") << fits("Polynomial");
    QTest::newRow("init too wide") << s("16") << s("1021") << s("1FFFF") << s("0") << fits("Initial value");
    QTest::newRow("xorOut too wide") << s("4") << s("3") << s("0") << s("10") << fits("Final XOR");
    QTest::newRow("xorOut not hex") << s("4") << s("3") << s("0") << s("-1") << fits("Final XOR");
    QTest::newRow("zero poly") << s("16") << s("0000") << s("0") << s("0") << s("Polynomial must not be zero.");
}

void tst_Crc::validateParams()
{
    QFETCH(QString, width);
    QFETCH(QString, poly);
    QFETCH(QString, init);
    QFETCH(QString, xorOut);
    QFETCH(QString, error);
    const CrcParamsResult r = validateCrcParams(width, poly, init, xorOut, true, false);
    QCOMPARE(r.error, error);
    QCOMPARE(r.ok, error.isEmpty());
    if (r.ok) {
        QCOMPARE(r.params.width, width.toInt());
        QCOMPARE(r.params.poly, poly.toULongLong(nullptr, 16));
        QCOMPARE(r.params.init, init.toULongLong(nullptr, 16));
        QCOMPARE(r.params.xorOut, xorOut.toULongLong(nullptr, 16));
        QVERIFY(r.params.refIn);
        QVERIFY(!r.params.refOut);
    }
}

void tst_Crc::appendChecksumVectors_data()
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
        QTest::addRow("empty frame mode %d", mode) << QByteArray() << mode << QByteArray();
}

void tst_Crc::appendChecksumVectors()
{
    QFETCH(QByteArray, data);
    QFETCH(int, mode);
    QFETCH(QByteArray, appended);
    QCOMPARE(appendChecksum(data, mode).toHex(), (data + appended).toHex());
    QCOMPARE(appendChecksum(data, ChecksumMode(mode)).toHex(), (data + appended).toHex());
}

void tst_Crc::wideSumAndXorMatchByteLoop()
{
    QRandomGenerator rng(77);
    for (int size = 1; size <= 100; ++size) {
        const QByteArray data = randomData(rng, size);
        quint8 sum = 0;
        quint8 x = 0;
        for (char c : data) {
            sum = quint8(sum + quint8(c));
            x ^= quint8(c);
        }
        QCOMPARE(quint8(appendChecksum(data, ChecksumMode::Sum8).back()), sum);
        QCOMPARE(quint8(appendChecksum(data, ChecksumMode::Xor8).back()), x);
    }
}

QTEST_APPLESS_MAIN(tst_Crc)
#include "tst_crc.moc"
