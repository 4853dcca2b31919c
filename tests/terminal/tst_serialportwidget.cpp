#include "tests/session/faketransport.h"

#include "connection/connectionmode.h"
#include "terminal/hled.h"
#include "terminal/lamprow.h"
#include "terminal/receivefindbar.h"
#include "terminal/serialportwidget.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>
#include <memory>

// The pane as the view of a session on a fake transport: what the controls write into
// the session, how batches land in the view, and the lamp row.
class tst_SerialPortWidget : public QObject
{
    Q_OBJECT
private slots:
    void trimKeepsTheViewAtTheBottom_data();
    void trimKeepsTheViewAtTheBottom();
    void longLinesBreakInTheViewOnly_data();
    void longLinesBreakInTheViewOnly();
    void findWorksAfterAGap();
    void controlsReachTheSession();
    void lampRowPerMode_data();
    void lampRowPerMode();
    void flashBlinksUnderTraffic();

private:
    SerialPortWidget &make(FormatSetting s, bool open = true);
    void feed(const QByteArray &bytes);
    template<typename T> T *child(const char *name) { return m_pane->findChild<T *>(QString::fromLatin1(name)); }

    std::unique_ptr<SerialPortWidget> m_pane;
    FakeTransport *m_wire = nullptr;
};

// A new pane for each test; the one before goes.
SerialPortWidget &tst_SerialPortWidget::make(FormatSetting s, bool open)
{
    m_pane = std::make_unique<SerialPortWidget>(s, 0);
    m_wire = useFakeTransport(*m_pane->session());
    m_pane->resize(900, 600);
    m_pane->show();
    if (open)
        m_pane->openPort();
    return *m_pane;
}

void tst_SerialPortWidget::feed(const QByteArray &bytes)
{
    m_wire->feed(bytes);
    m_pane->session()->flushDisplay();
}

void tst_SerialPortWidget::trimKeepsTheViewAtTheBottom_data()
{
    QTest::addColumn<int>("lines"); // of 20 characters, into a buffer of 1,000, in two batches
    QTest::addColumn<int>("firstKept");
    QTest::addColumn<bool>("scrolledUp"); // between the batches
    QTest::newRow("half the buffer goes at once") << 75 << 25 << false;
    QTest::newRow("a burst larger than the buffer is cut before it lands") << 250 << 200 << false;
    QTest::newRow("nothing trimmed: a scrolled-up view is left alone") << 48 << 0 << true;
}

void tst_SerialPortWidget::trimKeepsTheViewAtTheBottom()
{
    QFETCH(int, lines);
    QFETCH(int, firstKept);
    QFETCH(bool, scrolledUp);
    FormatSetting s;
    s.DisplayBufferSize = 1000;
    make(s);
    QByteArray burst;
    QByteArray kept;
    for (int i = 0; i < lines; ++i) {
        burst += QByteArray::number(1000 + i) + QByteArray(15, '.') + '\n';
        if (i == firstKept - 1)
            kept = burst;
    }
    QScrollBar *bar = child<QPlainTextEdit>("textBrowser")->verticalScrollBar();
    feed(burst.left(burst.size() / 2));
    if (scrolledUp)
        bar->setValue(0); // the user scrolls up to read
    feed(burst.mid(burst.size() / 2));
    QCOMPARE(m_pane->receiveText(), QString::fromLatin1(burst.mid(kept.size())));
    QCOMPARE(m_pane->takeTrimmedChars(), qint64(kept.size()));
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), scrolledUp ? 0 : bar->maximum());
}

void tst_SerialPortWidget::longLinesBreakInTheViewOnly_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("text") << int(TextFormat);
    QTest::newRow("hex") << int(HexFormat);
}

