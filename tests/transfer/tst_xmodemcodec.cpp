// Scripted exchanges with one engine: frames, start requests, timeouts and failures.
#include "tests/support/memoryxfer.h"

#include "transfer/xmodemcodec.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>

namespace {

const QByteArray ack(1, XmodemCodec::Ack);
const QByteArray nak(1, XmodemCodec::Nak);
const QByteArray eot(1, XmodemCodec::Eot);

QByteArray frame128(quint8 block, const QByteArray &payload)
{
    return XmodemCodec::buildFrame(block, payload.leftJustified(128, block ? XmodemCodec::Sub : '\0'), true);
}

// Drives one engine with its output written at once and a virtual clock.
struct Harness
{
    XmodemCodec codec;
    MemorySource source;
    MemorySink sink;
    qint64 now = 0;
    qint32 timeout = -1;
    QByteArray out; // everything written so far
    XferAction last;

    XferAction take(const XferAction &a)
    {
        last = a;
        out += a.bytes;
        timeout = a.timeoutMs;
        // Bytes come with timeout -1: the timer is armed once they are written.
        if (!a.bytes.isEmpty() && !a.ended() && a.timeoutMs == -1)
            take(codec.onDrained(now));
        return a;
    }
    XferAction start(bool receive, XferProtocol p, const QByteArray &file = {}, const QString &name = QStringLiteral("f.bin"))
    {
        source = MemorySource(file);
        codec.init(receive, p);
        codec.setSink(&sink);
        codec.setSource(&source);
        return take(codec.start(XferFileInfo{name, source.size(), 0}, now));
    }
    XferAction feed(const QByteArray &bytes) { return take(codec.feed(bytes, now)); }
    // Jumps the clock to the running timer and fires it.
    XferAction expire() { return take(codec.onTimer(now += qMax(timeout, 0))); }
    QByteArray takeOut() { return std::exchange(out, QByteArray()); }
};

using Script = std::function<void(Harness &)>;

} // namespace

Q_DECLARE_METATYPE(Script)

class TestXmodemCodec : public QObject
{
    Q_OBJECT

private slots:
    void framing();
    void firstFrame();
    void receiverStartRequests_data();
    void receiverStartRequests();
    void outputPendingHoldsInputAndTimers();
    void senderRetriesThenGivesUp();
    void receiverRetriesThenGivesUp_data();
    void receiverRetriesThenGivesUp();
    void failures_data();
    void failures();
    void receivedHeaderFields_data();
    void receivedHeaderFields();
    void endOfFileAndBatch();
    void receiverParsesAnySplit_data();
    void receiverParsesAnySplit();
};

void TestXmodemCodec::framing()
{
    QCOMPARE(XmodemCodec::crc16("123456789", 9), quint16(0x31c3));
    QCOMPARE(XmodemCodec::checksum8("\xff\x02\x10", 3), quint8(0x11));
    const QByteArray f = XmodemCodec::buildFrame(3, QByteArray(128, 'A'), true);
    QCOMPARE(f.left(3), QByteArray("\x01\x03\xfc"));
    QCOMPARE(f.mid(131).toHex(), QByteArray::number(XmodemCodec::crc16(f.constData() + 3, 128), 16).rightJustified(4, '0'));
    const QByteArray g = XmodemCodec::buildFrame(255, QByteArray(1024, '\0'), false);
    QCOMPARE(g.size(), 1028);
    QCOMPARE(g.left(3), QByteArray("\x02\xff\x00", 3));
    QCOMPARE(XmodemCodec::abortSequence(), QByteArray(8, XmodemCodec::Can) + QByteArray(8, XmodemCodec::Bs));
    // The YMODEM header: name, size and octal time; names cut to 100 bytes keep characters whole.
    QCOMPARE(XmodemCodec::buildHeader({QStringLiteral("a.bin"), 1025, 012345}), QByteArray("a.bin\0" "1025 12345", 16).leftJustified(128, '\0'));
    QCOMPARE(XmodemCodec::buildHeader({QStringLiteral("ü"), -1, 0}), QByteArray("\xc3\xbc\0" "0", 4).leftJustified(128, '\0'));
    QCOMPARE(XmodemCodec::buildHeader({QString(99, u'n') + QStringLiteral("üü"), 1, 0}), (QByteArray(99, 'n') + QByteArray("\0" "1", 2)).leftJustified(128, '\0'));
}

