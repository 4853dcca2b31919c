#include "bridge/bridgeconfig.h"
#include "bridge/bridgepipe.h"
#include "bridge/modbusgateway.h"
#include "tests/bridge/bridgetest.h"

#include <QTest>

namespace {

// The slave's answer to a read of one register, holding value.
QByteArray rtuAnswer(quint8 unit, quint16 value, quint8 function = 0x03)
{
    const char pdu[] = {char(function), 2, char(value >> 8), char(value & 0xFF)};
    return ModbusGateway::rtuFrame(unit, QByteArray(pdu, 4));
}

} // namespace

using namespace BridgeTest;

using Frames = QList<QByteArray>;

// The bridge engines on a virtual clock. One direction: framing, the queue's overflow
// policies, pumping into a destination that takes little, the source hold, and the
// flood guard tripping on input (tst_bridgewire trips it on a real cable loop and keeps
// full-speed streams from tripping it). The Modbus gateway: MBAP headers at and beyond
// their limits, and the transaction matching, with requests split to single bytes
// (hostile clients and a client with 40 requests in flight are tests/gateway's, on real
// sockets).
class tst_BridgeEngines : public QObject
{
    Q_OBJECT
private slots:
    void framing_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("delimiter");
        QTest::addColumn<int>("maxBytes");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<Frames>("frames"); // before the timer; it releases the rest

