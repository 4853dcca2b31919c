// Scripted exchanges with one engine: frames, start requests, timeouts and failures.
#include "memoryxfer.h"

#include "transfer/xmodemcodec.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray frame128(quint8 block, const QByteArray &payload, bool crc)
{
    return XmodemCodec::buildFrame(block, payload.leftJustified(128, XmodemCodec::Sub), crc);
}

// Drives one engine with its output written at once and a virtual clock.
struct Harness
{
    XmodemCodec codec;
    MemorySource source;
    MemorySink sink;
    qint64 now = 0;
    qint32 timeout = -1;
    QByteArray out;  // everything written so far
    XferAction last;

    XferAction take(const XferAction &a)
    {
        last = a;
        out += a.bytes;
        timeout = a.timeoutMs;
        if (!a.bytes.isEmpty() && !a.ended()) {
            // Bytes always come with timeout -1; the timer is armed once written.
            Q_ASSERT(a.timeoutMs == -1);
            return take(codec.onDrained(now));
        }
        return a;
    }
    XferAction start(bool receive, XferProtocol p, const QString &name = QStringLiteral("f.bin"))
    {
        codec.init(receive, p);
        if (receive)
            codec.setSink(&sink);
        else
            codec.setSource(&source);
        XferFileInfo info;
        info.name = name;
        info.size = source.size();
        return take(codec.start(info, now));
    }
    XferAction feed(const QByteArray &bytes) { return take(codec.feed(bytes, now)); }
    // Jumps the clock to the running timer and fires it.
    XferAction expire()
    {
        Q_ASSERT(timeout >= 0);
        now += timeout;
        return take(codec.onTimer(now));
    }
    QByteArray takeOut()
    {
        const QByteArray o = out;
        out.clear();
        return o;
    }
};

} // namespace

class TestXmodemCodec : public QObject
{
    Q_OBJECT

private slots:
    void crcAndChecksum();
    void protocolNames();
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
    void emptyHeaderEndsBatch();
    void onlyALoneEotEndsTheFile();
    void senderEndOfBatchMissing();
    void cancelAndAfterEnd();
    void progress();
    void receiverParsesAnySplit_data();
    void receiverParsesAnySplit();
};

void TestXmodemCodec::crcAndChecksum()
{
    QCOMPARE(XmodemCodec::crc16("123456789", 9), quint16(0x31c3));
    QCOMPARE(XmodemCodec::crc16("", 0), quint16(0));
    QCOMPARE(XmodemCodec::checksum8("\xff\x02\x10", 3), quint8(0x11));
    const QByteArray f = XmodemCodec::buildFrame(3, QByteArray(128, 'A'), true);
    QCOMPARE(f.size(), 133);
    QCOMPARE(f.left(3), QByteArray("\x01\x03\xfc"));
    const QByteArray g = XmodemCodec::buildFrame(255, QByteArray(1024, '\0'), false);
    QCOMPARE(g.size(), 1028);
    QCOMPARE(g.left(3), QByteArray("\x02\xff\x00", 3));
    QCOMPARE(g.back(), '\0');
    QCOMPARE(XmodemCodec::abortSequence(), QByteArray(8, '\x18') + QByteArray(8, '\x08'));
}

void TestXmodemCodec::protocolNames()
{
    QCOMPARE(xferProtocolName(Xmodem), QStringLiteral("XMODEM"));
    QCOMPARE(xferProtocolName(XmodemCrc), QStringLiteral("XMODEM-CRC"));
    QCOMPARE(xferProtocolName(Xmodem1k), QStringLiteral("XMODEM-1K"));
    QCOMPARE(xferProtocolName(Ymodem), QStringLiteral("YMODEM"));
    QCOMPARE(xferProtocolName(YmodemG), QStringLiteral("YMODEM-G"));
}