void TestXmodemCodec::firstFrame()
{
    // The sender follows the receiver's request (C: CRC, NAK: checksum) and sends a short
    // tail of XMODEM-1K as a 128-byte block; noise before the request is ignored and a
    // repeated request is not answered twice.
    const QList<std::tuple<XferProtocol, int, char, QByteArray>> cases{
        {Xmodem, 2000, 'C', "\x01\x01\xfe/128/crc"}, {XmodemCrc, 2000, '\x15', "\x01\x01\xfe/128/sum"},
        {Xmodem1k, 129, 'C', "\x02\x01\xfe/1024/crc"}, {Xmodem1k, 128, 'C', "\x01\x01\xfe/128/crc"}, {Xmodem, 0, '\x15', eot},
        {YmodemG, 5, 'G', QByteArray("\x01\x00\xff" "f.bin\0" "5\0", 11)}};
    for (const auto &[protocol, fileSize, request, expected] : cases) {
        Harness h;
        h.start(false, protocol, QByteArray(fileSize, 'z'));
        QCOMPARE(h.timeout, 60000);
        h.feed(QByteArray("xy") + request + request);
        const QByteArray frame = h.takeOut();
        QCOMPARE(h.timeout, 10000);
        const QList<QByteArray> parts = expected.split('/');
        const int size = parts.value(1).toInt();
        const QByteArray payload = QByteArray(qMin(size, fileSize), 'z').leftJustified(size, XmodemCodec::Sub);
        const QByteArray want = parts.size() == 1 ? expected : parts[0] + XmodemCodec::buildFrame(1, payload, parts[2] == "crc").mid(3);
        QCOMPARE(frame.left(want.size()).toHex(), want.toHex());
        QVERIFY(parts.size() == 1 || frame.size() == want.size());
    }
}

void TestXmodemCodec::receiverStartRequests_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<QList<qint64>>("times");
    QTest::newRow("XMODEM-CRC falls back to checksum") << XmodemCrc << QByteArray("CCCCCC") + QByteArray(5, '\x15')
                                                       << QList<qint64>{0, 3000, 6000, 9000, 12000, 15000, 18000, 28000, 38000, 48000, 58000};
    QTest::newRow("YMODEM-G keeps asking G") << YmodemG << QByteArray(20, 'G') << QList<qint64>{};
    QTest::newRow("sender waits a minute") << Xmodem1k << QByteArray() << QList<qint64>{0};
}

void TestXmodemCodec::receiverStartRequests()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(QByteArray, requests);
    QFETCH(QList<qint64>, times);
    Harness h;
    const bool receive = !requests.isEmpty();
    h.start(receive, protocol, "abc");
    QList<qint64> seen{h.now};
    while (!h.expire().ended())
        seen.append(h.now);
    QCOMPARE(h.takeOut(), requests);
    if (!times.isEmpty())
        QCOMPARE(seen, times);
    QVERIFY(h.now >= 60000);
    QVERIFY(h.last.failed && h.last.bytes.isEmpty());
    QCOMPARE(h.last.errorCode, qint32(XferAction::NotStarted));
    QCOMPARE(h.last.message, receive ? QStringLiteral("The device did not start sending. Check that it is ready to send and that the baud rate matches.")
                                     : QStringLiteral("The device did not request the transfer. Check that it is waiting to receive and that the baud rate matches."));
}

void TestXmodemCodec::outputPendingHoldsInputAndTimers()
{
    XmodemCodec c;
    MemorySource source(QByteArray(300, 'q'));
    c.init(false, XmodemCrc);
    c.setSource(&source);
    c.start(XferFileInfo{QStringLiteral("q"), 300, 0}, 0);
    QCOMPARE(c.feed("C", 10).bytes.size(), 133);
    // Not written yet: an ACK waits, and no amount of time counts as a timeout.
    QVERIFY(c.feed(ack, 20).bytes.isEmpty());
    QVERIFY(c.onTimer(500000).bytes.isEmpty());
    QCOMPARE(c.progress().bytesDone, qint64(0));
    const XferAction second = c.onDrained(600000);
    QCOMPARE(second.bytes.left(2), QByteArray("\x01\x02"));
    QCOMPARE(c.progress().bytesDone, qint64(128));
    QCOMPARE(c.onDrained(600010).timeoutMs, 10000);
    QCOMPARE(c.onTimer(605010).timeoutMs, 5000);
    QCOMPARE(c.onTimer(610010).bytes, second.bytes);
}

