#include "tools/modbusbuilderdialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

// Drives the builder's own widgets; frames are checked against pymodbus's framers.
class tst_ModbusBuilder : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_dialog = std::make_unique<ModbusBuilderDialog>(); }
    void framesMatchPymodbus_data();
    void framesMatchPymodbus();
    void limits_data();
    void limits();

private:
    template <typename T> T *child(const char *name) { return m_dialog->findChild<T *>(QLatin1String(name)); }
    void fill(bool ascii, int slave, int function, int address, int quantity, const QString &values);
    std::unique_ptr<ModbusBuilderDialog> m_dialog;
};

void tst_ModbusBuilder::fill(bool ascii, int slave, int function, int address, int quantity, const QString &values)
{
    child<QComboBox>("protocolBox")->setCurrentIndex(ascii ? 1 : 0);
    child<QSpinBox>("slaveSpin")->setValue(slave);
    auto *functionBox = child<QComboBox>("functionBox");
    functionBox->setCurrentIndex(functionBox->findData(function));
    child<QSpinBox>("addressSpin")->setValue(address);
    child<QSpinBox>("quantitySpin")->setValue(quantity);
    auto *coil = child<QComboBox>("coilStateBox");
    coil->setCurrentIndex(coil->findData(values.toInt()));
    child<QLineEdit>("valuesEdit")->setText(values);
}

void tst_ModbusBuilder::framesMatchPymodbus_data()
{
    QTest::addColumn<int>("slave");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("quantity");
    QTest::addColumn<QString>("values"); // coil states or hex register values
    QTest::newRow("01 read coils") << 17 << 0x01 << 19 << 37 << QString();
    QTest::newRow("02 last discrete input") << 1 << 0x02 << 65535 << 1 << QString();
    QTest::newRow("03 read holding") << 1 << 0x03 << 0 << 10 << QString();
    QTest::newRow("04 125 input registers") << 247 << 0x04 << 100 << 125 << QString();
    QTest::newRow("05 coil on") << 17 << 0x05 << 172 << 0 << QStringLiteral("1");
    QTest::newRow("05 coil off broadcast") << 0 << 0x05 << 0 << 0 << QStringLiteral("0");
    QTest::newRow("06 write register") << 17 << 0x06 << 1 << 0 << QStringLiteral("BEEF");
    QTest::newRow("0F coils 1 0 1 1 at 19") << 1 << 0x0F << 19 << 0 << QStringLiteral("1 0 1 1");
    QTest::newRow("0F ten coils") << 1 << 0x0F << 19 << 0 << QStringLiteral("1 0 1 1 0 0 1 1 1 0");
    QTest::newRow("0F 1968 coils") << 5 << 0x0F << 0 << 0 << QStringLiteral("1 0 0 ").repeated(656);
    QTest::newRow("10 two registers") << 17 << 0x10 << 1 << 0 << QStringLiteral("000A 0102");
    QTest::newRow("10 123 registers") << 9 << 0x10 << 65413 << 0 << QStringLiteral("FFFF 0 A5 ").repeated(41);
}

void tst_ModbusBuilder::framesMatchPymodbus()
{
    QFETCH(int, slave);
    QFETCH(int, function);
    QFETCH(int, address);
    QFETCH(int, quantity);
    QFETCH(QString, values);
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{qEnvironmentVariable("QUILLON_TEST_DATA") + QStringLiteral("/modbus_reference.py"),
                             QString::number(slave), QString::number(function), QString::number(address),
                             QString::number(quantity)}
                         + values.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    const bool finished = python.waitForFinished(30000);
    const QByteArray problem = python.readAllStandardError();
    if (python.error() == QProcess::FailedToStart || problem.contains("No module named 'pymodbus'"))
        QSKIP("needs /usr/bin/python3 with pymodbus (python3-pymodbus)");
    QVERIFY2(finished && python.exitCode() == 0, problem.constData());
    const QStringList reference = QString::fromLatin1(python.readAllStandardOutput()).split(QLatin1Char('\n'));

    auto *hexLine = child<QLineEdit>("hexEdit");
    auto *asciiLine = child<QLineEdit>("asciiEdit");
    fill(false, slave, function, address, quantity, values);
    QCOMPARE(child<QLabel>("errorLabel")->text(), QString());
    QCOMPARE(hexLine->text(), reference.at(0));
    QVERIFY(!asciiLine->isVisibleTo(m_dialog.get()));

    child<QComboBox>("protocolBox")->setCurrentIndex(1);
    QCOMPARE(hexLine->text(), reference.at(1));
    QVERIFY(asciiLine->isVisibleTo(m_dialog.get()));
    const QByteArray ascii = QByteArray::fromHex(reference.at(1).toLatin1());
    QCOMPARE(asciiLine->text(), QString::fromLatin1(ascii).replace(QLatin1String("\r\n"), QLatin1String("<CR><LF>")));
}

