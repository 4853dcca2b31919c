#pragma once

#include "cloudservice/accountapi.h"
#include "cloudservice/apirouter.h"
#include "cloudservice/cloudstore.h"
#include "cloudservice/consoleapi.h"
#include "cloudservice/consolehub.h"
#include "cloudservice/credentials.h"
#include "cloudservice/serviceoptions.h"
#include "cloudservice/syncapi.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class CloudHttpServer;

// The whole service: opens the database, wires the REST handlers into one router,
// listens (HTTP or HTTPS) and runs the periodic clean-up.
class CloudService : public QObject
{
    Q_OBJECT
public:
    explicit CloudService(const ServiceOptions &options, QObject *parent = nullptr);
    ~CloudService() override;

    bool start(QString *error);
    // The address the service answers on, e.g. "http://127.0.0.1:8787".
    QString url() const { return m_url; }

    // Creates an account from the command line. Returns the process exit code.
    static int addUser(const ServiceOptions &options, const QString &password, QString *message);

private:
    bool listen(QString *error);
    void housekeeping();

    ServiceOptions m_options;
    QElapsedTimer m_clock;
    CloudStore m_store;
    ConsoleHub m_hub;
    PasswordWorker m_worker;
    AccountApi m_accounts;
    ConsoleApi m_console;
    SyncApi m_sync;
    ApiRouter m_router;
    CloudHttpServer *m_http = nullptr;
    QTimer m_housekeeping;
    int m_housekeepingRuns = 0;
    QString m_url;
};
