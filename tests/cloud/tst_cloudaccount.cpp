#include "cloud/accountsession.h"
#include "cloud/cloudconsoleservice.h"
#include "cloud/dialogs/accountdialog.h"
#include "cloud/networkservices.h"
#include "cloud/refreshtokenstore.h"
#include "cloudservicerunner.h"
#include "cloudtest.h"

#include <QSignalSpy>

// The account against the real service with 50 s access tokens. No secret service
// answers in this process, so the refresh token takes the settings fallback.
class tst_CloudAccount : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillon-test-bus");
        QFile::remove(ini());
        m_service = std::make_unique<CloudServiceRunner>(); // a database of its own for each test
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

QTEST_MAIN(tst_CloudAccount)
#include "tst_cloudaccount.moc"
