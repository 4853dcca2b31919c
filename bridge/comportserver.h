#pragma once

#include "connection/rfc2217codec.h"
#include "connection/rfc2217event.h"

#include <QByteArray>
#include <QList>

class PortSession;
struct LineChange;

// The bridge's side of RFC 2217 towards a serial port session. As a server it applies
// what a remote client asks for: line settings through the session's remote-settings
// operation (all of one batch at once), control lines through its control-line
// operations; every answer carries the value in effect afterwards, so a client learns
// when the port refused or could not take what it asked for. As a client it states
// the session's line settings to a device server.
class ComPortServer
{
public:

    // The answers to one batch of a client's events (codec in the server role).
    static QByteArray serve(const Rfc2217Codec &codec, const QList<Rfc2217Event> &events, PortSession *serial);
    // SET-BAUDRATE, SET-DATASIZE, SET-PARITY, SET-STOPSIZE and SET-CONTROL (flow) for
    // the line settings (codec in the client role).
    static QByteArray lineCommands(const Rfc2217Codec &codec, const LineChange &line);
};
