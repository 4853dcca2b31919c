#include "session/sendtext.h"

#include "codec/wiretextcodecregistry.h"
#include "settings/formatsetting.h"

#include <QTest>

namespace {

// Reference checksums written out bit by bit, independent of the codec library.
QByteArray referenceChecksum(const QByteArray &data, int mode)
{
    if (data.isEmpty())
        return {};
    switch (mode) {
    case 1: {
        quint8 sum = 0;
        for (char c : data)
            sum = quint8(sum + quint8(c));
        return QByteArray(1, char(sum));
    }
    case 2: {
        quint8 x = 0;
        for (char c : data)
            x ^= quint8(c);
        return QByteArray(1, char(x));
    }
    case 3: {
        quint8 crc = 0;
        for (char c : data) {
            crc ^= quint8(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc & 0x80) ? quint8((crc << 1) ^ 0x07) : quint8(crc << 1);
        }
        return QByteArray(1, char(crc));
    }
    case 4: {
        quint16 crc = 0xFFFF;
        for (char c : data) {
            crc ^= quint8(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
        }
        QByteArray out;
        out.append(char(crc & 0xFF));
        out.append(char(crc >> 8));
        return out;
    }
    case 5: {
        quint32 crc = 0xFFFFFFFF;
        for (char c : data) {
            crc ^= quint8(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
        crc ^= 0xFFFFFFFF;
        QByteArray out;
        for (int k = 0; k < 4; ++k)
            out.append(char((crc >> (8 * k)) & 0xFF));
        return out;
    }
    default:
        return {};
    }
}

FormatSetting sendSettings(int lineEnding, int checksum = 0,
                           const QString &encoding = QStringLiteral("UTF-8"), bool formatSend = false)
{
    FormatSetting s;
    s.TxLineEndingMode = lineEnding;
    s.TxAutoFeedLine = lineEnding != 0;
    s.SendChecksum = checksum;
    s.SendEncoding = encoding;
    s.FormatSend = formatSend;
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
    void parseHex_data();
    void parseHex();
    void encodeText_data();
    void encodeText();
    void encodeHex_data();
    void encodeHex();
    void checksumOverEncodedBytes_data();
    void checksumOverEncodedBytes();
    void encodingRefusal();
    void history_data();
    void history();
};

void tst_SendText::parseHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("pairs with blank") << QStringLiteral("AB CD") << QByteArray("\xab\xcd");
    QTest::newRow("lone trailing digit ignored") << QStringLiteral("ABC") << QByteArray("\xab");
    QTest::newRow("blank as low nibble is 0") << QStringLiteral("1 2") << QByteArray("\x10");
    QTest::newRow("0G gives 00") << QStringLiteral("0G") << QByteArray(1, '\0');
    QTest::newRow("F alone gives nothing") << QStringLiteral("F") << QByteArray();
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("lower case") << QStringLiteral("ab0f") << QByteArray("\xab\x0f");
    QTest::newRow("several leading blanks") << QStringLiteral("   01  02") << QByteArray("\x01\x02");
    QTest::newRow("00 FF") << QStringLiteral("00 FF") << QByteArray("\x00\xff", 2);
    QTest::newRow("character above U+00FF counts as 0")
            << QString(QChar(0x4E1D)) + QStringLiteral("1") << QByteArray("\x01");
    QTest::newRow("latin-1 letter counts as 0") << QString(QChar(0xC4)) + QStringLiteral("F")
                                                << QByteArray("\x0f");
    QTest::newRow("lines keep their pairs") << QStringLiteral("01 02\n03 04")
                                            << QByteArray("\x01\x02\x03\x04");
    QTest::newRow("CR LF and tab are blanks") << QStringLiteral("0A\r\n\t0B")
                                              << QByteArray("\x0a\x0b");
}

void tst_SendText::parseHex()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(parseHexText(text), bytes);
}

void tst_SendText::encodeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lineEnding");
    QTest::addColumn<bool>("autoFeed");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QByteArray>("bytes");

    const QString utf8 = QStringLiteral("UTF-8");
    QTest::newRow("A T mode 3") << QStringLiteral("AT") << 3 << true << utf8
                                << QByteArray("AT\r\n");
    QTest::newRow("A LF B mode 1") << QStringLiteral("A\nB") << 1 << true << utf8
                                   << QByteArray("A\rB\r");
    QTest::newRow("mode 0 as typed") << QStringLiteral("A\nB") << 0 << false << utf8
                                     << QByteArray("A\nB");
    QTest::newRow("mode 4") << QStringLiteral("x") << 4 << true << utf8 << QByteArray("x\n\r");
    QTest::newRow("line ending switched off") << QStringLiteral("AT") << 3 << false << utf8
                                              << QByteArray("AT");
    QTest::newRow("UTF-8 text") << QString(QChar(0x4E1D)) << 2 << true << utf8
                                << QByteArray("\xe4\xb8\x9d\n");
    QTest::newRow("GBK text") << QString(QChar(0x4E1D)) << 3 << true << QStringLiteral("GBK")
                              << QByteArray("\xcb\xbf\r\n");
    QTest::newRow("Latin-1 text") << QString(QChar(0xE9)) << 0 << false
                                  << QStringLiteral("ISO-8859-1") << QByteArray("\xe9");
    QTest::newRow("empty text") << QString() << 3 << true << utf8 << QByteArray();
}

void tst_SendText::encodeText()
{
    QFETCH(QString, text);
    QFETCH(int, lineEnding);
    QFETCH(bool, autoFeed);
    QFETCH(QString, encoding);
    QFETCH(QByteArray, bytes);

    FormatSetting s = sendSettings(lineEnding, 0, encoding);
    s.TxAutoFeedLine = autoFeed;
    const SendEncodeResult r = encodeSend(text, false, s);
    QVERIFY(r.ok);
    QVERIFY(r.error.isEmpty());
    QCOMPARE(r.bytes, bytes);
    QCOMPARE(r.historyText, text);
}

void tst_SendText::encodeHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("formatSend");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("history");

