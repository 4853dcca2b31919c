#include "cloudservice/syncapi.h"

#include "cloudservice/accountapi.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
const QString kSync = QStringLiteral("sync");
const QString kClient = QStringLiteral("client");

const QRegularExpression &namePattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    return pattern;
}

// Sixty reports per quarter hour and client address.
LoginThrottle::Policy reportPolicy()
{
    LoginThrottle::Policy policy;
    policy.freeFailures = 60;
    policy.firstLockMs = 60 * 1000;
    return policy;
}
}

SyncApi::SyncApi(CloudStore *store, const Settings &settings)
    : m_store(store), m_settings(settings), m_reportsByAddress(reportPolicy())
{
    m_clock.start();
}

void SyncApi::addRoutes(ApiRouter &router)
{
    using M = QHttpServerRequest::Method;
    using A = ApiRouter::Access;
    router.add(M::Get, QStringLiteral("/api/v3/sync/items"), kSync, A::Bearer,
               [this](ApiRequest &call) { return items(call); });
    router.add(M::Put, QStringLiteral("/api/v3/sync/items/([^/]+)/([^/]+)"), kSync, A::Bearer,
               [this](ApiRequest &call) { return put(call); });
    router.add(M::Post, QStringLiteral("/api/v3/clients"), kClient, A::Public,
               [this](ApiRequest &call) { return clientReport(call, true); });
    router.add(M::Post, QStringLiteral("/api/v3/clients/info"), kClient, A::Public,
               [this](ApiRequest &call) { return clientReport(call, false); });
}

void SyncApi::prune()
{
    m_reportsByAddress.prune(m_clock.elapsed());
}

QJsonObject SyncApi::itemJson(const CloudStore::SyncItem &item)
{
    QJsonObject json{{QStringLiteral("namespace"), item.ns},
                     {QStringLiteral("item_key"), item.key},
                     {QStringLiteral("revision"), item.revision}};
    if (item.revision > 0) {
        json.insert(QStringLiteral("payload"), QJsonDocument::fromJson(item.payload).object());
        json.insert(QStringLiteral("updated_at"), AccountApi::timeJson(item.updatedAt));
        json.insert(QStringLiteral("updated_by"), item.updatedBy);
    }
    return json;
}

ApiReply SyncApi::items(ApiRequest &call)
{
    const QString ns = call.query.queryItemValue(QStringLiteral("namespace"), QUrl::FullyDecoded);
    if (!ns.isEmpty() && !namePattern().match(ns).hasMatch())
        return ApiReply::failure(400, kSync, QStringLiteral("invalid_field"), QStringLiteral("\"namespace\" is not valid."));
    QJsonArray list;
    for (const CloudStore::SyncItem &item : m_store->syncItems(call.bearer.accountId, ns))
        list.append(itemJson(item));
    return ApiReply::success(kSync, {{QStringLiteral("items"), list}});
}

ApiReply SyncApi::put(ApiRequest &call)
{
    const QString ns = call.captures.value(0);
    const QString key = call.captures.value(1);
    if (!namePattern().match(ns).hasMatch() || !namePattern().match(key).hasMatch())
        return ApiReply::failure(400, kSync, QStringLiteral("invalid_field"),
                                 QStringLiteral("Namespace and key are 1 to 64 letters, digits, '.', '_' or '-'."));
    FieldReader fields(call.body, kSync);
    const qint64 base = fields.integer("base_revision", 0, std::numeric_limits<qint32>::max(), 0);
    const QJsonObject payload = fields.object("payload");
    if (!fields.ok())
        return fields.error();
    if (base == 0 && !m_store->syncItem(call.bearer.accountId, ns, key)
        && m_store->syncItemCount(call.bearer.accountId) >= m_settings.maxItems)
        return ApiReply::failure(403, kSync, QStringLiteral("too_many_items"),
                                 QStringLiteral("This account has %1 synced items already.").arg(m_settings.maxItems));
    CloudStore::SyncItem current;
    const auto outcome = m_store->putSyncItem(call.bearer.accountId, ns, key, base,
                                              QJsonDocument(payload).toJson(QJsonDocument::Compact),
                                              call.bearer.cid, call.now, &current);
    if (m_store->failed())
        return {};
    if (outcome == CloudStore::PutOutcome::Conflict) {
        ApiReply reply = ApiReply::failure(409, kSync, QStringLiteral("revision_conflict"),
                                           QStringLiteral("The settings changed in the cloud since revision %1.")
                                                   .arg(base));
        reply.body.insert(QStringLiteral("server_item"), itemJson(current));
        return reply;
    }
    return ApiReply::success(kSync, {{QStringLiteral("item"), itemJson(current)}});
}

ApiReply SyncApi::clientReport(ApiRequest &call, bool launch)
{
    FieldReader fields(call.body, kClient);
    const QString cid = fields.matching("cid", AccountApi::cidPattern()).toLower();
    const QString version = fields.text("version", 64, false);
    if (!fields.ok())
        return fields.error();
    const QString address = call.remote.toString();
    if (const qint64 wait = m_reportsByAddress.retryAfter(address, m_clock.elapsed())) {
        ApiReply reply = ApiReply::failure(429, kClient, QStringLiteral("too_many_requests"),
                                           QStringLiteral("Too many reports from this address."));
        reply.headers.append({QByteArrayLiteral("Retry-After"), QByteArray::number((wait + 999) / 1000)});
        return reply;
    }
    m_reportsByAddress.failed(address, m_clock.elapsed());
    const QByteArray report = QJsonDocument(call.body).toJson(QJsonDocument::Compact);
    if (report.size() > 4096)
        return ApiReply::failure(400, kClient, QStringLiteral("invalid_field"),
                                 QStringLiteral("A client report holds at most 4096 bytes."));
    const auto status = m_store->reportClient(cid, version, report, launch, call.now);
    if (!status)
        return {};
    return ApiReply::success(kClient, {{QStringLiteral("cid"), status->cid},
                                       {QStringLiteral("version"), status->version},
                                       {QStringLiteral("launches"), status->launches},
                                       {QStringLiteral("first_seen"), AccountApi::timeJson(status->firstSeen)},
                                       {QStringLiteral("last_seen"), AccountApi::timeJson(status->lastSeen)},
                                       {QStringLiteral("message"), QString()}});
}
