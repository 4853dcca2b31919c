#include "connection/connectioncontroller.h"
#include "terminal/serialportwidget.h"
#include "terminal/traffictext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QPlainTextEdit>
#include <memory>

// A real pane in TCP client mode against a loopback server owned by the test.
class tst_SerialPortWidget : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void receivedText_data();
    void receivedText();
    void stampsOnEveryLine();
    void autoFeedAfterIdleGap();
    void pauseHoldsBytesUntilResume();
    void trimKeepsViewAtBottom();
    void trimWhileScrolledUp();
    void longLinesBreakInTheViewOnly_data();
    void longLinesBreakInTheViewOnly();
    void burstLargerThanTheBuffer();
    void hostileStreamKeepsTheLogWhole_data();
    void hostileStreamKeepsTheLogWhole();
    void sentText_data();
    void sentText();
    void sentDisplayStartsOnNewLine();
    void historyHasNoDuplicates();
    void lineByLineCycles();
    void enterModes_data();
    void enterModes();
    void transferBlocksSending();
    void logFileOfASession();
    void logFailureTurnsLoggingOff();

private:
    SerialPortWidget *makePane(FormatSetting settings);
    void serverSends(const QByteArray &bytes);
    QByteArray serverReceives(int atLeast, int timeoutMs = 5000);
    template<typename T> T *child(const char *name) { return m_pane->findChild<T *>(QString::fromLatin1(name)); }
    bool waitForView(const QString &expected, int timeoutMs = 3000);

    std::unique_ptr<QTcpServer> m_server;
    QTcpSocket *m_peer = nullptr;
    std::unique_ptr<SerialPortWidget> m_pane;
    QTemporaryDir m_dir;
};

void tst_SerialPortWidget::init()
{
    m_server = std::make_unique<QTcpServer>();
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
}

void tst_SerialPortWidget::cleanup()
{
    m_pane.reset();
    m_peer = nullptr;
    m_server.reset();
}

SerialPortWidget *tst_SerialPortWidget::makePane(FormatSetting s)
{
    s.ConnMode = TcpClient;
    s.LastTargetHost = {QStringLiteral("127.0.0.1")};
    s.LastTargetPort = m_server->serverPort();
    m_pane = std::make_unique<SerialPortWidget>(s, 0);
    m_pane->resize(900, 600);
    m_pane->show();
    if (!m_pane->openPort())
        return nullptr;
    if (!m_server->waitForNewConnection(5000) && !m_server->hasPendingConnections())
        return nullptr;
    m_peer = m_server->nextPendingConnection();
    if (!QTest::qWaitFor([this] { return m_pane->controller()->isConnectionOpen(TcpClient); }, 5000))
        return nullptr;
    return m_pane.get();
}

void tst_SerialPortWidget::serverSends(const QByteArray &bytes)
{
    m_peer->write(bytes);
    m_peer->flush();
    // Let the pane read this chunk on its own before the next one is written.
    const quint64 before = m_pane->rxByteCount();
    QTest::qWaitFor([&] { return m_pane->rxByteCount() >= before + quint64(bytes.size()); }, 3000);
    QTest::qWait(30);
}

QByteArray tst_SerialPortWidget::serverReceives(int atLeast, int timeoutMs)
{
    QByteArray got;
    QTest::qWaitFor([&] {
        got += m_peer->readAll();
        return got.size() >= atLeast;
    }, timeoutMs);
    QTest::qWait(50);
    got += m_peer->readAll();
    return got;
}

bool tst_SerialPortWidget::waitForView(const QString &expected, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_pane->receiveText() == expected; }, timeoutMs);
}

void tst_SerialPortWidget::receivedText_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QString>("shown");
    QTest::newRow("CR LF then lone LF") << 2 << QList<QByteArray>{"ABC\r\n", "\n"} << QStringLiteral("ABC\n");
    QTest::newRow("hex 00 FF") << 1 << QList<QByteArray>{QByteArray("\x00\xff", 2)} << QStringLiteral("00 FF ");
    QTest::newRow("escape split") << 2 << QList<QByteArray>{"\x1b[3", "1mX"} << QStringLiteral("X");
    QTest::newRow("ESC A kept") << 2 << QList<QByteArray>{"\x1b" "A"} << QStringLiteral("\x1b" "A").replace(QChar(0x1b), QChar(0x25a1));
    QTest::newRow("OSC cut by LF") << 2 << QList<QByteArray>{"\x1b]0;title", "\nok"} << QStringLiteral("\nok");
    QTest::newRow("utf-8 split") << 2 << QList<QByteArray>{"\xe4\xb8", "\xad!"} << QStringLiteral("\u4e2d!");
    QTest::newRow("control chars marked") << 2 << QList<QByteArray>{QByteArray("a\x01\tb", 4)} << QStringLiteral("a\u25a1\tb");
}

