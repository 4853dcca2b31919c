#pragma once

#include <QByteArray>

// Removes ANSI/VT escape sequences (CSI, OSC, two-byte ESC sequences) from a
// received byte stream in text mode. Feed chunks in arrival order; a sequence
// split across chunks is held until it completes or proves not to be one.
class AnsiEscapeFilter
{
public:
    enum State { Ground = 0, Escape = 1, Csi = 2, Osc = 3, OscEscape = 4 };

    QByteArray filter(const QByteArray &bytes);

    int state() const { return m_state; }
    const QByteArray &pending() const { return m_pending; }

private:
    int m_state = Ground;
    QByteArray m_pending;
};