void TestXmodemCodec::firstFrame_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<char>("request");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<int>("length");

    QTest::newRow("XMODEM, NAK: checksum 128") << int(Xmodem) << 1024 << 2000 << '\x15' << QByteArray("\x01\x01\xfe") << 132;
    QTest::newRow("XMODEM asked for C follows the receiver") << int(Xmodem) << 1024 << 2000 << 'C' << QByteArray("\x01\x01\xfe") << 133;
    QTest::newRow("XMODEM-CRC, C") << int(XmodemCrc) << 1024 << 2000 << 'C' << QByteArray("\x01\x01\xfe") << 133;
    QTest::newRow("XMODEM-CRC asked with NAK drops to checksum") << int(XmodemCrc) << 1024 << 2000 << '\x15' << QByteArray("\x01\x01\xfe") << 132;
    QTest::newRow("XMODEM-1K, C: STX") << int(Xmodem1k) << 1024 << 2000 << 'C' << QByteArray("\x02\x01\xfe") << 1029;
    QTest::newRow("XMODEM-1K exactly 1024") << int(Xmodem1k) << 1024 << 1024 << 'C' << QByteArray("\x02\x01\xfe") << 1029;
    QTest::newRow("XMODEM-1K 129 bytes still STX") << int(Xmodem1k) << 1024 << 129 << 'C' << QByteArray("\x02\x01\xfe") << 1029;
    QTest::newRow("XMODEM-1K 128 bytes left: SOH") << int(Xmodem1k) << 1024 << 128 << 'C' << QByteArray("\x01\x01\xfe") << 133;
    QTest::newRow("XMODEM-1K block option 128") << int(Xmodem1k) << 128 << 2000 << 'C' << QByteArray("\x01\x01\xfe") << 133;
    QTest::newRow("XMODEM 0 bytes: EOT at once") << int(Xmodem) << 1024 << 0 << '\x15' << QByteArray("\x04") << 1;
    QTest::newRow("YMODEM: header first") << int(Ymodem) << 1024 << 2000 << 'C' << QByteArray("\x01\x00\xff" "f.bin\0" "2000\0", 14) << 133;
    QTest::newRow("YMODEM-G: header first") << int(YmodemG) << 1024 << 5 << 'G' << QByteArray("\x01\x00\xff" "f.bin\0" "5\0", 11) << 133;
}

void TestXmodemCodec::firstFrame()
{
    QFETCH(int, protocol);
    QFETCH(int, blockSize);
    QFETCH(int, fileSize);
    QFETCH(char, request);
    QFETCH(QByteArray, prefix);
    QFETCH(int, length);

    XmodemCodec codec;
    codec.init(false, XferProtocol(protocol), blockSize);
    MemorySource source(QByteArray(fileSize, 'z'));
    codec.setSource(&source);
    XferFileInfo info{QStringLiteral("f.bin"), fileSize, 0};
    QCOMPARE(codec.start(info, 0).timeoutMs, 60000);
    // Noise before the request is ignored; repeated requests are not answered twice.
    const XferAction a = codec.feed(QByteArray("xy") + request + request, 100);
    QCOMPARE(a.bytes.size(), length);
    QVERIFY(a.bytes.startsWith(prefix));
    QCOMPARE(a.timeoutMs, -1);
    if (length > 4 && prefix.size() == 3) {
        const int payload = length > 1000 ? 1024 : 128;
        const QByteArray body = a.bytes.mid(3, payload);
        QCOMPARE(body, QByteArray(std::min(payload, fileSize), 'z').leftJustified(payload, XmodemCodec::Sub));
        if (length == payload + 5) {
            const quint16 crc = XmodemCodec::crc16(body.constData(), payload);
            QCOMPARE(quint8(a.bytes.at(payload + 3)), quint8(crc >> 8));
            QCOMPARE(quint8(a.bytes.at(payload + 4)), quint8(crc));
        } else {
            QCOMPARE(quint8(a.bytes.at(payload + 3)), XmodemCodec::checksum8(body.constData(), payload));
        }
    }
    // Output pending: the second request waits, and after draining it is not answered.
    const XferAction d = codec.onDrained(150);
    QVERIFY(d.bytes.isEmpty());
    QCOMPARE(d.timeoutMs, 10000);
}

void TestXmodemCodec::header_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("mtime");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("name size time") << QStringLiteral("a.bin") << qint64(1025) << qint64(012345) << QByteArray("a.bin\0" "1025 12345\0", 17);
    QTest::newRow("no time") << QStringLiteral("a.bin") << qint64(0) << qint64(0) << QByteArray("a.bin\0" "0\0", 8);
    QTest::newRow("unknown size written as 0") << QStringLiteral("x") << qint64(-1) << qint64(0) << QByteArray("x\0" "0\0", 4);
    QTest::newRow("utf-8 name") << QStringLiteral("ü") << qint64(7) << qint64(8) << QByteArray("\xc3\xbc\0" "7 10\0", 8);
    QTest::newRow("long name cut to 100 bytes") << QString(150, QLatin1Char('n')) << qint64(1) << qint64(0)
                                                << QByteArray(100, 'n') + QByteArray("\0" "1\0", 3);
    // 'ü' is two bytes: 99 'n' + half a character would be invalid UTF-8.
    QTest::newRow("cut keeps characters whole") << QString(99, QLatin1Char('n')) + QStringLiteral("üü") << qint64(1) << qint64(0)
                                                << QByteArray(99, 'n') + QByteArray("\0" "1\0", 3);
}

