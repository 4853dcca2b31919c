#include "cloud/refreshtokenstore.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The refresh token in a real secret service: the test runs itself again inside a
// D-Bus session of its own with an unlocked gnome-keyring, so the user's keyring
// is never touched.
class tst_SecretStore : public QObject
{
    Q_OBJECT
private slots:
    void tokenMovesIntoTheSecretStore();

private:
    QTemporaryDir m_dir;
};

void tst_SecretStore::tokenMovesIntoTheSecretStore()
{
    if (qEnvironmentVariableIsEmpty("QLN_TEST_KEYRING"))
        QSKIP("dbus-run-session and gnome-keyring-daemon are needed for a secret service");
    const QString ini = m_dir.filePath(QStringLiteral("quillon.ini"));
    const QString account = QStringLiteral("ann@example.com");
    const QString token = QStringLiteral("rt-moved");

    // A token kept the old way, scrambled in the settings ...
    RefreshTokenStore old{SettingsLocation(ini)};
    old.setSecretStoreEnabled(false);
    QSignalSpy oldSaved(&old, &RefreshTokenStore::saved);
    old.save(account, token);
    QTRY_COMPARE(oldSaved.size(), 1);
    QVERIFY(QSettings(ini, QSettings::IniFormat).contains(QStringLiteral("AccountRefreshToken")));

    // ... moves into the secret store the first time it is read.
    RefreshTokenStore store{SettingsLocation(ini)};
    QSignalSpy loaded(&store, &RefreshTokenStore::loaded);
    QSignalSpy saved(&store, &RefreshTokenStore::saved);
    store.load(account);
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 30000);
    QCOMPARE(loaded.at(0).at(0).toString(), token);
    QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 1, 30000);
    QCOMPARE(store.backend(), RefreshTokenStore::Backend::SecretStore);
    QVERIFY(!QSettings(ini, QSettings::IniFormat).contains(QStringLiteral("AccountRefreshToken")));

    // A new token replaces it there; removing it removes it there.
    RefreshTokenStore again{SettingsLocation(ini)};
    QSignalSpy read(&again, &RefreshTokenStore::loaded);
    QSignalSpy written(&again, &RefreshTokenStore::saved);
    again.load(account);
    QTRY_COMPARE_WITH_TIMEOUT(read.size(), 1, 30000);
    QCOMPARE(read.at(0).at(0).toString(), token);
    again.save(account, QStringLiteral("rt-next"));
    QTRY_COMPARE_WITH_TIMEOUT(written.size(), 1, 30000);
    QVERIFY(!QSettings(ini, QSettings::IniFormat).contains(QStringLiteral("AccountRefreshToken")));
    again.load(account);
    QTRY_COMPARE_WITH_TIMEOUT(read.size(), 2, 30000);
    QCOMPARE(read.at(1).at(0).toString(), QStringLiteral("rt-next"));
    again.remove(account);
    QTest::qWait(500);
    again.load(account);
    QTRY_COMPARE_WITH_TIMEOUT(read.size(), 3, 30000);
    QCOMPARE(read.at(2).at(0).toString(), QString());
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString dbus = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    const QString keyring = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
    if (qEnvironmentVariableIsEmpty("QLN_TEST_KEYRING") && !dbus.isEmpty() && !keyring.isEmpty()) {
        QTemporaryDir home;
        QDir().mkpath(home.filePath(QStringLiteral("data")));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QLN_TEST_KEYRING"), QStringLiteral("1"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        QStringList arguments{QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                              QStringLiteral("printf pw | \"$1\" --unlock --components=secrets >/dev/null && shift && exec \"$@\""),
                              QStringLiteral("sh"), keyring, QCoreApplication::applicationFilePath()};
        arguments += app.arguments().mid(1);
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(dbus, arguments);
        if (!child.waitForFinished(120000)) {
            child.kill();
            return 1;
        }
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 1;
    }
    tst_SecretStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_secretstore.moc"
