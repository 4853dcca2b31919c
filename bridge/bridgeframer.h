#pragma once

#include <QByteArray>
#include <QList>

struct BridgeConfig;

// Cuts a byte stream into frames: as it comes, on an idle gap, after a delimiter,
// or in fixed lengths; no frame is longer than the largest frame size, and data
// that never completes a frame is released after the longest hold.
//
// No I/O and no timers. Call order: configure(), then push() for every input and
// onTimer() once nextDeadline() has passed; flush() releases everything held.
// Every call returns the frames complete by then, oldest first.
class BridgeFramer
{
public:
    struct Settings
    {
        qint32 mode = 0; // BridgeConfig's FramingMode
        qint64 idleGapMs = 4;
        QByteArray delimiter = QByteArray(1, '\n');
        qint64 fixedLength = 256;
        qint64 maxBytes = 4096;
        qint64 maxHoldMs = 200;
    };
    // The framing fields of a normalised configuration.
    static Settings settingsFrom(const BridgeConfig &normalised);

    void configure(const Settings &settings);
    const Settings &settings() const { return m_settings; }

    QList<QByteArray> push(const QByteArray &bytes, qint64 now);
    // The idle gap first, then the longest hold.
    QList<QByteArray> onTimer(qint64 now);
    QList<QByteArray> flush();

    // Milliseconds until the next release is due (0: due now), -1 when nothing is held.
    qint64 nextDeadline(qint64 now) const;
    bool isEmpty() const { return m_buffer.isEmpty(); }
    qint64 buffered() const { return m_buffer.size(); }

private:
    void cutPieces(QList<QByteArray> &out, const QByteArray &bytes) const;
    void takeAll(QList<QByteArray> &out);

    Settings m_settings;
    QByteArray m_buffer;
    qsizetype m_searchFrom = 0;
    qint64 m_firstAt = 0; // arrival of the oldest held byte
    qint64 m_lastAt = 0;  // arrival of the newest held byte
};
