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
        // Bytes always come with timeout -1; the timer is armed once they are written.
        if (!a.bytes.isEmpty() && !a.ended())
            return a.timeoutMs == -1 ? take(codec.onDrained(now)) : XferAction{};
        return a;
    }
    XferAction start(bool receive, XferProtocol p, const QString &name = QStringLiteral("f.bin"), int blockSize = 1024)
    {
        codec.init(receive, p, blockSize);
        codec.setSink(&sink);
        codec.setSource(&source);
        return take(codec.start(XferFileInfo{name, source.size(), 0}, now));
    }
    XferAction feed(const QByteArray &bytes) { return take(codec.feed(bytes, now)); }
    // Jumps the clock to the running timer and fires it.
    XferAction expire()
    {
        now += qMax(timeout, 0);
        return take(codec.onTimer(now));
    }
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
    void firstFrame_data();
    void firstFrame();
    void header_data();
    void header();
    void receiverStartRequests_data();
    void receiverStartRequests();
    void senderWaitsOneMinute();
    void outputPendingHoldsInputAndTimers();
    void senderRetriesThenGivesUp();
    void receiverNaksBadFramesThenGivesUp_data();
    void receiverNaksBadFramesThenGivesUp();
    void receiverTimeouts_data();
    void receiverTimeouts();
    void failures_data();
    void failures();
    void receivedHeaderFields_data();
    void receivedHeaderFields();
    void endOfFileAndBatch();
    void progress();
    void receiverParsesAnySplit_data();
    void receiverParsesAnySplit();
};

void TestXmodemCodec::framing()
{
    QCOMPARE(XmodemCodec::crc16("123456789", 9), quint16(0x31c3));
    QCOMPARE(XmodemCodec::crc16("", 0), quint16(0));
    QCOMPARE(XmodemCodec::checksum8("\xff\x02\x10", 3), quint8(0x11));
    const QByteArray f = XmodemCodec::buildFrame(3, QByteArray(128, 'A'), true);
    QCOMPARE(f.size(), 133);
    QCOMPARE(f.left(3), QByteArray("\x01\x03\xfc"));
    QCOMPARE(quint16(quint8(f.at(131)) << 8 | quint8(f.at(132))), XmodemCodec::crc16(f.constData() + 3, 128));
    const QByteArray g = XmodemCodec::buildFrame(255, QByteArray(1024, '\0'), false);
    QCOMPARE(g.size(), 1028);
    QCOMPARE(g.left(3), QByteArray("\x02\xff\x00", 3));
    QCOMPARE(g.back(), '\0');
    QCOMPARE(XmodemCodec::abortSequence(), QByteArray(8, XmodemCodec::Can) + QByteArray(8, XmodemCodec::Bs));
}

void TestXmodemCodec::firstFrame_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<char>("request");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<int>("length");
    const QByteArray soh("\x01\x01\xfe");
    const QByteArray stx("\x02\x01\xfe");
    QTest::newRow("XMODEM, NAK: checksum 128") << Xmodem << 1024 << 2000 << '\x15' << soh << 132;
    QTest::newRow("XMODEM asked for C follows the receiver") << Xmodem << 1024 << 2000 << 'C' << soh << 133;
    QTest::newRow("XMODEM-CRC asked with NAK drops to checksum") << XmodemCrc << 1024 << 2000 << '\x15' << soh << 132;
    QTest::newRow("XMODEM-1K, C: STX") << Xmodem1k << 1024 << 2000 << 'C' << stx << 1029;
    QTest::newRow("XMODEM-1K exactly 1024") << Xmodem1k << 1024 << 1024 << 'C' << stx << 1029;
    QTest::newRow("XMODEM-1K 129 bytes still STX") << Xmodem1k << 1024 << 129 << 'C' << stx << 1029;
    QTest::newRow("XMODEM-1K 128 bytes left: SOH") << Xmodem1k << 1024 << 128 << 'C' << soh << 133;
    QTest::newRow("XMODEM-1K block option 128") << Xmodem1k << 128 << 2000 << 'C' << soh << 133;
    QTest::newRow("XMODEM 0 bytes: EOT at once") << Xmodem << 1024 << 0 << '\x15' << eot << 1;
    QTest::newRow("YMODEM: header first") << Ymodem << 1024 << 2000 << 'C' << QByteArray("\x01\x00\xff" "f.bin\0" "2000\0", 14) << 133;
    QTest::newRow("YMODEM-G: header first") << YmodemG << 1024 << 5 << 'G' << QByteArray("\x01\x00\xff" "f.bin\0" "5\0", 11) << 133;
}