    QTest::newRow("comment, FormatSend") << QStringLiteral("01 02 //reset unit") << true
                                         << QByteArray("\x01\x02")
                                         << QStringLiteral("01 02 //reset unit");
    QTest::newRow("comment, lower case, FormatSend")
            << QStringLiteral("0a 0b//Note//second") << true << QByteArray("\x0a\x0b")
            << QStringLiteral("0A 0B //Note");
    QTest::newRow("comment, as typed without FormatSend")
            << QStringLiteral("0a 0b//Note//second") << false << QByteArray("\x0a\x0b")
            << QStringLiteral("0a 0b//Note//second");
    QTest::newRow("hex digits in the comment are not sent") << QStringLiteral("01//02 03") << false
                                                            << QByteArray("\x01")
                                                            << QStringLiteral("01//02 03");
    QTest::newRow("only a comment") << QStringLiteral("//hello") << true << QByteArray()
                                    << QStringLiteral("//hello");
    QTest::newRow("empty comment kept") << QStringLiteral("7f//") << true << QByteArray("\x7f")
                                        << QStringLiteral("7F //");
    QTest::newRow("0G") << QStringLiteral("0G") << true << QByteArray(1, '\0')
                        << QStringLiteral("00 ");
    QTest::newRow("F alone") << QStringLiteral("F") << true << QByteArray() << QString();
    QTest::newRow("1 2") << QStringLiteral("1 2") << true << QByteArray("\x10")
                         << QStringLiteral("10 ");
}

void tst_SendText::encodeHex()
{
    QFETCH(QString, text);
    QFETCH(bool, formatSend);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, history);

    // Hex never gets a line ending, whatever the mode says.
    const FormatSetting s = sendSettings(3, 0, QStringLiteral("UTF-8"), formatSend);
    const SendEncodeResult r = encodeSend(text, true, s);
    QVERIFY(r.ok);
    QCOMPARE(r.bytes, bytes);
    QCOMPARE(r.historyText, history);
}

