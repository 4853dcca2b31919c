#pragma once

#include <QByteArray>
#include <QString>

class QSettings;

// The device identifier ("cid"): a lower-case UUID whose node part is taken from a
// hash of this machine's data, made once and kept in the settings.
namespace DeviceId {

bool isValid(const QString &text);
// A new identifier: random fields and the first six bytes of SHA-256(machine data + salt).
QString make(const QByteArray &machineData);
// The stored identifier, made and stored first when there is no valid one.
QString stored(QSettings &settings);
// What the identifier is derived from on this machine.
QByteArray machineData();

} // namespace DeviceId
