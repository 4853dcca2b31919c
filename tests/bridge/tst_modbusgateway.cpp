#include "bridge/modbusgateway.h"
#include "codec/modbuscodec.h"

#include <QTest>

namespace {

QByteArray mbap(quint16 id, quint8 unit, const QByteArray &pdu, quint16 protocol = 0, int length = -1)
{
    const quint16 len = length < 0 ? quint16(pdu.size() + 1) : quint16(length);
    QByteArray out;
    for (quint16 v : {id, protocol, len}) {
        out.append(char(v >> 8));
        out.append(char(v & 0xFF));
    }
    out.append(char(unit));
    return out + pdu;
}

// A read of one holding register at `address`, and the slave's answer holding `value`.
QByteArray readPdu(quint8 address)
{
    return QByteArray::fromHex("0300") + char(address) + QByteArray::fromHex("0001");
}

QByteArray rtuAnswer(quint8 unit, quint16 value, quint8 function = 0x03)
{
    QByteArray body;
    body.append(char(unit));
    body.append(char(function));
    body.append(char(2));
    body.append(char(value >> 8));
    body.append(char(value & 0xFF));
    const quint16 crc = ModbusCodec::crc16(body);
    return body + char(crc & 0xFF) + char(crc >> 8);
}

} // namespace

// The MBAP parser and the gateway's transaction matching, on a virtual clock. Hostile
// clients and a client with 40 requests in flight are tests/gateway's, on real sockets.
class tst_ModbusGateway : public QObject
{
    Q_OBJECT
private slots:
    void parser_data();
    void parser();
    void answersReachTheirRequests_data();
    void answersReachTheirRequests();
};

void tst_ModbusGateway::parser_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("malformed");
    QTest::addColumn<qsizetype>("leftOver");

    const QByteArray good = mbap(7, 1, readPdu(0));
    QTest::newRow("one request") << good << 1 << 0 << qsizetype(0);
    QTest::newRow("two back to back") << good + mbap(8, 2, readPdu(1)) << 2 << 0 << qsizetype(0);
    QTest::newRow("incomplete tail waits") << good + good.left(9) << 1 << 0 << qsizetype(9);
    QTest::newRow("largest PDU") << mbap(1, 1, QByteArray(253, '\x10')) << 1 << 0 << qsizetype(0);
    QTest::newRow("protocol id 1 resynchronises") << mbap(1, 1, readPdu(0), 1) << 0 << 1 << qsizetype(0);
    for (int length : {0, 1, 255, 65535})
        QTest::addRow("length %d", length) << mbap(1, 1, readPdu(0), 0, length) << 0 << 1 << qsizetype(0);
}

// Each stream whole, byte by byte, and followed by a good request once the parser has
// recovered: the requests, the malformed count and what stays buffered agree.
void tst_ModbusGateway::parser()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, requests);
    QFETCH(int, malformed);
    QFETCH(qsizetype, leftOver);

    MbapParser whole;
    QCOMPARE(whole.feed(stream).size(), requests);
    QCOMPARE(whole.malformed(), qint64(malformed));
    QCOMPARE(whole.buffered(), leftOver);

    MbapParser bytewise;
    int got = 0;
    for (char c : stream)
        got += int(bytewise.feed(QByteArray(1, c)).size());
    QCOMPARE(bytewise.malformed() > 0, malformed > 0);
    if (malformed == 0)
        QCOMPARE(got, requests);

    const QList<MbapParser::Request> after = whole.feed(mbap(99, 5, readPdu(3)));
    if (leftOver == 0) {
        QCOMPARE(after.size(), 1);
        QCOMPARE(after.first().transactionId, quint16(99));
        QCOMPARE(after.first().unit, quint8(5));
        QCOMPARE(after.first().pdu, readPdu(3));
    }
}

void tst_ModbusGateway::answersReachTheirRequests_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QByteArray>("line");     // what the serial side delivers, in one frame
    QTest::addColumn<qint64>("answerAt");     // ms after the requests
    QTest::addColumn<QStringList>("expected"); // "peer:id:value" per response

    // Client x asks for registers 1 and 2 of unit 1, then client y for register 3 of
    // unit 1 and register 4 of unit 2 (transaction ids 11, 12, 21, 22).
    const QByteArray a1 = rtuAnswer(1, 1001), a2 = rtuAnswer(1, 1002), a3 = rtuAnswer(1, 1003), a4 = rtuAnswer(2, 1004);
    QTest::newRow("in order, one frame each")
        << QString() << a1 << qint64(10) << QStringList{QStringLiteral("x:11:1001")};
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

void tst_ModbusGateway::answersReachTheirRequests()
{
    QFETCH(QString, owner);
    QFETCH(QByteArray, line);
    QFETCH(qint64, answerAt);
    QFETCH(QStringList, expected);

    ModbusGateway gateway;
    gateway.configure(2000);
    const QString x = QStringLiteral("x"), y = QStringLiteral("y");
    QCOMPARE(gateway.request(x, mbap(11, 1, readPdu(1)) + mbap(12, 1, readPdu(2)), 0).size(), 2);
    QCOMPARE(gateway.request(y, mbap(21, 1, readPdu(3)) + mbap(22, 2, readPdu(4)), 0).size(), 2);
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

QTEST_APPLESS_MAIN(tst_ModbusGateway)
#include "tst_modbusgateway.moc"
