#pragma once

#include "cloudservice/apirouter.h"
#include "cloudservice/cloudstore.h"
#include "cloudservice/consolehub.h"

#include <QJsonObject>

// The console relay. Devices announce themselves, post port snapshots and traffic,
// poll for commands and post their results; signed-in browsers list their devices,
// watch one (which turns "watching" on in the device's answers and gives the browser
// the console session id the device is told), read its traffic and queue commands.
// Every request names a device by "cid" and is refused unless that device is bound to
// the bearer's account. Also answers the monthly traffic quota.
class ConsoleApi
{
public:
    struct Settings
    {
        qint64 monthlyUploadLimit = 0; // 0: not enforced
        int maxOpenCommands = 64;      // per device
        qint64 redeliverAfterMs = 60 * 1000;
        int maxDeliveries = 3;
        qint64 commandLifetimeMs = 10 * 60 * 1000;
    };

    ConsoleApi(CloudStore *store, ConsoleHub *hub, const Settings &settings);

    void addRoutes(ApiRouter &router);
    void expireCommands(qint64 now);

private:
    // Device side.
    ApiReply heartbeat(ApiRequest &call);
    ApiReply snapshot(ApiRequest &call);
    ApiReply events(ApiRequest &call);
    ApiReply poll(ApiRequest &call);
    ApiReply result(ApiRequest &call);
    // Browser side.
    ApiReply listDevices(ApiRequest &call);
    ApiReply watch(ApiRequest &call);
    ApiReply unwatch(ApiRequest &call);
    ApiReply watchedEvents(ApiRequest &call);
    ApiReply queueCommand(ApiRequest &call);
    ApiReply listCommands(ApiRequest &call);
    ApiReply quota(ApiRequest &call);

    // The device named by cid (body or query), or the refusal to send.
    std::optional<CloudStore::Device> boundDevice(const ApiRequest &call, const QString &cid, ApiReply *refusal);
    // "cid", "watching", "session_id" and, when a quota is enforced, "up_remaining".
    QJsonObject deviceState(const CloudStore::Device &device, const ApiRequest &call);
    qint64 uploadRemaining(qint64 accountId, const QString &month);
    static QJsonObject commandJson(const CloudStore::Command &command);
    static QString month(qint64 now);

    CloudStore *m_store;
    ConsoleHub *m_hub;
    Settings m_settings;
};
