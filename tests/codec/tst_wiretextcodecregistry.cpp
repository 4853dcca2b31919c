#include "codec/wiretextcodecregistry.h"

#include <QTest>

class tst_WireTextCodecRegistry : public QObject
{
    Q_OBJECT

private slots:
    void lookup_data();
    void lookup();
    void everyCatalogSpellingResolves();
    void encode_data();
    void encode();
    void refusalNamesFirstUnencodable_data();
    void refusalNamesFirstUnencodable();
    void longTextSlicesKeepSurrogatePairs();
};

void tst_WireTextCodecRegistry::lookup_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("canonical");
    QTest::newRow("CP-936") << QStringLiteral("CP-936") << 2 << QStringLiteral("GBK");
    QTest::newRow("SHIFTJIS") << QStringLiteral("SHIFTJIS") << 5 << QStringLiteral("Shift-JIS");
    QTest::newRow("Latin 1 with blank") << QStringLiteral("Latin 1") << 7 << QStringLiteral("ISO-8859-1");
    QTest::newRow("KS_C_5601-1987") << QStringLiteral("KS_C_5601-1987") << 6 << QStringLiteral("EUC-KR");
    QTest::newRow("unknown") << QStringLiteral("klingon-8") << -1 << QStringLiteral("UTF-8");
    QTest::newRow("separators only") << QStringLiteral(" -_") << -1 << QStringLiteral("UTF-8");
    QTest::newRow("prefix of a name") << QStringLiteral("GB") << -1 << QStringLiteral("UTF-8");
}

void tst_WireTextCodecRegistry::lookup()
{
    QFETCH(QString, name);
    QFETCH(int, row);
    QFETCH(QString, canonical);
    QCOMPARE(WireTextCodecRegistry::lookup(name), row);
    QCOMPARE(WireTextCodecRegistry::canonicalName(name), canonical);
}

void tst_WireTextCodecRegistry::everyCatalogSpellingResolves()
{
    // Debian's Qt ships every converter, so nothing may be missing from the list.
    QCOMPARE(WireTextCodecRegistry::availableEncodings().size(), WireTextCodecRegistry::catalogSize);
    QCOMPARE(WireTextCodecRegistry::defaultEncoding(), WireTextCodecRegistry::availableEncodings().first());
    for (int row = 0; row < WireTextCodecRegistry::catalogSize; ++row) {
        const WireCodecEntry &e = WireTextCodecRegistry::entry(row);
        const QStringList spellings = QString::fromLatin1(e.aliases).split(QLatin1Char(' ')) << QString::fromLatin1(e.displayName);
        for (const QString &s : spellings) {
            QCOMPARE(WireTextCodecRegistry::lookup(s.toUpper()), row);
            const QString canonical = WireTextCodecRegistry::canonicalName(s);
            QCOMPARE(WireTextCodecRegistry::canonicalName(canonical), canonical);
        }
    }
}

void tst_WireTextCodecRegistry::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    const auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    QTest::newRow("e-acute ISO-8859-1") << QStringLiteral("\u00e9") << QStringLiteral("ISO-8859-1") << hex("e9");
    QTest::newRow("euro Windows-1252") << QStringLiteral("\u20ac") << QStringLiteral("cp1252") << hex("80");
    QTest::newRow("GBK") << QStringLiteral("A\u4e2d\u6587") << QStringLiteral("GBK") << hex("41d6d0cec4");
    QTest::newRow("GB18030 supplementary") << QString::fromUcs4(U"\U0001F600") << QStringLiteral("GB18030") << hex("9439fc36");
    QTest::newRow("GB18030 U+10000") << QString::fromUcs4(U"\U00010000") << QStringLiteral("54936") << hex("90308130");
    QTest::newRow("Big5") << QStringLiteral("\u4e2d") << QStringLiteral("Big5") << hex("a4a4");
    QTest::newRow("Shift-JIS hiragana") << QStringLiteral("\u3042") << QStringLiteral("sjis") << hex("82a0");
    QTest::newRow("Shift-JIS control bytes unchanged") << QStringLiteral("\x1a\u3042\x1c\x7f") << QStringLiteral("Shift-JIS")
                                                       << hex("1a82a01c7f");
    QTest::newRow("EUC-KR hangul") << QStringLiteral("\ud55c") << QStringLiteral("EUC-KR") << hex("c7d1");
    QTest::newRow("UTF-8 no BOM written") << QStringLiteral("\u00e9") << QStringLiteral("UTF-8") << hex("c3a9");
    QTest::newRow("unknown name is UTF-8") << QStringLiteral("\u4e2d") << QStringLiteral("nope") << hex("e4b8ad");
    QTest::newRow("empty text") << QString() << QStringLiteral("GBK") << QByteArray();
}

