#include "codec/converterdecoder.h"
#include "codec/framedlegacydecoder.h"
#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"
#include "testcorpus.h"

#include <QRandomGenerator>
#include <QTextCodec>
#include <QTest>

#include <memory>

namespace {

struct Decoded
{
    QString text;
    qint64 invalid = 0;
};

Decoded decodeWhole(const QString &encoding, const QByteArray &bytes)
{
    auto d = WireTextCodecRegistry::createDecoder(encoding);
    Decoded r;
    r.text = d->decode(bytes);
    r.invalid = d->invalidCount();
    return r;
}

// Longest incomplete character a framed decoder may hold back.
qsizetype maxPending(const QString &encoding)
{
    const WireCodecEntry &e = WireTextCodecRegistry::entry(WireTextCodecRegistry::lookup(encoding));
    return e.framing.fourByte ? 3 : 1;
}

QString u(const char16_t *s)
{
    return QString::fromUtf16(s);
}

} // namespace

class tst_WireTextDecoder : public QObject
{
    Q_OBJECT

private:
    void encodingRows();

private slots:
    void splitAtEveryBoundary_data() { encodingRows(); }
    void splitAtEveryBoundary();
    void randomChunking_data() { encodingRows(); }
    void randomChunking();
    void randomBytesKeepPosition_data() { encodingRows(); }
    void randomBytesKeepPosition();
    void largeInputIsSliced_data() { encodingRows(); }
    void largeInputIsSliced();

    void tableAgreesWithCodec_data();
    void tableAgreesWithCodec();
    void vectors_data();
    void vectors();
    void gb18030SupplementaryEveryPlane();
    void resetForgetsPendingAndCount();
    void emptyInputKeepsPending();
    void unknownNameDecodesUtf8();
};

void tst_WireTextDecoder::encodingRows()
{
    QTest::addColumn<QString>("encoding");
    for (const QString &name : WireTextCodecRegistry::availableEncodings())
        QTest::newRow(qPrintable(name)) << name;
}

void tst_WireTextDecoder::splitAtEveryBoundary()
{
    QFETCH(QString, encoding);
    const QByteArray corpus = TestCorpus::make(encoding, 1200, 7);
    const Decoded whole = decodeWhole(encoding, corpus);
    QVERIFY(!whole.text.isEmpty());

    for (qsizetype cut = 1; cut < corpus.size(); ++cut) {
        auto d = WireTextCodecRegistry::createDecoder(encoding);
        QString text = d->decode(corpus.left(cut));
        text += d->decode(corpus.mid(cut));
        if (text != whole.text || d->invalidCount() != whole.invalid)
            QFAIL(qPrintable(QStringLiteral("split at %1 differs (invalid %2 vs %3)")
                                     .arg(cut).arg(d->invalidCount()).arg(whole.invalid)));
    }

    auto d = WireTextCodecRegistry::createDecoder(encoding);
    QString text;
    for (char c : corpus)
        text += d->decode(QByteArray(1, c));
    QCOMPARE(text, whole.text);
    QCOMPARE(d->invalidCount(), whole.invalid);
}

void tst_WireTextDecoder::randomChunking()
{
    QFETCH(QString, encoding);
    const QByteArray corpus = TestCorpus::make(encoding, 64 * 1024, 11);
    const Decoded whole = decodeWhole(encoding, corpus);
    QRandomGenerator rng(20261206);
    for (int round = 0; round < 40; ++round) {
        auto d = WireTextCodecRegistry::createDecoder(encoding);
        QString text;
        qsizetype pos = 0;
        while (pos < corpus.size()) {
            const qsizetype n = 1 + rng.bounded(round % 2 ? 9 : 700);
            text += d->decode(corpus.mid(pos, n));
            pos += n;
        }
        QCOMPARE(text, whole.text);
        QCOMPARE(d->invalidCount(), whole.invalid);
    }
}

