#pragma once

#include <QByteArray>
#include <QtGlobal>

// One decoded COM-PORT suboption; values are in the serial-port module's value sets.
struct Rfc2217Event
{
    enum Kind : qint32 {
        BaudRate = 0,
        DataSize = 1,
        Parity = 2,
        StopSize = 3,
        FlowControl = 4,
        Break = 5,
        Dtr = 6,
        Rts = 7,
        Purge = 8,
        Signature = 9,
        LineState = 10,
        ModemState = 11,
    };

    qint32 kind = BaudRate;
    // Baud rate, data bits, parity (none 0, even 2, odd 3, space 4, mark 5), stop bits
    // (1, 2, 3 = one and a half), flow control (none 0, hardware 1, software 2), or the raw
    // byte for purge, line state and modem state.
    quint32 value = 0;
    bool on = false;
    // The peer asked for the current value, or sent one outside the defined range.
    bool request = false;
    QByteArray text;
    // Suboption code without the server's +100.
    quint8 code = 0;
    bool fromServer = false;
};
