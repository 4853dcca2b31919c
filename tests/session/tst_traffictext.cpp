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
Q_DECLARE_METATYPE(Steps)

namespace {

const QDateTime kStart(QDate(2026, 3, 14), QTime(9, 26, 53, 589));

QString u8(const char *s)
{
    return QString::fromUtf8(s);
}

Step rx(int ms, const QByteArray &bytes, const char *expected)
{
    return {ms, 1, bytes, u8(expected)};
}

Step tx(int ms, const QByteArray &bytes, const char *expected)
{
    return {ms, 2, bytes, u8(expected)};
}

struct Options
{
    bool stamps = false;
    int rxFormat = TextFormat;
    int txFormat = TextFormat;
    bool autoFeed = false;
    int interval = 50;
    bool lineEnded = true;
    bool stampDue = false;
};

} // namespace

class tst_TrafficText : public QObject
{
    Q_OBJECT

private:
    void addSequenceColumns();
    void addRow(const char *name, const Options &o, const Steps &steps, bool dueAfter = false);
    void runSequence(TrafficFormatter::Target target);

private slots:
    void hexTextEveryByte();
    void controlCharsMatchCategory();
    void stamping_data();
    void stamping();

    void display_data();
    void display();
    void log_data();
    void log();

    void console_data();
    void console();
};

void tst_TrafficText::hexTextEveryByte()
{
    QByteArray all;
    QString expected;
    for (int b = 0; b < 256; ++b) {
        all.append(char(b));
        expected += QString::asprintf("%02X ", b);
    }
    QCOMPARE(toHexText(all), expected);
}

void tst_TrafficText::controlCharsMatchCategory()
{
    QString all;
    for (int c = 0; c < 0x10000; ++c)
        all.append(QChar(char16_t(c)));
    const QString marked = markControlChars(all);
    QCOMPARE(marked.size(), all.size());
    for (int c = 0; c < 0x10000; ++c) {
        const QChar ch{char16_t(c)};
        const bool control = ch.category() == QChar::Other_Control && c != '\t' && c != '\n'
                && c != '\r';
        const QChar want = control ? QChar(0x25A1) : ch;
        if (marked.at(c) != want)
            QFAIL(qPrintable(QStringLiteral("U+%1").arg(c, 4, 16, QLatin1Char('0'))));
    }
}

void tst_TrafficText::stamping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stamped");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("no line feed") << u8("abc") << u8("abc");
    QTest::newRow("trailing line feed only") << u8("abc\n") << u8("abc\n");
    QTest::newRow("lone line feed") << u8("\n") << u8("\n");
    QTest::newRow("inner line feed") << u8("a\nb") << u8("a\n<S>b");
    QTest::newRow("two lines") << u8("a\nb\n") << u8("a\n<S>b\n");
    QTest::newRow("empty lines") << u8("\n\n") << u8("\n<S>\n");
    QTest::newRow("CR LF folded") << u8("a\r\nb\r\n") << u8("a\n<S>b\n");
    QTest::newRow("LF CR folded") << u8("a\n\rb") << u8("a\n<S>b");
    QTest::newRow("CR LF before LF CR") << u8("\n\r\n") << u8("\n<S>\n");
    QTest::newRow("lone CR kept") << u8("a\rb") << u8("a\rb");
    QTest::newRow("leading line feed") << u8("\nx") << u8("\n<S>x");
}

void tst_TrafficText::stamping()
{
    QFETCH(QString, text);
    QFETCH(QString, stamped);
    QCOMPARE(stampLines(text, QStringLiteral("<S>")), stamped);
}

void tst_TrafficText::addSequenceColumns()
{
    QTest::addColumn<bool>("stamps");
    QTest::addColumn<int>("rxFormat");
    QTest::addColumn<int>("txFormat");
    QTest::addColumn<bool>("autoFeed");
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("lineEnded");
    QTest::addColumn<bool>("stampDue");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<bool>("dueAfter");
}

void tst_TrafficText::addRow(const char *name, const Options &o, const Steps &steps, bool dueAfter)
{
    QTest::newRow(name) << o.stamps << o.rxFormat << o.txFormat << o.autoFeed << o.interval
                        << o.lineEnded << o.stampDue << steps << dueAfter;
}