void TestXmodemCodec::header()
{
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QFETCH(qint64, mtime);
    QFETCH(QByteArray, expected);
    const QByteArray h = XmodemCodec::buildHeader(XferFileInfo{name, size, mtime});
    QCOMPARE(h.size(), 128);
    QCOMPARE(h.left(expected.size()), expected);
    QCOMPARE(h.mid(expected.size()), QByteArray(128 - expected.size(), '\0'));
}

void TestXmodemCodec::receiverStartRequests_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<QList<qint64>>("times");

    const QByteArray crcThenNak = QByteArray("CCCCCC") + QByteArray(5, '\x15');
    QTest::newRow("XMODEM-CRC falls back to checksum")
        << int(XmodemCrc) << crcThenNak << QList<qint64>{0, 3000, 6000, 9000, 12000, 15000, 18000, 28000, 38000, 48000, 58000};
    QTest::newRow("XMODEM NAK every 10 s") << int(Xmodem) << QByteArray(6, '\x15')
                                           << QList<qint64>{0, 10000, 20000, 30000, 40000, 50000};
    QTest::newRow("YMODEM keeps asking C") << int(Ymodem) << QByteArray(20, 'C') << QList<qint64>{};
    QTest::newRow("YMODEM-G keeps asking G") << int(YmodemG) << QByteArray(20, 'G') << QList<qint64>{};
}

void TestXmodemCodec::receiverStartRequests()
{
    QFETCH(int, protocol);
    QFETCH(QByteArray, requests);
    QFETCH(QList<qint64>, times);

    Harness h;
    h.start(true, XferProtocol(protocol));
    QList<qint64> seen{h.now};
    while (!h.last.ended()) {
        h.expire();
        if (!h.last.ended())
            seen.append(h.now);
    }
    QCOMPARE(h.takeOut(), requests);
    if (!times.isEmpty())
        QCOMPARE(seen, times);
    QVERIFY(h.now >= 60000);
    QVERIFY(h.last.failed);
    QCOMPARE(h.last.errorCode, qint32(XferAction::NotStarted));
    QCOMPARE(h.last.message,
             QStringLiteral("The device did not start sending. Check that it is ready to send and that the baud rate matches."));
    QVERIFY(h.last.bytes.isEmpty());
}

void TestXmodemCodec::senderWaitsOneMinute()
{
    Harness h;
    h.source = MemorySource("abc");
    h.start(false, Xmodem1k);
    QCOMPARE(h.timeout, 60000);
    h.now = 59999;
    h.take(h.codec.onTimer(h.now));
    QVERIFY(!h.last.ended());
    QCOMPARE(h.timeout, 1);
    h.expire();
    QVERIFY(h.last.failed);
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
    const XferAction first = c.feed("C", 10);
    QCOMPARE(first.bytes.size(), 133);
    // Not written yet: an ACK waits, and no amount of time counts as a timeout.
    QVERIFY(c.feed(QByteArray(1, XmodemCodec::Ack), 20).bytes.isEmpty());
    QVERIFY(c.onTimer(500000).bytes.isEmpty());
    QCOMPARE(c.progress().bytesDone, qint64(0));
    const XferAction second = c.onDrained(600000);
    QCOMPARE(second.bytes.size(), 133);
    QCOMPARE(quint8(second.bytes.at(1)), quint8(2));
    QCOMPARE(c.progress().bytesDone, qint64(128));
    QCOMPARE(c.onDrained(600010).timeoutMs, 10000);
    QCOMPARE(c.onTimer(605010).timeoutMs, 5000);
    const XferAction resent = c.onTimer(610010);
    QCOMPARE(resent.bytes, second.bytes);
}

