#include "app/mainwindowfactory.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QStatusBar>
#include <QString>

// Stand-in until the port grid window exists: an empty main window whose status
// bar says what start-up asked of it.
QMainWindow *createMainWindow(QWidget *parent)
{
    auto *window = new QMainWindow(parent);
    window->setObjectName(QStringLiteral("MainWindow"));
    window->setWindowTitle(QStringLiteral("Quillon"));
    window->setCentralWidget(new QWidget(window));
    window->statusBar()->showMessage(QCoreApplication::translate("MainWindow", "Ready"));
    return window;
}

void startWithPortName(QMainWindow *window, const QString &portName)
{
    window->statusBar()->showMessage(QCoreApplication::translate("MainWindow", "Start with port %1").arg(portName));
}
