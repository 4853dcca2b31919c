// Our sender against our receiver over a simulated line with faults.
#include "memoryxfer.h"
#include "simulatedline.h"

#include "transfer/xmodemcodec.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

constexpr int SenderSide = 0;
constexpr int ReceiverSide = 1;

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char(rng.bounded(256));
    return data;
}

// What an XMODEM receiver must end up with: the data padded with SUB to whole blocks,
// where XMODEM-1K sends a short tail as one 128-byte block.
QByteArray padded(const QByteArray &data, XferProtocol protocol, int blockSize)
{
    QByteArray out = data;
    const bool big = protocol != Xmodem && protocol != XmodemCrc && blockSize != 128;
    qint64 rest = data.size();
    qint64 total = 0;
    while (rest > 0) {
        const qint64 block = (big && rest > 128) ? 1024 : 128;
        total += block;
        rest -= std::min(rest, block);
    }
    out.append(QByteArray(total - data.size(), XmodemCodec::Sub));
    return out;
}

int dataBlocks(qint64 size, XferProtocol protocol, int blockSize)
{
    const bool big = protocol != Xmodem && protocol != XmodemCrc && blockSize != 128;
    int n = 0;
    for (qint64 rest = size; rest > 0; ++n)
        rest -= (big && rest > 128) ? 1024 : 128;
    return n;
}

bool isYmodem(XferProtocol p) { return p == Ymodem || p == YmodemG; }

struct Pair
{
    XmodemCodec sender;
    XmodemCodec receiver;
    MemorySource source;
    MemorySink sink;
    XferFileInfo sentInfo;

    Pair(XferProtocol protocol, int blockSize, const QByteArray &data) : source(data)
    {
        sender.init(false, protocol, blockSize);
        sender.setSource(&source);
        receiver.init(true, protocol, blockSize);
        receiver.setSink(&sink);
        sentInfo.name = QStringLiteral("firmware.bin");
        sentInfo.size = data.size();
        sentInfo.mtime = 1700000000;
    }
    void run(SimulatedLine &line)
    {
        XferFileInfo rx;
        rx.name = QStringLiteral("received.bin");
        line.run(sender, sentInfo, receiver, rx);
    }
};

enum Outcome { BothDone, ReceiverDone, MayFail };

} // namespace

class TestXmodemLoopback : public QObject
{
    Q_OBJECT

private slots:
    void transfer_data();
    void transfer();
    void repairsFaults_data();
    void repairsFaults();
    void duplicatedBlockIsWrittenOnce_data();
    void duplicatedBlockIsWrittenOnce();
    void lostRepliesRecover_data();
    void lostRepliesRecover();
    void cancelBytes_data();
    void cancelBytes();
    void localCancelReachesTheOtherSide_data();
    void localCancelReachesTheOtherSide();
    void blockNumberWraps();
    void headerCarriesNameSizeAndTime();
};

void TestXmodemLoopback::transfer_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<int>("size");
    QTest::addColumn<double>("drop");
    QTest::addColumn<double>("corrupt");
    QTest::addColumn<double>("duplicate");
    QTest::addColumn<int>("delay");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("outcome");

    const XferProtocol protocols[] = {Xmodem, XmodemCrc, Xmodem1k, Ymodem, YmodemG};
    const int sizes[] = {0, 1, 128, 1024, 1025, 5000};
    for (XferProtocol p : protocols) {
        const QByteArray name = xferProtocolName(p).toLatin1();
        for (int size : sizes) {
            QTest::addRow("%s/%d/clean", name.constData(), size) << int(p) << 1024 << size << 0.0 << 0.0 << 0.0 << 0 << 1u << int(BothDone);
            QTest::addRow("%s/%d/delay", name.constData(), size) << int(p) << 1024 << size << 0.0 << 0.0 << 0.0 << 40 << 2u << int(BothDone);
        }
        if (p != Xmodem && p != XmodemCrc)
            QTest::addRow("%s/3000/block128", name.constData()) << int(p) << 128 << 3000 << 0.0 << 0.0 << 0.0 << 20 << 3u << int(BothDone);
        // Faults everywhere, replies included: a clean failure is acceptable, a wrong file is not.
        for (quint32 seed = 21; seed <= 26; ++seed)
            QTest::addRow("%s/everything/seed%u", name.constData(), seed) << int(p) << 1024 << 20000 << 0.05 << 0.05 << 0.02 << 30 << seed << int(MayFail);
    }
}

