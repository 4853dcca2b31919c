#include <QDir>
#include <QFile>
#include <QImage>
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
    void initTestCase();
    void screenshot_data();
    void screenshot();

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
};

void tst_ScreenshotRun::initTestCase()
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
    QSettings store(config + QStringLiteral("/VORTANE/Quillon.conf"), QSettings::IniFormat);
    store.setValue(QStringLiteral("CONFIG_FILE_PATH"), m_dir.filePath(QStringLiteral("cfg")));
    store.sync();
    QCOMPARE(store.status(), QSettings::NoError);
}

void tst_ScreenshotRun::screenshot_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("format");

    const QStringList none;
    QTest::newRow("png") << none << QStringLiteral("shot.png") << 0 << QByteArrayLiteral("png");
    QTest::newRow("after a port name") << QStringList{QStringLiteral("COM9")} << QStringLiteral("port.png") << 0
                                       << QByteArrayLiteral("png");
    QTest::newRow("jpeg by suffix") << none << QStringLiteral("shot.jpg") << 0 << QByteArrayLiteral("jpeg");
    QTest::newRow("no suffix") << none << QStringLiteral("shot") << 0 << QByteArrayLiteral("png");
    QTest::newRow("missing folder") << none << QStringLiteral("missing/shot.png") << 1 << QByteArray();
    QTest::newRow("unknown suffix") << none << QStringLiteral("shot.nosuchformat") << 1 << QByteArray();
}

void tst_ScreenshotRun::screenshot()
{
    QFETCH(QStringList, before);
    QFETCH(QString, file);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, format);

    const QString path = m_dir.filePath(file);
    QProcess quillon;
    quillon.setProcessEnvironment(m_env);
    quillon.start(QString::fromUtf8(QUILLON_EXECUTABLE), before + QStringList{QStringLiteral("--screenshot"), path});
    QVERIFY(quillon.waitForStarted(10000));
    if (!quillon.waitForFinished(60000)) {
        quillon.kill();
        quillon.waitForFinished(5000);
        QFAIL("quillon did not end by itself");
    }
    const QByteArray log = quillon.readAllStandardError();
    QCOMPARE(quillon.exitStatus(), QProcess::NormalExit);
    QVERIFY2(quillon.exitCode() == exitCode, log.constData());

    if (exitCode != 0) {
        // A failure names the path; success stays quiet.
        QVERIFY2(log.contains(path.toUtf8()) && log.contains(" FAILED"), log.constData());
        QVERIFY(!QFile::exists(path));
        return;
    }
    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(1280, 800));
}

QTEST_MAIN(tst_ScreenshotRun)
#include "tst_screenshotrun.moc"
