#pragma once

#include <QList>
#include <QSerialPortInfo>

// The system's serial ports, listed at most once per `maxAgeMs` for the whole
// program: a listing costs milliseconds, and sixteen panes plus the window
// refreshing on their own timers would otherwise stall the event loop.
QList<QSerialPortInfo> availableSerialPorts(qint64 maxAgeMs = 500);