void tst_TrafficText::runSequence(TrafficFormatter::Target target)
{
    QFETCH(bool, stamps);
    QFETCH(int, rxFormat);
    QFETCH(int, txFormat);
    QFETCH(bool, autoFeed);
    QFETCH(int, interval);
    QFETCH(bool, lineEnded);
    QFETCH(bool, stampDue);
    QFETCH(Steps, steps);
    QFETCH(bool, dueAfter);

    const bool log = target == TrafficFormatter::Target::Log;
    FormatSetting s;
    s.ReceiveMsgForamt = rxFormat;
    s.SendMsgFormat = txFormat;
    s.RxAutoFeedLine = autoFeed;
    s.AutoFeedInterval = interval;
    s.DisplayMsgTime = log ? !stamps : stamps; // the other target's switch must not matter
    s.LogTimestampEnabled = log ? stamps : !stamps;

    const auto rxDecoder = WireTextCodecRegistry::createDecoder(s.ReceiveEncoding);
    const auto txDecoder = WireTextCodecRegistry::createDecoder(s.SendEncoding);
    TrafficFormatter f(target);
    f.setLineEnded(lineEnded);
    f.setStampDue(stampDue);

    for (int i = 0; i < steps.size(); ++i) {
        const Step &step = steps.at(i);
        const rxData chunk{kStart.addMSecs(step.atMs), step.direction, step.bytes};
        // Stamp text as the pane expands it; the log pattern stands in for the log writer's.
        QString stamp;
        if (log)
            stamp = chunk.time.toString(QStringLiteral("'<'hh:mm:ss.zzz'> '"));
        else
            stamp = chunk.time.toString(chunk.direction == 2 ? s.TxTimeFormat : s.RxTimeFormat);
        const QString out = f.format(chunk, chunk.direction == 2 ? txDecoder.get() : rxDecoder.get(),
                                     s, stamps ? stamp : QString());
        QString expected = step.expected;
        expected.replace(QStringLiteral("{s}"), stamp);
        if (out != expected) {
            qWarning("chunk %d: got \"%s\", want \"%s\"", i,
                     qPrintable(QString(out).replace(QLatin1Char('\n'), QStringLiteral("\\n"))),
                     qPrintable(expected.replace(QLatin1Char('\n'), QStringLiteral("\\n"))));
            QFAIL("formatted text differs");
        }
        if (!out.isEmpty())
            QCOMPARE(f.lineEnded(), out.endsWith(QLatin1Char('\n')));
        QCOMPARE(f.lastChunkTime(), chunk.time);
    }
    if (log)
        QCOMPARE(f.stampDue(), dueAfter);
}