void TestXmodemCodec::senderRetriesThenGivesUp()
{
    Harness h;
    h.start(false, Xmodem, QByteArray(500, 'r'));
    h.feed(nak);
    const QByteArray block = h.takeOut();
    QCOMPARE(block.size(), 132);
    for (int i = 1; i <= 10; ++i) {
        // Every NAK and every timeout sends the block again, but a NAK that crossed
        // our resend after a timeout is not answered: that would send it twice.
        QCOMPARE(i % 2 ? h.feed(nak).bytes : h.expire().bytes, block);
        QVERIFY(i % 2 || h.feed(nak).bytes.isEmpty());
        QCOMPARE(h.codec.progress().totalRetries, i);
    }
    QVERIFY(h.feed(nak).failed);
    QCOMPARE(h.last.errorCode, qint32(XferAction::RetriesExhausted));
    QCOMPARE(h.last.message, QStringLiteral("Gave up after 10 retries."));
    QCOMPARE(h.last.bytes, XmodemCodec::abortSequence());
    // An ACK resets the per-block count: ten more failures are allowed for the next block.
    Harness g;
    g.start(false, Xmodem, QByteArray(500, 'r'));
    for (int i = 0; i < 22; ++i)
        g.feed(i == 11 ? ack : nak);
    QVERIFY(!g.last.ended());
    QCOMPARE(g.codec.progress().totalRetries, 20);
}

void TestXmodemCodec::receiverRetriesThenGivesUp_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<int>("damage"); // the byte flipped in each frame sent, or -1: silence
    QTest::addColumn<bool>("afterData");
    QTest::addColumn<char>("retry");
    QTest::newRow("wrong complement") << XmodemCrc << 2 << false << '\x15';
    QTest::newRow("wrong payload") << XmodemCrc << 50 << false << '\x15';
    QTest::newRow("wrong crc") << XmodemCrc << 132 << false << '\x15';
    QTest::newRow("XMODEM-CRC silence before data asks C") << XmodemCrc << -1 << false << 'C';
    QTest::newRow("XMODEM-CRC silence after data NAKs") << XmodemCrc << -1 << true << '\x15';
    QTest::newRow("YMODEM silence after header asks C") << Ymodem << -1 << false << 'C';
    QTest::newRow("YMODEM silence after data NAKs") << Ymodem << -1 << true << '\x15';
}

void TestXmodemCodec::receiverRetriesThenGivesUp()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(int, damage);
    QFETCH(bool, afterData);
    QFETCH(char, retry);
    Harness h;
    h.start(true, protocol);
    if (protocol == Ymodem)
        h.feed(frame128(0, QByteArray("f\0" "300", 6)));
    QByteArray first = frame128(1, "x");
    if (!afterData)
        first[damage >= 0 ? damage : 40] = char(first.at(damage >= 0 ? damage : 40) ^ 0x40);
    // Before data XMODEM-CRC would still be asking to start: a damaged first frame,
    // which uses one of the ten tries, ends that.
    const bool spent = damage < 0 && !afterData && protocol == XmodemCrc;
    if (afterData || spent)
        h.feed(first);
    h.takeOut();
    // A partial frame before the silence is thrown away, so the resent block parses.
    if (damage < 0)
        h.feed(QByteArray("\x01\x02\xfd" "abc"));
    for (int i = 0, tries = spent ? 9 : 10; i <= tries; ++i) {
        damage >= 0 ? h.feed(first) : h.expire();
        QCOMPARE(h.takeOut(), i < tries ? QByteArray(1, retry) : XmodemCodec::abortSequence());
    }
    QCOMPARE(h.sink.writes, int(afterData));
    QVERIFY(h.last.failed);
    QCOMPARE(h.last.errorCode, qint32(XferAction::RetriesExhausted));
    QCOMPARE(h.last.message, damage >= 0 ? QStringLiteral("Data kept failing its checksum. This is usually a baud rate mismatch or line noise.")
                                         : QStringLiteral("Gave up after 10 retries."));
}