void TestXmodemLoopback::transfer()
{
    QFETCH(int, protocol);
    QFETCH(int, blockSize);
    QFETCH(int, size);
    QFETCH(double, drop);
    QFETCH(double, corrupt);
    QFETCH(double, duplicate);
    QFETCH(int, delay);
    QFETCH(quint32, seed);
    QFETCH(int, outcome);

    const XferProtocol p = XferProtocol(protocol);
    const QByteArray data = randomBytes(size, seed * 7919u + quint32(size));
    Pair pair(p, blockSize, data);
    SimulatedLine line(seed);
    const SimulatedLine::Faults faults{drop, corrupt, duplicate, delay};
    line.setFaults(SenderSide, faults);
    line.setFaults(ReceiverSide, faults);
    pair.run(line);

    const SimulatedLine::Side &tx = line.side(SenderSide);
    const SimulatedLine::Side &rx = line.side(ReceiverSide);
    QVERIFY2(tx.ended && rx.ended, "both sides must end on their own");
    const QByteArray expected = isYmodem(p) ? data : padded(data, p, blockSize);

    // Whatever the line did, a receiver that reports success has exactly the file.
    if (rx.end.done) {
        QCOMPARE(pair.sink.data.size(), expected.size());
        QVERIFY(pair.sink.data == expected);
        QVERIFY(pair.sink.finished);
        QCOMPARE(pair.sink.writes, dataBlocks(size, p, blockSize));
    }
    // A duplicated frame is ACKed twice and puts the sender one ACK ahead; XMODEM has
    // no way to notice, so only then may the sender finish alone.
    if (tx.end.done && duplicate == 0)
        QVERIFY2(rx.end.done, "the sender cannot finish unless the receiver has the file");

    switch (Outcome(outcome)) {
    case BothDone:
        QVERIFY2(tx.end.done, qPrintable(tx.end.message));
        QVERIFY2(rx.end.done, qPrintable(rx.end.message));
        QCOMPARE(pair.sender.progress().totalRetries, 0);
        QCOMPARE(pair.receiver.progress().totalRetries, 0);
        QCOMPARE(pair.sender.progress().bytesDone, qint64(size));
        break;
    case ReceiverDone:
        QVERIFY2(rx.end.done, qPrintable(rx.end.message));
        // Only the last reply can be lost beyond repair, and then the sender gives up.
        if (!tx.end.done)
            QCOMPARE(tx.end.errorCode, qint32(XferAction::RetriesExhausted));
        break;
    case MayFail:
        for (const SimulatedLine::Side *s : {&tx, &rx}) {
            if (!s->end.done) {
                const QList<qint32> allowed{XferAction::RetriesExhausted, XferAction::RemoteCancelled, XferAction::OutOfStep};
                QVERIFY2(allowed.contains(s->end.errorCode), qPrintable(s->end.message));
            }
        }
        break;
    }
}

void TestXmodemLoopback::repairsFaults_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<double>("drop");
    QTest::addColumn<double>("corrupt");
    QTest::addColumn<double>("duplicate");
    QTest::addColumn<int>("minimumRepaired");  // of 20 seeds

    // Lost and damaged data is repaired by NAKs and timeouts.
    const XferProtocol protocols[] = {Xmodem, XmodemCrc, Xmodem1k, Ymodem};
    for (XferProtocol p : protocols) {
        const QByteArray name = xferProtocolName(p).toLatin1();
        QTest::addRow("%s/drop", name.constData()) << int(p) << 0.15 << 0.0 << 0.0 << 20;
        QTest::addRow("%s/corrupt", name.constData()) << int(p) << 0.0 << 0.15 << 0.0 << 20;
    }
    // YMODEM-G has nothing to repair with; every damaged run must fail cleanly.
    QTest::addRow("YMODEM-G/drop") << int(YmodemG) << 0.15 << 0.0 << 0.0 << 0;
    QTest::addRow("YMODEM-G/corrupt") << int(YmodemG) << 0.0 << 0.15 << 0.0 << 0;
}