void tst_SerialPortWidget::longLinesBreakInTheViewOnly()
{
    QFETCH(int, format);
    FormatSetting s;
    s.ReceiveMsgForamt = format;
    make(s);
    for (int i = 0; i < 5; ++i)
        feed(QByteArray(3000, 'x'));
    const QStringList lines = m_pane->receiveText().split(u'\n');
    QVERIFY(lines.size() > 1);
    qsizetype units = 0;
    for (const QString &line : lines) {
        QVERIFY2(line.size() <= ReceiveViewWriter::MaxViewLine, qPrintable(QString::number(line.size())));
        if (format == HexFormat && !line.isEmpty()) // broken at a byte boundary
            QVERIFY2(line.endsWith(u' ') && line.size() % 3 == 0, qPrintable(line.right(6)));
        units += line.size();
    }
    QCOMPARE(units, qsizetype(format == HexFormat ? 15000 * 3 : 15000));
}

void tst_SerialPortWidget::findWorksAfterAGap()
{
    make(FormatSetting());
    feed("start\n");
    QByteArray flood;
    for (int i = 0; flood.size() < 5 * 1024 * 1024; ++i)
        flood += "filler " + QByteArray::number(i) + '\n';
    feed(flood + "needle\n"); // more than a view takes in one refresh
    const QString text = m_pane->receiveText();
    QVERIFY2(text.contains(QStringLiteral(" bytes not shown here; the data log is off. --")), qPrintable(text.left(200)));
    QVERIFY(text.endsWith(QStringLiteral("needle\n")));
    QCOMPARE(m_pane->session()->rxByteCount(), quint64(6 + flood.size() + 7));
    ReceiveFindBar *bar = m_pane->findBar();
    bar->openBar();
    QTest::keyClicks(child<QLineEdit>("receiveFindEdit"), QStringLiteral("needle"));
    QCOMPARE(bar->matches().size(), 1);
}

void tst_SerialPortWidget::controlsReachTheSession()
{
    make(FormatSetting(), false);
    // Send opens the port first; its label then says it sends, and the history keeps the text.
    auto *button = child<QPushButton>("sendButton");
    const QString closedLabel = button->text();
    child<QPlainTextEdit>("textEdit")->setPlainText(QStringLiteral("hello"));
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(m_pane->session()->isOpen());
    QCOMPARE(m_wire->written(), QByteArray("hello"));
    QVERIFY(button->text() != closedLabel);
    QCOMPARE(child<QComboBox>("sendBox")->itemText(0), QStringLiteral("hello"));

    QSignalSpy changed(m_pane.get(), &SerialPortWidget::settingsChanged);
    child<QRadioButton>("hexRadio")->click();
    QCOMPARE(m_pane->settings().ReceiveMsgForamt, int(HexFormat));
    feed("A");
    QCOMPARE(m_pane->receiveText(), QStringLiteral("41 "));
    child<QRadioButton>("asciiRadio")->click();
    auto *encoding = child<QComboBox>("receiveEncodingBox");
    encoding->setCurrentIndex(encoding->findText(QStringLiteral("GBK")));
    QCOMPARE(m_pane->settings().ReceiveEncoding, QStringLiteral("GBK"));
    feed("\xd6\xd0");
    QVERIFY2(m_pane->receiveText().endsWith(QStringLiteral("\u4e2d")), qPrintable(m_pane->receiveText()));
    QVERIFY(changed.size() >= 3); // every edit marks the document modified

    // The peer list shows while there are peers and picks the one sends go to.
    auto *list = child<QTreeWidget>("clientTw");
    QVERIFY(list->isHidden());
    m_wire->setPeers({QStringLiteral("10.0.0.1:1"), QStringLiteral("10.0.0.2:2")});
    QCOMPARE(list->topLevelItemCount(), 2);
    QVERIFY(!list->isHidden());
    QCOMPARE(list->currentItem()->text(0), QStringLiteral("10.0.0.1:1"));
    list->setCurrentItem(list->topLevelItem(1));
    QCOMPARE(m_pane->session()->selectedPeer(), QStringLiteral("10.0.0.2:2"));
    m_wire->setPeers({});
    QVERIFY(list->isHidden());

    // Keys typed into the view go to the device, Enter as the chosen line ending.
    auto *view = child<QPlainTextEdit>("textBrowser");
    auto *enter = child<QComboBox>("terminalEnterBox");
    const std::pair<int, QByteArray> endings[] = {{1, "a\r"}, {2, "a\n"}, {3, "a\r\n"}, {4, "a\n\r"}};
    for (const auto &[mode, bytes] : endings) {
        enter->setCurrentIndex(enter->findData(mode));
        m_wire->writes.clear();
        QTest::keyClick(view, Qt::Key_A);
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(m_wire->written(), bytes);
    }

    // Hex with a comment and CRC-16/MODBUS: the bytes and their checksum, the history in capitals.
    child<QRadioButton>("hexSendRadio")->click();
    auto *checksum = child<QComboBox>("sendChecksumBox");
    checksum->setCurrentIndex(checksum->findData(4));
    child<QPlainTextEdit>("textEdit")->setPlainText(QStringLiteral("01 03 00 00 00 0a // read"));
    m_wire->writes.clear();
    QTest::mouseClick(button, Qt::LeftButton);
    const QByteArray frame("\x01\x03\x00\x00\x00\x0a\xc5\xcd", 8);
    QCOMPARE(m_wire->written(), frame);
    QCOMPARE(child<QComboBox>("sendBox")->itemText(0), QStringLiteral("01 03 00 00 00 0A // READ"));
    child<QRadioButton>("asciiSendRaido")->click();

    // A transfer holds the user back, and the pane says why.
    QVERIFY(m_pane->session()->lease()->acquire(PortRequester::Transfer));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(view, Qt::Key_A);
    QVERIFY(!child<QStatusBar>("statusbar")->currentMessage().isEmpty());
    QCOMPARE(m_wire->written(), frame);
}

