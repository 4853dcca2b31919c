// The XMODEM/YMODEM engine: scripted exchanges with one engine on a virtual clock, then
// our sender against our receiver over a simulated line with faults.
#include "simulatedline.h"
#include "tests/support/bytes.h"
#include "tests/support/memoryxfer.h"

#include "transfer/xmodemcodec.h"

#include <QTest>

#include <functional>

namespace {

const QByteArray ack(1, XmodemCodec::Ack);
const QByteArray nak(1, XmodemCodec::Nak);
const QByteArray eot(1, XmodemCodec::Eot);
constexpr int SenderSide = 0;
constexpr int ReceiverSide = 1;

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

// Sender and receiver of one protocol, with the file in memory on both ends.
struct Pair
{
    XferProtocol protocol;
    int blockSize;
    QByteArray data;
    XmodemCodec sender;
    XmodemCodec receiver;
    MemorySource source{data};
    MemorySink sink;
    XferFileInfo sentInfo{QStringLiteral("Prüfdaten v2.bin"), data.size(), 1700000000};

    Pair(XferProtocol p, int block, const QByteArray &bytes) : protocol(p), blockSize(block), data(bytes)
    {
        sender.init(false, protocol, blockSize);
        sender.setSource(&source);
        receiver.init(true, protocol, blockSize);
        receiver.setSink(&sink);
    }
    void run(SimulatedLine &line) { line.run(sender, sentInfo, receiver, XferFileInfo{QStringLiteral("received.bin"), -1, 0}); }
    // The receiver has the file once, exactly: YMODEM knows the size and brings the
    // name and time along; XMODEM pads with SUB to whole blocks, where XMODEM-1K sends a
    // short tail as one 128-byte block.
    bool receivedExactly() const
    {
        const bool ymodem = protocol == Ymodem || protocol == YmodemG;
        const bool big = protocol != Xmodem && protocol != XmodemCrc && blockSize != 128;
        QByteArray expected = data;
        int blocks = 0;
        for (qint64 rest = data.size(), block = 0; rest > 0; rest -= block, ++blocks) {
            block = big && rest > 128 ? 1024 : 128;
            if (!ymodem)
                expected.append(QByteArray(qMax<qint64>(0, block - rest), XmodemCodec::Sub));
        }
        const XferFileInfo &got = sink.info;
        const bool header = got.name == sentInfo.name && got.size == data.size() && got.mtime == sentInfo.mtime
            && sink.finishedWith == data.size() && receiver.progress().fileName == sentInfo.name;
        return sink.data == expected && sink.writes == blocks && sink.finished && (!ymodem || header);
    }
};

// One change to one write on an otherwise clean line, and how each side must end.
struct Tampering
{
    XferProtocol protocol;
    int blockSize;
    int side;          // whose write is changed
    QByteArray match;  // the write to change, or empty for any
    int index;         // which of the matching writes
    QByteArray change; // "drop", "double", "garble" (and lose the NAK), or bytes to add
    int senderEnd;     // -1 done, or the error code
    int receiverEnd;
};

} // namespace

Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(Tampering)

class TestXmodem : public QObject
{
    Q_OBJECT

private slots:
    void framing()
    {
        QCOMPARE(XmodemCodec::crc16("123456789", 9), quint16(0x31c3));
        QCOMPARE(XmodemCodec::checksum8("\xff\x02\x10", 3), quint8(0x11));
        QCOMPARE(XmodemCodec::buildFrame(255, QByteArray(1024, '\0'), false).left(3), QByteArray("\x02\xff\x00", 3));
        // The YMODEM header: name, size and octal time; names cut to 100 bytes keep characters whole.
        QCOMPARE(XmodemCodec::buildHeader({QStringLiteral("a.bin"), 1025, 012345}), QByteArray("a.bin\0" "1025 12345", 16).leftJustified(128, '\0'));
        QCOMPARE(XmodemCodec::buildHeader({QStringLiteral("ü"), -1, 0}), QByteArray("\xc3\xbc\0" "0", 4).leftJustified(128, '\0'));
        QCOMPARE(XmodemCodec::buildHeader({QString(99, u'n') + QStringLiteral("üü"), 1, 0}), (QByteArray(99, 'n') + QByteArray("\0" "1", 2)).leftJustified(128, '\0'));
    }

