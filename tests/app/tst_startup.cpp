#include "app/setconfigfilepathdialog.h"
#include "app/startup.h"
#include "settings/displayfont.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QVBoxLayout>

#include <functional>

class tst_Startup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void commandLine_data();
    void commandLine();
    void languageRule_data();
    void languageRule();
    void positionBounds_data();
    void positionBounds();
    void savedGeometry_data();
    void savedGeometry();
    void savedPositionNeedsAScreen();
    void consolasFallsBackToAFixedFont();

    void dialogLayoutAndTexts();
    void dialogProposesAppDataFolder();
    void dialogShowsStoredFolder();
    void dialogOkStoresFolder_data();
    void dialogOkStoresFolder();
    void dialogCancelStoresNothing();
    void dialogToolButtonPicksFolder();

    void firstRunCancelEndsWithoutWindow();
    void firstRunOkOpensWindow();
    void commandLineReachesWindow_data();
    void commandLineReachesWindow();
    void geometryRoundTrip();

private:
    QSettings store() const { return QSettings(QStringLiteral("VORTANE"), QStringLiteral("Quillon")); }
    void presetConfigFolder();
    int run(const QStringList &arguments, const MainWindowHooks &hooks);
    // Calls act on the first modal dialog of type T that shows up; gives up after 10 s.
    template<typename T>
    void onModal(std::function<void(T *)> act);

    QTemporaryDir m_dir;
};

template<typename T>
void tst_Startup::onModal(std::function<void(T *)> act)
{
    auto *poll = new QTimer(this);
    auto *tries = new int(0);
    connect(poll, &QTimer::timeout, this, [poll, tries, act] {
        auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!dialog && ++*tries < 200)
            return;
        poll->stop();
        poll->deleteLater();
        delete tries;
        if (dialog)
            act(dialog);
        else if (QWidget *stuck = QApplication::activeModalWidget())
            stuck->close(); // never hang the run, the checks after it will fail instead
    });
    poll->start(50);
}

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

void tst_Startup::init()
{
    QSettings s = store();
    s.clear();
    s.sync();
}

void tst_Startup::presetConfigFolder()
{
    QSettings s = store();
    s.setValue(QStringLiteral("CONFIG_FILE_PATH"), m_dir.filePath(QStringLiteral("cfg")));
    s.sync();
}

int tst_Startup::run(const QStringList &arguments, const MainWindowHooks &hooks)
{
    QByteArrayList storage;
    for (const QString &a : arguments)
        storage.append(a.toUtf8());
    QList<char *> argv;
    for (QByteArray &a : storage)
        argv.append(a.data());
    argv.append(nullptr);
    return runQuillon(*qApp, int(storage.size()), argv.data(), hooks);
}

void tst_Startup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("screenshot");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("portName");

    const QString q = QStringLiteral("quillon");
    const QString flag = QStringLiteral("--screenshot");
    const QString com = QStringLiteral("COM3");
    const QString png = QStringLiteral("/tmp/shot.png");
    QTest::newRow("nothing") << QStringList{q} << false << QString() << QString();
    QTest::newRow("port name") << QStringList{q, com} << false << QString() << com;
    QTest::newRow("first of several is the port") << QStringList{q, com, QStringLiteral("COM4")} << false << QString() << com;
    QTest::newRow("non-ascii port") << QStringList{q, QStringLiteral("串口1")} << false << QString()
                                    << QStringLiteral("串口1");
    QTest::newRow("screenshot alone") << QStringList{q, flag, png} << true << png << QString();
    QTest::newRow("screenshot after port") << QStringList{q, com, flag, png} << true << png << QString();
    QTest::newRow("screenshot in the middle") << QStringList{q, com, flag, png, QStringLiteral("x")} << true << png
                                              << QString();
    QTest::newRow("first flag wins") << QStringList{q, flag, png, flag, QStringLiteral("b.png")} << true << png
                                     << QString();
    QTest::newRow("flag last keeps port") << QStringList{q, com, flag} << false << QString() << com;
    QTest::newRow("flag alone last is a port") << QStringList{q, flag} << false << QString() << flag;
    QTest::newRow("flag is matched exactly") << QStringList{q, QStringLiteral("--screenshot=a.png")} << false
                                             << QString() << QStringLiteral("--screenshot=a.png");
    QTest::newRow("flag is case sensitive") << QStringList{q, QStringLiteral("--SCREENSHOT"), png} << false
                                            << QString() << QStringLiteral("--SCREENSHOT");
    QTest::newRow("program name is not a flag") << QStringList{flag, png} << false << QString() << png;
}

