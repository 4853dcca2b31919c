#include "gateway/gatewayoptions.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace {

constexpr int DefaultBaudRate = 9600;

bool number(const QString &text, qint64 lo, qint64 hi, qint64 *out)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok || n < lo || n > hi)
        return false;
    *out = n;
    return true;
}

// The framing a Modbus bridge needs unless told otherwise: an answer is one frame.
void defaultFramingFor(BridgeConfig &config)
{
    if (config.Protocol == BridgeConfig::ModbusGateway)
        config.FramingMode = BridgeConfig::CutOnIdleGap;
}

} // namespace

bool GatewayOptions::parseSerial(const QString &text, FormatSetting *serial, QString *error)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() > 4 || parts.first().isEmpty()) {
        *error = tr("Expected DEVICE[,BAUD[,8N1[,FLOW]]] for --serial, got \"%1\".").arg(text);
        return false;
    }
    FormatSetting s;
    s.ConnMode = 0;
    s.PortName = parts.at(0);
    s.BaudRate = DefaultBaudRate;
    if (parts.size() > 1) {
        qint64 baud = 0;
        if (!number(parts.at(1), 50, 16000000, &baud)) {
            *error = tr("The baud rate \"%1\" is not a number from 50 to 16000000.").arg(parts.at(1));
            return false;
        }
        s.BaudRate = int(baud);
    }
    if (parts.size() > 2) {
        static const QRegularExpression shape(QStringLiteral("^([5-8])([NEOMS])(1|1\\.5|2)$"),
                                              QRegularExpression::CaseInsensitiveOption);
        const auto m = shape.match(parts.at(2));
        if (!m.hasMatch()) {
            *error = tr("The line format \"%1\" is not like 8N1 (data bits 5 to 8, parity N, E, O, M or S, stop bits 1, 1.5 or 2).")
                         .arg(parts.at(2));
            return false;
        }
        s.DataBits = m.captured(1).toInt();
        // The serial module's values: none 0, even 2, odd 3, space 4, mark 5.
        const QChar parity = m.captured(2).toUpper().at(0);
        s.Parity = parity == u'E' ? 2 : parity == u'O' ? 3 : parity == u'S' ? 4 : parity == u'M' ? 5 : 0;
        const QString stop = m.captured(3);
        s.StopBits = stop == QLatin1String("2") ? 2 : stop == QLatin1String("1.5") ? 3 : 1;
    }
    if (parts.size() > 3) {
        const QString flow = parts.at(3).toLower();
        if (flow == QLatin1String("none"))
            s.FlowControl = 0;
        else if (flow == QLatin1String("rtscts"))
            s.FlowControl = 1;
        else if (flow == QLatin1String("xonxoff"))
            s.FlowControl = 2;
        else {
            *error = tr("The flow control \"%1\" is not none, rtscts or xonxoff.").arg(parts.at(3));
            return false;
        }
    }
    *serial = s;
    return true;
}

bool GatewayOptions::parseListen(const QString &text, QHostAddress *address, quint16 *port, QString *error)
{
    QString host = QStringLiteral("127.0.0.1");
    QString portText = text;
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = text.left(colon);
        portText = text.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
    }
    QHostAddress parsed;
    qint64 n = 0;
    if (!parsed.setAddress(host) || !number(portText, 1, 65535, &n)) {
        *error = tr("Expected [ADDR:]PORT for --listen, with a numeric address and a port from 1 to 65535, got \"%1\".")
                     .arg(text);
        return false;
    }
    *address = parsed;
    *port = quint16(n);
    return true;
}

