#include "codec/wiretextcodecregistry.h"

#include <QTest>

class tst_WireTextCodecRegistry : public QObject
{
    Q_OBJECT

private slots:
    // Every alias and display name in the catalog finds its row whatever the case and
    // wherever blanks, '-' or '_' stand; other names mean UTF-8. Debian's Qt ships every
    // converter, so nothing may be missing from the list.
    void lookup()
    {
        QCOMPARE(WireTextCodecRegistry::availableEncodings().size(), WireTextCodecRegistry::catalogSize);
        QCOMPARE(WireTextCodecRegistry::defaultEncoding(), WireTextCodecRegistry::availableEncodings().first());
        for (int row = 0; row < WireTextCodecRegistry::catalogSize; ++row) {
            const WireCodecEntry &e = WireTextCodecRegistry::entry(row);
            const QStringList spellings = QString::fromLatin1(e.aliases).split(QLatin1Char(' ')) << QString::fromLatin1(e.displayName);
            for (const QString &s : spellings) {
                QCOMPARE(WireTextCodecRegistry::lookup(s.toUpper().split(QString()).join(u'-')), row); // "-S-J-I-S-"
                QCOMPARE(WireTextCodecRegistry::canonicalName(s.toLower()), QString::fromLatin1(e.displayName));
            }
        }
        for (const char *unknown : {"klingon-8", " -_", "GB"}) {
            QCOMPARE(WireTextCodecRegistry::lookup(QString::fromLatin1(unknown)), -1);
            QCOMPARE(WireTextCodecRegistry::canonicalName(QString::fromLatin1(unknown)), QStringLiteral("UTF-8"));
        }
    }

    void encode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QByteArray>("bytes");
        const auto row = [](const char *name, const char16_t *text, const char *encoding, const char *hex) {
            QTest::newRow(name) << QStringView(text).toString() << QString::fromLatin1(encoding) << QByteArray::fromHex(hex);
        };
        row("e-acute ISO-8859-1", u"\u00e9", "ISO-8859-1", "e9");
        row("euro Windows-1252", u"\u20ac", "cp1252", "80");
        row("GBK", u"A\u4e2d\u6587", "GBK", "41d6d0cec4");
        row("GB18030 U+10000 by its code page", u"\U00010000", "54936", "90308130");
        row("Big5", u"\u4e2d", "Big5", "a4a4");
        row("Shift-JIS hiragana", u"\u3042", "sjis", "82a0");
        row("Shift-JIS control bytes unchanged", u"\x1a\u3042\x1c\x7f", "Shift-JIS", "1a82a01c7f");
        row("EUC-KR hangul", u"\ud55c", "EUC-KR", "c7d1");
        row("UTF-8 no BOM written", u"\u00e9", "UTF-8", "c3a9");
        row("unknown name is UTF-8", u"\u4e2d", "nope", "e4b8ad");
        row("empty text", u"", "GBK", "");
    }

    void encode()
    {
        QFETCH(QString, text);
        QFETCH(QString, encoding);
        QFETCH(QByteArray, bytes);
        const WireEncodeResult r = WireTextCodecRegistry::encode(text, encoding);
        QVERIFY2(r.ok && r.error.isEmpty(), qPrintable(r.error));
        QCOMPARE(r.bytes.toHex(), bytes.toHex());
    }

    void refusalNamesFirstUnencodable_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("character");
        QTest::addColumn<QString>("canonical");
        const auto row = [](const char *name, const QString &text, const char *encoding, const QString &character,
                            const char *canonical) {
            QTest::newRow(name) << text << QString::fromLatin1(encoding) << character << QString::fromLatin1(canonical);
        };
        // Lone surrogates cannot be written as literals.
        const QString high(QChar(0xD800)), emoji = QString::fromUcs4(U"\U0001F600"), ext = QString::fromUcs4(U"\U00020000");
        const auto s = [](const char16_t *text) { return QStringView(text).toString(); };
        row("euro as ISO-8859-1", s(u"\u20ac"), "ISO-8859-1", s(u"\u20ac"), "ISO-8859-1");
        row("first of several", s(u"a\u00e9\u4e2d\u20ac"), "latin1", s(u"\u4e2d"), "ISO-8859-1");
        row("emoji counts as one character in Big5", s(u"ok ") + emoji + s(u" \u00e9"), "Big5", emoji, "Big5");
        row("hangul in Shift-JIS", s(u"\u3042\ud55c"), "Shift_JIS", s(u"\ud55c"), "Shift-JIS");
        row("Thai in GB2312 alias", s(u"x\u0e01"), "euc-cn", s(u"\u0e01"), "GB2312");
        row("lone surrogate in UTF-8", s(u"a") + high + s(u"b"), "UTF-8", high, "UTF-8");
        row("lone high surrogate at the end", s(u"ab") + QChar(0xD83D), "UTF-8", QString(QChar(0xD83D)), "UTF-8");
        row("lone low surrogate in GB18030", s(u"a") + QChar(0xDC00), "GB18030", QString(QChar(0xDC00)), "GB18030");
        row("lone high surrogate ending Shift-JIS", s(u"\u3042") + high, "Shift-JIS", high, "Shift-JIS");
        row("lone high surrogate before SUB in Shift-JIS", s(u"a") + high + s(u"\x1a"), "Shift-JIS", high, "Shift-JIS");
        row("pair across the 512-unit search block", QString(511, u'a') + ext, "Big5", ext, "Big5");
        row("far into a long text", QString(5000, u'z') + s(u"\u0100"), "cp1252", s(u"\u0100"), "Windows-1252");
    }

    void refusalNamesFirstUnencodable()
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

    void longTextSlicesKeepSurrogatePairs()
    {
        // A pair sits exactly on the 1,048,576-unit slice border.
        const QString text = QString(1048575, QLatin1Char('a')) + QString::fromUcs4(U"\U00020BB7") + QStringLiteral("\u4e2dtail");
        const WireEncodeResult r = WireTextCodecRegistry::encode(text, QStringLiteral("GB18030"));
        QVERIFY2(r.ok, qPrintable(r.error));
        const WireEncodeResult pair = WireTextCodecRegistry::encode(QString::fromUcs4(U"\U00020BB7"), QStringLiteral("GB18030"));
        QCOMPARE(pair.bytes.toHex(), QByteArray("9534b235")); // U+20BB7 by the four-byte arithmetic
        QCOMPARE(r.bytes.toHex(), (QByteArray(1048575, 'a') + pair.bytes + QByteArray::fromHex("d6d07461696c")).toHex());
    }
};

QTEST_APPLESS_MAIN(tst_WireTextCodecRegistry)
#include "tst_wiretextcodecregistry.moc"
