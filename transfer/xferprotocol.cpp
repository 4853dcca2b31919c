#include "transfer/xferprotocol.h"

QString xferProtocolName(XferProtocol protocol)
{
    switch (protocol) {
    case Xmodem:
        return QStringLiteral("XMODEM");
    case XmodemCrc:
        return QStringLiteral("XMODEM-CRC");
    case Xmodem1k:
        return QStringLiteral("XMODEM-1K");
    case Ymodem:
        return QStringLiteral("YMODEM");
    case YmodemG:
        return QStringLiteral("YMODEM-G");
    }
    return QString();
}
