#include "codec/modbuscodec.h"

#include <QTest>

namespace {

ModbusRequest request(int slave, int function, int address, int quantity,
                      const QList<quint16> &values = {})
{
    ModbusRequest r;
    r.slave = quint8(slave);
    r.function = quint8(function);
    r.address = quint16(address);
    r.quantity = quint16(quantity);
    r.values = values;
    return r;
}

QList<quint16> repeated(int n, quint16 v)
{
    return QList<quint16>(n, v);
}

} // namespace

class tst_ModbusCodec : public QObject
{
    Q_OBJECT

private slots:
    void rtuFrames_data();
    void rtuFrames();
    void asciiFrameOfReadHolding();
    void asciiMatchesRtuBody_data() { rtuFrames_data(); }
    void asciiMatchesRtuBody();
    void limits_data();
    void limits();
};

void tst_ModbusCodec::rtuFrames_data()
{
    QTest::addColumn<ModbusRequest>("req");
    QTest::addColumn<QByteArray>("frame");

    const auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    QTest::newRow("03 read holding") << request(1, 0x03, 0, 10) << hex("01030000000a" "c5cd");
    QTest::newRow("01 read coils") << request(17, 0x01, 19, 37) << hex("110100130025" "0e84");
    QTest::newRow("02 read discrete") << request(17, 0x02, 196, 22) << hex("110200c40016" "baa9");
    QTest::newRow("04 read input") << request(17, 0x04, 8, 1) << hex("110400080001" "b298");
    QTest::newRow("05 coil on") << request(17, 0x05, 172, 0, {1}) << hex("110500acff00" "4e8b");
    QTest::newRow("05 coil off") << request(1, 0x05, 0, 0, {0}) << hex("010500000000" "cdca");
    QTest::newRow("06 write register") << request(17, 0x06, 1, 0, {3}) << hex("110600010003" "9a9b");
    QTest::newRow("0F coils 1 0 1 1 at 19") << request(1, 0x0F, 19, 0, {1, 0, 1, 1})
            << hex("010f0013000401" "0d"); // CRC checked below, not listed
    QTest::newRow("0F ten coils pack into two bytes") << request(17, 0x0F, 19, 0, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0})
            << hex("110f0013000a02cd01" "bf0b");
    QTest::newRow("10 write registers") << request(17, 0x10, 1, 0, {0x000A, 0x0102})
            << hex("1110000100020400 0a0102" "c6f0").replace(' ', QByteArray());
    QTest::newRow("slave 0 broadcast") << request(0, 0x06, 0, 0, {0xFFFF}) << QByteArray();
}

