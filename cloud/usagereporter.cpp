#include "cloud/usagereporter.h"
#include "cloud/cloudlog.h"

#include "cloud/networkservices.h"

#include <QEventLoop>
#include <QLocale>
#include <QSysInfo>
#include <QTimer>

namespace {
const QString kLaunches = QStringLiteral("UsageLaunchCount");
}

UsageReporter::UsageReporter(NetworkServices *network, QString deviceId, SettingsLocation location, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_deviceId(std::move(deviceId))
    , m_location(std::move(location))
{
    m_running.start();
    connect(m_network, &NetworkServices::networkError, this, [this](const QString &domain) {
        if (domain == QLatin1String("client") && m_inFlight > 0)
            --m_inFlight;
    });
    connect(m_network, &NetworkServices::clientResponse, this, [this](const QJsonObject &response) {
        if (m_inFlight > 0)
            --m_inFlight;
        if (!response.value(QStringLiteral("status")).toBool())
            return;
        m_status = response;
        qCDebug(lcCloud) << "client status:" << response;
        emit statusReceived(response);
    });
}

int UsageReporter::launches() const
{
    return m_location.open()->value(kLaunches, 0).toInt();
}

QJsonObject UsageReporter::report(const QString &event) const
{
    return {{QStringLiteral("cid"), m_deviceId},
            {QStringLiteral("version"), QStringLiteral(QUILLON_VERSION)},
            {QStringLiteral("event"), event},
            {QStringLiteral("launches"), launches()},
            {QStringLiteral("os"), QSysInfo::prettyProductName()},
            {QStringLiteral("locale"), QLocale::system().name()}};
}

void UsageReporter::reportStart()
{
    m_location.open()->setValue(kLaunches, launches() + 1);
    ++m_inFlight;
    m_network->reportClientStart(report(QStringLiteral("start")));
}

void UsageReporter::reportExit()
{
    QJsonObject body = report(QStringLiteral("exit"));
    body.insert(QStringLiteral("run_seconds"), double(m_running.elapsed() / 1000));
    ++m_inFlight;
    m_network->reportClientInfo(body);
}

bool UsageReporter::waitForReports(int ms)
{
    if (m_inFlight == 0)
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto check = [this, &loop] {
        if (m_inFlight == 0)
            loop.quit();
    };
    // Queued, so the counters above have been updated when it runs.
    connect(m_network, &NetworkServices::clientResponse, &loop, check, Qt::QueuedConnection);
    connect(m_network, &NetworkServices::networkError, &loop, check, Qt::QueuedConnection);
    timeout.start(ms);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return m_inFlight == 0;
}