void TestXmodemCodec::senderRetriesThenGivesUp()
{
    Harness h;
    h.source = MemorySource(QByteArray(500, 'r'));
    h.start(false, Xmodem);
    h.feed(QByteArray(1, XmodemCodec::Nak));
    const QByteArray block = h.takeOut();
    QCOMPARE(block.size(), 132);
    for (int i = 1; i <= 10; ++i) {
        if (i % 2) {
            h.feed(QByteArray(1, XmodemCodec::Nak));
            QCOMPARE(h.takeOut(), block);
        } else {
            h.expire();
            QCOMPARE(h.takeOut(), block);
            // The receiver's NAK crossed our resend: answering it would send the block twice.
            h.feed(QByteArray(1, XmodemCodec::Nak));
            QVERIFY(h.takeOut().isEmpty());
        }
        QCOMPARE(h.codec.progress().totalRetries, i);
    }
    h.feed(QByteArray(1, XmodemCodec::Nak));
    QVERIFY(h.last.failed);
    QCOMPARE(h.last.errorCode, qint32(XferAction::RetriesExhausted));
    QCOMPARE(h.last.message, QStringLiteral("Gave up after 10 retries."));
    QCOMPARE(h.last.bytes, XmodemCodec::abortSequence());
    // An ACK resets the per-block count: ten more failures are allowed for the next block.
    Harness g;
    g.source = MemorySource(QByteArray(500, 'r'));
    g.start(false, Xmodem);
    g.feed(QByteArray(1, XmodemCodec::Nak));
    for (int i = 0; i < 10; ++i)
        g.feed(QByteArray(1, XmodemCodec::Nak));
    g.feed(QByteArray(1, XmodemCodec::Ack));
    for (int i = 0; i < 10; ++i)
        g.feed(QByteArray(1, XmodemCodec::Nak));
    QVERIFY(!g.last.ended());
    QCOMPARE(g.codec.progress().totalRetries, 20);
}

void TestXmodemCodec::receiverNaksBadFramesThenGivesUp_data()
{
    QTest::addColumn<QByteArray>("damage");  // which byte of the frame is flipped
    QTest::newRow("wrong complement") << QByteArray("complement");
    QTest::newRow("wrong crc") << QByteArray("check");
    QTest::newRow("wrong payload") << QByteArray("payload");
}

void TestXmodemCodec::receiverNaksBadFramesThenGivesUp()
{
    QFETCH(QByteArray, damage);
    Harness h;
    h.start(true, XmodemCrc);
    h.takeOut();
    QByteArray bad = frame128(1, "data", true);
    const int at = damage == "complement" ? 2 : damage == "check" ? 132 : 50;
    bad[at] = char(bad.at(at) ^ 0x40);
    for (int i = 1; i <= 10; ++i) {
        h.feed(bad);
        QCOMPARE(h.takeOut(), QByteArray(1, XmodemCodec::Nak));
    }
    QCOMPARE(h.sink.writes, 0);
    h.feed(bad);
    QVERIFY(h.last.failed);
    QCOMPARE(h.last.errorCode, qint32(XferAction::RetriesExhausted));
    QCOMPARE(h.last.message, QStringLiteral("Data kept failing its checksum. This is usually a baud rate mismatch or line noise."));
    QCOMPARE(h.last.bytes, XmodemCodec::abortSequence());
}

void TestXmodemCodec::receiverTimeouts_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("afterData");
    QTest::addColumn<char>("retry");
    QTest::newRow("XMODEM-CRC before data asks C") << int(XmodemCrc) << false << 'C';
    QTest::newRow("XMODEM-CRC after data NAKs") << int(XmodemCrc) << true << '\x15';
    QTest::newRow("YMODEM after header asks C") << int(Ymodem) << false << 'C';
    QTest::newRow("YMODEM after data NAKs") << int(Ymodem) << true << '\x15';
}

void TestXmodemCodec::receiverTimeouts()
{
    QFETCH(int, protocol);
    QFETCH(bool, afterData);
    QFETCH(char, retry);
    Harness h;
    const XferProtocol p = XferProtocol(protocol);
    h.start(true, p);
    if (p == Ymodem)
        h.feed(frame128(0, QByteArray("f\0" "300", 6), true));
    if (afterData) {
        h.feed(frame128(1, "x", true));
    } else if (p == XmodemCrc) {
        // A damaged first frame: no data yet, so the timeout asks again with 'C'.
        QByteArray bad = frame128(1, "x", true);
        bad[40] = 'Z';
        h.feed(bad);
    }
    h.takeOut();
    // A partial frame before the silence is thrown away, so the resent block parses.
    h.feed(QByteArray("\x01\x02\xfd" "abc"));
    // The damaged frame already used one of the ten tries.
    const int tries = afterData || p != XmodemCrc ? 10 : 9;
    for (int i = 1; i <= tries; ++i) {
        QCOMPARE(h.timeout, 10000);
        h.expire();
        QCOMPARE(h.takeOut(), QByteArray(1, retry));
    }
    h.expire();
    QVERIFY(h.last.failed);
    QCOMPARE(h.last.message, QStringLiteral("Gave up after 10 retries."));
    QCOMPARE(h.last.bytes, XmodemCodec::abortSequence());
}

