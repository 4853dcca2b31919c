#include "terminal/receivefindbar.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <memory>

// The bar over a plain view, fed the way the pane feeds it: text appended at
// the end in edit blocks, the top cut away, then the batch hook.
class tst_ReceiveFindBar : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void wrapsBothWays_data();
    void wrapsBothWays();
    void caseOption_data();
    void caseOption();
    void filterKeepsLaterLinesHidden_data();
    void filterKeepsLaterLinesHidden();
    void noMatchShowsZero_data();
    void noMatchShowsZero();
    void currentMatchSurvivesTrimming_data();
    void currentMatchSurvivesTrimming();
    void highlightsMatchesOnScreen_data();
    void highlightsMatchesOnScreen();
    void highlightsFollowScrolling();
    void replacedTextIsSearchedAgain();
    void incrementalAgreesWithFullSearch_data();
    void incrementalAgreesWithFullSearch();

private:
    void append(const QString &text);
    void trimTop(int chars);
    void typeKeyword(const QString &keyword);
    QString status() const { return child<QLabel>("receiveFindStatusLabel")->text(); }
    QString currentText() const;
    QStringList visibleLines() const;
    bool laidOutAsVisible() const;
    template<typename T> T *child(const char *name) const
    {
        return m_bar->findChild<T *>(QString::fromLatin1(name));
    }

    std::unique_ptr<QWidget> m_host;
    QPlainTextEdit *m_view = nullptr;
    ReceiveFindBar *m_bar = nullptr;
};

void tst_ReceiveFindBar::init()
{
    m_host = std::make_unique<QWidget>();
    auto *layout = new QVBoxLayout(m_host.get());
    m_view = new QPlainTextEdit(m_host.get());
    m_bar = new ReceiveFindBar(m_view, m_host.get(), m_host.get());
    layout->addWidget(m_bar);
    layout->addWidget(m_view);
    m_host->resize(500, 300);
    m_host->show();
    m_host->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_host.get()));
    m_view->setFocus();
}

void tst_ReceiveFindBar::cleanup()
{
    m_host.reset();
}