void TestXmodemCodec::firstFrame()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(int, blockSize);
    QFETCH(int, fileSize);
    QFETCH(char, request);
    QFETCH(QByteArray, prefix);
    QFETCH(int, length);
    XmodemCodec codec;
    codec.init(false, protocol, blockSize);
    MemorySource source(QByteArray(fileSize, 'z'));
    codec.setSource(&source);
    QCOMPARE(codec.start(XferFileInfo{QStringLiteral("f.bin"), fileSize, 0}, 0).timeoutMs, 60000);
    // Noise before the request is ignored; a repeated request is not answered twice.
    const XferAction a = codec.feed(QByteArray("xy") + request + request, 100);
    QCOMPARE(a.bytes.size(), length);
    QVERIFY(a.bytes.startsWith(prefix));
    QCOMPARE(a.timeoutMs, -1);
    if (length > 4 && prefix.at(1) == 1) {
        const int payload = length > 1000 ? 1024 : 128;
        const QByteArray body = a.bytes.mid(3, payload);
        QCOMPARE(body, QByteArray(std::min(payload, fileSize), 'z').leftJustified(payload, XmodemCodec::Sub));
        const bool crc = length == payload + 5;
        QCOMPARE(a.bytes.mid(3), XmodemCodec::buildFrame(1, body, crc).mid(3));
    }
    const XferAction d = codec.onDrained(150);
    QVERIFY(d.bytes.isEmpty());
    QCOMPARE(d.timeoutMs, 10000);
}

void TestXmodemCodec::header_data()
{
    QTest::addColumn<XferFileInfo>("info");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("name size time") << XferFileInfo{QStringLiteral("a.bin"), 1025, 012345} << QByteArray("a.bin\0" "1025 12345\0", 17);
    QTest::newRow("no time") << XferFileInfo{QStringLiteral("a.bin"), 0, 0} << QByteArray("a.bin\0" "0\0", 8);
    QTest::newRow("unknown size written as 0") << XferFileInfo{QStringLiteral("x"), -1, 0} << QByteArray("x\0" "0\0", 4);
    QTest::newRow("utf-8 name") << XferFileInfo{QStringLiteral("ü"), 7, 8} << QByteArray("\xc3\xbc\0" "7 10\0", 8);
    QTest::newRow("long name cut to 100 bytes") << XferFileInfo{QString(150, u'n'), 1, 0} << QByteArray(100, 'n') + QByteArray("\0" "1\0", 3);
    // 'ü' is two bytes: 99 'n' + half a character would be invalid UTF-8.
    QTest::newRow("cut keeps characters whole") << XferFileInfo{QString(99, u'n') + QStringLiteral("üü"), 1, 0}
                                                << QByteArray(99, 'n') + QByteArray("\0" "1\0", 3);
}

void TestXmodemCodec::header()
{
    QFETCH(XferFileInfo, info);
    QFETCH(QByteArray, expected);
    QCOMPARE(XmodemCodec::buildHeader(info), expected.leftJustified(128, '\0'));
}

void TestXmodemCodec::receiverStartRequests_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<QList<qint64>>("times");
    QTest::newRow("XMODEM-CRC falls back to checksum") << XmodemCrc << QByteArray("CCCCCC") + QByteArray(5, '\x15')
                                                       << QList<qint64>{0, 3000, 6000, 9000, 12000, 15000, 18000, 28000, 38000, 48000, 58000};
    QTest::newRow("XMODEM NAK every 10 s") << Xmodem << QByteArray(6, '\x15') << QList<qint64>{0, 10000, 20000, 30000, 40000, 50000};
    QTest::newRow("YMODEM keeps asking C") << Ymodem << QByteArray(20, 'C') << QList<qint64>{};
    QTest::newRow("YMODEM-G keeps asking G") << YmodemG << QByteArray(20, 'G') << QList<qint64>{};
}

void TestXmodemCodec::receiverStartRequests()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(QByteArray, requests);
    QFETCH(QList<qint64>, times);
    Harness h;
    h.start(true, protocol);
    QList<qint64> seen{h.now};
    while (!h.expire().ended())
        seen.append(h.now);
    QCOMPARE(h.takeOut(), requests);
    if (!times.isEmpty())
        QCOMPARE(seen, times);
    QVERIFY(h.now >= 60000);
    QVERIFY(h.last.failed && h.last.bytes.isEmpty());
    QCOMPARE(h.last.errorCode, qint32(XferAction::NotStarted));
    QCOMPARE(h.last.message, QStringLiteral("The device did not start sending. Check that it is ready to send and that the baud rate matches."));
}

