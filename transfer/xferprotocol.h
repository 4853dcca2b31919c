#pragma once

#include <QString>

// Persisted with the transfer choices: the values must never change.
enum XferProtocol : qint32 {
    Xmodem = 0,
    XmodemCrc = 1,
    Xmodem1k = 2,
    Ymodem = 3,
    YmodemG = 4,
};

// The protocol's display name, for example "XMODEM-1K".
QString xferProtocolName(XferProtocol protocol);
