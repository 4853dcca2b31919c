#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"

#include <QRandomGenerator>
#include <QTest>

#include <iconv.h>

#include <algorithm>
#include <optional>

// Decoding checked against glibc's iconv, an independent implementation, over
// each encoding's whole code space (GB18030's supplementary planes sampled).
namespace {

struct KnownDifference
{
    quint32 code; // the byte sequence, big-endian packed
    char32_t ours;
    char32_t iconv;
    bool operator==(const KnownDifference &) const = default;
};

struct Code
{
    QByteArray bytes;
    char32_t iconv;
};

class Iconv
{
public:
    explicit Iconv(const char *from) : m_cd(iconv_open("UTF-32LE", from)) {}
    ~Iconv()
    {
        if (valid())
            iconv_close(m_cd);
    }
    bool valid() const { return m_cd != iconv_t(-1); }

    // The UTF-32 code points of bytes, or nothing when iconv rejects them.
    std::optional<std::u32string> decode(const QByteArray &in)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        std::u32string out(size_t(in.size()) + 4, U'\0');
        char *ip = const_cast<char *>(in.constData());
        size_t il = size_t(in.size());
        char *op = reinterpret_cast<char *>(out.data());
        size_t ol = out.size() * 4;
        if (iconv(m_cd, &ip, &il, &op, &ol) == size_t(-1) || il != 0 || iconv(m_cd, nullptr, nullptr, &op, &ol) == size_t(-1))
            return std::nullopt;
        out.resize((op - reinterpret_cast<char *>(out.data())) / 4);
        return out;
    }

private:
    iconv_t m_cd;
};

QByteArray bytesOf(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

// Candidate byte sequences of an encoding: single bytes that do not start a
// multi-byte character in our framing, every lead/trail pair, and for GB18030
// the four-byte forms (the supplementary planes sampled).
QList<QByteArray> candidates(const WireCodecEntry &e)
{
    QList<QByteArray> out;
    if (e.engine == WireCodecEntry::Engine::BuiltIn) {
        // ISO-8859-1: every byte; UTF-8: every BMP scalar value and a sample of the other planes.
        const bool latin1 = e.builtIn == QStringConverter::Latin1;
        for (char32_t cp = 0; cp < (latin1 ? 0x100 : 0x110000); cp += cp < 0x10000 ? 1 : 61) {
            if (cp < 0xD800 || cp > 0xDFFF)
                out.append(latin1 ? QByteArray(1, char(cp)) : QString::fromUcs4(&cp, 1).toUtf8());
        }
        return out;
    }
    for (int l = 0; l < 256; ++l) {
        if (!e.framing.isLead(quint8(l)))
            out.append(bytesOf({l}));
        for (int t = 0x40; t <= 0xFE && e.framing.isLead(quint8(l)); ++t)
            out.append(bytesOf({l, t}));
    }
    for (int a = 0x81; a <= 0x84 && e.framing.fourByte; ++a)
        for (int b = 0x30; b <= 0x39; ++b)
            for (int c = 0x81; c <= 0xFE; ++c)
                for (int d = 0x30; d <= 0x39; ++d)
                    out.append(bytesOf({a, b, c, d}));
    for (quint32 v = 0; v < 0x100000 && e.framing.fourByte; v += 97)
        out.append(bytesOf({int(0x90 + v / 12600), int(0x30 + v / 1260 % 10), int(0x81 + v / 10 % 126), int(0x30 + v % 10)}));
    return out;
}

} // namespace

Q_DECLARE_METATYPE(KnownDifference)

class tst_IconvCrossCheck : public QObject
{
    Q_OBJECT

private slots:
    void decodeMatchesIconv_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QByteArray>("iconvName");
        QTest::addColumn<QList<KnownDifference>>("known");
        QTest::addColumn<QList<int>>("leadSinglesIconvAccepts");
        QTest::addColumn<QByteArray>("iconvRejectsWeShow"); // single bytes we map to the same code point

        using Diffs = QList<KnownDifference>;

        // Qt's GBK is Microsoft's code page 936. It also decodes the user-defined
        // areas (to the Private Use Area) and 0x80 (euro sign), which glibc's GBK
        // rejects; on everything glibc accepts the two agree.
        QTest::newRow("GBK") << QStringLiteral("GBK") << QByteArray("GBK") << Diffs{} << QList<int>{} << QByteArray();

