#include "tests/session/faketransport.h"

#include "connection/connectionmode.h"
#include "terminal/hled.h"
#include "terminal/lamprow.h"
#include "terminal/receivefindbar.h"
#include "terminal/serialportwidget.h"

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTreeWidget>
#include <functional>
#include <memory>

// The pane as the view of a session on a fake transport: what the controls write into
// the session, how batches land in the view, the lamp row, and the find bar over the view,
// fed the way the pane feeds it: text appended at the end in edit blocks, the top cut away,
// then the batch hook.
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
    void findCurrentMatch_data();
    void findCurrentMatch();
    void findHighlightsFollowScrolling();
    void findAgreesWithAFullSearch_data();
    void findAgreesWithAFullSearch();

private:
    SerialPortWidget &make(FormatSetting s, bool open = true);
    void feed(const QByteArray &bytes);
    void makeFindView();
    void append(const QString &text);
    void trimTop(int chars);
    void typeKeyword(const QString &keyword);
    QString status() { return child<QLabel>("receiveFindStatusLabel")->text(); }
    QString currentText() const;
    template<typename T> T *child(const char *name) { return m_pane->findChild<T *>(QString::fromLatin1(name)); }

    std::unique_ptr<SerialPortWidget> m_pane;
    FakeTransport *m_wire = nullptr;
    QPlainTextEdit *m_view = nullptr;
    ReceiveFindBar *m_bar = nullptr;
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

// A closed pane, active so that the find keys reach its bar.
void tst_SerialPortWidget::makeFindView()
{
    make(FormatSetting(), false);
    m_pane->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_pane.get()));
    m_view = child<QPlainTextEdit>("textBrowser");
    m_bar = m_pane->findBar();
    m_view->setFocus();
}

