#pragma once

#include "cloud/consoleeventqueue.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QHash>
#include <QTimer>

#include <array>
#include <deque>
#include <functional>

class AccountSession;
class NetworkServices;
class PortSession;

// The program's side of the cloud console: while enabled it announces the device
// with a heartbeat and polls the service for commands; while somebody watches it
// uploads a snapshot of the ports and their live traffic. Commands run on the port
// sessions through the same operations and guards as the pane's own controls.
class CloudConsoleService : public QObject
{
    Q_OBJECT
public:
    using SessionsProvider = std::function<QList<PortSession *>()>;

    static constexpr int HeartbeatMs = 20000;
    static constexpr int UploadMs = 2000;
    static constexpr int SnapshotMs = 60000;
    static constexpr int PollLimit = 16;
    static constexpr int RememberedCommands = 128;
    static constexpr std::array<int, 4> PollBackoffMs{2000, 5000, 10000, 30000};

    CloudConsoleService(NetworkServices *network, AccountSession *account, QObject *parent = nullptr);
    ~CloudConsoleService() override;

    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    void setSessionsProvider(SessionsProvider provider) { m_sessions = std::move(provider); }
    bool isWatching() const { return m_watching; }
    QString deviceId() const { return m_deviceId; }

    // The two permission switches of the Cloud menu; both off until the user allows.
    void setAllowRemoteSend(bool allow) { m_allowSend = allow; }
    void setAllowPortControl(bool allow) { m_allowPortControl = allow; }

signals:
    void stoppedItself(const QString &reason);
    void watchingChanged(bool watching);

public slots:
    void onHeartbeatTick();
    void onPollTick();
    void onUploadTick();
    void onConsoleResponse(const QJsonObject &response);
    void onPortTraffic(const QString &portKey, bool isTx, const QString &text);

private:
    struct Result
    {
        bool ok = true;
        QString message;
        QString errorCode;
    };

    bool haveToken();
    void setPollStep(int step);
    void enterWatching();
    void leaveWatching();
    void attachSessions(bool attach);
    void sendSnapshot();
    void sendBatch();
    void stopForQuota();
    void execute(const QJsonObject &command);
    Result decide(const QJsonObject &command);
    void postResult(const QString &commandId, const Result &result);
    Result run(const QString &name, PortSession *session, const QJsonObject &payload);
    Result sendText(PortSession *session, const QJsonObject &payload);
    Result sendHex(PortSession *session, const QJsonObject &payload);
    Result sendBytes(PortSession *session, const QByteArray &bytes);
    Result setPortConfig(PortSession *session, const QJsonObject &payload);
    QJsonObject portSnapshot(PortSession *session) const;
    PortSession *findSession(const QString &portKey) const;

    NetworkServices *m_network;
    AccountSession *m_account;
    QString m_deviceId;
    QString m_sessionId;
    bool m_enabled = false;
    bool m_watching = false;
    int m_missedWatch = 0;
    int m_pollStep = 0;
    bool m_allowSend = false;
    bool m_allowPortControl = false;
    QTimer m_heartbeatTimer;
    QTimer m_pollTimer;
    QTimer m_uploadTimer;
    QTimer m_snapshotTimer;
    ConsoleEventQueue m_queue;
    // The last commands handled and their results: a command delivered again (its
    // result was lost on the way) gets the same result without running twice.
    std::deque<QString> m_handledOrder;
    QHash<QString, Result> m_handled;
    SessionsProvider m_sessions;
};
