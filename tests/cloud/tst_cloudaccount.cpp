#include "cloud/accountsession.h"
#include "cloud/cloudconsoleservice.h"
#include "cloud/dialogs/accountdialog.h"
#include "cloud/networkservices.h"
#include "cloud/refreshtokenstore.h"
#include "cloud/settingssync.h"
#include "cloudservicerunner.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

// The account against the real service: the dialog signs in and registers, the
// session refreshes and comes back after a restart; with no secret service the
// refresh token is kept scrambled in the settings.
class tst_CloudAccount : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void registerThroughTheDialog();
    void signInRefreshRestartAndSignOut();
    void withoutKeepMeSignedInNothingIsStored();
    void refusedRefreshSignsOut();
    void scrambledFallback();
    void serviceStopsMidSession();

private:
    QString iniFile() const { return m_dir.filePath(QStringLiteral("quillon.ini")); }
    std::unique_ptr<AccountSession> newSession();
    // Signs in through the dialog; returns false when the dialog did not close.
    bool signInWithDialog(AccountSession &account, bool keep);
    static QMessageBox *openMessageBox(QWidget *parent);

    QTemporaryDir m_dir;
    std::unique_ptr<CloudServiceRunner> m_service;
    std::unique_ptr<NetworkServices> m_network;
    const QString m_email = QStringLiteral("ann@example.com");
    const QString m_password = QStringLiteral("correct horse");
};

void tst_CloudAccount::initTestCase()
{
    // No secret service answers here: the token takes the fallback path.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillon-test-bus");
    QCoreApplication::setOrganizationName(QStringLiteral("VORTANE"));
    QCoreApplication::setApplicationName(QStringLiteral("QuillonTest"));
}

void tst_CloudAccount::init()
{
    const QByteArray test = QTest::currentTestFunction();
    if (test == "scrambledFallback")
        return;
    QFile::remove(iniFile());
    m_service = std::make_unique<CloudServiceRunner>(); // a database of its own for each test
    QVERIFY(m_service->start(50));
    QVERIFY(m_service->addUser(m_email, m_password));
    qputenv("QLN_HOST", m_service->url().toUtf8());
    m_network = std::make_unique<NetworkServices>();
}

std::unique_ptr<AccountSession> tst_CloudAccount::newSession()
{
    return std::make_unique<AccountSession>(m_network.get(), SettingsLocation(iniFile()));
}

QMessageBox *tst_CloudAccount::openMessageBox(QWidget *parent)
{
    for (QMessageBox *box : parent->findChildren<QMessageBox *>()) {
        if (box->isVisible())
            return box;
    }
    return nullptr;
}

bool tst_CloudAccount::signInWithDialog(AccountSession &account, bool keep)
{
    AccountDialog dialog(&account);
    dialog.show();
    dialog.findChild<QLineEdit *>(QStringLiteral("signInEmailEdit"))->setText(m_email);
    dialog.findChild<QLineEdit *>(QStringLiteral("signInPasswordEdit"))->setText(m_password);
    dialog.findChild<QCheckBox *>(QStringLiteral("keepSignedInCheck"))->setChecked(keep);
    dialog.findChild<QPushButton *>(QStringLiteral("signInButton"))->click();
    return QTest::qWaitFor([&] { return dialog.result() == QDialog::Accepted; }, 15000);
}