void TestXmodemCodec::senderWaitsOneMinute()
{
    Harness h;
    h.source = MemorySource("abc");
    h.start(false, Xmodem1k);
    QCOMPARE(h.timeout, 60000);
    h.now = 59999;
    QVERIFY(!h.take(h.codec.onTimer(h.now)).ended());
    QCOMPARE(h.timeout, 1);
    QVERIFY(h.expire().failed);
    QCOMPARE(h.last.errorCode, qint32(XferAction::NotStarted));
    QCOMPARE(h.last.message, QStringLiteral("The device did not request the transfer. Check that it is waiting to receive and that the baud rate matches."));
    QVERIFY(h.out.isEmpty());
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
    QCOMPARE(second.bytes.size(), 133);
    QCOMPARE(quint8(second.bytes.at(1)), quint8(2));
    QCOMPARE(c.progress().bytesDone, qint64(128));
    QCOMPARE(c.onDrained(600010).timeoutMs, 10000);
    QCOMPARE(c.onTimer(605010).timeoutMs, 5000);
    QCOMPARE(c.onTimer(610010).bytes, second.bytes);
}

void TestXmodemCodec::senderRetriesThenGivesUp()
{
    Harness h;
    h.source = MemorySource(QByteArray(500, 'r'));
    h.start(false, Xmodem);
    h.feed(nak);
    const QByteArray block = h.takeOut();
    QCOMPARE(block.size(), 132);
    for (int i = 1; i <= 10; ++i) {
        if (i % 2) {
            h.feed(nak);
            QCOMPARE(h.takeOut(), block);
        } else {
            h.expire();
            QCOMPARE(h.takeOut(), block);
            // The receiver's NAK crossed our resend: answering it would send the block twice.
            h.feed(nak);
            QVERIFY(h.takeOut().isEmpty());
        }
        QCOMPARE(h.codec.progress().totalRetries, i);
    }
    QVERIFY(h.feed(nak).failed);
    QCOMPARE(h.last.errorCode, qint32(XferAction::RetriesExhausted));
    QCOMPARE(h.last.message, QStringLiteral("Gave up after 10 retries."));
    QCOMPARE(h.last.bytes, XmodemCodec::abortSequence());

    // An ACK resets the per-block count: ten more failures are allowed for the next block.
    Harness g;
    g.source = MemorySource(QByteArray(500, 'r'));
    g.start(false, Xmodem);
    for (int i = 0; i < 22; ++i)
        g.feed(i == 11 ? ack : nak);
    QVERIFY(!g.last.ended());
    QCOMPARE(g.codec.progress().totalRetries, 20);
}

void TestXmodemCodec::receiverNaksBadFramesThenGivesUp_data()
{
    QTest::addColumn<int>("at"); // which byte of the frame is flipped
    QTest::newRow("wrong complement") << 2;
    QTest::newRow("wrong payload") << 50;
    QTest::newRow("wrong crc") << 132;
}

void TestXmodemCodec::receiverNaksBadFramesThenGivesUp()
{
    QFETCH(int, at);
    Harness h;
    h.start(true, XmodemCrc);
    h.takeOut();
    QByteArray bad = frame128(1, "data");
    bad[at] = char(bad.at(at) ^ 0x40);
    for (int i = 1; i <= 10; ++i) {
        h.feed(bad);
        QCOMPARE(h.takeOut(), nak);
    }
    QCOMPARE(h.sink.writes, 0);
    QVERIFY(h.feed(bad).failed);
    QCOMPARE(h.last.errorCode, qint32(XferAction::RetriesExhausted));
    QCOMPARE(h.last.message, QStringLiteral("Data kept failing its checksum. This is usually a baud rate mismatch or line noise."));
    QCOMPARE(h.last.bytes, XmodemCodec::abortSequence());
}

void TestXmodemCodec::receiverTimeouts_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<bool>("afterData");
    QTest::addColumn<char>("retry");
    QTest::newRow("XMODEM-CRC before data asks C") << XmodemCrc << false << 'C';
    QTest::newRow("XMODEM-CRC after data NAKs") << XmodemCrc << true << '\x15';
    QTest::newRow("YMODEM after header asks C") << Ymodem << false << 'C';
    QTest::newRow("YMODEM after data NAKs") << Ymodem << true << '\x15';
}