void tst_SerialPortWidget::receivedText()
{
    QFETCH(int, format);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QString, shown);
    FormatSetting s;
    s.ReceiveMsgForamt = format;
    QVERIFY(makePane(s));
    qint64 total = 0;
    for (const QByteArray &chunk : chunks) {
        serverSends(chunk);
        total += chunk.size();
    }
    QVERIFY2(waitForView(shown), qPrintable(m_pane->receiveText()));
    QCOMPARE(m_pane->rxByteCount(), quint64(total));
}

void tst_SerialPortWidget::stampsOnEveryLine()
{
    FormatSetting s;
    s.DisplayMsgTime = true;
    s.RxTimeFormat = QStringLiteral("[R] ");
    QVERIFY(makePane(s));
    serverSends("a\nb\n");
    serverSends("c");
    QVERIFY2(waitForView(QStringLiteral("[R] a\n[R] b\n[R] c")), qPrintable(m_pane->receiveText()));
}

void tst_SerialPortWidget::autoFeedAfterIdleGap()
{
    FormatSetting s;
    s.RxAutoFeedLine = true;
    s.AutoFeedInterval = 50;
    QVERIFY(makePane(s));
    serverSends("one");
    QTest::qWait(200);
    serverSends("two\n");
    QTest::qWait(200);
    serverSends("three");
    QVERIFY2(waitForView(QStringLiteral("one\ntwo\nthree")), qPrintable(m_pane->receiveText()));
}

void tst_SerialPortWidget::pauseHoldsBytesUntilResume()
{
    QVERIFY(makePane(FormatSetting()));
    serverSends("before ");
    QVERIFY(waitForView(QStringLiteral("before ")));
    m_pane->pauseView();
    QCOMPARE(m_pane->state(), Paused);
    m_peer->write("held");
    QTest::qWait(300);
    QCOMPARE(m_pane->receiveText(), QStringLiteral("before "));
    QCOMPARE(m_pane->rxByteCount(), quint64(7)); // counted only at resume
    QVERIFY(m_pane->openPort());
    QCOMPARE(m_pane->state(), Running);
    QVERIFY2(waitForView(QStringLiteral("before held")), qPrintable(m_pane->receiveText()));
    QCOMPARE(m_pane->rxByteCount(), quint64(11));
}

void tst_SerialPortWidget::trimKeepsViewAtBottom()
{
    FormatSetting s;
    s.DisplayBufferSize = 1000;
    QVERIFY(makePane(s));
    QByteArray lines;
    for (int i = 0; i < 30; ++i)
        lines += QByteArray::number(1000 + i) + QByteArray(45, '.') + '\n';
    serverSends(lines); // 1500 characters
    QVERIFY(QTest::qWaitFor([&] { return m_pane->rxByteCount() == 1500; }, 3000));
    QTest::qWait(100);
    const QString text = m_pane->receiveText();
    // Half the allowed size goes at once: the ten oldest lines.
    QCOMPARE(text.size(), 1000);
    QVERIFY(text.startsWith(QStringLiteral("1010.")));
    QVERIFY(text.endsWith(QStringLiteral("1029") + QString(45, u'.') + u'\n'));
    QCOMPARE(m_pane->takeTrimmedChars(), qint64(500));
    QScrollBar *bar = child<QPlainTextEdit>("textBrowser")->verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());
}

void tst_SerialPortWidget::trimWhileScrolledUp()
{
    FormatSetting s;
    s.DisplayBufferSize = 4000;
    QVERIFY(makePane(s));
    QByteArray lines;
    for (int i = 0; i < 60; ++i)
        lines += "line " + QByteArray::number(i) + '\n';
    serverSends(lines);
    QTest::qWait(100);
    QScrollBar *bar = child<QPlainTextEdit>("textBrowser")->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    bar->setValue(0); // the user scrolls up to read
    serverSends("more\n");
    QTest::qWait(100);
    QCOMPARE(bar->value(), 0);
    QVERIFY(m_pane->receiveText().endsWith(QStringLiteral("more\n")));
}

