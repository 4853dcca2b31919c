#include "codec/crcformat.h"
#include "codec/hextext.h"

#include <QTest>

namespace {

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

const QString kIncomplete = QStringLiteral("Hex input must contain complete bytes.");

QString badAt(int position)
{
    return QStringLiteral("Invalid hex character at position %1.").arg(position);
}

} // namespace

class tst_HexText : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void hexPairsRoundTrip();
    void decodeUtf8_data();
    void decodeUtf8();
    void crcValueText_data();
    void crcValueText();
    void crcWire_data();
    void crcWire();
};

void tst_HexText::parse_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::newRow("blank between the digits of a byte") << QStringLiteral("4 1") << hex("41") << QString();
    QTest::newRow("three digits") << QStringLiteral("41 4") << QByteArray() << kIncomplete;
    QTest::newRow("G at 2") << QStringLiteral("4G") << QByteArray() << badAt(2);
    QTest::newRow("bad character wins over odd count") << QStringLiteral("4 G") << QByteArray() << badAt(3);
    QTest::newRow("empty") << QString() << QByteArray() << QString();
    QTest::newRow("only whitespace") << QStringLiteral(" \t\r\n ") << QByteArray() << QString();
    QTest::newRow("mixed case, tabs and lines") << QStringLiteral("de AD\tbe\nEF") << hex("deadbeef") << QString();
    QTest::newRow("no-break and ideographic spaces")
            << QStringLiteral("0\u00A00\u3000ff") << hex("00ff") << QString();
    QTest::newRow("0x prefix") << QStringLiteral("0x41") << QByteArray() << badAt(2);
    QTest::newRow("comma separator") << QStringLiteral("01,02") << QByteArray() << badAt(3);
    QTest::newRow("full-width digit") << QStringLiteral("4\uFF11") << QByteArray() << badAt(2);
    QTest::newRow("emoji after digits") << QStringLiteral("41 \U0001F600") << QByteArray() << badAt(4);
}

void tst_HexText::parse()
{
    QFETCH(QString, input);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    const HexInput parsed = parseHexInput(input);
    QCOMPARE(parsed.error, error);
    QCOMPARE(parsed.ok, error.isEmpty());
    QCOMPARE(parsed.bytes, bytes);
}

void tst_HexText::hexPairsRoundTrip()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = toHexPairs(all);
    QCOMPARE(text.size(), 256 * 3 - 1);
    QVERIFY(text.startsWith(QStringLiteral("00 01 02")));
    QVERIFY(text.endsWith(QStringLiteral("FE FF")));
    QCOMPARE(parseHexInput(text).bytes, all);
}

void tst_HexText::decodeUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("invalid");
    QTest::addColumn<int>("first");
    const QChar r = QChar::ReplacementCharacter;
    QTest::newRow("empty") << QByteArray() << QString() << 0 << -1;
    QTest::newRow("ascii") << QByteArray("AB") << QStringLiteral("AB") << 0 << -1;
    QTest::newRow("two, three and four byte forms") << hex("c3a9e282acf09f9880")
                                                    << QStringLiteral("\u00E9\u20AC\U0001F600") << 0 << -1;
    QTest::newRow("FF between letters") << hex("41ff42") << (QStringLiteral("A") + r + QStringLiteral("B")) << 1 << 1;
    QTest::newRow("lone continuation byte") << hex("80") << QString(r) << 1 << 0;
    QTest::newRow("overlong NUL") << hex("c080") << QString(2, r) << 2 << 0;
    QTest::newRow("overlong slash in three bytes") << hex("e080af") << QString(3, r) << 3 << 0;
    QTest::newRow("surrogate D800") << hex("eda080") << QString(3, r) << 3 << 0;
    QTest::newRow("above U+10FFFF") << hex("f4908080") << QString(4, r) << 4 << 0;
    QTest::newRow("truncated at the end") << hex("41e282") << (QStringLiteral("A") + QString(2, r)) << 2 << 1;
    QTest::newRow("truncated before a letter") << hex("e28241") << (QString(2, r) + QStringLiteral("A")) << 2 << 0;
    QTest::newRow("valid after invalid") << hex("fec3a9") << (QString(r) + QStringLiteral("\u00E9")) << 1 << 0;
}

