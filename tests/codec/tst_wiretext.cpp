#include "codec/converterdecoder.h"
#include "codec/framedlegacydecoder.h"
#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"
#include "tests/support/bytes.h"

#include <QHash>
#include <QRandomGenerator>
#include <QTest>

#include <functional>
#include <utility>

namespace {

// About 'size' bytes of seeded text in an encoding: mostly characters it can carry
// (ASCII, CJK, kana, Hangul, Latin, supplementary), with 'noisePercent' of the pieces
// random bytes so the invalid paths are exercised too.
QByteArray corpus(const QString &encoding, qsizetype size, quint32 seed, int noisePercent = 2)
{
    // Encoded forms of about 1500 characters the encoding can carry, built once:
    // blocks of code points with their start and length.
    static QHash<QString, QList<QByteArray>> pools;
    QList<QByteArray> &chars = pools[encoding];
    static const char32_t blocks[][2] = {{0x20, 0x5F}, {0x20, 0x5F}, {0x20, 0x5F}, {0x4E00, 0x5200}, {0x3040, 0xC0},
                                         {0xAC00, 0x2BA4}, {0xA0, 0x160}, {0xFF01, 0x5E}, {0x20000, 0xA6D0}, {0x391, 0x70}};
    QRandomGenerator rng(0x5eed);
    for (int tries = chars.isEmpty() ? 0 : 6000; tries < 6000 && chars.size() < 1500; ++tries) {
        const auto &b = blocks[rng.bounded(10)];
        const char32_t cp = b[0] + rng.bounded(quint32(b[1]));
        const WireEncodeResult r = WireTextCodecRegistry::encode(QString::fromUcs4(&cp, 1), encoding);
        if (r.ok)
            chars.append(r.bytes);
    }
    rng.seed(seed);
    QByteArray out;
    while (out.size() < size)
        out += int(rng.bounded(100)) < noisePercent ? QByteArray(1, char(rng.bounded(256))) : chars.at(rng.bounded(int(chars.size())));
    return out;
}

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
        QCOMPARE(WireTextCodecRegistry::lookup(WireTextCodecRegistry::defaultEncoding()), 0);
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

