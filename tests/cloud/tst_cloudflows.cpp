#include "app/mainwindow.h"
#include "cloud/accountsession.h"
#include "cloud/cloudconsoleservice.h"
#include "cloud/dialogs/accountdialog.h"
#include "cloud/dialogs/syncsettingsdialog.h"
#include "cloud/networkservices.h"
#include "cloud/refreshtokenstore.h"
#include "cloud/settingssync.h"
#include "connection/connectionmode.h"
#include "settings/sessionsettings.h"
#include "terminal/serialportwidget.h"
#include "tests/support/peers.h"
#include "tests/support/settingsfolder.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// quillon-cloud on a free loopback port with a database of its own, its stderr kept
// line by line (every request it handled is one).
class CloudServiceRunner
{
public:
    ~CloudServiceRunner() { TestPeers::stop(m_process); }

    // Port 0 takes a free one.
    bool start(int accessTokenTtlSeconds, quint16 port = 0)
    {
        m_ttl = accessTokenTtlSeconds;
        m_port = 0;
        m_lines.clear();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quillon.cloudservice.info=true")); // a line per request
        m_process.setProcessEnvironment(env);
        m_process.start(binary(), {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port),
                                   QStringLiteral("--database"), database(), QStringLiteral("--access-token-ttl"),
                                   QString::number(accessTokenTtlSeconds)});
        const QRegularExpression listening(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"));
        (void)QTest::qWaitFor([&] {
            for (const QString &line : lines()) {
                if (const QRegularExpressionMatch found = listening.match(line); found.hasMatch())
                    m_port = quint16(found.captured(1).toUInt());
            }
            return m_port != 0 || m_process.state() == QProcess::NotRunning;
        }, 15000);
        return m_process.state() == QProcess::Running && m_port != 0;
    }
    // Back on the same port.
    bool restart() { return start(m_ttl, m_port); }
    void stop() { TestPeers::stop(m_process); }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    // Lines such as "POST /api/v3/account/token/refresh 200 812 us" seen so far.
    int requestCount(const QString &method, const QString &path)
    {
        const QString request = method + QLatin1Char(' ') + path + QLatin1Char(' ');
        const QStringList &seen = lines();
        return int(std::count_if(seen.cbegin(), seen.cend(), [&](const QString &line) { return line.contains(request); }));
    }

    // The last registration code the service logged for email (it has no mail to send).
    QString registrationCode(const QString &email)
    {
        const QRegularExpression logged(QStringLiteral("registration code for %1: (\\S+)").arg(QRegularExpression::escape(email)));
        QString code;
        for (const QString &line : lines()) {
            if (const QRegularExpressionMatch found = logged.match(line); found.hasMatch())
                code = found.captured(1);
        }
        return code;
    }

    bool addUser(const QString &email, const QString &password)
    {
        QProcess add;
        add.start(binary(), {QStringLiteral("add-user"), email, QStringLiteral("--database"), database()});
        add.write(password.toUtf8() + '\n');
        add.closeWriteChannel();
        return add.waitForFinished(30000) && add.exitStatus() == QProcess::NormalExit && add.exitCode() == 0;
    }

private:
    static QString binary() { return QStringLiteral(QUILLON_CLOUD_BINARY); }
    QString database() const { return QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("cloud.sqlite")); }
    const QStringList &lines()
    {
        m_partial += m_process.readAllStandardError();
        for (qsizetype end; (end = m_partial.indexOf('\n')) >= 0; m_partial.remove(0, end + 1))
            m_lines << QString::fromUtf8(m_partial.left(end));
        return m_lines;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_lines;
    QByteArray m_partial;
    quint16 m_port = 0;
    int m_ttl = 0;
};

// The revision and baud rate of the settings the service holds, as "r2 4800".
static QString cloudSettings(NetworkServices &network, const QString &token)
{
    QSignalSpy answer(&network, &NetworkServices::syncResponse);
    network.readSyncItems(token, SettingsSync::itemNamespace());
    const QJsonObject item = answer.wait(10000) ? answer.at(0).at(0).toJsonObject()[u"items"][0].toObject() : QJsonObject();
    return QStringLiteral("r%1 %2").arg(item[u"revision"].toInt()).arg(
        item[u"payload"][u"settings"][u"connection"][u"serial"][u"baud_rate"].toInt());
}

