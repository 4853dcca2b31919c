#pragma once

#include <QtGlobal>

// The pane's line settings that a client session pushes to the remote port
// (serial-port module values, as stored in the pane's settings record).
struct Rfc2217LineConfig
{
    qint32 baudRate = 9600;
    qint32 dataBits = 8;
    qint32 parity = 0;
    qint32 stopBits = 1;
    qint32 flowControl = 0;
    bool dtrOn = true;
    bool rtsOn = true;
    // Keep the device server's own line settings: only the preamble is sent.
    bool useRemoteSerialConfig = true;
};