void tst_SerialPortWidget::append(const QString &text)
{
    QTextCursor cursor(m_view->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    cursor.endEditBlock();
    m_bar->afterDisplayBatch();
}

void tst_SerialPortWidget::trimTop(int chars)
{
    QTextDocument *doc = m_view->document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.setPosition(0);
    cursor.setPosition(qMin(chars, doc->characterCount() - 1), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
}

void tst_SerialPortWidget::typeKeyword(const QString &keyword)
{
    m_bar->openBar();
    m_bar->findEdit()->setText(keyword);
}

// The whole line holding the current match.
QString tst_SerialPortWidget::currentText() const
{
    if (m_bar->current() < 0)
        return {};
    return m_view->document()->findBlock(m_bar->matches().at(m_bar->current()).start).text();
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
    for (int i = 0; i < lines; ++i)
        burst += QByteArray::number(1000 + i) + QByteArray(15, '.') + '\n';
    const qsizetype cut = firstKept * 20;
    QScrollBar *bar = child<QPlainTextEdit>("textBrowser")->verticalScrollBar();
    feed(burst.left(burst.size() / 2));
    if (scrolledUp)
        bar->setValue(0); // the user scrolls up to read
    feed(burst.mid(burst.size() / 2));
    QCOMPARE(m_pane->receiveText(), QString::fromLatin1(burst.mid(cut)));
    QCOMPARE(m_pane->takeTrimmedChars(), qint64(cut));
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
    const QString text = m_pane->receiveText();
    const QStringList lines = text.split(u'\n');
    QVERIFY(lines.size() > 1);
    for (const QString &line : lines) {
        QVERIFY2(line.size() <= ReceiveViewWriter::MaxViewLine, qPrintable(QString::number(line.size())));
        if (format == HexFormat && !line.isEmpty()) // broken at a byte boundary
            QVERIFY2(line.endsWith(u' ') && line.size() % 3 == 0, qPrintable(line.right(6)));
    }
    // The breaks are all the view adds.
    QCOMPARE(QString(text).remove(u'\n'), format == HexFormat ? QStringLiteral("78 ").repeated(15000) : QString(15000, u'x'));
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
    QCOMPARE(lamp->color() == HLed::amber(), refusal.isEmpty());
    QTest::qWait(holdMs);
    QTest::mouseRelease(cell, Qt::LeftButton);
    if (refusal.isEmpty()) {
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

void tst_SerialPortWidget::findCurrentMatch_data()
{
    QTest::addColumn<int>("from");      // the line made current by stepping
    QTest::addColumn<QString>("steps"); // then f/F: F3/Shift+F3, n/p: Next/Prev buttons, r/R: Return/Shift+Return
    QTest::addColumn<int>("trim");      // characters cut from the top afterwards
    QTest::addColumn<QString>("line");  // the current match's line
    QTest::addColumn<QString>("counted");

    // Lines are "#NN key\n", 8 characters each, lines 00 to 09 all matching.
    QTest::newRow("typing selects the first") << 0 << "" << 0 << "#00 key" << "1/10";
    QTest::newRow("F3, Next and Return wrap past the last") << 8 << "fnr" << 0 << "#01 key" << "2/10";
    QTest::newRow("Shift+F3, Prev and Shift+Return wrap before the first") << 1 << "FpR" << 0 << "#08 key" << "9/10";
    QTest::newRow("cut through a line above") << 5 << "" << 30 << "#05 key" << "2/6";
    QTest::newRow("cut just before the current match") << 5 << "" << 44 << "key" << "1/5";
    QTest::newRow("cut through the current match: the next is current") << 5 << "" << 45 << "#06 key" << "1/4";
}

void tst_SerialPortWidget::findCurrentMatch()
{
    QFETCH(int, from);
    QFETCH(QString, steps);
    QFETCH(int, trim);
    QFETCH(QString, line);
    QFETCH(QString, counted);

    makeFindView();
    QString text;
    for (int i = 0; i < 10; ++i)
        text += QStringLiteral("#%1 key\n").arg(i, 2, 10, QLatin1Char('0'));
    append(text);
    typeKeyword(QStringLiteral("key"));
    for (int i = 0; i < from; ++i)
        m_bar->stepFind(1);
    for (const QChar step : steps) {
        const Qt::KeyboardModifier shift = step.isUpper() ? Qt::ShiftModifier : Qt::NoModifier;
        if (step.toLower() == u'f')
            QTest::keyClick(m_view, Qt::Key_F3, shift);
        else if (step.toLower() == u'r')
            QTest::keyClick(m_bar->findEdit(), Qt::Key_Return, shift);
        else
            QTest::mouseClick(child<QPushButton>(step == u'n' ? "receiveFindNextButton" : "receiveFindPreviousButton"), Qt::LeftButton);
    }
    if (trim > 0) {
        trimTop(trim);
        append(QStringLiteral("no match here\n"));
    }
    QCOMPARE(currentText(), line);
    QCOMPARE(status(), counted);
    // Every match is highlighted, the current one apart from the others; a step selects it in the view.
    const QList<ReceiveFindBar::Match> matches = m_bar->matches();
    const int current = m_bar->current();
    if (trim == 0)
        QCOMPARE(m_view->textCursor().selectionStart(), matches.at(current).start);
    const QList<QTextEdit::ExtraSelection> marks = m_view->extraSelections();
    QCOMPARE(marks.size(), matches.size());
    const QBrush other = marks.at((current + 1) % marks.size()).format.background();
    for (int i = 0; i < marks.size(); ++i) {
        QCOMPARE(marks.at(i).cursor.selectionStart(), matches.at(i).start);
        QCOMPARE(marks.at(i).cursor.selectedText(), QStringLiteral("key"));
        QCOMPARE(marks.at(i).format.background() == other, i != current);
    }
    // Stepping goes on to the next line.
    const QString following = m_view->document()->findBlock(matches.at(current).start).next().text();
    m_bar->stepFind(1);
    QCOMPARE(currentText(), following);
    m_bar->closeBar();
    QVERIFY(m_view->extraSelections().isEmpty());
}

// With thousands of matches only those on screen are highlighted, wherever the view is.
void tst_SerialPortWidget::findHighlightsFollowScrolling()
{
    makeFindView();
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += QStringLiteral("line %1 key\n").arg(i);
    append(text);
    typeKeyword(QStringLiteral("key"));
    QCOMPARE(m_bar->matches().size(), 2000);

    QScrollBar *bar = m_view->verticalScrollBar();
    // At the top, scrolled halfway down, and at the last match reached by stepping back.
    const std::function<void()> moves[] = {[] {}, [bar] { bar->setValue(bar->maximum() / 2); },
                                           [this] { m_bar->stepFind(-1); }};
    for (const auto &move : moves) {
        move();
        QList<int> marked;
        for (const QTextEdit::ExtraSelection &s : m_view->extraSelections())
            marked.append(s.cursor.block().blockNumber());
        QVERIFY(marked.size() < 200);
        int shown = 0;
        for (int line = 0; line < 2000; ++line) {
            const QRect r = m_view->cursorRect(QTextCursor(m_view->document()->findBlockByNumber(line)));
            if (r.bottom() >= 0 && r.top() < m_view->viewport()->height()) {
                ++shown;
                QVERIFY2(marked.contains(line), qPrintable(QString::number(line)));
            }
        }
        QVERIFY(shown > 0);
    }
    QCOMPARE(m_bar->current(), 1999);
}

void tst_SerialPortWidget::findAgreesWithAFullSearch_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QString>("release"); // how the filter is let go for the last quarter

    QTest::newRow("word, keyword cleared") << "Err" << false << 1u << "clear keyword";
    QTest::newRow("repeating letters, Filter unchecked") << "aa" << false << 3u << "uncheck";
    QTest::newRow("single letter, bar closed") << "e" << true << 4u << "close";
    QTest::newRow("long word, filtering throughout") << "errerr" << false << 5u << "";
}

// Text arrives in random pieces, mostly at the end, the top is cut now and then, the
// view is cleared once, halfway the case option flips and later the filter may be let go; the kept matches, the status and the line
// visibility must always equal a search of the whole text.
void tst_SerialPortWidget::findAgreesWithAFullSearch()
{
    QFETCH(QString, keyword);
    QFETCH(bool, caseSensitive);
    QFETCH(quint32, seed);
    QFETCH(QString, release);

    makeFindView();
    QRandomGenerator rng(seed);
    const QString alphabet = QStringLiteral("eErRaA \n");
    typeKeyword(keyword);
    child<QCheckBox>("receiveFindCaseBox")->setChecked(caseSensitive);
    child<QCheckBox>("receiveFindFilterBox")->setChecked(true);
    Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    bool searching = true;
    bool filtering = true;

    for (int round = 0; round < 300; ++round) {
        if (round == 150) { // the case box alone searches again
            child<QCheckBox>("receiveFindCaseBox")->setChecked(!caseSensitive);
            cs = caseSensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
        }
        if (round == 225 && !release.isEmpty()) {
            if (release == QLatin1String("clear keyword"))
                m_bar->findEdit()->clear();
            else if (release == QLatin1String("uncheck"))
                child<QCheckBox>("receiveFindFilterBox")->setChecked(false);
            else
                m_bar->closeBar();
            searching = release == QLatin1String("uncheck");
            filtering = false;
        }
        QString piece;
        const int size = int(rng.bounded(1, 20));
        for (int i = 0; i < size; ++i)
            piece += alphabet.at(int(rng.bounded(int(alphabet.size()))));
        QTextCursor cursor(m_view->document());
        cursor.movePosition(QTextCursor::End);
        if (round % 11 == 5) // text put in before the end, as a document user might
            cursor.setPosition(int(rng.bounded(m_view->document()->characterCount())));
        cursor.insertText(piece);
        if (round == 100) { // the view is cleared
            m_view->clear();
            m_bar->viewCleared();
        }
        if (m_view->document()->characterCount() > 400)
            trimTop(int(rng.bounded(1, 200)));
        m_bar->afterDisplayBatch();
        if (round % 7 == 0 && searching) // stepping, also with nothing to step to
            QTest::keyClick(m_bar->findEdit(), Qt::Key_F3);

        QList<int> expectedStarts;
        QAbstractTextDocumentLayout *layout = m_view->document()->documentLayout();
        for (QTextBlock block = m_view->document()->begin(); block.isValid(); block = block.next()) {
            const QString text = block.text();
            for (int i = 0; searching && (i = int(text.indexOf(keyword, i, cs))) >= 0; i += int(keyword.size()))
                expectedStarts.append(block.position() + i);
            // A filtered-out line is hidden and takes no room on screen.
            QCOMPARE(block.isVisible(), !filtering || text.contains(keyword, cs));
            QCOMPARE(layout->blockBoundingRect(block).height() > 0, block.isVisible());
        }
        QList<int> starts;
        for (const ReceiveFindBar::Match &m : m_bar->matches())
            starts.append(m.start);
        QCOMPARE(starts, expectedStarts);
        const QString counted = QStringLiteral("%1/%2").arg(m_bar->current() + 1).arg(starts.size());
        QCOMPARE(status(), !searching ? QString() : starts.isEmpty() ? QStringLiteral("0/0") : counted);
        QCOMPARE(child<QPushButton>("receiveFindNextButton")->isEnabled(), !starts.isEmpty());
        QVERIFY(m_bar->current() < starts.size());
        QCOMPARE(m_view->extraSelections().size(), starts.size()); // few enough to mark them all
    }
}

QTEST_MAIN(tst_SerialPortWidget)
#include "tst_serialportwidget.moc"
