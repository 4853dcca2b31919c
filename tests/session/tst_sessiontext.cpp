#include "session/ansiescapefilter.h"
#include "session/sendtext.h"
#include "session/traffictext.h"

#include "codec/checksum.h"
#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"
#include "settings/formatsetting.h"
#include "tests/support/bytes.h"

#include <QTest>

#include <memory>

struct Step
{
    int atMs;      // virtual clock, from the start of the row
    int direction; // 1 received, 2 sent
    QByteArray bytes;
    QString expected; // "{s}" stands for the stamp of this chunk
};
using Steps = QList<Step>;

// The target (display, log or the console's stateless text), the settings and the
// formatter's starting line state; for the log, whether a stamp is still due at the end.
struct Options
{
    bool log = false;
    bool console = false;
    bool stamps = false;
    int rxFormat = TextFormat;
    int txFormat = TextFormat;
    bool autoFeed = false;
    bool lineEnded = true;
    bool stampDue = false;
    bool dueAfter = false;
};
Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(Options)

// How the send box is set up for a row.
struct Setup
{
    bool hex = false;
    int ending = 0;       // line-ending mode
    bool autoFeed = true; // off: the text goes as typed whatever the mode
    QString encoding = QStringLiteral("UTF-8");
    bool formatSend = false;
    int checksum = 0;
};
Q_DECLARE_METATYPE(Setup)

namespace {

const char kEsc = '\x1b';
const int kGround = AnsiEscapeFilter::Ground;

QByteArray esc(const QByteArray &rest)
{
    return kEsc + rest;
}

const QDateTime kStart(QDate(2026, 3, 14), QTime(9, 26, 53, 589));

Step rx(int ms, const QByteArray &bytes, const char *expected)
{
    return {ms, 1, bytes, QString::fromUtf8(expected)};
}

Step tx(int ms, const QByteArray &bytes, const char *expected)
{
    return {ms, 2, bytes, QString::fromUtf8(expected)};
}

void trafficRow(const char *name, const Options &o, const Steps &steps)
{
    QTest::newRow(name) << o << steps;
}

FormatSetting settingsOf(const Setup &setup)
{
    FormatSetting s;
    s.TxLineEndingMode = setup.ending;
    s.TxAutoFeedLine = setup.autoFeed;
    s.SendEncoding = setup.encoding;
    s.FormatSend = setup.formatSend;
    s.SendChecksum = setup.checksum;
    return s;
}

QStringList numbered(int n)
{
    QStringList list;
    for (int i = 0; i < n; ++i)
        list.append(QStringLiteral("entry %1").arg(i));
    return list;
}

} // namespace

// The session's text engines: the escape filter, traffic text for the view, the log and
// the console, and send text.
class tst_SessionText : public QObject
{
    Q_OBJECT
private slots:
    void filter_data();
    void filter();
    void format_data();
    void format();
    void encode_data();
    void encode();
    void history_data();
    void history();
};

// The text that comes out of the input and the state left afterwards; a row that ends
// inside a sequence holds all of its input. Rows follow the filter's state table.
void tst_SessionText::filter_data()
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
void tst_SessionText::filter()
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