void tst_ReceiveFindBar::append(const QString &text)
{
    QTextCursor cursor(m_view->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    cursor.endEditBlock();
    m_bar->afterDisplayBatch();
}

void tst_ReceiveFindBar::trimTop(int chars)
{
    QTextDocument *doc = m_view->document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.setPosition(0);
    cursor.setPosition(qMin(chars, doc->characterCount() - 1), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
}

void tst_ReceiveFindBar::typeKeyword(const QString &keyword)
{
    m_bar->openBar();
    m_bar->findEdit()->setText(keyword);
}

// The whole line holding the current match.
QString tst_ReceiveFindBar::currentText() const
{
    if (m_bar->current() < 0)
        return {};
    return m_view->document()->findBlock(m_bar->matches().at(m_bar->current()).start).text();
}

QStringList tst_ReceiveFindBar::visibleLines() const
{
    QStringList lines;
    for (QTextBlock block = m_view->document()->begin(); block.isValid(); block = block.next()) {
        if (block.isVisible())
            lines.append(block.text());
    }
    return lines;
}

// Hidden lines take no room on screen, shown ones do.
bool tst_ReceiveFindBar::laidOutAsVisible() const
{
    QAbstractTextDocumentLayout *layout = m_view->document()->documentLayout();
    for (QTextBlock block = m_view->document()->begin(); block.isValid(); block = block.next()) {
        if ((layout->blockBoundingRect(block).height() > 0) != block.isVisible())
            return false;
    }
    return true;
}

void tst_ReceiveFindBar::wrapsBothWays_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("steps"); // one character per step: + next, - previous
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("expectedStatus");

    QTest::newRow("typing selects the first") << "keys" << "" << 0 << "1/3";
    QTest::newRow("F3 at the last wraps to the first") << "keys" << "+++" << 0 << "1/3";
    QTest::newRow("Shift+F3 at the first wraps to the last") << "keys" << "-" << 2 << "3/3";
    QTest::newRow("Next button wraps") << "buttons" << "+++" << 0 << "1/3";
    QTest::newRow("Return wraps") << "return" << "+++" << 0 << "1/3";
    QTest::newRow("there and back") << "keys" << "++-+-" << 1 << "2/3";
}

void tst_ReceiveFindBar::wrapsBothWays()
{
    QFETCH(QString, how);
    QFETCH(QString, steps);
    QFETCH(int, expected);
    QFETCH(QString, expectedStatus);

    append(QStringLiteral("one OK\ntwo\nthree OK\nfour OK\n"));
    typeKeyword(QStringLiteral("ok"));
    QCOMPARE(m_bar->matches().size(), 3);
    QCOMPARE(m_bar->current(), 0);

    for (const QChar step : steps) {
        const bool forward = step == QLatin1Char('+');
        if (how == QLatin1String("keys")) {
            QTest::keyClick(m_view, Qt::Key_F3, forward ? Qt::NoModifier : Qt::ShiftModifier);
        } else if (how == QLatin1String("buttons")) {
            QTest::mouseClick(child<QPushButton>(forward ? "receiveFindNextButton" : "receiveFindPreviousButton"),
                              Qt::LeftButton);
        } else {
            QTest::keyClick(m_bar->findEdit(), Qt::Key_Return, forward ? Qt::NoModifier : Qt::ShiftModifier);
        }
    }
    QCOMPARE(m_bar->current(), expected);
    QCOMPARE(status(), expectedStatus);
    // The current match is selected in the view.
    const ReceiveFindBar::Match m = m_bar->matches().at(expected);
    QCOMPARE(m_view->textCursor().selectionStart(), m.start);
    QCOMPARE(m_view->textCursor().selectionEnd(), m.start + m.length);
}

void tst_ReceiveFindBar::caseOption_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<int>("count");

    QTest::newRow("ignoring case") << "error" << false << 3;
    QTest::newRow("lower case only") << "error" << true << 1;
    QTest::newRow("mixed, matching case") << "ErRoR" << true << 0;
}

void tst_ReceiveFindBar::caseOption()
{
    QFETCH(QString, keyword);
    QFETCH(bool, caseSensitive);
    QFETCH(int, count);

    append(QStringLiteral("error\nError\nERROR\nfine\n"));
    typeKeyword(keyword);
    QCOMPARE(m_bar->matches().size(), 3);
    // Toggling the box alone searches again.
    child<QCheckBox>("receiveFindCaseBox")->setChecked(caseSensitive);
    QCOMPARE(m_bar->matches().size(), count);
    const Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    for (const ReceiveFindBar::Match &m : m_bar->matches())
        QCOMPARE(m_view->document()->findBlock(m.start).text().compare(keyword, cs), 0);
    // Lines arriving later follow the same rule.
    append(QStringLiteral("%1 again\n").arg(keyword.toUpper()));
    const bool upperMatches = !caseSensitive || keyword == keyword.toUpper();
    QCOMPARE(m_bar->matches().size(), count + (upperMatches ? 1 : 0));
}

void tst_ReceiveFindBar::filterKeepsLaterLinesHidden_data()
{
    QTest::addColumn<QString>("release");

    QTest::newRow("clearing the keyword") << "clear keyword";
    QTest::newRow("unchecking Filter") << "uncheck";
    QTest::newRow("closing the bar") << "close";
}

