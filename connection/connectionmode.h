#pragma once

#include <QtGlobal>

// Persisted in settings documents: the values must never change.
enum ConnectionMode : qint32 {
    SerialPort = 0,
    TcpServer = 1,
    TcpClient = 2,
    Unassigned = 3,
    UdpServer = 4,
    UdpClient = 5,
    UdpGroup = 6,
    RemoteSerial = 7,
};

inline bool isTcpClientMode(int mode) { return mode == TcpClient || mode == RemoteSerial; }
inline bool isUdpMode(int mode) { return mode == UdpServer || mode == UdpClient || mode == UdpGroup; }
