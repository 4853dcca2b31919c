#include "cloud/accountsession.h"
#include "cloud/networkservices.h"
#include "cloud/settingssync.h"
#include "cloudservicerunner.h"
#include "connection/connectionmode.h"
#include "settings/sessionsettings.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

// One computer: its own settings file, account session, sync and the panes and
// preferences the sync reads and replaces.
struct Computer
{
    explicit Computer(const QString &ini, int baud, const QStringList &ports, const QString &history)
        : account(&network, SettingsLocation(ini))
        , sync(&network, &account, SettingsLocation(ini))
    {
        prefs = LastSettings::builtInDefaults();
        prefs.LastBaudrate = baud;
        prefs.SendList = {history};
        for (const QString &key : ports) {
            FormatSetting pane;
            pane.ConnMode = key.startsWith(QLatin1String("ser")) ? SerialPort : TcpClient;
            pane.BaudRate = baud;
            pane.SendList = {history};
            panes.append({key, pane});
        }
        sync.setHooks({[this] {
                           QJsonObject doc = sessionSettingsToJson(prefs, account.deviceId(), {}, 0, true);
                           addSessionPorts(doc, panes, true);
                           return doc;
                       },
                       [this](const QJsonObject &doc) {
                           if (!sessionSettingsFromJson(doc, prefs))
                               return false;
                           panes = sessionPortsFromJson(doc, [](const QString &) { return FormatSetting(); });
                           return true;
                       },
                       [this] {
                           ++asked;
                           return answer;
                       }});
        sync.setOptions({true, false, 30});
    }

    bool signIn(const QString &email, const QString &password)
    {
        network.login(email, password, account.deviceId(), QStringLiteral("bench"), QStringLiteral("0.1.0"));
        return QTest::qWaitFor([this] { return account.hasValidAccessToken(); }, 15000);
    }
    // Runs one sync to its end; the last status text.
    QString runSync(SettingsSync::Trigger trigger)
    {
        QSignalSpy status(&sync, &SettingsSync::statusMessage);
        sync.start(trigger);
        if (!QTest::qWaitFor([this] { return !sync.isSyncing(); }, 15000) || status.isEmpty())
            return QStringLiteral("(no end)");
        return status.last().at(0).toString();
    }
    QStringList portKeys() const
    {
        QStringList keys;
        for (const SessionPort &p : panes)
            keys << p.portKey;
        return keys;
    }

    NetworkServices network;
    AccountSession account;
    SettingsSync sync;
    LastSettings prefs;
    QList<SessionPort> panes;
    SettingsSync::Choice answer = SettingsSync::Choice::Cancel;
    int asked = 0;
};

// Two computers of one account sync through the real service.
class tst_CloudSync : public QObject
{
    Q_OBJECT
private slots:
    void manualConflict_data();
    void manualConflict();
    void autoSyncInterval_data();
    void autoSyncInterval();

private:
    // The item as the service holds it now.
    QJsonObject cloudItem(Computer &reader);
};

QJsonObject tst_CloudSync::cloudItem(Computer &reader)
{
    QSignalSpy answer(&reader.network, &NetworkServices::syncResponse);
    reader.network.readSyncItems(reader.account.accessToken(), SettingsSync::itemNamespace());
    if (!answer.wait(10000))
        return {};
    return answer.at(0).at(0).toJsonObject().value(QStringLiteral("items")).toArray().at(0).toObject();
}

void tst_CloudSync::manualConflict_data()
{
    QTest::addColumn<SettingsSync::Choice>("choice");
    QTest::addColumn<int>("baud");          // the second computer's afterwards
    QTest::addColumn<QStringList>("ports");  // its panes
    QTest::addColumn<QStringList>("history"); // its send history
    QTest::addColumn<int>("revision");      // the cloud's, also stored on the second computer unless cancelled

    const QStringList both{QStringLiteral("ser-0"), QStringLiteral("tcpc-1")};
    QTest::newRow("use cloud") << SettingsSync::Choice::UseCloud << 1111 << QStringList{QStringLiteral("ser-0")}
                               << QStringList{QStringLiteral("a1")} << 1;
    QTest::newRow("keep local") << SettingsSync::Choice::KeepLocal << 2222 << both << QStringList{QStringLiteral("b1")} << 2;
    QTest::newRow("merge lists") << SettingsSync::Choice::MergeLists << 2222 << both
                                 << QStringList{QStringLiteral("b1"), QStringLiteral("a1")} << 2;
    QTest::newRow("cancel") << SettingsSync::Choice::Cancel << 2222 << both << QStringList{QStringLiteral("b1")} << 1;
}

