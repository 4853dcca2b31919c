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

class tst_WireTextDecoder : public QObject
{
    Q_OBJECT

private slots:
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
        row("UTF-8 surrogate ED A0 80", "UTF-8", {"eda080"}, u"\ufffd\ufffd\ufffd", 3);
        row("UTF-8 beyond U+10FFFF", "UTF-8", {"f4908080"}, u"\ufffd\ufffd\ufffd\ufffd", 4);
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

QTEST_APPLESS_MAIN(tst_WireTextDecoder)
#include "tst_wiretextdecoder.moc"