void tst_ReceiveFindBar::filterKeepsLaterLinesHidden()
{
    QFETCH(QString, release);

    append(QStringLiteral("boot\nERR disk\nidle\n"));
    typeKeyword(QStringLiteral("err"));
    QCOMPARE(visibleLines().size(), 4); // the empty last line too: no filter yet
    child<QCheckBox>("receiveFindFilterBox")->setChecked(true);
    QCOMPARE(visibleLines(), QStringList{QStringLiteral("ERR disk")});

    // Later lines, one of them arriving in pieces, are judged as they come.
    append(QStringLiteral("poll\nfan err"));
    QCOMPARE(visibleLines(), (QStringList{QStringLiteral("ERR disk"), QStringLiteral("fan err")}));
    append(QStringLiteral("or\nok\nE"));
    QCOMPARE(visibleLines(), (QStringList{QStringLiteral("ERR disk"), QStringLiteral("fan error")}));
    append(QStringLiteral("RR again\ndone\n"));
    QCOMPARE(visibleLines(),
             (QStringList{QStringLiteral("ERR disk"), QStringLiteral("fan error"), QStringLiteral("ERR again")}));
    QCOMPARE(status(), QStringLiteral("1/3"));
    QVERIFY(laidOutAsVisible());

    if (release == QLatin1String("clear keyword"))
        m_bar->findEdit()->clear();
    else if (release == QLatin1String("uncheck"))
        child<QCheckBox>("receiveFindFilterBox")->setChecked(false);
    else
        m_bar->closeBar();
    const QStringList all = m_view->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(visibleLines(), all);
    QVERIFY(laidOutAsVisible());
    // And stay shown as more arrives.
    append(QStringLiteral("later\n"));
    QCOMPARE(visibleLines().size(), all.size() + 1);
}

void tst_ReceiveFindBar::noMatchShowsZero_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QString>("laterText");

    QTest::newRow("absent word") << "timeout" << false << "TIMEOUT\n";
    QTest::newRow("wrong case") << "Ready" << true << "Ready\n";
    QTest::newRow("split over two lines") << "ab" << false << "ab\n";
}

void tst_ReceiveFindBar::noMatchShowsZero()
{
    QFETCH(QString, keyword);
    QFETCH(bool, caseSensitive);
    QFETCH(QString, laterText);

    auto *prev = child<QPushButton>("receiveFindPreviousButton");
    auto *next = child<QPushButton>("receiveFindNextButton");
    append(QStringLiteral("READY\nxa\nbx\n"));
    m_bar->openBar();
    QCOMPARE(status(), QString());
    QVERIFY(!prev->isEnabled());
    child<QCheckBox>("receiveFindCaseBox")->setChecked(caseSensitive);
    m_bar->findEdit()->setText(keyword);
    QCOMPARE(status(), QStringLiteral("0/0"));
    QVERIFY(!prev->isEnabled());
    QVERIFY(!next->isEnabled());
    QCOMPARE(m_view->extraSelections().size(), 0);
    QTest::keyClick(m_bar->findEdit(), Qt::Key_F3);
    QCOMPARE(status(), QStringLiteral("0/0"));

    append(laterText);
    QCOMPARE(status(), QStringLiteral("1/1"));
    QVERIFY(prev->isEnabled());
    QVERIFY(next->isEnabled());

    // Clearing the view takes the matches away again.
    m_view->clear();
    m_bar->viewCleared();
    QCOMPARE(status(), QStringLiteral("0/0"));
    QVERIFY(!next->isEnabled());
    QCOMPARE(m_view->extraSelections().size(), 0);
}

void tst_ReceiveFindBar::currentMatchSurvivesTrimming_data()
{
    QTest::addColumn<int>("currentLine");
    QTest::addColumn<int>("trimChars");
    QTest::addColumn<QString>("expectedLine");
    QTest::addColumn<QString>("expectedStatus");

    // Lines are "#NN key\n", 8 characters each, lines 00 to 09 all matching.
    QTest::newRow("cut above the current line") << 5 << 24 << "#05 key" << "3/7";
    QTest::newRow("cut through a line above") << 5 << 30 << "#05 key" << "2/6";
    QTest::newRow("cut through the current match") << 5 << 45 << "#06 key" << "1/4";
    QTest::newRow("cut just before the current match") << 5 << 44 << "key" << "1/5";
    QTest::newRow("current line cut away") << 2 << 40 << "#05 key" << "1/5";
    QTest::newRow("nothing cut") << 7 << 0 << "#07 key" << "8/10";
}