void TestXmodemCodec::failures_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("detail"); // a part of the message that tells this case apart
    QTest::addColumn<bool>("abort");
    const QByteArray header = frame128(0, QByteArray("f\0" "5000", 7));
    QByteArray bad = XmodemCodec::buildFrame(1, QByteArray(1024, 'd'), true);
    const QByteArray good = bad;
    bad[700] = 'e';
    const auto gSender = [](Harness &h, int drains) {
        h.start(false, YmodemG, QByteArray(5000, 's'));
        h.codec.feed("G", h.now);
        h.codec.onDrained(h.now);
        h.codec.feed("\x06G", h.now); // header ACK + G: the stream starts
        for (int i = 0; i < drains; ++i)
            h.codec.onDrained(h.now);
    };
    const auto row = [](const char *name, const Script &script, int code, const char *detail, bool abort = true) {
        QTest::newRow(name) << script << code << QString::fromLatin1(detail) << abort;
    };
    row("sink cannot open (XMODEM)", [](Harness &h) { h.sink.failOpen = true; h.start(true, Xmodem); }, 10, "create", false);
    row("sink cannot open (YMODEM header)", [=](Harness &h) { h.sink.failOpen = true; h.start(true, Ymodem); h.feed(header); }, 10, "create");
    row("sink write fails", [](Harness &h) { h.sink.failWrite = true; h.start(true, XmodemCrc); h.feed(frame128(1, "a")); }, 11, "Writing");
    row("sink finish fails", [](Harness &h) { h.sink.failFinish = true; h.start(true, XmodemCrc); h.feed(frame128(1, "a")); h.feed(eot); }, 12,
        "saved", false);
    row("XMODEM over the cap", [](Harness &h) { h.start(true, XmodemCrc); h.codec.setReceiveCap(200); h.feed(frame128(1, "a")); h.feed(frame128(2, "b")); },
        14, "Received 256 bytes without an end of transfer.");
    row("YMODEM offer over the cap", [=](Harness &h) { h.start(true, Ymodem); h.codec.setReceiveCap(4999); h.feed(header); }, 14,
        "offered a 5000 byte file");
    row("block out of step", [](Harness &h) { h.start(true, XmodemCrc); h.feed(frame128(1, "a")); h.feed(frame128(3, "c")); }, 16,
        "Block 3 arrived when block 2 was expected");
    row("header without NUL", [](Harness &h) { h.start(true, Ymodem); h.feed(frame128(0, QByteArray(128, 'n'))); }, 16, "header");
    row("source read fails", [](Harness &h) { h.start(false, XmodemCrc, "abc"); h.source.failReads = true; h.feed("C"); }, 8, "read");
    row("source changed", [](Harness &h) { h.start(false, XmodemCrc, "abc"); h.feed("C"); h.source.changed = true; h.feed(ack); }, 9, "changed");
    row("YMODEM-G bad frame", [=](Harness &h) { h.start(true, YmodemG); h.feed(header); h.feed(bad); }, 2, "checksum");
    row("YMODEM-G noise then EOT", [=](Harness &h) { h.start(true, YmodemG); h.feed(header); h.feed(good); h.feed("\x99\x04"); }, 2, "checksum");
    row("YMODEM-G receiver silence", [=](Harness &h) { h.start(true, YmodemG); h.feed(header); h.expire(); }, 2, "stopped sending");
    row("YMODEM-G sender NAK", [=](Harness &h) { gSender(h, 0); h.feed(nak); h.take(h.codec.onDrained(h.now)); }, 2, "reported an error");
    // Four blocks and the EOT stream out, then the receiver goes quiet.
    row("YMODEM-G sender silence", [=](Harness &h) { gSender(h, 5); h.take(h.codec.onDrained(h.now)); h.expire(); }, 2, "stopped responding");
}

