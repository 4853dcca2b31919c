#pragma once

#include "session/receivepipeline.h"

#include <QList>

class QPlainTextEdit;

// Appends the session's view batches to the receive view and keeps the view within
// the display buffer: trimming takes half the buffer at a time from the top, a burst
// larger than the buffer is never inserted beyond what trimming would keep, and lines
// longer than the view can lay out cheaply are broken in the view (never in the log).
// It also paces itself: from what its last batches cost it works out how many raw bytes
// it can take per refresh, so that all views together stay within FrameBudgetMs of
// every 20 ms refresh however fast the ports are.
class ReceiveViewWriter
{
public:
    // A line longer than this is broken in the view: laying out one ever-growing
    // paragraph costs more with every chunk.
    static constexpr int MaxViewLine = 4096;
    static constexpr int FrameBudgetMs = 8;

    explicit ReceiveViewWriter(QPlainTextEdit *view);
    ~ReceiveViewWriter();

    // Appends a batch that shows `shownBytes` raw bytes and learns what that cost.
    void append(QList<ViewSegment> segments, qsizetype bufferLimit, qint64 shownBytes = 0);
    void clear();
    qint64 takeTrimmedChars() { return std::exchange(m_trimmedChars, 0); }
    // Raw bytes this view can take in the next refresh.
    qsizetype budget() const;

private:
    QString breakLongLines(const QString &text);
    void trimTop(qsizetype n);
    void insert(QList<ViewSegment> &segments, qsizetype limit);

    QPlainTextEdit *m_view;
    int m_lineLength = 0;
    qint64 m_trimmedChars = 0;
    bool m_forceScroll = false;
    double m_nsPerByte = 0;
    qint64 m_lastBatchMs = -1;
};
