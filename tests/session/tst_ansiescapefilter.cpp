#include "session/ansiescapefilter.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

const char kEsc = '\x1b';

QByteArray esc(const char *rest)
{
    return QByteArray(1, kEsc) + QByteArray(rest);
}

QByteArray repeated(char c, int n)
{
    return QByteArray(n, c);
}

QByteArray runWhole(const QByteArray &input, bool c1, AnsiEscapeFilter *filter = nullptr)
{
    AnsiEscapeFilter local;
    AnsiEscapeFilter &f = filter ? *filter : local;
    f.setC1Controls(c1);
    return f.filter(input);
}

} // namespace

class tst_AnsiEscapeFilter : public QObject
{
    Q_OBJECT

private:
    void rows();

private slots:
    void whole_data() { rows(); }
    void whole();
    void byteByByte_data() { rows(); }
    void byteByByte();
    void everySplit_data() { rows(); }
    void everySplit();
    void randomSplits_data() { rows(); }
    void randomSplits();

    void floodsStayBounded_data();
    void floodsStayBounded();
    void c1Encodings_data();
    void c1Encodings();
};

// Input, the text that comes out of the whole input, and the state and held
// bytes left afterwards. Rows follow the filter's state table.
void tst_AnsiEscapeFilter::rows()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("c1");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("endState");
    QTest::addColumn<QByteArray>("endPending");

    const int g = AnsiEscapeFilter::Ground;

    // Ground
    QTest::newRow("ground: plain text passes") << QByteArray("hello\r\n") << false
                                               << QByteArray("hello\r\n") << g << QByteArray();
    QTest::newRow("ground: NUL and C0 bytes pass")
            << QByteArray("\x00\x01\x07\x7f", 4) << false << QByteArray("\x00\x01\x07\x7f", 4) << g
            << QByteArray();
    QTest::newRow("ground: ESC is held") << esc("") << false << QByteArray()
                                         << int(AnsiEscapeFilter::Escape) << esc("");
    QTest::newRow("ground: 0x9B starts CSI (C1 on)")
            << QByteArray("a\x9b" "31mX") << true << QByteArray("aX") << g << QByteArray();
    QTest::newRow("ground: 0x9D starts OSC (C1 on)")
            << QByteArray("\x9d" "0;title\x07X") << true << QByteArray("X") << g << QByteArray();
    QTest::newRow("ground: 0x9B is text with C1 off")
            << QByteArray("\x9b" "31mX") << false << QByteArray("\x9b" "31mX") << g << QByteArray();
    QTest::newRow("ground: UTF-8 continuation 0x9D kept")
            << QByteArray("\xe4\xb8\x9d abc") << false << QByteArray("\xe4\xb8\x9d abc") << g
            << QByteArray();
    QTest::newRow("ground: UTF-8 continuation 0x9B kept")
            << QByteArray("\xc4\x9bm") << false << QByteArray("\xc4\x9bm") << g << QByteArray();

    // After ESC
    QTest::newRow("escape: [ enters CSI") << esc("[") << false << QByteArray()
                                          << int(AnsiEscapeFilter::Csi) << esc("[");
    QTest::newRow("escape: ] enters OSC") << esc("]") << false << QByteArray()
                                          << int(AnsiEscapeFilter::Osc) << esc("]");
    QTest::newRow("escape: ESC A shown") << esc("A") << false << esc("A") << g << QByteArray();
    QTest::newRow("escape: ESC ESC shown") << esc("\x1b" "b") << false << esc("\x1b" "b") << g
                                           << QByteArray();

    // CSI
    QTest::newRow("csi: colour removed") << esc("[31mred") + esc("[0m") << false
                                         << QByteArray("red") << g << QByteArray();
    QTest::newRow("csi: ESC [ 3 | 1 m X") << esc("[31mX") << false << QByteArray("X") << g
                                          << QByteArray();
    QTest::newRow("csi: final @") << esc("[2@X") << false << QByteArray("X") << g << QByteArray();
    QTest::newRow("csi: final ~") << esc("[15~X") << false << QByteArray("X") << g << QByteArray();
    QTest::newRow("csi: private and intermediate bytes") << esc("[?25 hX") << false
                                                         << QByteArray("X") << g << QByteArray();
    QTest::newRow("csi: ESC restarts") << esc("[3") + esc("[1mX") << false << esc("[3X") << g
                                       << QByteArray();
    QTest::newRow("csi: LF aborts as text") << esc("[3\nY") << false << esc("[3\nY") << g
                                            << QByteArray();
    QTest::newRow("csi: 0x80 aborts as text") << esc("[3\x80Y") << false << esc("[3\x80Y") << g
                                              << QByteArray();
    QTest::newRow("csi: 0x9B inside aborts as text (C1 on)")
            << esc("[3\x9bY") << true << esc("[3\x9bY") << g << QByteArray();
    QTest::newRow("csi: 256 held bytes still a sequence")
            << esc("[") + repeated('1', 254) + "mX" << false << QByteArray("X") << g << QByteArray();
    QTest::newRow("csi: 257th byte gives it back")
            << esc("[") + repeated('1', 255) + "mX" << false << esc("[") + repeated('1', 255) + "mX"
            << g << QByteArray();
    QTest::newRow("csi: unfinished stays held") << esc("[12;3") << false << QByteArray()
                                                << int(AnsiEscapeFilter::Csi) << esc("[12;3");

    // OSC
    QTest::newRow("osc: BEL ends") << esc("]0;title\x07X") << false << QByteArray("X") << g
                                   << QByteArray();
    QTest::newRow("osc: 0x9C ends (C1 on)") << esc("]0;t\x9cX") << true << QByteArray("X") << g
                                            << QByteArray();
    QTest::newRow("osc: 0x9C is content with C1 off") << esc("]0;t\x9cX\x07Y") << false
                                                      << QByteArray("Y") << g << QByteArray();
    QTest::newRow("osc: ESC backslash ends") << esc("]0;t") + esc("\\X") << false
                                             << QByteArray("X") << g << QByteArray();
    QTest::newRow("osc: interrupted by LF") << esc("]0;title\nX") << false << QByteArray("\nX")
                                            << g << QByteArray();
    QTest::newRow("osc: interrupted by CR") << esc("]0;title\rX") << false << QByteArray("\rX")
                                            << g << QByteArray();
    QTest::newRow("osc: 4096 held bytes still a sequence")
            << esc("]") + repeated('a', 4094) + "\x07X" << false << QByteArray("X") << g
            << QByteArray();
    QTest::newRow("osc: 4097th byte gives it back")
            << esc("]") + repeated('a', 4095) + "X" << false << esc("]") + repeated('a', 4095) + "X"
            << g << QByteArray();
    QTest::newRow("osc: unfinished stays held") << esc("]2;ab") << false << QByteArray()
                                                << int(AnsiEscapeFilter::Osc) << esc("]2;ab");

    // ESC inside OSC
    QTest::newRow("osc esc: 0x9C ends (C1 on)") << esc("]t\x1b\x9cX") << true << QByteArray("X")
                                                << g << QByteArray();
    QTest::newRow("osc esc: ESC stays") << esc("]t\x1b\x1b\\X") << false << QByteArray("X") << g
                                        << QByteArray();
    QTest::newRow("osc esc: LF drops and shows LF") << esc("]t\x1b\nX") << false
                                                    << QByteArray("\nX") << g << QByteArray();
    QTest::newRow("osc esc: CR drops and shows CR") << esc("]t\x1b\rX") << false
                                                    << QByteArray("\rX") << g << QByteArray();
    QTest::newRow("osc esc: other returns to OSC") << esc("]t\x1bq\x07X") << false
                                                   << QByteArray("X") << g << QByteArray();
    QTest::newRow("osc esc: other past 4096 gives it back")
            << esc("]") + repeated('a', 4093) + "\x1bqX" << false
            << esc("]") + repeated('a', 4093) + "\x1bqX" << g << QByteArray();
    QTest::newRow("osc esc: ESC run past 4096 gives it back")
            << esc("]") + repeated(kEsc, 4095) + "X" << false
            << esc("]") + repeated(kEsc, 4095) + "X" << g << QByteArray();
    QTest::newRow("osc esc: unfinished stays held") << esc("]t\x1b") << false << QByteArray()
                                                    << int(AnsiEscapeFilter::OscEscape)
                                                    << esc("]t\x1b");

    QTest::newRow("mixed: prompt with colours and title")
            << esc("]0;user@host\x07") + esc("[1;32m") + "user@host" + esc("[0m") + ":~$ "
            << false << QByteArray("user@host:~$ ") << g << QByteArray();
}