void tst_ReceiveFindBar::currentMatchSurvivesTrimming()
{
    QFETCH(int, currentLine);
    QFETCH(int, trimChars);
    QFETCH(QString, expectedLine);
    QFETCH(QString, expectedStatus);

    QString text;
    for (int i = 0; i < 10; ++i)
        text += QStringLiteral("#%1 key\n").arg(i, 2, 10, QLatin1Char('0'));
    append(text);
    typeKeyword(QStringLiteral("key"));
    for (int i = 0; i < currentLine; ++i)
        m_bar->stepFind(1);
    QCOMPARE(currentText(), QStringLiteral("#%1 key").arg(currentLine, 2, 10, QLatin1Char('0')));

    trimTop(trimChars);
    append(QStringLiteral("no match here\n"));
    QCOMPARE(currentText(), expectedLine);
    QCOMPARE(status(), expectedStatus);
    // Stepping goes on from there.
    m_bar->stepFind(1);
    const int line = expectedLine == QLatin1String("key") ? currentLine : expectedLine.mid(1, 2).toInt();
    QCOMPARE(currentText(), QStringLiteral("#%1 key").arg(line + 1, 2, 10, QLatin1Char('0')));
}

void tst_ReceiveFindBar::highlightsMatchesOnScreen_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("count");

    QTest::newRow("three on one line") << "aXbXcX\n" << "x" << 3;
    QTest::newRow("across lines") << "x1\nx2\nnone\nx3\nx4\n" << "x" << 4;
    QTest::newRow("no overlap") << "aaaaa\n" << "aa" << 2;
}

void tst_ReceiveFindBar::highlightsMatchesOnScreen()
{
    QFETCH(QString, text);
    QFETCH(QString, keyword);
    QFETCH(int, count);

    append(text);
    typeKeyword(keyword);
    QCOMPARE(m_bar->matches().size(), count);
    const QList<QTextEdit::ExtraSelection> selections = m_view->extraSelections();
    QCOMPARE(selections.size(), count);
    for (int i = 0; i < count; ++i) {
        const ReceiveFindBar::Match m = m_bar->matches().at(i);
        QCOMPARE(selections.at(i).cursor.selectionStart(), m.start);
        QCOMPARE(selections.at(i).cursor.selectedText().compare(keyword, Qt::CaseInsensitive), 0);
        const QColor expected = i == m_bar->current() ? QColor(QStringLiteral("#ffcc66")) : QColor(QStringLiteral("#fff2a8"));
        QCOMPARE(selections.at(i).format.background().color(), expected);
    }
    if (count > 1) {
        m_bar->stepFind(1);
        QCOMPARE(m_view->extraSelections().at(1).format.background().color(), QColor(QStringLiteral("#ffcc66")));
        QCOMPARE(m_view->extraSelections().at(1).format.foreground().color(), QColor(Qt::black));
        QCOMPARE(m_view->extraSelections().at(0).format.background().color(), QColor(QStringLiteral("#fff2a8")));
    }
    m_bar->closeBar();
    QCOMPARE(m_view->extraSelections().size(), 0);
}

void tst_ReceiveFindBar::highlightsFollowScrolling()
{
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += QStringLiteral("line %1 key\n").arg(i);
    append(text);
    typeKeyword(QStringLiteral("key"));
    QCOMPARE(m_bar->matches().size(), 2000);

    const auto highlightedLines = [this] {
        QList<int> lines;
        for (const QTextEdit::ExtraSelection &s : m_view->extraSelections())
            lines.append(s.cursor.block().blockNumber());
        return lines;
    };
    const auto onScreen = [this](int line) {
        const QTextBlock block = m_view->document()->findBlockByNumber(line);
        QTextCursor cursor(block);
        const QRect r = m_view->cursorRect(cursor);
        return r.bottom() >= 0 && r.top() < m_view->viewport()->height();
    };
    const auto check = [&] {
        const QList<int> lines = highlightedLines();
        QVERIFY(!lines.isEmpty());
        QVERIFY(lines.size() < 200);
        for (int line : lines)
            QVERIFY(line >= 0 && line < 2000);
        // Every line on screen carries its highlight.
        for (int line = 0; line < 2000; ++line) {
            if (onScreen(line))
                QVERIFY2(lines.contains(line), qPrintable(QString::number(line)));
        }
    };
    check();
    QVERIFY(highlightedLines().contains(0));

    m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum() / 2);
    check();
    QVERIFY(!highlightedLines().contains(0));

    m_bar->stepFind(-1); // to the last match, at the bottom
    check();
    QVERIFY(highlightedLines().contains(1999));
}