void TestXmodemCodec::failures()
{
    QFETCH(Script, script);
    QFETCH(int, code);
    QFETCH(QString, detail);
    QFETCH(bool, abort);
    Harness h;
    script(h);
    QVERIFY(h.last.failed);
    QCOMPARE(h.last.errorCode, code);
    QVERIFY2(h.last.message.contains(detail), qPrintable(h.last.message));
    QCOMPARE(h.last.bytes, abort ? XmodemCodec::abortSequence() : QByteArray());
    QCOMPARE(h.codec.state(), XmodemCodec::Failed);
    // After the end every call is empty, a cancel included.
    for (const XferAction &a : {h.codec.feed("\x01\x18\x18", 1), h.codec.onTimer(999999), h.codec.onDrained(1), h.codec.cancel(2)})
        QVERIFY(a.bytes.isEmpty() && !a.ended() && a.timeoutMs == -1);
}

void TestXmodemCodec::receivedHeaderFields_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<XferFileInfo>("info");
    QTest::newRow("lrzsz style") << QByteArray("log.txt\0" "1234 14565623410 100644 0 1 1234", 41)
                                 << XferFileInfo{QStringLiteral("log.txt"), 1234, 014565623410};
    QTest::newRow("size only, extra spaces") << QByteArray("a\0" "  77   ", 9) << XferFileInfo{QStringLiteral("a"), 77, 0};
    QTest::newRow("no size field") << QByteArray("a\0\0", 3) << XferFileInfo{QStringLiteral("a"), -1, 0};
    QTest::newRow("garbage size") << QByteArray("a\0" "12x 9", 7) << XferFileInfo{QStringLiteral("a"), -1, 0};
    QTest::newRow("negative size") << QByteArray("a\0" "-5 0", 6) << XferFileInfo{QStringLiteral("a"), -1, 0};
    QTest::newRow("name with folders is passed on") << QByteArray("../../etc/x\0" "1", 13) << XferFileInfo{QStringLiteral("../../etc/x"), 1, 0};
}

void TestXmodemCodec::receivedHeaderFields()
{
    QFETCH(QByteArray, payload);
    QFETCH(XferFileInfo, info);
    Harness h;
    h.start(true, Ymodem, {}, QStringLiteral("default.bin"));
    h.takeOut();
    h.feed(frame128(0, payload));
    QCOMPARE(h.takeOut(), QByteArray("\x06" "C"));
    QCOMPARE(h.sink.info.name, info.name);
    QCOMPARE(h.sink.info.size, info.size);
    QCOMPARE(h.sink.info.mtime, info.mtime);
    // The receiver trims the last block to the size in the header.
    h.feed(frame128(1, QByteArray(128, 'k')));
    QCOMPARE(h.sink.data.size(), info.size >= 0 ? qMin<qint64>(info.size, 128) : 128);
}

void TestXmodemCodec::endOfFileAndBatch()
{
    // A 0x04 out of a garbled frame must not end the file: only an EOT with nothing
    // around it counts. The timeout's NAK brings the real one again.
    Harness h;
    h.start(true, XmodemCrc);
    for (const QByteArray &in : {frame128(1, "abc"), QByteArray("\x33\x04"), QByteArray("\x04\x77"), eot})
        h.feed(in);
    QCOMPARE(h.takeOut(), QByteArray("C\x06"));
    QVERIFY(!h.sink.finished);
    QCOMPARE(h.expire().bytes, nak);
    QVERIFY(h.feed(eot).done);
    QCOMPARE(h.last.bytes, ack);
    QCOMPARE(h.sink.finishedWith, qint64(-1));
    QCOMPARE(h.sink.data, QByteArray("abc").leftJustified(128, XmodemCodec::Sub));

    // YMODEM: a repeated EOT after the file was saved is answered again; an empty
    // header ends the batch, and ends it at once when nothing came before.
    Harness y;
    y.start(true, Ymodem);
    for (const QByteArray &in : {frame128(0, QByteArray("f\0" "3", 4)), frame128(1, "abc"), eot})
        y.feed(in);
    y.takeOut();
    y.feed(eot);
    QCOMPARE(y.takeOut(), QByteArray("\x06" "C"));
    QVERIFY(y.feed(frame128(0, {})).done);
    QCOMPARE(y.last.bytes, ack);
    QCOMPARE(y.sink.data, QByteArray("abc"));
    Harness empty;
    empty.start(true, Ymodem);
    QVERIFY(empty.feed(frame128(0, {})).done);
    QCOMPARE(empty.sink.opens, 0);

    // The sender: some receivers NAK the first EOT; a missing end of batch still ends well.
    Harness s;
    s.start(false, Ymodem, "hello");
    for (const QByteArray &in : {QByteArray("C"), QByteArray("\x06" "C"), ack, nak, ack})
        s.feed(in);
    QCOMPARE(s.takeOut(), frame128(0, QByteArray("f.bin\0" "5", 7)) + frame128(1, "hello") + eot + eot);
    QCOMPARE(s.codec.state(), XmodemCodec::SendEotAcked);
    QCOMPARE(s.timeout, 10000);
    QVERIFY(s.expire().done && s.out.isEmpty());

    // A local cancel sends the abort, once.
    Harness c;
    c.start(true, Xmodem1k);
    const XferAction a = c.codec.cancel(5);
    QVERIFY(a.failed && a.timeoutMs == -1);
    QCOMPARE(a.errorCode, qint32(XferAction::LocalCancelled));
    QCOMPARE(a.message, QStringLiteral("Cancelled."));
    QCOMPARE(a.bytes, XmodemCodec::abortSequence());
    QVERIFY(c.codec.cancel(6).bytes.isEmpty() && !c.codec.cancel(6).failed);
}

