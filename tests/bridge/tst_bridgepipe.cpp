#include "bridge/bridgeconfig.h"
#include "bridge/bridgepipe.h"
#include "bridge/turnarbiter.h"

#include <QTest>

using Frames = QList<QByteArray>;

// The engines of one bridge direction on a virtual clock: framing, the queue's
// overflow policies, pumping into a destination that takes little, the source hold,
// the flood guard and turn-taking.
class tst_BridgePipe : public QObject
{
    Q_OBJECT
private slots:
    void framing_data();
    void framing();
    void overflow_data();
    void overflow();
    void floodGuard_data();
    void floodGuard();
    void turns();

private:
    // Writes everything the pipe offers into `out`, `room` bytes per call at most.
    static void drain(BridgePipe &pipe, QByteArray &out, qint64 room = 1 << 30)
    {
        while (auto w = pipe.nextWrite({true, 0})) {
            const qint64 n = qMin<qint64>(room, w->bytes.size());
            out += w->bytes.left(n);
            pipe.written(n);
        }
    }
};

void tst_BridgePipe::framing_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("delimiter");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<QByteArray>("rest"); // released by the timer
    QTest::addColumn<int>("due");         // ms after the input that the rest is due

    QTest::newRow("immediately, chopped") << 0 << QByteArray() << 3 << QByteArray("abcdefg")
                                          << Frames{"abc", "def", "g"} << QByteArray() << -1;
    QTest::newRow("idle gap, pieces of the largest size")
        << 1 << QByteArray() << 4 << QByteArray("abcdefghij") << Frames{"abcd", "efgh"} << QByteArray("ij") << 4;
    QTest::newRow("line feed") << 2 << QByteArray("\n") << 4096 << QByteArray("ab\ncd\n\nef")
                               << Frames{"ab\n", "cd\n", "\n"} << QByteArray("ef") << 200;
    QTest::newRow("CR LF") << 2 << QByteArray("\r\n") << 4096 << QByteArray("one\r\ntwo\r\r\nthr\r")
                           << Frames{"one\r\n", "two\r\r\n"} << QByteArray("thr\r") << 200;
    QTest::newRow("delimiter after the largest size")
        << 2 << QByteArray("\r\n") << 4 << QByteArray("abcdefgh\r\nij") << Frames{"abcd", "efgh", "\r\n"}
        << QByteArray("ij") << 200;
    QTest::newRow("fixed length") << 3 << QByteArray() << 4 << QByteArray("0123456789") << Frames{"0123", "4567"}
                                  << QByteArray("89") << 200;
}

void tst_BridgePipe::framing()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, delimiter);
    QFETCH(int, maxBytes);
    QFETCH(QByteArray, input);
    QFETCH(Frames, frames);
    QFETCH(QByteArray, rest);
    QFETCH(int, due);
    BridgeConfig c;
    c.FramingMode = mode;
    c.FramingDelimiterHex = delimiter;
    c.FramingFixedLength = 4;
    c.FramingMaxBytes = maxBytes;
    // Whole and byte by byte (mode 0 frames each input by itself, so only whole).
    for (const bool byByte : {false, true}) {
        if (byByte && mode == 0)
            continue;
        BridgeFramer framer;
        framer.configure(BridgeFramer::settingsFrom(c.normalised()));
        Frames got;
        for (qsizetype i = 0; i < input.size(); i += byByte ? 1 : input.size())
            got += framer.push(input.mid(i, byByte ? 1 : input.size()), 1000);
        QCOMPARE(got, frames);
        QCOMPARE(framer.nextDeadline(1000), qint64(due));
        if (due < 0)
            continue;
        QVERIFY(framer.onTimer(1000 + due - 1).isEmpty());
        QCOMPARE(framer.onTimer(1000 + due), Frames{rest});
        QVERIFY(framer.isEmpty());
    }
}

void tst_BridgePipe::overflow_data()
{
    QTest::addColumn<int>("policy");
    QTest::addColumn<Frames>("input");
    QTest::addColumn<QByteArray>("delivered");
    QTest::addColumn<qint64>("droppedBytes");
    QTest::addColumn<qint64>("droppedFrames");
    QTest::addColumn<bool>("suspended");

    const Frames four{"aaaa", "bbbb", "cccc", "dddd"};
    QTest::newRow("drop oldest") << 0 << four << QByteArray("ccccdddd") << qint64(8) << qint64(2) << false;
    QTest::newRow("drop oldest, frame above the limit")
        << 0 << Frames{"aaaa", "bbbbbbbbbbbb"} << QByteArray("bbbbbbbbbbbb") << qint64(4) << qint64(1) << false;
    QTest::newRow("drop newest") << 1 << four << QByteArray("aaaabbbb") << qint64(8) << qint64(2) << false;
    QTest::newRow("stop: overflow, then suspended input")
        << 3 << four << QByteArray("aaaabbbb") << qint64(8) << qint64(2) << true;
}

