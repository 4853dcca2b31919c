#include "app/setconfigfilepathdialog.h"
#include "app/startup.h"
#include "settings/displayfont.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QImageReader>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
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
    void initTestCase()
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

    void init() { store().clear(); }
    void commandLine_data()
    {
        // What is answered without a window (exit code, the start of what is printed: on
        // stdout for 0, stderr for 1), else what start-up takes from the line.
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code"); // -1: start-up goes on
        QTest::addColumn<QString>("printed");
        QTest::addColumn<QString>("taken");
        const QString q = QStringLiteral("quillon"), flag = QStringLiteral("--screenshot");
        const QString com = QStringLiteral("COM3"), png = QStringLiteral("/tmp/shot.png");
        const auto goesOn = [](const char *name, const QStringList &arguments, const QString &taken) {
            QTest::newRow(name) << arguments << -1 << QString() << taken;
        };
        goesOn("nothing", {q}, {});
        goesOn("first of several is the port", {q, com, QStringLiteral("COM4")}, QStringLiteral("port COM3"));
        goesOn("screenshot after port, port ignored", {q, com, flag, png, q}, QStringLiteral("screenshot /tmp/shot.png"));
        goesOn("flag last keeps port", {q, com, flag}, QStringLiteral("port COM3"));
        goesOn("flag alone last is no port", {q, flag}, {});
        goesOn("program name is not a flag", {flag, png}, QStringLiteral("port /tmp/shot.png"));
        goesOn("a settings document is opened", {q, QStringLiteral("/home/me/bench.QLN")},
               QStringLiteral("document /home/me/bench.QLN"));
        goesOn("a screenshot file may look like an option", {q, flag, QStringLiteral("-shot.png")},
               QStringLiteral("screenshot -shot.png"));
        QTest::newRow("help") << QStringList{q, QStringLiteral("--help")} << 0 << "Usage: quillon" << "";
        QTest::newRow("version") << QStringList{q, QStringLiteral("--version")} << 0 << "quillon 0." << "";
        QTest::newRow("unknown option") << QStringList{q, QStringLiteral("--SCREENSHOT"), QStringLiteral("x.png")} << 1
                                        << "quillon: unknown option --SCREENSHOT" << "";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, printed);
        QFETCH(QString, taken);
        char outText[4096] = {}, errText[4096] = {};
        FILE *o = fmemopen(outText, sizeof outText - 1, "w"), *e = fmemopen(errText, sizeof errText - 1, "w");
        QCOMPARE(answerWithoutWindow(arguments, o, e), code);
        std::fclose(o);
        std::fclose(e);
        const QByteArray said(code == 0 ? outText : errText), other(code == 0 ? errText : outText);
        QVERIFY2(code < 0 ? said.isEmpty() : said.startsWith(printed.toUtf8()), said.constData());
        QVERIFY2(other.isEmpty(), other.constData());
        if (code >= 0)
            return;
        const CommandLine line = parseCommandLine(arguments);
        QStringList parts;
        if (line.screenshot)
            parts << QStringLiteral("screenshot ") + line.screenshotPath;
        if (!line.portName.isEmpty())
            parts << QStringLiteral("port ") + line.portName;
        if (!line.documentPath.isEmpty())
            parts << QStringLiteral("document ") + line.documentPath;
        QCOMPARE(parts.join(QStringLiteral(", ")), taken);
    }

    void languageRule_data()
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

    void languageRule()
    {
        QFETCH(int, value);
        QFETCH(QString, locale);
        QFETCH(bool, chinese);
        QCOMPARE(wantsChineseTranslation(value, locale), chinese);
    }

    void savedGeometry_data()
    {
        // A saved size is used when it is one, a saved position only strictly inside the
        // available area.
        QTest::addColumn<QVariant>("storedSize");
        QTest::addColumn<QVariant>("storedPosition");
        QTest::addColumn<bool>("screen");
        QTest::addColumn<bool>("moved");
        const QSize avail = QGuiApplication::primaryScreen()->availableGeometry().size();
        const QVariant none, small = QSize(640, 480);
        QTest::newRow("defaults") << none << none << true << true;
        QTest::newRow("just inside") << small << QVariant(QPoint(1, 1)) << true << true;
        QTest::newRow("last pixel") << small << QVariant(QPoint(avail.width() - 1, avail.height() - 1)) << true << true;
        QTest::newRow("x zero") << small << QVariant(QPoint(0, 50)) << true << false;
        QTest::newRow("x at width") << small << QVariant(QPoint(avail.width(), 50)) << true << false;
        QTest::newRow("y at height") << small << QVariant(QPoint(50, avail.height())) << true << false;
        QTest::newRow("no screen") << small << QVariant(QPoint(100, 50)) << false << false;
        QTest::newRow("damaged size") << QVariant(QStringLiteral("big")) << QVariant(QPoint(100, 50)) << true << true;
    }

    void savedGeometry()
    {
        QFETCH(QVariant, storedSize);
        QFETCH(QVariant, storedPosition);
        QFETCH(bool, screen);
        QFETCH(bool, moved);
        QSettings s = store();
        if (storedSize.isValid())
            s.setValue(QStringLiteral("LAST_WINDOW_SIZE"), storedSize);
        if (storedPosition.isValid())
            s.setValue(QStringLiteral("LAST_WINDOW_POSITION"), storedPosition);
        QMainWindow window;
        applySavedGeometry(&window, s, screen ? QGuiApplication::primaryScreen() : nullptr);
        QCOMPARE(window.size(), storedSize.typeId() == QMetaType::QSize ? storedSize.toSize() : QSize(1000, 800));
        QCOMPARE(window.testAttribute(Qt::WA_Moved), moved);
        if (moved)
            QCOMPARE(window.pos(), storedPosition.isValid() ? storedPosition.toPoint() : QPoint(200, 200));
    }

    void consolasFallsBackToAFixedFont()
    {
        // The windows and dialogs ask for Consolas, which must give a fixed-width font.
        ensureConsolasFallback();
        const QString consolas = QStringLiteral("Consolas");
        if (isFontFamilyAvailable(consolas))
            QVERIFY(QFont::substitutes(consolas).isEmpty());
        else
            QCOMPARE(QFontInfo(QFont(consolas)).family(), QFontInfo(QFont(preferredMonospaceFamily())).family());
    }

    void firstRun_data()
    {
        // The folder typed into the first-run dialog, which offers one in the data location.
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("created");
        QVERIFY(QFile(m_dir.filePath(QStringLiteral("plainfile"))).open(QIODevice::WriteOnly));
        QTest::newRow("cancel ends without a window") << m_dir.filePath(QStringLiteral("cancelled")) << false << false;
        QTest::newRow("ok opens the window with the port") << m_dir.filePath(QStringLiteral("firstrun/Config")) << true << true;
        QTest::newRow("a folder that cannot be created is kept")
            << m_dir.filePath(QStringLiteral("plainfile/sub")) << true << false;
    }

    void firstRun()
    {
        QFETCH(QString, folder);
        QFETCH(bool, ok);
        QFETCH(bool, created);
        setStored(QStringLiteral("ValueL"), 1); // asks for a translation this build may not carry
        if (!QFile::exists(QStringLiteral(":/language/language/zh_CN.qm")))
            QTest::ignoreMessage(QtWarningMsg, "load language zh_CN failed!");
        QStringList calls;
        QList<QRect> shown;
        QString proposed;
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
                proposed = folderEdit(dialog)->text();
                folderEdit(dialog)->setText(folder);
                press(dialog, ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
            }
        });
        char program[] = "quillon", port[] = "COM5";
        char *argv[] = {program, port, nullptr};
        QCOMPARE(runQuillon(*qApp, 2, argv, hooks), 0);
        QCOMPARE(proposed, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/Config"));
        QCOMPARE(shown.size(), ok ? 1 : 0);
        QCOMPARE(calls, ok ? QStringList{QStringLiteral("COM5")} : QStringList());
        QCOMPARE(store().contains(QStringLiteral("CONFIG_FILE_PATH")), ok);
        QCOMPARE(QDir(folder).exists(), created);
        if (!ok)
            return;
        // Once stored, the folder is what the dialog shows.
        QCOMPARE(folderEdit(std::make_unique<SetConfigFilePathDialog>().get())->text(), folder);

        // With the folder set, the next start opens the window where the last one was left.
        setStored(QStringLiteral("ValueL"), 2);
        QCOMPARE(runQuillon(*qApp, 1, argv, hooks), 0);
        QCOMPARE(shown.value(1), QRect(160, 130, 720, 530));
        QCOMPARE(calls.size(), 1);
    }

    void screenshotRun_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("format"); // empty: the run must fail
        QTest::newRow("png") << "shot.png" << QByteArrayLiteral("png");
        QTest::newRow("jpeg by suffix") << "shot.jpg" << QByteArrayLiteral("jpeg");
        QTest::newRow("no suffix") << "shot" << QByteArrayLiteral("png");
        QTest::newRow("missing folder") << "missing/shot.png" << QByteArray();
        QTest::newRow("unknown suffix") << "shot.nosuchformat" << QByteArray();
    }

    // The built program run the way a user or a script would, in screenshot mode, with a
    // configuration folder already chosen so that the first-run dialog stays away.
    void screenshotRun()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, format);
        setStored(QStringLiteral("CONFIG_FILE_PATH"), m_dir.filePath(QStringLiteral("cfg")));
        setStored(QStringLiteral("LAST_WINDOW_SIZE"), QSize(640, 480));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment(); // with this test's folders
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
        const QString path = m_dir.filePath(file);
        QProcess quillon;
        quillon.setProcessEnvironment(env);
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
        QCOMPARE(store().value(QStringLiteral("LAST_WINDOW_SIZE")).toSize(), QSize(640, 480));
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

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
