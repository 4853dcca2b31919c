#pragma once

#include "cloud/settingslocation.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <functional>

class AccountSession;
class NetworkServices;

// Keeps the session settings document in the account as one synced item, with
// optimistic revisions: every upload names the revision it was based on, and a
// conflict is settled by the user (Sync Now) or left alone (the timer). The window
// supplies the document and applies one, so this class holds no panes.
class SettingsSync : public QObject
{
    Q_OBJECT
public:
    enum class Trigger { User, Timer };
    enum class Choice { UseCloud, KeepLocal, MergeLists, Cancel };

    struct Options
    {
        bool sendHistory = false;
        bool autoSync = false;
        int intervalMinutes = 30;
    };

    struct Hooks
    {
        // The local document, with the send histories.
        std::function<QJsonObject()> localDocument;
        // Applies a document to the panes and preferences; false when it is refused.
        std::function<bool(const QJsonObject &document)> applyDocument;
        // The three-way question of a manual sync's conflict.
        std::function<Choice()> askConflict;
    };

    static constexpr int MaxPorts = 16;

    SettingsSync(NetworkServices *network, AccountSession *account, SettingsLocation location = {},
                 QObject *parent = nullptr);

    static QString itemNamespace() { return QStringLiteral("settings.session"); }
    static QString itemKey() { return QStringLiteral("default"); }
    // The timer period for a stored interval: clamped to 5 to 1440 minutes.
    static int autoSyncIntervalMs(int minutes);

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    Options options() const;
    // Stores the options and starts or stops the timer.
    void setOptions(const Options &options);

    void start(Trigger trigger);
    bool isSyncing() const { return m_syncing; }
    qint64 storedRevision() const;

signals:
    void statusMessage(const QString &text, int timeoutMs);

private:
    void onSyncResponse(const QJsonObject &response);
    void onNetworkError(const QString &domain, const QString &message, const QString &detail);
    void resolve(const QJsonObject &item);
    void upload(QJsonObject document, qint64 baseRevision);
    bool apply(const QJsonObject &document, qint64 revision);
    void finish(const QString &text);
    void restartTimer(const Options &options);

    NetworkServices *m_network;
    AccountSession *m_account;
    SettingsLocation m_location;
    Hooks m_hooks;
    QTimer m_timer;
    bool m_syncing = false;
    Trigger m_trigger = Trigger::User;
};
