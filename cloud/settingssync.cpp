#include "cloud/settingssync.h"
#include "cloud/cloudlog.h"

#include "cloud/accountsession.h"
#include "cloud/networkservices.h"
#include "settings/sessionsettings.h"

#include <QDateTime>
#include <QJsonArray>

namespace {

const QString kRevision = QStringLiteral("AccountSyncRevision");
const QString kLastSyncAt = QStringLiteral("AccountLastSyncAt");
const QString kSendHistory = QStringLiteral("AccountSyncSendHistory");
const QString kAutoSync = QStringLiteral("AccountAutoSync");
const QString kInterval = QStringLiteral("AccountAutoSyncIntervalMinutes");
const QString kSettings = QStringLiteral("settings");
const QString kHistory = QStringLiteral("send_history");

QJsonObject withoutHistory(QJsonObject settings)
{
    settings.remove(kHistory);
    return settings;
}

// The document as uploaded when the send histories stay on this computer.
QJsonObject withoutSendHistory(QJsonObject document)
{
    document.insert(kSettings, withoutHistory(document.value(kSettings).toObject()));
    QJsonArray ports = document.value(QStringLiteral("ports")).toArray();
    for (qsizetype i = 0; i < ports.size(); ++i) {
        QJsonObject port = ports.at(i).toObject();
        port.insert(kSettings, withoutHistory(port.value(kSettings).toObject()));
        ports.replace(i, port);
    }
    if (document.contains(QStringLiteral("ports")))
        document.insert(QStringLiteral("ports"), ports);
    return document;
}

} // namespace

