#include "settings/serialportlist.h"

#include <QElapsedTimer>

QList<QSerialPortInfo> availableSerialPorts(qint64 maxAgeMs)
{
    static QElapsedTimer age;
    static QList<QSerialPortInfo> ports;
    if (!age.isValid() || age.elapsed() > maxAgeMs) {
        ports = QSerialPortInfo::availablePorts();
        age.start();
    }
    return ports;
}
