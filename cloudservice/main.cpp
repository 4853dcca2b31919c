#include "cloudservice/cloudservice.h"
#include "cloudservice/servicelog.h"
#include "cloudservice/serviceoptions.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {
#ifdef Q_OS_UNIX
int s_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(s_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so the database is closed cleanly.
void quitOnSignals(QCoreApplication *app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, s_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] { QCoreApplication::quit(); });
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
}
#endif

// One line from stdin; on a terminal it is asked for and not echoed.
QString readPassword()
{
    std::string line;
#ifdef Q_OS_UNIX
    if (::isatty(STDIN_FILENO)) {
        std::fputs("Password: ", stderr);
        termios saved{};
        ::tcgetattr(STDIN_FILENO, &saved);
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &silent);
        std::getline(std::cin, line);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputs("\n", stderr);
        return QString::fromStdString(line);
    }
#endif
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillon-cloud"));

    ServiceOptions options;
    QString message;
    int exitCode = 0;
    if (!parseServiceOptions(QCoreApplication::arguments(), &options, &message, &exitCode)) {
        std::fputs(qPrintable(message + QLatin1Char('\n')), exitCode == 0 ? stdout : stderr);
        return exitCode;
    }
    if (!options.addUserEmail.isEmpty()) {
        const int code = CloudService::addUser(options, readPassword(), &message);
        serviceLog(message);
        return code;
    }

    CloudService service(options);
    QString error;
    if (!service.start(&error)) {
        serviceLog(error);
        return 1;
    }
#ifdef Q_OS_UNIX
    quitOnSignals(&app);
#endif
    return app.exec();
}