SettingsSync::SettingsSync(NetworkServices *network, AccountSession *account, SettingsLocation location,
                           QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_account(account)
    , m_location(std::move(location))
{
    connect(m_network, &NetworkServices::syncResponse, this, &SettingsSync::onSyncResponse);
    connect(m_network, &NetworkServices::networkError, this, &SettingsSync::onNetworkError);
    connect(&m_timer, &QTimer::timeout, this, [this] { start(Trigger::Timer); });
    restartTimer(options());
}

int SettingsSync::autoSyncIntervalMs(int minutes)
{
    return qBound(5, minutes, 1440) * 60000;
}

SettingsSync::Options SettingsSync::options() const
{
    auto store = m_location.open();
    Options o;
    o.sendHistory = store->value(kSendHistory, false).toBool();
    o.autoSync = store->value(kAutoSync, false).toBool();
    o.intervalMinutes = store->value(kInterval, 30).toInt();
    return o;
}

void SettingsSync::setOptions(const Options &o)
{
    auto store = m_location.open();
    store->setValue(kSendHistory, o.sendHistory);
    store->setValue(kAutoSync, o.autoSync);
    store->setValue(kInterval, o.intervalMinutes);
    restartTimer(o);
}

void SettingsSync::restartTimer(const Options &o)
{
    if (o.autoSync)
        m_timer.start(autoSyncIntervalMs(o.intervalMinutes));
    else
        m_timer.stop();
}

qint64 SettingsSync::storedRevision() const
{
    return m_location.open()->value(kRevision, 0).toLongLong();
}

void SettingsSync::start(Trigger trigger)
{
    if (m_syncing)
        return;
    if (!m_account->hasValidAccessToken()) {
        // Tried again on the next Sync Now or timer tick.
        if (!m_account->requestRefresh(m_account->deviceId()) && trigger == Trigger::User)
            emit statusMessage(tr("Please sign in to sync settings."), 5000);
        return;
    }
    m_syncing = true;
    m_trigger = trigger;
    emit statusMessage(tr("Syncing..."), 0);
    m_network->readSyncItems(m_account->accessToken(), itemNamespace());
}

void SettingsSync::upload(QJsonObject document, qint64 baseRevision)
{
    if (!options().sendHistory)
        document = withoutSendHistory(document);
    emit statusMessage(tr("Syncing..."), 0);
    m_network->writeSyncItem(m_account->accessToken(), itemNamespace(), itemKey(), baseRevision, document);
}

void SettingsSync::finish(const QString &text)
{
    m_syncing = false;
    if (!text.isEmpty())
        emit statusMessage(text, 5000);
}

bool SettingsSync::apply(const QJsonObject &document, qint64 revision)
{
    if (!m_hooks.applyDocument || !m_hooks.applyDocument(document)) {
        finish(tr("Cloud settings are not compatible."));
        return false;
    }
    auto store = m_location.open();
    store->setValue(kRevision, revision);
    store->setValue(kLastSyncAt, QDateTime::currentDateTimeUtc());
    return true;
}

void SettingsSync::onSyncResponse(const QJsonObject &response)
{
    if (!m_syncing || response.value(QStringLiteral("type")).toString() != QLatin1String("sync"))
        return;
    const bool ok = response.value(QStringLiteral("status")).toBool();
    if (ok && response.contains(QStringLiteral("items"))) {
        for (const QJsonValue &entry : response.value(QStringLiteral("items")).toArray()) {
            const QJsonObject item = entry.toObject();
            if (item.value(QStringLiteral("namespace")).toString() == itemNamespace()
                && item.value(QStringLiteral("item_key")).toString() == itemKey()) {
                resolve(item);
                return;
            }
        }
        upload(m_hooks.localDocument(), 0);
        return;
    }
    if (ok && response.contains(QStringLiteral("item"))) {
        auto store = m_location.open();
        store->setValue(kRevision, response.value(QStringLiteral("item")).toObject().value(QStringLiteral("revision")).toInteger());
        store->setValue(kLastSyncAt, QDateTime::currentDateTimeUtc());
        finish(tr("Settings synced"));
        return;
    }
    if (!ok && response.value(QStringLiteral("code")).toString() == QLatin1String("revision_conflict")) {
        resolve(response.value(QStringLiteral("server_item")).toObject());
        return;
    }
    const QString description = response.value(QStringLiteral("description")).toString();
    finish(description.isEmpty() ? tr("Sync failed.") : description);
}

void SettingsSync::resolve(const QJsonObject &item)
{
    const qint64 revision = item.value(QStringLiteral("revision")).toInteger();
    if (revision < 1) {
        upload(m_hooks.localDocument(), 0);
        return;
    }
    if (revision == storedRevision()) {
        upload(m_hooks.localDocument(), revision);
        return;
    }
    if (m_trigger == Trigger::Timer) {
        // Neither side changes without the user's decision.
        finish(tr("Cloud settings changed; use Sync Now to resolve."));
        return;
    }
    const QJsonObject cloud = item.value(QStringLiteral("payload")).toObject();
    switch (m_hooks.askConflict ? m_hooks.askConflict() : Choice::Cancel) {
    case Choice::UseCloud:
        if (apply(cloud, revision))
            finish(tr("Cloud settings applied"));
        return;
    case Choice::KeepLocal:
        upload(m_hooks.localDocument(), revision);
        return;
    case Choice::MergeLists: {
        LastSettings unused;
        if (!sessionSettingsFromJson(cloud, unused)) {
            finish(tr("Cloud settings are not compatible."));
            return;
        }
        const QJsonObject merged = mergeSessionDocuments(m_hooks.localDocument(), cloud, MaxPorts);
        if (!apply(merged, revision))
            return;
        emit statusMessage(tr("Cloud settings applied"), 5000);
        upload(merged, revision);
        return;
    }
    case Choice::Cancel:
        finish(QString());
        emit statusMessage(QString(), 0);
        return;
    }
}

void SettingsSync::onNetworkError(const QString &domain, const QString &message, const QString &detail)
{
    if (domain != QLatin1String("sync") || !m_syncing)
        return;
    qCInfo(lcCloud) << "sync failed:" << detail;
    finish(message);
}