void TestXmodemLoopback::repairsFaults()
{
    QFETCH(int, protocol);
    QFETCH(double, drop);
    QFETCH(double, corrupt);
    QFETCH(double, duplicate);
    QFETCH(int, minimumRepaired);
    const XferProtocol p = XferProtocol(protocol);
    int repaired = 0;
    int retries = 0;
    for (quint32 seed = 100; seed < 120; ++seed) {
        const QByteArray data = randomBytes(20000, seed);
        Pair pair(p, 1024, data);
        SimulatedLine line(seed);
        // Faults on the data; the replies are only delayed.
        line.setFaults(SenderSide, SimulatedLine::Faults{drop, corrupt, duplicate, 30});
        line.setFaults(ReceiverSide, SimulatedLine::Faults{0, 0, 0, 30});
        pair.run(line);
        const SimulatedLine::Side &rx = line.side(ReceiverSide);
        const SimulatedLine::Side &tx = line.side(SenderSide);
        QVERIFY(rx.ended && tx.ended);
        if (rx.end.done) {
            QVERIFY2(pair.sink.data == (isYmodem(p) ? data : padded(data, p, 1024)), qPrintable(QString::number(seed)));
            QCOMPARE(pair.sink.writes, dataBlocks(data.size(), p, 1024));
            ++repaired;
        } else {
            const QList<qint32> allowed{XferAction::RetriesExhausted, XferAction::RemoteCancelled};
            QVERIFY2(allowed.contains(rx.end.errorCode), qPrintable(rx.end.message));
        }
        if (tx.end.done)
            QVERIFY2(rx.end.done, qPrintable(QString::number(seed)));
        retries += pair.receiver.progress().totalRetries + pair.sender.progress().totalRetries;
    }
    qInfo("%d of 20 runs repaired, %d retries in all", repaired, retries);
    QVERIFY(repaired >= minimumRepaired);
    if (p != YmodemG)
        QVERIFY(retries > 0);
}

void TestXmodemLoopback::duplicatedBlockIsWrittenOnce_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("writeIndex");
    QTest::newRow("XMODEM first block") << int(Xmodem) << 0;
    QTest::newRow("XMODEM-CRC middle block") << int(XmodemCrc) << 4;
    QTest::newRow("XMODEM-1K last block") << int(Xmodem1k) << 9;
    QTest::newRow("YMODEM header") << int(Ymodem) << 0;
    QTest::newRow("YMODEM data block") << int(Ymodem) << 3;
    QTest::newRow("YMODEM-G data block") << int(YmodemG) << 3;
}

void TestXmodemLoopback::duplicatedBlockIsWrittenOnce()
{
    QFETCH(int, protocol);
    QFETCH(int, writeIndex);
    const XferProtocol p = XferProtocol(protocol);
    const QByteArray data = randomBytes(10 * 1024 - 3, 5);
    Pair pair(p, 1024, data);
    SimulatedLine line(1);
    line.setTamper([&](int side, QByteArray &bytes, int index) {
        if (side == SenderSide && index == writeIndex)
            bytes += bytes;
        return true;
    });
    pair.run(line);

    QVERIFY2(line.side(ReceiverSide).end.done, qPrintable(line.side(ReceiverSide).end.message));
    QVERIFY2(line.side(SenderSide).end.done, qPrintable(line.side(SenderSide).end.message));
    QVERIFY(pair.sink.data == (isYmodem(p) ? data : padded(data, p, 1024)));
    QCOMPARE(pair.sink.writes, dataBlocks(data.size(), p, 1024));
    QCOMPARE(pair.sink.opens, 1);
}

