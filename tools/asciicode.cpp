#include "tools/asciicode.h"
#include "ui_asciicode.h"

#include <QHeaderView>
#include <QTableWidgetItem>

namespace {

const char *const kAbbreviations[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US",
};

// The backslash sequences are part of the text, as C writes these codes.
const char *const kDescriptions[33] = {
    QT_TRANSLATE_NOOP("AsciiCode", "\\0 Null character"),
    QT_TRANSLATE_NOOP("AsciiCode", "Start of Header"),
    QT_TRANSLATE_NOOP("AsciiCode", "Start of Text"),
    QT_TRANSLATE_NOOP("AsciiCode", "End of Text"),
    QT_TRANSLATE_NOOP("AsciiCode", "End of Transmission"),
    QT_TRANSLATE_NOOP("AsciiCode", "Enquiry"),
    QT_TRANSLATE_NOOP("AsciiCode", "Acknowledgment"),
    QT_TRANSLATE_NOOP("AsciiCode", "\\a Bell"),
    QT_TRANSLATE_NOOP("AsciiCode", "\\b Backspace"),
    QT_TRANSLATE_NOOP("AsciiCode", "\\t Horizontal Tab"),
    QT_TRANSLATE_NOOP("AsciiCode", "\\n Line feed"),
    QT_TRANSLATE_NOOP("AsciiCode", "\\v Vertical Tab"),
    QT_TRANSLATE_NOOP("AsciiCode", "\\f Form feed"),
    QT_TRANSLATE_NOOP("AsciiCode", "\\r Carriage return"),
    QT_TRANSLATE_NOOP("AsciiCode", "Shift Out"),
    QT_TRANSLATE_NOOP("AsciiCode", "Shift In"),
    QT_TRANSLATE_NOOP("AsciiCode", "Data Link Escape"),
    QT_TRANSLATE_NOOP("AsciiCode", "Device Control 1 (oft. XON)"),
    QT_TRANSLATE_NOOP("AsciiCode", "Device Control 2"),
    QT_TRANSLATE_NOOP("AsciiCode", "Device Control 3 (oft. XOFF)"),
    QT_TRANSLATE_NOOP("AsciiCode", "Device Control 4"),
    QT_TRANSLATE_NOOP("AsciiCode", "Negative Acknowledgement"),
    QT_TRANSLATE_NOOP("AsciiCode", "Synchronous idle"),
    QT_TRANSLATE_NOOP("AsciiCode", "End of Transmission Block"),
    QT_TRANSLATE_NOOP("AsciiCode", "Cancel"),
    QT_TRANSLATE_NOOP("AsciiCode", "End of Medium"),
    QT_TRANSLATE_NOOP("AsciiCode", "Substitute"),
    QT_TRANSLATE_NOOP("AsciiCode", "\\e Escape"),
    QT_TRANSLATE_NOOP("AsciiCode", "File Separator"),
    QT_TRANSLATE_NOOP("AsciiCode", "Group Separator"),
    QT_TRANSLATE_NOOP("AsciiCode", "Record Separator"),
    QT_TRANSLATE_NOOP("AsciiCode", "Unit Separator"),
    QT_TRANSLATE_NOOP("AsciiCode", "Space"),
};

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

} // namespace

AsciiCode::AsciiCode(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::AsciiCode>())
{
    ui->setupUi(this);
    QTableWidget *table = ui->tableWidget;
    table->setColumnCount(5);
    table->setHorizontalHeaderLabels({tr("Binary"), tr("Decimal"), tr("Hex"), tr("Abbr/Glyph"), tr("Description")});
    table->verticalHeader()->setDefaultSectionSize(21);
    table->setRowCount(128);
    for (int c = 0; c < 128; ++c) {
        QString glyph;
        QString description;
        if (c < 32) {
            glyph = QLatin1String(kAbbreviations[c]);
        } else if (c == 127) {
            glyph = QStringLiteral("DEL");
            description = tr("Delete");
        } else {
            glyph = QChar(c);
        }
        if (c <= 32)
            description = tr(kDescriptions[c]);
        table->setItem(c, 0, cell(QString::number(c, 2).rightJustified(8, QLatin1Char('0'))));
        table->setItem(c, 1, cell(QString::number(c)));
        table->setItem(c, 2, cell(QString::number(c, 16).toUpper().rightJustified(2, QLatin1Char('0'))));
        table->setItem(c, 3, cell(glyph));
        table->setItem(c, 4, new QTableWidgetItem(description));
    }
    const int widths[] = {75, 75, 75, 75, 190};
    for (int i = 0; i < 5; ++i)
        table->setColumnWidth(i, widths[i]);
}

AsciiCode::~AsciiCode() = default;