void tst_WireTextDecoder::randomBytesKeepPosition()
{
    QFETCH(QString, encoding);
    QRandomGenerator rng(99);
    for (int round = 0; round < 20; ++round) {
        const QByteArray noise = TestCorpus::randomBytes(16 * 1024, 1000 + round);
        auto d = WireTextCodecRegistry::createDecoder(encoding);
        auto *framed = dynamic_cast<FramedLegacyDecoder *>(d.get());
        auto *converter = dynamic_cast<ConverterDecoder *>(d.get());
        QString text;
        qsizetype pos = 0;
        while (pos < noise.size()) {
            const qsizetype n = 1 + rng.bounded(32);
            text += d->decode(noise.mid(pos, n));
            pos += n;
            if (framed)
                QVERIFY2(framed->pendingBytes().size() <= maxPending(encoding),
                         framed->pendingBytes().toHex().constData());
            if (converter)
                QVERIFY2(converter->pendingBytes().size() <= 3,
                         converter->pendingBytes().toHex().constData());
        }
        const Decoded whole = decodeWhole(encoding, noise);
        QCOMPARE(text, whole.text);
        QCOMPARE(d->invalidCount(), whole.invalid);
        QVERIFY(d->invalidCount() >= 0);

        // Whatever the noise left half-finished, the next line arrives intact.
        const QString tail = d->decode(QByteArrayLiteral("\nSYNC 42\n"));
        QVERIFY2(tail.endsWith(QLatin1String("\nSYNC 42\n")), qPrintable(tail));
        if (framed)
            QVERIFY(framed->pendingBytes().isEmpty());
    }
}

void tst_WireTextDecoder::largeInputIsSliced()
{
    QFETCH(QString, encoding);
    QByteArray big;
    const QByteArray piece = TestCorpus::make(encoding, 64 * 1024, 5, 0);
    while (big.size() < 3 * 1048576 + 17)
        big += piece;
    // An odd offset moves the slice borders off any natural alignment.
    big.prepend('x');
    const Decoded whole = decodeWhole(encoding, big);
    auto d = WireTextCodecRegistry::createDecoder(encoding);
    QString chunked;
    for (qsizetype pos = 0; pos < big.size(); pos += 4096)
        chunked += d->decode(big.mid(pos, 4096));
    QCOMPARE(whole.text.size(), chunked.size());
    QVERIFY(whole.text == chunked);
    QCOMPARE(whole.invalid, d->invalidCount());
}

void tst_WireTextDecoder::tableAgreesWithCodec_data()
{
    QTest::addColumn<QString>("encoding");
    for (int row = 0; row < WireTextCodecRegistry::catalogSize; ++row) {
        const WireCodecEntry &e = WireTextCodecRegistry::entry(row);
        if (e.engine == WireCodecEntry::Engine::Named)
            QTest::newRow(e.displayName) << QString::fromLatin1(e.displayName);
    }
}

// Every single byte and every lead/trail pair the decoder frames as one
// character decodes exactly as the codec itself decodes it alone.
void tst_WireTextDecoder::tableAgreesWithCodec()
{
    QFETCH(QString, encoding);
    const WireCodecEntry &e = WireTextCodecRegistry::entry(WireTextCodecRegistry::lookup(encoding));
    QTextCodec *codec = QTextCodec::codecForName(e.converterName);
    QVERIFY(codec);
    auto d = WireTextCodecRegistry::createDecoder(encoding);
    qint64 expectedInvalid = 0;
    int checked = 0;
    auto check = [&](const QByteArray &bytes) {
        QTextCodec::ConverterState state;
        const QString want = codec->toUnicode(bytes.constData(), int(bytes.size()), &state)
                + QLatin1Char('.');
        expectedInvalid += want.count(QChar(0xFFFD));
        const QString got = d->decode(bytes + '.');
        ++checked;
        return got == want;
    };
    for (int b = 0x80; b < 0x100; ++b) {
        if (!e.framing.isLead(quint8(b)))
            QVERIFY2(check(QByteArray(1, char(b))), qPrintable(QString::number(b, 16)));
    }
    for (int lead = 0x81; lead < 0x100; ++lead) {
        if (!e.framing.isLead(quint8(lead)))
            continue;
        for (int trail = 0x40; trail < 0x100; ++trail) {
            if (trail == 0x7F)
                continue;
            const QByteArray pair{char(lead), char(trail)};
            QVERIFY2(check(pair), pair.toHex().constData());
        }
    }
    QVERIFY(checked >= 128);
    QCOMPARE(d->invalidCount(), expectedInvalid);
}

