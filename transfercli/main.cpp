#include "transfercli/transfercommand.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void onSignal(int)
{
    g_interrupted = 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillon-transfer"));
    QTranslator translator;
    if (QLocale().name() == QLatin1String("zh_CN") && translator.load(QStringLiteral(":/language/language/zh_CN")))
        QCoreApplication::installTranslator(&translator);

    TransferRequest request;
    QString error;
    switch (TransferCommand::parse(app.arguments().mid(1), &request, &error)) {
    case TransferCommand::Parse::Help:
        std::fputs(TransferCommand::helpText().toLocal8Bit().constData(), stdout);
        return TransferCommand::Success;
    case TransferCommand::Parse::Error:
        std::fprintf(stderr, "quillon-transfer: %s\n%s\n", error.toLocal8Bit().constData(),
                     TransferCommand::tr("Try quillon-transfer --help.").toLocal8Bit().constData());
        return TransferCommand::BadCommandLine;
    case TransferCommand::Parse::Run:
        break;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    TransferCommand command(request);
    return command.run([] { return g_interrupted != 0; });
}
