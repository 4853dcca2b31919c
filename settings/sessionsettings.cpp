#include "settings/sessionsettings.h"

#include "codec/wiretextcodecregistry.h"
#include "settings/settingsreader.h"

#include <QColor>
#include <QJsonArray>

namespace {

const QString kSettings = QStringLiteral("settings");
const QString kConnection = QStringLiteral("connection");
const QString kSerial = QStringLiteral("serial");
const QString kNetwork = QStringLiteral("network");
const QString kDisplay = QStringLiteral("display");
const QString kFont = QStringLiteral("font");
const QString kColors = QStringLiteral("colors");
const QString kBehavior = QStringLiteral("behavior");
const QString kPorts = QStringLiteral("ports");
const QString kPortKey = QStringLiteral("port_key");
const QString kTargetHosts = QStringLiteral("target_hosts");
const QString kSendHistory = QStringLiteral("send_history");

// Where each preferences key sits in the "settings" object: the objects leading
// to it, its member name, and whether it is a list.
struct JsonKey
{
    const char *storeKey;
    QStringList path;
    const char *member;
    bool list = false;
};

const QList<JsonKey> &jsonKeys()
{
    static const QList<JsonKey> keys{
        {"LastConnMode", {kConnection}, "conn_mode"},
        {"LastPortName", {kConnection}, "port_name"},
        {"LastBaudrate", {kConnection, kSerial}, "baud_rate"},
        {"LastDatabits", {kConnection, kSerial}, "data_bits"},
        {"LastStopbits", {kConnection, kSerial}, "stop_bits"},
        {"LastParity", {kConnection, kSerial}, "parity"},
        {"LastFlowControl", {kConnection, kSerial}, "flow_control"},
        {"LastTargetHost", {kConnection, kNetwork}, "target_host"},
        {"LastTargetHosts", {kConnection, kNetwork}, "target_hosts", true},
        {"LastTargetPort", {kConnection, kNetwork}, "target_port"},
        {"LastUdpLocalPort", {kConnection, kNetwork}, "udp_local_port"},
        {"LastUdpServerPort", {kConnection, kNetwork}, "udp_server_port"},
        {"LastReceiveMessageFormat", {kDisplay}, "receive_msg_format"},
        {"LastSendMessageFormat", {kDisplay}, "send_msg_format"},
        {"LastReceiveEncoding", {kDisplay}, "receive_encoding"},
        {"LastSendEncoding", {kDisplay}, "send_encoding"},
        {"LastSendChecksum", {kDisplay}, "send_checksum"},
        {"LastRxAutoFeedLine", {kDisplay}, "rx_auto_feed_line"},
        {"LastRxLineEndingMode", {kDisplay}, "rx_line_ending_mode"},
        {"LastTxAutoFeedLine", {kDisplay}, "tx_auto_feed_line"},
        {"LastTxLineEndingMode", {kDisplay}, "tx_line_ending_mode"},
        {"LastTerminalEnterMode", {kDisplay}, "terminal_enter_mode"},
        {"LastAutoFeedInterval", {kDisplay}, "auto_feed_interval"},
        {"LastSplitterLeft", {kDisplay}, "splitter_left"},
        {"LastSplitterRight", {kDisplay}, "splitter_right"},
        {"LastDisplaySendMsg", {kDisplay}, "display_send_msg"},
        {"LastDisplaySendTime", {kDisplay}, "display_msg_time"},
        {"LastDisplayRxTimeFormat", {kDisplay}, "rx_time_format"},
        {"LastDisplayTxTimeFormat", {kDisplay}, "tx_time_format"},
        {"LastDisplayBufferSize", {kDisplay}, "display_buffer_size"},
        {"LastDisplayFontFamily", {kDisplay, kFont}, "family"},
        {"LastDisplayFontSize", {kDisplay, kFont}, "point_size"},
        {"LastFormatDisplayColor", {kDisplay}, "format_display_color"},
        {"LastSendTextColor", {kDisplay, kColors}, "send_text"},
        {"LastReceiveTextColor", {kDisplay, kColors}, "receive_text"},
        {"AutoReconnect", {kBehavior}, "auto_reconnect"},
        {"OpenLastConnection", {kBehavior}, "restore_last_connection"},
        {"SendList", {}, "send_history", true},
    };
    return keys;
}

// A "settings" object read as a key-value source for SettingsReader. Values of the
// wrong shape (an object for a number, a text for a list) count as missing, so the
// field keeps its value; everything else goes through the reader's own rules.
SettingsReader::Lookup jsonLookup(const QJsonObject &settings)
{
    return [settings](const QString &storeKey) -> QVariant {
        for (const JsonKey &key : jsonKeys()) {
            if (storeKey != QLatin1String(key.storeKey))
                continue;
            QJsonObject object = settings;
            for (const QString &name : key.path)
                object = object.value(name).toObject();
            const QJsonValue value = object.value(QLatin1String(key.member));
            if (key.list) {
                if (!value.isArray())
                    return {};
                QStringList items;
                for (const QJsonValue &item : value.toArray())
                    items << item.toVariant().toString();
                return items;
            }
            if (value.isArray() || value.isObject() || value.isNull() || value.isUndefined())
                return {};
            return value.toVariant();
        }
        return {};
    };
}

QJsonArray toArray(const QStringList &list)
{
    return QJsonArray::fromStringList(list);
}

QString colourName(const QColor &colour)
{
    return colour.name(QColor::HexRgb).toLower();
}

// The "settings" object; `behavior` only for the document's own record.
QJsonObject settingsObject(const LastSettings &s, bool includeSendHistory, const QJsonObject &behavior)
{
    const QJsonObject serial{{QStringLiteral("baud_rate"), s.LastBaudrate},
                             {QStringLiteral("data_bits"), s.LastDatabits},
                             {QStringLiteral("stop_bits"), s.LastStopbits},
                             {QStringLiteral("parity"), s.LastParity},
                             {QStringLiteral("flow_control"), s.LastFlowControl}};
    const QJsonObject network{{QStringLiteral("target_host"), s.LastTargetHost},
                              {kTargetHosts, toArray(s.LastTargetHosts)},
                              {QStringLiteral("target_port"), s.LastTargetPort},
                              {QStringLiteral("udp_local_port"), int(s.LastUdpLocalPort)},
                              {QStringLiteral("udp_server_port"), int(s.LastUdpServerPort)}};
    const QJsonObject connection{{QStringLiteral("conn_mode"), s.LastConnMode},
                                 {QStringLiteral("port_name"), s.LastPortName},
                                 {kSerial, serial},
                                 {kNetwork, network}};
    const QJsonObject font{{QStringLiteral("family"), s.displayFont.family().section(QLatin1Char(','), 0, 0)},
                           {QStringLiteral("point_size"), s.displayFont.pointSize()}};
    const QJsonObject colors{{QStringLiteral("send_text"), colourName(s.LastSendTextColor)},
                             {QStringLiteral("receive_text"), colourName(s.LastReceiveTextColor)}};
    const QJsonObject display{
        {QStringLiteral("receive_msg_format"), s.LastReceiveMessageFormat},
        {QStringLiteral("send_msg_format"), s.LastSendMessageFormat},
        {QStringLiteral("receive_encoding"), WireTextCodecRegistry::canonicalName(s.LastReceiveEncoding)},
        {QStringLiteral("send_encoding"), WireTextCodecRegistry::canonicalName(s.LastSendEncoding)},
        {QStringLiteral("send_checksum"), s.LastSendChecksum},
        {QStringLiteral("rx_auto_feed_line"), s.LastRxAutoFeedLine},
        {QStringLiteral("rx_line_ending_mode"), s.LastRxLineEndingMode},
        {QStringLiteral("tx_auto_feed_line"), s.LastTxAutoFeedLine},
        {QStringLiteral("tx_line_ending_mode"), s.LastTxLineEndingMode},
        {QStringLiteral("terminal_enter_mode"), s.LastTerminalEnterMode},
        {QStringLiteral("auto_feed_interval"), s.LastAutoFeedInterval},
        {QStringLiteral("splitter_left"), s.LastSplitterLeft},
        {QStringLiteral("splitter_right"), s.LastSplitterRight},
        {QStringLiteral("display_send_msg"), s.LastDisplaySendMsg},
        {QStringLiteral("display_msg_time"), s.LastDisplaySendTime},
        {QStringLiteral("rx_time_format"), s.LastDisplayRxTimeFormat},
        {QStringLiteral("tx_time_format"), s.LastDisplayTxTimeFormat},
        {QStringLiteral("display_buffer_size"), s.LastDisplayBufferSize},
        {kFont, font},
        {QStringLiteral("format_display_color"), s.LastFormatDisplayColor},
        {kColors, colors}};
    QJsonObject settings{{kConnection, connection}, {kDisplay, display}};
    if (!behavior.isEmpty())
        settings.insert(kBehavior, behavior);
    if (includeSendHistory)
        settings.insert(kSendHistory, toArray(s.SendList));
    return settings;
}

bool compatible(const QJsonObject &document)
{
    const QJsonValue version = document.value(QStringLiteral("version"));
    return document.value(QStringLiteral("schema")).toString() == sessionSettingsSchema() && version.isDouble()
        && version.toDouble() == SessionSettingsVersion;
}

// The first occurrence of every entry of a, then of b.
QJsonArray mergedList(const QJsonValue &a, const QJsonValue &b)
{
    QStringList out;
    for (const QJsonValue &list : {a, b}) {
        for (const QJsonValue &item : list.toArray()) {
            const QString text = item.toVariant().toString();
            if (!out.contains(text))
                out << text;
        }
    }
    return toArray(out);
}

// The settings object `local` with the host and send histories of `cloud` added.
QJsonObject mergeLists(QJsonObject local, const QJsonObject &cloud)
{
    QJsonObject connection = local.value(kConnection).toObject();
    QJsonObject network = connection.value(kNetwork).toObject();
    const QJsonValue cloudHosts = cloud.value(kConnection).toObject().value(kNetwork).toObject().value(kTargetHosts);
    if (network.value(kTargetHosts).isArray() || cloudHosts.isArray()) {
        network.insert(kTargetHosts, mergedList(network.value(kTargetHosts), cloudHosts));
        connection.insert(kNetwork, network);
        local.insert(kConnection, connection);
    }
    if (local.value(kSendHistory).isArray() || cloud.value(kSendHistory).isArray())
        local.insert(kSendHistory, mergedList(local.value(kSendHistory), cloud.value(kSendHistory)));
    return local;
}

} // namespace