void TestXmodemLoopback::lostRepliesRecover_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QByteArray>("lost");  // the receiver's reply that goes missing
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<bool>("senderDone");
    QTest::addColumn<int>("damagedWrite");  // a sender write to garble, -1: none

    QTest::newRow("XMODEM first ACK") << int(Xmodem) << QByteArray("\x06") << 0 << true << -1;
    QTest::newRow("XMODEM-CRC fifth ACK") << int(XmodemCrc) << QByteArray("\x06") << 4 << true << -1;
    QTest::newRow("XMODEM-1K NAK of a damaged block") << int(Xmodem1k) << QByteArray("\x15") << 0 << true << 1;
    QTest::newRow("XMODEM-CRC start request") << int(XmodemCrc) << QByteArray("C") << 0 << true << -1;
    // The receiver is finished once it acknowledged the EOT; nothing can repair that loss.
    QTest::newRow("XMODEM ACK of the EOT") << int(Xmodem) << QByteArray("\x06") << 11 << false << -1;
    QTest::newRow("YMODEM header ACK+C") << int(Ymodem) << QByteArray("\x06" "C") << 0 << true << -1;
    // The receiver waits 10 s after the file, as long as the sender waits before repeating
    // the EOT: it is done before the repeat arrives, and the sender gives up.
    QTest::newRow("YMODEM EOT ACK+C") << int(Ymodem) << QByteArray("\x06" "C") << 1 << false << -1;
    QTest::newRow("YMODEM third data ACK") << int(Ymodem) << QByteArray("\x06") << 2 << true << -1;
    // YMODEM-G cannot wait out a silence: the sender fails, the receiver still has the file.
    QTest::newRow("YMODEM-G EOT ACK+G") << int(YmodemG) << QByteArray("\x06" "G") << 1 << false << -1;
}

void TestXmodemLoopback::lostRepliesRecover()
{
    QFETCH(int, protocol);
    QFETCH(QByteArray, lost);
    QFETCH(int, occurrence);
    QFETCH(bool, senderDone);
    QFETCH(int, damagedWrite);
    const XferProtocol p = XferProtocol(protocol);
    const QByteArray data = randomBytes(10 * 128 + 5, 9);
    Pair pair(p, 128, data);
    SimulatedLine line(2);
    int seen = 0;
    bool dropped = false;
    line.setTamper([&](int side, QByteArray &bytes, int index) {
        if (side == SenderSide && index == damagedWrite)
            bytes[bytes.size() / 2] = char(bytes.at(bytes.size() / 2) ^ 0x10);
        if (side != ReceiverSide || bytes != lost || dropped)
            return true;
        if (seen++ < occurrence)
            return true;
        dropped = true;
        return false;
    });
    pair.run(line);

    QVERIFY(dropped);
    QVERIFY2(line.side(ReceiverSide).end.done, qPrintable(line.side(ReceiverSide).end.message));
    QVERIFY(pair.sink.data == (isYmodem(p) ? data : padded(data, p, 128)));
    QCOMPARE(pair.sink.writes, dataBlocks(data.size(), p, 128));
    QCOMPARE(line.side(SenderSide).end.done, senderDone);
    if (!senderDone)
        QCOMPARE(line.side(SenderSide).end.errorCode, qint32(XferAction::RetriesExhausted));
}

void TestXmodemLoopback::cancelBytes_data()
{
    QTest::addColumn<int>("towards");
    QTest::addColumn<QByteArray>("extra");
    QTest::addColumn<bool>("cancels");
    QTest::newRow("receiver: CAN CAN") << ReceiverSide << QByteArray("\x18\x18") << true;
    QTest::newRow("receiver: CAN then noise") << ReceiverSide << QByteArray("\x18" "x") << false;
    QTest::newRow("receiver: CAN noise CAN") << ReceiverSide << QByteArray("\x18" "x" "\x18") << false;
    QTest::newRow("sender: CAN CAN") << SenderSide << QByteArray("\x18\x18") << true;
    QTest::newRow("sender: CAN then noise") << SenderSide << QByteArray("\x18" "x") << false;
    QTest::newRow("sender: CAN ACK CAN") << SenderSide << QByteArray("\x18\x06\x18") << false;
}

