#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// Runs the built program the way a user or a script would, in screenshot mode.
class tst_ScreenshotRun : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::exists(QString::fromUtf8(QUILLON_EXECUTABLE)));
        const QString config = m_dir.filePath(QStringLiteral("config"));
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_env.insert(QStringLiteral("HOME"), m_dir.path());
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        m_env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
        m_env.remove(QStringLiteral("QT_LOGGING_RULES"));
        m_env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));

        // A configuration folder already chosen, so the first-run dialog stays away.
        m_store = config + QStringLiteral("/VORTANE/Quillon.conf");
        QSettings store(m_store, QSettings::IniFormat);
        store.setValue(QStringLiteral("CONFIG_FILE_PATH"), m_dir.filePath(QStringLiteral("cfg")));
        store.setValue(QStringLiteral("LAST_WINDOW_SIZE"), QSize(640, 480));
        store.sync();
        QCOMPARE(store.status(), QSettings::NoError);
    }

    void screenshot_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("format"); // empty: the run must fail
        QTest::newRow("png") << "shot.png" << QByteArrayLiteral("png");
        QTest::newRow("jpeg by suffix") << "shot.jpg" << QByteArrayLiteral("jpeg");
        QTest::newRow("no suffix") << "shot" << QByteArrayLiteral("png");
        QTest::newRow("missing folder") << "missing/shot.png" << QByteArray();
        QTest::newRow("unknown suffix") << "shot.nosuchformat" << QByteArray();
    }

    void screenshot()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, format);
        const QString path = m_dir.filePath(file);
        QProcess quillon;
        quillon.setProcessEnvironment(m_env);
        quillon.start(QString::fromUtf8(QUILLON_EXECUTABLE), QStringList{QStringLiteral("--screenshot"), path});
        QVERIFY(quillon.waitForStarted(10000));
        if (!quillon.waitForFinished(60000)) {
            quillon.kill();
            quillon.waitForFinished(5000);
            QFAIL("quillon did not end by itself");
        }
        const QByteArray log = quillon.readAllStandardError();
        QCOMPARE(quillon.exitStatus(), QProcess::NormalExit);
        QVERIFY2(quillon.exitCode() == (format.isEmpty() ? 1 : 0), log.constData());
        // The run's fixed window size does not replace the user's.
        QCOMPARE(QSettings(m_store, QSettings::IniFormat).value(QStringLiteral("LAST_WINDOW_SIZE")).toSize(), QSize(640, 480));
        if (format.isEmpty()) {
            // A failure names the path.
            QVERIFY2(log.contains(path.toUtf8()) && log.contains(" FAILED"), log.constData());
            QVERIFY(!QFile::exists(path));
            return;
        }
        QImageReader reader(path);
        QCOMPARE(reader.format(), format);
        QCOMPARE(reader.read().size(), QSize(1280, 800));
    }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QString m_store;
};

QTEST_MAIN(tst_ScreenshotRun)
#include "tst_screenshotrun.moc"
