#pragma once

#include "session/receivepipeline.h"

#include <QList>

class QPlainTextEdit;

// Appends the session's view batches to the receive view and keeps the view within
// the display buffer: trimming takes half the buffer at a time from the top, a burst
// larger than the buffer is never inserted beyond what trimming would keep, and lines
// longer than the view can lay out cheaply are broken in the view (never in the log).
class ReceiveViewWriter
{
public:
    // A line longer than this is broken in the view: laying out one ever-growing
    // paragraph costs more with every chunk.
    static constexpr int MaxViewLine = 4096;

    explicit ReceiveViewWriter(QPlainTextEdit *view) : m_view(view) {}

    void append(QList<ViewSegment> segments, qsizetype bufferLimit);
    void clear();
    qint64 takeTrimmedChars() { return std::exchange(m_trimmedChars, 0); }

private:
    QString breakLongLines(const QString &text);
    void trimTop(qsizetype n);

    QPlainTextEdit *m_view;
    int m_lineLength = 0;
    qint64 m_trimmedChars = 0;
    bool m_forceScroll = false;
};