void tst_HexText::decodeUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(int, invalid);
    QFETCH(int, first);
    const Utf8Text decoded = decodeUtf8Lossy(bytes);
    QCOMPARE(decoded.text, text);
    QCOMPARE(decoded.invalidBytes, qsizetype(invalid));
    QCOMPARE(decoded.firstInvalid, qsizetype(first));
}

void tst_HexText::crcValueText_data()
{
    QTest::addColumn<quint64>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("base");
    QTest::addColumn<QString>("text");
    const quint64 ones = ~quint64(0);
    QTest::newRow("16 hex") << quint64(0x4B37) << 16 << 16 << QStringLiteral("4B37");
    QTest::newRow("16 dec") << quint64(0x4B37) << 16 << 10 << QStringLiteral("19255");
    QTest::newRow("16 oct padded to 6") << quint64(0x4B37) << 16 << 8 << QStringLiteral("045467");
    QTest::newRow("16 bin padded to 16") << quint64(0x4B37) << 16 << 2 << QStringLiteral("0100101100110111");
    QTest::newRow("4 hex") << quint64(0x7) << 4 << 16 << QStringLiteral("7");
    QTest::newRow("4 bin") << quint64(0x7) << 4 << 2 << QStringLiteral("0111");
    QTest::newRow("5 hex padded to 2") << quint64(0x7) << 5 << 16 << QStringLiteral("07");
    QTest::newRow("8 dec not padded") << quint64(0x07) << 8 << 10 << QStringLiteral("7");
    QTest::newRow("64 zero hex") << quint64(0) << 64 << 16 << QStringLiteral("0000000000000000");
    QTest::newRow("64 ones oct") << ones << 64 << 8 << QStringLiteral("1777777777777777777777");
    QTest::newRow("64 ones dec") << ones << 64 << 10 << QStringLiteral("18446744073709551615");
    QTest::newRow("64 ones bin") << ones << 64 << 2 << QString(64, QLatin1Char('1'));
}

void tst_HexText::crcValueText()
{
    QFETCH(quint64, value);
    QFETCH(int, width);
    QFETCH(int, base);
    QFETCH(QString, text);
    QCOMPARE(formatCrcValue(value, width, base), text);
}

void tst_HexText::crcWire_data()
{
    QTest::addColumn<quint64>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("16 little") << quint64(0x4B37) << 16 << false << hex("374b");
    QTest::newRow("16 big") << quint64(0x4B37) << 16 << true << hex("4b37");
    QTest::newRow("32 little") << quint64(0xCBF43926) << 32 << false << hex("2639f4cb");
    QTest::newRow("4 in one byte") << quint64(0x7) << 4 << true << hex("07");
    QTest::newRow("12 big in two bytes") << quint64(0xABC) << 12 << true << hex("0abc");
    QTest::newRow("12 little in two bytes") << quint64(0xABC) << 12 << false << hex("bc0a");
    QTest::newRow("64 little") << quint64(0x0102030405060708) << 64 << false << hex("0807060504030201");
    QTest::newRow("64 big") << quint64(0x0102030405060708) << 64 << true << hex("0102030405060708");
}

void tst_HexText::crcWire()
{
    QFETCH(quint64, value);
    QFETCH(int, width);
    QFETCH(bool, bigEndian);
    QFETCH(QByteArray, bytes);
    QCOMPARE(crcWireBytes(value, width, bigEndian), bytes);
}

QTEST_APPLESS_MAIN(tst_HexText)
#include "tst_hextext.moc"
