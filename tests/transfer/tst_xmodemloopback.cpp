// Our sender against our receiver over a simulated line with faults.
#include "simulatedline.h"
#include "tests/support/memoryxfer.h"

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
    for (char &c : data)
        c = char(rng.bounded(256));
    return data;
}

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
    XferFileInfo sentInfo{QStringLiteral("firmware.bin"), data.size(), 1700000000};

    Pair(XferProtocol p, int block, const QByteArray &bytes) : protocol(p), blockSize(block), data(bytes)
    {
        sender.init(false, protocol, blockSize);
        sender.setSource(&source);
        receiver.init(true, protocol, blockSize);
        receiver.setSink(&sink);
    }
    void run(SimulatedLine &line) { line.run(sender, sentInfo, receiver, XferFileInfo{QStringLiteral("received.bin"), -1, 0}); }
    // The receiver has the file once, exactly: YMODEM knows the size; XMODEM pads with
    // SUB to whole blocks, where XMODEM-1K sends a short tail as one 128-byte block.
    bool receivedExactly() const
    {
        const bool big = protocol != Xmodem && protocol != XmodemCrc && blockSize != 128;
        QByteArray expected = data;
        int blocks = 0;
        for (qint64 rest = data.size(), block = 0; rest > 0; rest -= block, ++blocks) {
            block = big && rest > 128 ? 1024 : 128;
            if (protocol != Ymodem && protocol != YmodemG)
                expected.append(QByteArray(qMax<qint64>(0, block - rest), XmodemCodec::Sub));
        }
        return sink.data == expected && sink.writes == blocks && sink.finished;
    }
};

const XferProtocol allProtocols[] = {Xmodem, XmodemCrc, Xmodem1k, Ymodem, YmodemG};

} // namespace

class TestXmodemLoopback : public QObject
{
    Q_OBJECT

private slots:
    void transfer_data();
    void transfer();
    void repairsFaults_data();
    void repairsFaults();
    void tamperedLine_data();
    void tamperedLine();
    void localCancelReachesTheOtherSide_data();
    void localCancelReachesTheOtherSide();
    void blockNumberWrapsAndHeaderArrives();
};

void TestXmodemLoopback::transfer_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<int>("size");
    QTest::addColumn<SimulatedLine::Faults>("faults");
    QTest::addColumn<quint32>("seed");
    const SimulatedLine::Faults clean{0, 0, 0, 0};
    const SimulatedLine::Faults delay{0, 0, 0, 40};
    for (XferProtocol p : allProtocols) {
        const QByteArray name = xferProtocolName(p).toLatin1();
        for (int size : {0, 1, 128, 1024, 1025, 5000}) {
            QTest::addRow("%s/%d/clean", name.constData(), size) << p << 1024 << size << clean << 1u;
            QTest::addRow("%s/%d/delay", name.constData(), size) << p << 1024 << size << delay << 2u;
        }
        if (p != Xmodem && p != XmodemCrc)
            QTest::addRow("%s/3000/block128", name.constData()) << p << 128 << 3000 << SimulatedLine::Faults{0, 0, 0, 20} << 3u;
        // Faults everywhere, replies included: a clean failure is acceptable, a wrong file is not.
        for (quint32 seed = 21; seed <= 26; ++seed)
            QTest::addRow("%s/everything/seed%u", name.constData(), seed) << p << 1024 << 20000 << SimulatedLine::Faults{0.05, 0.05, 0.02, 30} << seed;
    }
}

