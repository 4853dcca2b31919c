#include "app/startup.h"
#include "app/applog.h"

#include "app/mainwindowfactory.h"
#include "app/setconfigfilepathdialog.h"
#include "settings/displayfont.h"

#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QLocale>
#include <QMainWindow>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QTranslator>

#include <memory>

Q_LOGGING_CATEGORY(lcApp, "quillon.app", QtWarningMsg)

namespace {

const QString kOrganisation = QStringLiteral("VORTANE");
const QString kApplication = QStringLiteral("Quillon");
const QString kKeyLanguage = QStringLiteral("ValueL");
const QString kKeyConfigPath = QStringLiteral("CONFIG_FILE_PATH");
const QString kKeyWindowSize = QStringLiteral("LAST_WINDOW_SIZE");
const QString kKeyWindowPosition = QStringLiteral("LAST_WINDOW_POSITION");

} // namespace

MainWindowHooks defaultMainWindowHooks()
{
    return {[] { return createMainWindow(nullptr); }, &startWithPortName, &openDocumentAtStart};
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    // The program name is never an option, so the search starts after it.
    const qsizetype flag = arguments.indexOf(QStringLiteral("--screenshot"), 1);
    if (flag > 0 && flag + 1 < arguments.size()) {
        line.screenshot = true;
        line.screenshotPath = arguments.at(flag + 1);
        return line;
    }
    // A settings document, as a file manager hands it over, is opened; anything else
    // names a port.
    if (arguments.size() < 2 || arguments.at(1).startsWith(u'-'))
        return line; // options are answered before start-up; no port starts with "-"
    if (arguments.at(1).endsWith(QLatin1String(".qln"), Qt::CaseInsensitive))
        line.documentPath = arguments.at(1);
    else
        line.portName = arguments.at(1);
    return line;
}

int answerWithoutWindow(const QStringList &arguments, FILE *out, FILE *err)
{
    static const char usage[] =
        "Usage: quillon [PORT | FILE.qln]\n"
        "       quillon --screenshot FILE\n"
        "A terminal for serial ports and IP networks.\n\n"
        "  PORT               open this serial port at start (ttyUSB0, /dev/ttyACM0, ...)\n"
        "  FILE.qln           open this settings document at start\n"
        "  --screenshot FILE  save a picture of the main window as FILE and exit\n"
        "  --help             show this help and exit\n"
        "  --version          show the version and exit\n\n"
        "QLN_HOST names the cloud service (default http://127.0.0.1:8787).\n";
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(usage, out);
            return 0;
        }
        if (a == QLatin1String("--version")) {
            std::fprintf(out, "quillon %s\n", QUILLON_VERSION);
            return 0;
        }
        if (a == QLatin1String("--screenshot")) {
            ++i; // its file may start with anything
            continue;
        }
        if (a.startsWith(u'-')) {
            std::fprintf(err, "quillon: unknown option %s\n\n%s", qPrintable(a), usage);
            return 1;
        }
    }
    return -1;
}

bool wantsChineseTranslation(int languageValue, const QString &systemLocaleName)
{
    return languageValue == 1 || (languageValue == 0 && systemLocaleName == QLatin1String("zh_CN"));
}

bool loadLanguage(QTranslator &translator, int languageValue, const QString &systemLocaleName)
{
    if (!wantsChineseTranslation(languageValue, systemLocaleName))
        return false;
    if (translator.load(QStringLiteral(":/language/language/zh_CN")))
        return true;
    qCWarning(lcApp, "load language zh_CN failed!");
    return false;
}

bool isSavedPositionUsable(const QPoint &position, const QSize &availableSize)
{
    return position.x() > 0 && position.x() < availableSize.width() && position.y() > 0
        && position.y() < availableSize.height();
}

void applyApplicationNames()
{
    QCoreApplication::setOrganizationName(kOrganisation);
    QCoreApplication::setOrganizationDomain(QStringLiteral("vortane.example"));
    QCoreApplication::setApplicationName(kApplication);
    // Lets the desktop match the windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.quillon.Quillon"));
}