void tst_BridgePipe::overflow()
{
    QFETCH(int, policy);
    QFETCH(Frames, input);
    QFETCH(QByteArray, delivered);
    QFETCH(qint64, droppedBytes);
    QFETCH(qint64, droppedFrames);
    QFETCH(bool, suspended);
    BridgeConfig c;
    c.QueueLimitBytes = 10;
    c.HighWatermark = 8;
    c.LowWatermark = 2;
    c.OverflowPolicy = policy;
    c.FramingMaxBytes = 64;
    BridgePipe pipe;
    pipe.configure(c.normalised());
    qint64 now = 0;
    for (const QByteArray &frame : input) {
        pipe.ingest(frame, QString(), now += 10);
        // Closed, or holding as much as it may: either way nothing is written.
        QVERIFY(!pipe.nextWrite({now % 20 == 0, c.SinkPendingLimitBytes}));
    }
    pipe.written(0); // a refused write keeps the bytes
    QCOMPARE(pipe.counters().failedWrites, qint64(1));
    QCOMPARE(pipe.nextDeadline(now), suspended ? qint64(-1) : BridgePipe::RetryMs);
    // A suspended pipe lets its source go.
    QCOMPARE(pipe.updateHold(now), suspended ? BridgePipe::Hold::Keep : BridgePipe::Hold::Hold);
    QCOMPARE(pipe.suspendReason(), suspended ? QStringLiteral("Egress queue overflowed") : QString());
    QCOMPARE(pipe.counters().bytesDropped, droppedBytes);
    QCOMPARE(pipe.counters().framesDropped, droppedFrames);
    pipe.resume();
    QByteArray out;
    drain(pipe, out, 3); // in partial writes
    QCOMPARE(out, delivered);
    QCOMPARE(pipe.counters().bytesForwarded, qint64(delivered.size()));
    if (suspended)
        return;
    QCOMPARE(pipe.updateHold(now + 25), BridgePipe::Hold::Release);
    QCOMPARE(pipe.counters().heldMs, qint64(25));
}

void tst_BridgePipe::floodGuard_data()
{
    QTest::addColumn<int>("bytesPer100Ms");
    QTest::addColumn<bool>("destinationTakes");
    QTest::addColumn<int>("inputUntil"); // ms
    QTest::addColumn<bool>("trips");

    QTest::newRow("fast and piling up") << 2000 << false << 1000 << true;
    // A loop that jammed its own destination sends nothing more; the timer judges the window.
    QTest::newRow("fast, then jammed") << 2000 << false << 500 << true;
    QTest::newRow("fast but taken") << 2000 << true << 1000 << false;
    QTest::newRow("slow and piling up") << 100 << false << 1000 << false;
}

void tst_BridgePipe::floodGuard()
{
    QFETCH(int, bytesPer100Ms);
    QFETCH(bool, destinationTakes);
    QFETCH(int, inputUntil);
    QFETCH(bool, trips);
    BridgeConfig c;
    c.FloodRateBytesPerSec = 10000;
    c.FloodWindowMs = 1000;
    c.QueueLimitBytes = 1 << 20;
    c.HighWatermark = 1 << 20;
    BridgePipe pipe;
    pipe.configure(c.normalised());
    QByteArray sink;
    for (qint64 now = 0; now <= inputUntil; now += 100) {
        pipe.ingest(QByteArray(bytesPer100Ms, 'x'), QString(), now);
        if (destinationTakes)
            drain(pipe, sink);
    }
    pipe.onTimer(1000);
    QCOMPARE(pipe.isSuspended(), trips);
    if (!trips)
        return;
    QCOMPARE(pipe.suspendReason(), QStringLiteral("Flood guard tripped (possible cable loop)"));
    QCOMPARE(pipe.nextDeadline(1000), qint64(-1));
    const qint64 dropped = pipe.counters().framesDropped;
    pipe.ingest("more", QString(), 1100);
    QCOMPARE(pipe.counters().framesDropped, dropped + 1);
    pipe.resume();
    pipe.ingest("again", QString(), 1200);
    QVERIFY(!pipe.isSuspended());
}

void tst_BridgePipe::turns()
{
    BridgeConfig c;
    c.FramingMode = BridgeConfig::CutOnDelimiter;
    TurnArbiter arbiter;
    arbiter.configure({BridgeFramer::settingsFrom(c.normalised()), 100, 4});
    arbiter.request("r1\nr2", QStringLiteral("p1"), 0);
    arbiter.request("s1\n", QStringLiteral("p2"), 0);
    arbiter.request("\nr3\nr4\n", QStringLiteral("p1"), 0); // r4 finds the waiting list full
    QCOMPARE(arbiter.waiting(), 4);
    QCOMPARE(arbiter.dropped(), qint64(1));

    auto request = arbiter.next(10);
    QCOMPARE(request->bytes, QByteArray("r1\n"));
    QVERIFY(!arbiter.next(10)); // p1 owns the device
    QCOMPARE(arbiter.answer(50), QStringLiteral("p1"));
    QCOMPARE(arbiter.nextDeadline(50), qint64(100)); // each answer extends the turn
    arbiter.answerComplete();
    QCOMPARE(arbiter.unanswered(), qint64(0));

    QCOMPARE(arbiter.next(60)->peer, QStringLiteral("p2"));
    arbiter.onTimer(160); // no answer within the response time
    QCOMPARE(arbiter.unanswered(), qint64(1));
    QCOMPARE(arbiter.answer(170), QString()); // a late answer has no owner

    QCOMPARE(arbiter.next(180)->bytes, QByteArray("r2\n"));
    arbiter.peerLost(QStringLiteral("p1")); // its turn and its waiting r3 go
    QCOMPARE(arbiter.waiting(), 0);
    QCOMPARE(arbiter.dropped(), qint64(2));
    QCOMPARE(arbiter.owner(), QString());
    QCOMPARE(arbiter.nextDeadline(200), qint64(-1));
}

QTEST_APPLESS_MAIN(tst_BridgePipe)
#include "tst_bridgepipe.moc"
