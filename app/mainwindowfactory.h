#pragma once

class QMainWindow;
class QString;
class QWidget;

// The window start-up creates and the port name it may hand over.
QMainWindow *createMainWindow(QWidget *parent = nullptr);
void startWithPortName(QMainWindow *window, const QString &portName);
void openDocumentAtStart(QMainWindow *window, const QString &path);