void tst_SerialPortWidget::longLinesBreakInTheViewOnly_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("text") << 2;
    QTest::newRow("hex") << 1;
}

void tst_SerialPortWidget::longLinesBreakInTheViewOnly()
{
    QFETCH(int, format);
    FormatSetting s;
    s.ReceiveMsgForamt = format;
    s.LogSaveFlag = true;
    s.LogFilePath = m_dir.filePath(QStringLiteral("long-%1.log").arg(format));
    s.NeedHourTimeStamp = false;
    QVERIFY(makePane(s));
    const QByteArray chunk(3000, 'x');
    for (int i = 0; i < 5; ++i)
        serverSends(chunk);
    QTest::qWait(60);
    const QStringList lines = m_pane->receiveText().split(u'\n');
    QVERIFY(lines.size() > 1);
    qsizetype units = 0;
    for (const QString &line : lines) {
        QVERIFY2(line.size() <= 4096, qPrintable(QString::number(line.size())));
        if (format == 1 && !line.isEmpty())
            QVERIFY2(line.endsWith(u' ') && line.size() % 3 == 0, qPrintable(line.right(6)));
        units += line.size();
    }
    QCOMPARE(units, qsizetype(format == 1 ? 15000 * 3 : 15000));
    m_pane->closePort();
    QFile log(m_pane->settings().resolvedLogPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    const QByteArray expected = format == 1 ? QByteArray("78 ").repeated(15000) : QByteArray(15000, 'x');
    QVERIFY(logged.endsWith(expected)); // the log keeps the line whole
}

void tst_SerialPortWidget::burstLargerThanTheBuffer()
{
    FormatSetting s;
    s.DisplayBufferSize = 1000;
    QVERIFY(makePane(s));
    m_pane->pauseView(); // let the queue fill: datagram-like burst in one batch
    QByteArray burst;
    for (int i = 0; i < 100; ++i)
        burst += QByteArray::number(10000 + i) + QByteArray(44, '-') + '\n'; // 50 per line
    m_peer->write(burst);
    QTest::qWait(200);
    QVERIFY(m_pane->openPort()); // resume: 5000 characters arrive in one batch
    QTest::qWait(100);
    const QString text = m_pane->receiveText();
    QVERIFY2(text.size() <= 1000, qPrintable(QString::number(text.size())));
    QVERIFY(text.endsWith(QStringLiteral("10099") + QString(44, u'-') + u'\n'));
    QCOMPARE(m_pane->takeTrimmedChars() + text.size(), qint64(5000));
}

void tst_SerialPortWidget::hostileStreamKeepsTheLogWhole_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("stream");
    QByteArray mixed;
    mixed += QByteArray(200000, '\0');
    mixed += QByteArray("\x1b[").repeated(50000);
    QRandomGenerator rng(42);
    for (int i = 0; i < 300000; ++i)
        mixed += char(rng.bounded(256));
    mixed += QByteArray("\xff\xfe\xc0\x80").repeated(25000);
    QTest::newRow("hex: NULs, escapes, random, invalid UTF-8") << 1 << mixed;
    QTest::newRow("text: unterminated CSI flood") << 2 << QByteArray("\x1b[1;").repeated(60000) + "end";
    QTest::newRow("text: 1 MB without a line feed") << 2 << QByteArray(1 << 20, 'A');
}

