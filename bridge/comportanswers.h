#pragma once

#include "connection/rfc2217codec.h"
#include "connection/rfc2217event.h"

#include <QByteArray>
#include <QList>

// What a serial port runs with, as an RFC 2217 server reports it (serial-module values).
struct ComPortState
{
    qint32 baudRate = 9600;
    qint32 dataBits = 8;
    qint32 parity = 0;
    qint32 stopBits = 1;
    qint32 flowControl = 0;
    bool breakOn = false;
    bool dtrOn = true;
    bool rtsOn = true;
};

// The server role's answers to one batch of a client's events, each carrying the
// state in effect; events the server does not answer get nothing. No I/O.
QByteArray comPortAnswers(const Rfc2217Codec &codec, const QList<Rfc2217Event> &events, const ComPortState &state);
// Whether a requested baud rate is one a port could take (compared unsigned: a 32-bit
// value above 2^31 would turn negative as a signed number).
bool isPlausibleBaudRate(quint32 baudRate);
