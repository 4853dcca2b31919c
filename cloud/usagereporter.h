#pragma once

#include "cloud/settingslocation.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>

class NetworkServices;

// Tells the cloud service at start and at exit which version runs and how often it
// was launched, and keeps the client status it answers. The start report goes out
// with the event loop; the exit report is sent once the window is gone, and the
// process waits for its answer only a short, bounded time.
class UsageReporter : public QObject
{
    Q_OBJECT
public:
    UsageReporter(NetworkServices *network, QString deviceId, SettingsLocation location = {},
                  QObject *parent = nullptr);

    // Counts the launch and reports it.
    void reportStart();
    // Reports the end of this run with its length.
    void reportExit();
    // Runs the event loop until every report is answered or ms passed; true when
    // none is left. The network goes with the process, so without this the exit
    // report would never leave.
    bool waitForReports(int ms);
    // The service's last answer ("launches", "first_seen", "last_seen", "message").
    QJsonObject clientStatus() const { return m_status; }
    int launches() const;

signals:
    void statusReceived(const QJsonObject &status);

private:
    QJsonObject report(const QString &event) const;

    NetworkServices *m_network;
    QString m_deviceId;
    SettingsLocation m_location;
    QElapsedTimer m_running;
    QJsonObject m_status;
    int m_inFlight = 0;
};