void TestXmodemLoopback::transfer()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(int, blockSize);
    QFETCH(int, size);
    QFETCH(SimulatedLine::Faults, faults);
    QFETCH(quint32, seed);
    Pair pair(protocol, blockSize, randomBytes(size, seed * 7919u + quint32(size)));
    SimulatedLine line(seed);
    line.setFaults(SenderSide, faults);
    line.setFaults(ReceiverSide, faults);
    pair.run(line);
    const SimulatedLine::Side &tx = line.side(SenderSide);
    const SimulatedLine::Side &rx = line.side(ReceiverSide);
    QVERIFY2(tx.ended && rx.ended, "both sides must end on their own");
    // Whatever the line did, a receiver that reports success has exactly the file.
    if (rx.end.done)
        QVERIFY(pair.receivedExactly());
    // A duplicated frame is ACKed twice and puts the sender one ACK ahead; XMODEM has
    // no way to notice, so only then may the sender finish alone.
    if (tx.end.done && faults.duplicate == 0)
        QVERIFY2(rx.end.done, "the sender cannot finish unless the receiver has the file");
    if (faults.drop + faults.corrupt + faults.duplicate == 0) {
        QVERIFY2(tx.end.done && rx.end.done, qPrintable(tx.end.message + rx.end.message));
        QCOMPARE(pair.sender.progress().totalRetries + pair.receiver.progress().totalRetries, 0);
        QCOMPARE(pair.sender.progress().bytesDone, qint64(size));
    }
    const QList<qint32> allowed{XferAction::RetriesExhausted, XferAction::RemoteCancelled, XferAction::OutOfStep};
    for (const SimulatedLine::Side *s : {&tx, &rx})
        QVERIFY2(s->end.done || allowed.contains(s->end.errorCode), qPrintable(s->end.message));
}

void TestXmodemLoopback::repairsFaults_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<SimulatedLine::Faults>("faults");
    // Lost and damaged data is repaired by NAKs and timeouts; YMODEM-G has nothing to
    // repair with, so every damaged run must fail cleanly.
    for (XferProtocol p : allProtocols) {
        const QByteArray name = xferProtocolName(p).toLatin1();
        QTest::addRow("%s/drop", name.constData()) << p << SimulatedLine::Faults{0.15, 0, 0, 30};
        QTest::addRow("%s/corrupt", name.constData()) << p << SimulatedLine::Faults{0, 0.15, 0, 30};
    }
}

void TestXmodemLoopback::repairsFaults()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(SimulatedLine::Faults, faults);
    int repaired = 0;
    int retries = 0;
    for (quint32 seed = 100; seed < 120; ++seed) {
        Pair pair(protocol, 1024, randomBytes(20000, seed));
        SimulatedLine line(seed);
        // Faults on the data; the replies are only delayed.
        line.setFaults(SenderSide, faults);
        line.setFaults(ReceiverSide, SimulatedLine::Faults{0, 0, 0, 30});
        pair.run(line);
        const SimulatedLine::Side &rx = line.side(ReceiverSide);
        QVERIFY(rx.ended && line.side(SenderSide).ended);
        if (rx.end.done)
            QVERIFY2(pair.receivedExactly(), qPrintable(QString::number(seed)));
        else
            QVERIFY2(rx.end.errorCode == XferAction::RetriesExhausted || rx.end.errorCode == XferAction::RemoteCancelled, qPrintable(rx.end.message));
        QVERIFY2(!line.side(SenderSide).end.done || rx.end.done, qPrintable(QString::number(seed)));
        repaired += rx.end.done;
        retries += pair.receiver.progress().totalRetries + pair.sender.progress().totalRetries;
    }
    qInfo("%d of 20 runs repaired, %d retries in all", repaired, retries);
    QVERIFY(protocol == YmodemG || repaired == 20);
    QVERIFY(protocol == YmodemG || retries > 0);
}