void tst_SessionText::format()
{
    QFETCH(Options, o);
    QFETCH(Steps, steps);

    FormatSetting s; // the console follows the display's stamp switch
    s.ReceiveMsgForamt = o.rxFormat;
    s.SendMsgFormat = o.txFormat;
    s.RxAutoFeedLine = o.autoFeed;
    s.AutoFeedInterval = 50;
    s.DisplayMsgTime = o.log ? !o.stamps : o.stamps; // the other target's switch must not matter
    s.LogTimestampEnabled = o.log ? o.stamps : !o.stamps;

    const auto rxDecoder = WireTextCodecRegistry::createDecoder(s.ReceiveEncoding);
    const auto txDecoder = WireTextCodecRegistry::createDecoder(s.SendEncoding);
    TrafficFormatter f(o.log ? TrafficFormatter::Target::Log : TrafficFormatter::Target::Display);
    f.setLineEnded(o.lineEnded);
    f.setStampDue(o.stampDue);

    for (const Step &step : steps) {
        const rxData chunk{kStart.addMSecs(step.atMs), step.direction, step.bytes};
        // Stamp text as the pane expands it; the log pattern stands in for the log writer's.
        const QString stamp = chunk.time.toString(o.log ? QStringLiteral("'<'hh:mm:ss.zzz'> '")
                                                        : chunk.direction == 2 ? s.TxTimeFormat : s.RxTimeFormat);
        if (o.console) {
            QCOMPARE(formatForConsole(chunk.data, chunk.direction, nullptr, s, chunk.time),
                     QString(step.expected).replace(QStringLiteral("{s}"), stamp));
            continue;
        }
        const QString out = f.format(chunk, chunk.direction == 2 ? txDecoder.get() : rxDecoder.get(),
                                     s, o.stamps ? stamp : QString());
        QCOMPARE(out, QString(step.expected).replace(QStringLiteral("{s}"), stamp));
        if (!out.isEmpty())
            QCOMPARE(f.lineEnded(), out.endsWith(QLatin1Char('\n')));
        QCOMPARE(f.lastChunkTime(), chunk.time);
    }
    if (o.log)
        QCOMPARE(f.stampDue(), o.dueAfter);
}