void TestXmodemCodec::receiverTimeouts()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(bool, afterData);
    QFETCH(char, retry);
    Harness h;
    h.start(true, protocol);
    if (protocol == Ymodem)
        h.feed(frame128(0, QByteArray("f\0" "300", 6)));
    QByteArray first = frame128(1, "x");
    if (!afterData && protocol == XmodemCrc)
        first[40] = 'Z'; // damaged: no data yet, so the timeout asks again with 'C'
    if (afterData || protocol == XmodemCrc)
        h.feed(first);
    h.takeOut();
    // A partial frame before the silence is thrown away, so the resent block parses.
    h.feed(QByteArray("\x01\x02\xfd" "abc"));
    // The damaged frame already used one of the ten tries.
    for (int i = afterData || protocol != XmodemCrc ? 10 : 9; i > 0; --i) {
        QCOMPARE(h.timeout, 10000);
        h.expire();
        QCOMPARE(h.takeOut(), QByteArray(1, retry));
    }
    QVERIFY(h.expire().failed);
    QCOMPARE(h.last.message, QStringLiteral("Gave up after 10 retries."));
    QCOMPARE(h.last.bytes, XmodemCodec::abortSequence());
}

void TestXmodemCodec::failures_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("abort");

    const QByteArray header = frame128(0, QByteArray("f\0" "5000", 7));
    const QString badBlock = QStringLiteral("A block failed its checksum. YMODEM-G cannot ask for it again, so the transfer has failed.");
    const auto gSender = [](Harness &h, int drains) {
        h.source = MemorySource(QByteArray(5000, 's'));
        h.start(false, YmodemG);
        h.codec.feed("G", h.now);
        h.codec.onDrained(h.now);
        h.codec.feed("\x06G", h.now); // header ACK + G: the stream starts
        for (int i = 0; i < drains; ++i)
            h.codec.onDrained(h.now);
    };
    QTest::newRow("sink cannot open (XMODEM)") << Script([](Harness &h) { h.sink.failOpen = true; h.start(true, Xmodem); })
                                               << 10 << QStringLiteral("Could not create the destination file.") << false;
    QTest::newRow("sink cannot open (YMODEM header)") << Script([=](Harness &h) { h.sink.failOpen = true; h.start(true, Ymodem); h.feed(header); })
                                                      << 10 << QStringLiteral("Could not create the destination file.") << true;
    QTest::newRow("sink write fails") << Script([](Harness &h) { h.sink.failWrite = true; h.start(true, XmodemCrc); h.feed(frame128(1, "a")); })
                                      << 11 << QStringLiteral("Writing to disk failed.") << true;
    QTest::newRow("sink finish fails") << Script([](Harness &h) { h.sink.failFinish = true; h.start(true, XmodemCrc); h.feed(frame128(1, "a")); h.feed(eot); })
                                       << 12 << QStringLiteral("The data was received but could not be saved.") << false;
    QTest::newRow("XMODEM over the cap") << Script([](Harness &h) {
        h.start(true, XmodemCrc);
        h.codec.setReceiveCap(200);
        h.feed(frame128(1, "a"));
        h.feed(frame128(2, "b"));
    }) << 14 << QStringLiteral("Received 256 bytes without an end of transfer. XMODEM has no length field, so there is no way to tell when it should stop.") << true;
    QTest::newRow("YMODEM offer over the cap") << Script([=](Harness &h) { h.start(true, Ymodem); h.codec.setReceiveCap(4999); h.feed(header); })
                                               << 14 << QStringLiteral("The device offered a 5000 byte file, which is over the receive limit.") << true;
    QTest::newRow("block out of step") << Script([](Harness &h) { h.start(true, XmodemCrc); h.feed(frame128(1, "a")); h.feed(frame128(3, "c")); })
                                       << 16 << QStringLiteral("Block 3 arrived when block 2 was expected; the transfer is out of step.") << true;
    QTest::newRow("header without NUL") << Script([](Harness &h) { h.start(true, Ymodem); h.feed(frame128(0, QByteArray(128, 'n'))); })
                                        << 16 << QStringLiteral("The device sent a malformed file header.") << true;
    QTest::newRow("source read fails") << Script([](Harness &h) { h.source = MemorySource("abc"); h.source.failReads = true; h.start(false, XmodemCrc); h.feed("C"); })
                                       << 8 << QStringLiteral("Could not read the file being sent.") << true;
    QTest::newRow("source changed") << Script([](Harness &h) { h.source = MemorySource("abc"); h.start(false, XmodemCrc); h.feed("C"); h.source.changed = true; h.feed(ack); })
                                    << 9 << QStringLiteral("The file changed while it was being sent.") << true;
    QTest::newRow("YMODEM-G bad frame") << Script([=](Harness &h) {
        h.start(true, YmodemG);
        QByteArray bad = XmodemCodec::buildFrame(1, QByteArray(1024, 'd'), true);
        bad[700] = 'e';
        h.feed(header);
        h.feed(bad);
    }) << 2 << badBlock << true;
    QTest::newRow("YMODEM-G receiver silence") << Script([=](Harness &h) { h.start(true, YmodemG); h.feed(header); h.expire(); })
                                               << 2 << QStringLiteral("The device stopped sending. YMODEM-G cannot recover, so the transfer has failed.") << true;
    QTest::newRow("YMODEM-G noise then EOT") << Script([=](Harness &h) {
        h.start(true, YmodemG);
        h.feed(header);
        h.feed(XmodemCodec::buildFrame(1, QByteArray(1024, 'd'), true));
        h.feed(QByteArray("\x99\x04"));
    }) << 2 << badBlock << true;
    QTest::newRow("YMODEM-G sender NAK") << Script([=](Harness &h) { gSender(h, 0); h.feed(nak); h.take(h.codec.onDrained(h.now)); })
                                         << 2 << QStringLiteral("The device reported an error. YMODEM-G cannot resend a block, so the transfer has been abandoned.") << true;
    // Four blocks and the EOT stream out, then the receiver goes quiet.
    QTest::newRow("YMODEM-G sender silence") << Script([=](Harness &h) { gSender(h, 5); h.take(h.codec.onDrained(h.now)); h.expire(); })
                                             << 2 << QStringLiteral("The device stopped responding. YMODEM-G has no retransmission, so the transfer has failed.") << true;
}