void tst_Startup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, screenshot);
    QFETCH(QString, path);
    QFETCH(QString, portName);
    const CommandLine line = parseCommandLine(arguments);
    QCOMPARE(line.screenshot, screenshot);
    QCOMPARE(line.screenshotPath, path);
    QCOMPARE(line.portName, portName);
}

void tst_Startup::languageRule_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("chinese");

    const QString cn = QStringLiteral("zh_CN");
    const QString tw = QStringLiteral("zh_TW");
    const QString us = QStringLiteral("en_US");
    QTest::newRow("system, zh_CN") << 0 << cn << true;
    QTest::newRow("system, zh_TW") << 0 << tw << false;
    QTest::newRow("system, zh_HK") << 0 << QStringLiteral("zh_HK") << false;
    QTest::newRow("system, en_US") << 0 << us << false;
    QTest::newRow("system, C") << 0 << QStringLiteral("C") << false;
    QTest::newRow("chinese, en_US") << 1 << us << true;
    QTest::newRow("chinese, zh_CN") << 1 << cn << true;
    QTest::newRow("chinese, zh_TW") << 1 << tw << true;
    QTest::newRow("english, zh_CN") << 2 << cn << false;
    QTest::newRow("english, en_US") << 2 << us << false;
    QTest::newRow("unknown value, zh_CN") << 3 << cn << false;
    QTest::newRow("negative value, zh_CN") << -1 << cn << false;
}

void tst_Startup::languageRule()
{
    QFETCH(int, value);
    QFETCH(QString, locale);
    QFETCH(bool, chinese);
    QCOMPARE(wantsChineseTranslation(value, locale), chinese);

    QTranslator translator;
    const bool shipped = QFile::exists(QStringLiteral(":/language/language/zh_CN.qm"));
    if (!chinese) {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        QVERIFY(!loadLanguage(translator, value, locale));
        QVERIFY(translator.isEmpty());
    } else if (shipped) {
        QVERIFY(loadLanguage(translator, value, locale));
    } else {
        QTest::ignoreMessage(QtWarningMsg, "load language zh_CN failed!");
        QVERIFY(!loadLanguage(translator, value, locale));
    }
}

void tst_Startup::positionBounds_data()
{
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<bool>("usable");

    QTest::newRow("default") << QPoint(200, 200) << true;
    QTest::newRow("just inside") << QPoint(1, 1) << true;
    QTest::newRow("last pixel") << QPoint(1919, 1079) << true;
    QTest::newRow("x zero") << QPoint(0, 200) << false;
    QTest::newRow("y zero") << QPoint(200, 0) << false;
    QTest::newRow("x negative") << QPoint(-40, 200) << false;
    QTest::newRow("y negative") << QPoint(200, -1) << false;
    QTest::newRow("x at width") << QPoint(1920, 200) << false;
    QTest::newRow("y at height") << QPoint(200, 1080) << false;
    QTest::newRow("far away") << QPoint(5000, 4000) << false;
}

void tst_Startup::positionBounds()
{
    QFETCH(QPoint, position);
    QFETCH(bool, usable);
    QCOMPARE(isSavedPositionUsable(position, QSize(1920, 1080)), usable);
    QVERIFY(!isSavedPositionUsable(position, QSize()));
}

void tst_Startup::savedGeometry_data()
{
    QTest::addColumn<QVariant>("storedSize");
    QTest::addColumn<QVariant>("storedPosition");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("moved");

    const QSize avail = QGuiApplication::primaryScreen()->availableGeometry().size();
    const QVariant none;
    const QVariant small = QSize(640, 480);
    QTest::newRow("defaults") << none << none << QSize(1000, 800) << true;
    QTest::newRow("inside") << small << QVariant(QPoint(100, 50)) << QSize(640, 480) << true;
    QTest::newRow("x zero") << small << QVariant(QPoint(0, 50)) << QSize(640, 480) << false;
    QTest::newRow("y zero") << small << QVariant(QPoint(50, 0)) << QSize(640, 480) << false;
    QTest::newRow("negative") << small << QVariant(QPoint(-300, 50)) << QSize(640, 480) << false;
    QTest::newRow("beyond width") << small << QVariant(QPoint(avail.width(), 50)) << QSize(640, 480) << false;
    QTest::newRow("beyond height") << small << QVariant(QPoint(50, avail.height() + 10)) << QSize(640, 480) << false;
    QTest::newRow("damaged size") << QVariant(QStringLiteral("big")) << QVariant(QPoint(100, 50)) << QSize(1000, 800)
                                  << true;
    QTest::newRow("zero size") << QVariant(QSize(0, 0)) << QVariant(QPoint(100, 50)) << QSize(1000, 800) << true;
}