void TestXmodemCodec::failures_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("abort");

    QTest::newRow("sink cannot open (XMODEM)") << QByteArray("xopen") << 10 << QStringLiteral("Could not create the destination file.") << false;
    QTest::newRow("sink cannot open (YMODEM header)") << QByteArray("yopen") << 10 << QStringLiteral("Could not create the destination file.") << true;
    QTest::newRow("sink write fails") << QByteArray("write") << 11 << QStringLiteral("Writing to disk failed.") << true;
    QTest::newRow("sink finish fails") << QByteArray("finish") << 12 << QStringLiteral("The data was received but could not be saved.") << false;
    QTest::newRow("XMODEM over the cap") << QByteArray("xcap") << 14
        << QStringLiteral("Received 256 bytes without an end of transfer. XMODEM has no length field, so there is no way to tell when it should stop.") << true;
    QTest::newRow("YMODEM offer over the cap") << QByteArray("ycap") << 14
        << QStringLiteral("The device offered a 5000 byte file, which is over the receive limit.") << true;
    QTest::newRow("block out of step") << QByteArray("step") << 16
        << QStringLiteral("Block 3 arrived when block 2 was expected; the transfer is out of step.") << true;
    QTest::newRow("header without NUL") << QByteArray("header") << 16 << QStringLiteral("The device sent a malformed file header.") << true;
    QTest::newRow("source read fails") << QByteArray("read") << 8 << QStringLiteral("Could not read the file being sent.") << true;
    QTest::newRow("source changed") << QByteArray("changed") << 9 << QStringLiteral("The file changed while it was being sent.") << true;
    QTest::newRow("YMODEM-G bad frame") << QByteArray("gframe") << 2
        << QStringLiteral("A block failed its checksum. YMODEM-G cannot ask for it again, so the transfer has failed.") << true;
    QTest::newRow("YMODEM-G receiver silence") << QByteArray("gsilence") << 2
        << QStringLiteral("The device stopped sending. YMODEM-G cannot recover, so the transfer has failed.") << true;
    QTest::newRow("YMODEM-G sender NAK") << QByteArray("gnak") << 2
        << QStringLiteral("The device reported an error. YMODEM-G cannot resend a block, so the transfer has been abandoned.") << true;
    QTest::newRow("YMODEM-G sender silence") << QByteArray("gtimeout") << 2
        << QStringLiteral("The device stopped responding. YMODEM-G has no retransmission, so the transfer has failed.") << true;
    QTest::newRow("YMODEM-G noise then EOT") << QByteArray("gnoise") << 2
        << QStringLiteral("A block failed its checksum. YMODEM-G cannot ask for it again, so the transfer has failed.") << true;
}

