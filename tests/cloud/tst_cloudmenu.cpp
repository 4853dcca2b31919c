#include "app/mainwindow.h"
#include "cloud/accountsession.h"
#include "cloud/cloudconsoleservice.h"
#include "cloud/dialogs/accountdialog.h"
#include "cloud/networkservices.h"
#include "cloud/usagereporter.h"
#include "cloudservicerunner.h"
#include "connection/connectionmode.h"
#include "settings/sessionsettings.h"
#include "terminal/serialportwidget.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// Answers the window's questions the way a user of the test would.
class ScriptedWindow : public MainWindow
{
public:
    QString email;
    QString password;
    SettingsSync::Choice choice = SettingsSync::Choice::Cancel;
    int conflicts = 0;
    std::function<void(QWidget &)> shoot;

protected:
    int execDialog(QDialog &dialog) override
    {
        auto *account = qobject_cast<AccountDialog *>(&dialog);
        if (!account)
            return QDialog::Rejected;
        account->show();
        account->findChild<QLineEdit *>(QStringLiteral("signInEmailEdit"))->setText(email);
        account->findChild<QLineEdit *>(QStringLiteral("signInPasswordEdit"))->setText(password);
        if (shoot)
            shoot(*account);
        account->findChild<QPushButton *>(QStringLiteral("signInButton"))->click();
        (void)QTest::qWaitFor([&] { return account->result() == QDialog::Accepted; }, 15000);
        return account->result();
    }
    SettingsSync::Choice askSyncConflict() override
    {
        ++conflicts;
        return choice;
    }
    void showInformation(const QString &, const QString &) override {}
    void showWarning(const QString &, const QString &text) override { qWarning("%s", qPrintable(text)); }
};

// The Cloud menu of the main window against the real service.
class tst_CloudMenu : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void signInConsoleSwitchesAndReports();
    void useCloudRebuildsThePanes();

private:
    QAction *action(const char *name) { return m_window->findChild<QAction *>(QLatin1String(name)); }
    void makeWindow();
    void save(QWidget &widget, const QString &name);

    QTemporaryDir m_dir;
    CloudServiceRunner m_service;
    std::unique_ptr<ScriptedWindow> m_window;
};