void tst_Startup::savedGeometry()
{
    QFETCH(QVariant, storedSize);
    QFETCH(QVariant, storedPosition);
    QFETCH(QSize, size);
    QFETCH(bool, moved);

    QSettings s = store();
    if (storedSize.isValid())
        s.setValue(QStringLiteral("LAST_WINDOW_SIZE"), storedSize);
    if (storedPosition.isValid())
        s.setValue(QStringLiteral("LAST_WINDOW_POSITION"), storedPosition);
    const QPoint expected = storedPosition.isValid() ? storedPosition.toPoint() : QPoint(200, 200);

    QMainWindow window;
    applySavedGeometry(&window, s, QGuiApplication::primaryScreen());
    QCOMPARE(window.size(), size);
    QCOMPARE(window.testAttribute(Qt::WA_Moved), moved);
    if (moved)
        QCOMPARE(window.pos(), expected);
}

void tst_Startup::savedPositionNeedsAScreen()
{
    QSettings s = store();
    s.setValue(QStringLiteral("LAST_WINDOW_POSITION"), QPoint(100, 100));
    QMainWindow window;
    applySavedGeometry(&window, s, nullptr);
    QCOMPARE(window.size(), QSize(1000, 800));
    QVERIFY(!window.testAttribute(Qt::WA_Moved));
}

void tst_Startup::consolasFallsBackToAFixedFont()
{
    ensureConsolasFallback();
    const QString consolas = QStringLiteral("Consolas");
    if (isFontFamilyAvailable(consolas)) {
        QVERIFY(QFont::substitutes(consolas).isEmpty());
        return;
    }
    // Qt keeps substitutes in lower case.
    QVERIFY(QFont::substitutes(consolas).contains(preferredMonospaceFamily(), Qt::CaseInsensitive));
    QCOMPARE(QFontInfo(QFont(consolas)).family(), QFontInfo(QFont(preferredMonospaceFamily())).family());
}

void tst_Startup::dialogLayoutAndTexts()
{
    SetConfigFilePathDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("SetConfigFilePathDialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Quillon"));
    QCOMPARE(dialog.size(), QSize(800, 200));
    QCOMPARE(dialog.font().family(), QStringLiteral("Consolas"));
    QCOMPARE(dialog.font().pointSize(), 12);

    const char *const labelNames[] = {"label", "label_2", "label_3"};
    const QString texts[] = {
        QStringLiteral("This is the first time that you have run this version of Quillon. Quillon needs to set a "
                       "folder where configuration data can be stored."),
        QStringLiteral("Please specify a folder below."),
        QStringLiteral("Pressing Cancel will end the application without setting the configuration folder.")};
    auto *layout = qobject_cast<QVBoxLayout *>(dialog.layout());
    QVERIFY(layout);
    QCOMPARE(layout->count(), 5);
    for (int i = 0; i < 3; ++i) {
        auto *label = qobject_cast<QLabel *>(layout->itemAt(i)->widget());
        QVERIFY(label);
        QCOMPARE(label->objectName(), QString::fromLatin1(labelNames[i]));
        QCOMPARE(label->text(), texts[i]);
        QVERIFY(label->wordWrap());
    }
    const QFont first = dialog.findChild<QLabel *>(QStringLiteral("label"))->font();
    QCOMPARE(first.pointSize(), 12);
    QCOMPARE(first.weight(), QFont::Normal);

    auto *row = qobject_cast<QHBoxLayout *>(layout->itemAt(3)->layout());
    QVERIFY(row);
    QCOMPARE(row->objectName(), QStringLiteral("horizontalLayout"));
    QCOMPARE(row->itemAt(0)->widget()->objectName(), QStringLiteral("config_file_path_le"));
    QVERIFY(qobject_cast<QLineEdit *>(row->itemAt(0)->widget()));
    auto *tool = qobject_cast<QToolButton *>(row->itemAt(1)->widget());
    QVERIFY(tool);
    QCOMPARE(tool->objectName(), QStringLiteral("config_file_path_tb"));
    QCOMPARE(tool->text(), QStringLiteral("..."));

    auto *box = qobject_cast<QDialogButtonBox *>(layout->itemAt(4)->widget());
    QVERIFY(box);
    QCOMPARE(box->objectName(), QStringLiteral("buttonBox"));
    QCOMPARE(box->orientation(), Qt::Horizontal);
    QCOMPARE(box->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
}

