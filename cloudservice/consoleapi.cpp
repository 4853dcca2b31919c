#include "cloudservice/consoleapi.h"

#include "cloudservice/accountapi.h"
#include "cloudservice/credentials.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

namespace {
const QString kConsole = QStringLiteral("console");
const QString kQuota = QStringLiteral("quota");
constexpr int kMaxEventsPerBatch = 256;
constexpr int kMaxPorts = 64;

const QStringList &commandNames()
{
    static const QStringList names{QStringLiteral("send_text"), QStringLiteral("send_hex"),
                                   QStringLiteral("open_port"), QStringLiteral("close_port"),
                                   QStringLiteral("set_port_config"), QStringLiteral("request_snapshot")};
    return names;
}

bool isOneOf(const QJsonValue &value, std::initializer_list<const char *> choices)
{
    if (!value.isString())
        return false;
    for (const char *choice : choices) {
        if (value.toString() == QLatin1String(choice))
            return true;
    }
    return false;
}

// Checks the payload members a command carries; empty when they are usable. Values the
// device itself judges (an empty text, an unknown port) are passed on for its answer.
QString payloadProblem(const QString &command, const QJsonObject &payload)
{
    if (command == QLatin1String("send_text")) {
        const QJsonValue text = payload.value(QLatin1String("text"));
        if (!text.isString() || text.toString().size() > 8192)
            return QStringLiteral("send_text needs \"text\", a string of at most 8192 characters.");
        const QJsonValue ending = payload.value(QLatin1String("line_ending"));
        if (!ending.isUndefined() && !isOneOf(ending, {"none", "cr", "lf", "crlf"}))
            return QStringLiteral("\"line_ending\" is one of none, cr, lf, crlf.");
    } else if (command == QLatin1String("send_hex")) {
        const QJsonValue hex = payload.value(QLatin1String("hex"));
        static const QRegularExpression digits(QStringLiteral("^[0-9A-Fa-f\\s]*$"));
        if (!hex.isString() || hex.toString().size() > 16384 || !digits.match(hex.toString()).hasMatch())
            return QStringLiteral("send_hex needs \"hex\", hexadecimal digits and spaces.");
    } else if (command == QLatin1String("set_port_config")) {
        int given = 0;
        const auto integerIn = [&](const char *key, double low, double high) {
            const QJsonValue v = payload.value(QLatin1String(key));
            if (v.isUndefined())
                return true;
            ++given;
            return v.isDouble() && v.toDouble() == double(qint64(v.toDouble())) && v.toDouble() >= low
                    && v.toDouble() <= high;
        };
        const auto choiceIn = [&](const char *key, std::initializer_list<const char *> choices) {
            const QJsonValue v = payload.value(QLatin1String(key));
            if (v.isUndefined())
                return true;
            ++given;
            return isOneOf(v, choices);
        };
        const QJsonValue stop = payload.value(QLatin1String("stop_bits"));
        if (!stop.isUndefined()) {
            ++given;
            if (stop.toDouble() != 1 && stop.toDouble() != 1.5 && stop.toDouble() != 2)
                return QStringLiteral("\"stop_bits\" is 1, 1.5 or 2.");
        }
        if (!integerIn("baud_rate", 1, 100000000) || !integerIn("data_bits", 5, 8)
            || !choiceIn("parity", {"none", "odd", "even", "mark", "space"})
            || !choiceIn("flow_control", {"none", "rtscts", "xonxoff"}))
            return QStringLiteral("set_port_config takes baud_rate, data_bits (5-8), parity, stop_bits "
                                  "and flow_control with valid values.");
        if (given == 0)
            return QStringLiteral("set_port_config needs at least one parameter.");
    }
    return {};
}
}

ConsoleApi::ConsoleApi(CloudStore *store, ConsoleHub *hub, const Settings &settings)
    : m_store(store), m_hub(hub), m_settings(settings)
{
}

