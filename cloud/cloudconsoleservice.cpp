#include "cloud/cloudconsoleservice.h"
#include "cloud/cloudlog.h"

#include "cloud/accountsession.h"
#include "cloud/networkservices.h"
#include "codec/hextext.h"
#include "codec/wiretextcodecregistry.h"
#include "connection/connectionmode.h"
#include "session/portsession.h"

#include <QDateTime>
#include <QJsonArray>
#include <QSysInfo>

namespace {

const QString kSendText = QStringLiteral("send_text");
const QString kSendHex = QStringLiteral("send_hex");
const QString kOpenPort = QStringLiteral("open_port");
const QString kClosePort = QStringLiteral("close_port");
const QString kSetPortConfig = QStringLiteral("set_port_config");
const QString kRequestSnapshot = QStringLiteral("request_snapshot");

bool isSerial(int mode)
{
    return mode == SerialPort || mode == RemoteSerial;
}

// Payload names and the serial module's values.
const QList<std::pair<QString, qint32>> &parityNames()
{
    static const QList<std::pair<QString, qint32>> names{{QStringLiteral("none"), 0},
                                                         {QStringLiteral("even"), 2},
                                                         {QStringLiteral("odd"), 3},
                                                         {QStringLiteral("space"), 4},
                                                         {QStringLiteral("mark"), 5}};
    return names;
}

const QList<std::pair<QString, qint32>> &flowNames()
{
    static const QList<std::pair<QString, qint32>> names{
        {QStringLiteral("none"), 0}, {QStringLiteral("rtscts"), 1}, {QStringLiteral("xonxoff"), 2}};
    return names;
}

QString nameOf(const QList<std::pair<QString, qint32>> &names, qint32 value)
{
    for (const auto &[name, v] : names) {
        if (v == value)
            return name;
    }
    return QString::number(value);
}

std::optional<qint32> valueOf(const QList<std::pair<QString, qint32>> &names, const QString &name)
{
    for (const auto &[n, v] : names) {
        if (n == name)
            return v;
    }
    return std::nullopt;
}

std::optional<qint32> wholeNumber(const QJsonValue &value)
{
    const double d = value.toDouble(-1);
    if (!value.isDouble() || d != double(qint64(d)) || d < 0 || d > 1e9)
        return std::nullopt;
    return qint32(d);
}

QString clientTime()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

} // namespace

CloudConsoleService::CloudConsoleService(NetworkServices *network, AccountSession *account, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_account(account)
    , m_deviceId(account->deviceId())
{
    m_heartbeatTimer.setInterval(HeartbeatMs);
    m_uploadTimer.setInterval(UploadMs);
    m_snapshotTimer.setInterval(SnapshotMs);
    m_pollTimer.setInterval(PollBackoffMs[0]);
    connect(&m_heartbeatTimer, &QTimer::timeout, this, &CloudConsoleService::onHeartbeatTick);
    connect(&m_pollTimer, &QTimer::timeout, this, &CloudConsoleService::onPollTick);
    connect(&m_uploadTimer, &QTimer::timeout, this, &CloudConsoleService::onUploadTick);
    connect(&m_snapshotTimer, &QTimer::timeout, this, &CloudConsoleService::sendSnapshot);
    connect(m_network, &NetworkServices::consoleResponse, this, &CloudConsoleService::onConsoleResponse);
}

CloudConsoleService::~CloudConsoleService()
{
    if (m_watching)
        attachSessions(false);
}

void CloudConsoleService::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (enabled) {
        setPollStep(0);
        m_heartbeatTimer.start();
        m_pollTimer.start();
        onHeartbeatTick();
        onPollTick();
        return;
    }
    m_heartbeatTimer.stop();
    m_pollTimer.stop();
    m_uploadTimer.stop();
    m_snapshotTimer.stop();
    if (m_watching) {
        m_watching = false;
        attachSessions(false);
        emit watchingChanged(false);
    }
    m_queue.clear();
}

