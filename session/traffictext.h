#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class WireTextDecoder;
struct FormatSetting;

// One chunk of traffic as it travels through the pane's display queue.
struct rxData
{
    QDateTime time;     // local time the chunk was recorded
    int direction = 1;  // 1 received, 2 sent
    QByteArray data;
    bool toView = true; // false: logged only (forwarded traffic while the view is muted)
    bool toLog = true;  // false: already logged (held for a paused view)
};

enum PaneState { Running = 0, Paused = 1, Closed = 2 };

enum MessageFormat { HexFormat = 1, TextFormat = 2 };

// Each byte as two upper-case hex digits and a blank: 0x0A 0x41 -> "0A 41 ".
QString toHexText(const QByteArray &bytes);
// Puts `stamp` after every line feed except a trailing one.
QString stampLines(const QString &text, const QString &stamp);
// Control characters other than TAB, LF and CR become U+25A1.
QString markControlChars(const QString &text);
// Decodes with `decoder`, or a temporary decoder for `encoding` when there is none.
QString decodeText(const QByteArray &bytes, WireTextDecoder *decoder, const QString &encoding);

// Turns chunks into display or log text with stamps and automatic line breaks.
// One formatter per consumer keeps that consumer's line state; the caller
// passes the chunk's stamp text already expanded (display: the chunk time in
// the Rx/Tx pattern; log: the log pattern), or an empty stamp when stamps are off.
// Whether stamps are on is read from the settings of the target (display:
// DisplayMsgTime, log: LogTimestampEnabled). A chunk that formats to nothing
// (a character still incomplete) leaves the line state as it was.
class TrafficFormatter
{
public:
    enum class Target { Display, Log };

    explicit TrafficFormatter(Target target) : m_target(target) {}

    QString format(const rxData &chunk, WireTextDecoder *decoder, const FormatSetting &settings,
                   const QString &stamp);

    bool lineEnded() const { return m_lineEnded; }
    void setLineEnded(bool ended) { m_lineEnded = ended; }
    // Log only: the next received chunk gets a stamp in front (set at every opening).
    void setStampDue(bool due) { m_stampDue = due; }
    bool stampDue() const { return m_stampDue; }
    QDateTime hexFeedTime() const { return m_hexFeedTime; }
    QDateTime lastChunkTime() const { return m_lastChunkTime; }

private:
    Target m_target;
    bool m_lineEnded = true;
    bool m_stampDue = false;
    QDateTime m_hexFeedTime;
    QDateTime m_lastChunkTime;
};

// The cloud console's text for a chunk (hex, or decoded text with CRs folded
// and, with display stamps on, the current time after each line feed).
QString formatForConsole(const QByteArray &bytes, int direction, WireTextDecoder *decoder,
                         const FormatSetting &settings, const QDateTime &now);