void tst_CloudAccount::registerThroughTheDialog()
{
    auto account = newSession();
    AccountDialog dialog(account.get());
    dialog.show();
    dialog.findChild<QTabWidget *>(QStringLiteral("accountTabs"))->setCurrentIndex(1);
    auto edit = [&](const char *name) { return dialog.findChild<QLineEdit *>(QLatin1String(name)); };
    const QString email = QStringLiteral("bob@example.com");
    edit("registerEmailEdit")->setText(email);
    dialog.findChild<QPushButton *>(QStringLiteral("sendCodeButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(openMessageBox(&dialog), 10000);
    QCOMPARE(openMessageBox(&dialog)->icon(), QMessageBox::Information);
    openMessageBox(&dialog)->accept();

    edit("registerUsernameEdit")->setText(QStringLiteral("bob"));
    edit("registerPasswordEdit")->setText(m_password);
    edit("registerConfirmEdit")->setText(m_password + QLatin1Char('!'));
    edit("registerCodeEdit")->setText(m_service->registrationCode(email));
    dialog.findChild<QPushButton *>(QStringLiteral("registerButton"))->click();
    QTRY_VERIFY(openMessageBox(&dialog));
    QCOMPARE(openMessageBox(&dialog)->text(), QStringLiteral("Passwords do not match."));
    openMessageBox(&dialog)->accept();
    QCOMPARE(m_service->requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/account/register")), 0);

    edit("registerConfirmEdit")->setText(m_password);
    dialog.findChild<QPushButton *>(QStringLiteral("registerButton"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 15000);
    QVERIFY(account->hasValidAccessToken());
    QCOMPARE(account->displayName(), email);
    QCOMPARE(account->username(), QStringLiteral("bob"));
}

void tst_CloudAccount::signInRefreshRestartAndSignOut()
{
    auto account = newSession();
    {
        // A wrong password is the service's refusal in a warning box.
        AccountDialog dialog(account.get());
        dialog.show();
        dialog.findChild<QLineEdit *>(QStringLiteral("signInEmailEdit"))->setText(m_email);
        dialog.findChild<QLineEdit *>(QStringLiteral("signInPasswordEdit"))->setText(QStringLiteral("wrong password"));
        dialog.findChild<QPushButton *>(QStringLiteral("signInButton"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(openMessageBox(&dialog), 15000);
        QCOMPARE(openMessageBox(&dialog)->icon(), QMessageBox::Warning);
        QVERIFY(!account->isSignedIn());
    }
    QVERIFY(signInWithDialog(*account, true));
    QVERIFY(account->hasValidAccessToken());
    const QString first = account->accessToken();

    // Two refreshes within 15 s: one request.
    const QString refreshPath = QStringLiteral("/api/v3/account/token/refresh");
    QVERIFY(account->requestRefresh(account->deviceId()));
    QVERIFY(account->requestRefresh(account->deviceId()));
    QTRY_VERIFY(account->accessToken() != first);
    QTest::qWait(200);
    QCOMPARE(m_service->requestCount(QStringLiteral("POST"), refreshPath), 1);

    // With a 50 s token the session refreshes on its own well before it runs out.
    const QString second = account->accessToken();
    const QDateTime secondExpiry = account->accessExpiry();
    QTRY_VERIFY_WITH_TIMEOUT(account->accessToken() != second, 40000);
    QVERIFY(QDateTime::currentDateTimeUtc() < secondExpiry);
    QCOMPARE(m_service->requestCount(QStringLiteral("POST"), refreshPath), 2);

    // A restart brings the session back without the password.
    account.reset();
    account = newSession();
    QVERIFY(!account->isSignedIn());
    account->restore();
    QTRY_VERIFY_WITH_TIMEOUT(account->hasValidAccessToken(), 15000);
    QCOMPARE(account->email(), m_email);

    // Signing out leaves nothing behind, and the service ended the tokens.
    QSettings(iniFile(), QSettings::IniFormat).setValue(QStringLiteral("AccountSyncRevision"), 4);
    account->signOut();
    QVERIFY(!account->isSignedIn());
    QCOMPARE(account->displayName(), QStringLiteral("Not signed in"));
    QTRY_COMPARE(m_service->requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/account/logout")), 1);
    const QSettings stored(iniFile(), QSettings::IniFormat);
    for (const QString &key : stored.allKeys())
        QVERIFY2(!key.startsWith(QLatin1String("Account")), qPrintable(key));
    account = newSession();
    account->restore();
    QTest::qWait(300);
    QVERIFY(!account->isSignedIn());
}

void tst_CloudAccount::withoutKeepMeSignedInNothingIsStored()
{
    auto account = newSession();
    QVERIFY(signInWithDialog(*account, false));
    QVERIFY(account->hasValidAccessToken());
    QVERIFY(!QSettings(iniFile(), QSettings::IniFormat).contains(QStringLiteral("AccountRefreshToken")));
    account = newSession();
    account->restore();
    QTest::qWait(300);
    QVERIFY(!account->isSignedIn());
    QCOMPARE(m_service->requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/account/token/refresh")), 0);
}

void tst_CloudAccount::refusedRefreshSignsOut()
{
    auto account = newSession();
    QVERIFY(signInWithDialog(*account, true));
    account.reset();

    // Somebody else spends the stored refresh token first.
    RefreshTokenStore store{SettingsLocation(iniFile())};
    QSignalSpy loaded(&store, &RefreshTokenStore::loaded);
    store.load(m_email);
    QTRY_COMPARE(loaded.size(), 1);
    NetworkServices other;
    QSignalSpy answered(&other, &NetworkServices::accountResponse);
    other.refreshToken(loaded.at(0).at(0).toString(), QString());
    QTRY_COMPARE(answered.size(), 1);
    QVERIFY2(answered.at(0).at(0).toJsonObject().value(QStringLiteral("status")).toBool(),
             QJsonDocument(answered.at(0).at(0).toJsonObject()).toJson().constData());

    // The restored session's refresh is refused: it signs out and says so, once.
    account = newSession();
    QSignalSpy ended(account.get(), &AccountSession::signedOutByService);
    account->restore();
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 15000);
    QVERIFY(!account->isSignedIn());
    QVERIFY(!ended.at(0).at(0).toString().isEmpty());
    QVERIFY(!QSettings(iniFile(), QSettings::IniFormat).contains(QStringLiteral("AccountEmail")));
    QTest::qWait(500);
    QCOMPARE(m_service->requestCount(QStringLiteral("POST"), QStringLiteral("/api/v3/account/token/refresh")), 2);
}

void tst_CloudAccount::scrambledFallback()
{
    // No secret service answers in this process, so the token goes to the settings,
    // scrambled, and comes back from there.
    const QString token = QStringLiteral("rt-0123456789abcdef-0123456789abcdef");
    RefreshTokenStore store{SettingsLocation(iniFile())};
    QSignalSpy saved(&store, &RefreshTokenStore::saved);
    QSignalSpy loaded(&store, &RefreshTokenStore::loaded);
    store.save(m_email, token);
    QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 1, 30000);
    QCOMPARE(store.backend(), RefreshTokenStore::Backend::Settings);
    const QString stored = QSettings(iniFile(), QSettings::IniFormat).value(QStringLiteral("AccountRefreshToken")).toString();
    QVERIFY(!stored.isEmpty());
    QVERIFY(!stored.contains(token) && !QString::fromLatin1(QByteArray::fromBase64(stored.toLatin1())).contains(token));
    RefreshTokenStore reader{SettingsLocation(iniFile())};
    QSignalSpy read(&reader, &RefreshTokenStore::loaded);
    reader.load(m_email);
    QTRY_COMPARE_WITH_TIMEOUT(read.size(), 1, 30000);
    QCOMPARE(read.at(0).at(0).toString(), token);
    // The key is this installation's: another one reads something else.
    QVERIFY(RefreshTokenStore::scramble(QByteArray::fromBase64(stored.toLatin1()), "elsewhere") != token.toUtf8());
    store.remove(m_email);
    QVERIFY(!QSettings(iniFile(), QSettings::IniFormat).contains(QStringLiteral("AccountRefreshToken")));
}

void tst_CloudAccount::serviceStopsMidSession()
{
    auto account = newSession();
    QVERIFY(signInWithDialog(*account, true));
    CloudConsoleService console(m_network.get(), account.get());
    SettingsSync sync(m_network.get(), account.get(), SettingsLocation(iniFile()));
    sync.setHooks({[] { return QJsonObject(); }, [](const QJsonObject &) { return true; },
                   [] { return SettingsSync::Choice::Cancel; }});
    QSignalSpy errors(m_network.get(), &NetworkServices::networkError);
    QSignalSpy answers(m_network.get(), &NetworkServices::consoleResponse);
    QSignalSpy status(&sync, &SettingsSync::statusMessage);
    console.setEnabled(true);
    QTRY_VERIFY(answers.size() >= 2); // heartbeat and first poll

    m_service->stop();
    sync.start(SettingsSync::Trigger::User);
    QTRY_VERIFY(!sync.isSyncing());
    const QString refused =
        QStringLiteral("Could not connect to the server. Please check your network connection and try again.");
    QCOMPARE(status.last().at(0).toString(), refused);
    // The console's next poll fails the same way, and it keeps polling.
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(errors.cbegin(), errors.cend(),
                                         [&](const QList<QVariant> &e) {
                                             return e.at(0).toString() == QLatin1String("console")
                                                 && e.at(1).toString() == refused;
                                         }),
                             15000);
    QVERIFY(console.isEnabled());

    answers.clear();
    QVERIFY(m_service->restart());
    QTRY_VERIFY_WITH_TIMEOUT(!answers.isEmpty(), 35000);
    sync.start(SettingsSync::Trigger::User);
    QTRY_VERIFY(!sync.isSyncing());
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("Settings synced"));
}

QTEST_MAIN(tst_CloudAccount)
#include "tst_cloudaccount.moc"