void ConsoleApi::addRoutes(ApiRouter &router)
{
    using M = QHttpServerRequest::Method;
    const auto bindTo = [this](ApiReply (ConsoleApi::*handler)(ApiRequest &)) {
        return [this, handler](ApiRequest &call) { return (this->*handler)(call); };
    };
    const auto add = [&](M method, const char *pattern, const QString &domain,
                         ApiReply (ConsoleApi::*handler)(ApiRequest &)) {
        router.add(method, QLatin1String(pattern), domain, ApiRouter::Access::Bearer, bindTo(handler));
    };
    add(M::Post, "/api/v3/console/heartbeat", kConsole, &ConsoleApi::heartbeat);
    add(M::Post, "/api/v3/console/ports/snapshot", kConsole, &ConsoleApi::snapshot);
    add(M::Post, "/api/v3/console/events", kConsole, &ConsoleApi::events);
    add(M::Get, "/api/v3/console/commands/poll", kConsole, &ConsoleApi::poll);
    add(M::Post, "/api/v3/console/commands/([^/]+)/result", kConsole, &ConsoleApi::result);
    add(M::Get, "/api/v3/console/devices", kConsole, &ConsoleApi::listDevices);
    add(M::Post, "/api/v3/console/devices/([^/]+)/watch", kConsole, &ConsoleApi::watch);
    add(M::Post, "/api/v3/console/devices/([^/]+)/unwatch", kConsole, &ConsoleApi::unwatch);
    add(M::Get, "/api/v3/console/devices/([^/]+)/events", kConsole, &ConsoleApi::watchedEvents);
    add(M::Post, "/api/v3/console/devices/([^/]+)/commands", kConsole, &ConsoleApi::queueCommand);
    add(M::Get, "/api/v3/console/devices/([^/]+)/commands", kConsole, &ConsoleApi::listCommands);
    add(M::Get, "/api/v3/cloud/quota", kQuota, &ConsoleApi::quota);
}

void ConsoleApi::expireCommands(qint64 now)
{
    m_store->expireCommands(now, now - m_settings.commandLifetimeMs, now - m_settings.redeliverAfterMs,
                            m_settings.maxDeliveries);
}

QString ConsoleApi::month(qint64 now)
{
    return QDateTime::fromMSecsSinceEpoch(now, Qt::UTC).toString(QStringLiteral("yyyy-MM"));
}

std::optional<CloudStore::Device> ConsoleApi::boundDevice(const ApiRequest &call, const QString &cid,
                                                          ApiReply *refusal)
{
    if (cid.isEmpty()) {
        *refusal = ApiReply::failure(400, kConsole, QStringLiteral("missing_field"), QStringLiteral("\"cid\" is missing."));
        return std::nullopt;
    }
    if (!AccountApi::cidPattern().match(cid).hasMatch()) {
        *refusal = ApiReply::failure(400, kConsole, QStringLiteral("invalid_field"), QStringLiteral("\"cid\" is not valid."));
        return std::nullopt;
    }
    auto device = m_store->device(call.bearer.accountId, cid.toLower());
    if (!device) {
        // The same answer for a device of another account as for none at all.
        *refusal = m_store->failed() ? ApiReply()
                                     : ApiReply::failure(403, kConsole, QStringLiteral("device_not_bound"),
                                                         QStringLiteral("This device is not bound to your account."));
    }
    return device;
}

qint64 ConsoleApi::uploadRemaining(qint64 accountId, const QString &month)
{
    return qMax<qint64>(0, m_settings.monthlyUploadLimit - m_store->usage(accountId, month).up);
}

QJsonObject ConsoleApi::deviceState(const CloudStore::Device &device, const ApiRequest &call)
{
    const QString session = m_hub->session(device.id, call.tick);
    if (!session.isEmpty())
        m_hub->markTold(device.id);
    QJsonObject state{{QStringLiteral("cid"), device.cid},
                      {QStringLiteral("watching"), !session.isEmpty()},
                      {QStringLiteral("session_id"), session},
                      {QStringLiteral("server_time"), AccountApi::timeJson(call.now)}};
    if (m_settings.monthlyUploadLimit > 0)
        state.insert(QStringLiteral("up_remaining"), uploadRemaining(device.accountId, month(call.now)));
    return state;
}