QString sessionSettingsSchema()
{
    return QStringLiteral("qln.session-settings");
}

QJsonObject sessionSettingsToJson(const LastSettings &record, const QString &clientId, const QString &deviceName,
                                  int language, bool includeSendHistory)
{
    const QJsonObject behavior{{QStringLiteral("auto_reconnect"), record.AutoReconnect},
                               {QStringLiteral("restore_last_connection"), record.OpenLastConnection},
                               {QStringLiteral("language"), language}};
    return {{QStringLiteral("schema"), sessionSettingsSchema()},
            {QStringLiteral("version"), SessionSettingsVersion},
            {QStringLiteral("app_version"), QStringLiteral(QUILLON_VERSION)},
            {QStringLiteral("updated_by"),
             QJsonObject{{QStringLiteral("cid"), clientId}, {QStringLiteral("device_name"), deviceName}}},
            {kSettings, settingsObject(record, includeSendHistory, behavior)}};
}

bool sessionSettingsFromJson(const QJsonObject &document, LastSettings &record, int *language)
{
    if (!compatible(document))
        return false;
    const QJsonObject settings = document.value(kSettings).toObject();
    readPreferenceValues(SettingsReader(jsonLookup(settings)), record);
    const QJsonValue lang = settings.value(kBehavior).toObject().value(QStringLiteral("language"));
    if (language && lang.isDouble())
        *language = lang.toInt(*language);
    return true;
}

