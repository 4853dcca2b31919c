#pragma once

#include <QtGlobal>

// Loop detector of one bridge direction: trips when, over a full window, more
// bytes came in than the rate allows while the queue kept growing, the mark of
// a cable loop feeding the bridge its own output. No I/O and no timers.
// Call order: configure(), then observe() for every input and, with no bytes, from
// time to time while the queue is not empty: a loop that has jammed its own
// destination sends nothing more, and its window must still be judged.
// reset() starts afresh.
class FloodGuard
{
public:
    struct Settings
    {
        bool enabled = true;
        qint64 rateBytesPerSec = 8388608;
        qint64 windowMs = 3000;
    };

    void configure(const Settings &settings);
    // `bytes` just came in while `queued` bytes wait; true when the guard trips.
    bool observe(qint64 bytes, qint64 queued, qint64 now);
    void reset() { m_active = false; }

private:
    void open(qint64 count, qint64 queued, qint64 now);

    Settings m_settings;
    bool m_active = false;
    qint64 m_start = 0;
    qint64 m_count = 0;
    qint64 m_queuedAtStart = 0;
};