void TestXmodemCodec::failures()
{
    QFETCH(Script, script);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(bool, abort);
    Harness h;
    script(h);
    QVERIFY(h.last.failed);
    QCOMPARE(h.last.errorCode, code);
    QCOMPARE(h.last.message, message);
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
    QTest::newRow("size only") << QByteArray("a\0" "77", 4) << XferFileInfo{QStringLiteral("a"), 77, 0};
    QTest::newRow("extra spaces") << QByteArray("a\0" "  12   17  ", 13) << XferFileInfo{QStringLiteral("a"), 12, 15};
    QTest::newRow("no size field") << QByteArray("a\0\0", 3) << XferFileInfo{QStringLiteral("a"), -1, 0};
    QTest::newRow("garbage size") << QByteArray("a\0" "12x 9", 7) << XferFileInfo{QStringLiteral("a"), -1, 0};
    QTest::newRow("negative size, zero time") << QByteArray("a\0" "-5 0", 6) << XferFileInfo{QStringLiteral("a"), -1, 0};
    QTest::newRow("name with folders is passed on") << QByteArray("../../etc/x\0" "1", 13) << XferFileInfo{QStringLiteral("../../etc/x"), 1, 0};
}

void TestXmodemCodec::receivedHeaderFields()
{
    QFETCH(QByteArray, payload);
    QFETCH(XferFileInfo, info);
    Harness h;
    h.start(true, Ymodem, QStringLiteral("default.bin"));
    h.takeOut();
    h.feed(frame128(0, payload));
    QCOMPARE(h.takeOut(), QByteArray("\x06" "C"));
    QCOMPARE(h.sink.info.name, info.name);
    QCOMPARE(h.sink.info.size, info.size);
    QCOMPARE(h.sink.info.mtime, info.mtime);
    // The receiver trims the last block to the size in the header.
    h.feed(frame128(1, QByteArray(128, 'k')));
    QCOMPARE(h.sink.data.size(), info.size >= 0 ? std::min<qint64>(info.size, 128) : 128);
}