void tst_SessionText::format_data()
{
    QTest::addColumn<Options>("o");
    QTest::addColumn<Steps>("steps");
    const QByteArray b1("\x01"), b2("\x02"), b3("\x03"), b4("\x04"), b5("\x05");
    const Options text;
    const Options feed{.autoFeed = true};
    const Options stamped{.stamps = true};

    // Received text without stamps
    trafficRow("auto feed off: text as it is, gaps ignored", text, {rx(0, "abc", "abc"), rx(500, "ABC\r\n", "ABC\r\n")});
    trafficRow("auto feed: a gap longer than the interval since the last chunk breaks, none before the first",
               {.autoFeed = true, .lineEnded = false},
               {rx(0, "a", "a"), rx(40, "b", "b"), rx(80, "c", "c"), rx(130, "d", "d"), rx(250, "e", "\ne")});
    trafficRow("auto feed: after a line feed never an extra one", feed,
               {rx(0, "a\n", "a\n"), rx(500, "b", "b"), rx(1000, "c\r\n", "\nc\r\n"), rx(2000, "d", "d")});
    // U+001F, U+007F and U+009F are the last of their ranges; TAB, blank, ~ and U+00A0 are not controls.
    trafficRow("control characters marked at the edges of their ranges", text,
               {rx(0, "\x1f\t \x7e\x7f\xc2\x9f\xc2\xa0", "\u25A1\t ~\u25A1\u25A1\u00A0")});
    trafficRow("character split across chunks keeps the line state", feed,
               {rx(0, "x\n", "x\n"), rx(10, "\xe4\xb8", ""), rx(200, "\x9d", "\u4E1D")});

    // Received hex without stamps
    trafficRow("hex auto feed: breaks once the interval has passed since the last break",
               {.rxFormat = HexFormat, .autoFeed = true},
               {rx(0, b1, "01 "), rx(10, b2, "02 "), rx(60, b3, "\n03 "), rx(100, b4, "04 "), rx(111, b5, "\n05 ")});
    QString allHex;
    for (int b = 0; b < 256; ++b)
        allHex += QString::asprintf("%02X ", b);
    trafficRow("hex: every byte, no break without auto feed", {.rxFormat = HexFormat},
               {{0, 1, allByteValues(1), allHex}, rx(500, b2, "02 ")});

    // Received with stamps
    trafficRow("stamps: on each line; CR LF and LF CR fold, a lone CR stays", stamped,
               {rx(0, "a\r\nb\n\rc\rd\n", "{s}a\n{s}b\n{s}c\rd\n"), rx(5, "e", "{s}e"), rx(6, "f", "f")});
    trafficRow("stamps: auto feed has no effect on text", {.stamps = true, .autoFeed = true},
               {rx(0, "a", "{s}a"), rx(500, "b", "b")});
    trafficRow("stamps: hex breaks with a stamp without auto feed", {.stamps = true, .rxFormat = HexFormat},
               {rx(0, b1, "{s}01 "), rx(10, b2, "02 "), rx(60, b3, "\n{s}03 "), rx(70, b4, "04 ")});
    trafficRow("stamps: hex first chunk mid-line", {.stamps = true, .rxFormat = HexFormat, .lineEnded = false},
               {rx(0, b1, "\n{s}01 ")});

    // Sent chunks
    trafficRow("sent text after an unfinished received line", text, {rx(0, "abc", "abc"), tx(1, "AT", "\nAT")});
    trafficRow("sent hex ends its line", {.txFormat = HexFormat},
               {rx(0, "abc", "abc"), tx(1, "AT", "\n41 54 \n"), tx(2, b1, "01 \n")});
    trafficRow("stamps: sent text after an unfinished line", stamped,
               {rx(0, "abc", "{s}abc"), tx(1, "AT\r\n", "\n{s}AT\n"), rx(2, "x", "{s}x")});

    // Formats that show nothing
    trafficRow("other receive format shows nothing", {.rxFormat = 0}, {rx(0, "abc", ""), tx(1, "AT", "AT")});
    trafficRow("other send format gives only the line start", {.txFormat = 3},
               {rx(0, "abc", "abc"), tx(1, "AT", "\n"), tx(2, "AT", "")});

    // The log. A fresh log formatter starts mid-line with the stamp due, as after an opening.
    const Options opened{.log = true, .stamps = true, .lineEnded = false, .stampDue = true};
    trafficRow("log: stamp due at opening", opened, {rx(0, "hello", "{s}hello"), rx(5, "x\n", "x\n"), rx(6, "y", "{s}y")});
    trafficRow("log: sent text starts a new line and leaves the stamp due",
               {.log = true, .stamps = true, .lineEnded = false, .stampDue = true, .dueAfter = true},
               {tx(0, "AT\r\n", "\n{s}AT\n")});
    trafficRow("log: stamp due after a line end gives one stamp", {.log = true, .stamps = true, .stampDue = true},
               {rx(0, "a", "{s}a")});
    trafficRow("log: received text never broken by gaps; stamps off ignore the due stamp",
               {.log = true, .autoFeed = true, .stampDue = true, .dueAfter = true},
               {rx(0, "a", "a"), rx(1000, "b", "b"), rx(5000, "c\n", "c\n")});
    trafficRow("log: hex stamps start a new line even after a line end", {.log = true, .stamps = true, .rxFormat = HexFormat},
               {rx(0, b1, "\n{s}01 "), rx(10, b2, "02 "), rx(60, b3, "\n{s}03 ")});
    trafficRow("log: hex without stamps follows auto feed",
               {.log = true, .rxFormat = HexFormat, .autoFeed = true, .lineEnded = false},
               {rx(0, b1, "\n01 "), rx(10, b2, "02 "), rx(60, b3, "\n03 ")});

    // The console
    trafficRow("console: sent, format other than text is hex", {.console = true, .stamps = true, .txFormat = 0},
               {tx(0, "A", "41 ")});
    trafficRow("console: carriage returns folded, received stamps after line feeds", {.console = true, .stamps = true},
               {rx(0, "a\r\nb\n\rc\rd\n", "a\n{s}b\n{s}cd\n{s}")});
    trafficRow("console: sent stamps use the Tx pattern", {.console = true, .stamps = true}, {tx(0, "AT\r\n", "AT\n{s}")});
}

