#include "app/mainwindow.h"
#include "codec/crc.h"
#include "codec/crcformat.h"
#include "settings/formatsetting.h"
#include "terminal/serialportwidget.h"
#include "tests/support/settingsfolder.h"
#include "tools/asciicode.h"
#include "tools/modbusbuilderdialog.h"
#include "tools/toolbox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

template <typename T = QWidget> T *child(QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

void choose(QComboBox *box, int data)
{
    box->setCurrentIndex(box->findData(data));
}

} // namespace

// The tool windows driven through their own widgets; Modbus frames are checked against
// pymodbus's framers, CRCs against published check values.
class tst_Tools : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        useSettingsFolder(m_dir.filePath(QStringLiteral("config")));
        m_pymodbus = QProcess::execute(QStringLiteral("/usr/bin/python3"),
                                       {QStringLiteral("-c"), QStringLiteral("import pymodbus")}) == 0;
    }

    void modbusBuilder_data()
    {
        QTest::addColumn<QString>("form"); // slave, function (hex), address, quantity, values
        QTest::addColumn<QString>("error"); // empty: the frame must equal pymodbus's
        const auto range = [](const char *what, int max) {
            return QStringLiteral("%1 must be between 1 and %2.").arg(QLatin1String(what)).arg(max);
        };
        QTest::newRow("01 2000 coils at 19") << "17 01 19 2000" << "";
        QTest::newRow("02 last discrete input") << "1 02 65535 1" << "";
        QTest::newRow("03 read holding") << "1 03 0 10" << "";
        QTest::newRow("04 125 registers up to the top") << "247 04 65411 125" << "";
        QTest::newRow("05 coil on") << "17 05 172 0 1" << "";
        QTest::newRow("05 coil off, broadcast") << "0 05 0 0 0" << "";
        QTest::newRow("06 FFFF") << "17 06 1 0 FFFF" << "";
        QTest::newRow("0F 1968 coils") << QStringLiteral("5 0F 0 0 ") + QStringLiteral("1 0 0 ").repeated(656) << "";
        QTest::newRow("10 123 registers up to the top") << QStringLiteral("9 10 65413 0 ") + QStringLiteral("FFFF 0 A5 ").repeated(41) << "";
        QTest::newRow("01 quantity 0") << "1 01 0 0" << range("Coil count", 2000);
        QTest::newRow("02 quantity 2001") << "1 02 0 2001" << range("Coil count", 2000);
        QTest::newRow("03 quantity 126") << "1 03 0 126" << range("Register count", 125);
        QTest::newRow("0F 1969 coils") << QStringLiteral("1 0F 0 0 ") + QStringLiteral("1 ").repeated(1969) << range("Coil count", 1968);
        QTest::newRow("10 124 registers") << QStringLiteral("1 10 0 0 ") + QStringLiteral("7 ").repeated(124) << range("Register count", 123);
        QTest::newRow("10 no registers") << "1 10 0 0" << range("Register count", 123);
        QTest::newRow("address 65527 + 10") << "1 03 65527 10" << "Address 65527 plus count 10 exceeds the 65536 address space.";
        QTest::newRow("06 no value") << "1 06 0 0" << "Write Single Register needs exactly one value.";
        QTest::newRow("06 two values") << "1 06 0 0 1 2" << "Write Single Register takes exactly one value.";
        QTest::newRow("06 10000") << "1 06 0 0 10000" << "\"10000\" is not a 16-bit HEX value.";
        QTest::newRow("0F coil state 2") << "1 0F 0 0 1 2" << "Coil states must be 0 or 1, got \"2\".";
        QTest::newRow("0F coil state 01") << "1 0F 0 0 1 01" << "Coil states must be 0 or 1, got \"01\".";
        QTest::newRow("06 bad value before the count") << "1 06 0 0 zz 1" << "\"zz\" is not a 16-bit HEX value.";
    }

    void modbusBuilder()
    {
        QFETCH(QString, form);
        QFETCH(QString, error);
        const QStringList fields = form.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        ModbusBuilderDialog dialog;
        child<QSpinBox>(&dialog, "slaveSpin")->setValue(fields.at(0).toInt());
        choose(child<QComboBox>(&dialog, "functionBox"), fields.at(1).toInt(nullptr, 16));
        child<QSpinBox>(&dialog, "addressSpin")->setValue(fields.at(2).toInt());
        child<QSpinBox>(&dialog, "quantitySpin")->setValue(fields.at(3).toInt());
        choose(child<QComboBox>(&dialog, "coilStateBox"), fields.value(4).toInt());
        child<QLineEdit>(&dialog, "valuesEdit")->setText(fields.mid(4).join(QLatin1Char(' ')));
        QSignalSpy inserted(&dialog, &ModbusBuilderDialog::insertRequested);
        child<QPushButton>(&dialog, "insertButton")->click();
        auto *hexLine = child<QLineEdit>(&dialog, "hexEdit");
        QCOMPARE(child<QLabel>(&dialog, "errorLabel")->text(), error);
        QCOMPARE(inserted.size(), error.isEmpty() ? 1 : 0);
        QCOMPARE(hexLine->text().isEmpty(), !error.isEmpty());
        if (!error.isEmpty())
            return;

        if (!m_pymodbus)
            QSKIP("needs /usr/bin/python3 with pymodbus (python3-pymodbus)");
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     QStringList{qEnvironmentVariable("QUILLON_TEST_DATA") + QStringLiteral("/modbus_reference.py")} + fields);
        QVERIFY(python.waitForFinished(30000));
        const QStringList reference = QString::fromLatin1(python.readAllStandardOutput()).split(QLatin1Char('\n'));
        QCOMPARE(inserted.at(0).at(0).toString(), reference.at(0));
        auto *asciiLine = child<QLineEdit>(&dialog, "asciiEdit");
        QVERIFY(!asciiLine->isVisibleTo(&dialog));
        child<QComboBox>(&dialog, "protocolBox")->setCurrentIndex(1);
        QCOMPARE(hexLine->text(), reference.at(1));
        const QString ascii = QString::fromLatin1(QByteArray::fromHex(reference.at(1).toLatin1()));
        QCOMPARE(asciiLine->text(), QString(ascii).replace(QLatin1String("\r\n"), QLatin1String("<CR><LF>")));
        QVERIFY(asciiLine->isVisibleTo(&dialog));
    }

    void crcCalculator_data()
    {
        QTest::addColumn<int>("algorithm");
        QTest::addColumn<QString>("custom"); // width, poly, init, xorOut, refIn, refOut
        QTest::addColumn<QString>("expected"); // check value of "123456789", or the refusal
        QTest::addColumn<QString>("wire");
        QTest::newRow("CRC-4/ITU") << 0 << "" << "7" << "07";
        QTest::newRow("CRC-5/ITU") << 1 << "" << "07" << "07";
        QTest::newRow("CRC-5/USB") << 2 << "" << "19" << "19";
        QTest::newRow("CRC-6/ITU") << 3 << "" << "06" << "06";
        QTest::newRow("CRC-8") << 4 << "" << "F4" << "F4";
        QTest::newRow("CRC-16/MODBUS, low byte first") << 5 << "" << "4B37" << "37 4B";
        QTest::newRow("CRC-16/USB") << 6 << "" << "B4C8" << "B4 C8";
        QTest::newRow("CRC-32") << 7 << "" << "CBF43926" << "CB F4 39 26";
        QTest::newRow("CRC-12/UMTS, mixed reflection") << 8 << "12 80F 0 0 0 1" << "DAF" << "0D AF";
        QTest::newRow("CRC-64/XZ, lower-case digits") << 8 << "64 42f0e1eba9ea3693 FFFFFFFFFFFFFFFF ffffffffffffffff 1 1"
                                   << "995DC9BBDF1939FA" << "99 5D C9 BB DF 19 39 FA";
        QTest::newRow("width 0") << 8 << "0 1 0 0 0 0" << "Width must be between 1 and 64." << "";
        QTest::newRow("width 65") << 8 << "65 1 0 0 0 0" << "Width must be between 1 and 64." << "";
        QTest::newRow("width 8, polynomial 100") << 8 << "8 100 0 0 0 0" << "Polynomial must be a hexadecimal value that fits the width." << "";
    }

    void crcCalculator()
    {
        QFETCH(int, algorithm);
        QFETCH(QString, custom);
        QFETCH(QString, expected);
        QFETCH(QString, wire);
        ToolBox box;
        choose(child<QComboBox>(&box, "cbName"), algorithm);
        QTest::keyClicks(child(&box, "inputCrc"), QStringLiteral("123456789"));
        const QStringList p = custom.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const char *fields[] = {"leWidth", "lePoly", "leInit", "leXorout", "cbRefin", "cbRefout"};
        for (int i = 0; i < p.size(); ++i) {
            if (i >= 4) {
                child<QCheckBox>(&box, fields[i])->setChecked(p[i] == QLatin1String("1"));
                continue;
            }
            child<QLineEdit>(&box, fields[i])->selectAll(); // typed over, as a user would
            QTest::keyClicks(child(&box, fields[i]), p[i]);
        }
        const bool refused = wire.isEmpty();
        QCOMPARE(child<QLabel>(&box, "crcErrorLabel")->text(), refused ? expected : QString());
        QCOMPARE(child<QLineEdit>(&box, "leResult")->text(), refused ? QString() : expected);
        QCOMPARE(child<QLineEdit>(&box, "leWireBytes")->text(), wire);
        QCOMPARE(child(&box, "btnInsertFrame")->isEnabled(), !refused);
        QCOMPARE(child<QLineEdit>(&box, "lePoly")->isReadOnly(), algorithm != 8);
        if (!p.isEmpty() && !refused) {
            const CrcParams params{p[0].toInt(), p[1].toULongLong(nullptr, 16), p[2].toULongLong(nullptr, 16),
                                   p[3].toULongLong(nullptr, 16), p[4] == QLatin1String("1"), p[5] == QLatin1String("1")};
            QCOMPARE(expected, formatCrcValue(computeCrc(QByteArrayLiteral("123456789"), params), params.width, 16));
        }
    }

    void crcHexInputBasesAndInsert()
    {
        ToolBox box;
        QSignalSpy inserted(&box, &ToolBox::insertRequested);
        choose(child<QComboBox>(&box, "cbName"), 5);
        child<QRadioButton>(&box, "rbHex")->setChecked(true);
        child<QPlainTextEdit>(&box, "inputCrc")->setPlainText(QStringLiteral("01 03 00\n00 00 0a"));
        child<QPushButton>(&box, "btnInsertFrame")->click();
        QCOMPARE(inserted.value(0).value(0).toString(), QStringLiteral("01 03 00 00 00 0A C5 CD"));
        const auto shown = [&](int base, int order) {
            child<QComboBox>(&box, "cbResultBase")->setCurrentIndex(base);
            child<QComboBox>(&box, "cbByteOrder")->setCurrentIndex(order);
            return child<QLineEdit>(&box, "leResult")->text() + QLatin1Char('/') + child<QLineEdit>(&box, "leWireBytes")->text();
        };
        QCOMPARE(shown(1, 0), QStringLiteral("52677/CD C5"));
        QCOMPARE(shown(3, 0), QStringLiteral("1100110111000101/CD C5"));
        QCOMPARE(shown(2, 1), QStringLiteral("146705/C5 CD"));

        child<QPlainTextEdit>(&box, "inputCrc")->setPlainText(QStringLiteral("4G"));
        QCOMPARE(child<QLabel>(&box, "crcErrorLabel")->text(), QStringLiteral("Invalid hex character at position 2."));
        child<QRadioButton>(&box, "rbAscii")->setChecked(true);
        QCOMPARE(child<QLineEdit>(&box, "leWireBytes")->text(), QStringLiteral("57 42"));
    }

    // Hex to text reads hex as the tools read it (whitespace anywhere, the first bad
    // character by its position) and shows invalid UTF-8 rather than hiding it.
    void converter_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("output"); // ? stands for U+FFFD
        QTest::addColumn<QString>("error");
        const auto badAt = [](int position) { return QStringLiteral("Invalid hex character at position %1.").arg(position); };
        const auto invalid = [](int count, int first) {
            return QStringLiteral("%1 byte(s) are not valid UTF-8 and are shown as U+FFFD; the first is byte %2.").arg(count).arg(first);
        };
        const auto hex = [](const char *name, const QString &input, const char *output, const QString &error) {
            QTest::newRow(name) << input << QStringLiteral("hexToText") << QString::fromUtf8(output) << error;
        };
        hex("three digits", QStringLiteral("41 4"), "", QStringLiteral("Hex input must contain complete bytes."));
        hex("G at 2", QStringLiteral("4G"), "", badAt(2));
        hex("bad character before the odd count", QStringLiteral("4 G"), "", badAt(3));
        hex("emoji after a byte", QStringLiteral("41 \U0001F600"), "", badAt(4));
        hex("mixed case, blanks of every kind, one inside a byte", QStringLiteral("4a 4B\t4c\n4D\u00A04 e\u30004F"), "JKLMNO",
            QString());
        hex("two, three and four byte forms", QStringLiteral("c3a9e282acf09f9880"), "\u00E9\u20AC\U0001F600", QString());
        hex("FF and C0 are not UTF-8", QStringLiteral("41 FF e6b8a9 C0"), "A?\u6E29?", invalid(2, 2));
        hex("surrogate D800", QStringLiteral("eda080"), "???", invalid(3, 1));
        hex("above U+10FFFF", QStringLiteral("f4908080"), "????", invalid(4, 1));
        hex("truncated at the end", QStringLiteral("41e282"), "A??", invalid(2, 2));
        QTest::newRow("text to hex, 19 bytes on two lines") << "\u00E9123456789abcd\U0001F600" << "textToHex"
                                                            << "C3 A9 31 32 33 34 35 36 37 38 39 61 62 63 64 F0\n9F 98 80" << "";
    }

    void converter()
    {
        QFETCH(QString, input);
        QFETCH(QString, button);
        QFETCH(QString, output);
        QFETCH(QString, error);
        ToolBox box;
        child<QPlainTextEdit>(&box, "outputText")->setPlainText(QStringLiteral("stale"));
        child<QPlainTextEdit>(&box, "inputText")->setPlainText(input);
        box.findChild<QPushButton *>(button)->click();
        QCOMPARE(child<QPlainTextEdit>(&box, "outputText")->toPlainText(), output.replace(u'?', QChar::ReplacementCharacter));
        QCOMPARE(child<QLabel>(&box, "converterErrorLabel")->text(), error);
    }

    // Every row's binary, decimal and hex cells name the same code, at full width.
    void asciiChartColumnsAgree()
    {
        AsciiCode chart;
        auto *table = child<QTableWidget>(&chart, "tableWidget");
        QCOMPARE(table->rowCount(), 128);
        for (int code = 0; code < 128; ++code) {
            const QString binary = table->item(code, 0)->text(), hex = table->item(code, 2)->text();
            QVERIFY(binary.size() == 8 && hex.size() == 2);
            QCOMPARE(binary.toInt(nullptr, 2), code);
            QCOMPARE(table->item(code, 1)->text().toInt(), code);
            QCOMPARE(hex.toInt(nullptr, 16), code);
            QVERIFY(code < 33 || code == 127 || table->item(code, 3)->text() == QChar(code));
        }
    }

    void insertGoesToTheLastFocusedPane()
    {
        MainWindow window;
        window.show();
        FormatSetting settings = window.pane(0)->settings();
        settings.SendChecksum = 4;
        SerialPortWidget *pane = window.addPane(settings);
        window.arrangePanes();
        window.activateWindow();
        child(pane, "textEdit")->setFocus();
        QTRY_VERIFY(pane->isAncestorOf(QApplication::focusWidget()));
        const auto note = [pane] { return child<QStatusBar>(pane, "statusbar")->currentMessage(); };

        window.findChild<QAction *>(QStringLiteral("acToolsModbus"))->trigger();
        auto *builder = window.findChild<ModbusBuilderDialog *>();
        QTRY_VERIFY(builder->isActiveWindow());
        child<QPushButton>(builder, "insertButton")->click();
        QCOMPARE(pane->sendText(), QStringLiteral("01 03 00 00 00 01 84 0A"));
        QVERIFY(child<QRadioButton>(pane, "hexSendRadio")->isChecked());
        QCOMPARE(note(), QStringLiteral("Note: this port appends a checksum on send; the Modbus frame already includes one."));

        window.findChild<QAction *>(QStringLiteral("acToolCalc"))->trigger();
        auto *toolbox = window.findChild<ToolBox *>();
        QTRY_VERIFY(toolbox->isActiveWindow());
        child<QPlainTextEdit>(toolbox, "inputCrc")->setPlainText(QStringLiteral("AB"));
        child<QPushButton>(toolbox, "btnInsertFrame")->click();
        QCOMPARE(pane->sendText(), QStringLiteral("41 42 ") + child<QLineEdit>(toolbox, "leWireBytes")->text());
        QCOMPARE(note(), QStringLiteral("Note: this port appends a checksum on send; the inserted frame already includes its CRC."));
        QCOMPARE(window.pane(0)->sendText(), QString());

        // Asked for again, a tool window is raised, not made twice; closed, it is deleted,
        // and the next request makes a new one.
        QPointer<ToolBox> tool = toolbox;
        toolbox->showMinimized();
        window.findChild<QAction *>(QStringLiteral("acToolCalc"))->trigger();
        QVERIFY(window.findChildren<ToolBox *>().size() == 1 && toolbox->isVisible() && !toolbox->isMinimized());
        QVERIFY(toolbox->close());
        QTRY_VERIFY(tool.isNull());
        window.findChild<QAction *>(QStringLiteral("acToolCalc"))->trigger();
        QVERIFY(window.findChild<ToolBox *>());
    }

private:
    QTemporaryDir m_dir;
    bool m_pymodbus = false;
};

QTEST_MAIN(tst_Tools)
#include "tst_tools.moc"
