#pragma once

#include "session/ansiescapefilter.h"
#include "session/traffictext.h"

#include <QColor>
#include <QCoreApplication>
#include <QList>
#include <memory>

class WireTextDecoder;
struct FormatSetting;

// A run of view text in one colour (invalid colour: the view's plain text).
struct ViewSegment
{
    QString text;
    QColor colour;
    bool notice = false;
};

// What one drain of the queue produced.
struct ReceiveBatch
{
    QList<ViewSegment> view;
    QString log;
    qint64 shownBytes = 0;   // raw bytes whose text went to the view
    qint64 skippedBytes = 0; // raw bytes the view did not get (they were logged)
};

// A port's traffic on its way to the view, the log and the cloud console: escape
// filtering, one decoder and one formatter per consumer so each keeps its own
// character and line state, and the queue that the session drains every refresh.
// The log gets every byte; the view gets what fits its budget, newest first, and a
// notice line says how many bytes it did not get. While the view is paused its part is
// held, up to a bound, and shown at resume.
// Call order: rebuild() whenever the encodings change, then filterReceived() and
// queue() per chunk, drain() per refresh. No I/O, no timers.
class ReceivePipeline
{
    Q_DECLARE_TR_FUNCTIONS(ReceivePipeline)

public:
    // Unlimited view budget.
    static constexpr qsizetype NoBudget = -1;

    ReceivePipeline();
    ~ReceivePipeline();

    void rebuild(const FormatSetting &settings);

    // Escape sequences leave received text; hex keeps every byte.
    QByteArray filterReceived(const QByteArray &bytes, const FormatSetting &settings);
    QString consoleText(const QByteArray &bytes, int direction, const FormatSetting &settings,
                        const QDateTime &now);

    void queue(rxData chunk)
    {
        m_queuedBytes += chunk.data.size();
        m_queue.append(std::move(chunk));
    }
    bool isEmpty() const { return m_queue.isEmpty(); }
    qsizetype queuedBytes() const { return m_queuedBytes; }
    // Formats the oldest queued chunks, up to `maxBytes` raw bytes (at least one chunk),
    // for the log, and for the view (when one is attached) the newest of them up to
    // `viewBudget` raw bytes. With `hold`, the view's part is kept for later instead,
    // at most `holdLimit` bytes of it.
    ReceiveBatch drain(const FormatSetting &settings, bool forView, qsizetype viewBudget = NoBudget,
                       bool hold = false, qsizetype holdLimit = 0, qsizetype maxBytes = NoBudget);
    qsizetype heldBytes() const { return m_heldBytes; }

    // A line of its own in the view: "\n-- text --\n".
    ViewSegment notice(const QString &text);
    // The view was emptied: the next text starts a fresh line.
    void viewCleared() { m_viewFormatter.setLineEnded(true); }
    // Every opening stamps the log's next received chunk.
    void markOpened() { m_logFormatter.setStampDue(true); }

private:
    void appendView(QList<ViewSegment> &out, QString text, const QColor &colour);
    void markGap(ReceiveBatch &batch, qint64 bytes, const FormatSetting &settings);

    QList<rxData> m_queue;
    qsizetype m_queuedBytes = 0;
    QList<rxData> m_held; // a paused view's part, already logged
    qsizetype m_heldBytes = 0;
    qint64 m_heldDropped = 0;
    AnsiEscapeFilter m_escapeFilter;
    TrafficFormatter m_viewFormatter{TrafficFormatter::Target::Display};
    TrafficFormatter m_logFormatter{TrafficFormatter::Target::Log};
    std::unique_ptr<WireTextDecoder> m_viewRx, m_viewTx, m_logRx, m_logTx, m_consoleRx, m_consoleTx;
};