void tst_SerialPortWidget::hostileStreamKeepsTheLogWhole()
{
    QFETCH(int, format);
    QFETCH(QByteArray, stream);
    FormatSetting s;
    s.ReceiveMsgForamt = format;
    s.DisplayBufferSize = 200000;
    s.LogSaveFlag = true;
    s.LogFilePath = m_dir.filePath(QStringLiteral("hostile-%1.log").arg(qHash(QByteArray(QTest::currentDataTag()))));
    s.NeedHourTimeStamp = false;
    QVERIFY(makePane(s));
    m_peer->write(stream);
    QVERIFY(QTest::qWaitFor([&] { return m_pane->rxByteCount() >= quint64(stream.size()); }, 30000));
    QTest::qWait(60);
    QCOMPARE(m_pane->rxByteCount(), quint64(stream.size()));
    QVERIFY2(m_pane->receiveText().size() <= 200000, qPrintable(QString::number(m_pane->receiveText().size())));
    m_pane->closePort();

    QFile log(m_pane->settings().resolvedLogPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    if (format == 1) {
        QVERIFY(logged.endsWith(toHexText(stream))); // every byte, in order
    } else {
        // The filter gives up on a sequence after 256 bytes and shows it: nothing vanishes.
        const QString body = logged.mid(logged.indexOf(QStringLiteral("Launch at: ")));
        QVERIFY2(body.size() >= stream.size() - 300, qPrintable(QString::number(body.size())));
        // "ESC [ 1 ; e" completes a sequence, so only "nd" of the last word is text.
        QVERIFY(logged.endsWith(stream.endsWith("end") ? QStringLiteral("\u25a1[1;nd") : QStringLiteral("AAAA")));
    }
}

static quint16 crc16Modbus(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (char c : data) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

void tst_SerialPortWidget::sentText_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("lineEnding");
    QTest::addColumn<int>("checksum");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("CR LF") << false << 3 << 0 << "UTF-8" << "AT" << QByteArray("AT\r\n");
    QTest::newRow("LF to CR") << false << 1 << 0 << "UTF-8" << "A\nB" << QByteArray("A\rB\r");
    QTest::newRow("no ending") << false << 0 << 0 << "UTF-8" << "A\nB" << QByteArray("A\nB");
    QTest::newRow("GBK") << false << 0 << 0 << "GBK" << QStringLiteral("\u4e2d") << QByteArray("\xd6\xd0");
    QTest::newRow("hex with comment") << true << 3 << 0 << "UTF-8" << "01 02 // a comment" << QByteArray("\x01\x02");
    const QByteArray frame("\x01\x03\x00\x00\x00\x0a", 6);
    const quint16 crc = crc16Modbus(frame);
    QTest::newRow("hex with CRC-16/MODBUS") << true << 0 << 4 << "UTF-8" << "01 03 00 00 00 0A"
                                             << frame + char(crc & 0xff) + char(crc >> 8);
}

void tst_SerialPortWidget::sentText()
{
    QFETCH(bool, hex);
    QFETCH(int, lineEnding);
    QFETCH(int, checksum);
    QFETCH(QString, encoding);
    QFETCH(QString, typed);
    QFETCH(QByteArray, wire);
    FormatSetting s;
    s.SendMsgFormat = hex ? 1 : 2;
    s.TxLineEndingMode = lineEnding;
    s.TxAutoFeedLine = lineEnding != 0;
    s.SendChecksum = checksum;
    s.SendEncoding = encoding;
    QVERIFY(makePane(s));
    child<QPlainTextEdit>("textEdit")->setPlainText(typed);
    QTest::mouseClick(child<QPushButton>("sendButton"), Qt::LeftButton);
    QCOMPARE(serverReceives(wire.size()), wire);
    QCOMPARE(m_pane->txByteCount(), quint64(wire.size()));
}

void tst_SerialPortWidget::sentDisplayStartsOnNewLine()
{
    FormatSetting s;
    s.DisplaySendMsg = true;
    QVERIFY(makePane(s));
    serverSends("prompt>");
    QVERIFY(waitForView(QStringLiteral("prompt>")));
    child<QPlainTextEdit>("textEdit")->setPlainText(QStringLiteral("ls"));
    QTest::mouseClick(child<QPushButton>("sendButton"), Qt::LeftButton);
    QCOMPARE(serverReceives(2), QByteArray("ls"));
    QVERIFY2(waitForView(QStringLiteral("prompt>\nls")), qPrintable(m_pane->receiveText()));
}

void tst_SerialPortWidget::historyHasNoDuplicates()
{
    QVERIFY(makePane(FormatSetting()));
    auto *edit = child<QPlainTextEdit>("textEdit");
    auto *button = child<QPushButton>("sendButton");
    for (const char *text : {"one", "two", "one"}) {
        edit->setPlainText(QString::fromLatin1(text));
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(serverReceives(9), QByteArray("onetwoone"));
    QCOMPARE(m_pane->settings().SendList, (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    auto *box = child<QComboBox>("sendBox");
    QCOMPARE(box->count(), 2);
    edit->setPlainText(QString(100, u'x'));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(box->itemText(0).size(), 80);
    QCOMPARE(m_pane->settings().SendList.first().size(), 100);
}

void tst_SerialPortWidget::lineByLineCycles()
{
    FormatSetting s;
    s.TxLineEndingMode = 2;
    s.TxAutoFeedLine = true;
    QVERIFY(makePane(s));
    child<QPlainTextEdit>("textEdit")->setPlainText(QStringLiteral("l1\nl2\n\nl3"));
    child<QCheckBox>("cbLinebyLine")->setChecked(true);
    child<QSpinBox>("sendIntervelSB")->setValue(20);
    child<QCheckBox>("autoSendBox")->click();
    const QByteArray got = serverReceives(12, 5000);
    m_pane->closePort();
    QVERIFY2(got.startsWith("l1\nl2\nl3\nl1\n"), got.toHex(' ').constData());
}

void tst_SerialPortWidget::enterModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("CR") << 1 << QByteArray("a\r");
    QTest::newRow("LF") << 2 << QByteArray("a\n");
    QTest::newRow("CR LF") << 3 << QByteArray("a\r\n");
    QTest::newRow("LF CR") << 4 << QByteArray("a\n\r");
}

void tst_SerialPortWidget::enterModes()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, wire);
    FormatSetting s;
    s.TerminalEnterMode = mode;
    QVERIFY(makePane(s));
    auto *view = child<QPlainTextEdit>("textBrowser");
    view->setFocus();
    QTest::keyClick(view, Qt::Key_A);
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(serverReceives(wire.size()), wire);
}

void tst_SerialPortWidget::transferBlocksSending()
{
    QVERIFY(makePane(FormatSetting()));
    m_pane->setTransferRunning(true);
    child<QPlainTextEdit>("textEdit")->setPlainText(QStringLiteral("must not go"));
    QTest::mouseClick(child<QPushButton>("sendButton"), Qt::LeftButton);
    QCOMPARE(child<QStatusBar>("statusbar")->currentMessage(),
             QStringLiteral("A file transfer is using this port. Sending data now would corrupt it."));
    m_pane->pauseView();
    QCOMPARE(m_pane->state(), Running);
    QCOMPARE(child<QStatusBar>("statusbar")->currentMessage(),
             QStringLiteral("A file transfer is running; the view cannot be paused."));
    QVERIFY(serverReceives(1, 300).isEmpty());
}

void tst_SerialPortWidget::logFileOfASession()
{
    FormatSetting s;
    s.LogSaveFlag = true;
    s.LogFilePath = m_dir.filePath(QStringLiteral("logs/pane-%S.log"));
    s.LogTimestampEnabled = true;
    s.LogFileTime = QStringLiteral("<%h:%m> ");
    s.DisplaySendMsg = true;
    s.NeedHourTimeStamp = false;
    QVERIFY(makePane(s));
    serverSends("hello\nwor");
    serverSends("ld\n");
    child<QPlainTextEdit>("textEdit")->setPlainText(QStringLiteral("cmd"));
    QTest::mouseClick(child<QPushButton>("sendButton"), Qt::LeftButton);
    QCOMPARE(serverReceives(3), QByteArray("cmd"));
    const QString path = m_pane->settings().resolvedLogPath;
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("pane-tcpc-0.log"));
    m_pane->closePort();

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(f.readAll());
    const QString stamp = QStringLiteral("<\\d\\d:\\d\\d> ");
    const QRegularExpression expected(QStringLiteral("^  Product: Quillon\n  Version: [^\n]+\nFile Name: ")
                                      + QRegularExpression::escape(path)
                                      + QStringLiteral("\nLaunch at: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")
                                      + stamp + QStringLiteral("hello\n") + stamp + QStringLiteral("world\n")
                                      + stamp + QStringLiteral("cmd$"));
    QVERIFY2(expected.match(log).hasMatch(), qPrintable(log));
}

void tst_SerialPortWidget::logFailureTurnsLoggingOff()
{
    FormatSetting s;
    s.LogSaveFlag = true;
    s.LogFilePath = m_dir.path(); // a folder, not a file
    QVERIFY(makePane(s));
    QSignalSpy failed(m_pane.get(), &SerialPortWidget::logFailed);
    serverSends("data\n");
    m_pane->closePort();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.first().at(0).toString(), QStringLiteral("Log path is a directory, not a file: %1").arg(m_dir.path()));
    QVERIFY(!m_pane->settings().LogSaveFlag);
}

QTEST_MAIN(tst_SerialPortWidget)
#include "tst_serialportwidget.moc"
