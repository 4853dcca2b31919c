#pragma once

#include "bridge/bridgeconfig.h"
#include "settings/formatsetting.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// One bridge the gateway runs: a serial port and the TCP port that serves it.
struct GatewayBridge
{
    FormatSetting serial;     // a serial port pane's settings
    QHostAddress listenAddress{QHostAddress::LocalHost};
    quint16 listenPort = 0;
    BridgeConfig config;      // the ports are filled in by the gateway
};

// The command line and configuration file of quillon-gateway.
class GatewayOptions
{
    Q_DECLARE_TR_FUNCTIONS(GatewayOptions)

public:
    enum class Parse { Run, Help, Version, Error };

    // `arguments` without the program name. On Error `error` says what is wrong.
    static Parse parse(const QStringList &arguments, QList<GatewayBridge> *bridges, QString *error);
    static QString helpText();

    // DEVICE[,BAUD[,8N1[,none|rtscts|xonxoff]]]
    static bool parseSerial(const QString &text, FormatSetting *serial, QString *error);
    // [ADDR:]PORT, ADDR defaulting to 127.0.0.1; an IPv6 address goes in brackets.
    static bool parseListen(const QString &text, QHostAddress *address, quint16 *port, QString *error);
    // immediate | idle-gap[:MS] | delimiter:HEX | fixed:N
    static bool parseFraming(const QString &text, BridgeConfig *config, QString *error);
    // raw | rfc2217 | modbus
    static bool parseProtocol(const QString &text, qint32 *protocol, QString *error);
    // One bridge per section of an INI file.
    static bool readConfigFile(const QString &path, QList<GatewayBridge> *bridges, QString *error);
};