void tst_SerialPortWidget::lampRowPerMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("flow");
    QTest::addColumn<QPoint>("rxCell"); // (row, column); serial-like modes show the line cells
    QTest::addColumn<QString>("pressed");
    QTest::addColumn<QString>("refusal"); // what the explanation speaks of; none: the press is a Break
    QTest::addColumn<int>("holdMs");
    QTest::newRow("udp, DTR refused") << int(UdpClient) << 0 << QPoint(0, 1) << "dtrLedCell" << "serial port" << 0;
    QTest::newRow("serial with RTS/CTS, RTS refused") << int(SerialPort) << 1 << QPoint(1, 0) << "rtsLedCell" << "RTS/CTS" << 0;
    QTest::newRow("remote serial kept, TX refused") << int(RemoteSerial) << 0 << QPoint(1, 0) << "txLedCell" << "own configuration"
                                                    << 0;
    QTest::newRow("serial, TX clicked for 50 ms") << int(SerialPort) << 0 << QPoint(1, 0) << "txLedCell" << "" << 50;
    QTest::newRow("serial, TX held for 450 ms") << int(SerialPort) << 0 << QPoint(1, 0) << "txLedCell" << "" << 450;
}

// The row goes to the other kind of mode and back, so that it really has to move; then a
// press on a cell either sends a Break or, where this mode does not drive the cell, explains why.
void tst_SerialPortWidget::lampRowPerMode()
{
    QFETCH(int, mode);
    QFETCH(int, flow);
    QFETCH(QPoint, rxCell);
    QFETCH(QString, pressed);
    QFETCH(QString, refusal);
    QFETCH(int, holdMs);
    FormatSetting s;
    s.ConnMode = mode;
    s.FlowControl = flow;
    make(s); // the mode's own transport draws the lamps first
    FormatSetting other = s;
    other.ConnMode = rxCell == QPoint(1, 0) ? TcpClient : SerialPort;
    m_pane->applySettings(other);
    m_pane->applySettings(s);
    m_wire = static_cast<FakeTransport *>(m_pane->session()->transport()); // one for the new mode
    QVERIFY(m_pane->openPort());
    const bool lineCells = rxCell == QPoint(1, 0);
    for (const char *cell : {"rtsLedCell", "ctsLedCell", "dtrLedCell", "dsrLedCell", "dcdLedCell", "riLedCell"})
        QCOMPARE(child<QWidget>(cell)->isVisible(), lineCells);
    auto *grid = qobject_cast<QGridLayout *>(m_pane->lampRow()->layout());
    int r = -1, c = -1, rs = 0, cs = 0;
    grid->getItemPosition(grid->indexOf(child<QWidget>("rxLedCell")), &r, &c, &rs, &cs);
    QCOMPARE(QPoint(r, c), rxCell);

    QSignalSpy status(m_pane.get(), &SerialPortWidget::statusMessage);
    auto *cell = child<QWidget>(pressed.toLatin1().constData());
    auto *label = child<QLabel>("txActivityLedLabel");
    auto *lamp = child<HLed>("txActivityLed");
    m_wire->clock.start();
    QTest::mousePress(cell, Qt::LeftButton);
    QCOMPARE(m_pane->session()->breakHeld(), refusal.isEmpty());
    QCOMPARE(label->text(), refusal.isEmpty() ? QStringLiteral("BRK") : QStringLiteral("TX"));
    QTest::qWait(holdMs);
    QTest::mouseRelease(cell, Qt::LeftButton);
    if (refusal.isEmpty()) {
        QCOMPARE(lamp->color(), HLed::amber());
        QTRY_VERIFY_WITH_TIMEOUT(!m_pane->session()->breakHeld(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(label->text() == QLatin1String("TX"), 10000);
        const qint64 restoredAt = m_wire->clock.elapsed();
        // Break lasts at least 300 ms however short the click; "BRK" stays 800 ms.
        QCOMPARE(m_wire->breaks.size(), 2);
        QVERIFY(m_wire->breaks.at(0).first && !m_wire->breaks.at(1).first);
        QVERIFY2(m_wire->breaks.at(1).second >= qMax(300, holdMs), qPrintable(QString::number(m_wire->breaks.at(1).second)));
        QVERIFY(restoredAt >= 800);
        QCOMPARE(lamp->color(), HLed::green());
    } else {
        QVERIFY2(status.last().at(0).toString().contains(refusal), qPrintable(status.last().at(0).toString()));
        QVERIFY(m_pane->settings().RtsOn && m_pane->settings().DtrOn);
        QVERIFY(m_wire->breaks.isEmpty());
    }

    s.ShowControlLineLeds = false;
    m_pane->applySettings(s);
    QVERIFY(!m_pane->lampRow()->isVisible());
}

// The timers are stepped by hand: the event loop never runs a real timeout.
void tst_SerialPortWidget::flashBlinksUnderTraffic()
{
    make(FormatSetting());
    auto *led = child<HLed>("rxActivityLed");
    auto *timer = m_pane->lampRow()->findChild<QTimer *>(QStringLiteral("rxLedTimer"));
    auto fire = [timer] { // as a real expiry: a single-shot timer is inactive when it signals
        timer->stop();
        QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
    };
    m_wire->feed("a");
    QVERIFY(led->isOn());
    QCOMPARE(timer->interval(), 80);
    m_wire->feed("b"); // more traffic while lit
    fire();
    QVERIFY(!led->isOn());
    QCOMPARE(timer->interval(), 70);
    fire();
    QVERIFY(led->isOn());
    fire(); // nothing during the last flash: dark, and it stays dark
    QVERIFY(!led->isOn());
    QVERIFY(!timer->isActive());
}

QTEST_MAIN(tst_SerialPortWidget)
#include "tst_serialportwidget.moc"