void TestXmodemCodec::endOfFileAndBatch()
{
    // A 0x04 out of a garbled frame must not end the file: only an EOT with nothing
    // around it counts. The timeout's NAK brings the real one again.
    Harness h;
    h.start(true, XmodemCrc);
    h.feed(frame128(1, "abc"));
    h.takeOut();
    h.feed(QByteArray("\x33\x04"));
    h.feed(QByteArray("\x04\x77"));
    h.feed(eot);
    QCOMPARE(h.takeOut(), QByteArray());
    QVERIFY(!h.sink.finished);
    h.expire();
    QCOMPARE(h.takeOut(), nak);
    QVERIFY(h.feed(eot).done);
    QCOMPARE(h.takeOut(), ack);
    QCOMPARE(h.sink.finishedWith, qint64(-1));
    QCOMPARE(h.sink.data, QByteArray("abc").leftJustified(128, XmodemCodec::Sub));

    // YMODEM: a repeated EOT after the file was saved is answered again; an empty
    // header ends the batch.
    Harness y;
    y.start(true, Ymodem);
    for (const QByteArray &turn : {frame128(0, QByteArray("f\0" "3", 4)), frame128(1, "abc"), eot})
        y.feed(turn);
    y.takeOut();
    y.feed(eot);
    QCOMPARE(y.takeOut(), QByteArray("\x06" "C"));
    QVERIFY(y.feed(frame128(0, QByteArray())).done);
    QCOMPARE(y.last.bytes, ack);
    QCOMPARE(y.sink.data, QByteArray("abc"));
    Harness empty;
    empty.start(true, Ymodem);
    QVERIFY(empty.feed(frame128(0, QByteArray())).done);
    QCOMPARE(empty.sink.opens, 0);

    // The sender: some receivers NAK the first EOT; a missing end of batch still ends well.
    Harness s;
    s.source = MemorySource("hello");
    s.start(false, Ymodem);
    s.feed("C");
    QVERIFY(s.takeOut().mid(3).startsWith(QByteArray("f.bin\0" "5\0", 8)));
    s.feed("\x06" "C");
    QCOMPARE(s.takeOut().mid(3, 5), QByteArray("hello"));
    s.feed(ack);
    QCOMPARE(s.takeOut(), eot);
    s.feed(nak);
    QCOMPARE(s.takeOut(), eot);
    s.feed(ack);
    QCOMPARE(s.codec.state(), XmodemCodec::SendEotAcked);
    QCOMPARE(s.timeout, 10000);
    QVERIFY(s.expire().done);
    QVERIFY(s.out.isEmpty());

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

void TestXmodemCodec::progress()
{
    Harness h;
    h.source = MemorySource(QByteArray(3000, 'p'));
    h.start(false, Ymodem, QStringLiteral("p.bin"));
    h.feed("C");
    h.feed("\x06" "C");
    h.feed(ack);
    const XferProgress p = h.codec.progress();
    QCOMPARE(p.bytesDone, qint64(1024));
    QCOMPARE(p.bytesTotal, qint64(3000));
    QCOMPARE(p.blockNumber, 2);
    QCOMPARE(p.fileName, QStringLiteral("p.bin"));
    Harness r;
    r.start(true, XmodemCrc);
    QCOMPARE(r.codec.progress().blockNumber, 0);
    QCOMPARE(r.codec.progress().bytesTotal, qint64(-1));
    r.feed(frame128(1, "x"));
    QCOMPARE(r.codec.progress().bytesDone, qint64(128));
    QCOMPARE(r.codec.progress().blockNumber, 1);
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
        turns << XmodemCodec::buildFrame(0, XmodemCodec::buildHeader(XferFileInfo{QStringLiteral("s.bin"), 2000, 0}), true);
    if (protocol == YmodemG)
        turns << blocks[0] + blocks[1];
    else
        turns << blocks[0] << blocks[1];
    turns << eot;
    if (ymodem)
        turns << frame128(0, QByteArray());

    Harness h;
    h.start(true, protocol);
    QByteArray replies = h.takeOut();
    for (const QByteArray &turn : turns) {
        for (qsizetype pos = 0, len = 0; pos < turn.size(); pos += len) {
            len = split == 0 ? turn.size() - pos : split == 1 ? 1 : 1 + rng.bounded(int(turn.size() - pos));
            h.feed(turn.mid(pos, len));
        }
        replies += h.takeOut();
    }
    QVERIFY2(h.last.done, qPrintable(h.last.message));
    QCOMPARE(h.sink.data, ymodem ? file : file.leftJustified(2048, XmodemCodec::Sub));
    QCOMPARE(h.sink.writes, 2);
    QCOMPARE(replies, protocol == XmodemCrc ? QByteArray("C\x06\x06\x06")
                      : protocol == Ymodem  ? QByteArray("C\x06" "C\x06\x06\x06" "C\x06")
                                            : QByteArray("G\x06" "G\x06" "G\x06"));
}

QTEST_APPLESS_MAIN(TestXmodemCodec)
#include "tst_xmodemcodec.moc"