void tst_WireTextCodecRegistry::encode()
{
    QFETCH(QString, text);
    QFETCH(QString, encoding);
    QFETCH(QByteArray, bytes);
    const WireEncodeResult r = WireTextCodecRegistry::encode(text, encoding);
    QVERIFY2(r.ok && r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(r.bytes.toHex(), bytes.toHex());
}

void tst_WireTextCodecRegistry::refusalNamesFirstUnencodable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("character");
    QTest::addColumn<QString>("canonical");

    const QString high(QChar(0xD800));
    QTest::newRow("euro as ISO-8859-1") << QStringLiteral("\u20ac") << QStringLiteral("ISO-8859-1")
                                        << QStringLiteral("\u20ac") << QStringLiteral("ISO-8859-1");
    QTest::newRow("first of several") << QStringLiteral("a\u00e9\u4e2d\u20ac") << QStringLiteral("latin1")
                                      << QStringLiteral("\u4e2d") << QStringLiteral("ISO-8859-1");
    QTest::newRow("emoji counts as one character in Big5") << QString::fromUcs4(U"ok \U0001F600 \u00e9") << QStringLiteral("Big5")
                                                           << QString::fromUcs4(U"\U0001F600") << QStringLiteral("Big5");
    QTest::newRow("hangul in Shift-JIS") << QStringLiteral("\u3042\ud55c") << QStringLiteral("Shift_JIS")
                                         << QStringLiteral("\ud55c") << QStringLiteral("Shift-JIS");
    QTest::newRow("Thai in GB2312 alias") << QStringLiteral("x\u0e01") << QStringLiteral("euc-cn")
                                          << QStringLiteral("\u0e01") << QStringLiteral("GB2312");
    QTest::newRow("lone surrogate in UTF-8") << QStringLiteral("a") + high + QStringLiteral("b") << QStringLiteral("UTF-8")
                                             << high << QStringLiteral("UTF-8");
    QTest::newRow("lone high surrogate at the end") << QStringLiteral("ab") + QChar(0xD83D) << QStringLiteral("UTF-8")
                                                    << QString(QChar(0xD83D)) << QStringLiteral("UTF-8");
    QTest::newRow("lone low surrogate in GB18030") << QStringLiteral("a") + QChar(0xDC00) << QStringLiteral("GB18030")
                                                   << QString(QChar(0xDC00)) << QStringLiteral("GB18030");
    QTest::newRow("lone high surrogate ending Shift-JIS") << QStringLiteral("\u3042") + high << QStringLiteral("Shift-JIS")
                                                          << high << QStringLiteral("Shift-JIS");
    QTest::newRow("lone high surrogate before SUB in Shift-JIS") << QStringLiteral("a") + high + QStringLiteral("\x1a")
                                                                 << QStringLiteral("Shift-JIS") << high << QStringLiteral("Shift-JIS");
    QTest::newRow("pair across the 512-unit search block") << QString(511, QLatin1Char('a')) + QString::fromUcs4(U"\U00020000")
                                                           << QStringLiteral("Big5") << QString::fromUcs4(U"\U00020000")
                                                           << QStringLiteral("Big5");
    QTest::newRow("far into a long text") << QString(5000, QLatin1Char('z')) + QStringLiteral("\u0100") << QStringLiteral("cp1252")
                                          << QStringLiteral("\u0100") << QStringLiteral("Windows-1252");
}

void tst_WireTextCodecRegistry::refusalNamesFirstUnencodable()
{
    QFETCH(QString, text);
    QFETCH(QString, encoding);
    QFETCH(QString, character);
    QFETCH(QString, canonical);
    const WireEncodeResult r = WireTextCodecRegistry::encode(text, encoding);
    QVERIFY(!r.ok);
    QVERIFY(r.bytes.isEmpty());
    QCOMPARE(r.error, QStringLiteral("The character '%1' cannot be encoded as %2. Change the encoding or edit the message.")
                          .arg(character, canonical));
}

void tst_WireTextCodecRegistry::longTextSlicesKeepSurrogatePairs()
{
    // A pair sits exactly on the 1,048,576-unit slice border.
    const QString text = QString(1048575, QLatin1Char('a')) + QString::fromUcs4(U"\U00020BB7") + QStringLiteral("\u4e2dtail");
    const WireEncodeResult r = WireTextCodecRegistry::encode(text, QStringLiteral("GB18030"));
    QVERIFY2(r.ok, qPrintable(r.error));
    const WireEncodeResult pair = WireTextCodecRegistry::encode(QString::fromUcs4(U"\U00020BB7"), QStringLiteral("GB18030"));
    QCOMPARE(pair.bytes.toHex(), QByteArray("9534b235")); // U+20BB7 by the four-byte arithmetic
    QCOMPARE(r.bytes.toHex(), (QByteArray(1048575, 'a') + pair.bytes + QByteArray::fromHex("d6d07461696c")).toHex());
}

QTEST_APPLESS_MAIN(tst_WireTextCodecRegistry)
#include "tst_wiretextcodecregistry.moc"
