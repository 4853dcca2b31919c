// The program's console side for the browser test: one serial port session on a
// given device, signed in to the service named by QLN_HOST, with the cloud console
// on. It reports on stdout and takes orders on stdin, one a line:
//   allow-send 0|1, allow-control 0|1, lose-next-result, quit
#include "cloud/accountsession.h"
#include "cloud/cloudconsoleservice.h"
#include "cloud/networkservices.h"
#include "connection/connectionmode.h"
#include "session/portsession.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

static void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        say(QStringLiteral("usage: consolepeer EMAIL PASSWORD DEVICE"));
        return 2;
    }
    QTemporaryDir dir;
    NetworkServices network;

    // Losing a result on its way: the command runs, its result goes to a dead address.
    bool loseNext = false;
    const QByteArray host = qgetenv("QLN_HOST");
    QObject::connect(&network, &NetworkServices::consoleResponse, &app, [&](const QJsonObject &answer) {
        if (!loseNext || answer.value(QStringLiteral("commands")).toArray().isEmpty())
            return;
        loseNext = false;
        qputenv("QLN_HOST", "http://127.0.0.1:9");
        QTimer::singleShot(0, &app, [host] { qputenv("QLN_HOST", host); });
        say(QStringLiteral("result-lost"));
    });

    AccountSession account(&network, SettingsLocation(dir.filePath(QStringLiteral("peer.ini"))));
    CloudConsoleService console(&network, &account);
    FormatSetting settings;
    settings.ConnMode = SerialPort;
    settings.PortName = args.at(3);
    settings.BaudRate = 115200;
    PortSession session(settings);
    if (!session.open()) {
        say(QStringLiteral("port-failed"));
        return 1;
    }
    console.setSessionsProvider([&session] { return QList<PortSession *>{&session}; });
    console.setAllowRemoteSend(true);
    console.setAllowPortControl(true);
    QObject::connect(&console, &CloudConsoleService::watchingChanged, &app,
                     [](bool watching) { say(QStringLiteral("watching %1").arg(watching ? 1 : 0)); });
    QObject::connect(&account, &AccountSession::changed, &app, [&] {
        if (account.hasValidAccessToken() && !console.isEnabled()) {
            console.setEnabled(true);
            say(QStringLiteral("ready %1").arg(account.deviceId()));
        }
    });
    QObject::connect(&network, &NetworkServices::networkError, &app,
                     [](const QString &domain, const QString &message) { say(QStringLiteral("error %1 %2").arg(domain, message)); });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[256];
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (n <= 0) {
            app.quit();
            return;
        }
        for (const QByteArray &order : QByteArray(line, n).split('\n')) {
            const QList<QByteArray> words = order.trimmed().split(' ');
            if (words.value(0) == "allow-send")
                console.setAllowRemoteSend(words.value(1) == "1");
            else if (words.value(0) == "allow-control")
                console.setAllowPortControl(words.value(1) == "1");
            else if (words.value(0) == "lose-next-result")
                loseNext = true;
            else if (words.value(0) == "quit")
                app.quit();
            else
                continue;
            say(QStringLiteral("ok ") + QString::fromUtf8(order.trimmed()));
        }
    });

    network.login(args.at(1), args.at(2), account.deviceId(), QStringLiteral("bench-pc"), QStringLiteral("0.1.0"));
    return app.exec();
}
