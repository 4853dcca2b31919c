#include "cloud/deviceid.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSettings>
#include <QSysInfo>
#include <QUuid>

namespace {

const QString kKey = QStringLiteral("CloudDeviceId");
// Twelve ASCII characters; changing it would give every machine a new identity.
const QByteArray kSalt = QByteArrayLiteral("QlnConsoleV3");

} // namespace

namespace DeviceId {

bool isValid(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^([0-9a-fA-F]{8})-([0-9a-fA-F]{4})-([0-9a-fA-F]{4})-([0-9a-fA-F]{2})([0-9a-fA-F]{2})-([0-9a-fA-F]{12})$"));
    return pattern.match(text).hasMatch();
}

QString make(const QByteArray &machineData)
{
    const QByteArray node = QCryptographicHash::hash(machineData + kSalt, QCryptographicHash::Sha256).left(6);
    QUuid id = QUuid::createUuid();
    for (int i = 0; i < 6; ++i)
        id.data4[2 + i] = uchar(node.at(i));
    return id.toString(QUuid::WithoutBraces).toLower();
}

QString stored(QSettings &settings)
{
    const QString current = settings.value(kKey).toString().trimmed().toLower();
    if (isValid(current))
        return current;
    const QString made = make(machineData());
    settings.setValue(kKey, made);
    return made;
}

QByteArray machineData()
{
    return QSysInfo::machineUniqueId() + '/' + QSysInfo::machineHostName().toUtf8();
}

} // namespace DeviceId