void tst_TrafficText::display_data()
{
    addSequenceColumns();
    const QByteArray b1("\x01"), b2("\x02"), b3("\x03"), b4("\x04"), b5("\x05");

    Options text;
    Options feed;
    feed.autoFeed = true;
    Options stamped;
    stamped.stamps = true;
    Options hexFeed = feed;
    hexFeed.rxFormat = HexFormat;

    // Received text without stamps
    addRow("no stamps: plain text", text, {rx(0, "abc", "abc"), rx(1, "ABC\r\n", "ABC\r\n")});
    addRow("auto feed: 10 ms apart stay on one line", feed, {rx(0, "a", "a"), rx(10, "b", "b")});
    addRow("auto feed: 60 ms apart are broken", feed, {rx(0, "a", "a"), rx(60, "b", "\nb")});
    addRow("auto feed: a gap of exactly the interval stays", feed,
           {rx(0, "a", "a"), rx(50, "b", "b")});
    addRow("auto feed: gap counted from the last chunk", feed,
           {rx(0, "a", "a"), rx(40, "b", "b"), rx(80, "c", "c"), rx(200, "d", "\nd")});
    addRow("auto feed: after a line feed never an extra one", feed,
           {rx(0, "a\n", "a\n"), rx(500, "b", "b"), rx(1000, "c\r\n", "\nc\r\n"),
            rx(2000, "d", "d")});
    addRow("auto feed off: gaps ignored", text, {rx(0, "a", "a"), rx(500, "b", "b")});
    Options midLine = feed;
    midLine.lineEnded = false;
    addRow("auto feed: no earlier chunk means no gap", midLine, {rx(0, "a", "a")});
    addRow("control characters marked", text, {rx(0, "a\x01\tb\x7f", "a\u25A1\tb\u25A1")});
    addRow("character split across chunks keeps the line state", feed,
           {rx(0, "x\n", "x\n"), rx(10, "\xe4\xb8", ""), rx(200, "\x9d", "\u4E1D")});

    // Received hex without stamps
    addRow("hex: 00 FF", hexFeed, {rx(0, QByteArray("\x00\xff", 2), "00 FF ")});
    addRow("hex auto feed: breaks once the interval has passed since the last break", hexFeed,
           {rx(0, b1, "01 "), rx(10, b2, "02 "), rx(60, b3, "\n03 "), rx(100, b4, "04 "),
            rx(111, b5, "\n05 ")});
    Options hexOnly;
    hexOnly.rxFormat = HexFormat;
    addRow("hex without auto feed never breaks", hexOnly, {rx(0, b1, "01 "), rx(500, b2, "02 ")});

    // Received with stamps
    addRow("stamps: two lines after a line feed", stamped,
           {rx(0, "a\nb\n", "{s}a\n{s}b\n"), rx(5, "c", "{s}c"), rx(6, "d", "d")});
    addRow("stamps: line split over chunks", stamped,
           {rx(0, "ab", "{s}ab"), rx(5, "c\r\nd", "c\n{s}d")});
    Options stampedFeed = stamped;
    stampedFeed.autoFeed = true;
    addRow("stamps: auto feed has no effect on text", stampedFeed,
           {rx(0, "a", "{s}a"), rx(500, "b", "b")});
    Options stampedHex = stamped;
    stampedHex.rxFormat = HexFormat;
    addRow("stamps: hex breaks with a stamp without auto feed", stampedHex,
           {rx(0, b1, "{s}01 "), rx(10, b2, "02 "), rx(60, b3, "\n{s}03 "), rx(70, b4, "04 ")});
    Options stampedHexMid = stampedHex;
    stampedHexMid.lineEnded = false;
    addRow("stamps: hex first chunk mid-line", stampedHexMid, {rx(0, b1, "\n{s}01 ")});

    // Sent chunks
    addRow("sent text after an unfinished received line", text,
           {rx(0, "abc", "abc"), tx(1, "AT", "\nAT")});
    addRow("sent text after a line end", text, {rx(0, "ok\r\n", "ok\r\n"), tx(1, "AT\r\n", "AT\r\n")});
    Options txHex;
    txHex.txFormat = HexFormat;
    addRow("sent hex ends its line", txHex,
           {rx(0, "abc", "abc"), tx(1, "AT", "\n41 54 \n"), tx(2, b1, "01 \n")});
    addRow("stamps: sent text after an unfinished line", stamped,
           {rx(0, "abc", "{s}abc"), tx(1, "AT\r\n", "\n{s}AT\n"), rx(2, "x", "{s}x")});
    addRow("stamps: sent two lines", stamped, {tx(0, "a\nb", "{s}a\n{s}b")});
    Options stampedTxHex = stamped;
    stampedTxHex.txFormat = HexFormat;
    addRow("stamps: sent hex", stampedTxHex, {rx(0, "abc", "{s}abc"), tx(1, b1, "\n{s}01 \n")});

    // Formats that show nothing
    Options noRx;
    noRx.rxFormat = 0;
    addRow("other receive format shows nothing", noRx, {rx(0, "abc", ""), tx(1, "AT", "AT")});
    Options noTx;
    noTx.txFormat = 3;
    addRow("other send format gives only the line start", noTx,
           {rx(0, "abc", "abc"), tx(1, "AT", "\n"), tx(2, "AT", "")});
    Options noTxStamped = noTx;
    noTxStamped.stamps = true;
    addRow("other send format with stamps gives the stamp", noTxStamped,
           {rx(0, "abc", "{s}abc"), tx(1, "AT", "\n{s}")});
}

void tst_TrafficText::display()
{
    runSequence(TrafficFormatter::Target::Display);
}