void tst_Startup::dialogProposesAppDataFolder()
{
    SetConfigFilePathDialog dialog;
    const QString text = dialog.findChild<QLineEdit *>(QStringLiteral("config_file_path_le"))->text();
    QCOMPARE(text, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/Config"));
    QVERIFY2(text.startsWith(m_dir.path()), qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("/VORTANE/Quillon/Config")), qPrintable(text));
}

void tst_Startup::dialogShowsStoredFolder()
{
    presetConfigFolder();
    SetConfigFilePathDialog dialog;
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("config_file_path_le"))->text(),
             m_dir.filePath(QStringLiteral("cfg")));
}

void tst_Startup::dialogOkStoresFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("exists");

    QFile blocker(m_dir.filePath(QStringLiteral("plainfile")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    QTest::newRow("new nested folder") << m_dir.filePath(QStringLiteral("ok/a/b/c")) << true;
    QTest::newRow("existing folder") << m_dir.path() << true;
    QTest::newRow("cannot be created") << m_dir.filePath(QStringLiteral("plainfile/sub")) << false;
    QTest::newRow("empty") << QString() << false;
}

void tst_Startup::dialogOkStoresFolder()
{
    QFETCH(QString, folder);
    QFETCH(bool, exists);

    SetConfigFilePathDialog dialog;
    dialog.findChild<QLineEdit *>(QStringLiteral("config_file_path_le"))->setText(folder);
    dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    QSettings s = store();
    QVERIFY(s.contains(QStringLiteral("CONFIG_FILE_PATH")));
    QCOMPARE(s.value(QStringLiteral("CONFIG_FILE_PATH")).toString(), folder);
    QCOMPARE(!folder.isEmpty() && QDir(folder).exists(), exists);
}

void tst_Startup::dialogCancelStoresNothing()
{
    const QString folder = m_dir.filePath(QStringLiteral("cancelled"));
    SetConfigFilePathDialog dialog;
    dialog.findChild<QLineEdit *>(QStringLiteral("config_file_path_le"))->setText(folder);
    dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Cancel)->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!store().contains(QStringLiteral("CONFIG_FILE_PATH")));
    QVERIFY(!QDir(folder).exists());
}

void tst_Startup::dialogToolButtonPicksFolder()
{
    const QString picked = m_dir.filePath(QStringLiteral("picked"));
    QVERIFY(QDir().mkpath(picked));
    SetConfigFilePathDialog dialog;
    auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("config_file_path_le"));
    const QString before = edit->text();

    // A cancelled picker leaves the text alone.
    onModal<QFileDialog>([](QFileDialog *picker) { picker->reject(); });
    dialog.findChild<QToolButton *>(QStringLiteral("config_file_path_tb"))->click();
    QCOMPARE(edit->text(), before);

    bool directoryMode = false;
    onModal<QFileDialog>([&](QFileDialog *picker) {
        directoryMode = picker->fileMode() == QFileDialog::Directory;
        // With nothing selected, a directory picker answers with the folder it shows.
        picker->setDirectory(picked);
        static_cast<QDialog *>(picker)->accept(); // QFileDialog::accept is protected
    });
    dialog.findChild<QToolButton *>(QStringLiteral("config_file_path_tb"))->click();
    QVERIFY(directoryMode);
    QCOMPARE(QDir::cleanPath(edit->text()), QDir::cleanPath(picked));
    QVERIFY(!store().contains(QStringLiteral("CONFIG_FILE_PATH")));
}

void tst_Startup::firstRunCancelEndsWithoutWindow()
{
    QSettings s = store();
    s.setValue(QStringLiteral("ValueL"), 1); // asks for a translation this build does not carry
    s.sync();
    int created = 0;
    MainWindowHooks hooks{[&] {
                              ++created;
                              return new QMainWindow;
                          },
                          [](QMainWindow *, const QString &) {}};
    QString title;
    onModal<SetConfigFilePathDialog>([&](SetConfigFilePathDialog *dialog) {
        title = dialog->windowTitle();
        dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Cancel)->click();
    });
    if (!QFile::exists(QStringLiteral(":/language/language/zh_CN.qm")))
        QTest::ignoreMessage(QtWarningMsg, "load language zh_CN failed!");

    QCOMPARE(run({QStringLiteral("quillon"), QStringLiteral("COM5")}, hooks), 0);
    QCOMPARE(title, QStringLiteral("Quillon"));
    QCOMPARE(created, 0);
    const QWidgetList tops = QApplication::topLevelWidgets();
    for (QWidget *w : tops)
        QVERIFY(!qobject_cast<QMainWindow *>(w));
    QVERIFY(store().value(QStringLiteral("CONFIG_FILE_PATH")).toString().isEmpty());
}