        // glibc follows GB18030-2005, which moved 24 two-byte codes from the Private
        // Use Area to the vertical forms U+FE10..FE19 and to CJK ideographs; Qt's
        // converter keeps the GB18030-2000 PUA code points for them.
        QTest::newRow("GB18030") << QStringLiteral("GB18030") << QByteArray("GB18030") << Diffs{
            {0xA6D9, 0xE78D, 0xFE10}, {0xA6DA, 0xE78E, 0xFE12}, {0xA6DB, 0xE78F, 0xFE11},
            {0xA6DC, 0xE790, 0xFE13}, {0xA6DD, 0xE791, 0xFE14}, {0xA6DE, 0xE792, 0xFE15},
            {0xA6DF, 0xE793, 0xFE16}, {0xA6EC, 0xE794, 0xFE17}, {0xA6ED, 0xE795, 0xFE18},
            {0xA6F3, 0xE796, 0xFE19}, {0xFE51, 0xE816, 0x20087}, {0xFE52, 0xE817, 0x20089},
            {0xFE53, 0xE818, 0x200CC}, {0xFE59, 0xE81E, 0x9FB4}, {0xFE61, 0xE826, 0x9FB5},
            {0xFE66, 0xE82B, 0x9FB6}, {0xFE67, 0xE82C, 0x9FB7}, {0xFE6C, 0xE831, 0x215D7},
            {0xFE6D, 0xE832, 0x9FB8}, {0xFE76, 0xE83B, 0x2298F}, {0xFE7E, 0xE843, 0x9FB9},
            {0xFE90, 0xE854, 0x9FBA}, {0xFE91, 0xE855, 0x241FE}, {0xFEA0, 0xE864, 0x9FBB},
        } << QList<int>{} << QByteArray();

        // Qt's "GB2312" is the GBK converter; glibc's is strict EUC-CN, whose mapping
        // of two punctuation marks differs from GBK's.
        QTest::newRow("GB2312") << QStringLiteral("GB2312") << QByteArray("GB2312") << Diffs{
            {0xA1A4, 0x00B7, 0x30FB}, {0xA1AA, 0x2014, 0x2015},
        } << QList<int>{} << QByteArray();

        // Qt's Big5 is code page 950 (with the ETEN extensions and user-defined
        // areas glibc rejects); where glibc decodes, they agree.
        QTest::newRow("Big5") << QStringLiteral("Big5") << QByteArray("BIG5") << Diffs{} << QList<int>{} << QByteArray();

        // glibc reads 0x5C and 0x7E as JIS X 0201 Roman (yen sign, overline); we keep
        // them ASCII as code page 932 does. Qt's Shift_JIS follows code page 932 for
        // six symbols in row 1 (fullwidth forms instead of the JIS wave dash, double
        // vertical line, minus, cent, pound and not signs) and adds the NEC/IBM
        // extensions glibc rejects. (Qt's converter also swaps 0x1A/0x1C/0x7F; the
        // decoder undoes that, so those bytes agree with glibc here.)
        QTest::newRow("Shift-JIS") << QStringLiteral("Shift-JIS") << QByteArray("SHIFT_JIS") << Diffs{
            {0x5C, 0x005C, 0x00A5}, {0x7E, 0x007E, 0x203E},
            {0x8160, 0xFF5E, 0x301C}, {0x8161, 0x2225, 0x2016}, {0x817C, 0xFF0D, 0x2212},
            {0x8191, 0xFFE0, 0x00A2}, {0x8192, 0xFFE1, 0x00A3}, {0x81CA, 0xFFE2, 0x00AC},
        } << QList<int>{} << QByteArray();

        // Qt's EUC-KR is code page 949 (Unified Hangul Code): bytes 0x81..0xA0 start
        // the extra Hangul syllables. glibc's EUC-KR reads 0x81..0x9F as single C1
        // control characters instead, so those are left out of the shared corpus.
        // glibc also knows the circled Hangul ieung-u that KS X 1001:2002 added at
        // A2E8 (U+327E); code page 949 predates it, so we show a replacement.
        QTest::newRow("EUC-KR") << QStringLiteral("EUC-KR") << QByteArray("EUC-KR") << Diffs{
            {0xA2E8, 0xFFFD, 0x327E},
        } << [] { QList<int> l; for (int b = 0x81; b <= 0x9F; ++b) l << b; return l; }() << QByteArray();