void tst_SendText::checksumOverEncodedBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("lineEnding");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("frame");

    const QString utf8 = QStringLiteral("UTF-8");
    const QString gbk = QStringLiteral("GBK");
    const QString silk = QString(QChar(0x4E1D));
    for (int mode = 1; mode <= 5; ++mode) {
        QTest::addRow("text with CR LF, mode %d", mode)
                << QStringLiteral("AT+GMR") << false << 3 << utf8 << mode << QByteArray("AT+GMR\r\n");
        QTest::addRow("GBK text, mode %d", mode) << silk << false << 1 << gbk << mode
                                                 << QByteArray("\xcb\xbf\r");
        QTest::addRow("hex, mode %d", mode) << QStringLiteral("01 03 00 00 00 0A // read") << true
                                            << 0 << utf8 << mode
                                            << QByteArray("\x01\x03\x00\x00\x00\x0a", 6);
        QTest::addRow("empty hex frame, mode %d", mode) << QStringLiteral("F") << true << 0 << utf8
                                                        << mode << QByteArray();
    }
    QTest::newRow("digits 1-9, mode 4") << QStringLiteral("123456789") << false << 0 << utf8 << 4
                                        << QByteArray("123456789");
    QTest::newRow("unknown mode appends nothing") << QStringLiteral("AT") << false << 0 << utf8
                                                  << 9 << QByteArray("AT");
}

void tst_SendText::checksumOverEncodedBytes()
{
    QFETCH(QString, text);
    QFETCH(bool, hex);
    QFETCH(int, lineEnding);
    QFETCH(QString, encoding);
    QFETCH(int, mode);
    QFETCH(QByteArray, frame);

    const SendEncodeResult r = encodeSend(text, hex, sendSettings(lineEnding, mode, encoding));
    QVERIFY(r.ok);
    QCOMPARE(r.bytes, frame + referenceChecksum(frame, mode));
}

void tst_SendText::encodingRefusal()
{
    // A character Latin-1 cannot carry: nothing is sent, the encoder's text is passed on.
    const QString text = QStringLiteral("ok ") + QChar(0x4E1D);
    const SendEncodeResult r = encodeSend(text, false, sendSettings(3, 4, QStringLiteral("ISO-8859-1")));
    QVERIFY(!r.ok);
    QVERIFY(r.bytes.isEmpty());
    QVERIFY(r.historyText.isEmpty());
    QVERIFY(!r.error.isEmpty());
    QCOMPARE(r.error, WireTextCodecRegistry::encode(text + QStringLiteral("\r\n"),
                                                    QStringLiteral("ISO-8859-1"))
                              .error);
}

void tst_SendText::history_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("size");

    const QStringList abc{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QTest::newRow("new entry goes first") << abc << QStringLiteral("d") << 4;
    QTest::newRow("same text twice leaves one") << abc << QStringLiteral("b") << 3;
    QTest::newRow("already first") << abc << QStringLiteral("a") << 3;
    QTest::newRow("into empty") << QStringList() << QStringLiteral("x") << 1;
    QTest::newRow("256 grows to 257") << numbered(256) << QStringLiteral("new") << 257;
    QTest::newRow("257 stays 257") << numbered(257) << QStringLiteral("new") << 257;
    QTest::newRow("oversized stored list capped") << numbered(400) << QStringLiteral("new") << 257;
    QTest::newRow("full, duplicate in the middle") << numbered(257) << QStringLiteral("entry 10")
                                                   << 256;
    QTest::newRow("full, duplicate is the last") << numbered(257) << QStringLiteral("entry 256")
                                                 << 257;
    QStringList dupes = abc;
    dupes << QStringLiteral("b");
    QTest::newRow("stored duplicates all removed") << dupes << QStringLiteral("b") << 3;
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
