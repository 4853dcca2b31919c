#include "codec/crc.h"
#include "codec/crcformat.h"
#include "tools/asciicode.h"
#include "tools/toolbox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

// The toolbox's two tabs and the ASCII chart, driven through their widgets.
class tst_ToolBox : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_box = std::make_unique<ToolBox>(); }
    void catalogCheckValues_data();
    void catalogCheckValues();
    void customParameters_data();
    void customParameters();
    void customSetSurvivesChoosingAnother();
    void resultBases_data();
    void resultBases();
    void hexInputAndInsert();
    void converter_data();
    void converter();
    void asciiChartRows_data();
    void asciiChartRows();

private:
    template <typename T> T *child(const char *name) { return m_box->findChild<T *>(QLatin1String(name)); }
    void choose(int id) { child<QComboBox>("cbName")->setCurrentIndex(child<QComboBox>("cbName")->findData(id)); }
    void type(const char *field, const QString &text)
    {
        auto *edit = child<QLineEdit>(field);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    QString result() { return child<QLineEdit>("leResult")->text(); }
    std::unique_ptr<ToolBox> m_box;
};

void tst_ToolBox::catalogCheckValues_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("wire");
    QTest::newRow("CRC-4/ITU") << 0 << QStringLiteral("7") << QStringLiteral("07");
    QTest::newRow("CRC-5/ITU") << 1 << QStringLiteral("07") << QStringLiteral("07");
    QTest::newRow("CRC-5/USB") << 2 << QStringLiteral("19") << QStringLiteral("19");
    QTest::newRow("CRC-6/ITU") << 3 << QStringLiteral("06") << QStringLiteral("06");
    QTest::newRow("CRC-8") << 4 << QStringLiteral("F4") << QStringLiteral("F4");
    QTest::newRow("CRC-16/MODBUS low byte first") << 5 << QStringLiteral("4B37") << QStringLiteral("37 4B");
    QTest::newRow("CRC-16/USB") << 6 << QStringLiteral("B4C8") << QStringLiteral("B4 C8");
    QTest::newRow("CRC-32") << 7 << QStringLiteral("CBF43926") << QStringLiteral("CB F4 39 26");
    QTest::newRow("Custom starts as CRC-16/IBM-3740") << 8 << QStringLiteral("29B1") << QStringLiteral("29 B1");
}

void tst_ToolBox::catalogCheckValues()
{
    QFETCH(int, id);
    QFETCH(QString, check);
    QFETCH(QString, wire);
    choose(id);
    QTest::keyClicks(child<QPlainTextEdit>("inputCrc"), QStringLiteral("123456789"));
    QTRY_COMPARE(result(), check);
    QCOMPARE(child<QLineEdit>("leWireBytes")->text(), wire);
    QCOMPARE(child<QLineEdit>("lePoly")->isReadOnly(), id != 8);
}

void tst_ToolBox::customParameters_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("poly");
    QTest::addColumn<QString>("init");
    QTest::addColumn<QString>("xorOut");
    QTest::addColumn<bool>("refIn");
    QTest::addColumn<bool>("refOut");
    QTest::addColumn<QString>("expected"); // published check value, or the refusal
    auto fits = [](const char *what) {
        return QStringLiteral("%1 must be a hexadecimal value that fits the width.").arg(QLatin1String(what));
    };
    const QString badWidth = QStringLiteral("Width must be between 1 and 64.");
    QTest::newRow("CRC-3/GSM") << "3" << "3" << "0" << "7" << false << false << "4";
    QTest::newRow("CRC-7/MMC") << "7" << "09" << "00" << "00" << false << false << "75";
    QTest::newRow("CRC-12/UMTS mixed reflection") << "12" << "80F" << "0" << "0" << false << true << "DAF";
    QTest::newRow("CRC-16/KERMIT") << "16" << "1021" << "0" << "0" << true << true << "2189";
    QTest::newRow("CRC-24/OPENPGP") << "24" << "864CFB" << "b704ce" << "0" << false << false << "21CF02";
    QTest::newRow("CRC-32C") << "32" << "1EDC6F41" << "FFFFFFFF" << "FFFFFFFF" << true << true << "E3069283";
    QTest::newRow("CRC-64/ECMA-182") << "64" << "42F0E1EBA9EA3693" << "0" << "0" << false << false << "6C40DF5F0B497347";
    QTest::newRow("CRC-64/XZ") << "64" << "42F0E1EBA9EA3693" << "FFFFFFFFFFFFFFFF" << "FFFFFFFFFFFFFFFF"
                               << true << true << "995DC9BBDF1939FA";
    QTest::newRow("width 0") << "0" << "1" << "0" << "0" << false << false << badWidth;
    QTest::newRow("width 65") << "65" << "1" << "0" << "0" << false << false << badWidth;
    QTest::newRow("width empty") << "" << "1" << "0" << "0" << false << false << badWidth;
    QTest::newRow("width 8, polynomial 100") << "8" << "100" << "0" << "0" << false << false << fits("Polynomial");
    QTest::newRow("width 8, polynomial 1FF") << "8" << "1FF" << "0" << "0" << false << false << fits("Polynomial");
    QTest::newRow("width 4, init 1F") << "4" << "3" << "1F" << "0" << true << true << fits("Initial value");
    QTest::newRow("width 16, xor 10000") << "16" << "1021" << "0" << "10000" << false << false << fits("Final XOR");
    QTest::newRow("polynomial 0") << "16" << "0000" << "0" << "0" << false << false
                                  << QStringLiteral("Polynomial must not be zero.");
}