        // Qt maps the five bytes code page 1252 leaves undefined to C1 controls;
        // glibc rejects them.
        QTest::newRow("Windows-1252") << QStringLiteral("Windows-1252") << QByteArray("CP1252") << Diffs{} << QList<int>{}
                                      << QByteArray::fromHex("818d8f909d");
        QTest::newRow("ISO-8859-1") << QStringLiteral("ISO-8859-1") << QByteArray("ISO-8859-1") << Diffs{} << QList<int>{} << QByteArray();
        QTest::newRow("UTF-8") << QStringLiteral("UTF-8") << QByteArray("UTF-8") << Diffs{} << QList<int>{} << QByteArray();
    }

    void decodeMatchesIconv()
    {
        QFETCH(QString, encoding);
        QFETCH(QByteArray, iconvName);
        QFETCH(QList<KnownDifference>, known);
        QFETCH(QList<int>, leadSinglesIconvAccepts);
        QFETCH(QByteArray, iconvRejectsWeShow);
        Iconv ic(iconvName.constData());
        if (!ic.valid())
            QSKIP("glibc iconv lacks this encoding");

        // Lead bytes that glibc accepts alone are a framing difference, listed above;
        // their pairs are left out of the corpus.
        const WireCodecEntry &e = WireTextCodecRegistry::entry(WireTextCodecRegistry::lookup(encoding));
        QList<int> leadSingles;
        for (int b = 0x80; b < 256 && e.engine == WireCodecEntry::Engine::Named; ++b) {
            if (e.framing.isLead(quint8(b)) && ic.decode(bytesOf({b})))
                leadSingles << b;
        }
        QCOMPARE(leadSingles, leadSinglesIconvAccepts);

        // The shared corpus: every candidate that iconv decodes to one character.
        QList<Code> codes;
        for (const QByteArray &c : candidates(e)) {
            const auto out = ic.decode(c);
            if (out && out->size() == 1 && !(c.size() == 2 && leadSingles.contains(quint8(c.at(0)))))
                codes.append({c, out->front()});
        }
        QVERIFY(codes.size() > 100);
        std::shuffle(codes.begin(), codes.end(), QRandomGenerator(31337));
        QByteArray corpus;
        for (const Code &c : std::as_const(codes))
            corpus += c.bytes;

        auto decoder = WireTextCodecRegistry::createDecoder(encoding);
        QString ours;
        for (qsizetype pos = 0; pos < corpus.size(); pos += 4096)
            ours += decoder->decode(corpus.mid(pos, 4096));
        const QList<uint> ucs = ours.toUcs4();
        QCOMPARE(qsizetype(ucs.size()), codes.size());

        // Every difference is a documented one, and every documented one still occurs.
        QStringList unexpected;
        qsizetype differences = 0;
        for (qsizetype i = 0; i < codes.size(); ++i) {
            if (ucs.at(i) == codes.at(i).iconv)
                continue;
            ++differences;
            const KnownDifference d{codes.at(i).bytes.toHex().toUInt(nullptr, 16), char32_t(ucs.at(i)), codes.at(i).iconv};
            if (!known.contains(d))
                unexpected << QStringLiteral("%1: ours U+%2, iconv U+%3").arg(d.code, 0, 16).arg(uint(d.ours), 0, 16).arg(uint(d.iconv), 0, 16);
        }
        QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.mid(0, 20).join(QLatin1String("; "))));
        QCOMPARE(differences, known.size());
        const auto replaced = std::count_if(known.begin(), known.end(), [](const KnownDifference &k) { return k.ours == 0xFFFD; });
        QCOMPARE(decoder->invalidCount(), qint64(replaced));

        for (char b : iconvRejectsWeShow) {
            QVERIFY(!ic.decode(QByteArray(1, b)));
            QCOMPARE(decoder->decode(QByteArray(1, b)), QString(QChar(char16_t(uchar(b)))));
        }
        QCOMPARE(decoder->invalidCount(), qint64(replaced));
    }
};

QTEST_APPLESS_MAIN(tst_IconvCrossCheck)
#include "tst_iconvcrosscheck.moc"
