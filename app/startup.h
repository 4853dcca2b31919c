#pragma once

#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>

class QApplication;
class QMainWindow;
class QScreen;
class QSettings;
class QTranslator;
class QWidget;

// What the command line asks for after the program name.
struct CommandLine
{
    bool screenshot = false;
    QString screenshotPath;
    QString portName;     // empty: no port to open at start
    QString documentPath; // a settings document (".qln") to open at start
};

// How start-up reaches the main window, so tests can stand in for it.
struct MainWindowHooks
{
    std::function<QMainWindow *()> create;
    std::function<void(QMainWindow *, const QString &)> startWithPortName;
    std::function<void(QMainWindow *, const QString &)> openDocument;
};

MainWindowHooks defaultMainWindowHooks();

// arguments[0] is the program name.
CommandLine parseCommandLine(const QStringList &arguments);

// Answers --help and --version, and refuses an unknown option (a port name never starts
// with "-"), before any window system is needed. Returns the exit code, or -1 to go on.
int answerWithoutWindow(const QStringList &arguments, FILE *out, FILE *err);

// languageValue is the stored "ValueL": 0 follow the system, 1 Chinese, 2 English.
bool wantsChineseTranslation(int languageValue, const QString &systemLocaleName);

// Loads the Chinese translation when the rule asks for it; warns when it cannot.
// Returns true only when a translation was loaded.
bool loadLanguage(QTranslator &translator, int languageValue, const QString &systemLocaleName);

// A saved frame position is used only strictly inside the available area's size.
bool isSavedPositionUsable(const QPoint &position, const QSize &availableSize);

void applyApplicationNames();
void ensureConsolasFallback();
void logCommandLine(int argc, char **argv);

// Resizes to the saved size and moves to the saved position when usable.
// primaryScreen may be null: the position is then left to the window system.
void applySavedGeometry(QWidget *window, const QSettings &settings, const QScreen *primaryScreen);
void saveWindowGeometry(const QWidget *window, QSettings &settings);

bool saveScreenshot(QWidget *window, const QString &path);
// Sizes and places the window, then after delayMs grabs it and ends the event
// loop with 0 (saved) or 1 (failed).
void startScreenshot(QWidget *window, const QString &path, int delayMs = 1500);

// Everything after the application object exists; returns the process exit code.
int runQuillon(QApplication &app, int argc, char **argv, const MainWindowHooks &hooks = defaultMainWindowHooks());
