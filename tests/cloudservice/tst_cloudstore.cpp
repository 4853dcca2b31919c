#include "cloudservice/cloudstore.h"

#include <QTemporaryDir>
#include <QTest>

// Store rules that no request reaches in a test's time (expiries, redelivery, spent
// codes, the device limit), on SQLite. The service test runs every endpoint, and with
// them the store's statements, on SQLite and on a throwaway PostgreSQL server.
class tst_CloudStore : public QObject
{
    Q_OBJECT
private slots:
    // A fresh, empty database for every test.
    void init()
    {
        QString error;
        m_store = std::make_unique<CloudStore>();
        QVERIFY2(m_store->open(QStringLiteral("sqlite:%1/t%2.sqlite").arg(m_dir.path()).arg(++m_databases), &error),
                 qPrintable(error));
    }

    // No statement of a test may have failed in the database.
    void cleanup()
    {
        QVERIFY(!m_store->failed());
        m_store.reset();
    }

    void tokensRunOut()
    {
        const qint64 family = m_store->createTokenFamily(account("a"), QStringLiteral("cid-1"), 0);
        QVERIFY(m_store->storeTokens(family, QStringLiteral("a1"), 1000, QStringLiteral("r1"), 800));
        bool expired = false;
        QVERIFY(m_store->bearer(QStringLiteral("a1"), 999, &expired) && !expired);
        QVERIFY(!m_store->bearer(QStringLiteral("a1"), 1000, &expired) && expired);
        QVERIFY(!m_store->bearer(QStringLiteral("unknown"), 0, &expired) && !expired);

        // An expired refresh token is refused but still known by its family, and the
        // access token it came with stays valid until its own expiry.
        qint64 usedFamily = 0, usedAccount = 0;
        QCOMPARE(m_store->useRefreshToken(QStringLiteral("r1"), 800, &usedFamily, &usedAccount),
                 CloudStore::RefreshOutcome::Expired);
        QCOMPARE(m_store->familyOfRefreshToken(QStringLiteral("r1")), family);
        QVERIFY(m_store->bearer(QStringLiteral("a1"), 700));
    }

    void commandsRedeliveredThenExpired()
    {
        const auto device = m_store->bindDevice(account("a"), QStringLiteral("cid-a"), QString(), QString(), 0, 10);
        QVERIFY(device);
        CloudStore::Command command;
        command.id = QStringLiteral("c1");
        command.deviceId = device->id;
        command.sessionId = QStringLiteral("s");
        command.createdAt = 1000;
        QVERIFY(m_store->addCommand(command));
        // What a poll at `now` takes, as id#deliveries: unanswered for a minute, delivered
        // again, up to three times.
        const auto take = [&](qint64 now) {
            QStringList taken;
            for (const CloudStore::Command &c : m_store->takeCommands(device->id, now, 16, now - 60000, 3))
                taken << c.id + u'#' + QString::number(c.deliveries);
            return taken.join(QLatin1Char(' '));
        };
        QCOMPARE(take(2000), QStringLiteral("c1#1"));
        QCOMPARE(take(2001), QString());
        QCOMPARE(take(70000), QStringLiteral("c1#2"));
        QCOMPARE(take(200000), QStringLiteral("c1#3"));
        QCOMPARE(take(300000), QString());

        // Never answered: expired.
        m_store->expireCommands(300000, 5000, 300000 - 60000, 3);
        const QList<CloudStore::Command> recent = m_store->recentCommands(device->id, QStringLiteral("s"), 10);
        QCOMPARE(recent.size(), 1);
        QCOMPARE(recent.at(0).state, QStringLiteral("expired"));
        QCOMPARE(m_store->openCommandCount(device->id), 0);
    }

    void codesAndDevicesRunOut()
    {
        using C = CloudStore::CodeCheck;
        const QString email = QStringLiteral("new@x.org");
        QCOMPARE(m_store->checkRegistrationCode(email, QStringLiteral("d1"), 0, 3), C::Missing);
        QVERIFY(m_store->putRegistrationCode(email, QStringLiteral("d1"), 5000, 100));
        QCOMPARE(m_store->registrationCodeSentAt(email), 100);
        QCOMPARE(m_store->checkRegistrationCode(email, QStringLiteral("bad"), 200, 3), C::Wrong);
        QCOMPARE(m_store->checkRegistrationCode(email, QStringLiteral("d1"), 200, 3), C::Valid);
        QCOMPARE(m_store->checkRegistrationCode(email, QStringLiteral("bad"), 200, 3), C::Wrong);
        QCOMPARE(m_store->checkRegistrationCode(email, QStringLiteral("bad"), 200, 3), C::Wrong);
        // Three wrong guesses spend the code, even for the right one afterwards.
        QCOMPARE(m_store->checkRegistrationCode(email, QStringLiteral("d1"), 200, 3), C::Missing);
        QVERIFY(m_store->putRegistrationCode(email, QStringLiteral("d2"), 5000, 300));
        QCOMPARE(m_store->checkRegistrationCode(email, QStringLiteral("d2"), 5000, 3), C::Missing);

        // Devices run out too; binding one the account has already is not a new one.
        const qint64 a = account("a");
        for (const char *cid : {"one", "two", "one"})
            QVERIFY(m_store->bindDevice(a, QLatin1String(cid), QString(), QString(), 30, 2));
        QVERIFY(!m_store->bindDevice(a, QStringLiteral("three"), QString(), QString(), 30, 2));
        QCOMPARE(m_store->devices(a).size(), 2);
    }

private:
    qint64 account(const char *name)
    {
        return m_store->createAccount(QLatin1String(name) + QStringLiteral("@x.org"), QLatin1String(name),
                                      QStringLiteral("hash"), 0);
    }

    QTemporaryDir m_dir;
    int m_databases = 0;
    std::unique_ptr<CloudStore> m_store;
};

QTEST_GUILESS_MAIN(tst_CloudStore)
#include "tst_cloudstore.moc"
