#include "terminal/receiveviewwriter.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

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

void ReceiveViewWriter::append(QList<ViewSegment> segments, qsizetype limit)
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
    // Trimming takes half the limit at a time, as often as it takes to get back under
    // the limit; what it would remove from this batch is never inserted, so a burst
    // costs no more than the view can hold.
    qsizetype remove = limit > 0 && content > limit ? (content - limit + half - 1) / half * half : 0;
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
