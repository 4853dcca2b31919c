#include "app/mainwindowfactory.h"

#include "connection/connectionmode.h"
#include "terminal/serialportwidget.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QStatusBar>
#include <QString>

// Until the port grid window exists: a main window holding one port pane.
QMainWindow *createMainWindow(QWidget *parent)
{
    auto *window = new QMainWindow(parent);
    window->setObjectName(QStringLiteral("MainWindow"));
    window->setWindowTitle(QStringLiteral("Quillon"));
    auto *pane = new SerialPortWidget(FormatSetting::builtInDefaults(), 0, window);
    pane->setObjectName(QStringLiteral("portPane0"));
    window->setCentralWidget(pane);
    window->statusBar()->showMessage(QCoreApplication::translate("MainWindow", "Ready"));
    return window;
}

void startWithPortName(QMainWindow *window, const QString &portName)
{
    auto *pane = window->findChild<SerialPortWidget *>();
    if (!pane)
        return;
    FormatSetting settings = pane->settings();
    settings.ConnMode = SerialPort;
    settings.PortName = portName;
    pane->applySettings(settings);
    pane->openPort(portName);
}
