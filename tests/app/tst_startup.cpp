#include "app/setconfigfilepathdialog.h"
#include "app/startup.h"
#include "settings/displayfont.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class tst_Startup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { store().clear(); }
    void commandLine_data();
    void commandLine();
    void optionsWithoutWindow_data();
    void optionsWithoutWindow();
    void languageRule_data();
    void languageRule();
    void savedGeometry_data();
    void savedGeometry();
    void consolasFallsBackToAFixedFont();
    void configFolderDialog_data();
    void configFolderDialog();
    void firstRun_data();
    void firstRun();

private:
    QSettings store() const { return QSettings(QStringLiteral("VORTANE"), QStringLiteral("Quillon")); }
    void setStored(const QString &key, const QVariant &value) { store().setValue(key, value); }
    static void press(QDialog *dialog, QDialogButtonBox::StandardButton button)
    {
        dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(button)->click();
    }
    static QLineEdit *folderEdit(QDialog *dialog)
    {
        return dialog->findChild<QLineEdit *>(QStringLiteral("config_file_path_le"));
    }

    QTemporaryDir m_dir;
};

void tst_Startup::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Keep the user's real settings and data folders out of reach.
    const QString config = m_dir.filePath(QStringLiteral("config"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
    applyApplicationNames();
    QVERIFY(store().fileName().startsWith(config));
}

void tst_Startup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("screenshot"); // the path, null for none
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("document");
    const QString q = QStringLiteral("quillon"), flag = QStringLiteral("--screenshot");
    const QString com = QStringLiteral("COM3"), png = QStringLiteral("/tmp/shot.png");
    QTest::newRow("nothing") << QStringList{q} << QString() << QString() << QString();
    QTest::newRow("first of several is the port") << QStringList{q, com, QStringLiteral("COM4")} << QString() << com << QString();
    QTest::newRow("screenshot after port, port ignored") << QStringList{q, com, flag, png, q} << png << QString() << QString();
    QTest::newRow("flag last keeps port") << QStringList{q, com, flag} << QString() << com << QString();
    QTest::newRow("flag alone last is no port") << QStringList{q, flag} << QString() << QString() << QString();
    QTest::newRow("program name is not a flag") << QStringList{flag, png} << QString() << png << QString();
    const QString doc = QStringLiteral("/home/me/bench.QLN");
    QTest::newRow("a settings document is opened") << QStringList{q, doc} << QString() << QString() << doc;
}

void tst_Startup::optionsWithoutWindow_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out"); // what the output starts with
    QTest::addColumn<QString>("err");
    const QString q = QStringLiteral("quillon");
    QTest::newRow("help") << QStringList{q, QStringLiteral("--help")} << 0 << "Usage: quillon" << "";
    QTest::newRow("version") << QStringList{q, QStringLiteral("--version")} << 0 << "quillon 0." << "";
    QTest::newRow("unknown option") << QStringList{q, QStringLiteral("--SCREENSHOT"), QStringLiteral("x.png")} << 1
                                    << "" << "quillon: unknown option --SCREENSHOT";
    QTest::newRow("a port goes on") << QStringList{q, QStringLiteral("ttyUSB0")} << -1 << "" << "";
    QTest::newRow("a screenshot file may look like an option")
        << QStringList{q, QStringLiteral("--screenshot"), QStringLiteral("-shot.png")} << -1 << "" << "";
}

void tst_Startup::optionsWithoutWindow()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    char outText[4096] = {}, errText[4096] = {};
    FILE *o = fmemopen(outText, sizeof outText - 1, "w"), *e = fmemopen(errText, sizeof errText - 1, "w");
    QCOMPARE(answerWithoutWindow(arguments, o, e), code);
    std::fclose(o);
    std::fclose(e);
    QVERIFY2(QString::fromUtf8(outText).startsWith(out), outText);
    QVERIFY2(QString::fromUtf8(errText).startsWith(err), errText);
}

