#include "app/mainwindowfactory.h"

#include "app/mainwindow.h"

QMainWindow *createMainWindow(QWidget *parent)
{
    return new MainWindow(parent);
}

void startWithPortName(QMainWindow *window, const QString &portName)
{
    if (auto *main = qobject_cast<MainWindow *>(window))
        main->startPorts(portName, false);
}

void openDocumentAtStart(QMainWindow *window, const QString &path)
{
    if (auto *main = qobject_cast<MainWindow *>(window))
        main->openDocument(path);
}