    void receiverStartRequests_data()
    {
        QTest::addColumn<XferProtocol>("protocol");
        QTest::addColumn<QByteArray>("requests");
        QTest::addColumn<QList<qint64>>("times");
        QTest::newRow("XMODEM-CRC falls back to checksum") << XmodemCrc << QByteArray("CCCCCC") + QByteArray(5, '\x15')
                                                           << QList<qint64>{0, 3000, 6000, 9000, 12000, 15000, 18000, 28000, 38000, 48000, 58000};
        QTest::newRow("YMODEM-G keeps asking G") << YmodemG << QByteArray(20, 'G') << QList<qint64>{};
        QTest::newRow("sender waits a minute") << Xmodem1k << QByteArray() << QList<qint64>{0};
    }

    void receiverStartRequests()
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
        QVERIFY2(h.last.message.contains(receive ? QLatin1String("did not start sending") : QLatin1String("did not request")), qPrintable(h.last.message));
    }

    void outputPendingHoldsInputAndTimers()
    {
        XmodemCodec c;
        MemorySource source(QByteArray(300, 'q'));
        c.init(false, XmodemCrc);
        c.setSource(&source);
        c.start(XferFileInfo{QStringLiteral("q"), 300, 0}, 0);
        // Noise before the request is ignored, and a repeated request is not answered twice.
        QCOMPARE(c.feed("xyCC", 10).bytes.size(), 133);
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

    void senderRetriesThenGivesUp()
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
    }

    void receiverRetriesThenGivesUp_data()
    {
        QTest::addColumn<XferProtocol>("protocol");
        QTest::addColumn<int>("damage"); // the byte flipped in each frame sent, or -1: silence
        QTest::addColumn<bool>("afterData");
        QTest::addColumn<char>("retry");
        QTest::newRow("wrong crc") << XmodemCrc << 132 << false << '\x15';
        QTest::newRow("XMODEM-CRC silence before data asks C") << XmodemCrc << -1 << false << 'C';
        QTest::newRow("XMODEM-CRC silence after data NAKs") << XmodemCrc << -1 << true << '\x15';
        QTest::newRow("YMODEM silence after header asks C") << Ymodem << -1 << false << 'C';
        QTest::newRow("YMODEM silence after data NAKs") << Ymodem << -1 << true << '\x15';
    }

    void receiverRetriesThenGivesUp()
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
        QVERIFY2(h.last.message.contains(damage >= 0 ? QLatin1String("kept failing its checksum") : QLatin1String("Gave up")), qPrintable(h.last.message));
    }

    void failures_data()
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

    void failures()
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

    void receivedHeaderFields_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<XferFileInfo>("info");
        QTest::newRow("lrzsz style") << QByteArray("log.txt\0" "1234 14565623410 100644 0 1 1234", 41)
                                     << XferFileInfo{QStringLiteral("log.txt"), 1234, 014565623410};
        QTest::newRow("garbage size") << QByteArray("a\0" "12x 9", 7) << XferFileInfo{QStringLiteral("a"), -1, 0};
        QTest::newRow("negative size") << QByteArray("a\0" "-5 0", 6) << XferFileInfo{QStringLiteral("a"), -1, 0};
    }

    void receivedHeaderFields()
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

    void endOfFileAndBatch()
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
    }

    void transfer_data()
    {
        QTest::addColumn<XferProtocol>("protocol");
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("size");
        QTest::addColumn<SimulatedLine::Faults>("dataFaults");
        QTest::addColumn<SimulatedLine::Faults>("replyFaults");
        QTest::addColumn<quint32>("seed");
        using Faults = SimulatedLine::Faults;
        const Faults clean{};
        const Faults delay{0, 0, 0, 40};
        for (XferProtocol p : {Xmodem, XmodemCrc, Xmodem1k, Ymodem, YmodemG}) {
            const QByteArray name = xferProtocolName(p).toLatin1();
            for (int size : {0, 1, 128, 1024, 1025, 5000}) {
                QTest::addRow("%s/%d/clean", name.constData(), size) << p << 1024 << size << clean << clean << 1u;
                QTest::addRow("%s/%d/delay", name.constData(), size) << p << 1024 << size << delay << delay << 2u;
            }
            QTest::addRow("%s/byte by byte", name.constData()) << p << 1024 << 2000 << Faults{0, 0, 0, 0, 1} << clean << 3u;
            if (p != Xmodem && p != XmodemCrc)
                QTest::addRow("%s/3000/block128", name.constData()) << p << 128 << 3000 << Faults{0, 0, 0, 20} << clean << 3u;
            // Lost and damaged data is repaired by NAKs and timeouts; YMODEM-G has nothing to
            // repair with and must fail cleanly.
            for (quint32 seed = 100; seed < 120; ++seed) {
                QTest::addRow("%s/drop/seed%u", name.constData(), seed) << p << 1024 << 20000 << Faults{0.15, 0, 0, 30} << Faults{0, 0, 0, 30} << seed;
                QTest::addRow("%s/corrupt/seed%u", name.constData(), seed) << p << 1024 << 20000 << Faults{0, 0.15, 0, 30} << Faults{0, 0, 0, 30} << seed;
            }
            // Faults everywhere, replies included: a clean failure is acceptable, a wrong file is not.
            const Faults everything{0.05, 0.05, 0.02, 30};
            for (quint32 seed = 21; seed <= 26; ++seed)
                QTest::addRow("%s/everything/seed%u", name.constData(), seed) << p << 1024 << 20000 << everything << everything << seed;
        }
    }

    void transfer()
    {
        QFETCH(XferProtocol, protocol);
        QFETCH(int, blockSize);
        QFETCH(int, size);
        QFETCH(SimulatedLine::Faults, dataFaults);
        QFETCH(SimulatedLine::Faults, replyFaults);
        QFETCH(quint32, seed);
        Pair pair(protocol, blockSize, randomBytes(size, seed * 7919u + quint32(size)));
        SimulatedLine line(seed);
        line.setFaults(SenderSide, dataFaults);
        line.setFaults(ReceiverSide, replyFaults);
        pair.run(line);
        const SimulatedLine::Side &tx = line.side(SenderSide);
        const SimulatedLine::Side &rx = line.side(ReceiverSide);
        QVERIFY2(tx.ended && rx.ended, "both sides must end on their own");
        // Whatever the line did, a receiver that reports success has exactly the file.
        if (rx.end.done)
            QVERIFY(pair.receivedExactly());
        // A duplicated frame is ACKed twice and puts the sender one ACK ahead; XMODEM has
        // no way to notice, so only then may the sender finish alone.
        if (tx.end.done && dataFaults.duplicate + replyFaults.duplicate == 0)
            QVERIFY2(rx.end.done, "the sender cannot finish unless the receiver has the file");
        const auto damages = [](const SimulatedLine::Faults &f) { return f.drop + f.corrupt + f.duplicate > 0; };
        if (!damages(dataFaults) && !damages(replyFaults)) {
            QVERIFY2(tx.end.done && rx.end.done, qPrintable(tx.end.message + rx.end.message));
            QCOMPARE(pair.sender.progress().totalRetries + pair.receiver.progress().totalRetries, 0);
            QCOMPARE(pair.sender.progress().bytesDone, qint64(size));
        }
        if (protocol != YmodemG && !damages(replyFaults))
            QVERIFY2(rx.end.done, qPrintable(rx.end.message));
        const QList<qint32> allowed{XferAction::RetriesExhausted, XferAction::RemoteCancelled, XferAction::OutOfStep};
        for (const SimulatedLine::Side *s : {&tx, &rx})
            QVERIFY2(s->end.done || allowed.contains(s->end.errorCode), qPrintable(s->end.message));
    }

    void tamperedLine_data()
    {
        QTest::addColumn<Tampering>("t");
        const int done = -1;
        const int retries = XferAction::RetriesExhausted;
        const int cancelled = XferAction::RemoteCancelled;
        const QByteArray any;
        // A duplicated block is written once.
        QTest::newRow("XMODEM first block doubled") << Tampering{Xmodem, 1024, SenderSide, any, 0, "double", done, done};
        QTest::newRow("YMODEM header doubled") << Tampering{Ymodem, 1024, SenderSide, any, 0, "double", done, done};
        QTest::newRow("YMODEM-G data block doubled") << Tampering{YmodemG, 1024, SenderSide, any, 3, "double", done, done};
        // A lost reply is repaired by the timeouts, except where nothing follows it.
        QTest::newRow("XMODEM first ACK lost") << Tampering{Xmodem, 128, ReceiverSide, "\x06", 0, "drop", done, done};
        QTest::newRow("XMODEM-CRC start request lost") << Tampering{XmodemCrc, 128, ReceiverSide, "C", 0, "drop", done, done};
        QTest::newRow("XMODEM-1K block garbled, its NAK lost") << Tampering{Xmodem1k, 128, SenderSide, any, 1, "garble", done, done};
        // The receiver is finished once it acknowledged the EOT; nothing can repair that loss.
        QTest::newRow("XMODEM ACK of the EOT lost") << Tampering{Xmodem, 128, ReceiverSide, "\x06", 11, "drop", retries, done};
        QTest::newRow("YMODEM header ACK+C lost") << Tampering{Ymodem, 128, ReceiverSide, "\x06" "C", 0, "drop", done, done};
        // The receiver waits 10 s after the file, as long as the sender waits before
        // repeating the EOT: it is done before the repeat arrives, and the sender gives up.
        QTest::newRow("YMODEM EOT ACK+C lost") << Tampering{Ymodem, 128, ReceiverSide, "\x06" "C", 1, "drop", retries, done};
        // YMODEM-G cannot wait out a silence: the sender fails, the receiver still has the file.
        QTest::newRow("YMODEM-G EOT ACK+G lost") << Tampering{YmodemG, 128, ReceiverSide, "\x06" "G", 1, "drop", retries, done};
        // Two CANs in a row cancel; a CAN with anything else between is line noise. The
        // bytes ride behind the third write, so they never split a frame.
        QTest::newRow("receiver gets CAN CAN") << Tampering{Xmodem1k, 1024, SenderSide, any, 2, "\x18\x18", retries, cancelled};
        QTest::newRow("receiver gets CAN noise") << Tampering{Xmodem1k, 1024, SenderSide, any, 2, "\x18x", done, done};
        QTest::newRow("sender gets CAN CAN") << Tampering{Xmodem1k, 1024, ReceiverSide, any, 2, "\x18\x18", cancelled, retries};
        QTest::newRow("sender gets CAN ACK CAN") << Tampering{Xmodem1k, 1024, ReceiverSide, "\x06", 2, "\x18\x06\x18", done, done};
    }

    void tamperedLine()
    {
        QFETCH(Tampering, t);
        Pair pair(t.protocol, t.blockSize, randomBytes(t.blockSize == 128 ? 10 * 128 + 5 : 10 * 1024 - 3, 9));
        SimulatedLine line(2);
        int seen = 0;
        bool changed = false;
        bool loseNak = false;
        line.setTamper([&](int from, QByteArray &bytes) {
            if (loseNak && from == ReceiverSide && bytes == nak) {
                loseNak = false;
                return false;
            }
            if (from != t.side || changed || !(t.match.isEmpty() || bytes == t.match) || seen++ < t.index)
                return true;
            changed = true;
            if (t.change == "drop")
                return false;
            if (t.change == "garble") {
                bytes[bytes.size() / 2] = char(bytes.at(bytes.size() / 2) ^ 0x10);
                loseNak = true;
            } else if (t.change == "double")
                bytes += bytes;
            else
                bytes = (t.match.isEmpty() ? bytes : QByteArray()) + t.change; // an ACK in the change stands in for the real one
            return true;
        });
        pair.run(line);
        QVERIFY(changed);
        const SimulatedLine::Side &tx = line.side(SenderSide);
        const SimulatedLine::Side &rx = line.side(ReceiverSide);
        QCOMPARE(tx.end.done ? -1 : tx.end.errorCode, t.senderEnd);
        QCOMPARE(rx.end.done ? -1 : rx.end.errorCode, t.receiverEnd);
        if (rx.end.done)
            QVERIFY(pair.receivedExactly());
        QCOMPARE(pair.sink.opens, 1);
        for (const SimulatedLine::Side *s : {&tx, &rx}) {
            if (s->end.errorCode == XferAction::RemoteCancelled) {
                QCOMPARE(s->end.message, QStringLiteral("The device cancelled the transfer."));
                QVERIFY(s->end.bytes.isEmpty());
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestXmodem)
#include "tst_xmodem.moc"
