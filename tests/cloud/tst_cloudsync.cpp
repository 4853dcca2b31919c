#include "cloud/accountsession.h"
#include "cloud/networkservices.h"
#include "cloud/settingssync.h"
#include "cloudservicerunner.h"
#include "settings/sessionsettings.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

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
        return QStringLiteral("%1 [%2] (%3)").arg(prefs.LastBaudrate).arg(keys.join(QLatin1Char(' ')), prefs.SendList.join(QLatin1Char(' ')));
    }
    // The revision and baud rate the service holds now.
    QString cloud()
    {
        QSignalSpy answer(&network, &NetworkServices::syncResponse);
        network.readSyncItems(account.accessToken(), SettingsSync::itemNamespace());
        const QJsonObject item = answer.wait(10000) ? answer.at(0).at(0).toJsonObject()[u"items"][0].toObject() : QJsonObject();
        return QStringLiteral("r%1 %2").arg(item[u"revision"].toInt()).arg(
            item[u"payload"][u"settings"][u"connection"][u"serial"][u"baud_rate"].toInt());
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
        CloudServiceRunner service;
        QVERIFY(service.start());
        QVERIFY(service.addUser(QStringLiteral("ann@example.com"), QStringLiteral("correct horse")));
        qputenv("QLN_HOST", service.url().toUtf8());
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
};

QTEST_MAIN(tst_CloudSync)
#include "tst_cloudsync.moc"
