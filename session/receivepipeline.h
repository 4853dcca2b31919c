#pragma once

#include "session/ansiescapefilter.h"
#include "session/traffictext.h"

#include <QColor>
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
};

// A port's traffic on its way to the view, the log and the cloud console: escape
// filtering, one decoder and one formatter per consumer so each keeps its own
// character and line state, and the queue that the session drains every refresh.
// Call order: rebuild() whenever the encodings change, then filterReceived() and
// queue() per chunk, drain() per refresh. No I/O, no timers.
class ReceivePipeline
{
public:
    ReceivePipeline();
    ~ReceivePipeline();

    void rebuild(const FormatSetting &settings);

    // Escape sequences leave received text; hex keeps every byte.
    QByteArray filterReceived(const QByteArray &bytes, const FormatSetting &settings);
    QString consoleText(const QByteArray &bytes, int direction, const FormatSetting &settings,
                        const QDateTime &now);

    void queue(rxData chunk) { m_queue.append(std::move(chunk)); }
    bool isEmpty() const { return m_queue.isEmpty(); }
    // Formats everything queued; view text only when a view is attached.
    ReceiveBatch drain(const FormatSetting &settings, bool forView);

    // A line of its own in the view: "\n-- text --\n".
    ViewSegment notice(const QString &text);
    // The view was emptied: the next text starts a fresh line.
    void viewCleared() { m_viewFormatter.setLineEnded(true); }
    // Every opening stamps the log's next received chunk.
    void markOpened() { m_logFormatter.setStampDue(true); }

private:
    void appendView(QList<ViewSegment> &out, QString text, const QColor &colour);

    QList<rxData> m_queue;
    AnsiEscapeFilter m_escapeFilter;
    TrafficFormatter m_viewFormatter{TrafficFormatter::Target::Display};
    TrafficFormatter m_logFormatter{TrafficFormatter::Target::Log};
    std::unique_ptr<WireTextDecoder> m_viewRx, m_viewTx, m_logRx, m_logTx, m_consoleRx, m_consoleTx;
};