        QTest::newRow("idle gap") << 1 << QByteArray() << 4 << QByteArray("abcdefghij") << Frames{"abcd", "efgh"};
        QTest::newRow("CR LF") << 2 << QByteArray("\r\n") << 99 << QByteArray("one\r\ntwo\r\r\nthr\r")
                               << Frames{"one\r\n", "two\r\r\n"};
        QTest::newRow("delimiter beyond the largest size")
            << 2 << QByteArray("\r\n") << 4 << QByteArray("abcdefgh\r\nij") << Frames{"abcd", "efgh", "\r\n"};
        QTest::newRow("fixed length") << 3 << QByteArray() << 4 << QByteArray("0123456789") << Frames{"0123", "4567"};
    }

    void framing()
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
        const qint64 due = mode == 1 ? c.FramingIdleGapMs : c.FramingMaxHoldMs;
        for (const qsizetype step : {input.size(), qsizetype(1)}) { // whole and byte by byte
            BridgeFramer framer;
            framer.configure(BridgeFramer::settingsFrom(c));
            Frames got;
            for (qsizetype i = 0; i < input.size(); i += step)
                got += framer.push(input.mid(i, step), 1000);
            QCOMPARE(got, frames);
            QCOMPARE(framer.nextDeadline(1000), due);
            QVERIFY(framer.onTimer(1000 + due - 1).isEmpty());
            QCOMPARE(framer.onTimer(1000 + due), Frames{rest});
        }
    }

    void overflow_data()
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

    void overflow()
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
        while (auto w = pipe.nextWrite({true, 0})) { // in partial writes
            out += w->bytes.left(3);
            pipe.written(qMin<qint64>(3, w->bytes.size()));
        }
        QCOMPARE(out, delivered);
        QCOMPARE(pipe.counters().bytesForwarded, qint64(delivered.size()));
        QCOMPARE(pipe.updateHold(now + 25), stopped ? BridgePipe::Hold::Keep : BridgePipe::Hold::Release);
        QCOMPARE(pipe.counters().heldMs, stopped ? 0 : qint64(25));
    }

    // Input piling up faster than the flood rate trips the guard as it arrives; from then
    // on input is counted as dropped, not queued, and the timer has nothing to do until
    // resume. (The cable-loop wire test trips it from the timer.)
    void floodGuard()
    {
        BridgePipe pipe;
        pipe.configure(BridgeConfig{.QueueLimitBytes = 1 << 20, .HighWatermark = 1 << 20, .FloodRateBytesPerSec = 10000,
                                    .FloodWindowMs = 1000}
                           .normalised());
        for (qint64 now = 0; !pipe.isSuspended() && now <= 2000; now += 100)
            pipe.ingest(QByteArray(2000, 'x'), QString(), now);
        QCOMPARE(pipe.suspendReason(), QStringLiteral("Flood guard tripped (possible cable loop)"));
        QCOMPARE(pipe.counters().framesDropped, qint64(1));
        pipe.ingest("more", QString(), 2100);
        QCOMPARE(pipe.onTimer(2100), 0);
        QCOMPARE(pipe.counters().framesDropped, qint64(2));
        pipe.resume();
        pipe.ingest("again", QString(), 2200);
        QVERIFY(!pipe.isSuspended());
    }

    void mbapLimits_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("valid");
        QTest::newRow("largest PDU") << mbap(1, 1, QByteArray(253, '\x10')) << true;
        QTest::newRow("protocol id 1") << mbap(1, 1, readPdu(0), 1) << false;
        for (int length : {0, 1, 255, 65535})
            QTest::addRow("length %d", length) << mbap(1, 1, readPdu(0), 0, length) << false;
    }

    // A header at the limits is taken; one that cannot be right costs only itself, whole
    // or byte by byte, and the next request comes through.
    void mbapLimits()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, valid);
        MbapParser whole, bytewise;
        QCOMPARE(whole.feed(request).size(), valid ? 1 : 0);
        QCOMPARE(whole.malformed(), valid ? 0 : 1);
        QCOMPARE(whole.feed(mbap(99, 5, readPdu(3))).size(), 1);
        for (const char c : request)
            bytewise.feed(QByteArray(1, c));
        QCOMPARE(bytewise.malformed() > 0, !valid);
    }

    void answersReachTheirRequests_data()
    {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QByteArray>("line");     // what the serial side delivers, in one frame
        QTest::addColumn<qint64>("answerAt");     // ms after the requests
        QTest::addColumn<QStringList>("expected"); // "peer:id:value" per response

        // Client x asks for registers 1 and 2 of unit 1, then client y for register 3 of
        // unit 1 and register 4 of unit 2 (transaction ids 11, 12, 21, 22).
        const QByteArray a1 = rtuAnswer(1, 1001), a2 = rtuAnswer(1, 1002), a3 = rtuAnswer(1, 1003), a4 = rtuAnswer(2, 1004);
        QTest::newRow("shared line: the oldest transaction of the unit wins")
            << QString() << a4 + a1 << qint64(10) << QStringList{QStringLiteral("y:22:1004"), QStringLiteral("x:11:1001")};
        QTest::newRow("back to back answers are taken apart")
            << QString() << a1 + a2 + a3 << qint64(10)
            << QStringList{QStringLiteral("x:11:1001"), QStringLiteral("x:12:1002"), QStringLiteral("y:21:1003")};
        QTest::newRow("the owner of the line gets it") << QStringLiteral("y") << a3 << qint64(10)
                                                       << QStringList{QStringLiteral("y:21:1003")};
        QTest::newRow("bad CRC is dropped") << QString() << a1.left(6) + '\0' << qint64(10) << QStringList();
        QTest::newRow("short frame is dropped") << QString() << QByteArray("\x01\x03", 2) << qint64(10) << QStringList();
        QTest::newRow("unknown unit is unmatched") << QString() << rtuAnswer(9, 1) << qint64(10) << QStringList();
        QTest::newRow("other function is unmatched") << QString() << rtuAnswer(1, 1, 0x04) << qint64(10) << QStringList();
        QTest::newRow("after the timeout, unmatched") << QString() << a1 << qint64(2000) << QStringList();
    }

    void answersReachTheirRequests()
    {
        QFETCH(QString, owner);
        QFETCH(QByteArray, line);
        QFETCH(qint64, answerAt);
        QFETCH(QStringList, expected);

        ModbusGateway gateway;
        gateway.configure(2000);
        const QString x = QStringLiteral("x"), y = QStringLiteral("y");
        QCOMPARE(gateway.request(x, mbap(11, 1, readPdu(1)) + mbap(12, 1, readPdu(2)), 0).size(), 2);
        // y's requests arrive a byte at a time.
        qsizetype parsed = 0;
        for (const char c : mbap(21, 1, readPdu(3)) + mbap(22, 2, readPdu(4)))
            parsed += gateway.request(y, QByteArray(1, c), 0).size();
        QCOMPARE(parsed, 2);
        QCOMPARE(gateway.nextDeadline(0), qint64(2000));

        QStringList got;
        const auto responses = gateway.answer(line, owner, answerAt);
        for (const ModbusGateway::Response &r : responses) {
            QCOMPARE(r.bytes.mid(2, 2), QByteArray(2, '\0'));
            QCOMPARE(quint16(uchar(r.bytes[4]) << 8 | uchar(r.bytes[5])), quint16(r.bytes.size() - 6));
            got << QStringLiteral("%1:%2:%3")
                       .arg(r.peer)
                       .arg(uchar(r.bytes[0]) << 8 | uchar(r.bytes[1]))
                       .arg(uchar(r.bytes[9]) << 8 | uchar(r.bytes[10]));
        }
        QCOMPARE(got, expected);
        const ModbusGateway::Counters c = gateway.counters();
        QCOMPARE(c.responses, qint64(expected.size()));
        QCOMPARE(c.expired, answerAt >= 2000 ? qint64(4) : qint64(0));
        QCOMPARE(gateway.pending(), answerAt >= 2000 ? 0 : 4 - int(expected.size()));
    }
};

QTEST_APPLESS_MAIN(tst_BridgeEngines)
#include "tst_bridgeengines.moc"