// The frame is what goes on the wire before the checksum; the history keeps the
// typed text unless it is given. Text the encoding cannot carry is not sent at all.
void tst_SessionText::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("history");
    QTest::addColumn<bool>("ok");
    const auto row = [](const char *name, const QString &text, const Setup &setup, const QByteArray &frame,
                        const char *history = nullptr, bool ok = true) {
        QTest::newRow(name) << text << setup << frame << (history ? QString::fromUtf8(history) : text) << ok;
    };
    const QString silk(QChar(0x4E1D));

    row("every LF becomes CR", QStringLiteral("A\nB"), {.ending = 1}, "A\rB\r");
    row("LF CR", QStringLiteral("x"), {.ending = 4}, "x\n\r");
    row("mode 0 as typed", QStringLiteral("A\nB"), {.ending = 0}, "A\nB");
    row("line ending switched off", QStringLiteral("AT"), {.ending = 3, .autoFeed = false}, "AT");
    row("UTF-8 text", silk, {.ending = 2}, "\xe4\xb8\x9d\n");
    row("GBK text, CR LF, CRC-32 over the encoded bytes", silk,
        {.ending = 3, .encoding = QStringLiteral("GBK"), .checksum = 5}, "\xcb\xbf\r\n");
    row("empty text", QString(), {.ending = 3, .checksum = 4}, "");
    row("Latin-1 cannot carry it: nothing is sent, the encoder says why", QStringLiteral("ok ") + silk,
        {.ending = 3, .encoding = QStringLiteral("ISO-8859-1"), .checksum = 4}, "", "", false);

    // Hex never gets a line ending, whatever the mode says.
    const Setup hex{.hex = true, .ending = 3};
    const Setup formatted{.hex = true, .ending = 3, .formatSend = true};
    row("hex: comment, lower case, Format Send", QStringLiteral("0a 0b//Note//second"), formatted, "\x0a\x0b", "0A 0B //Note");
    row("hex: comment as typed without Format Send", QStringLiteral("0a 0b//Note//second"), hex, "\x0a\x0b");
    row("hex: digits in the comment are neither sent nor summed", QStringLiteral("01//02 03"),
        {.hex = true, .checksum = 2}, "\x01");
    row("hex: only a comment", QStringLiteral("//hello"), formatted, "");
    row("hex: empty comment kept", QStringLiteral("7f//"), formatted, "\x7f", "7F //");
    row("hex: a blank as a pair's second digit is 0, a lone last digit is dropped", QStringLiteral("1 2"), formatted, "\x10", "10 ");
    row("hex: blanks of every kind, leading ones too", QStringLiteral("   00\r\n\tFF  0b"), hex, QByteArray("\x00\xff\x0b", 3));
    row("hex: character above U+00FF counts as 0", QChar(0x4E1D) + QStringLiteral("1"), hex, "\x01");
    row("hex: F alone has no checksum", QStringLiteral("F"), {.hex = true, .formatSend = true, .checksum = 4}, "", "");
}

void tst_SessionText::encode()
{
    QFETCH(QString, text);
    QFETCH(Setup, setup);
    QFETCH(QByteArray, frame);
    QFETCH(QString, history);
    QFETCH(bool, ok);

    const SendEncodeResult r = encodeSend(text, setup.hex, settingsOf(setup));
    QCOMPARE(r.ok, ok);
    QCOMPARE(r.bytes, ok ? appendChecksum(frame, setup.checksum) : QByteArray());
    QCOMPARE(r.historyText, history);
    QCOMPARE(r.error, ok ? QString() : WireTextCodecRegistry::encode(text, setup.encoding).error);
}

void tst_SessionText::history_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("size");

    const QStringList abc{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QTest::newRow("same text twice leaves one") << abc << QStringLiteral("b") << 3;
    QTest::newRow("256 grows to 257") << numbered(256) << QStringLiteral("new") << 257;
    QTest::newRow("257 stays 257") << numbered(257) << QStringLiteral("new") << 257;
    QTest::newRow("oversized stored list capped") << numbered(400) << QStringLiteral("new") << 257;
    QTest::newRow("full, duplicate in the middle") << numbered(257) << QStringLiteral("entry 10") << 256;
    QTest::newRow("full, duplicate is the last") << numbered(257) << QStringLiteral("entry 256") << 257;
    QTest::newRow("stored duplicates all removed") << abc + QStringList{QStringLiteral("b")} << QStringLiteral("b") << 3;
}

void tst_SessionText::history()
{
    QFETCH(QStringList, before);
    QFETCH(QString, entry);
    QFETCH(int, size);

    const QStringList after = updatedHistory(before, entry);
    QCOMPARE(after.size(), size);
    QCOMPARE(after.first(), entry);
    // The others follow in their order, without the entry.
    QStringList rest = before;
    rest.removeAll(entry);
    QCOMPARE(after.mid(1), rest.mid(0, after.size() - 1));
}

QTEST_APPLESS_MAIN(tst_SessionText)
#include "tst_sessiontext.moc"