void tst_TrafficText::log_data()
{
    addSequenceColumns();
    const QByteArray b1("\x01"), b2("\x02"), b3("\x03");

    // A fresh log formatter starts mid-line with the stamp due, as after an opening.
    Options opened;
    opened.stamps = true;
    opened.lineEnded = false;
    opened.stampDue = true;
    addRow("log: stamp due at opening", opened,
           {rx(0, "hello", "{s}hello"), rx(5, "x\n", "x\n"), rx(6, "y", "{s}y")});
    addRow("log: stamp due with a line feed inside", opened, {rx(0, "a\nb", "{s}a\n{s}b")});
    Options openedAtLineEnd = opened;
    openedAtLineEnd.lineEnded = true;
    addRow("log: stamp due after a line end gives one stamp", openedAtLineEnd,
           {rx(0, "a", "{s}a")});
    addRow("log: sent chunks leave the due stamp", openedAtLineEnd,
           {tx(0, "AT", "{s}AT"), rx(1, "ok", "{s}ok"), rx(2, "!", "!")});
    addRow("log: sent text starts a new line", opened, {tx(0, "AT\r\n", "\n{s}AT\n")}, true);

    Options feed;
    feed.autoFeed = true;
    addRow("log: received text never broken by gaps", feed,
           {rx(0, "a", "a"), rx(1000, "b", "b"), rx(5000, "c\n", "c\n")});
    Options plainDue = feed;
    plainDue.stampDue = true;
    addRow("log: stamps off ignore the due stamp", plainDue, {rx(0, "a", "a")}, true);

    Options stampedHex;
    stampedHex.stamps = true;
    stampedHex.rxFormat = HexFormat;
    addRow("log: hex stamps start a new line even after a line end", stampedHex,
           {rx(0, b1, "\n{s}01 "), rx(10, b2, "02 "), rx(60, b3, "\n{s}03 ")});
    Options hexFeed = feed;
    hexFeed.rxFormat = HexFormat;
    hexFeed.lineEnded = false;
    addRow("log: hex without stamps follows auto feed", hexFeed,
           {rx(0, b1, "\n01 "), rx(10, b2, "02 "), rx(60, b3, "\n03 ")});
    Options txHex;
    txHex.txFormat = HexFormat;
    txHex.lineEnded = false;
    addRow("log: sent hex", txHex, {tx(0, "AT", "\n41 54 \n")});
}

void tst_TrafficText::log()
{
    runSequence(TrafficFormatter::Target::Log);
}

void tst_TrafficText::console_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("stamps");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected"); // "{s}" is the stamp of the console's clock

    QTest::newRow("hex") << 1 << int(HexFormat) << false << QByteArray("\x00\xff", 2)
                         << u8("00 FF ");
    QTest::newRow("format other than text is hex") << 2 << 0 << true << QByteArray("A")
                                                   << u8("41 ");
    QTest::newRow("carriage returns folded") << 1 << int(TextFormat) << false
                                             << QByteArray("a\r\nb\n\rc\rd") << u8("a\nb\ncd");
    QTest::newRow("control characters marked") << 1 << int(TextFormat) << false
                                               << QByteArray("\x01x") << u8("\u25A1x");
    QTest::newRow("received stamps after line feeds") << 1 << int(TextFormat) << true
                                                      << QByteArray("a\r\nb\n") << u8("a\n{s}b\n{s}");
    QTest::newRow("sent stamps use the Tx pattern") << 2 << int(TextFormat) << true
                                                    << QByteArray("AT\r\n") << u8("AT\n{s}");
}

void tst_TrafficText::console()
{
    QFETCH(int, direction);
    QFETCH(int, format);
    QFETCH(bool, stamps);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    FormatSetting s;
    s.ReceiveMsgForamt = direction == 1 ? format : TextFormat;
    s.SendMsgFormat = direction == 2 ? format : TextFormat;
    s.DisplayMsgTime = stamps;
    s.LogTimestampEnabled = !stamps;
    const QDateTime now = kStart.addSecs(3600);
    expected.replace(QStringLiteral("{s}"),
                     now.toString(direction == 2 ? s.TxTimeFormat : s.RxTimeFormat));
    QCOMPARE(formatForConsole(bytes, direction, nullptr, s, now), expected);
}

QTEST_APPLESS_MAIN(tst_TrafficText)
#include "tst_traffictext.moc"
