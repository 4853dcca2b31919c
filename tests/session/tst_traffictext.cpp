#include "session/traffictext.h"

#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"
#include "settings/formatsetting.h"

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

namespace {

const QDateTime kStart(QDate(2026, 3, 14), QTime(9, 26, 53, 589));

Step rx(int ms, const QByteArray &bytes, const char *expected)
{
    return {ms, 1, bytes, QString::fromUtf8(expected)};
}

Step tx(int ms, const QByteArray &bytes, const char *expected)
{
    return {ms, 2, bytes, QString::fromUtf8(expected)};
}

void addRow(const char *name, const Options &o, const Steps &steps)
{
    QTest::newRow(name) << o << steps;
}

} // namespace

class tst_TrafficText : public QObject
{
    Q_OBJECT

private slots:
    void format_data();
    void format();
};

void tst_TrafficText::format()
{
    QFETCH(Options, o);
    QFETCH(Steps, steps);

    const bool log = o.log;
    FormatSetting s; // the console follows the display's stamp switch
    s.ReceiveMsgForamt = o.rxFormat;
    s.SendMsgFormat = o.txFormat;
    s.RxAutoFeedLine = o.autoFeed;
    s.AutoFeedInterval = 50;
    s.DisplayMsgTime = log ? !o.stamps : o.stamps; // the other target's switch must not matter
    s.LogTimestampEnabled = log ? o.stamps : !o.stamps;

    const auto rxDecoder = WireTextCodecRegistry::createDecoder(s.ReceiveEncoding);
    const auto txDecoder = WireTextCodecRegistry::createDecoder(s.SendEncoding);
    TrafficFormatter f(log ? TrafficFormatter::Target::Log : TrafficFormatter::Target::Display);
    f.setLineEnded(o.lineEnded);
    f.setStampDue(o.stampDue);

    for (const Step &step : steps) {
        const rxData chunk{kStart.addMSecs(step.atMs), step.direction, step.bytes};
        // Stamp text as the pane expands it; the log pattern stands in for the log writer's.
        const QString stamp = chunk.time.toString(log ? QStringLiteral("'<'hh:mm:ss.zzz'> '")
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
    if (log)
        QCOMPARE(f.stampDue(), o.dueAfter);
}

void tst_TrafficText::format_data()
{
    QTest::addColumn<Options>("o");
    QTest::addColumn<Steps>("steps");
    const QByteArray b1("\x01"), b2("\x02"), b3("\x03"), b4("\x04"), b5("\x05");
    const Options text;
    const Options feed{.autoFeed = true};
    const Options stamped{.stamps = true};

    // Received text without stamps
    addRow("auto feed off: text as it is, gaps ignored", text, {rx(0, "abc", "abc"), rx(500, "ABC\r\n", "ABC\r\n")});
    addRow("auto feed: a gap longer than the interval since the last chunk breaks, none before the first",
           {.autoFeed = true, .lineEnded = false},
           {rx(0, "a", "a"), rx(40, "b", "b"), rx(80, "c", "c"), rx(130, "d", "d"), rx(250, "e", "\ne")});
    addRow("auto feed: after a line feed never an extra one", feed,
           {rx(0, "a\n", "a\n"), rx(500, "b", "b"), rx(1000, "c\r\n", "\nc\r\n"), rx(2000, "d", "d")});
    // U+001F, U+007F and U+009F are the last of their ranges; TAB, blank, ~ and U+00A0 are not controls.
    addRow("control characters marked at the edges of their ranges", text,
           {rx(0, "\x1f\t \x7e\x7f\xc2\x9f\xc2\xa0", "\u25A1\t ~\u25A1\u25A1\u00A0")});
    addRow("character split across chunks keeps the line state", feed,
           {rx(0, "x\n", "x\n"), rx(10, "\xe4\xb8", ""), rx(200, "\x9d", "\u4E1D")});

    // Received hex without stamps
    addRow("hex auto feed: breaks once the interval has passed since the last break",
           {.rxFormat = HexFormat, .autoFeed = true},
           {rx(0, b1, "01 "), rx(10, b2, "02 "), rx(60, b3, "\n03 "), rx(100, b4, "04 "), rx(111, b5, "\n05 ")});
    QByteArray all;
    QString allHex;
    for (int b = 0; b < 256; ++b) {
        all.append(char(b));
        allHex += QString::asprintf("%02X ", b);
    }
    addRow("hex: every byte, no break without auto feed", {.rxFormat = HexFormat}, {{0, 1, all, allHex}, rx(500, b2, "02 ")});

    // Received with stamps
    addRow("stamps: on each line; CR LF and LF CR fold, a lone CR stays", stamped,
           {rx(0, "a\r\nb\n\rc\rd\n", "{s}a\n{s}b\n{s}c\rd\n"), rx(5, "e", "{s}e"), rx(6, "f", "f")});
    addRow("stamps: auto feed has no effect on text", {.stamps = true, .autoFeed = true},
           {rx(0, "a", "{s}a"), rx(500, "b", "b")});
    addRow("stamps: hex breaks with a stamp without auto feed", {.stamps = true, .rxFormat = HexFormat},
           {rx(0, b1, "{s}01 "), rx(10, b2, "02 "), rx(60, b3, "\n{s}03 "), rx(70, b4, "04 ")});
    addRow("stamps: hex first chunk mid-line", {.stamps = true, .rxFormat = HexFormat, .lineEnded = false},
           {rx(0, b1, "\n{s}01 ")});

    // Sent chunks
    addRow("sent text after an unfinished received line", text, {rx(0, "abc", "abc"), tx(1, "AT", "\nAT")});
    addRow("sent hex ends its line", {.txFormat = HexFormat},
           {rx(0, "abc", "abc"), tx(1, "AT", "\n41 54 \n"), tx(2, b1, "01 \n")});
    addRow("stamps: sent text after an unfinished line", stamped,
           {rx(0, "abc", "{s}abc"), tx(1, "AT\r\n", "\n{s}AT\n"), rx(2, "x", "{s}x")});

    // Formats that show nothing
    addRow("other receive format shows nothing", {.rxFormat = 0}, {rx(0, "abc", ""), tx(1, "AT", "AT")});
    addRow("other send format gives only the line start", {.txFormat = 3},
           {rx(0, "abc", "abc"), tx(1, "AT", "\n"), tx(2, "AT", "")});

    // The log. A fresh log formatter starts mid-line with the stamp due, as after an opening.
    const Options opened{.log = true, .stamps = true, .lineEnded = false, .stampDue = true};
    addRow("log: stamp due at opening", opened, {rx(0, "hello", "{s}hello"), rx(5, "x\n", "x\n"), rx(6, "y", "{s}y")});
    addRow("log: sent text starts a new line and leaves the stamp due",
           {.log = true, .stamps = true, .lineEnded = false, .stampDue = true, .dueAfter = true},
           {tx(0, "AT\r\n", "\n{s}AT\n")});
    addRow("log: stamp due after a line end gives one stamp", {.log = true, .stamps = true, .stampDue = true},
           {rx(0, "a", "{s}a")});
    addRow("log: received text never broken by gaps; stamps off ignore the due stamp",
           {.log = true, .autoFeed = true, .stampDue = true, .dueAfter = true},
           {rx(0, "a", "a"), rx(1000, "b", "b"), rx(5000, "c\n", "c\n")});
    addRow("log: hex stamps start a new line even after a line end", {.log = true, .stamps = true, .rxFormat = HexFormat},
           {rx(0, b1, "\n{s}01 "), rx(10, b2, "02 "), rx(60, b3, "\n{s}03 ")});
    addRow("log: hex without stamps follows auto feed",
           {.log = true, .rxFormat = HexFormat, .autoFeed = true, .lineEnded = false},
           {rx(0, b1, "\n01 "), rx(10, b2, "02 "), rx(60, b3, "\n03 ")});

    // The console
    addRow("console: sent, format other than text is hex", {.console = true, .stamps = true, .txFormat = 0},
           {tx(0, "A", "41 ")});
    addRow("console: carriage returns folded, received stamps after line feeds", {.console = true, .stamps = true},
           {rx(0, "a\r\nb\n\rc\rd\n", "a\n{s}b\n{s}cd\n{s}")});
    addRow("console: sent stamps use the Tx pattern", {.console = true, .stamps = true}, {tx(0, "AT\r\n", "AT\n{s}")});
}

QTEST_APPLESS_MAIN(tst_TrafficText)
#include "tst_traffictext.moc"