void tst_AnsiEscapeFilter::whole()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, c1);
    QFETCH(QByteArray, expected);
    QFETCH(int, endState);
    QFETCH(QByteArray, endPending);

    AnsiEscapeFilter f;
    QCOMPARE(runWhole(input, c1, &f), expected);
    QCOMPARE(f.state(), endState);
    QCOMPARE(f.pending(), endPending);
}

void tst_AnsiEscapeFilter::byteByByte()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, c1);
    QFETCH(QByteArray, expected);
    QFETCH(int, endState);
    QFETCH(QByteArray, endPending);

    AnsiEscapeFilter f;
    f.setC1Controls(c1);
    QByteArray out;
    for (char c : input)
        out += f.filter(QByteArray(1, c));
    QCOMPARE(out, expected);
    QCOMPARE(f.state(), endState);
    QCOMPARE(f.pending(), endPending);
}

void tst_AnsiEscapeFilter::everySplit()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, c1);
    QFETCH(QByteArray, expected);

    for (qsizetype k = 0; k <= input.size(); ++k) {
        AnsiEscapeFilter f;
        f.setC1Controls(c1);
        QByteArray out = f.filter(input.left(k));
        out += f.filter(input.mid(k));
        if (out != expected)
            QFAIL(qPrintable(QStringLiteral("split at %1 differs").arg(k)));
    }
}

