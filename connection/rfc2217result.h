#pragma once

#include <QByteArray>
#include <QString>

// What the owner of a client session does after a decode or a handshake time-out.
struct Rfc2217Result
{
    QByteArray reply; // write to the socket at once
    QByteArray data; // payload for the receive path
    QString message; // status-bar text, may be empty
    bool negotiationEnded = false; // stop the handshake timer
};
