#include "codec/hextext.h"

#include <QTest>

class tst_HexText : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void decodeUtf8_data();
    void decodeUtf8();
};

void tst_HexText::parse_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    const QString incomplete = QStringLiteral("Hex input must contain complete bytes.");
    const auto badAt = [](int position) { return QStringLiteral("Invalid hex character at position %1.").arg(position); };
    QTest::newRow("blank inside a byte") << "4 1" << QByteArray("A") << QString();
    QTest::newRow("three digits") << "41 4" << QByteArray() << incomplete;
    QTest::newRow("G at 2") << "4G" << QByteArray() << badAt(2);
    QTest::newRow("bad character before the odd count") << "4 G" << QByteArray() << badAt(3);
    QTest::newRow("only whitespace") << " \t\r\n " << QByteArray() << QString();
    QTest::newRow("mixed case, tab, line, no-break and ideographic spaces")
            << "de AD\tbe\nE\u00A0F\u300000" << QByteArray::fromHex("deadbeef00") << QString();
    QTest::newRow("emoji after a byte") << "41 \U0001F600" << QByteArray() << badAt(4);
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

void tst_HexText::decodeUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text"); // ? stands for U+FFFD
    QTest::addColumn<int>("first");
    QTest::newRow("two, three and four byte forms") << QByteArray::fromHex("c3a9e282acf09f9880")
                                                    << "\u00E9\u20AC\U0001F600" << -1;
    QTest::newRow("FF between letters") << QByteArray::fromHex("41ff42") << "A?B" << 1;
    QTest::newRow("lone continuation byte") << QByteArray::fromHex("80") << "?" << 0;
    QTest::newRow("overlong NUL") << QByteArray::fromHex("c080") << "??" << 0;
    QTest::newRow("surrogate D800") << QByteArray::fromHex("eda080") << "???" << 0;
    QTest::newRow("above U+10FFFF") << QByteArray::fromHex("f4908080") << "????" << 0;
    QTest::newRow("truncated at the end") << QByteArray::fromHex("41e282") << "A??" << 1;
}

void tst_HexText::decodeUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(int, first);
    const Utf8Text decoded = decodeUtf8Lossy(bytes);
    QCOMPARE(decoded.text, QString(text).replace(QLatin1Char('?'), QChar::ReplacementCharacter));
    QCOMPARE(decoded.invalidBytes, text.count(QLatin1Char('?')));
    QCOMPARE(decoded.firstInvalid, qsizetype(first));
}

QTEST_APPLESS_MAIN(tst_HexText)
#include "tst_hextext.moc"
