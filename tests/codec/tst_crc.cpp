#include "codec/checksum.h"
#include "codec/crc.h"
#include "tests/support/bytes.h"

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

} // namespace

class tst_Crc : public QObject
{
    Q_OBJECT

private slots:
    void catalog_data()
    {
        QTest::addColumn<int>("id");
        for (int id = -1; id <= 9; ++id)
            QTest::addRow("id %d", id) << id;
    }

    // Each fixed routine agrees with the reference run on its model's parameters, on the
    // check string, nothing, and random data of every awkward length; ids without a model
    // give 0. (Their published check values are the CRC calculator's rows, in tests/tools.)
    void catalog()
    {
        QFETCH(int, id);
        const auto m = findCrcModel(id);
        QCOMPARE(bool(m), id >= 0 && id <= 8);
        const CrcParams p = m ? CrcParams{m->width, m->poly, m->init, m->xorOut, m->refIn, m->refOut} : CrcParams{};
        for (int size : {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 64, 255, 1000}) {
            const QByteArray data = size == 9 ? kCheck : randomBytes(size, 4242 + size);
            QCOMPARE(computeCatalogCrc(id, data), m ? referenceCrc(data, p) : 0);
        }
    }

    void engineAgainstReference()
    {
        // Check values from the published CRC catalogue, for the engine and the reference alike.
        // Reflected models whose init is not a bit palindrome (RIELLO, BLE) need the mirrored init.
        const QList<std::pair<CrcParams, quint64>> published{
            {{3, 0x3, 0x7, 0, true, true}, 0x6},                                 // CRC-3/ROHC
            {{16, 0x1021, 0xB2AA, 0, true, true}, 0x63D0},                       // CRC-16/RIELLO
            {{24, 0x65B, 0x555555, 0, true, true}, 0xC25A56},                    // CRC-24/BLE
            {{31, 0x04C11DB7, 0x7FFFFFFF, 0x7FFFFFFF, false, false}, 0x0CE9E46C}, // CRC-31/PHILIPS
            {{40, 0x0004820009, 0, 0xFFFFFFFFFF, false, false}, 0xD4164FC646},    // CRC-40/GSM
        };
        for (const auto &[p, check] : published) {
            QCOMPARE(computeCrc(kCheck, p), check);
            QCOMPARE(referenceCrc(kCheck, p), check);
        }
        // Random parameters and data at every width, with the width mask's edges.
        QRandomGenerator rng(1964);
        for (int width = -1; width <= 65; ++width) {
            const quint64 mask = width <= 0 ? 0 : width >= 64 ? ~quint64(0) : (quint64(1) << width) - 1;
            QCOMPARE(widthMask(width), mask);
            for (int round = 0; width >= 1 && width <= 64 && round < 12; ++round) {
                const CrcParams p{width, (rng.generate64() & mask) | 1, rng.generate64() & mask, rng.generate64() & mask,
                                  bool(round & 1), bool(round & 2)};
                const QByteArray data = randomBytes(rng.bounded(1, 200), rng.generate());
                QVERIFY2(computeCrc(data, p) == referenceCrc(data, p), qPrintable(QStringLiteral("width %1 round %2").arg(width).arg(round)));
            }
        }
    }

    void validateParams_data()
    {
        QTest::addColumn<QString>("fields"); // width|poly|init|xorOut
        QTest::addColumn<QString>("error");
        const QString width = QStringLiteral("Width must be between 1 and 64.");
        const auto fits = [](const char *f) { return QLatin1String(f) + QStringLiteral(" must be a hexadecimal value that fits the width."); };
        const QList<std::pair<const char *, QString>> rows{
            {"64|42F0E1EBA9EA3693|FFFFFFFFFFFFFFFF|FFFFFFFFFFFFFFFF", {}}, {"8|ff|0|0", {}}, {"0|1|0|0", width}, {"65|1|0|0", width},
            {"|1|0|0", width}, {"0x10|1|0|0", width}, {"99|zz|0|0", width}, {"8|100|0|0", fits("Polynomial")}, {"8||0|0", fits("Polynomial")},
            {"64|00000000000000001|0|0", fits("Polynomial")}, {"16|1021|1FFFF|0", fits("Initial value")}, {"4|3|0|-1", fits("Final XOR")},
            {"16|0000|0|0", QStringLiteral("Polynomial must not be zero.")}};
        for (const auto &[fields, error] : rows)
            QTest::newRow(fields) << QString::fromLatin1(fields) << error;
    }

    void validateParams()
    {
        QFETCH(QString, fields);
        QFETCH(QString, error);
        const QStringList f = fields.split(QLatin1Char('|'));
        const CrcParamsResult r = validateCrcParams(f[0], f[1], f[2], f[3], true, false);
        QCOMPARE(r.error, error);
        QCOMPARE(r.ok, error.isEmpty());
        const CrcParams want{f[0].toInt(), f[1].toULongLong(nullptr, 16), f[2].toULongLong(nullptr, 16), f[3].toULongLong(nullptr, 16), true, false};
        QVERIFY(!r.ok || (r.params.width == want.width && computeCrc(kCheck, r.params) == computeCrc(kCheck, want)));
    }

    void appendChecksum_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("appended");
        const QList<std::tuple<const char *, QByteArray, int, const char *>> rows{
            {"none", kCheck, 0, ""}, {"SUM wraps", "\xff\x02", 1, "01"}, {"XOR", "\x0f\xf0", 2, "ff"}, {"CRC-8", kCheck, 3, "f4"},
            {"CRC-16/MODBUS low byte first", kCheck, 4, "374b"}, {"CRC-32 LSB first", kCheck, 5, "2639f4cb"}, {"unknown mode 6", kCheck, 6, ""},
            {"unknown mode -1", kCheck, -1, ""}, {"empty frame, CRC-32", {}, 5, ""}, {"empty frame, SUM", {}, 1, ""}};
        for (const auto &[name, data, mode, appended] : rows)
            QTest::newRow(name) << data << mode << QByteArray::fromHex(appended);
    }

    void appendChecksum()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, mode);
        QFETCH(QByteArray, appended);
        QCOMPARE(::appendChecksum(data, mode).toHex(), (data + appended).toHex());
        // The wide-step sum and XOR against a plain byte loop, on every length up to 100.
        for (int size = 1; size <= 100 && (mode == 1 || mode == 2); ++size) {
            const QByteArray d = randomBytes(size, 77 + size);
            quint8 want = 0;
            for (char c : d)
                want = mode == 1 ? quint8(want + quint8(c)) : quint8(want ^ quint8(c));
            QCOMPARE(quint8(::appendChecksum(d, mode).back()), want);
        }
    }
};

QTEST_APPLESS_MAIN(tst_Crc)
#include "tst_crc.moc"