void tst_WireTextDecoder::vectors_data()
{
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<qint64>("invalid");

    using Chunks = QList<QByteArray>;
    const auto hex = [](const char *h) { return QByteArray::fromHex(h); };

    QTest::newRow("GBK two-byte split") << QStringLiteral("GBK")
            << Chunks{hex("41d6"), hex("d0cec4")} << u(u"A\u4e2d\u6587") << qint64(0);
    QTest::newRow("GB18030 U+10000 whole") << QStringLiteral("GB18030")
            << Chunks{hex("90308130")} << QString::fromUcs4(U"\U00010000") << qint64(0);
    QTest::newRow("GB18030 U+10000 split") << QStringLiteral("GB18030")
            << Chunks{hex("9030"), hex("8130")} << QString::fromUcs4(U"\U00010000") << qint64(0);
    QTest::newRow("GB18030 U+10000 byte by byte") << QStringLiteral("GB18030")
            << Chunks{hex("90"), hex("30"), hex("81"), hex("30")}
            << QString::fromUcs4(U"\U00010000") << qint64(0);
    QTest::newRow("GB18030 U+10FFFF") << QStringLiteral("GB18030")
            << Chunks{hex("e3329a35")} << QString::fromUcs4(U"\U0010FFFF") << qint64(0);
    QTest::newRow("GB18030 beyond U+10FFFF") << QStringLiteral("GB18030")
            << Chunks{hex("e3329a36") + "A"} << u(u"\ufffdA") << qint64(1);
    QTest::newRow("GB18030 BMP four-byte") << QStringLiteral("GB18030")
            << Chunks{hex("81308130")} << u(u"\u0080") << qint64(0);
    QTest::newRow("GB18030 bad third byte") << QStringLiteral("GB18030")
            << Chunks{hex("8130"), hex("2031")} << u(u"\ufffd0 1") << qint64(1);
    QTest::newRow("GB18030 bad fourth byte") << QStringLiteral("GB18030")
            << Chunks{hex("81308120")} << u(u"\ufffd0\ufffd ") << qint64(2);
    QTest::newRow("GB18030 encoded U+FFFD is not invalid") << QStringLiteral("GB18030")
            << Chunks{hex("8431a437")} << u(u"\ufffd") << qint64(0);
    QTest::newRow("Shift-JIS 82 20") << QStringLiteral("Shift-JIS")
            << Chunks{hex("8220")} << u(u"\ufffd ") << qint64(1);
    QTest::newRow("Shift-JIS 82 then 20") << QStringLiteral("Shift-JIS")
            << Chunks{hex("82"), hex("20")} << u(u"\ufffd ") << qint64(1);
    QTest::newRow("Shift-JIS half-width katakana") << QStringLiteral("Shift-JIS")
            << Chunks{hex("b1b2"), hex("82a0")} << u(u"\uff71\uff72\u3042") << qint64(0);
    QTest::newRow("Shift-JIS SUB FS DEL stay themselves") << QStringLiteral("Shift-JIS")
            << Chunks{hex("1a1c7f"), hex("82a01a")} << u(u"\x1a\x1c\x7f\u3042\x1a") << qint64(0);
    QTest::newRow("Big5 trail 7F") << QStringLiteral("Big5")
            << Chunks{hex("a47f")} << u(u"\ufffd\x7f") << qint64(1);
    QTest::newRow("Big5 split") << QStringLiteral("Big5")
            << Chunks{hex("a4"), hex("a4a4e5")} << u(u"\u4e2d\u6587") << qint64(0);
    QTest::newRow("EUC-KR split") << QStringLiteral("EUC-KR")
            << Chunks{hex("c7d1b1"), hex("db")} << u(u"\ud55c\uae00") << qint64(0);
    QTest::newRow("UTF-8 split three-byte") << QStringLiteral("UTF-8")
            << Chunks{hex("e4b8"), hex("ad")} << u(u"\u4e2d") << qint64(0);
    QTest::newRow("UTF-8 invalid byte") << QStringLiteral("UTF-8")
            << Chunks{hex("41ff42")} << u(u"A\ufffdB") << qint64(1);
    QTest::newRow("UTF-8 leading BOM is shown") << QStringLiteral("UTF-8")
            << Chunks{hex("efbb"), hex("bf41")} << QString(QChar(0xFEFF)) + QLatin1Char('A')
            << qint64(0);
    QTest::newRow("UTF-8 truncated three-byte then ASCII") << QStringLiteral("UTF-8")
            << Chunks{hex("e4b8"), hex("41")} << u(u"\ufffdA") << qint64(1);
    QTest::newRow("UTF-8 overlong E0 80") << QStringLiteral("UTF-8")
            << Chunks{hex("e0"), hex("80")} << u(u"\ufffd\ufffd") << qint64(2);
    QTest::newRow("UTF-8 surrogate ED A0 80") << QStringLiteral("UTF-8")
            << Chunks{hex("eda080")} << u(u"\ufffd\ufffd\ufffd") << qint64(3);
    QTest::newRow("UTF-8 beyond U+10FFFF") << QStringLiteral("UTF-8")
            << Chunks{hex("f4908080")} << u(u"\ufffd\ufffd\ufffd\ufffd") << qint64(4);
    QTest::newRow("UTF-8 four-byte split") << QStringLiteral("UTF-8")
            << Chunks{hex("f0"), hex("9f98"), hex("80")} << QString::fromUcs4(U"\U0001F600")
            << qint64(0);
    QTest::newRow("ISO-8859-1 high bytes") << QStringLiteral("ISO-8859-1")
            << Chunks{hex("e9ff80")} << u(u"\u00e9\u00ff\u0080") << qint64(0);
    QTest::newRow("Windows-1252 euro") << QStringLiteral("Windows-1252")
            << Chunks{hex("80"), hex("e9")} << u(u"\u20ac\u00e9") << qint64(0);
}

