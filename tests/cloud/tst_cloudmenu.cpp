#include "app/mainwindow.h"
#include "cloud/accountsession.h"
#include "cloud/cloudconsoleservice.h"
#include "cloud/dialogs/accountdialog.h"
#include "cloud/networkservices.h"
#include "cloudservicerunner.h"
#include "cloudtest.h"
#include "connection/connectionmode.h"
#include "settings/sessionsettings.h"
#include "terminal/serialportwidget.h"

#include <QAction>
#include <QLabel>
#include <QSignalSpy>

// Signs in with the test's account and answers a sync conflict with Use Cloud.
class ScriptedWindow : public MainWindow
{
public:
    int conflicts = 0;

protected:
    int execDialog(QDialog &dialog) override
    {
        return signInThroughDialog(dialog, true) ? QDialog::Accepted : QDialog::Rejected;
    }
    SettingsSync::Choice askSyncConflict() override
    {
        ++conflicts;
        return SettingsSync::Choice::UseCloud;
    }
    void showInformation(const QString &, const QString &) override {}
};

// The Cloud menu of the main window against the real service.
class tst_CloudMenu : public QObject
{
    Q_OBJECT
private slots:
    void signInSwitchesAndUseCloud();
};

void tst_CloudMenu::signInSwitchesAndUseCloud()
{
    QTemporaryDir dir;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("VORTANE"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillon-test-bus");
    CloudServiceRunner service;
    QVERIFY(service.start());
    QVERIFY(service.addUser(QStringLiteral("ann@example.com"), QStringLiteral("correct horse")));
    qputenv("QLN_HOST", service.url().toUtf8());
    auto window = std::make_unique<ScriptedWindow>();
    window->show();
    auto action = [&](const char *name) { return window->findChild<QAction *>(QLatin1String(name)); };
    auto requests = [&](const char *path) { return service.requestCount(QStringLiteral("POST"), QLatin1String(path)); };
    QTRY_COMPARE(requests("/api/v3/clients"), 1);
    QVERIFY(!action("acCloudConsoleAllowSend")->isChecked() && !action("acCloudConsoleAllowPortControl")->isChecked());

    // Signed in through the menu, the quota shows in it by itself, and the console runs.
    action("acAccountSignIn")->trigger();
    QVERIFY(!action("acAccountSignIn")->isEnabled() && action("acAccountSyncNow")->isEnabled());
    QTRY_VERIFY(window->account()->quota().known);
    QVERIFY2(action("acCloudQuota")->text().contains(QLocale().formattedDataSize(0)), qPrintable(action("acCloudQuota")->text()));
    action("acCloudConsole")->trigger();
    action("acCloudConsoleAllowSend")->trigger();
    QVERIFY(window->cloudConsole()->isEnabled());
    QVERIFY(QSettings().value(QStringLiteral("LastCloudConsole")).toBool());
    QVERIFY(QSettings().value(QStringLiteral("CloudConsoleAllowRemoteSend")).toBool());

    // Another computer put two ports into the account; Use Cloud makes them the panes.
    LastSettings theirs = LastSettings::builtInDefaults();
    theirs.LastBaudrate = 4800;
    FormatSetting serial, tcp;
    serial.BaudRate = 4800;
    tcp.ConnMode = TcpClient;
    tcp.LastTargetHost = {QStringLiteral("192.0.2.9")};
    QJsonObject payload = sessionSettingsToJson(theirs, QStringLiteral("other"), {}, 0, false);
    addSessionPorts(payload, {{QStringLiteral("ser-0"), serial}, {QStringLiteral("tcpc-1"), tcp}}, false);
    window->network()->writeSyncItem(window->account()->accessToken(), SettingsSync::itemNamespace(), SettingsSync::itemKey(),
                                     0, payload);
    QTRY_COMPARE(service.requestCount(QStringLiteral("PUT"), QStringLiteral("/api/v3/sync/items/settings.session/default")), 1);
    action("acAccountSyncNow")->trigger();
    QTRY_VERIFY(!window->settingsSync()->isSyncing());
    QCOMPARE(window->conflicts, 1);
    QCOMPARE(window->paneCount(), 2);
    QCOMPARE(window->pane(0)->settings().BaudRate, 4800);
    QCOMPARE(window->pane(1)->settings().LastTargetHost.value(0), QStringLiteral("192.0.2.9"));
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("cloudStatusLabel"))->text(), QStringLiteral("Cloud settings applied"));

    // Closing keeps them and reports the end of the run; the next sync uploads them.
    window->close();
    QTRY_COMPARE(requests("/api/v3/clients/info"), 1);
    QCOMPARE(QSettings().value(QStringLiteral("LastBaudrate")).toInt(), 4800);
    window = std::make_unique<ScriptedWindow>();
    QTRY_VERIFY_WITH_TIMEOUT(window->account()->hasValidAccessToken(), 15000);
    action("acAccountSyncNow")->trigger();
    QTRY_VERIFY(!window->settingsSync()->isSyncing());
    QCOMPARE(window->conflicts, 0);
    QSignalSpy items(window->network(), &NetworkServices::syncResponse);
    window->network()->readSyncItems(window->account()->accessToken(), SettingsSync::itemNamespace());
    QTRY_COMPARE(items.size(), 1);
    const QJsonObject item = items.at(0).at(0).toJsonObject().value(QStringLiteral("items")).toArray().at(0).toObject();
    LastSettings uploaded = LastSettings::builtInDefaults();
    QVERIFY(sessionSettingsFromJson(item.value(QStringLiteral("payload")).toObject(), uploaded));
    QCOMPARE(item.value(QStringLiteral("revision")).toInt(), 2);
    QCOMPARE(uploaded.LastBaudrate, 4800);
}

QTEST_MAIN(tst_CloudMenu)
#include "tst_cloudmenu.moc"
