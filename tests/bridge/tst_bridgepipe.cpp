#include "bridge/bridgeconfig.h"
#include "bridge/bridgepipe.h"

#include <QTest>


using Frames = QList<QByteArray>;

// The engines of one bridge direction on a virtual clock: framing, the queue's
// overflow policies, pumping into a destination that takes little, the source hold,
// and the flood guard.
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

private:
    // Writes everything the pipe offers into `out`, `room` bytes per call at most.
    static void drain(BridgePipe &pipe, QByteArray &out, qint64 room = 1 << 30)
    {
        while (auto w = pipe.nextWrite({true, 0})) {
            out += w->bytes.left(room);
            pipe.written(qMin<qint64>(room, w->bytes.size()));
        }
    }
};

void tst_BridgePipe::framing_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("delimiter");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Frames>("frames"); // before the timer; it releases the rest

    QTest::newRow("immediately") << 0 << QByteArray() << 3 << QByteArray("abcdefg") << Frames{"abc", "def", "g"};
    QTest::newRow("idle gap") << 1 << QByteArray() << 4 << QByteArray("abcdefghij") << Frames{"abcd", "efgh"};
    QTest::newRow("line feed") << 2 << QByteArray("\n") << 99 << QByteArray("a\nc\n\ne") << Frames{"a\n", "c\n", "\n"};
    QTest::newRow("CR LF") << 2 << QByteArray("\r\n") << 99 << QByteArray("one\r\ntwo\r\r\nthr\r")
                           << Frames{"one\r\n", "two\r\r\n"};
    QTest::newRow("delimiter beyond the largest size")
        << 2 << QByteArray("\r\n") << 4 << QByteArray("abcdefgh\r\nij") << Frames{"abcd", "efgh", "\r\n"};
    QTest::newRow("fixed length") << 3 << QByteArray() << 4 << QByteArray("0123456789") << Frames{"0123", "4567"};
}

void tst_BridgePipe::framing()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, delimiter);
    QFETCH(int, maxBytes);
    QFETCH(QByteArray, input);
    QFETCH(Frames, frames);
    const BridgeConfig c =
        BridgeConfig{.FramingMode = mode, .FramingDelimiterHex = delimiter, .FramingFixedLength = 4, .FramingMaxBytes = maxBytes}
            .normalised();
    const QByteArray rest = input.mid(frames.join().size());
    // The idle gap comes before the longest hold.
    const qint64 due = mode == 0 ? -1 : mode == 1 ? c.FramingIdleGapMs : c.FramingMaxHoldMs;
    // Whole and byte by byte (mode 0 frames each input by itself, so only whole).
    for (const qsizetype step : {input.size(), mode == 0 ? input.size() : 1}) {
        BridgeFramer framer;
        framer.configure(BridgeFramer::settingsFrom(c));
        Frames got;
        for (qsizetype i = 0; i < input.size(); i += step)
            got += framer.push(input.mid(i, step), 1000);
        QCOMPARE(got, frames);
        QCOMPARE(framer.nextDeadline(1000), due);
        if (due < 0)
            continue;
        QVERIFY(framer.onTimer(1000 + due - 1).isEmpty());
        QCOMPARE(framer.onTimer(1000 + due), Frames{rest});
    }
}

void tst_BridgePipe::overflow_data()
{
    QTest::addColumn<int>("policy");
    QTest::addColumn<Frames>("input");
    QTest::addColumn<QByteArray>("delivered");
    QTest::addColumn<qint64>("droppedFrames");

    const Frames four{"aaaa", "bbbb", "cccc", "dddd"};
    QTest::newRow("drop oldest") << 0 << four << QByteArray("ccccdddd") << qint64(2);
    QTest::newRow("drop oldest, frame above the limit")
        << 0 << Frames{"aaaa", "bbbbbbbbbbbb"} << QByteArray("bbbbbbbbbbbb") << qint64(1);
    QTest::newRow("drop newest") << 1 << four << QByteArray("aaaabbbb") << qint64(2);
    QTest::newRow("stop: overflow, then suspended input") << 3 << four << QByteArray("aaaabbbb") << qint64(2);
}

void tst_BridgePipe::overflow()
{
    QFETCH(int, policy);
    QFETCH(Frames, input);
    QFETCH(QByteArray, delivered);
    QFETCH(qint64, droppedFrames);
    const BridgeConfig c =
        BridgeConfig{.QueueLimitBytes = 10, .HighWatermark = 8, .LowWatermark = 2, .OverflowPolicy = policy}.normalised();
    BridgePipe pipe;
    pipe.configure(c);
    qint64 now = 0;
    for (const QByteArray &frame : input) {
        pipe.ingest(frame, QString(), now += 10);
        // Closed, or holding as much as it may: either way nothing is written.
        QVERIFY(!pipe.nextWrite({now % 20 == 0, c.SinkPendingLimitBytes}));
    }
    pipe.written(0); // a refused write keeps the bytes
    QCOMPARE(pipe.counters().failedWrites, qint64(1));
    const bool stopped = policy == BridgeConfig::StopBridge;
    QCOMPARE(pipe.suspendReason(), stopped ? QStringLiteral("Egress queue overflowed") : QString());
    QCOMPARE(pipe.nextDeadline(now), stopped ? qint64(-1) : BridgePipe::RetryMs);
    // A suspended pipe lets its source go.
    QCOMPARE(pipe.updateHold(now), stopped ? BridgePipe::Hold::Keep : BridgePipe::Hold::Hold);
    QCOMPARE(pipe.counters().bytesDropped, input.join().size() - delivered.size());
    QCOMPARE(pipe.counters().framesDropped, droppedFrames);
    pipe.resume();
    QByteArray out;
    drain(pipe, out, 3); // in partial writes
    QCOMPARE(out, delivered);
    QCOMPARE(pipe.counters().bytesForwarded, qint64(delivered.size()));
    QCOMPARE(pipe.updateHold(now + 25), stopped ? BridgePipe::Hold::Keep : BridgePipe::Hold::Release);
    QCOMPARE(pipe.counters().heldMs, stopped ? 0 : qint64(25));
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
    BridgePipe pipe;
    pipe.configure(BridgeConfig{.QueueLimitBytes = 1 << 20, .HighWatermark = 1 << 20, .FloodRateBytesPerSec = 10000,
                                .FloodWindowMs = 1000}
                       .normalised());
    QByteArray sink;
    for (qint64 now = 0; now <= inputUntil; now += 100) {
        pipe.ingest(QByteArray(bytesPer100Ms, 'x'), QString(), now);
        if (destinationTakes)
            drain(pipe, sink);
    }
    pipe.onTimer(1000);
    QCOMPARE(pipe.suspendReason(), trips ? QStringLiteral("Flood guard tripped (possible cable loop)") : QString());
    const qint64 dropped = pipe.counters().framesDropped;
    pipe.ingest("more", QString(), 1100);
    QCOMPARE(pipe.counters().framesDropped, dropped + trips); // suspended input is counted, not queued
    pipe.resume();
    pipe.ingest("again", QString(), 1200);
    QVERIFY(!pipe.isSuspended());
}

QTEST_APPLESS_MAIN(tst_BridgePipe)
#include "tst_bridgepipe.moc"
