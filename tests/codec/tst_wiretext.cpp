#include "codec/converterdecoder.h"
#include "codec/framedlegacydecoder.h"
#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"
#include "testcorpus.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>
#include <utility>

namespace {

struct Decoded
{
    QString text;
    qint64 invalid = 0;
    bool operator==(const Decoded &o) const { return text == o.text && invalid == o.invalid; }
};

// Decodes bytes in the chunks `next` chooses (given what is left; never 0). After each
// chunk the held-back tail must fit in one character.
Decoded decodeInChunks(const QString &encoding, const QByteArray &bytes, const std::function<qsizetype(qsizetype)> &next,
                       bool *tailOk = nullptr)
{
    auto d = WireTextCodecRegistry::createDecoder(encoding);
    const WireCodecEntry &e = WireTextCodecRegistry::entry(WireTextCodecRegistry::lookup(encoding));
    const qsizetype maxHeld = e.engine == WireCodecEntry::Engine::BuiltIn ? 3 : e.framing.fourByte ? 3 : 1;
    Decoded r;
    for (qsizetype pos = 0; pos < bytes.size();) {
        const qsizetype n = next(bytes.size() - pos);
        r.text += d->decode(bytes.mid(pos, n));
        pos += n;
        const auto *framed = dynamic_cast<FramedLegacyDecoder *>(d.get());
        const qsizetype held = framed ? framed->pendingBytes().size() : dynamic_cast<ConverterDecoder *>(d.get())->pendingBytes().size();
        if (tailOk && held > maxHeld)
            *tailOk = false;
    }
    r.invalid = d->invalidCount();
    return r;
}

Decoded whole(const QString &encoding, const QByteArray &bytes)
{
    return decodeInChunks(encoding, bytes, [](qsizetype rest) { return rest; });
}

} // namespace

