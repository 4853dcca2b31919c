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
#include <functional>
#include <memory>

// The bar over a plain view, fed the way the pane feeds it: text appended at
// the end in edit blocks, the top cut away, then the batch hook.
class tst_ReceiveFindBar : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void currentMatch_data();
    void currentMatch();
    void highlightsFollowScrolling();
    void incrementalAgreesWithFullSearch_data();
    void incrementalAgreesWithFullSearch();

private:
    void append(const QString &text);
    void trimTop(int chars);
    void typeKeyword(const QString &keyword);
    QString status() const { return child<QLabel>("receiveFindStatusLabel")->text(); }
    QString currentText() const;
    template<typename T> T *child(const char *name) const
    {
        return m_bar->findChild<T *>(QString::fromLatin1(name));
    }

    std::unique_ptr<QWidget> m_host;
    QPlainTextEdit *m_view = nullptr;
    ReceiveFindBar *m_bar = nullptr;
};

// Each test gets a new host; the old one goes with it.
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

void tst_ReceiveFindBar::currentMatch_data()
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

void tst_ReceiveFindBar::currentMatch()
{
    QFETCH(int, from);
    QFETCH(QString, steps);
    QFETCH(int, trim);
    QFETCH(QString, line);
    QFETCH(QString, counted);

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
void tst_ReceiveFindBar::highlightsFollowScrolling()
{
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

void tst_ReceiveFindBar::incrementalAgreesWithFullSearch_data()
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
void tst_ReceiveFindBar::incrementalAgreesWithFullSearch()
{
    QFETCH(QString, keyword);
    QFETCH(bool, caseSensitive);
    QFETCH(quint32, seed);
    QFETCH(QString, release);

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

QTEST_MAIN(tst_ReceiveFindBar)
#include "tst_receivefindbar.moc"
