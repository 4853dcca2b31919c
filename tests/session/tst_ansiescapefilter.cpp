#include "session/ansiescapefilter.h"

#include <QTest>

namespace {

const char kEsc = '\x1b';
const int kGround = AnsiEscapeFilter::Ground;

QByteArray esc(const QByteArray &rest)
{
    return kEsc + rest;
}

} // namespace

class tst_AnsiEscapeFilter : public QObject
{
    Q_OBJECT
private slots:
    void filter_data();
    void filter();
};

// The text that comes out of the input and the state left afterwards; a row that ends
// inside a sequence holds all of its input. Rows follow the filter's state table.
void tst_AnsiEscapeFilter::filter_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("encoding"); // the C1 introducers count only where 0x80-0x9F are controls
    QTest::addColumn<int>("endState");
    const auto row = [](const char *name, const QByteArray &input, const QByteArray &expected,
                        const char *encoding = "UTF-8", int state = kGround) {
        QTest::newRow(name) << input << expected << QString::fromLatin1(encoding) << state;
    };
    const QByteArray csi255 = esc("[") + QByteArray(255, '1');
    const QByteArray osc4095 = esc("]") + QByteArray(4095, 'a');

    row("ground: plain text passes", "hello\r\n", "hello\r\n");
    row("ground: ESC is held", esc(""), "", "UTF-8", AnsiEscapeFilter::Escape);
    row("ground: 0x9B starts CSI in Latin-1", "a\x9b" "31mX", "aX", "ISO-8859-1");
    row("ground: 0x9D starts OSC in Latin-1", "\x9d" "0;title\x07X", "X", "latin1");
    row("ground: 0x9B is text in UTF-8", "\x9b" "31mX", "\x9b" "31mX");
    row("ground: 0x9B is text in Windows-1252", "\x9b" "31mX", "\x9b" "31mX", "Windows-1252");

    row("escape: ESC A shown", esc("A"), esc("A"));

    row("csi: final @", esc("[2@X"), "X");
    row("csi: final ~", esc("[15~X"), "X");
    row("csi: private and intermediate bytes", esc("[?25 hX"), "X");
    row("csi: ESC restarts", esc("[3") + esc("[1mX"), esc("[3X"));
    row("csi: LF aborts as text", esc("[3\nY"), esc("[3\nY"));
    row("csi: 0x80 aborts as text", esc("[3\x80Y"), esc("[3\x80Y"));
    row("csi: 256 held bytes still a sequence", csi255.chopped(1) + "mX", "X");
    row("csi: 257th byte gives it back", csi255 + "mX", csi255 + "mX");
    row("csi: unfinished stays held", esc("[12;3"), "", "UTF-8", AnsiEscapeFilter::Csi);

    row("osc: BEL ends", esc("]0;title\x07X"), "X");
    row("osc: 0x9C ends in Latin-1", esc("]0;t\x9cX"), "X", "ISO-8859-1");
    row("osc: 0x9C is content in UTF-8", esc("]0;t\x9cX\x07Y"), "Y");
    row("osc: ESC backslash ends", esc("]0;t") + esc("\\X"), "X");
    row("osc: interrupted by LF", esc("]0;title\nX"), "\nX");
    row("osc: interrupted by CR", esc("]0;title\rX"), "\rX");
    row("osc: 4096 held bytes still a sequence", osc4095.chopped(1) + "\x07X", "X");
    row("osc: 4097th byte gives it back", osc4095 + "X", osc4095 + "X");
    row("osc: unfinished stays held", esc("]2;ab"), "", "UTF-8", AnsiEscapeFilter::Osc);

    row("osc esc: 0x9C ends in Latin-1", esc("]t\x1b\x9cX"), "X", "ISO-8859-1");
    row("osc esc: ESC stays", esc("]t\x1b\x1b\\X"), "X");
    row("osc esc: LF drops and shows LF", esc("]t\x1b\nX"), "\nX");
    row("osc esc: other returns to OSC", esc("]t\x1bq\x07X"), "X");
    row("osc esc: other past 4096 gives it back", osc4095.chopped(2) + "\x1bqX", osc4095.chopped(2) + "\x1bqX");
    row("osc esc: ESC run past 4096 gives it back", esc("]") + QByteArray(4095, kEsc) + "X",
        esc("]") + QByteArray(4095, kEsc) + "X");
    row("osc esc: unfinished stays held", esc("]t\x1b"), "", "UTF-8", AnsiEscapeFilter::OscEscape);
}

// Whole, byte by byte and split in two at every place: the same text and state. A device
// that never ends its sequences makes the filter hold no more than its caps.
void tst_AnsiEscapeFilter::filter()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QFETCH(QString, encoding);
    QFETCH(int, endState);
    const bool c1 = AnsiEscapeFilter::encodingHasC1Controls(encoding);
    const QByteArray held = endState == kGround ? QByteArray() : input;

    QList<QList<QByteArray>> ways{{input}, {}};
    for (char c : input)
        ways[1].append(QByteArray(1, c));
    for (qsizetype k = 1; k < input.size(); ++k)
        ways.append({input.left(k), input.mid(k)});
    for (const QList<QByteArray> &chunks : std::as_const(ways)) {
        AnsiEscapeFilter f;
        f.setC1Controls(c1);
        QByteArray out;
        for (const QByteArray &chunk : chunks) {
            out += f.filter(chunk);
            QVERIFY(f.pending().size() <= 4096);
        }
        const QByteArray how = "in " + QByteArray::number(chunks.size()) + " chunks, the first of "
            + QByteArray::number(chunks.value(0).size());
        QVERIFY2(out == expected, how.constData());
        QVERIFY2(f.state() == endState && f.pending() == held, how.constData());
    }
}

QTEST_APPLESS_MAIN(tst_AnsiEscapeFilter)
#include "tst_ansiescapefilter.moc"
