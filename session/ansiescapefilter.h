#pragma once

#include <QByteArray>

class QString;

// Removes ANSI/VT escape sequences (CSI, OSC, two-byte ESC sequences) from a
// received byte stream in text mode. Feed chunks in arrival order; a sequence
// split across chunks is held until it completes or proves not to be one.
// A held sequence never grows beyond 256 (CSI) or 4096 (OSC) bytes: past that
// it is given back as text, so nothing received is lost.
class AnsiEscapeFilter
{
public:
    enum State { Ground = 0, Escape = 1, Csi = 2, Osc = 3, OscEscape = 4 };

    QByteArray filter(const QByteArray &bytes);

    int state() const { return m_state; }
    const QByteArray &pending() const { return m_pending; }

    // The 8-bit introducers 0x9B (CSI), 0x9D (OSC) and the terminator 0x9C are
    // honoured only when on. In UTF-8 and the multi-byte encodings those bytes
    // are parts of characters, so the pane turns this on only for an encoding
    // where 0x80-0x9F are C1 controls (encodingHasC1Controls).
    void setC1Controls(bool on) { m_c1 = on; }
    bool c1Controls() const { return m_c1; }
    static bool encodingHasC1Controls(const QString &encoding);

private:
    void step(uchar b, QByteArray &out);
    void flushPending(QByteArray &out);

    int m_state = Ground;
    QByteArray m_pending;
    bool m_c1 = false;
};
