#include "cloud/refreshtokenstore.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The refresh token in a real secret service. ctest runs this inside a D-Bus session
// of its own with an unlocked gnome-keyring in a temporary home (QLN_TEST_KEYRING set),
// so the user's keyring is never touched.
class tst_SecretStore : public QObject
{
    Q_OBJECT
private slots:
    void tokenMovesIntoTheSecretStore()
    {
        if (qEnvironmentVariableIsEmpty("QLN_TEST_KEYRING"))
            QSKIP("needs the private secret service that ctest starts (dbus-run-session, gnome-keyring-daemon)");
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("quillon.ini"));
        const QString account = QStringLiteral("ann@example.com");
        auto inSettings = [&] { return QSettings(ini, QSettings::IniFormat).contains(QStringLiteral("AccountRefreshToken")); };
        RefreshTokenStore store{SettingsLocation(ini)};
        QSignalSpy loaded(&store, &RefreshTokenStore::loaded);
        QSignalSpy saved(&store, &RefreshTokenStore::saved);

        // A token kept the old way, scrambled in the settings, moves into the secret
        // store the first time it is read.
        store.setSecretStoreEnabled(false);
        store.save(account, QStringLiteral("rt-moved"));
        QVERIFY(inSettings());
        store.setSecretStoreEnabled(true);
        store.load(account);
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 2, 30000);
        QCOMPARE(loaded.at(0).at(0).toString(), QStringLiteral("rt-moved"));
        QCOMPARE(store.backend(), RefreshTokenStore::Backend::SecretStore);
        QVERIFY(!inSettings());

        // From now on it is read from there; removing it removes it there.
        store.load(account);
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 2, 30000);
        QCOMPARE(loaded.at(1).at(0).toString(), QStringLiteral("rt-moved"));
        store.remove(account);
        QTest::qWait(500);
        store.load(account);
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 3, 30000);
        QCOMPARE(loaded.at(2).at(0).toString(), QString());
    }
};

QTEST_GUILESS_MAIN(tst_SecretStore)
#include "tst_secretstore.moc"