QJsonObject ConsoleApi::commandJson(const CloudStore::Command &command)
{
    return {{QStringLiteral("command_id"), command.id},
            {QStringLiteral("command"), command.command},
            {QStringLiteral("session_id"), command.sessionId},
            {QStringLiteral("port_key"), command.portKey},
            {QStringLiteral("payload"), QJsonDocument::fromJson(command.payload).object()},
            {QStringLiteral("state"), command.state},
            {QStringLiteral("created_at"), AccountApi::timeJson(command.createdAt)},
            {QStringLiteral("delivered_at"), AccountApi::timeJson(command.deliveredAt)},
            {QStringLiteral("deliveries"), command.deliveries},
            {QStringLiteral("finished_at"), AccountApi::timeJson(command.finishedAt)},
            {QStringLiteral("message"), command.message},
            {QStringLiteral("error_code"), command.errorCode}};
}

ApiReply ConsoleApi::heartbeat(ApiRequest &call)
{
    FieldReader fields(call.body, kConsole);
    const QString cid = fields.text("cid", 64);
    fields.text("session_id", 64, false);
    const QString version = fields.text("version", 64, false);
    const QString hostname = fields.text("hostname", 255, false);
    if (!fields.ok())
        return fields.error();
    ApiReply refusal;
    const auto device = boundDevice(call, cid, &refusal);
    if (!device)
        return refusal;
    m_store->touchDevice(device->id, call.now, hostname, version);
    return ApiReply::success(kConsole, deviceState(*device, call));
}

ApiReply ConsoleApi::snapshot(ApiRequest &call)
{
    FieldReader fields(call.body, kConsole);
    const QString cid = fields.text("cid", 64);
    fields.text("session_id", 64, false);
    const QJsonArray ports = fields.array("ports", kMaxPorts);
    if (!fields.ok())
        return fields.error();
    for (const QJsonValue &port : ports) {
        if (!port.isObject() || !port.toObject().value(QLatin1String("port_key")).isString())
            return ApiReply::failure(400, kConsole, QStringLiteral("invalid_field"),
                                     QStringLiteral("Each port is an object with a \"port_key\"."));
    }
    ApiReply refusal;
    const auto device = boundDevice(call, cid, &refusal);
    if (!device)
        return refusal;
    m_store->storeSnapshot(device->id, QJsonDocument(ports).toJson(QJsonDocument::Compact), call.now);
    QJsonObject members = deviceState(*device, call);
    members.insert(QStringLiteral("ports"), ports.size());
    return ApiReply::success(kConsole, members);
}

ApiReply ConsoleApi::events(ApiRequest &call)
{
    FieldReader fields(call.body, kConsole);
    const QString cid = fields.text("cid", 64);
    const QJsonArray list = fields.array("events", kMaxEventsPerBatch);
    if (!fields.ok())
        return fields.error();
    QList<ConsoleHub::Event> events;
    qint64 bytes = 0;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject event = list.at(i).toObject();
        const QJsonValue portKey = event.value(QLatin1String("port_key"));
        const QJsonValue type = event.value(QLatin1String("event_type"));
        const QJsonValue text = event.value(QLatin1String("payload_text"));
        if (!list.at(i).isObject() || !portKey.isString() || portKey.toString().size() > 64
            || !isOneOf(type, {"rx", "tx"}) || !text.isString())
            return ApiReply::failure(400, kConsole, QStringLiteral("invalid_field"),
                                     QStringLiteral("Event %1 needs \"port_key\", \"event_type\" (rx or tx) "
                                                    "and \"payload_text\".")
                                             .arg(i));
        bytes += text.toString().toUtf8().size();
        events.append({0, portKey.toString(), type.toString(), text.toString(),
                       event.value(QLatin1String("client_time")), 0});
    }
    ApiReply refusal;
    const auto device = boundDevice(call, cid, &refusal);
    if (!device)
        return refusal;
    const QString thisMonth = month(call.now);
    if (m_settings.monthlyUploadLimit > 0 && bytes > uploadRemaining(device->accountId, thisMonth)) {
        ApiReply reply = ApiReply::failure(429, kConsole, QStringLiteral("quota_exceeded"),
                                           QStringLiteral("The monthly console traffic quota is used up."));
        reply.body.insert(QStringLiteral("cid"), device->cid);
        reply.body.insert(QStringLiteral("up_remaining"), uploadRemaining(device->accountId, thisMonth));
        return reply;
    }
    m_store->addUsage(device->accountId, thisMonth, bytes, 0);
    const int kept = m_hub->append(device->id, events, call.tick);
    QJsonObject members = deviceState(*device, call);
    members.insert(QStringLiteral("accepted"), list.size());
    members.insert(QStringLiteral("kept"), kept);
    return ApiReply::success(kConsole, members);
}