// Signs in with the test account on the account dialog's first page; true when the
// dialog closed with the sign-in applied.
static bool signInThroughDialog(QDialog &dialog, bool keep)
{
    dialog.show();
    dialog.findChild<QLineEdit *>(QStringLiteral("signInEmailEdit"))->setText(QStringLiteral("ann@example.com"));
    dialog.findChild<QLineEdit *>(QStringLiteral("signInPasswordEdit"))->setText(QStringLiteral("correct horse"));
    dialog.findChild<QCheckBox *>(QStringLiteral("keepSignedInCheck"))->setChecked(keep);
    dialog.findChild<QPushButton *>(QStringLiteral("signInButton"))->click();
    return QTest::qWaitFor([&] { return dialog.result() == QDialog::Accepted; }, 15000);
}

// One computer: a settings file of its own, an account session, the sync, and the
// preferences and panes (key@baud) that the sync reads and replaces.
struct Computer
{
    Computer(const QString &ini, int baud, const QString &ports, const QString &history)
        : account(&network, SettingsLocation(ini))
        , sync(&network, &account, SettingsLocation(ini))
    {
        prefs = LastSettings::builtInDefaults();
        prefs.LastBaudrate = baud;
        prefs.SendList = {history};
        for (const QString &key : ports.split(QLatin1Char(' '))) {
            FormatSetting pane;
            pane.BaudRate = baud;
            panes.append({key, pane});
        }
        auto local = [this] {
            QJsonObject doc = sessionSettingsToJson(prefs, account.deviceId(), {}, 0, true);
            addSessionPorts(doc, panes, true);
            return doc;
        };
        auto apply = [this](const QJsonObject &doc) {
            if (!sessionSettingsFromJson(doc, prefs))
                return false;
            panes = sessionPortsFromJson(doc, [](const QString &) { return FormatSetting(); });
            return true;
        };
        auto ask = [this] {
            ++asked;
            return answer;
        };
        sync.setHooks({local, apply, ask});
        sync.setOptions({true, false, 30});
    }
    // Runs one sync to its end; returns its last status text.
    QString run(SettingsSync::Trigger trigger)
    {
        QSignalSpy status(&sync, &SettingsSync::statusMessage);
        sync.start(trigger);
        return QTest::qWaitFor([this] { return !sync.isSyncing(); }, 15000) ? status.last().at(0).toString() : QString();
    }
    QString state() const
    {
        QStringList keys;
        for (const SessionPort &p : panes)
            keys << p.portKey + QLatin1Char('@') + QString::number(p.settings.BaudRate);
        return QStringLiteral("%1 [%2] (%3)")
            .arg(prefs.LastBaudrate)
            .arg(keys.join(QLatin1Char(' ')), prefs.SendList.join(QLatin1Char(' ')));
    }
    QString cloud() { return cloudSettings(network, account.accessToken()); }

    NetworkServices network;
    AccountSession account;
    SettingsSync sync;
    LastSettings prefs;
    QList<SessionPort> panes;
    SettingsSync::Choice answer = SettingsSync::Choice::Cancel;
    int asked = 0;
};

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