void CloudConsoleService::setPollStep(int step)
{
    m_pollStep = qBound(0, step, int(PollBackoffMs.size()) - 1);
    if (m_pollTimer.interval() != PollBackoffMs[size_t(m_pollStep)])
        m_pollTimer.setInterval(PollBackoffMs[size_t(m_pollStep)]);
}

bool CloudConsoleService::haveToken()
{
    if (m_account->hasValidAccessToken())
        return true;
    m_account->requestRefresh(m_deviceId);
    return false;
}

void CloudConsoleService::onHeartbeatTick()
{
    if (!m_enabled || m_deviceId.isEmpty() || !haveToken())
        return;
    m_network->sendConsoleHeartbeat(m_account->accessToken(),
                                    {{QStringLiteral("cid"), m_deviceId},
                                     {QStringLiteral("session_id"), m_sessionId},
                                     {QStringLiteral("version"), QStringLiteral(QUILLON_VERSION)},
                                     {QStringLiteral("hostname"), QSysInfo::machineHostName()}});
    // A browser chooses the port to watch from the last snapshot, so the ports are
    // announced before anybody watches too.
    if (!m_watching)
        sendSnapshot();
}

void CloudConsoleService::onPollTick()
{
    if (!m_enabled || m_deviceId.isEmpty() || !haveToken())
        return;
    m_network->pollConsoleCommands(m_account->accessToken(), m_deviceId, PollLimit);
    if (!m_watching)
        setPollStep(m_pollStep + 1);
}

void CloudConsoleService::onUploadTick()
{
    if (m_queue.isEmpty() || !m_enabled || m_deviceId.isEmpty())
        return;
    const AccountSession::Quota &quota = m_account->quota();
    if (quota.enforced && quota.uploadRemaining >= 0 && m_queue.queuedBytes() > quota.uploadRemaining) {
        stopForQuota();
        return;
    }
    if (!haveToken())
        return;
    attachSessions(true); // panes added since watching began
    sendBatch();
}

void CloudConsoleService::sendBatch()
{
    QJsonArray events;
    for (const ConsoleEventQueue::Event &e : m_queue.takeBatch()) {
        events.append(QJsonObject{{QStringLiteral("client_time"), e.clientTime},
                                  {QStringLiteral("port_key"), e.portKey},
                                  {QStringLiteral("event_type"), e.type},
                                  {QStringLiteral("payload_text"), e.text}});
    }
    if (events.isEmpty())
        return;
    m_network->sendConsoleEvents(m_account->accessToken(),
                                 {{QStringLiteral("cid"), m_deviceId}, {QStringLiteral("events"), events}});
}

void CloudConsoleService::stopForQuota()
{
    setEnabled(false);
    emit stoppedItself(tr("Cloud Console stopped: monthly traffic quota used up. Please top up to continue."));
}

void CloudConsoleService::onConsoleResponse(const QJsonObject &response)
{
    if (!m_enabled)
        return;
    const QJsonValue cid = response.value(QStringLiteral("cid"));
    if (!cid.isUndefined() && cid.toString() != m_deviceId)
        return; // an answer for another device
    const QJsonValue status = response.value(QStringLiteral("status"));
    if (status.isBool() && !status.toBool()
        && response.value(QStringLiteral("code")).toString() == QLatin1String("quota_exceeded")) {
        stopForQuota();
        return;
    }
    const QJsonValue remaining = response.value(QStringLiteral("up_remaining"));
    if (remaining.isDouble())
        m_account->setUploadRemaining(qint64(remaining.toDouble()), true);
    const QJsonValue session = response.value(QStringLiteral("session_id"));
    if (session.isString())
        m_sessionId = session.toString();

    const QJsonValue watching = response.value(QStringLiteral("watching"));
    const QJsonValue commands = response.value(QStringLiteral("commands"));
    if (watching.isBool()) {
        if (watching.toBool())
            enterWatching();
        else if (m_watching && commands.isArray() && ++m_missedWatch >= 2)
            leaveWatching(); // one poll without a watcher is not enough: a browser may be reloading
    }
    for (const QJsonValue &command : commands.toArray()) {
        if (!m_enabled)
            break;
        execute(command.toObject());
    }
}

