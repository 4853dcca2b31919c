#include "codec/modbuscodec.h"

#include <QTest>

namespace {

ModbusRequest request(int slave, int function, int address, int quantity, const QList<quint16> &values = {})
{
    return ModbusRequest{quint8(slave), quint8(function), quint16(address), quint16(quantity), values};
}

} // namespace

class tst_ModbusCodec : public QObject
{
    Q_OBJECT

private slots:
    void frames_data()
    {
        QTest::addColumn<ModbusRequest>("req");
        QTest::addColumn<QByteArray>("frame"); // the RTU frame, its CRC low byte first

        const auto hex = [](const char *h) { return QByteArray::fromHex(h); };
        QTest::newRow("03 read holding") << request(1, 0x03, 0, 10) << hex("01030000000a c5cd");
        QTest::newRow("01 read coils") << request(17, 0x01, 19, 37) << hex("110100130025 0e84");
        QTest::newRow("02 read discrete") << request(17, 0x02, 196, 22) << hex("110200c40016 baa9");
        QTest::newRow("04 read input") << request(17, 0x04, 8, 1) << hex("110400080001 b298");
        QTest::newRow("05 coil on") << request(17, 0x05, 172, 0, {1}) << hex("110500acff00 4e8b");
        QTest::newRow("06 write register") << request(17, 0x06, 1, 0, {3}) << hex("110600010003 9a9b");
        QTest::newRow("0F ten coils in two bytes") << request(17, 0x0F, 19, 0, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0})
                                                   << hex("110f0013000a02cd01 bf0b");
        QTest::newRow("10 write registers") << request(17, 0x10, 1, 0, {0x000A, 0x0102}) << hex("11100001000204000a0102 c6f0");
        QTest::newRow("slave 0 broadcast") << request(0, 0x06, 0, 0, {0xFFFF}) << hex("00060000ffff 89ab");
    }

    void frames()
    {
        QFETCH(ModbusRequest, req);
        QFETCH(QByteArray, frame);
        QString error = QStringLiteral("stale");
        const QByteArray rtu = ModbusCodec::rtuFrame(req, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(rtu.toHex(' '), frame.toHex(' '));
        const QByteArray body = rtu.chopped(2);
        QCOMPARE(ModbusCodec::buildPdu(req, &error), body.mid(1));

        // ASCII: the same body in upper-case hex, the LRC that sums it to zero, CR LF.
        quint8 lrc = 0;
        for (char c : body)
            lrc = quint8(lrc - quint8(c));
        QCOMPARE(ModbusCodec::asciiFrame(req, &error), ':' + (body + char(lrc)).toHex().toUpper() + "\r\n");
        QCOMPARE(ModbusCodec::lrc(body), lrc);
    }

    // The quantity limits of each function, at and beyond their edges, are the Modbus
    // builder's table (tests/tools), checked against pymodbus there; these are the rest.
    void limits_data()
    {
        QTest::addColumn<ModbusRequest>("req");
        QTest::addColumn<QString>("error");
        const auto range = [](const char *what, int max) {
            return QStringLiteral("%1 must be between 1 and %2.").arg(QLatin1String(what)).arg(max);
        };
        const auto space = [](int a, int n) { return QStringLiteral("Address %1 plus count %2 exceeds the 65536 address space.").arg(a).arg(n); };
        const QString slave = QStringLiteral("Slave ID must be between 0 and 247.");
        const QList<std::tuple<const char *, ModbusRequest, QString>> rows{
            {"slave 247", request(247, 0x03, 0, 1), {}},
            {"slave 248", request(248, 0x03, 0, 1), slave},
            {"slave checked before function", request(255, 0x07, 0, 1), slave},
            {"function 0x2B", request(1, 0x2B, 0, 1), QStringLiteral("Unsupported function code 0x2B.")},
            {"0F no coils", request(1, 0x0F, 0, 0), range("Coil count", 1968)},
            {"address 65526 + 10", request(1, 0x03, 65526, 10), {}},
            {"address 65530 + 10", request(1, 0x03, 65530, 10), space(65530, 10)},
            {"range checked before address", request(1, 0x03, 65535, 200), range("Register count", 125)},
            {"0F runs past the end", request(1, 0x0F, 65534, 0, {1, 0, 1}), space(65534, 3)},
            {"06 at 65535", request(1, 0x06, 65535, 0, {1}), {}},
            {"05 no value", request(1, 0x05, 0, 0), QStringLiteral("Write Single Coil needs exactly one value.")},
            {"06 two values", request(1, 0x06, 0, 0, {1, 2}), QStringLiteral("Write Single Register needs exactly one value.")},
        };
        for (const auto &[name, req, error] : rows)
            QTest::newRow(name) << req << error;
    }

    void limits()
    {
        QFETCH(ModbusRequest, req);
        QFETCH(QString, error);
        // The PDU and both frames refuse alike.
        for (const auto build : {&ModbusCodec::buildPdu, &ModbusCodec::rtuFrame, &ModbusCodec::asciiFrame}) {
            QString why;
            QCOMPARE(build(req, &why).isEmpty(), !error.isEmpty());
            QCOMPARE(why, error);
        }
    }
};

QTEST_APPLESS_MAIN(tst_ModbusCodec)
#include "tst_modbuscodec.moc"