// The account, the sync of two computers and the Cloud menu against the real service.
class tst_CloudFlows : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // No secret service answers in this process, so a kept refresh token takes the
        // settings fallback; the window's settings live in a folder of the test's own.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillon-test-bus");
        useSettingsFolder(m_dir.filePath(QStringLiteral("config")));
    }

    // A service with a database of its own for each test and row, with 50 s access tokens.
    void init()
    {
        QFile::remove(ini());
        m_service = std::make_unique<CloudServiceRunner>();
        QVERIFY(m_service->start(50));
        QVERIFY(m_service->addUser(QStringLiteral("ann@example.com"), QStringLiteral("correct horse")));
        qputenv("QLN_HOST", m_service->url().toUtf8());
        m_network = std::make_unique<NetworkServices>();
    }

    void signInRefreshRestartStopAndSignOut()
    {
        auto account = newSession();
        QVERIFY(signInWithDialog(*account, true));
        QTRY_COMPARE(account->tokenStore()->backend(), RefreshTokenStore::Backend::Settings);

        // Two refreshes within 15 s: one request, answered into the session.
        const QString first = account->accessToken();
        QVERIFY(account->requestRefresh(account->deviceId()));
        QVERIFY(account->requestRefresh(account->deviceId()));
        QTRY_VERIFY(account->accessToken() != first);
        QTest::qWait(200);
        QCOMPARE(refreshes(), 1);

        // The session refreshes on its own before the token runs out.
        const QString second = account->accessToken();
        const QDateTime expiry = account->accessExpiry();
        QTRY_VERIFY_WITH_TIMEOUT(account->accessToken() != second, 40000);
        QVERIFY(QDateTime::currentDateTimeUtc() < expiry);
        QCOMPARE(refreshes(), 2);

        // A restart brings the session back without the password.
        account = newSession();
        account->restore();
        QTRY_VERIFY_WITH_TIMEOUT(account->hasValidAccessToken(), 15000);

        // The service stops mid-session: the texts say so, nothing hangs, and the
        // console's timers get it through once the service is back.
        CloudConsoleService console(m_network.get(), account.get());
        QSignalSpy errors(m_network.get(), &NetworkServices::networkError);
        QSignalSpy answers(m_network.get(), &NetworkServices::consoleResponse);
        console.setEnabled(true);
        QTRY_VERIFY(answers.size() >= 2);
        m_service->stop();
        const QString refused = QStringLiteral("console|Could not connect to the server. Please check your network connection and try again.");
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(errors.cbegin(), errors.cend(), [&](const QList<QVariant> &e) {
            return e.at(0).toString() + QLatin1Char('|') + e.at(1).toString() == refused; }), 15000);
        answers.clear();
        QVERIFY(m_service->restart());
        QTRY_VERIFY_WITH_TIMEOUT(!answers.isEmpty(), 35000);

        // Signing out leaves nothing behind, and the next start is signed out.
        console.setEnabled(false);
        account->signOut();
        QCOMPARE(account->displayName(), QStringLiteral("Not signed in"));
        QTRY_COMPARE(m_service->requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/account/logout")), 1);
        for (const char *key : {"AccountUserId", "AccountEmail", "AccountUsername", "AccountRememberMe", "AccountRefreshToken",
                                "AccountSyncRevision"})
            QVERIFY2(!QSettings(ini(), QSettings::IniFormat).contains(QLatin1String(key)), key);
        account = newSession();
        account->restore();
        QTest::qWait(300);
        QVERIFY(!account->isSignedIn());
    }

    void withoutKeepOrRefusedNothingStays()
    {
        // Without "Keep me signed in" no token is stored, and a restart is signed out.
        auto account = newSession();
        QVERIFY(signInWithDialog(*account, false));
        QVERIFY(!QSettings(ini(), QSettings::IniFormat).contains(QStringLiteral("AccountRefreshToken")));
        account = newSession();
        account->restore();
        QTest::qWait(300);
        QVERIFY(!account->isSignedIn());

        // With it the token is stored scrambled; somebody else spends it first.
        QVERIFY(signInWithDialog(*account, true));
        account.reset();
        RefreshTokenStore store{SettingsLocation(ini())};
        QSignalSpy loaded(&store, &RefreshTokenStore::loaded);
        store.load(QStringLiteral("ann@example.com"));
        QTRY_COMPARE(loaded.size(), 1);
        const QByteArray token = loaded.at(0).at(0).toString().toUtf8();
        const QByteArray stored = QSettings(ini(), QSettings::IniFormat).value(QStringLiteral("AccountRefreshToken")).toByteArray();
        QVERIFY(!token.isEmpty() && !stored.contains(token) && !QByteArray::fromBase64(stored).contains(token));
        NetworkServices other; // its answer must not reach the session below
        QSignalSpy spent(&other, &NetworkServices::accountResponse);
        other.refreshToken(QString::fromUtf8(token), QString());
        QTRY_COMPARE(spent.size(), 1);

        // The restored session's refresh is refused: it signs out and says so, once.
        account = newSession();
        QSignalSpy ended(account.get(), &AccountSession::signedOutByService);
        account->restore();
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 15000);
        QVERIFY(!account->isSignedIn());
        QVERIFY(!QSettings(ini(), QSettings::IniFormat).contains(QStringLiteral("AccountEmail")));
        QTest::qWait(500);
        QCOMPARE(refreshes(), 2);
    }

    void manualConflict_data()
    {
        QTest::addColumn<SettingsSync::Choice>("choice");
        QTest::addColumn<QString>("state"); // the second computer's afterwards: baud [panes] (send history)
        QTest::addColumn<QString>("cloud"); // revision and baud rate in the cloud afterwards
        QTest::newRow("use cloud") << SettingsSync::Choice::UseCloud << "1111 [ser-0@1111 udps-2@1111] (a1)" << "r1 1111";
        QTest::newRow("keep local") << SettingsSync::Choice::KeepLocal << "2222 [ser-0@2222 tcpc-1@2222] (b1)" << "r2 2222";
        QTest::newRow("merge lists") << SettingsSync::Choice::MergeLists
                                     << "2222 [ser-0@2222 tcpc-1@2222 udps-2@1111] (b1 a1)" << "r2 2222";
        QTest::newRow("cancel") << SettingsSync::Choice::Cancel << "2222 [ser-0@2222 tcpc-1@2222] (b1)" << "r1 1111";
    }

    void manualConflict()
    {
        QFETCH(SettingsSync::Choice, choice);
        QFETCH(QString, state);
        QFETCH(QString, cloud);
        // Two computers of one account, each with a settings file of its own.
        QTemporaryDir dir;
        Computer a(dir.filePath(QStringLiteral("a.ini")), 1111, QStringLiteral("ser-0 udps-2"), QStringLiteral("a1"));
        Computer b(dir.filePath(QStringLiteral("b.ini")), 2222, QStringLiteral("ser-0 tcpc-1"), QStringLiteral("b1"));
        for (Computer *c : {&a, &b}) {
            c->account.beginSignIn(false);
            c->network.login(QStringLiteral("ann@example.com"), QStringLiteral("correct horse"), c->account.deviceId(), {}, {});
            QVERIFY(QTest::qWaitFor([c] { return c->account.hasValidAccessToken(); }, 15000));
        }

        // The first sync of the account uploads from revision 0.
        QCOMPARE(a.run(SettingsSync::Trigger::User), QStringLiteral("Settings synced"));
        QCOMPARE(a.sync.storedRevision(), qint64(1));
        QCOMPARE(a.cloud(), QStringLiteral("r1 1111"));

        // The second computer has never synced: its manual sync asks.
        b.answer = choice;
        b.run(SettingsSync::Trigger::User);
        QCOMPARE(b.asked, 1);
        QCOMPARE(b.state(), state);
        QCOMPARE(b.cloud(), cloud);
        QCOMPARE(b.sync.storedRevision(), choice == SettingsSync::Choice::Cancel ? 0 : cloud.mid(1, 1).toLongLong());

        // A timer sync never asks and, when the cloud moved on, changes neither side.
        const QString before = a.state();
        const QString text = a.run(SettingsSync::Trigger::Timer);
        QCOMPARE(a.asked, 0);
        if (cloud.startsWith(QLatin1String("r2"))) {
            QCOMPARE(text, QStringLiteral("Cloud settings changed; use Sync Now to resolve."));
            QCOMPARE(a.state(), before);
            QCOMPARE(a.cloud(), cloud);
        } else {
            QCOMPARE(text, QStringLiteral("Settings synced")); // it holds the cloud's revision
            QCOMPARE(a.cloud(), QStringLiteral("r2 1111"));
        }
    }

    // The Cloud menu of the main window.
    void signInSwitchesAndUseCloud()
    {
        auto window = std::make_unique<ScriptedWindow>();
        window->show();
        auto action = [&](const char *name) { return window->findChild<QAction *>(QLatin1String(name)); };
        auto requests = [&](const char *path) { return m_service->requestCount(QStringLiteral("POST"), QLatin1String(path)); };
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
        QTRY_COMPARE(m_service->requestCount(QStringLiteral("PUT"), QStringLiteral("/api/v3/sync/items/settings.session/default")), 1);
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
        QCOMPARE(cloudSettings(*window->network(), window->account()->accessToken()), QStringLiteral("r2 4800"));
    }

    // A new user registers on the dialog's second page: asks for a code, types it with
    // the password twice and is signed in. A wrong code and a mistyped confirmation are
    // refused with their texts, the latter before anything is sent.
    void registerThroughDialog()
    {
        auto account = newSession();
        AccountDialog dialog(account.get());
        dialog.show();
        auto type = [&dialog](const char *field, const QString &text) {
            dialog.findChild<QLineEdit *>(QLatin1String(field))->setText(text);
        };
        // The dialog's answer, a window-modal box, read and closed.
        auto answer = [&dialog] {
            QString text;
            (void)QTest::qWaitFor([&] {
                const QList<QMessageBox *> boxes = dialog.findChildren<QMessageBox *>();
                if (boxes.isEmpty() || !boxes.last()->isVisible())
                    return false;
                text = boxes.last()->text();
                boxes.last()->close();
                return true;
            }, 15000);
            return text;
        };
        const QString bob = QStringLiteral("bob@example.com");
        type("registerEmailEdit", bob);
        dialog.findChild<QPushButton *>(QStringLiteral("sendCodeButton"))->click();
        QCOMPARE(answer(), QStringLiteral("A registration code was sent to %1.").arg(bob));
        const QString code = m_service->registrationCode(bob);
        QVERIFY(!code.isEmpty());

        type("registerUsernameEdit", QStringLiteral("bob"));
        type("registerPasswordEdit", QStringLiteral("battery staple"));
        type("registerConfirmEdit", QStringLiteral("battery stapel"));
        type("registerCodeEdit", code);
        auto *registerButton = dialog.findChild<QPushButton *>(QStringLiteral("registerButton"));
        registerButton->click();
        QCOMPARE(answer(), QStringLiteral("Passwords do not match."));
        QCOMPARE(m_service->requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/account/register")), 0);
        type("registerConfirmEdit", QStringLiteral("battery staple"));
        type("registerCodeEdit", code == QStringLiteral("000000") ? QStringLiteral("111111") : QStringLiteral("000000"));
        registerButton->click();
        QCOMPARE(answer(), QStringLiteral("The registration code is wrong."));
        type("registerCodeEdit", code);
        registerButton->click();
        QVERIFY(QTest::qWaitFor([&] { return dialog.result() == QDialog::Accepted; }, 15000));
        QVERIFY(account->hasValidAccessToken());
        QCOMPARE(account->email(), bob);
    }

    // The manual sync's question: each button gives its own choice, and closing the box
    // cancels. The options dialog offers the interval only with automatic sync.
    void syncQuestionAndOptions()
    {
        const std::pair<QString, SettingsSync::Choice> answers[] = {
            {QStringLiteral("Use Cloud"), SettingsSync::Choice::UseCloud},
            {QStringLiteral("Keep Local"), SettingsSync::Choice::KeepLocal},
            {QStringLiteral("Merge Lists"), SettingsSync::Choice::MergeLists},
            {QStringLiteral("Cancel"), SettingsSync::Choice::Cancel}};
        for (const auto &[button, choice] : answers) {
            QTimer::singleShot(0, this, [label = button] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                QVERIFY(box && box->text() == QStringLiteral("Cloud settings are different from this computer."));
                for (QAbstractButton *b : box->buttons()) {
                    if (b->text() == label)
                        b->click();
                }
            });
            QVERIFY2(::askSyncConflict(nullptr) == choice, qPrintable(button));
        }

        SyncSettingsDialog options({.sendHistory = true, .autoSync = false, .intervalMinutes = 45});
        auto *autoSync = options.findChild<QCheckBox *>(QStringLiteral("autoSyncCheck"));
        auto *interval = options.findChild<QSpinBox *>(QStringLiteral("intervalSpin"));
        QVERIFY(!interval->isEnabled());
        autoSync->setChecked(true);
        QVERIFY(interval->isEnabled());
        interval->setValue(10);
        const SettingsSync::Options chosen = options.options();
        QVERIFY(chosen.sendHistory && chosen.autoSync && chosen.intervalMinutes == 10);
    }

private:
    QString ini() const { return m_dir.filePath(QStringLiteral("quillon.ini")); }
    std::unique_ptr<AccountSession> newSession()
    {
        return std::make_unique<AccountSession>(m_network.get(), SettingsLocation(ini()));
    }
    bool signInWithDialog(AccountSession &account, bool keep)
    {
        AccountDialog dialog(&account);
        return signInThroughDialog(dialog, keep);
    }
    int refreshes() { return m_service->requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/account/token/refresh")); }

    QTemporaryDir m_dir;
    std::unique_ptr<CloudServiceRunner> m_service;
    std::unique_ptr<NetworkServices> m_network;
};

QTEST_MAIN(tst_CloudFlows)
#include "tst_cloudflows.moc"