void tst_Startup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, screenshot);
    QFETCH(QString, portName);
    QFETCH(QString, document);
    const CommandLine line = parseCommandLine(arguments);
    QCOMPARE(line.screenshot, !screenshot.isNull());
    QCOMPARE(line.screenshotPath, screenshot);
    QCOMPARE(line.portName, portName);
    QCOMPARE(line.documentPath, document);
}

void tst_Startup::languageRule_data()
{
    // The stored choice: 0 follows the system, 1 Chinese, 2 English.
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("chinese");
    QTest::newRow("system, zh_CN") << 0 << "zh_CN" << true;
    QTest::newRow("system, zh_TW") << 0 << "zh_TW" << false;
    QTest::newRow("chinese, en_US") << 1 << "en_US" << true;
    QTest::newRow("english, zh_CN") << 2 << "zh_CN" << false;
    QTest::newRow("unknown value, zh_CN") << 3 << "zh_CN" << false;
}

void tst_Startup::languageRule()
{
    QFETCH(int, value);
    QFETCH(QString, locale);
    QFETCH(bool, chinese);
    QCOMPARE(wantsChineseTranslation(value, locale), chinese);
}

void tst_Startup::savedGeometry_data()
{
    // A saved position is used only strictly inside the available area.
    QTest::addColumn<QVariant>("storedSize");
    QTest::addColumn<QVariant>("storedPosition");
    QTest::addColumn<bool>("screen");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("moved");
    const QSize avail = QGuiApplication::primaryScreen()->availableGeometry().size();
    const QVariant none, small = QSize(640, 480);
    QTest::newRow("defaults") << none << none << true << QSize(1000, 800) << true;
    QTest::newRow("just inside") << small << QVariant(QPoint(1, 1)) << true << QSize(640, 480) << true;
    QTest::newRow("last pixel") << small << QVariant(QPoint(avail.width() - 1, avail.height() - 1)) << true
                                << QSize(640, 480) << true;
    QTest::newRow("x zero") << small << QVariant(QPoint(0, 50)) << true << QSize(640, 480) << false;
    QTest::newRow("x at width") << small << QVariant(QPoint(avail.width(), 50)) << true << QSize(640, 480) << false;
    QTest::newRow("y at height") << small << QVariant(QPoint(50, avail.height())) << true << QSize(640, 480) << false;
    QTest::newRow("no screen") << small << QVariant(QPoint(100, 50)) << false << QSize(640, 480) << false;
    QTest::newRow("damaged size") << QVariant(QStringLiteral("big")) << QVariant(QPoint(100, 50)) << true
                                  << QSize(1000, 800) << true;
}

void tst_Startup::savedGeometry()
{
    QFETCH(QVariant, storedSize);
    QFETCH(QVariant, storedPosition);
    QFETCH(bool, screen);
    QFETCH(QSize, size);
    QFETCH(bool, moved);
    QSettings s = store();
    if (storedSize.isValid())
        s.setValue(QStringLiteral("LAST_WINDOW_SIZE"), storedSize);
    if (storedPosition.isValid())
        s.setValue(QStringLiteral("LAST_WINDOW_POSITION"), storedPosition);
    QMainWindow window;
    applySavedGeometry(&window, s, screen ? QGuiApplication::primaryScreen() : nullptr);
    QCOMPARE(window.size(), size);
    QCOMPARE(window.testAttribute(Qt::WA_Moved), moved);
    if (moved)
        QCOMPARE(window.pos(), storedPosition.isValid() ? storedPosition.toPoint() : QPoint(200, 200));
}

void tst_Startup::consolasFallsBackToAFixedFont()
{
    // The windows and dialogs ask for Consolas, which must give a fixed-width font.
    ensureConsolasFallback();
    const QString consolas = QStringLiteral("Consolas");
    if (isFontFamilyAvailable(consolas))
        QVERIFY(QFont::substitutes(consolas).isEmpty());
    else
        QCOMPARE(QFontInfo(QFont(consolas)).family(), QFontInfo(QFont(preferredMonospaceFamily())).family());
}

