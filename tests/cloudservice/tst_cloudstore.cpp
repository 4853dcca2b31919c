#include "cloudservice/cloudstore.h"

#include "postgressandbox.h"

#include <QTest>

// Every case runs against SQLite and against a throwaway PostgreSQL server.
class tst_CloudStore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_postgresUp = m_postgres.start(&m_postgresMissing); }
    void initTestCase_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }

    // A fresh, empty database of the row's backend for every test.
    void init()
    {
        QFETCH_GLOBAL(bool, postgres);
        const QString name = QStringLiteral("t%1").arg(++m_databases);
        if (postgres && !(m_postgresUp && m_postgres.createDatabase(name)))
            QSKIP(qPrintable(QStringLiteral("no PostgreSQL: ") + m_postgresMissing));
        m_url = postgres ? m_postgres.url(name) : QStringLiteral("sqlite:%1/%2.sqlite").arg(m_dir.path(), name);
        m_store = open(m_url);
        QVERIFY(m_store);
    }

    // No statement of a test may have failed in the database.
    void cleanup()
    {
        QVERIFY(!m_store || !m_store->failed());
        m_store.reset();
    }

    void tokenRotation()
    {
        using R = CloudStore::RefreshOutcome;
        const qint64 owner = account(*m_store, "a");
        const qint64 family = m_store->createTokenFamily(owner, QStringLiteral("cid-1"), 0);
        QVERIFY(m_store->storeTokens(family, QStringLiteral("a1"), 1000, QStringLiteral("r1"), 100000));

        bool expired = true;
        const auto bearer = m_store->bearer(QStringLiteral("a1"), 999, &expired);
        QVERIFY(bearer && !expired);
        QCOMPARE(bearer->accountId, owner);
        QCOMPARE(bearer->cid, QStringLiteral("cid-1"));
        QVERIFY(!m_store->bearer(QStringLiteral("a1"), 1000, &expired) && expired);
        QVERIFY(!m_store->bearer(QStringLiteral("unknown"), 0, &expired) && !expired);

        qint64 usedFamily = 0, usedAccount = 0;
        QCOMPARE(m_store->useRefreshToken(QStringLiteral("r1"), 500, &usedFamily, &usedAccount), R::Rotated);
        QCOMPARE(usedFamily, family);
        QCOMPARE(usedAccount, owner);
        QVERIFY(m_store->storeTokens(family, QStringLiteral("a2"), 2000, QStringLiteral("r2"), 100000));
        // The old refresh token again: the whole family ends, the new tokens with it.
        QCOMPARE(m_store->useRefreshToken(QStringLiteral("r1"), 600, &usedFamily, &usedAccount), R::Reused);
        QVERIFY(!m_store->bearer(QStringLiteral("a2"), 700));
        QCOMPARE(m_store->useRefreshToken(QStringLiteral("r2"), 700, &usedFamily, &usedAccount), R::Unknown);

        const qint64 other = m_store->createTokenFamily(owner, QString(), 0);
        QVERIFY(m_store->storeTokens(other, QStringLiteral("a3"), 2000, QStringLiteral("r3"), 800));
        QCOMPARE(m_store->useRefreshToken(QStringLiteral("r3"), 800, &usedFamily, &usedAccount), R::Expired);
        QCOMPARE(m_store->familyOfRefreshToken(QStringLiteral("r3")), other);
        QVERIFY(m_store->bearer(QStringLiteral("a3"), 700));
    }

    void syncRevisions()
    {
        using P = CloudStore::PutOutcome;
        const qint64 a = account(*m_store, "a");
        const qint64 b = account(*m_store, "b");
        const QString ns = QStringLiteral("settings.session");
        const QString key = QStringLiteral("default");
        struct Step
        {
            qint64 account;
            qint64 base;
            P outcome;
            qint64 revision;
        };
        const Step steps[] = {
            {a, 0, P::Stored, 1},   {a, 0, P::Conflict, 1}, {a, 1, P::Stored, 2}, {a, 1, P::Conflict, 2},
            {a, 5, P::Conflict, 2}, {b, 0, P::Stored, 1},   {b, 2, P::Conflict, 1}, {a, 2, P::Stored, 3},
        };
        QByteArray lastStored;
        int n = 0;
        for (const Step &step : steps) {
            const QByteArray payload = QStringLiteral("{\"step\":%1,\"name\":\"设置\"}").arg(++n).toUtf8();
            CloudStore::SyncItem current;
            QCOMPARE(m_store->putSyncItem(step.account, ns, key, step.base, payload, QStringLiteral("cid"), n, &current),
                     step.outcome);
            QCOMPARE(current.revision, step.revision);
            if (step.account == a && step.outcome == P::Stored)
                lastStored = payload;
        }
        const auto item = m_store->syncItem(a, ns, key);
        QVERIFY(item);
        QCOMPARE(item->payload, lastStored);
        QCOMPARE(m_store->syncItems(b, QString()).size(), 1);
        QVERIFY(m_store->syncItems(a, QStringLiteral("other")).isEmpty());
    }

    void commandLifecycle()
    {
        using R = CloudStore::ResultOutcome;
        const qint64 a = account(*m_store, "a");
        const qint64 b = account(*m_store, "b");
        const auto device = m_store->bindDevice(a, QStringLiteral("cid-a"), QString(), QString(), 0, 10);
        QVERIFY(device);
        for (int i = 1; i <= 2; ++i) {
            CloudStore::Command c;
            c.id = QStringLiteral("c%1").arg(i);
            c.deviceId = device->id;
            c.sessionId = QStringLiteral("s");
            c.createdAt = 1000 + i;
            QVERIFY(m_store->addCommand(c));
        }
        QCOMPARE(m_store->openCommandCount(device->id), 2);
        const auto ids = [](const QList<CloudStore::Command> &list) {
            QStringList out;
            for (const auto &c : list)
                out << c.id;
            return out;
        };
        QCOMPARE(ids(m_store->takeCommands(device->id, 2000, 1, 2000 - 60000, 3)), QStringList{QStringLiteral("c1")});
        QCOMPARE(ids(m_store->takeCommands(device->id, 2001, 16, 2001 - 60000, 3)), QStringList{QStringLiteral("c2")});
        QVERIFY(m_store->takeCommands(device->id, 2002, 16, 2002 - 60000, 3).isEmpty());
        // Unanswered for a minute: delivered again.
        const auto again = m_store->takeCommands(device->id, 70000, 16, 70000 - 60000, 3);
        QCOMPARE(ids(again), (QStringList{QStringLiteral("c1"), QStringLiteral("c2")}));
        QCOMPARE(again.first().deliveries, 2);

        qint64 deviceId = 0;
        QCOMPARE(m_store->recordResult(b, QStringLiteral("c1"), true, QString(), QString(), 71000, &deviceId), R::NotFound);
        QCOMPARE(m_store->recordResult(a, QStringLiteral("c1"), false, QStringLiteral("remote send is disabled on the device"),
                                     QStringLiteral("permission_denied"), 71000, &deviceId),
                 R::Recorded);
        QCOMPARE(deviceId, device->id);
        QCOMPARE(m_store->recordResult(a, QStringLiteral("c1"), true, QString(), QString(), 72000, &deviceId),
                 R::AlreadyFinished);
        QCOMPARE(m_store->recordResult(a, QStringLiteral("nope"), true, QString(), QString(), 72000, &deviceId), R::NotFound);
        QCOMPARE(ids(m_store->takeCommands(device->id, 200000, 16, 200000 - 60000, 3)), QStringList{QStringLiteral("c2")});

        m_store->expireCommands(300000, 5000, 300000 - 60000, 3);
        const auto recent = m_store->recentCommands(device->id, QStringLiteral("s"), 10);
        QCOMPARE(recent.size(), 2);
        QCOMPARE(recent.at(0).state, QStringLiteral("expired"));
        QCOMPARE(recent.at(1).state, QStringLiteral("failed"));
        QCOMPARE(recent.at(1).errorCode, QStringLiteral("permission_denied"));
        QCOMPARE(m_store->openCommandCount(device->id), 0);
    }

    void devicesStayWithTheirAccount()
    {
        const qint64 a = account(*m_store, "a");
        const qint64 b = account(*m_store, "b");
        const QString shared = QStringLiteral("0f0f0f0f-0000-4000-8000-000000000001");
        const auto mine = m_store->bindDevice(a, shared, QStringLiteral("lab"), QStringLiteral("6.6.2"), 10, 2);
        const auto theirs = m_store->bindDevice(b, shared, QStringLiteral("home"), QStringLiteral("6.6.2"), 10, 2);
        QVERIFY(mine && theirs);
        QVERIFY(mine->id != theirs->id);
        m_store->storeSnapshot(mine->id, "[{\"port_key\":\"ser-0\"}]", 20);
        QCOMPARE(m_store->device(b, shared)->snapshot, QByteArray("[]"));
        QCOMPARE(m_store->device(a, shared)->snapshot, QByteArray("[{\"port_key\":\"ser-0\"}]"));

        QVERIFY(m_store->bindDevice(a, QStringLiteral("second"), QString(), QString(), 30, 2));
        QVERIFY(!m_store->bindDevice(a, QStringLiteral("third"), QString(), QString(), 30, 2));
        // Binding a device the account has already is not a new one.
        QVERIFY(m_store->bindDevice(a, shared, QStringLiteral("lab 2"), QString(), 40, 2));
        QCOMPARE(m_store->devices(a).size(), 2);
        QVERIFY(!m_store->device(b, QStringLiteral("second")));
    }

    void registrationCodes()
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
    }

    void reopenKeepsData()
    {
        const qint64 id = account(*m_store, "keep");
        QVERIFY(id > 0);
        m_store->addUsage(id, QStringLiteral("2026-05"), 100, 7);
        m_store->addUsage(id, QStringLiteral("2026-05"), 50, 0);
        m_store.reset();
        auto again = open(m_url);
        QVERIFY(again);
        const auto found = again->accountByEmail(QStringLiteral("keep@x.org"));
        QVERIFY(found);
        QCOMPARE(found->id, id);
        QCOMPARE(found->passwordHash, QStringLiteral("hash"));
        QCOMPARE(account(*again, "keep"), 0); // the address is still taken
        QCOMPARE(again->usage(id, QStringLiteral("2026-05")).up, 150);
        QCOMPARE(again->usage(id, QStringLiteral("2026-05")).down, 7);
        QCOMPARE(again->usage(id, QStringLiteral("2026-06")).up, 0);
        QVERIFY(!again->failed());
    }

private:
    static std::unique_ptr<CloudStore> open(const QString &url)
    {
        auto store = std::make_unique<CloudStore>();
        QString error;
        if (!store->open(url, &error))
            qWarning("open %s: %s", qPrintable(url), qPrintable(error));
        return error.isEmpty() ? std::move(store) : nullptr;
    }
    static qint64 account(CloudStore &store, const char *name)
    {
        return store.createAccount(QLatin1String(name) + QStringLiteral("@x.org"), QLatin1String(name),
                                   QStringLiteral("hash"), 0);
    }

    QTemporaryDir m_dir;
    PostgresSandbox m_postgres;
    bool m_postgresUp = false;
    QString m_postgresMissing;
    int m_databases = 0;
    QString m_url;
    std::unique_ptr<CloudStore> m_store;
};

QTEST_GUILESS_MAIN(tst_CloudStore)
#include "tst_cloudstore.moc"