void tst_ModbusCodec::rtuFrames()
{
    QFETCH(ModbusRequest, req);
    QFETCH(QByteArray, frame);
    QString error = QStringLiteral("stale");
    const QByteArray got = ModbusCodec::rtuFrame(req, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QByteArray body = got.left(got.size() - 2);
    // The CRC trailer must check out on every frame, known vector or not.
    const quint16 crc = ModbusCodec::crc16(body);
    QCOMPARE(quint8(got.at(got.size() - 2)), quint8(crc & 0xFF));
    QCOMPARE(quint8(got.at(got.size() - 1)), quint8(crc >> 8));
    // Published vectors list the whole frame; the others list it without the CRC.
    QVERIFY(frame.isEmpty() || frame.size() == got.size() || frame.size() == got.size() - 2);
    QCOMPARE(got.left(frame.size()).toHex(' '), frame.toHex(' '));
    QCOMPARE(ModbusCodec::buildPdu(req, &error), body.mid(1));
}

void tst_ModbusCodec::asciiFrameOfReadHolding()
{
    QString error;
    const QByteArray rtu = ModbusCodec::rtuFrame(request(1, 0x03, 0, 10), &error);
    QCOMPARE(rtu.toHex(' '), QByteArray("01 03 00 00 00 0a c5 cd"));
    QCOMPARE(ModbusCodec::asciiFrame(request(1, 0x03, 0, 10), &error),
             QByteArray(":01030000000AF2\r\n"));
    QVERIFY(error.isEmpty());
}

void tst_ModbusCodec::asciiMatchesRtuBody()
{
    QFETCH(ModbusRequest, req);
    QString error;
    const QByteArray rtu = ModbusCodec::rtuFrame(req, &error);
    const QByteArray ascii = ModbusCodec::asciiFrame(req, &error);
    QVERIFY(ascii.startsWith(':'));
    QVERIFY(ascii.endsWith("\r\n"));
    const QByteArray hexText = ascii.mid(1, ascii.size() - 3);
    QCOMPARE(hexText, hexText.toUpper());
    const QByteArray bytes = QByteArray::fromHex(hexText);
    QCOMPARE(bytes.left(bytes.size() - 1), rtu.left(rtu.size() - 2));
    quint8 sum = 0;
    for (char c : bytes)
        sum = quint8(sum + quint8(c));
    QCOMPARE(sum, quint8(0)); // the LRC makes the whole frame sum to zero
}

void tst_ModbusCodec::limits_data()
{
    QTest::addColumn<ModbusRequest>("req");
    QTest::addColumn<QString>("error");

    const auto range = [](const char *what, int max) {
        return QStringLiteral("%1 must be between 1 and %2.").arg(QLatin1String(what)).arg(max);
    };
    const auto space = [](int a, int n) {
        return QStringLiteral("Address %1 plus count %2 exceeds the 65536 address space.").arg(a).arg(n);
    };
    const QString ok;

    QTest::newRow("slave 247") << request(247, 0x03, 0, 1) << ok;
    QTest::newRow("slave 248") << request(248, 0x03, 0, 1) << QStringLiteral("Slave ID must be between 0 and 247.");
    QTest::newRow("slave checked before function") << request(255, 0x07, 0, 1) << QStringLiteral("Slave ID must be between 0 and 247.");
    QTest::newRow("function 0x07") << request(1, 0x07, 0, 1) << QStringLiteral("Unsupported function code 0x07.");
    QTest::newRow("function 0x2B") << request(1, 0x2B, 0, 1) << QStringLiteral("Unsupported function code 0x2B.");
    QTest::newRow("function 0x00") << request(1, 0x00, 0, 1) << QStringLiteral("Unsupported function code 0x00.");

    QTest::newRow("01 quantity 0") << request(1, 0x01, 0, 0) << range("Coil count", 2000);
    QTest::newRow("01 quantity 2000") << request(1, 0x01, 0, 2000) << ok;
    QTest::newRow("01 quantity 2001") << request(1, 0x01, 0, 2001) << range("Coil count", 2000);
    QTest::newRow("02 quantity 2001") << request(1, 0x02, 0, 2001) << range("Coil count", 2000);
    QTest::newRow("03 quantity 125") << request(1, 0x03, 0, 125) << ok;
    QTest::newRow("03 quantity 126") << request(1, 0x03, 0, 126) << range("Register count", 125);
    QTest::newRow("04 quantity 0") << request(1, 0x04, 0, 0) << range("Register count", 125);
    QTest::newRow("04 quantity 126") << request(1, 0x04, 0, 126) << range("Register count", 125);
    QTest::newRow("0F 1968 coils") << request(1, 0x0F, 0, 0, repeated(1968, 1)) << ok;
    QTest::newRow("0F 1969 coils") << request(1, 0x0F, 0, 0, repeated(1969, 1)) << range("Coil count", 1968);
    QTest::newRow("0F no coils") << request(1, 0x0F, 0, 0) << range("Coil count", 1968);
    QTest::newRow("10 123 registers") << request(1, 0x10, 0, 0, repeated(123, 7)) << ok;
    QTest::newRow("10 124 registers") << request(1, 0x10, 0, 0, repeated(124, 7)) << range("Register count", 123);
    QTest::newRow("10 no registers") << request(1, 0x10, 0, 0) << range("Register count", 123);

    QTest::newRow("address 65526 + 10") << request(1, 0x03, 65526, 10) << ok;
    QTest::newRow("address 65530 + 10") << request(1, 0x03, 65530, 10) << space(65530, 10);
    QTest::newRow("address 65535 + 1") << request(1, 0x01, 65535, 1) << ok;
    QTest::newRow("address 65535 + 2 coils") << request(1, 0x02, 65535, 2) << space(65535, 2);
    QTest::newRow("range checked before address") << request(1, 0x03, 65535, 200) << range("Register count", 125);
    QTest::newRow("0F count runs past the end") << request(1, 0x0F, 65534, 0, {1, 0, 1}) << space(65534, 3);
    QTest::newRow("10 count runs past the end") << request(1, 0x10, 65535, 0, {1, 2}) << space(65535, 2);
    QTest::newRow("05 at 65535") << request(1, 0x05, 65535, 0, {1}) << ok;
    QTest::newRow("06 at 65535") << request(1, 0x06, 65535, 0, {1}) << ok;

    QTest::newRow("05 no value") << request(1, 0x05, 0, 0) << QStringLiteral("Write Single Coil needs exactly one value.");
    QTest::newRow("05 two values") << request(1, 0x05, 0, 0, {1, 0}) << QStringLiteral("Write Single Coil needs exactly one value.");
    QTest::newRow("06 no value") << request(1, 0x06, 0, 0) << QStringLiteral("Write Single Register needs exactly one value.");
    QTest::newRow("06 two values") << request(1, 0x06, 0, 0, {1, 2}) << QStringLiteral("Write Single Register needs exactly one value.");
}

void tst_ModbusCodec::limits()
{
    QFETCH(ModbusRequest, req);
    QFETCH(QString, error);
    QString pduError, rtuError, asciiError;
    const QByteArray pdu = ModbusCodec::buildPdu(req, &pduError);
    const QByteArray rtu = ModbusCodec::rtuFrame(req, &rtuError);
    const QByteArray ascii = ModbusCodec::asciiFrame(req, &asciiError);
    QCOMPARE(pduError, error);
    QCOMPARE(rtuError, error);
    QCOMPARE(asciiError, error);
    QCOMPARE(pdu.isEmpty(), !error.isEmpty());
    QCOMPARE(rtu.isEmpty(), !error.isEmpty());
    QCOMPARE(ascii.isEmpty(), !error.isEmpty());
    if (!error.isEmpty())
        return;
    QCOMPARE(quint8(pdu.at(0)), req.function);
    if (req.function == 0x0F) {
        const int count = int(req.values.size());
        QCOMPARE(quint8(pdu.at(5)), quint8((count + 7) / 8));
        QCOMPARE(pdu.size(), 6 + (count + 7) / 8);
    } else if (req.function == 0x10) {
        QCOMPARE(quint8(pdu.at(5)), quint8(2 * req.values.size()));
        QCOMPARE(pdu.size(), 6 + 2 * req.values.size());
    } else {
        QCOMPARE(pdu.size(), 5);
    }
}

QTEST_APPLESS_MAIN(tst_ModbusCodec)
#include "tst_modbuscodec.moc"