void CloudConsoleService::enterWatching()
{
    m_missedWatch = 0;
    setPollStep(0);
    if (m_watching)
        return;
    m_watching = true;
    attachSessions(true);
    m_uploadTimer.start();
    sendSnapshot();
    m_snapshotTimer.start();
    emit watchingChanged(true);
}

void CloudConsoleService::leaveWatching()
{
    m_watching = false;
    m_missedWatch = 0;
    attachSessions(false);
    if (haveToken()) {
        while (!m_queue.isEmpty())
            sendBatch();
    }
    m_uploadTimer.stop();
    m_snapshotTimer.stop();
    m_queue.clear();
    emit watchingChanged(false);
}

void CloudConsoleService::attachSessions(bool attach)
{
    if (!m_sessions)
        return;
    for (PortSession *session : m_sessions()) {
        session->setConsoleWatched(attach);
        if (attach)
            connect(session, &PortSession::consoleTraffic, this, &CloudConsoleService::onPortTraffic,
                    Qt::UniqueConnection);
        else
            disconnect(session, &PortSession::consoleTraffic, this, &CloudConsoleService::onPortTraffic);
    }
}

void CloudConsoleService::onPortTraffic(const QString &portKey, bool isTx, const QString &text)
{
    if (!m_watching)
        return;
    m_queue.push(portKey, isTx ? QStringLiteral("tx") : QStringLiteral("rx"), text, clientTime());
}

PortSession *CloudConsoleService::findSession(const QString &portKey) const
{
    if (!m_sessions || portKey.isEmpty())
        return nullptr;
    for (PortSession *session : m_sessions()) {
        if (session->portKey() == portKey)
            return session;
    }
    return nullptr;
}

QJsonObject CloudConsoleService::portSnapshot(PortSession *session) const
{
    const int mode = session->settings().ConnMode;
    QJsonArray capabilities{kSendText, kSendHex, kOpenPort, kClosePort};
    if (isSerial(mode))
        capabilities.append(kSetPortConfig);
    QJsonObject port{{QStringLiteral("port_key"), session->portKey()},
                     {QStringLiteral("title"), session->title()},
                     {QStringLiteral("display_name"), tr("Port %1: %2").arg(session->portIndex() + 1).arg(session->title())},
                     {QStringLiteral("connection_mode"), mode},
                     {QStringLiteral("is_open"), session->isOpen()},
                     {QStringLiteral("rx_bytes"), double(session->rxByteCount())},
                     {QStringLiteral("tx_bytes"), double(session->txByteCount())},
                     // Bridge partners are not known to the session; an empty list says "none known".
                     {QStringLiteral("bridged_to"), QJsonArray()},
                     {QStringLiteral("capabilities"), capabilities}};
    if (isSerial(mode))
        port.insert(QStringLiteral("baud_rate"), session->lineSettingsInEffect().baudRate.value_or(0));
    return port;
}

void CloudConsoleService::sendSnapshot()
{
    if (!m_enabled || m_deviceId.isEmpty() || !haveToken())
        return;
    QJsonArray ports;
    if (m_sessions) {
        for (PortSession *session : m_sessions())
            ports.append(portSnapshot(session));
    }
    m_network->sendConsoleSnapshot(m_account->accessToken(), {{QStringLiteral("cid"), m_deviceId},
                                                              {QStringLiteral("session_id"), m_sessionId},
                                                              {QStringLiteral("ports"), ports}});
}

void CloudConsoleService::execute(const QJsonObject &command)
{
    const QString id = command.value(QStringLiteral("command_id")).toString();
    if (id.isEmpty())
        return;
    if (const auto handled = m_handled.constFind(id); handled != m_handled.cend()) {
        postResult(id, *handled);
        return;
    }
    const Result result = decide(command);
    m_handled.insert(id, result);
    m_handledOrder.push_back(id);
    if (int(m_handledOrder.size()) > RememberedCommands) {
        m_handled.remove(m_handledOrder.front());
        m_handledOrder.pop_front();
    }
    qCDebug(lcCloud) << "console command" << command.value(QStringLiteral("command")).toString() << id << result.ok
                     << result.errorCode << result.message;
    postResult(id, result);
}