bool GatewayOptions::parseFraming(const QString &text, BridgeConfig *config, QString *error)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    const QString kind = text.left(colon).toLower();
    const QString value = colon < 0 ? QString() : text.mid(colon + 1);
    qint64 n = 0;
    if (kind == QLatin1String("immediate") && colon < 0) {
        config->FramingMode = BridgeConfig::ForwardImmediately;
        return true;
    }
    if (kind == QLatin1String("idle-gap") && (colon < 0 || number(value, 1, 60000, &n))) {
        config->FramingMode = BridgeConfig::CutOnIdleGap;
        if (colon >= 0)
            config->FramingIdleGapMs = qint32(n);
        return true;
    }
    static const QRegularExpression hex(QStringLiteral("^(?:[0-9A-Fa-f]{2})+$"));
    if (kind == QLatin1String("delimiter") && hex.match(value).hasMatch()) {
        config->FramingMode = BridgeConfig::CutOnDelimiter;
        config->FramingDelimiterHex = QByteArray::fromHex(value.toLatin1());
        return true;
    }
    if (kind == QLatin1String("fixed") && number(value, 1, 1048576, &n)) {
        config->FramingMode = BridgeConfig::FixedLength;
        config->FramingFixedLength = qint32(n);
        return true;
    }
    *error = tr("Expected immediate, idle-gap[:MS], delimiter:HEX or fixed:N for --framing, got \"%1\".").arg(text);
    return false;
}

bool GatewayOptions::parseProtocol(const QString &text, qint32 *protocol, QString *error)
{
    const QString p = text.toLower();
    if (p == QLatin1String("raw"))
        *protocol = BridgeConfig::Transparent;
    else if (p == QLatin1String("rfc2217"))
        *protocol = BridgeConfig::Rfc2217Server;
    else if (p == QLatin1String("modbus"))
        *protocol = BridgeConfig::ModbusGateway;
    else {
        *error = tr("Expected raw, rfc2217 or modbus for --protocol, got \"%1\".").arg(text);
        return false;
    }
    return true;
}

bool GatewayOptions::readConfigFile(const QString &path, QList<GatewayBridge> *bridges, QString *error)
{
    if (!QFileInfo(path).isReadable()) {
        *error = tr("Cannot read the configuration file %1.").arg(path);
        return false;
    }
    QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        *error = tr("%1 is not a valid configuration file.").arg(path);
        return false;
    }
    const QStringList sections = file.childGroups();
    for (const QString &section : sections) {
        file.beginGroup(section);
        GatewayBridge b;
        BridgeConfig base;
        base.Name = section;
        base.Protocol = file.value(QStringLiteral("Protocol"), 0).toInt();
        defaultFramingFor(base);
        QStringList unknown;
        b.config = readBridgeRecord(file, base, &unknown);
        // The INI reader splits a value at commas.
        const QString serial = file.value(QStringLiteral("serial")).toStringList().join(QLatin1Char(','));
        const QString listen = file.value(QStringLiteral("listen")).toString();
        file.endGroup();
        unknown.removeAll(QStringLiteral("serial"));
        unknown.removeAll(QStringLiteral("listen"));
        for (const char *fixed : {"PortA", "PortB"}) {
            if (file.contains(section + QLatin1Char('/') + QLatin1String(fixed)))
                unknown.append(QLatin1String(fixed));
        }
        QString why;
        if (!unknown.isEmpty())
            why = tr("unknown or fixed keys %1").arg(unknown.join(QStringLiteral(", ")));
        else if (serial.isEmpty() || listen.isEmpty())
            why = tr("serial= and listen= are both needed");
        else if (parseSerial(serial, &b.serial, &why))
            parseListen(listen, &b.listenAddress, &b.listenPort, &why);
        if (!why.isEmpty()) {
            *error = tr("%1, section [%2]: %3").arg(path, section, why);
            return false;
        }
        bridges->append(b);
    }
    return true;
}