void tst_WireTextDecoder::vectors()
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

void tst_WireTextDecoder::gb18030SupplementaryEveryPlane()
{
    // The four-byte arithmetic against the codec's own encoder, across all planes.
    auto d = WireTextCodecRegistry::createDecoder(QStringLiteral("GB18030"));
    for (char32_t cp = 0x10000; cp < 0x110000; cp += 0x1FF1) {
        const QString ch = QString::fromUcs4(&cp, 1);
        const WireEncodeResult enc = WireTextCodecRegistry::encode(ch, QStringLiteral("GB18030"));
        QVERIFY(enc.ok);
        QCOMPARE(enc.bytes.size(), 4);
        QCOMPARE(d->decode(enc.bytes), ch);
    }
    QCOMPARE(d->invalidCount(), 0);
}

void tst_WireTextDecoder::resetForgetsPendingAndCount()
{
    for (const QString &name : WireTextCodecRegistry::availableEncodings()) {
        auto d = WireTextCodecRegistry::createDecoder(name);
        d->decode(QByteArray::fromHex("ff41"));
        d->decode(QByteArray::fromHex("e4b8"));
        d->reset();
        QCOMPARE(d->invalidCount(), 0);
        QCOMPARE(d->decode(QByteArrayLiteral("ok")), QStringLiteral("ok"));
    }
}

void tst_WireTextDecoder::emptyInputKeepsPending()
{
    auto d = WireTextCodecRegistry::createDecoder(QStringLiteral("GBK"));
    QCOMPARE(d->decode(QByteArray::fromHex("d6")), QString());
    QCOMPARE(d->decode(QByteArray()), QString());
    QCOMPARE(d->decode(QByteArray::fromHex("d0")), u(u"\u4e2d"));
}

void tst_WireTextDecoder::unknownNameDecodesUtf8()
{
    auto d = WireTextCodecRegistry::createDecoder(QStringLiteral("no-such-encoding"));
    QVERIFY(dynamic_cast<ConverterDecoder *>(d.get()));
    QCOMPARE(d->decode(QByteArray::fromHex("c3a9")), u(u"\u00e9"));
}

QTEST_APPLESS_MAIN(tst_WireTextDecoder)
#include "tst_wiretextdecoder.moc"