ApiReply ConsoleApi::poll(ApiRequest &call)
{
    const QString cid = call.query.queryItemValue(QStringLiteral("cid"));
    const QString limitText = call.query.queryItemValue(QStringLiteral("limit"));
    bool ok = true;
    const int limit = limitText.isEmpty() ? 16 : limitText.toInt(&ok);
    if (!ok || limit < 1 || limit > 64)
        return ApiReply::failure(400, kConsole, QStringLiteral("invalid_field"),
                                 QStringLiteral("\"limit\" is a number from 1 to 64."));
    ApiReply refusal;
    const auto device = boundDevice(call, cid, &refusal);
    if (!device)
        return refusal;
    m_store->touchDevice(device->id, call.now, QString(), QString());
    const QList<CloudStore::Command> taken = m_store->takeCommands(
            device->id, call.now, limit, call.now - m_settings.redeliverAfterMs, m_settings.maxDeliveries);
    QJsonArray commands;
    qint64 down = 0;
    for (const CloudStore::Command &command : taken) {
        down += command.payload.size();
        commands.append(QJsonObject{{QStringLiteral("command_id"), command.id},
                                    {QStringLiteral("command"), command.command},
                                    {QStringLiteral("session_id"), command.sessionId},
                                    {QStringLiteral("port_key"), command.portKey},
                                    {QStringLiteral("payload"), QJsonDocument::fromJson(command.payload).object()}});
    }
    if (down > 0)
        m_store->addUsage(device->accountId, month(call.now), 0, down);
    QJsonObject members = deviceState(*device, call);
    members.insert(QStringLiteral("commands"), commands);
    return ApiReply::success(kConsole, members);
}

ApiReply ConsoleApi::result(ApiRequest &call)
{
    FieldReader fields(call.body, kConsole);
    const QString status = fields.text("status", 16);
    const QString message = fields.text("message", 1024, false);
    const QString errorCode = fields.text("error_code", 64, false);
    if (!fields.ok())
        return fields.error();
    if (status != QLatin1String("succeeded") && status != QLatin1String("failed"))
        return ApiReply::failure(400, kConsole, QStringLiteral("invalid_field"),
                                 QStringLiteral("\"status\" is \"succeeded\" or \"failed\"."));
    const QString commandId = call.captures.value(0);
    qint64 deviceId = 0;
    switch (m_store->recordResult(call.bearer.accountId, commandId, status == QLatin1String("succeeded"), message,
                                  errorCode, call.now, &deviceId)) {
    case CloudStore::ResultOutcome::NotFound:
        if (m_store->failed())
            return {};
        return ApiReply::failure(404, kConsole, QStringLiteral("command_not_found"),
                                 QStringLiteral("There is no such command for your devices."));
    case CloudStore::ResultOutcome::AlreadyFinished:
        return ApiReply::failure(409, kConsole, QStringLiteral("command_finished"),
                                 QStringLiteral("A result for this command was recorded already."));
    case CloudStore::ResultOutcome::Recorded:
        break;
    }
    return ApiReply::success(kConsole, {{QStringLiteral("command_id"), commandId}});
}