void TestXmodemLoopback::cancelBytes()
{
    QFETCH(int, towards);
    QFETCH(QByteArray, extra);
    QFETCH(bool, cancels);
    // The bytes ride behind the third write towards that side, so they never split a frame.
    const QByteArray data = randomBytes(8 * 1024, 3);
    const bool ackInExtra = extra.contains(XmodemCodec::Ack);
    Pair pair(Xmodem1k, 1024, data);
    SimulatedLine line(3);
    line.setTamper([&](int side, QByteArray &bytes, int index) {
        if (side == 1 - towards && index == 2) {
            // An ACK in the extra bytes stands in for the real one.
            if (ackInExtra)
                bytes.clear();
            bytes += extra;
        }
        return true;
    });
    pair.run(line);

    const SimulatedLine::Side &hit = line.side(towards);
    if (cancels) {
        QVERIFY(hit.end.failed);
        QCOMPARE(hit.end.errorCode, qint32(XferAction::RemoteCancelled));
        QCOMPARE(hit.end.message, QStringLiteral("The device cancelled the transfer."));
        QVERIFY(hit.end.bytes.isEmpty());
    } else {
        QVERIFY2(line.side(SenderSide).end.done, qPrintable(line.side(SenderSide).end.message));
        QVERIFY2(line.side(ReceiverSide).end.done, qPrintable(line.side(ReceiverSide).end.message));
        QVERIFY(pair.sink.data == padded(data, Xmodem1k, 1024));
    }
}

void TestXmodemLoopback::localCancelReachesTheOtherSide_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("cancelling");
    QTest::newRow("XMODEM sender cancels") << int(Xmodem) << SenderSide;
    QTest::newRow("XMODEM receiver cancels") << int(Xmodem) << ReceiverSide;
    QTest::newRow("YMODEM-G sender cancels") << int(YmodemG) << SenderSide;
    QTest::newRow("YMODEM-G receiver cancels") << int(YmodemG) << ReceiverSide;
}

void TestXmodemLoopback::localCancelReachesTheOtherSide()
{
    QFETCH(int, protocol);
    QFETCH(int, cancelling);
    Pair pair(XferProtocol(protocol), 1024, randomBytes(200000, 4));
    SimulatedLine line(4);
    line.cancelAt(cancelling, 2000);
    pair.run(line);

    const SimulatedLine::Side &here = line.side(cancelling);
    const SimulatedLine::Side &there = line.side(1 - cancelling);
    QCOMPARE(here.end.errorCode, qint32(XferAction::LocalCancelled));
    QCOMPARE(here.end.bytes, XmodemCodec::abortSequence());
    QCOMPARE(there.end.errorCode, qint32(XferAction::RemoteCancelled));
    // The other side notices within the time it takes the abort bytes to arrive.
    QVERIFY(there.endTime - here.endTime < 200);
}

void TestXmodemLoopback::blockNumberWraps()
{
    const QByteArray data = randomBytes(300 * 128 + 7, 6);
    Pair pair(XmodemCrc, 128, data);
    SimulatedLine line(5);
    pair.run(line);

    QVERIFY(line.side(ReceiverSide).end.done);
    QVERIFY(pair.sink.data == padded(data, XmodemCrc, 128));
    QList<int> numbers;
    for (const QByteArray &w : line.side(SenderSide).writes) {
        if (w.size() == 133)
            numbers.append(quint8(w.at(1)));
    }
    QCOMPARE(numbers.size(), 301);
    QCOMPARE(numbers.at(254), 255);
    QCOMPARE(numbers.at(255), 0);
    QCOMPARE(numbers.at(256), 1);
    QCOMPARE(numbers.last(), 301 % 256);
}

void TestXmodemLoopback::headerCarriesNameSizeAndTime()
{
    const QByteArray data = randomBytes(3000, 8);
    Pair pair(Ymodem, 1024, data);
    pair.sentInfo.name = QStringLiteral("Prüfdaten v2.bin");
    SimulatedLine line(6);
    pair.run(line);

    QVERIFY(line.side(ReceiverSide).end.done);
    QCOMPARE(pair.sink.info.name, QStringLiteral("Prüfdaten v2.bin"));
    QCOMPARE(pair.sink.info.size, qint64(3000));
    QCOMPARE(pair.sink.info.mtime, qint64(1700000000));
    QCOMPARE(pair.sink.finishedWith, qint64(3000));
    QCOMPARE(pair.receiver.progress().bytesTotal, qint64(3000));
    QCOMPARE(pair.receiver.progress().fileName, QStringLiteral("Prüfdaten v2.bin"));
}

QTEST_APPLESS_MAIN(TestXmodemLoopback)
#include "tst_xmodemloopback.moc"
