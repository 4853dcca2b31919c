#include "gateway/gateway.h"
#include "gateway/gatewayoptions.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillon-gateway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLON_VERSION));
    QTranslator translator;
    if (QLocale().name() == QLatin1String("zh_CN") && translator.load(QStringLiteral(":/language/language/zh_CN")))
        QCoreApplication::installTranslator(&translator);

    QList<GatewayBridge> bridges;
    QString error;
    switch (GatewayOptions::parse(app.arguments().mid(1), &bridges, &error)) {
    case GatewayOptions::Parse::Help:
        std::fputs(GatewayOptions::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case GatewayOptions::Parse::Version:
        std::printf("quillon-gateway %s\n", QUILLON_VERSION);
        return 0;
    case GatewayOptions::Parse::Error:
        std::fprintf(stderr, "quillon-gateway: %s\n%s\n", error.toLocal8Bit().constData(),
                     GatewayOptions::tr("Try quillon-gateway --help.").toLocal8Bit().constData());
        return 1;
    case GatewayOptions::Parse::Run:
        break;
    }

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Gateway gateway(bridges);
    QSocketNotifier interrupts(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupts, &QSocketNotifier::activated, &gateway, [&gateway] {
        char drain[16];
        while (::read(g_signalPipe[0], drain, sizeof drain) > 0) {
        }
        gateway.shutdown();
    });
    QObject::connect(&gateway, &Gateway::finished, &app, [] { QCoreApplication::exit(0); });
    if (!gateway.start(&error)) {
        std::fprintf(stderr, "quillon-gateway: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    return app.exec();
}