ApiReply ConsoleApi::listDevices(ApiRequest &call)
{
    QJsonArray devices;
    for (const CloudStore::Device &device : m_store->devices(call.bearer.accountId)) {
        QJsonObject entry = AccountApi::deviceJson(device, call.now);
        entry.insert(QStringLiteral("ports"), QJsonDocument::fromJson(device.snapshot).array());
        entry.insert(QStringLiteral("snapshot_at"), AccountApi::timeJson(device.snapshotAt));
        entry.insert(QStringLiteral("watched"), !m_hub->session(device.id, call.tick).isEmpty());
        devices.append(entry);
    }
    return ApiReply::success(kConsole, {{QStringLiteral("devices"), devices}});
}

ApiReply ConsoleApi::watch(ApiRequest &call)
{
    ApiReply refusal;
    const auto device = boundDevice(call, call.captures.value(0), &refusal);
    if (!device)
        return refusal;
    const QString session = m_hub->watch(device->id, call.bearer.familyId, call.tick);
    return ApiReply::success(kConsole, {{QStringLiteral("cid"), device->cid},
                                        {QStringLiteral("session_id"), session},
                                        {QStringLiteral("device_told"), m_hub->told(device->id)},
                                        {QStringLiteral("last_seq"), m_hub->lastSeq(device->id)}});
}

ApiReply ConsoleApi::unwatch(ApiRequest &call)
{
    ApiReply refusal;
    const auto device = boundDevice(call, call.captures.value(0), &refusal);
    if (!device)
        return refusal;
    m_hub->unwatch(device->id, call.bearer.familyId);
    return ApiReply::success(kConsole, {{QStringLiteral("cid"), device->cid},
                                        {QStringLiteral("watched"),
                                         !m_hub->session(device->id, call.tick).isEmpty()}});
}

ApiReply ConsoleApi::watchedEvents(ApiRequest &call)
{
    ApiReply refusal;
    const auto device = boundDevice(call, call.captures.value(0), &refusal);
    if (!device)
        return refusal;
    const QString session = call.query.queryItemValue(QStringLiteral("session_id"));
    if (!m_hub->touch(device->id, session, call.bearer.familyId, call.tick))
        return ApiReply::failure(409, kConsole, QStringLiteral("session_expired"),
                                 QStringLiteral("The console session ended; watch the device again."));
    const qint64 after = call.query.queryItemValue(QStringLiteral("after")).toLongLong();
    const QString portKey = call.query.queryItemValue(QStringLiteral("port_key"));
    QJsonArray events;
    for (const ConsoleHub::Event &event : m_hub->events(device->id, after, 500, portKey)) {
        events.append(QJsonObject{{QStringLiteral("seq"), event.seq},
                                  {QStringLiteral("port_key"), event.portKey},
                                  {QStringLiteral("event_type"), event.type},
                                  {QStringLiteral("payload_text"), event.text},
                                  {QStringLiteral("client_time"), event.clientTime},
                                  {QStringLiteral("server_time"), AccountApi::timeJson(event.serverTime
                                                                          - call.tick + call.now)}});
    }
    QJsonArray commands;
    for (const CloudStore::Command &command : m_store->recentCommands(device->id, session, 20))
        commands.append(commandJson(command));
    QJsonObject members = AccountApi::deviceJson(*device, call.now);
    members.insert(QStringLiteral("session_id"), session);
    members.insert(QStringLiteral("device_told"), m_hub->told(device->id));
    members.insert(QStringLiteral("events"), events);
    members.insert(QStringLiteral("last_seq"), m_hub->lastSeq(device->id));
    members.insert(QStringLiteral("ports"), QJsonDocument::fromJson(device->snapshot).array());
    members.insert(QStringLiteral("snapshot_at"), AccountApi::timeJson(device->snapshotAt));
    members.insert(QStringLiteral("recent_commands"), commands);
    return ApiReply::success(kConsole, members);
}