void tst_Startup::firstRunOkOpensWindow()
{
    const QString folder = m_dir.filePath(QStringLiteral("firstrun/Config"));
    int created = 0;
    bool visibleWhileRunning = false;
    MainWindowHooks hooks{[&] {
                              ++created;
                              auto *w = new QMainWindow;
                              QTimer::singleShot(200, w, [w, &visibleWhileRunning] {
                                  visibleWhileRunning = w->isVisible();
                                  w->close();
                              });
                              return w;
                          },
                          [](QMainWindow *, const QString &) {}};
    onModal<SetConfigFilePathDialog>([&](SetConfigFilePathDialog *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("config_file_path_le"))->setText(folder);
        dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
    });
    QCOMPARE(run({QStringLiteral("quillon")}, hooks), 0);
    QCOMPARE(created, 1);
    QVERIFY(visibleWhileRunning);
    QCOMPARE(store().value(QStringLiteral("CONFIG_FILE_PATH")).toString(), folder);
    QVERIFY(QDir(folder).exists());
}

void tst_Startup::commandLineReachesWindow_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("started");
    QTest::addColumn<bool>("screenshot");

    const QString q = QStringLiteral("quillon");
    const QString flag = QStringLiteral("--screenshot");
    const QString com = QStringLiteral("COM7");
    const QString shot = m_dir.filePath(QStringLiteral("inprocess.png"));
    QTest::newRow("no arguments") << QStringList{q} << QStringList() << false;
    QTest::newRow("port name") << QStringList{q, com} << QStringList{com} << false;
    QTest::newRow("flag last") << QStringList{q, com, flag} << QStringList{com} << false;
    QTest::newRow("screenshot") << QStringList{q, com, flag, shot} << QStringList() << true;
}

void tst_Startup::commandLineReachesWindow()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, started);
    QFETCH(bool, screenshot);
    presetConfigFolder();
    if (screenshot)
        QFile::remove(arguments.last());

    QStringList calls;
    QMainWindow *window = nullptr;
    MainWindowHooks hooks{[&] {
                              window = new QMainWindow;
                              // A screenshot run ends by itself; this only keeps a broken one from hanging.
                              QTimer::singleShot(screenshot ? 20000 : 300, window, &QWidget::close);
                              return window;
                          },
                          [&](QMainWindow *w, const QString &port) {
                              QCOMPARE(w, window);
                              QVERIFY(w->isVisible());
                              calls.append(port);
                          }};
    QCOMPARE(run(arguments, hooks), 0);
    QCOMPARE(calls, started);
    QCOMPARE(QFile::exists(m_dir.filePath(QStringLiteral("inprocess.png"))), screenshot);
    if (screenshot)
        QCOMPARE(QImage(arguments.last()).size(), QSize(1280, 800));
}

void tst_Startup::geometryRoundTrip()
{
    presetConfigFolder();
    QSettings s = store();
    s.setValue(QStringLiteral("LAST_WINDOW_SIZE"), QSize(700, 500));
    s.setValue(QStringLiteral("LAST_WINDOW_POSITION"), QPoint(150, 120));
    s.sync();

    QRect seen;
    MainWindowHooks hooks{[&] {
                              auto *w = new QMainWindow;
                              QTimer::singleShot(200, w, [w, &seen] {
                                  seen = QRect(w->pos(), w->size());
                                  w->resize(720, 530);
                                  w->move(160, 130);
                                  w->close();
                              });
                              return w;
                          },
                          [](QMainWindow *, const QString &) {}};
    QCOMPARE(run({QStringLiteral("quillon")}, hooks), 0);
    QCOMPARE(seen, QRect(QPoint(150, 120), QSize(700, 500)));
    QSettings after = store();
    QCOMPARE(after.value(QStringLiteral("LAST_WINDOW_SIZE")).toSize(), QSize(720, 530));
    QCOMPARE(after.value(QStringLiteral("LAST_WINDOW_POSITION")).toPoint(), QPoint(160, 130));

    // Left alone, the window must not creep by its frame from one start to the next.
    MainWindowHooks untouched{[&] {
                                  auto *w = new QMainWindow;
                                  QTimer::singleShot(200, w, [w, &seen] {
                                      seen = QRect(w->pos(), w->size());
                                      w->close();
                                  });
                                  return w;
                              },
                              [](QMainWindow *, const QString &) {}};
    for (int start = 0; start < 2; ++start) {
        QCOMPARE(run({QStringLiteral("quillon")}, untouched), 0);
        QCOMPARE(seen, QRect(QPoint(160, 130), QSize(720, 530)));
    }
    QCOMPARE(store().value(QStringLiteral("LAST_WINDOW_POSITION")).toPoint(), QPoint(160, 130));
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