void tst_Startup::configFolderDialog_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("created");
    QVERIFY(QFile(m_dir.filePath(QStringLiteral("plainfile"))).open(QIODevice::WriteOnly));
    QTest::newRow("new nested folder") << m_dir.filePath(QStringLiteral("ok/a/b")) << true << true;
    QTest::newRow("existing folder") << m_dir.path() << true << true;
    QTest::newRow("cannot be created") << m_dir.filePath(QStringLiteral("plainfile/sub")) << true << false;
    QTest::newRow("empty") << QString() << true << false;
    QTest::newRow("cancelled") << m_dir.filePath(QStringLiteral("cancelled")) << false << false;
}

void tst_Startup::configFolderDialog()
{
    QFETCH(QString, folder);
    QFETCH(bool, ok);
    QFETCH(bool, created);
    // A new installation is offered a folder in its data location.
    SetConfigFilePathDialog dialog;
    QCOMPARE(folderEdit(&dialog)->text(),
             QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/Config"));
    folderEdit(&dialog)->setText(folder);
    press(&dialog, ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
    QCOMPARE(store().contains(QStringLiteral("CONFIG_FILE_PATH")), ok);
    QCOMPARE(store().value(QStringLiteral("CONFIG_FILE_PATH")).toString(), ok ? folder : QString());
    QCOMPARE(!folder.isEmpty() && QDir(folder).exists(), created);
    // Once stored, the folder is what the dialog shows.
    if (ok && !folder.isEmpty())
        QCOMPARE(folderEdit(std::make_unique<SetConfigFilePathDialog>().get())->text(), folder);
}

void tst_Startup::firstRun_data()
{
    QTest::addColumn<bool>("ok");
    QTest::newRow("cancel ends without a window") << false;
    QTest::newRow("ok opens the window with the port") << true;
}

void tst_Startup::firstRun()
{
    QFETCH(bool, ok);
    setStored(QStringLiteral("ValueL"), 1); // asks for a translation this build may not carry
    if (!QFile::exists(QStringLiteral(":/language/language/zh_CN.qm")))
        QTest::ignoreMessage(QtWarningMsg, "load language zh_CN failed!");
    const QString folder = m_dir.filePath(QStringLiteral("firstrun/Config"));
    QStringList calls;
    QList<QRect> shown;
    MainWindowHooks hooks{[&] {
                              auto *w = new QMainWindow;
                              // The user moves the window, then leaves.
                              QTimer::singleShot(300, w, [w, &shown] {
                                  shown << QRect(w->pos(), w->size());
                                  w->resize(720, 530);
                                  w->move(160, 130);
                                  w->close();
                              });
                              return w;
                          },
                          [&](QMainWindow *w, const QString &port) {
                              QVERIFY(w->isVisible());
                              calls << port;
                          },
                          {}};
    // Runs in the first-run dialog's own event loop.
    QTimer::singleShot(0, this, [&] {
        if (auto *dialog = qobject_cast<SetConfigFilePathDialog *>(QApplication::activeModalWidget())) {
            folderEdit(dialog)->setText(folder);
            press(dialog, ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        }
    });
    char program[] = "quillon", port[] = "COM5";
    char *argv[] = {program, port, nullptr};
    QCOMPARE(runQuillon(*qApp, 2, argv, hooks), 0);
    QCOMPARE(shown.size(), ok ? 1 : 0);
    QCOMPARE(calls, ok ? QStringList{QStringLiteral("COM5")} : QStringList());
    QCOMPARE(store().value(QStringLiteral("CONFIG_FILE_PATH")).toString(), ok ? folder : QString());
    QCOMPARE(QDir(folder).exists(), ok);
    if (!ok)
        return;

    // With the folder set, the next start opens the window where the last one was left.
    setStored(QStringLiteral("ValueL"), 2);
    QCOMPARE(runQuillon(*qApp, 1, argv, hooks), 0);
    QCOMPARE(shown.value(1), QRect(160, 130, 720, 530));
    QCOMPARE(calls.size(), 1);
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