ApiReply ConsoleApi::queueCommand(ApiRequest &call)
{
    FieldReader fields(call.body, kConsole);
    const QString session = fields.text("session_id", 64);
    const QString command = fields.text("command", 32);
    const QString portKey = fields.text("port_key", 64, false);
    const QJsonObject payload = fields.object("payload", false);
    if (!fields.ok())
        return fields.error();
    if (!commandNames().contains(command))
        return ApiReply::failure(400, kConsole, QStringLiteral("invalid_command"),
                                 QStringLiteral("Unknown command \"%1\".").arg(command));
    if (portKey.isEmpty() && command != QLatin1String("request_snapshot"))
        return ApiReply::failure(400, kConsole, QStringLiteral("missing_field"), QStringLiteral("\"port_key\" is missing."));
    if (const QString problem = payloadProblem(command, payload); !problem.isEmpty())
        return ApiReply::failure(400, kConsole, QStringLiteral("invalid_payload"), problem);
    ApiReply refusal;
    const auto device = boundDevice(call, call.captures.value(0), &refusal);
    if (!device)
        return refusal;
    if (!m_hub->touch(device->id, session, call.bearer.familyId, call.tick))
        return ApiReply::failure(409, kConsole, QStringLiteral("session_expired"),
                                 QStringLiteral("The console session ended; watch the device again."));
    if (m_store->openCommandCount(device->id) >= m_settings.maxOpenCommands)
        return ApiReply::failure(429, kConsole, QStringLiteral("too_many_commands"),
                                 QStringLiteral("The device has %1 commands waiting already.")
                                         .arg(m_settings.maxOpenCommands));
    CloudStore::Command queued;
    queued.id = Credentials::newId();
    queued.deviceId = device->id;
    queued.sessionId = session;
    queued.command = command;
    queued.portKey = portKey;
    queued.payload = QJsonDocument(payload).toJson(QJsonDocument::Compact);
    queued.state = QStringLiteral("queued");
    queued.createdAt = call.now;
    if (!m_store->addCommand(queued))
        return {};
    return ApiReply::success(kConsole, {{QStringLiteral("command"), commandJson(queued)}}, 201);
}

ApiReply ConsoleApi::listCommands(ApiRequest &call)
{
    ApiReply refusal;
    const auto device = boundDevice(call, call.captures.value(0), &refusal);
    if (!device)
        return refusal;
    const QString session = call.query.queryItemValue(QStringLiteral("session_id"));
    QJsonArray commands;
    for (const CloudStore::Command &command : m_store->recentCommands(device->id, session, 50))
        commands.append(commandJson(command));
    return ApiReply::success(kConsole, {{QStringLiteral("cid"), device->cid}, {QStringLiteral("commands"), commands}});
}

ApiReply ConsoleApi::quota(ApiRequest &call)
{
    const QString thisMonth = month(call.now);
    const CloudStore::Usage used = m_store->usage(call.bearer.accountId, thisMonth);
    const bool enforced = m_settings.monthlyUploadLimit > 0;
    const QJsonObject up{{QStringLiteral("used"), used.up},
                         {QStringLiteral("free_limit"), m_settings.monthlyUploadLimit},
                         {QStringLiteral("remaining"),
                          enforced ? qMax<qint64>(0, m_settings.monthlyUploadLimit - used.up) : -1}};
    const QJsonObject down{{QStringLiteral("used"), used.down},
                           {QStringLiteral("free_limit"), 0},
                           {QStringLiteral("remaining"), -1}};
    return ApiReply::success(kQuota, {{QStringLiteral("month"), thisMonth},
                                      {QStringLiteral("enforced"), enforced},
                                      {QStringLiteral("up"), up},
                                      {QStringLiteral("down"), down},
                                      {QStringLiteral("purchased_bytes"), 0}});
}