void tst_ModbusBuilder::limits_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("quantity");
    QTest::addColumn<QString>("values");
    QTest::addColumn<QString>("error");
    const auto range = [](const char *what, int max) {
        return QStringLiteral("%1 must be between 1 and %2.").arg(QLatin1String(what)).arg(max);
    };
    const auto space = [](int address, int count) {
        return QStringLiteral("Address %1 plus count %2 exceeds the 65536 address space.").arg(address).arg(count);
    };
    const QString none;
    QTest::newRow("01 quantity 0") << 0x01 << 0 << 0 << none << range("Coil count", 2000);
    QTest::newRow("01 quantity 2000") << 0x01 << 0 << 2000 << none << none;
    QTest::newRow("01 quantity 2001") << 0x01 << 0 << 2001 << none << range("Coil count", 2000);
    QTest::newRow("02 quantity 2001") << 0x02 << 0 << 2001 << none << range("Coil count", 2000);
    QTest::newRow("03 quantity 0") << 0x03 << 0 << 0 << none << range("Register count", 125);
    QTest::newRow("03 quantity 125") << 0x03 << 0 << 125 << none << none;
    QTest::newRow("03 quantity 126") << 0x03 << 0 << 126 << none << range("Register count", 125);
    QTest::newRow("04 quantity 126") << 0x04 << 0 << 126 << none << range("Register count", 125);
    QTest::newRow("0F 1968 coils") << 0x0F << 0 << 0 << QStringLiteral("1,").repeated(1968) << none;
    QTest::newRow("0F 1969 coils") << 0x0F << 0 << 0 << QStringLiteral("1,").repeated(1969) << range("Coil count", 1968);
    QTest::newRow("0F no coils") << 0x0F << 0 << 0 << QStringLiteral(" , ") << range("Coil count", 1968);
    QTest::newRow("10 123 registers") << 0x10 << 0 << 0 << QStringLiteral("7 ").repeated(123) << none;
    QTest::newRow("10 124 registers") << 0x10 << 0 << 0 << QStringLiteral("7 ").repeated(124) << range("Register count", 123);
    QTest::newRow("10 no registers") << 0x10 << 0 << 0 << none << range("Register count", 123);
    QTest::newRow("address 65526 + 10") << 0x03 << 65526 << 10 << none << none;
    QTest::newRow("address 65527 + 10") << 0x03 << 65527 << 10 << none << space(65527, 10);
    QTest::newRow("0F two coils at 65535") << 0x0F << 65535 << 0 << QStringLiteral("1 0") << space(65535, 2);
    QTest::newRow("10 one register at 65535") << 0x10 << 65535 << 0 << QStringLiteral("1") << none;
    QTest::newRow("06 no value") << 0x06 << 0 << 0 << none << QStringLiteral("Write Single Register needs exactly one value.");
    QTest::newRow("06 two values") << 0x06 << 0 << 0 << QStringLiteral("1 2") << QStringLiteral("Write Single Register takes exactly one value.");
    QTest::newRow("06 FFFF") << 0x06 << 0 << 0 << QStringLiteral("FFFF") << none;
    QTest::newRow("06 10000") << 0x06 << 0 << 0 << QStringLiteral("10000") << QStringLiteral("\"10000\" is not a 16-bit HEX value.");
    QTest::newRow("10 G1") << 0x10 << 0 << 0 << QStringLiteral("1 G1") << QStringLiteral("\"G1\" is not a 16-bit HEX value.");
    QTest::newRow("0F coil state 2") << 0x0F << 0 << 0 << QStringLiteral("1 2") << QStringLiteral("Coil states must be 0 or 1, got \"2\".");
}

void tst_ModbusBuilder::limits()
{
    QFETCH(int, function);
    QFETCH(int, address);
    QFETCH(int, quantity);
    QFETCH(QString, values);
    QFETCH(QString, error);
    QSignalSpy inserted(m_dialog.get(), &ModbusBuilderDialog::insertRequested);
    fill(false, 1, function, address, quantity, values);
    QCOMPARE(child<QLabel>("errorLabel")->text(), error);
    QCOMPARE(child<QLineEdit>("hexEdit")->text().isEmpty(), !error.isEmpty());
    child<QPushButton>("insertButton")->click();
    QCOMPARE(inserted.size(), error.isEmpty() ? 1 : 0);
    if (error.isEmpty())
        QCOMPARE(inserted.at(0).at(0).toString(), child<QLineEdit>("hexEdit")->text());
}

QTEST_MAIN(tst_ModbusBuilder)
#include "tst_modbusbuilder.moc"
