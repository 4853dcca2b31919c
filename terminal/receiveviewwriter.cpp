#include "terminal/receiveviewwriter.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <vector>

namespace {

// Every writer of the GUI thread, so that busy views share one frame budget.
std::vector<ReceiveViewWriter *> &writers()
{
    static std::vector<ReceiveViewWriter *> all;
    return all;
}

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

constexpr qint64 kActiveWindowMs = 500;
// What one view may always take per refresh, shared among the busy ones.
constexpr qsizetype kMinBudget = 64 * 1024;
constexpr qsizetype kMaxBudget = 4 << 20;
constexpr qsizetype kTrimStep = 64 * 1024;

} // namespace

ReceiveViewWriter::ReceiveViewWriter(QPlainTextEdit *view)
    : m_view(view)
{
    writers().push_back(this);
}

ReceiveViewWriter::~ReceiveViewWriter()
{
    auto &all = writers();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

qsizetype ReceiveViewWriter::budget() const
{
    if (m_nsPerByte <= 0)
        return kMaxBudget; // nothing learnt yet
    const qint64 now = monotonicMs();
    const auto busy = std::count_if(writers().begin(), writers().end(), [now](const ReceiveViewWriter *w) {
        return w->m_lastBatchMs >= 0 && now - w->m_lastBatchMs < kActiveWindowMs;
    });
    const qsizetype views = std::max<qsizetype>(1, busy);
    const double share = FrameBudgetMs * 1e6 / double(views);
    return std::clamp(qsizetype(share / m_nsPerByte), kMinBudget / views, kMaxBudget);
}
QString ReceiveViewWriter::breakLongLines(const QString &text)
{
    QString out;
    int lineLength = m_lineLength;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n')) {
            lineLength = 0;
            continue;
        }
        if (++lineLength <= MaxViewLine || text.at(i).isLowSurrogate())
            continue;
        // Prefer breaking after a blank (a hex byte boundary) near the limit.
        qsizetype at = i;
        for (qsizetype back = i; back > from && back > i - 64; --back) {
            if (text.at(back - 1) == QLatin1Char(' ')) {
                at = back;
                break;
            }
        }
        out += QStringView(text).mid(from, at - from);
        out += QLatin1Char('\n');
        from = at;
        lineLength = int(i - at + 1);
    }
    if (from == 0) {
        m_lineLength = lineLength;
        return text;
    }
    out += QStringView(text).mid(from);
    m_lineLength = lineLength;
    return out;
}

void ReceiveViewWriter::append(QList<ViewSegment> segments, qsizetype limit, qint64 shownBytes)
{
    QElapsedTimer timer;
    timer.start();
    insert(segments, limit);
    m_lastBatchMs = monotonicMs();
    // Small batches say little about the cost per byte; the average moves slowly so
    // that one slow batch does not starve the view.
    if (shownBytes >= 16 * 1024) {
        const double cost = double(timer.nsecsElapsed()) / double(shownBytes);
        m_nsPerByte = m_nsPerByte <= 0 ? cost : 0.7 * m_nsPerByte + 0.3 * cost;
    }
}

void ReceiveViewWriter::insert(QList<ViewSegment> &segments, qsizetype limit)
{
    qsizetype total = 0;
    for (const ViewSegment &segment : std::as_const(segments))
        total += segment.text.size();
    if (total == 0)
        return;
    QTextDocument *doc = m_view->document();
    const qsizetype half = qMax<qsizetype>(1, limit / 2);
    const qsizetype docChars = doc->characterCount() - 1;
    const qsizetype content = docChars + total;
    // Trimming takes a slice of the top at a time: half the limit for a small buffer,
    // at most kTrimStep for a large one, since removing millions of characters at once
    // stalls the window for a quarter of a second. What it would remove from this batch
    // is never inserted, so a burst costs no more than the view can hold.
    const qsizetype excess = content - limit;
    qsizetype remove = limit > 0 && excess > 0 ? qMax(excess, qMin(half, kTrimStep)) : 0;
    remove = qMin(remove, content);
    if (remove > 0 && remove >= docChars) {
        m_trimmedChars += remove;
        m_view->clear();
        m_lineLength = 0;
        m_forceScroll = true;
        qsizetype drop = remove - docChars;
        while (drop > 0 && !segments.isEmpty()) {
            ViewSegment &first = segments.first();
            if (first.text.size() <= drop) {
                drop -= first.text.size();
                segments.removeFirst();
            } else {
                if (first.text.at(drop).isLowSurrogate())
                    ++drop;
                first.text.remove(0, drop);
                drop = 0;
            }
        }
        remove = 0;
    }
    QScrollBar *bar = m_view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    for (const ViewSegment &segment : std::as_const(segments)) {
        QTextCharFormat format;
        if (segment.colour.isValid())
            format.setForeground(segment.colour);
        cursor.insertText(segment.notice ? segment.text : breakLongLines(segment.text), format);
        if (segment.notice)
            m_lineLength = 0;
    }
    cursor.endEditBlock();
    if (remove > 0)
        trimTop(remove);
    if (atBottom || m_forceScroll) {
        bar->setValue(bar->maximum());
        m_forceScroll = false;
    }
}

void ReceiveViewWriter::trimTop(qsizetype n)
{
    QTextDocument *doc = m_view->document();
    n = qMin<qsizetype>(n, doc->characterCount() - 1);
    QScrollBar *bar = m_view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    m_forceScroll = true;
    m_trimmedChars += n;
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.setPosition(0);
    cursor.setPosition(int(n), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
    if (atBottom)
        bar->setValue(bar->maximum());
}

void ReceiveViewWriter::clear()
{
    m_view->clear();
    m_lineLength = 0;
}