void TestXmodemCodec::failures()
{
    QFETCH(QByteArray, scenario);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(bool, abort);

    Harness h;
    const QByteArray header = frame128(0, QByteArray("f\0" "5000", 7), true);
    if (scenario == "xopen") {
        h.sink.failOpen = true;
        h.start(true, Xmodem);
    } else if (scenario == "yopen") {
        h.sink.failOpen = true;
        h.start(true, Ymodem);
        h.feed(header);
    } else if (scenario == "write") {
        h.sink.failWrite = true;
        h.start(true, XmodemCrc);
        h.feed(frame128(1, "a", true));
    } else if (scenario == "finish") {
        h.sink.failFinish = true;
        h.start(true, XmodemCrc);
        h.feed(frame128(1, "a", true));
        h.feed(QByteArray(1, XmodemCodec::Eot));
    } else if (scenario == "xcap") {
        h.start(true, XmodemCrc);
        h.codec.setReceiveCap(200);
        h.feed(frame128(1, "a", true));
        h.feed(frame128(2, "b", true));
    } else if (scenario == "ycap") {
        h.start(true, Ymodem);
        h.codec.setReceiveCap(4999);
        h.feed(header);
    } else if (scenario == "step") {
        h.start(true, XmodemCrc);
        h.feed(frame128(1, "a", true));
        h.feed(frame128(3, "c", true));
    } else if (scenario == "header") {
        h.start(true, Ymodem);
        h.feed(frame128(0, QByteArray(128, 'n'), true));
    } else if (scenario == "read") {
        h.source = MemorySource("abc");
        h.source.failReads = true;
        h.start(false, XmodemCrc);
        h.feed("C");
    } else if (scenario == "changed") {
        h.source = MemorySource("abc");
        h.start(false, XmodemCrc);
        h.feed("C");
        h.source.changed = true;
        h.feed(QByteArray(1, XmodemCodec::Ack));
    } else if (scenario == "gframe") {
        h.start(true, YmodemG);
        h.feed(header);
        QByteArray bad = XmodemCodec::buildFrame(1, QByteArray(1024, 'd'), true);
        bad[700] = 'e';
        h.feed(bad);
    } else if (scenario == "gsilence") {
        h.start(true, YmodemG);
        h.feed(header);
        h.expire();
    } else if (scenario == "gnak" || scenario == "gtimeout") {
        h.source = MemorySource(QByteArray(5000, 's'));
        h.start(false, YmodemG);
        h.codec.feed("G", h.now);
        h.codec.onDrained(h.now);
        h.codec.feed("\x06G", h.now);  // header ACK + G: the stream starts
        if (scenario == "gnak") {
            h.feed(QByteArray(1, XmodemCodec::Nak));
            h.take(h.codec.onDrained(h.now));
        } else {
            // Four blocks and the EOT stream out, then the receiver goes quiet.
            for (int i = 0; i < 5; ++i)
                h.codec.onDrained(h.now);
            QCOMPARE(h.codec.progress().bytesDone, qint64(5000));
            h.take(h.codec.onDrained(h.now));
            h.expire();
        }
    } else if (scenario == "gnoise") {
        h.start(true, YmodemG);
        h.feed(header);
        h.feed(XmodemCodec::buildFrame(1, QByteArray(1024, 'd'), true));
        h.feed(QByteArray("\x99\x04"));
    }
    QVERIFY(h.last.failed);
    QCOMPARE(h.last.errorCode, code);
    QCOMPARE(h.last.message, message);
    QCOMPARE(h.last.bytes, abort ? XmodemCodec::abortSequence() : QByteArray());
    QCOMPARE(h.codec.state(), XmodemCodec::Failed);
    // After the end every call is empty.
    for (const XferAction &a : {h.codec.feed("\x01\x18\x18", 1), h.codec.onTimer(999999), h.codec.onDrained(1),
                                h.codec.cancel(2)}) {
        QVERIFY(a.bytes.isEmpty() && !a.ended());
        QCOMPARE(a.timeoutMs, -1);
    }
}

void TestXmodemCodec::receivedHeaderFields_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("mtime");

    QTest::newRow("lrzsz style") << QByteArray("log.txt\0" "1234 14565623410 100644 0 1 1234", 41)
                                 << QStringLiteral("log.txt") << qint64(1234) << qint64(014565623410);
    QTest::newRow("size only") << QByteArray("a\0" "77", 4) << QStringLiteral("a") << qint64(77) << qint64(0);
    QTest::newRow("extra spaces") << QByteArray("a\0" "  12   17  ", 13) << QStringLiteral("a") << qint64(12) << qint64(15);
    QTest::newRow("no size field") << QByteArray("a\0\0", 3) << QStringLiteral("a") << qint64(-1) << qint64(0);
    QTest::newRow("garbage size") << QByteArray("a\0" "12x 9", 7) << QStringLiteral("a") << qint64(-1) << qint64(0);
    QTest::newRow("negative size, zero time") << QByteArray("a\0" "-5 0", 6) << QStringLiteral("a") << qint64(-1) << qint64(0);
    QTest::newRow("name with folders is passed on") << QByteArray("../../etc/x\0" "1", 13) << QStringLiteral("../../etc/x") << qint64(1) << qint64(0);
}