void TestXmodemCodec::receiverParsesAnySplit_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<int>("split"); // 0 whole, 1 byte by byte, 2 random points
    QTest::addColumn<quint32>("seed");
    for (XferProtocol p : {XmodemCrc, Ymodem, YmodemG}) {
        const QByteArray name = xferProtocolName(p).toLatin1();
        QTest::addRow("%s/whole", name.constData()) << p << 0 << 0u;
        QTest::addRow("%s/byte by byte", name.constData()) << p << 1 << 0u;
        for (quint32 seed = 1; seed <= 5; ++seed)
            QTest::addRow("%s/random/seed%u", name.constData(), seed) << p << 2 << seed;
    }
}

void TestXmodemCodec::receiverParsesAnySplit()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(int, split);
    QFETCH(quint32, seed);
    const bool ymodem = protocol != XmodemCrc;
    QRandomGenerator rng(seed);
    QByteArray file(2000, Qt::Uninitialized);
    for (char &c : file)
        c = char(rng.bounded(256));
    // What the sender puts on the line in one go before it waits for an answer. A
    // streaming sender does not wait between blocks, so there they form one turn.
    const QByteArray blocks[] = {XmodemCodec::buildFrame(1, file.left(1024), true),
                                 XmodemCodec::buildFrame(2, file.mid(1024).leftJustified(1024, XmodemCodec::Sub), true)};
    QList<QByteArray> turns;
    if (ymodem)
        turns << frame128(0, XmodemCodec::buildHeader(XferFileInfo{QStringLiteral("s.bin"), 2000, 0}));
    turns << (protocol == YmodemG ? QList<QByteArray>{blocks[0] + blocks[1]} : QList<QByteArray>{blocks[0], blocks[1]}) << eot;
    if (ymodem)
        turns << frame128(0, {});
    Harness h;
    h.start(true, protocol);
    for (const QByteArray &turn : turns) {
        for (qsizetype pos = 0, len = 0; pos < turn.size(); pos += len) {
            len = split == 0 ? turn.size() - pos : split == 1 ? 1 : 1 + rng.bounded(int(turn.size() - pos));
            h.feed(turn.mid(pos, len));
        }
    }
    QVERIFY2(h.last.done, qPrintable(h.last.message));
    QCOMPARE(h.sink.data, ymodem ? file : file.leftJustified(2048, XmodemCodec::Sub));
    QCOMPARE(h.sink.writes, 2);
    QCOMPARE(h.out, protocol == XmodemCrc ? QByteArray("C\x06\x06\x06")
                    : protocol == Ymodem  ? QByteArray("C\x06" "C\x06\x06\x06" "C\x06")
                                          : QByteArray("G\x06" "G\x06" "G\x06"));
}

QTEST_APPLESS_MAIN(TestXmodemCodec)
#include "tst_xmodemcodec.moc"
