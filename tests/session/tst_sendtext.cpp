#include "session/sendtext.h"

#include "codec/checksum.h"
#include "codec/wiretextcodecregistry.h"
#include "settings/formatsetting.h"

#include <QTest>

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

class tst_SendText : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void history_data();
    void history();
};

// The frame is what goes on the wire before the checksum; the history keeps the
// typed text unless it is given. Text the encoding cannot carry is not sent at all.
void tst_SendText::encode_data()
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
    row("hex: 1 2", QStringLiteral("1 2"), formatted, "\x10", "10 ");
    row("hex: lone trailing digit ignored", QStringLiteral("ABC"), hex, "\xab");
    row("hex: blanks of every kind, leading ones too", QStringLiteral("   00\r\n\tFF  0b"), hex, QByteArray("\x00\xff\x0b", 3));
    row("hex: character above U+00FF counts as 0", QChar(0x4E1D) + QStringLiteral("1"), hex, "\x01");
    row("hex: F alone has no checksum", QStringLiteral("F"), {.hex = true, .formatSend = true, .checksum = 4}, "", "");
}

void tst_SendText::encode()
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

void tst_SendText::history_data()
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

void tst_SendText::history()
{
    QFETCH(QStringList, before);
    QFETCH(QString, entry);
    QFETCH(int, size);

    const QStringList after = updatedHistory(before, entry);
    QCOMPARE(after.size(), size);
    QCOMPARE(after.first(), entry);
    QCOMPARE(after.count(entry), 1);
    // The others keep their order, newest first.
    QStringList rest = before;
    rest.removeAll(entry);
    QCOMPARE(after.mid(1), rest.mid(0, after.size() - 1));
}

QTEST_APPLESS_MAIN(tst_SendText)
#include "tst_sendtext.moc"