void TestXmodemLoopback::tamperedLine_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<int>("side");      // whose write is changed
    QTest::addColumn<QByteArray>("match"); // the write to change, or empty for any
    QTest::addColumn<int>("index");     // which of the matching writes
    QTest::addColumn<QByteArray>("change"); // "drop", "double", "garble" (and lose the NAK), or bytes to add
    QTest::addColumn<int>("senderEnd"); // -1 done, or the error code
    QTest::addColumn<int>("receiverEnd");
    const int done = -1;
    const int retries = XferAction::RetriesExhausted;
    const int cancelled = XferAction::RemoteCancelled;
    const QByteArray any;
    // A duplicated block is written once.
    QTest::newRow("XMODEM first block doubled") << Xmodem << 1024 << SenderSide << any << 0 << QByteArray("double") << done << done;
    QTest::newRow("XMODEM-CRC middle block doubled") << XmodemCrc << 1024 << SenderSide << any << 4 << QByteArray("double") << done << done;
    QTest::newRow("XMODEM-1K last block doubled") << Xmodem1k << 1024 << SenderSide << any << 9 << QByteArray("double") << done << done;
    QTest::newRow("YMODEM header doubled") << Ymodem << 1024 << SenderSide << any << 0 << QByteArray("double") << done << done;
    QTest::newRow("YMODEM-G data block doubled") << YmodemG << 1024 << SenderSide << any << 3 << QByteArray("double") << done << done;
    // A lost reply is repaired by the timeouts, except where nothing follows it.
    QTest::newRow("XMODEM first ACK lost") << Xmodem << 128 << ReceiverSide << QByteArray("\x06") << 0 << QByteArray("drop") << done << done;
    QTest::newRow("XMODEM-CRC start request lost") << XmodemCrc << 128 << ReceiverSide << QByteArray("C") << 0 << QByteArray("drop") << done << done;
    QTest::newRow("XMODEM-1K block garbled, its NAK lost") << Xmodem1k << 128 << SenderSide << any << 1 << QByteArray("garble") << done << done;
    // The receiver is finished once it acknowledged the EOT; nothing can repair that loss.
    QTest::newRow("XMODEM ACK of the EOT lost") << Xmodem << 128 << ReceiverSide << QByteArray("\x06") << 11 << QByteArray("drop") << retries << done;
    QTest::newRow("YMODEM header ACK+C lost") << Ymodem << 128 << ReceiverSide << QByteArray("\x06" "C") << 0 << QByteArray("drop") << done << done;
    // The receiver waits 10 s after the file, as long as the sender waits before
    // repeating the EOT: it is done before the repeat arrives, and the sender gives up.
    QTest::newRow("YMODEM EOT ACK+C lost") << Ymodem << 128 << ReceiverSide << QByteArray("\x06" "C") << 1 << QByteArray("drop") << retries << done;
    QTest::newRow("YMODEM third data ACK lost") << Ymodem << 128 << ReceiverSide << QByteArray("\x06") << 2 << QByteArray("drop") << done << done;
    // YMODEM-G cannot wait out a silence: the sender fails, the receiver still has the file.
    QTest::newRow("YMODEM-G EOT ACK+G lost") << YmodemG << 128 << ReceiverSide << QByteArray("\x06" "G") << 1 << QByteArray("drop") << retries << done;
    // Two CANs in a row cancel; a CAN with anything else between is line noise. The
    // bytes ride behind the third write, so they never split a frame.
    QTest::newRow("receiver gets CAN CAN") << Xmodem1k << 1024 << SenderSide << any << 2 << QByteArray("\x18\x18") << retries << cancelled;
    QTest::newRow("receiver gets CAN noise") << Xmodem1k << 1024 << SenderSide << any << 2 << QByteArray("\x18x") << done << done;
    QTest::newRow("receiver gets CAN noise CAN") << Xmodem1k << 1024 << SenderSide << any << 2 << QByteArray("\x18x\x18") << done << done;
    QTest::newRow("sender gets CAN CAN") << Xmodem1k << 1024 << ReceiverSide << any << 2 << QByteArray("\x18\x18") << cancelled << retries;
    QTest::newRow("sender gets CAN noise") << Xmodem1k << 1024 << ReceiverSide << any << 2 << QByteArray("\x18x") << done << done;
    QTest::newRow("sender gets CAN ACK CAN") << Xmodem1k << 1024 << ReceiverSide << QByteArray("\x06") << 2 << QByteArray("\x18\x06\x18") << done << done;
}