// The wire text codecs: the catalog's names, encoding and its refusals, and decoding
// whole, in chunks and against vectors of invalid input.
class tst_WireText : public QObject
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

    void chunkingNeverChangesTheText_data()
    {
        QTest::addColumn<QString>("encoding");
        for (const QString &name : WireTextCodecRegistry::availableEncodings())
            QTest::newRow(qPrintable(name)) << name;
    }

    // Text, invalid count and held-back tail do not depend on how the port delivered the
    // bytes: every single cut, byte by byte, random chunks, random noise, and input large
    // enough to be sliced.
    void chunkingNeverChangesTheText()
    {
        QFETCH(QString, encoding);
        const QByteArray corpus = TestCorpus::make(encoding, 1200, 7);
        const Decoded all = whole(encoding, corpus);
        QVERIFY(!all.text.isEmpty());
        for (qsizetype cut = 1; cut < corpus.size(); ++cut) {
            qsizetype first = cut;
            const Decoded split = decodeInChunks(encoding, corpus, [&first](qsizetype rest) { return std::exchange(first, rest); });
            QVERIFY2(split == all, qPrintable(QStringLiteral("split at %1").arg(cut)));
        }
        QVERIFY(decodeInChunks(encoding, corpus, [](qsizetype) { return 1; }) == all);

        QRandomGenerator rng(20261206);
        for (int round = 0; round < 40; ++round) {
            const bool noise = round % 4 == 3;
            const QByteArray bytes = noise ? TestCorpus::randomBytes(16 * 1024, 1000 + round) : TestCorpus::make(encoding, 64 * 1024, 11 + round);
            const int most = round % 2 ? 9 : 700;
            bool tailOk = true;
            const Decoded chunked = decodeInChunks(encoding, bytes, [&](qsizetype rest) { return qMin(rest, 1 + rng.bounded(most)); }, &tailOk);
            QVERIFY(tailOk);
            QVERIFY(chunked == whole(encoding, bytes));
        }

        // Whatever noise left half-finished, reset forgets it, and the next line arrives intact.
        auto d = WireTextCodecRegistry::createDecoder(encoding);
        const QByteArray noise = TestCorpus::randomBytes(4096, 5) + QByteArray::fromHex("e4b8");
        d->decode(noise);
        d->reset();
        QCOMPARE(d->invalidCount(), 0);
        QCOMPARE(d->decode(QByteArrayLiteral("ok")), QStringLiteral("ok"));
        d->decode(noise);
        QVERIFY(d->decode(QByteArrayLiteral("\nSYNC 42\n")).endsWith(QLatin1String("\nSYNC 42\n")));

        // An odd offset moves the slice borders off any natural alignment.
        QByteArray big = TestCorpus::make(encoding, 64 * 1024, 5, 0).repeated(49);
        big.prepend('x');
        QVERIFY(decodeInChunks(encoding, big, [](qsizetype rest) { return qMin<qsizetype>(rest, 4096); }) == whole(encoding, big));
    }

    void vectors_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<qint64>("invalid");

        // Valid text in every encoding is the iconv cross-check's; these are the invalid
        // sequences, the bytes Qt's converters would change, and held bytes across calls.
        const auto row = [](const char *name, const char *encoding, std::initializer_list<const char *> chunks,
                            const char16_t *expected, int invalid) {
            QList<QByteArray> bytes;
            for (const char *c : chunks)
                bytes << QByteArray::fromHex(c);
            QTest::newRow(name) << QString::fromLatin1(encoding) << bytes << QStringView(expected).toString() << qint64(invalid);
        };
        row("GBK empty chunk keeps the held byte", "GBK", {"d6", "", "d0"}, u"\u4e2d", 0);
        row("GB18030 U+10000 byte by byte", "GB18030", {"90", "30", "81", "30"}, u"\U00010000", 0);
        row("GB18030 U+10FFFF", "GB18030", {"e3329a35"}, u"\U0010FFFF", 0);
        row("GB18030 beyond U+10FFFF", "GB18030", {"e3329a3641"}, u"\ufffdA", 1);
        row("GB18030 bad third byte", "GB18030", {"8130", "2031"}, u"\ufffd0 1", 1);
        row("GB18030 bad fourth byte", "GB18030", {"81308120"}, u"\ufffd0\ufffd ", 2);
        row("GB18030 encoded U+FFFD is not invalid", "GB18030", {"8431a437"}, u"\ufffd", 0);
        row("Shift-JIS 82 then 20", "Shift-JIS", {"82", "20"}, u"\ufffd ", 1);
        row("Shift-JIS SUB FS DEL stay themselves", "Shift-JIS", {"1a1c7f", "82a01a"}, u"\x1a\x1c\x7f\u3042\x1a", 0);
        row("Big5 trail 7F", "Big5", {"a47f"}, u"\ufffd\x7f", 1);
        row("UTF-8 invalid byte", "UTF-8", {"41ff42"}, u"A\ufffdB", 1);
        row("UTF-8 leading BOM is shown", "UTF-8", {"efbb", "bf41"}, u"\uFEFFA", 0);
        row("UTF-8 truncated three-byte then ASCII", "UTF-8", {"e4b8", "41"}, u"\ufffdA", 1);
        row("UTF-8 overlong E0 80", "UTF-8", {"e0", "80"}, u"\ufffd\ufffd", 2);
        row("unknown name decodes UTF-8", "no-such-encoding", {"c3a9"}, u"\u00e9", 0);
    }

    void vectors()
    {
        QFETCH(QString, encoding);
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QString, expected);
        QFETCH(qint64, invalid);
        auto d = WireTextCodecRegistry::createDecoder(encoding);
        QString text;
        for (const QByteArray &c : chunks)
            text += d->decode(c);
        QCOMPARE(text, expected);
        QCOMPARE(d->invalidCount(), invalid);
    }
};

QTEST_APPLESS_MAIN(tst_WireText)
#include "tst_wiretext.moc"
