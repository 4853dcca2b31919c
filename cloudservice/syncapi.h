#pragma once

#include "cloudservice/apirouter.h"
#include "cloudservice/cloudstore.h"
#include "cloudservice/loginthrottle.h"

#include <QElapsedTimer>

// Synced items with optimistic revisions: an upload names the revision it was based
// on and is refused with 409 "revision_conflict" (carrying "server_item") when the
// stored revision differs. Also the anonymous client status reports.
class SyncApi
{
public:
    struct Settings
    {
        int maxItems = 100; // per account
    };

    SyncApi(CloudStore *store, const Settings &settings);

    void addRoutes(ApiRouter &router);
    void prune();

private:
    ApiReply items(ApiRequest &call);
    ApiReply put(ApiRequest &call);
    ApiReply clientReport(ApiRequest &call, bool launch);
    static QJsonObject itemJson(const CloudStore::SyncItem &item);

    CloudStore *m_store;
    Settings m_settings;
    QElapsedTimer m_clock;
    LoginThrottle m_reportsByAddress;
};