void CloudConsoleService::postResult(const QString &commandId, const Result &result)
{
    // The token that fetched the command is still good at the service for the
    // margin the account keeps, so the result goes out with it.
    if (m_account->accessToken().isEmpty())
        return;
    m_network->sendCommandResult(m_account->accessToken(), commandId,
                                 {{QStringLiteral("status"), result.ok ? QStringLiteral("succeeded")
                                                                       : QStringLiteral("failed")},
                                  {QStringLiteral("message"), result.message},
                                  {QStringLiteral("error_code"), result.errorCode}});
}

CloudConsoleService::Result CloudConsoleService::decide(const QJsonObject &command)
{
    const QString name = command.value(QStringLiteral("command")).toString();
    const bool sends = name == kSendText || name == kSendHex;
    const bool controls = name == kOpenPort || name == kClosePort || name == kSetPortConfig;
    if (sends && !m_allowSend)
        return {false, tr("remote send is disabled on the device"), QStringLiteral("permission_denied")};
    if (controls && !m_allowPortControl)
        return {false, tr("remote port control is disabled on the device"), QStringLiteral("permission_denied")};
    // Checked before anything runs, a snapshot included: a stale session's commands do nothing.
    if (command.value(QStringLiteral("session_id")).toString() != m_sessionId)
        return {false, tr("the console session has changed"), QStringLiteral("session_mismatch")};
    if (name == kRequestSnapshot) {
        sendSnapshot();
        return {true, tr("snapshot sent"), QString()};
    }
    PortSession *session = findSession(command.value(QStringLiteral("port_key")).toString());
    if (!session)
        return {false, tr("no port with this key"), QStringLiteral("port_not_found")};
    return run(name, session, command.value(QStringLiteral("payload")).toObject());
}

CloudConsoleService::Result CloudConsoleService::run(const QString &name, PortSession *session,
                                                     const QJsonObject &payload)
{
    if (name == kSendText)
        return sendText(session, payload);
    if (name == kSendHex)
        return sendHex(session, payload);
    if (name == kOpenPort) {
        if (session->isOpen())
            return {true, tr("the port is already open"), QString()};
        if (!session->open())
            return {false, tr("failed to open the port"), QStringLiteral("open_failed")};
        return {true, tr("port opened"), QString()};
    }
    if (name == kClosePort) {
        QString why;
        // Closing would end a running transfer, which only its own user may do.
        if (!session->lease()->permits(PortRequester::Console, PortOperation::PortSettings, &why))
            return {false, why, QStringLiteral("port_busy")};
        session->close();
        return {true, tr("port closed"), QString()};
    }
    if (name == kSetPortConfig)
        return setPortConfig(session, payload);
    return {false, tr("unsupported command: %1").arg(name), QStringLiteral("internal_error")};
}

CloudConsoleService::Result CloudConsoleService::sendText(PortSession *session, const QJsonObject &payload)
{
    QString text = payload.value(QStringLiteral("text")).toString();
    if (text.isEmpty())
        return {false, tr("empty payload"), QStringLiteral("internal_error")};
    const QString ending = payload.value(QStringLiteral("line_ending")).toString();
    if (ending == QLatin1String("cr"))
        text += QLatin1Char('\r');
    else if (ending == QLatin1String("lf"))
        text += QLatin1Char('\n');
    else if (ending == QLatin1String("crlf"))
        text += QStringLiteral("\r\n");
    const WireEncodeResult encoded = WireTextCodecRegistry::encode(text, session->settings().SendEncoding);
    if (!encoded.ok)
        return {false, encoded.error, QStringLiteral("encode_failed")};
    return sendBytes(session, encoded.bytes);
}

