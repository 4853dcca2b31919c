// The program's console side for the browser test: a serial port session on DEVICE,
// signed in to the service that QLN_HOST names, with the cloud console on and port
// control allowed. It reports on stdout and takes one order a line on stdin:
// allow-send 0|1, lose-next-result, offline, online (the service unreachable or back), quit.
#include "cloud/accountsession.h"
#include "cloud/cloudconsoleservice.h"
#include "cloud/networkservices.h"
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

int main(int argc, char **argv) // EMAIL PASSWORD DEVICE
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTemporaryDir dir;
    NetworkServices network;
    // Connected before the console: a lost result is posted to a dead address.
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
    settings.PortName = args.value(3);
    settings.BaudRate = 115200;
    PortSession session(settings);
    if (args.size() != 4 || !session.open())
        return 1;
    console.setSessionsProvider([&session] { return QList<PortSession *>{&session}; });
    console.setAllowRemoteSend(true);
    console.setAllowPortControl(true);
    QObject::connect(&console, &CloudConsoleService::watchingChanged, &app,
                     [](bool watching) { say(QStringLiteral("watching %1").arg(watching ? 1 : 0)); });
    QObject::connect(&account, &AccountSession::changed, &app, [&] {
        if (account.hasValidAccessToken() && !console.isEnabled()) {
            console.setEnabled(true);
            say(QStringLiteral("ready ") + account.deviceId());
        }
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[256];
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line);
        for (const QByteArray &order : QByteArray(line, qMax<ssize_t>(n, 0)).trimmed().split('\n')) {
            if (order.startsWith("allow-send "))
                console.setAllowRemoteSend(order.endsWith('1'));
            if (order == "offline" || order == "online")
                qputenv("QLN_HOST", order == "online" ? host : QByteArray("http://127.0.0.1:9"));
            loseNext = loseNext || order == "lose-next-result";
            say(QStringLiteral("ok ") + QString::fromUtf8(order));
        }
        if (n <= 0 || line[0] == 'q')
            app.quit();
    });
    account.beginSignIn(false);
    network.login(args.at(1), args.at(2), account.deviceId(), QStringLiteral("bench-pc"), QStringLiteral("0.1.0"));
    return app.exec();
}