void TestXmodemLoopback::tamperedLine()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(int, blockSize);
    QFETCH(int, side);
    QFETCH(QByteArray, match);
    QFETCH(int, index);
    QFETCH(QByteArray, change);
    QFETCH(int, senderEnd);
    QFETCH(int, receiverEnd);
    Pair pair(protocol, blockSize, randomBytes(blockSize == 128 ? 10 * 128 + 5 : 10 * 1024 - 3, 9));
    SimulatedLine line(2);
    int seen = 0;
    bool changed = false;
    bool loseNak = false;
    line.setTamper([&](int from, QByteArray &bytes, int) {
        if (loseNak && from == ReceiverSide && bytes == QByteArray(1, XmodemCodec::Nak)) {
            loseNak = false;
            return false;
        }
        if (from != side || changed || !(match.isEmpty() || bytes == match) || seen++ < index)
            return true;
        changed = true;
        if (change == "drop")
            return false;
        if (change == "garble") {
            bytes[bytes.size() / 2] = char(bytes.at(bytes.size() / 2) ^ 0x10);
            loseNak = true;
        } else if (change == "double")
            bytes += bytes;
        else
            bytes = (match.isEmpty() ? bytes : QByteArray()) + change; // an ACK in the change stands in for the real one
        return true;
    });
    pair.run(line);
    QVERIFY(changed);
    const SimulatedLine::Side &tx = line.side(SenderSide);
    const SimulatedLine::Side &rx = line.side(ReceiverSide);
    QCOMPARE(tx.end.done ? -1 : tx.end.errorCode, senderEnd);
    QCOMPARE(rx.end.done ? -1 : rx.end.errorCode, receiverEnd);
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

void TestXmodemLoopback::localCancelReachesTheOtherSide_data()
{
    QTest::addColumn<XferProtocol>("protocol");
    QTest::addColumn<int>("cancelling");
    QTest::newRow("XMODEM sender cancels") << Xmodem << SenderSide;
    QTest::newRow("XMODEM receiver cancels") << Xmodem << ReceiverSide;
    QTest::newRow("YMODEM-G sender cancels") << YmodemG << SenderSide;
    QTest::newRow("YMODEM-G receiver cancels") << YmodemG << ReceiverSide;
}

void TestXmodemLoopback::localCancelReachesTheOtherSide()
{
    QFETCH(XferProtocol, protocol);
    QFETCH(int, cancelling);
    Pair pair(protocol, 1024, randomBytes(200000, 4));
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

void TestXmodemLoopback::blockNumberWrapsAndHeaderArrives()
{
    Pair wrap(XmodemCrc, 128, randomBytes(300 * 128 + 7, 6));
    SimulatedLine line(5);
    wrap.run(line);
    QVERIFY(line.side(ReceiverSide).end.done && wrap.receivedExactly());
    QList<int> numbers;
    for (const QByteArray &w : line.side(SenderSide).writes) {
        if (w.size() == 133)
            numbers.append(quint8(w.at(1)));
    }
    QCOMPARE(numbers.size(), 301);
    QCOMPARE(numbers.mid(254, 3), (QList<int>{255, 0, 1}));
    QCOMPARE(numbers.last(), 301 % 256);

    Pair y(Ymodem, 1024, randomBytes(3000, 8));
    y.sentInfo.name = QStringLiteral("Prüfdaten v2.bin");
    SimulatedLine yline(6);
    y.run(yline);
    QVERIFY(yline.side(ReceiverSide).end.done);
    QCOMPARE(y.sink.info.name, QStringLiteral("Prüfdaten v2.bin"));
    QCOMPARE(y.sink.info.size, qint64(3000));
    QCOMPARE(y.sink.info.mtime, qint64(1700000000));
    QCOMPARE(y.sink.finishedWith, qint64(3000));
    QCOMPARE(y.receiver.progress().bytesTotal, qint64(3000));
    QCOMPARE(y.receiver.progress().fileName, QStringLiteral("Prüfdaten v2.bin"));
}

QTEST_APPLESS_MAIN(TestXmodemLoopback)
#include "tst_xmodemloopback.moc"