void tst_AnsiEscapeFilter::randomSplits()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, c1);
    QFETCH(QByteArray, expected);

    QRandomGenerator rng(20260601);
    for (int round = 0; round < 50; ++round) {
        AnsiEscapeFilter f;
        f.setC1Controls(c1);
        QByteArray out;
        qsizetype pos = 0;
        while (pos < input.size()) {
            const qsizetype len = 1 + rng.bounded(qMax<qsizetype>(1, qMin<qsizetype>(input.size(), 64)));
            out += f.filter(input.mid(pos, len));
            pos += len;
        }
        QCOMPARE(out, expected);
    }
}

// A device that never ends its sequences: nothing is held beyond the caps and
// every byte that is not part of a finished sequence comes out as text.
void tst_AnsiEscapeFilter::floodsStayBounded_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("allText");

    QTest::newRow("endless OSC content") << esc("]") << repeated('a', 1000) << true;
    QTest::newRow("endless ESC inside OSC") << esc("]") << repeated(kEsc, 1000) << true;
    QTest::newRow("endless CSI parameters") << esc("[") << repeated(';', 1000) << true;
    QTest::newRow("NUL flood") << QByteArray() << repeated('\0', 1000) << true;
    QTest::newRow("finished sequences back to back")
            << QByteArray() << esc("[1;31m") + esc("]0;t\x07") << false;
}

void tst_AnsiEscapeFilter::floodsStayBounded()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, body);
    QFETCH(bool, allText);

    AnsiEscapeFilter f;
    qint64 in = 0;
    qint64 out = 0;
    qsizetype maxPending = 0;
    for (int i = 0; i < 2000; ++i) {
        const QByteArray chunk = i == 0 ? head + body : body;
        in += chunk.size();
        out += f.filter(chunk).size();
        maxPending = qMax(maxPending, f.pending().size());
    }
    QVERIFY2(maxPending <= 4096, qPrintable(QString::number(maxPending)));
    if (allText)
        QCOMPARE(out + f.pending().size(), in);
    else
        QCOMPARE(out, 0);
}

void tst_AnsiEscapeFilter::c1Encodings_data()
{
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<bool>("c1");

    QTest::newRow("ISO-8859-1") << QStringLiteral("ISO-8859-1") << true;
    QTest::newRow("latin1 alias") << QStringLiteral("latin1") << true;
    QTest::newRow("UTF-8") << QStringLiteral("UTF-8") << false;
    QTest::newRow("GBK") << QStringLiteral("GBK") << false;
    QTest::newRow("Shift-JIS") << QStringLiteral("Shift-JIS") << false;
    QTest::newRow("Windows-1252") << QStringLiteral("Windows-1252") << false;
    QTest::newRow("unknown means UTF-8") << QStringLiteral("no-such") << false;
}

void tst_AnsiEscapeFilter::c1Encodings()
{
    QFETCH(QString, encoding);
    QFETCH(bool, c1);
    QCOMPARE(AnsiEscapeFilter::encodingHasC1Controls(encoding), c1);
}

QTEST_APPLESS_MAIN(tst_AnsiEscapeFilter)
#include "tst_ansiescapefilter.moc"