void tst_ToolBox::customParameters()
{
    QFETCH(QString, width);
    QFETCH(QString, poly);
    QFETCH(QString, init);
    QFETCH(QString, xorOut);
    QFETCH(bool, refIn);
    QFETCH(bool, refOut);
    QFETCH(QString, expected);
    choose(8);
    child<QPlainTextEdit>("inputCrc")->setPlainText(QStringLiteral("123456789"));
    type("leWidth", width);
    type("lePoly", poly);
    type("leInit", init);
    type("leXorout", xorOut);
    child<QCheckBox>("cbRefin")->setChecked(refIn);
    child<QCheckBox>("cbRefout")->setChecked(refOut);
    const bool refused = expected.contains(QLatin1Char(' '));
    QTRY_COMPARE(child<QLabel>("crcErrorLabel")->text(), refused ? expected : QString());
    QCOMPARE(child<QPushButton>("btnInsertFrame")->isEnabled(), !refused);
    if (refused) {
        QCOMPARE(result(), QString());
        return;
    }
    const CrcParams params{width.toInt(), poly.toULongLong(nullptr, 16), init.toULongLong(nullptr, 16),
                           xorOut.toULongLong(nullptr, 16), refIn, refOut};
    const QString engine = formatCrcValue(computeCrc(QByteArrayLiteral("123456789"), params), params.width, 16);
    QCOMPARE(result(), engine);
    QCOMPARE(result(), expected.rightJustified((params.width + 3) / 4, QLatin1Char('0')));
}

void tst_ToolBox::customSetSurvivesChoosingAnother()
{
    choose(8);
    type("leWidth", QStringLiteral("8"));
    type("lePoly", QStringLiteral("31"));
    choose(7);
    QCOMPARE(child<QLineEdit>("lePoly")->text(), QStringLiteral("04C11DB7"));
    choose(8);
    QCOMPARE(child<QLineEdit>("leWidth")->text(), QStringLiteral("8"));
    QCOMPARE(child<QLineEdit>("lePoly")->text(), QStringLiteral("31"));
    QVERIFY(!child<QLineEdit>("lePoly")->isReadOnly());
}

void tst_ToolBox::resultBases_data()
{
    QTest::addColumn<int>("base");
    QTest::addColumn<int>("order");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("wire");
    QTest::newRow("hex, little-endian") << 0 << 1 << QStringLiteral("4B37") << QStringLiteral("37 4B");
    QTest::newRow("dec, big-endian") << 1 << 0 << QStringLiteral("19255") << QStringLiteral("4B 37");
    QTest::newRow("oct padded to 6") << 2 << 1 << QStringLiteral("045467") << QStringLiteral("37 4B");
    QTest::newRow("bin padded to 16") << 3 << 0 << QStringLiteral("0100101100110111") << QStringLiteral("4B 37");
}

void tst_ToolBox::resultBases()
{
    QFETCH(int, base);
    QFETCH(int, order);
    QFETCH(QString, value);
    QFETCH(QString, wire);
    choose(5);
    child<QPlainTextEdit>("inputCrc")->setPlainText(QStringLiteral("123456789"));
    child<QComboBox>("cbResultBase")->setCurrentIndex(base);
    child<QComboBox>("cbByteOrder")->setCurrentIndex(order);
    QTRY_COMPARE(result(), value);
    QCOMPARE(child<QLineEdit>("leWireBytes")->text(), wire);
}