GatewayOptions::Parse GatewayOptions::parse(const QStringList &arguments, QList<GatewayBridge> *bridges,
                                            QString *error)
{
    GatewayBridge cli;
    bool haveSerial = false, haveListen = false, framingGiven = false;
    QStringList configFiles;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString arg = arguments.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help"))
            return Parse::Help;
        if (arg == QLatin1String("--version"))
            return Parse::Version;
        static const QStringList withValue{QStringLiteral("--serial"),  QStringLiteral("--listen"),
                                           QStringLiteral("--protocol"), QStringLiteral("--framing"),
                                           QStringLiteral("--allow"),    QStringLiteral("--capture"),
                                           QStringLiteral("--config"),   QStringLiteral("--name")};
        if (!withValue.contains(arg)) {
            *error = tr("Unknown option \"%1\".").arg(arg);
            return Parse::Error;
        }
        if (i + 1 >= arguments.size()) {
            *error = tr("%1 needs a value.").arg(arg);
            return Parse::Error;
        }
        const QString value = arguments.at(++i);
        bool ok = true;
        if (arg == QLatin1String("--serial"))
            ok = haveSerial = parseSerial(value, &cli.serial, error);
        else if (arg == QLatin1String("--listen"))
            ok = haveListen = parseListen(value, &cli.listenAddress, &cli.listenPort, error);
        else if (arg == QLatin1String("--protocol"))
            ok = parseProtocol(value, &cli.config.Protocol, error);
        else if (arg == QLatin1String("--framing"))
            ok = framingGiven = parseFraming(value, &cli.config, error);
        else if (arg == QLatin1String("--allow")) {
            // Checked the way the server checks a client: an address or a subnet.
            if (QHostAddress::parseSubnet(value).second < 0 && QHostAddress(value).isNull()) {
                *error = tr("Expected an address or ADDR/NET for --allow, got \"%1\".").arg(value);
                ok = false;
            }
            cli.config.AllowedPeers.append(value);
        } else if (arg == QLatin1String("--capture")) {
            cli.config.LogEnabled = true;
            cli.config.LogFilePath = value;
        } else if (arg == QLatin1String("--name"))
            cli.config.Name = value;
        else
            configFiles.append(value);
        if (!ok)
            return Parse::Error;
    }
    if (haveSerial != haveListen) {
        *error = tr("--serial and --listen go together.");
        return Parse::Error;
    }
    if (haveSerial) {
        if (!framingGiven)
            defaultFramingFor(cli.config);
        if (cli.config.Name.isEmpty())
            cli.config.Name = QStringLiteral("gateway");
        bridges->append(cli);
    }
    for (const QString &path : std::as_const(configFiles)) {
        if (!readConfigFile(path, bridges, error))
            return Parse::Error;
    }
    if (bridges->isEmpty()) {
        *error = tr("Nothing to serve: give --serial and --listen, or --config.");
        return Parse::Error;
    }
    return Parse::Run;
}

QString GatewayOptions::helpText()
{
    return tr("Usage:\n"
              "  quillon-gateway --serial DEVICE[,BAUD[,8N1[,FLOW]]] --listen [ADDR:]PORT [options]\n"
              "  quillon-gateway --config FILE\n"
              "\n"
              "Serves a serial port on a TCP port without a window: as raw bytes, as an RFC 2217\n"
              "remote serial port, or as a Modbus TCP to Modbus RTU gateway. Runs until SIGINT or\n"
              "SIGTERM; data on its way is then delivered for up to one second.\n"
              "\n"
              "Options:\n"
              "  --serial DEVICE[,BAUD[,8N1[,FLOW]]]\n"
              "                     the serial port, e.g. /dev/ttyUSB0,19200,8E1,none; BAUD\n"
              "                     defaults to 9600, the format to 8N1, FLOW (none, rtscts or\n"
              "                     xonxoff) to none\n"
              "  --listen [ADDR:]PORT\n"
              "                     where clients connect; ADDR defaults to 127.0.0.1 (use\n"
              "                     0.0.0.0 for every interface, [::1] for IPv6)\n"
              "  --protocol raw|rfc2217|modbus\n"
              "                     raw passes bytes through (default); rfc2217 lets clients set\n"
              "                     the line parameters and control lines; modbus turns Modbus\n"
              "                     TCP requests into RTU frames and the answers back\n"
              "  --framing immediate|idle-gap[:MS]|delimiter:HEX|fixed:N\n"
              "                     how bytes are cut into frames (default immediate, and\n"
              "                     idle-gap with modbus; MS defaults to 4)\n"
              "  --allow ADDR[/NET] only these clients may connect (repeatable; default any)\n"
              "  --capture FILE     record both directions, time-stamped, to FILE\n"
              "  --name NAME        the bridge's name in log lines (default \"gateway\")\n"
              "  --config FILE      more bridges from an INI file, one section per bridge with\n"
              "                     serial= and listen= as above and any bridge setting\n"
              "                     (Protocol=2, FramingMode=1, FanoutMode=2, QueueLimitBytes=...)\n"
              "  -h, --help         show this help\n"
              "      --version      show the version\n"
              "\n"
              "Log lines go to standard error. Exit status: 0 after a clean stop, 1 for a bad\n"
              "command line or configuration, 2 when a TCP port cannot be served.\n");
}