    // Encoding writes the whole text or refuses it, naming the first character it
    // cannot carry.
    void encode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const QString &text, const char *encoding, const QByteArray &hex) {
            QTest::newRow(name) << text << QString::fromLatin1(encoding) << QByteArray::fromHex(hex) << QString();
        };
        const auto refused = [](const char *name, const QString &text, const char *encoding, const QString &character,
                                const char *canonical) {
            QTest::newRow(name) << text << QString::fromLatin1(encoding) << QByteArray()
                                << QStringLiteral("The character '%1' cannot be encoded as %2. Change the encoding or edit the message.")
                                       .arg(character, QLatin1String(canonical));
        };
        // Lone surrogates cannot be written as literals.
        const QString high(QChar(0xD800)), emoji = QString::fromUcs4(U"\U0001F600"), ext = QString::fromUcs4(U"\U00020000");
        const auto s = [](const char16_t *text) { return QStringView(text).toString(); };
        row("GBK", s(u"A\u4e2d\u6587"), "GBK", "41d6d0cec4");
        row("Shift-JIS control bytes unchanged", s(u"\x1a\u3042\x1c\x7f"), "sjis", "1a82a01c7f");
        row("UTF-8 no BOM written", s(u"\u00e9"), "UTF-8", "c3a9");
        row("unknown name is UTF-8", s(u"\u4e2d"), "nope", "e4b8ad");
        row("empty text", QString(), "GBK", "");
        // A pair sits exactly on the 1,048,576-unit slice border; U+20BB7 by the four-byte arithmetic.
        row("GB18030 pair on the slice border", QString(1048575, u'a') + QString::fromUcs4(U"\U00020BB7") + s(u"\u4e2dtail"),
            "54936", QByteArray(1048575, 'a').toHex() + "9534b235d6d07461696c");
        refused("first of several", s(u"a\u00e9\u4e2d\u20ac"), "latin1", s(u"\u4e2d"), "ISO-8859-1");
        refused("emoji counts as one character in Big5", s(u"ok ") + emoji + s(u" \u00e9"), "Big5", emoji, "Big5");
        refused("hangul in Shift-JIS", s(u"\u3042\ud55c"), "Shift_JIS", s(u"\ud55c"), "Shift-JIS");
        refused("lone high surrogate at the end", s(u"ab") + QChar(0xD83D), "UTF-8", QString(QChar(0xD83D)), "UTF-8");
        refused("lone low surrogate in GB18030", s(u"a") + QChar(0xDC00), "GB18030", QString(QChar(0xDC00)), "GB18030");
        refused("lone high surrogate before SUB in Shift-JIS", s(u"a") + high + s(u"\x1a"), "Shift-JIS", high, "Shift-JIS");
        refused("pair across the 512-unit search block", QString(511, u'a') + ext, "Big5", ext, "Big5");
        refused("far into a long text", QString(5000, u'z') + s(u"\u0100"), "cp1252", s(u"\u0100"), "Windows-1252");
    }

    void encode()
    {
        QFETCH(QString, text);
        QFETCH(QString, encoding);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        const WireEncodeResult r = WireTextCodecRegistry::encode(text, encoding);
        QCOMPARE(r.error, error);
        QCOMPARE(r.ok, error.isEmpty());
        QCOMPARE(r.bytes, bytes);
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
        const QByteArray text = corpus(encoding, 1200, 7);
        const Decoded all = whole(encoding, text);
        QVERIFY(!all.text.isEmpty());
        for (qsizetype cut = 1; cut < text.size(); ++cut) {
            qsizetype first = cut;
            const Decoded split = decodeInChunks(encoding, text, [&first](qsizetype rest) { return std::exchange(first, rest); });
            QVERIFY2(split == all, qPrintable(QStringLiteral("split at %1").arg(cut)));
        }
        QVERIFY(decodeInChunks(encoding, text, [](qsizetype) { return 1; }) == all);

        QRandomGenerator rng(20261206);
        for (int round = 0; round < 40; ++round) {
            const bool noise = round % 4 == 3;
            const QByteArray bytes = noise ? randomBytes(16 * 1024, 1000 + round) : corpus(encoding, 64 * 1024, 11 + round);
            const int most = round % 2 ? 9 : 700;
            bool tailOk = true;
            const Decoded chunked = decodeInChunks(encoding, bytes, [&](qsizetype rest) { return qMin(rest, 1 + rng.bounded(most)); }, &tailOk);
            QVERIFY(tailOk);
            QVERIFY(chunked == whole(encoding, bytes));
        }

        // Whatever noise left half-finished, reset forgets it, and the next line arrives intact.
        auto d = WireTextCodecRegistry::createDecoder(encoding);
        const QByteArray noise = randomBytes(4096, 5) + QByteArray::fromHex("e4b8");
        d->decode(noise);
        d->reset();
        QCOMPARE(d->invalidCount(), 0);
        QCOMPARE(d->decode(QByteArrayLiteral("ok")), QStringLiteral("ok"));
        d->decode(noise);
        QVERIFY(d->decode(QByteArrayLiteral("\nSYNC 42\n")).endsWith(QLatin1String("\nSYNC 42\n")));

        // An odd offset moves the slice borders off any natural alignment.
        QByteArray big = corpus(encoding, 64 * 1024, 5, 0).repeated(49);
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
        row("GB18030 U+10FFFF", "GB18030", {"e3329a35"}, u"\U0010FFFF", 0);
        row("GB18030 beyond U+10FFFF", "GB18030", {"e3329a3641"}, u"\ufffdA", 1);
        row("GB18030 bad third byte", "GB18030", {"8130", "2031"}, u"\ufffd0 1", 1);
        row("GB18030 bad fourth byte", "GB18030", {"81308120"}, u"\ufffd0\ufffd ", 2);
        row("GB18030 encoded U+FFFD is not invalid", "GB18030", {"8431a437"}, u"\ufffd", 0);
        row("Shift-JIS 82 then 20", "Shift-JIS", {"82", "20"}, u"\ufffd ", 1);
        row("Big5 trail 7F", "Big5", {"a47f"}, u"\ufffd\x7f", 1);
        row("UTF-8 leading BOM is shown", "UTF-8", {"efbb", "bf41"}, u"\uFEFFA", 0);
        row("UTF-8 truncated three-byte then ASCII", "UTF-8", {"e4b8", "41"}, u"\ufffdA", 1);
        row("UTF-8 overlong E0 80", "UTF-8", {"e0", "80"}, u"\ufffd\ufffd", 2);
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