void tst_ToolBox::hexInputAndInsert()
{
    QSignalSpy inserted(m_box.get(), &ToolBox::insertRequested);
    auto *input = child<QPlainTextEdit>("inputCrc");
    choose(5);
    child<QRadioButton>("rbHex")->setChecked(true);
    input->setPlainText(QStringLiteral("01 03 00\n00 00 0a"));
    child<QPushButton>("calculateCRC")->click();
    child<QPushButton>("btnInsertFrame")->click();
    QCOMPARE(inserted.value(0).value(0).toString(), QStringLiteral("01 03 00 00 00 0A C5 CD"));

    input->setPlainText(QStringLiteral("4G"));
    QTRY_COMPARE(child<QLabel>("crcErrorLabel")->text(), QStringLiteral("Invalid hex character at position 2."));
    QCOMPARE(result(), QString());
    child<QPushButton>("btnInsertFrame")->click();
    QCOMPARE(inserted.size(), 1);
    child<QRadioButton>("rbAscii")->setChecked(true);
    QCOMPARE(child<QLabel>("crcErrorLabel")->text(), QString());
    QVERIFY(!result().isEmpty());
}

void tst_ToolBox::converter_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");
    const QString none;
    QTest::newRow("4 blank 1") << "4 1" << "hexToText" << "A" << none;
    QTest::newRow("41 blank 4") << "41 4" << "hexToText" << none << "Hex input must contain complete bytes.";
    QTest::newRow("4G") << "4G" << "hexToText" << none << "Invalid hex character at position 2.";
    QTest::newRow("multi-byte forms") << "c3a9 E282AC F09F9880" << "hexToText" << "\u00E9\u20AC\U0001F600" << none;
    QTest::newRow("FF is not UTF-8") << "41 FF 42 C0" << "hexToText" << "A\uFFFDB\uFFFD"
                                     << "2 byte(s) are not valid UTF-8 and are shown as U+FFFD; the first is byte 2.";
    QTest::newRow("text to hex") << "A\u00E9\u20AC\U0001F600" << "textToHex" << "41 C3 A9 E2 82 AC F0 9F 98 80" << none;
    QTest::newRow("empty text") << none << "textToHex" << none << none;
}

void tst_ToolBox::converter()
{
    QFETCH(QString, input);
    QFETCH(QString, button);
    QFETCH(QString, output);
    QFETCH(QString, error);
    child<QPlainTextEdit>("outputText")->setPlainText(QStringLiteral("stale"));
    child<QPlainTextEdit>("inputText")->setPlainText(input);
    m_box->findChild<QPushButton *>(button)->click();
    QCOMPARE(child<QPlainTextEdit>("outputText")->toPlainText(), output);
    QCOMPARE(child<QLabel>("converterErrorLabel")->text(), error);
}

void tst_ToolBox::asciiChartRows_data()
{
    const auto cells = [](const char *row) { return QString::fromUtf8(row).split(QLatin1Char('|')); };
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("cells");
    QTest::newRow("NUL") << 0 << cells("00000000|0|00|NUL|\\0 Null character");
    QTest::newRow("LF") << 10 << cells("00001010|10|0A|LF|\\n Line feed");
    QTest::newRow("ESC") << 27 << cells("00011011|27|1B|ESC|\\e Escape");
    QTest::newRow("space") << 32 << cells("00100000|32|20| |Space");
    QTest::newRow("A") << 65 << cells("01000001|65|41|A|");
    QTest::newRow("tilde") << 126 << cells("01111110|126|7E|~|");
    QTest::newRow("DEL, the last row") << 127 << cells("01111111|127|7F|DEL|Delete");
}

void tst_ToolBox::asciiChartRows()
{
    QFETCH(int, code);
    QFETCH(QStringList, cells);
    AsciiCode chart;
    auto *table = chart.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    QCOMPARE(table->rowCount(), 128);
    QStringList shown;
    for (int column = 0; column < table->columnCount(); ++column)
        shown << table->item(code, column)->text();
    QCOMPARE(shown, cells);
}

QTEST_MAIN(tst_ToolBox)
#include "tst_toolbox.moc"