void addSessionPorts(QJsonObject &document, const QList<SessionPort> &ports, bool includeSendHistory)
{
    QJsonArray list;
    for (const SessionPort &port : ports) {
        PreferenceSources pane;
        pane.firstPane = port.settings;
        pane.sendHistory = port.settings.SendList;
        const LastSettings record = collectPreferences(LastSettings(), pane);
        list.append(QJsonObject{{kPortKey, port.portKey},
                                {kSettings, settingsObject(record, includeSendHistory, {})}});
    }
    document.insert(kPorts, list);
}

QList<SessionPort> sessionPortsFromJson(const QJsonObject &document,
                                        const std::function<FormatSetting(const QString &portKey)> &base)
{
    QList<SessionPort> ports;
    if (!compatible(document))
        return ports;
    for (const QJsonValue &entry : document.value(kPorts).toArray()) {
        const QJsonObject port = entry.toObject();
        const QString key = port.value(kPortKey).toString();
        PreferenceSources pane;
        pane.firstPane = base(key);
        pane.sendHistory = pane.firstPane.SendList;
        LastSettings record = collectPreferences(LastSettings(), pane);
        readPreferenceValues(SettingsReader(jsonLookup(port.value(kSettings).toObject())), record);
        ports.append({key, paneSettingsFrom(record, pane.firstPane)});
    }
    return ports;
}

QJsonObject mergeSessionDocuments(const QJsonObject &local, const QJsonObject &cloud, int maxPorts)
{
    QJsonObject merged = local;
    merged.insert(kSettings, mergeLists(local.value(kSettings).toObject(), cloud.value(kSettings).toObject()));

    QJsonArray ports;
    QStringList keys;
    const QJsonArray cloudPorts = cloud.value(kPorts).toArray();
    for (const QJsonValue &entry : local.value(kPorts).toArray()) {
        QJsonObject port = entry.toObject();
        const QString key = port.value(kPortKey).toString();
        keys << key;
        for (const QJsonValue &other : cloudPorts) {
            if (other.toObject().value(kPortKey).toString() == key) {
                port.insert(kSettings, mergeLists(port.value(kSettings).toObject(),
                                                  other.toObject().value(kSettings).toObject()));
                break;
            }
        }
        ports.append(port);
    }
    for (const QJsonValue &other : cloudPorts) {
        const QString key = other.toObject().value(kPortKey).toString();
        if (ports.size() >= maxPorts)
            break;
        if (!keys.contains(key)) {
            keys << key;
            ports.append(other);
        }
    }
    if (!ports.isEmpty() || local.contains(kPorts))
        merged.insert(kPorts, ports);
    return merged;
}