void ensureConsolasFallback()
{
    // The windows and dialogs ask for Consolas; elsewhere it maps to a fixed-width font.
    const QString consolas = QStringLiteral("Consolas");
    if (!isFontFamilyAvailable(consolas))
        QFont::insertSubstitution(consolas, preferredMonospaceFamily());
}

void logCommandLine(int argc, char **argv)
{
    qCDebug(lcApp) << "argc:" << argc;
    for (int i = 0; i < argc; ++i)
        qCDebug(lcApp).noquote() << QStringLiteral("argv[%1]:").arg(i) << QString::fromUtf8(argv[i]);
}

void applySavedGeometry(QWidget *window, const QSettings &settings, const QScreen *primaryScreen)
{
    const QSize defaultSize(1000, 800);
    QSize size = settings.value(kKeyWindowSize, defaultSize).toSize();
    // A damaged value would otherwise shrink the window to nothing.
    if (size.width() < 1 || size.height() < 1)
        size = defaultSize;
    const QPoint position = settings.value(kKeyWindowPosition, QPoint(200, 200)).toPoint();
    qCDebug(lcApp) << "### last window position:" << position;
    window->resize(size);

    const QSize available = primaryScreen ? primaryScreen->availableGeometry().size() : QSize();
    if (!isSavedPositionUsable(position, available))
        return;
    qCDebug(lcApp) << "### set geometry:" << position.x() << position.y() << size.width() << size.height();
    // The saved point is the frame's corner. Placing the client area there instead
    // (setGeometry) would shift the window by its frame at every start.
    window->move(position);
}

void saveWindowGeometry(const QWidget *window, QSettings &settings)
{
    settings.setValue(kKeyWindowSize, window->size());
    settings.setValue(kKeyWindowPosition, window->pos());
}

bool saveScreenshot(QWidget *window, const QString &path)
{
    if (QWidget *focused = QApplication::focusWidget())
        focused->clearFocus();
    const QImage image = window->grab().toImage();
    // A path without a suffix gives no format to go by.
    const char *format = QFileInfo(path).suffix().isEmpty() ? "PNG" : nullptr;
    const bool saved = !path.isEmpty() && image.save(path, format);
    if (saved)
        qCInfo(lcApp) << "screenshot" << path << "saved";
    else
        qCWarning(lcApp) << "screenshot" << path << "FAILED";
    return saved;
}

void startScreenshot(QWidget *window, const QString &path, int delayMs)
{
    window->resize(1280, 800);
    window->move(80, 80);
    window->raise();
    window->activateWindow();
    // Bound to the window so the timer cannot outlive it; the delay lets it lay out and paint.
    QTimer::singleShot(delayMs, window, [window, path] {
        QCoreApplication::exit(saveScreenshot(window, path) ? 0 : 1);
    });
}

int runQuillon(QApplication &app, int argc, char **argv, const MainWindowHooks &hooks)
{
    applyApplicationNames();
    ensureConsolasFallback();
    logCommandLine(argc, argv);

    QSettings settings(kOrganisation, kApplication);

    QTranslator translator;
    loadLanguage(translator, settings.value(kKeyLanguage, 0).toInt(), QLocale::system().name());
    app.installTranslator(&translator);

    if (settings.value(kKeyConfigPath).toString().isEmpty()) {
        SetConfigFilePathDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Quillon"));
        if (dialog.exec() != QDialog::Accepted)
            return 0;
    }

    const QScreen *primaryScreen = QGuiApplication::primaryScreen();
    const std::unique_ptr<QMainWindow> window(hooks.create());
    applySavedGeometry(window.get(), settings, primaryScreen);
    window->show();

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    const CommandLine line = parseCommandLine(arguments);
    if (line.screenshot)
        startScreenshot(window.get(), line.screenshotPath);
    else if (!line.documentPath.isEmpty() && hooks.openDocument)
        hooks.openDocument(window.get(), line.documentPath);
    else if (!line.portName.isEmpty())
        hooks.startWithPortName(window.get(), line.portName);

    const int exitCode = app.exec();
    // Stored here, right before the window goes, where it was also applied; a
    // screenshot run's fixed 1280 x 800 must not replace the user's geometry.
    if (!line.screenshot)
        saveWindowGeometry(window.get(), settings);
    return exitCode;
}