void TestXmodemCodec::receivedHeaderFields()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QFETCH(qint64, mtime);
    Harness h;
    h.start(true, Ymodem, QStringLiteral("default.bin"));
    h.takeOut();
    h.feed(frame128(0, payload.leftJustified(128, '\0'), true));
    QCOMPARE(h.takeOut(), QByteArray("\x06" "C"));
    QCOMPARE(h.sink.info.name, name);
    QCOMPARE(h.sink.info.size, size);
    QCOMPARE(h.sink.info.mtime, mtime);
    // The receiver trims the last block to the size in the header.
    h.feed(frame128(1, QByteArray(128, 'k'), true));
    QCOMPARE(h.sink.data.size(), size >= 0 ? std::min<qint64>(size, 128) : 128);
}

void TestXmodemCodec::emptyHeaderEndsBatch()
{
    Harness h;
    h.start(true, Ymodem);
    h.takeOut();
    h.feed(frame128(0, QByteArray(128, '\0'), true));
    QVERIFY(h.last.done);
    QCOMPARE(h.last.bytes, QByteArray(1, XmodemCodec::Ack));
    QCOMPARE(h.sink.opens, 0);
}

void TestXmodemCodec::onlyALoneEotEndsTheFile()
{
    // A 0x04 out of a garbled frame must not end the file: only an EOT with nothing
    // around it counts. The timeout's NAK brings the real one again.
    Harness h;
    h.start(true, XmodemCrc);
    h.feed(frame128(1, "abc", true));
    h.takeOut();
    h.feed(QByteArray("\x33\x04"));
    h.feed(QByteArray("\x04\x77"));
    h.feed(QByteArray(1, XmodemCodec::Eot));
    QCOMPARE(h.takeOut(), QByteArray());
    QVERIFY(!h.sink.finished);
    h.expire();
    QCOMPARE(h.takeOut(), QByteArray(1, XmodemCodec::Nak));
    h.feed(QByteArray(1, XmodemCodec::Eot));
    QVERIFY(h.last.done);
    QCOMPARE(h.takeOut(), QByteArray(1, XmodemCodec::Ack));
    QCOMPARE(h.sink.finishedWith, qint64(-1));
    QCOMPARE(h.sink.data, QByteArray("abc").leftJustified(128, XmodemCodec::Sub));

    // YMODEM: a repeated EOT after the file was saved is answered again.
    Harness y;
    y.start(true, Ymodem);
    y.feed(frame128(0, QByteArray("f\0" "3", 4), true));
    y.feed(frame128(1, "abc", true));
    y.feed(QByteArray(1, XmodemCodec::Eot));
    y.takeOut();
    y.feed(QByteArray(1, XmodemCodec::Eot));
    QCOMPARE(y.takeOut(), QByteArray("\x06" "C"));
    y.feed(frame128(0, QByteArray(128, '\0'), true));
    QVERIFY(y.last.done);
    QCOMPARE(y.sink.data, QByteArray("abc"));
}

void TestXmodemCodec::senderEndOfBatchMissing()
{
    Harness h;
    h.source = MemorySource("hello");
    h.start(false, Ymodem);
    h.feed("C");
    QVERIFY(h.takeOut().mid(3).startsWith(QByteArray("f.bin\0" "5\0", 8)));
    h.feed("\x06" "C");
    QCOMPARE(h.takeOut().mid(3, 5), QByteArray("hello"));
    h.feed(QByteArray(1, XmodemCodec::Ack));
    QCOMPARE(h.takeOut(), QByteArray(1, XmodemCodec::Eot));
    // Some receivers NAK the first EOT.
    h.feed(QByteArray(1, XmodemCodec::Nak));
    QCOMPARE(h.takeOut(), QByteArray(1, XmodemCodec::Eot));
    h.feed(QByteArray(1, XmodemCodec::Ack));
    QCOMPARE(h.codec.state(), XmodemCodec::SendEotAcked);
    QCOMPARE(h.timeout, 10000);
    h.expire();
    QVERIFY(h.last.done);
    QVERIFY(h.out.isEmpty());
}

void TestXmodemCodec::cancelAndAfterEnd()
{
    Harness h;
    h.start(true, Xmodem1k);
    const XferAction a = h.codec.cancel(5);
    QVERIFY(a.failed);
    QCOMPARE(a.errorCode, qint32(XferAction::LocalCancelled));
    QCOMPARE(a.message, QStringLiteral("Cancelled."));
    QCOMPARE(a.bytes, XmodemCodec::abortSequence());
    QCOMPARE(a.timeoutMs, -1);
    QVERIFY(h.codec.cancel(6).bytes.isEmpty());
    QVERIFY(!h.codec.cancel(6).failed);
}