CloudConsoleService::Result CloudConsoleService::sendHex(PortSession *session, const QJsonObject &payload)
{
    const QString hex = payload.value(QStringLiteral("hex")).toString();
    if (hex.trimmed().isEmpty())
        return {false, tr("empty payload"), QStringLiteral("internal_error")};
    // Anything but hex digits and blanks fails as a whole: a typo must not send
    // a different byte.
    const HexInput parsed = parseHexInput(hex);
    if (!parsed.ok)
        return {false, tr("invalid hex: %1").arg(parsed.error), QStringLiteral("internal_error")};
    return sendBytes(session, parsed.bytes);
}

CloudConsoleService::Result CloudConsoleService::sendBytes(PortSession *session, const QByteArray &bytes)
{
    if (!session->isOpen())
        return {false, tr("the port is not open"), QStringLiteral("port_closed")};
    QString why;
    if (!session->lease()->permits(PortRequester::Console, PortOperation::SendData, &why))
        return {false, why, QStringLiteral("port_busy")};
    if (!session->send(bytes, PortRequester::Console))
        return {false, tr("the port did not take the data"), QStringLiteral("internal_error")};
    return {true, tr("sent %1 bytes").arg(bytes.size()), QString()};
}

CloudConsoleService::Result CloudConsoleService::setPortConfig(PortSession *session, const QJsonObject &payload)
{
    if (!isSerial(session->settings().ConnMode))
        return {false, tr("only a serial port has parameters"), QStringLiteral("not_serial")};
    LineChange change;
    QStringList invalid;
    auto number = [&](const char *key, std::optional<qint32> &field) {
        const QJsonValue v = payload.value(QLatin1String(key));
        if (v.isUndefined())
            return;
        field = wholeNumber(v);
        if (!field)
            invalid << QLatin1String(key);
    };
    auto named = [&](const char *key, const QList<std::pair<QString, qint32>> &names, std::optional<qint32> &field) {
        const QJsonValue v = payload.value(QLatin1String(key));
        if (v.isUndefined())
            return;
        field = valueOf(names, v.toString());
        if (!field)
            invalid << QLatin1String(key);
    };
    number("baud_rate", change.baudRate);
    number("data_bits", change.dataBits);
    named("parity", parityNames(), change.parity);
    named("flow_control", flowNames(), change.flowControl);
    const QJsonValue stop = payload.value(QStringLiteral("stop_bits"));
    if (!stop.isUndefined()) {
        const double d = stop.toDouble(-1);
        change.stopBits = d == 1 ? std::optional<qint32>(1) : d == 1.5 ? std::optional<qint32>(3)
                        : d == 2 ? std::optional<qint32>(2) : std::nullopt;
        if (!change.stopBits)
            invalid << QStringLiteral("stop_bits");
    }
    if (!invalid.isEmpty())
        return {false, tr("invalid value for %1").arg(invalid.join(QStringLiteral(", "))), QStringLiteral("invalid_payload")};

    switch (session->applyLineChange(change, PortRequester::Console)) {
    case PortSession::LineChangeResult::Invalid:
        return {false, tr("a value is outside the allowed range"), QStringLiteral("invalid_payload")};
    case PortSession::LineChangeResult::NotSerial:
        return {false, tr("only a serial port has parameters"), QStringLiteral("not_serial")};
    case PortSession::LineChangeResult::Busy: {
        QString why;
        session->lease()->permits(PortRequester::Console, PortOperation::PortSettings, &why);
        return {false, why.isEmpty() ? tr("the port is busy") : why, QStringLiteral("port_busy")};
    }
    case PortSession::LineChangeResult::Applied:
        break;
    }
    const LineChange now = session->lineSettingsInEffect();
    const qint32 stopBits = now.stopBits.value_or(1);
    return {true,
            tr("port settings applied: %1 baud, %2 data bits, parity %3, %4 stop bits, flow control %5")
                .arg(now.baudRate.value_or(0))
                .arg(now.dataBits.value_or(8))
                .arg(nameOf(parityNames(), now.parity.value_or(0)),
                     stopBits == 3 ? QStringLiteral("1.5") : QString::number(stopBits),
                     nameOf(flowNames(), now.flowControl.value_or(0))),
            QString()};
}
