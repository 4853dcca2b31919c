#include "app/startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (const int code = answerWithoutWindow(arguments, stdout, stderr); code >= 0)
        return code;
    QApplication app(argc, argv);
    return runQuillon(app, argc, argv);
}