void tst_ReceiveFindBar::replacedTextIsSearchedAgain()
{
    append(QStringLiteral("a key\nb key\nc key\n"));
    typeKeyword(QStringLiteral("key"));
    m_bar->stepFind(1);
    QCOMPARE(status(), QStringLiteral("2/3"));
    // Text put in before the end (not done by the pane, but by a document user).
    QTextCursor cursor(m_view->document());
    cursor.insertText(QStringLiteral("key 0\n"));
    m_bar->afterDisplayBatch();
    QCOMPARE(m_bar->matches().size(), 4);
    QCOMPARE(m_bar->matches().at(0).start, 0);
    QCOMPARE(currentText(), QStringLiteral("b key"));
    m_view->setPlainText(QStringLiteral("key x\n"));
    m_bar->afterDisplayBatch();
    QCOMPARE(m_bar->matches().size(), 1);
    QCOMPARE(m_bar->matches().at(0).start, 0);
    QCOMPARE(status(), QStringLiteral("1/1"));
}

void tst_ReceiveFindBar::incrementalAgreesWithFullSearch_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<quint32>("seed");

    QTest::newRow("word, any case") << "err" << false << 1u;
    QTest::newRow("word, matching case") << "Err" << true << 2u;
    QTest::newRow("repeating letters") << "aa" << false << 3u;
    QTest::newRow("single letter") << "e" << true << 4u;
    QTest::newRow("long word") << "errerr" << false << 5u;
}

// Text arrives in random pieces and the top is cut now and then; the kept
// matches and line visibility must equal a search of the whole text.
void tst_ReceiveFindBar::incrementalAgreesWithFullSearch()
{
    QFETCH(QString, keyword);
    QFETCH(bool, caseSensitive);
    QFETCH(quint32, seed);

    QRandomGenerator rng(seed);
    const QString alphabet = QStringLiteral("eErRaA \n");
    typeKeyword(keyword);
    child<QCheckBox>("receiveFindCaseBox")->setChecked(caseSensitive);
    child<QCheckBox>("receiveFindFilterBox")->setChecked(true);
    const Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;

    for (int round = 0; round < 300; ++round) {
        QString piece;
        const int size = int(rng.bounded(1, 20));
        for (int i = 0; i < size; ++i)
            piece += alphabet.at(int(rng.bounded(int(alphabet.size()))));
        QTextCursor cursor(m_view->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(piece);
        if (m_view->document()->characterCount() > 400)
            trimTop(int(rng.bounded(1, 200)));
        m_bar->afterDisplayBatch();

        QList<int> expectedStarts;
        QStringList expectedVisible;
        for (QTextBlock block = m_view->document()->begin(); block.isValid(); block = block.next()) {
            const QString text = block.text();
            for (int i = 0; (i = int(text.indexOf(keyword, i, cs))) >= 0; i += int(keyword.size()))
                expectedStarts.append(block.position() + i);
            if (text.contains(keyword, cs))
                expectedVisible.append(text);
        }
        QList<int> starts;
        for (const ReceiveFindBar::Match &m : m_bar->matches())
            starts.append(m.start);
        QCOMPARE(starts, expectedStarts);
        QCOMPARE(visibleLines(), expectedVisible);
        QVERIFY(laidOutAsVisible());
        QCOMPARE(status(), expectedStarts.isEmpty() ? QStringLiteral("0/0")
                                                    : QStringLiteral("%1/%2").arg(m_bar->current() + 1).arg(starts.size()));
    }
}

QTEST_MAIN(tst_ReceiveFindBar)
#include "tst_receivefindbar.moc"