void tst_CloudMenu::initTestCase()
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillon-test-bus");
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("config")));
    QCoreApplication::setOrganizationName(QStringLiteral("VORTANE"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
    QVERIFY(m_service.start());
    QVERIFY(m_service.addUser(QStringLiteral("ann@example.com"), QStringLiteral("correct horse")));
    qputenv("QLN_HOST", m_service.url().toUtf8());
}

void tst_CloudMenu::makeWindow()
{
    m_window = std::make_unique<ScriptedWindow>();
    m_window->email = QStringLiteral("ann@example.com");
    m_window->password = QStringLiteral("correct horse");
    m_window->resize(900, 500);
    m_window->show();
}

void tst_CloudMenu::save(QWidget &widget, const QString &name)
{
    const QString folder = qEnvironmentVariable("QUILLON_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    widget.grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

void tst_CloudMenu::signInConsoleSwitchesAndReports()
{
    QSettings().clear();
    const int launches = m_service.requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/clients"));
    makeWindow();
    QTRY_COMPARE(m_service.requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/clients")), launches + 1);

    // Signed out: only Sign In; the console and both permissions are off.
    QVERIFY(action("acAccountSignIn")->isEnabled());
    for (const char *name : {"acAccountMe", "acAccountSignOut", "acAccountSyncNow"})
        QVERIFY2(!action(name)->isEnabled(), name);
    for (const char *name : {"acCloudConsole", "acCloudConsoleAllowSend", "acCloudConsoleAllowPortControl"})
        QVERIFY2(!action(name)->isChecked(), name);

    m_window->shoot = [this](QWidget &dialog) { save(dialog, QStringLiteral("account-dialog")); };
    action("acAccountSignIn")->trigger();
    QVERIFY(m_window->account()->hasValidAccessToken());
    QVERIFY(!action("acAccountSignIn")->isEnabled());
    QVERIFY(action("acAccountSignOut")->isEnabled() && action("acAccountSyncNow")->isEnabled());
    // The quota arrives by itself after signing in and shows in the menu.
    QTRY_VERIFY(m_window->account()->quota().known);
    QAction *quota = action("acCloudQuota");
    QVERIFY(quota->isVisible());
    QVERIFY2(quota->text().contains(QLocale().formattedDataSize(0)), qPrintable(quota->text()));

    // The switches are kept, and the console runs while signed in.
    action("acCloudConsole")->trigger();
    action("acCloudConsoleAllowSend")->trigger();
    QVERIFY(m_window->cloudConsole()->isEnabled());
    QCOMPARE(QSettings().value(QStringLiteral("LastCloudConsole")).toBool(), true);
    QCOMPARE(QSettings().value(QStringLiteral("CloudConsoleAllowRemoteSend")).toBool(), true);
    QTRY_VERIFY(m_service.requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/console/heartbeat")) >= 1);

    auto *menu = m_window->findChild<QMenu *>(QStringLiteral("menuCloud"));
    menu->popup(m_window->mapToGlobal(QPoint(60, 20)));
    QTest::qWait(100);
    save(*menu, QStringLiteral("cloud-menu"));
    menu->hide();

    // Signing out stops the console, but the switch stays for the next sign-in.
    action("acAccountSignOut")->trigger();
    QVERIFY(!m_window->cloudConsole()->isEnabled());
    QVERIFY(action("acCloudConsole")->isChecked());
    QVERIFY(action("acAccountSignIn")->isEnabled());

    // Closing reports the end of the run.
    const int infos = m_service.requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/clients/info"));
    m_window->close();
    QTRY_COMPARE(m_service.requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/clients/info")), infos + 1);
    m_window.reset();
}

void tst_CloudMenu::useCloudRebuildsThePanes()
{
    QSettings().clear();
    makeWindow();
    action("acAccountSignIn")->trigger();
    QVERIFY(m_window->account()->hasValidAccessToken());

    // Another computer put two ports into the account.
    LastSettings theirs = LastSettings::builtInDefaults();
    theirs.LastBaudrate = 4800;
    FormatSetting serial;
    serial.BaudRate = 4800;
    FormatSetting tcp;
    tcp.ConnMode = TcpClient;
    tcp.LastTargetHost = {QStringLiteral("192.0.2.9")};
    QJsonObject payload = sessionSettingsToJson(theirs, QStringLiteral("other"), {}, 0, false);
    addSessionPorts(payload, {{QStringLiteral("ser-0"), serial}, {QStringLiteral("tcpc-1"), tcp}}, false);
    NetworkServices &network = *m_window->network();
    QSignalSpy synced(&network, &NetworkServices::syncResponse);
    network.writeSyncItem(m_window->account()->accessToken(), SettingsSync::itemNamespace(), SettingsSync::itemKey(), 0,
                          payload);
    QTRY_COMPARE(synced.size(), 1);

    // Use Cloud applies it to the panes, as opening a document would.
    m_window->choice = SettingsSync::Choice::UseCloud;
    action("acAccountSyncNow")->trigger();
    QTRY_VERIFY(!m_window->settingsSync()->isSyncing());
    QCOMPARE(m_window->conflicts, 1);
    QCOMPARE(m_window->paneCount(), 2);
    QCOMPARE(m_window->pane(0)->settings().BaudRate, 4800);
    QCOMPARE(m_window->pane(1)->settings().ConnMode, int(TcpClient));
    QCOMPARE(m_window->pane(1)->settings().LastTargetHost.value(0), QStringLiteral("192.0.2.9"));
    QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("cloudStatusLabel"))->text(), QStringLiteral("Cloud settings applied"));

    // Closing keeps them, and the next sync uploads them rather than the old ones.
    m_window->close();
    QCOMPARE(QSettings().value(QStringLiteral("LastBaudrate")).toInt(), 4800);
    m_window.reset();
    makeWindow();
    QTRY_VERIFY_WITH_TIMEOUT(m_window->account()->hasValidAccessToken(), 15000);
    QCOMPARE(m_window->pane(0)->settings().BaudRate, 4800);
    action("acAccountSyncNow")->trigger();
    QTRY_VERIFY(!m_window->settingsSync()->isSyncing());
    QCOMPARE(m_window->conflicts, 0);
    QSignalSpy items(m_window->network(), &NetworkServices::syncResponse);
    m_window->network()->readSyncItems(m_window->account()->accessToken(), SettingsSync::itemNamespace());
    QTRY_VERIFY(!items.isEmpty());
    const QJsonObject item = items.last().at(0).toJsonObject().value(QStringLiteral("items")).toArray().at(0).toObject();
    QCOMPARE(item.value(QStringLiteral("revision")).toInt(), 2);
    LastSettings uploaded = LastSettings::builtInDefaults();
    QVERIFY(sessionSettingsFromJson(item.value(QStringLiteral("payload")).toObject(), uploaded));
    QCOMPARE(uploaded.LastBaudrate, 4800);
    m_window->close();
    m_window.reset();
}

QTEST_MAIN(tst_CloudMenu)
#include "tst_cloudmenu.moc"