void TestXmodemCodec::progress()
{
    Harness h;
    h.source = MemorySource(QByteArray(3000, 'p'));
    h.start(false, Ymodem, QStringLiteral("p.bin"));
    h.feed("C");
    h.feed("\x06" "C");
    h.feed(QByteArray(1, XmodemCodec::Ack));
    XferProgress p = h.codec.progress();
    QCOMPARE(p.bytesDone, qint64(1024));
    QCOMPARE(p.bytesTotal, qint64(3000));
    QCOMPARE(p.blockNumber, 2);
    QCOMPARE(p.fileName, QStringLiteral("p.bin"));

    Harness r;
    r.start(true, XmodemCrc);
    QCOMPARE(r.codec.progress().blockNumber, 0);
    QCOMPARE(r.codec.progress().bytesTotal, qint64(-1));
    r.feed(frame128(1, "x", true));
    QCOMPARE(r.codec.progress().bytesDone, qint64(128));
    QCOMPARE(r.codec.progress().blockNumber, 1);
}

void TestXmodemCodec::receiverParsesAnySplit_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("split");  // 0 whole, 1 byte by byte, 2 random points
    QTest::addColumn<quint32>("seed");
    for (int p : {int(XmodemCrc), int(Ymodem), int(YmodemG)}) {
        const QByteArray name = xferProtocolName(XferProtocol(p)).toLatin1();
        QTest::addRow("%s/whole", name.constData()) << p << 0 << 0u;
        QTest::addRow("%s/byte by byte", name.constData()) << p << 1 << 0u;
        for (quint32 seed = 1; seed <= 5; ++seed)
            QTest::addRow("%s/random/seed%u", name.constData(), seed) << p << 2 << seed;
    }
}

void TestXmodemCodec::receiverParsesAnySplit()
{
    QFETCH(int, protocol);
    QFETCH(int, split);
    QFETCH(quint32, seed);
    const XferProtocol p = XferProtocol(protocol);
    const bool ymodem = p != XmodemCrc;
    QRandomGenerator rng(seed);
    QByteArray file(2000, Qt::Uninitialized);
    for (char &c : file)
        c = char(rng.bounded(256));

    // What the sender puts on the line in one go before it waits for an answer. A
    // streaming sender does not wait between blocks, so there they form one turn.
    QList<QByteArray> turns;
    if (ymodem)
        turns << XmodemCodec::buildFrame(0, XmodemCodec::buildHeader(XferFileInfo{QStringLiteral("s.bin"), 2000, 0}), true);
    const QByteArray blocks[] = {XmodemCodec::buildFrame(1, file.left(1024), true),
                                 XmodemCodec::buildFrame(2, file.mid(1024).leftJustified(1024, XmodemCodec::Sub), true)};
    if (p == YmodemG)
        turns << blocks[0] + blocks[1];
    else
        turns << blocks[0] << blocks[1];
    turns << QByteArray(1, XmodemCodec::Eot);
    if (ymodem)
        turns << XmodemCodec::buildFrame(0, QByteArray(128, '\0'), true);

    Harness h;
    h.start(true, p);
    QByteArray replies = h.takeOut();
    for (const QByteArray &turn : turns) {
        qsizetype pos = 0;
        while (pos < turn.size()) {
            qsizetype len = turn.size() - pos;
            if (split == 1)
                len = 1;
            else if (split == 2)
                len = 1 + rng.bounded(int(len));
            h.feed(turn.mid(pos, len));
            pos += len;
        }
        replies += h.takeOut();
    }

    QVERIFY2(h.last.done, qPrintable(h.last.message));
    QCOMPARE(h.sink.data, ymodem ? file : file.leftJustified(2048, XmodemCodec::Sub));
    QCOMPARE(h.sink.writes, 2);
    const QByteArray expected = p == XmodemCrc ? QByteArray("C\x06\x06\x06")
                              : p == Ymodem    ? QByteArray("C\x06" "C\x06\x06\x06" "C\x06")
                                               : QByteArray("G\x06" "G\x06" "G\x06");
    QCOMPARE(replies, expected);
}

QTEST_APPLESS_MAIN(TestXmodemCodec)
#include "tst_xmodemcodec.moc"