void tst_CloudSync::manualConflict()
{
    QFETCH(SettingsSync::Choice, choice);
    QFETCH(int, baud);
    QFETCH(QStringList, ports);
    QFETCH(QStringList, history);
    QFETCH(int, revision);

    CloudServiceRunner service;
    QVERIFY(service.start());
    const QString email = QStringLiteral("ann@example.com");
    const QString password = QStringLiteral("correct horse");
    QVERIFY(service.addUser(email, password));
    qputenv("QLN_HOST", service.url().toUtf8());
    QTemporaryDir dir;
    Computer a(dir.filePath(QStringLiteral("a.ini")), 1111, {QStringLiteral("ser-0")}, QStringLiteral("a1"));
    Computer b(dir.filePath(QStringLiteral("b.ini")), 2222, {QStringLiteral("ser-0"), QStringLiteral("tcpc-1")},
               QStringLiteral("b1"));
    QVERIFY(a.signIn(email, password));
    QVERIFY(b.signIn(email, password));

    // The first sync of the account uploads from revision 0.
    QCOMPARE(a.runSync(SettingsSync::Trigger::User), QStringLiteral("Settings synced"));
    QCOMPARE(a.sync.storedRevision(), qint64(1));
    QCOMPARE(cloudItem(a).value(QStringLiteral("updated_by")).toString(), a.account.deviceId());

    // The second computer has never synced: a manual sync asks.
    b.answer = choice;
    b.runSync(SettingsSync::Trigger::User);
    QCOMPARE(b.asked, 1);
    QCOMPARE(b.prefs.LastBaudrate, baud);
    QCOMPARE(b.portKeys(), ports);
    QCOMPARE(b.panes.first().settings.BaudRate, baud);
    QCOMPARE(b.prefs.SendList, history);
    QCOMPARE(b.sync.storedRevision(), qint64(choice == SettingsSync::Choice::Cancel ? 0 : revision));

    const QJsonObject item = cloudItem(a);
    QCOMPARE(item.value(QStringLiteral("revision")).toInt(), revision);
    LastSettings cloud = LastSettings::builtInDefaults();
    QVERIFY(sessionSettingsFromJson(item.value(QStringLiteral("payload")).toObject(), cloud));
    if (revision == 2) {
        // What the second computer has now is what the cloud has.
        QCOMPARE(cloud.LastBaudrate, b.prefs.LastBaudrate);
        QCOMPARE(cloud.SendList, b.prefs.SendList);
        // A timer sync on the first computer changes neither side.
        const LastSettings before = a.prefs;
        QCOMPARE(a.runSync(SettingsSync::Trigger::Timer), QStringLiteral("Cloud settings changed; use Sync Now to resolve."));
        QCOMPARE(a.asked, 0);
        QCOMPARE(a.prefs.LastBaudrate, before.LastBaudrate);
        QCOMPARE(a.sync.storedRevision(), qint64(1));
        QCOMPARE(cloudItem(a).value(QStringLiteral("revision")).toInt(), 2);
    } else {
        QCOMPARE(cloud.LastBaudrate, 1111);
    }
    if (choice == SettingsSync::Choice::UseCloud) {
        // Holding the cloud's revision, the next sync uploads without a question.
        b.prefs.LastBaudrate = 3333;
        QCOMPARE(b.runSync(SettingsSync::Trigger::User), QStringLiteral("Settings synced"));
        QCOMPARE(b.asked, 1);
        QCOMPARE(cloudItem(a).value(QStringLiteral("revision")).toInt(), 2);
    }
}

void tst_CloudSync::autoSyncInterval_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("periodMinutes");
    QTest::newRow("2 runs every 5") << 2 << 5;
    QTest::newRow("45 as set") << 45 << 45;
    QTest::newRow("2000 runs every 1440") << 2000 << 1440;
}

void tst_CloudSync::autoSyncInterval()
{
    QFETCH(int, minutes);
    QFETCH(int, periodMinutes);
    QTemporaryDir dir;
    Computer c(dir.filePath(QStringLiteral("c.ini")), 9600, {}, QString());
    c.sync.setOptions({false, true, minutes});
    QVERIFY(c.sync.isAutoSyncRunning());
    QCOMPARE(c.sync.autoSyncPeriodMs(), periodMinutes * 60000);
    QCOMPARE(c.sync.options().intervalMinutes, minutes);
    c.sync.setOptions({false, false, minutes});
    QVERIFY(!c.sync.isAutoSyncRunning());
}

QTEST_MAIN(tst_CloudSync)
#include "tst_cloudsync.moc"
