#include "cloudservice/serviceoptions.h"

#include <QCommandLineParser>
#include <QStandardPaths>

QString ServiceOptions::defaultDatabase() const
{
    return QStringLiteral("sqlite:%1/cloud.sqlite")
            .arg(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

namespace {
bool parseListen(const QString &text, QHostAddress *address, quint16 *port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535)
        return false;
    QHostAddress parsed;
    if (host == QLatin1String("localhost"))
        parsed = QHostAddress(QHostAddress::LocalHost);
    else if (host == QLatin1String("*"))
        parsed = QHostAddress(QHostAddress::Any);
    else if (!parsed.setAddress(host))
        return false;
    *address = parsed;
    *port = quint16(number);
    return true;
}

bool positiveNumber(const QString &text, qint64 minimum, qint64 *value)
{
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    if (!ok || number < minimum)
        return false;
    *value = number;
    return true;
}
}

bool parseServiceOptions(const QStringList &arguments, ServiceOptions *options, QString *message,
                         int *exitCode)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Cloud service for Quillon: accounts, the browser console and settings sync.\n"
            "Open the console at the listen address in a browser.\n\n"
            "  quillon-cloud [options]                serve\n"
            "  quillon-cloud add-user EMAIL [options] create an account; the password is read from stdin"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version."));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address and port to serve on (default 127.0.0.1:8787; "
                                                   "port 0 picks a free one)."),
                                    QStringLiteral("ADDR:PORT"));
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("sqlite:FILE or postgresql://USER@HOST:PORT/DB "
                                                     "(default: %1).")
                                              .arg(options->defaultDatabase()),
                                      QStringLiteral("URL"));
    const QCommandLineOption tlsCert(QStringLiteral("tls-cert"),
                                     QStringLiteral("PEM certificate (chain) to serve HTTPS with."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption tlsKey(QStringLiteral("tls-key"), QStringLiteral("PEM private key for --tls-cert."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption ttl(QStringLiteral("access-token-ttl"),
                                 QStringLiteral("Lifetime of access tokens in seconds (default 900)."),
                                 QStringLiteral("SECONDS"));
    const QCommandLineOption maxBody(QStringLiteral("max-body"),
                                     QStringLiteral("Largest request body in bytes (default 1048576)."),
                                     QStringLiteral("BYTES"));
    const QCommandLineOption quota(QStringLiteral("monthly-upload-limit"),
                                   QStringLiteral("Console traffic each account may upload per month, in "
                                                  "bytes (default 0: unlimited)."),
                                   QStringLiteral("BYTES"));
    const QCommandLineOption username(QStringLiteral("username"),
                                      QStringLiteral("add-user: the account's user name (default: the part "
                                                     "of EMAIL before the @)."),
                                      QStringLiteral("NAME"));
    parser.addOptions({help, version, listen, database, tlsCert, tlsKey, ttl, maxBody, quota, username});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("add-user EMAIL"),
                                 QStringLiteral("[add-user EMAIL]"));
    *exitCode = 2;
    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return false;
    }
    if (parser.isSet(help)) {
        *message = parser.helpText();
        *exitCode = 0;
        return false;
    }
    if (parser.isSet(version)) {
        *message = QStringLiteral("quillon-cloud %1").arg(QStringLiteral(QUILLON_CLOUD_VERSION));
        *exitCode = 0;
        return false;
    }
    const QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty()) {
        if (positional.size() != 2 || positional.at(0) != QLatin1String("add-user")) {
            *message = QStringLiteral("unknown command: %1 (try --help)").arg(positional.join(QLatin1Char(' ')));
            return false;
        }
        options->addUserEmail = positional.at(1);
        options->addUserName = parser.value(username);
    }
    if (parser.isSet(listen) && !parseListen(parser.value(listen), &options->address, &options->port)) {
        *message = QStringLiteral("--listen wants ADDR:PORT, for example 127.0.0.1:8787");
        return false;
    }
    options->database = parser.value(database);
    options->tlsCertificate = parser.value(tlsCert);
    options->tlsKey = parser.value(tlsKey);
    if (options->tlsCertificate.isEmpty() != options->tlsKey.isEmpty()) {
        *message = QStringLiteral("--tls-cert and --tls-key go together");
        return false;
    }
    qint64 number = 0;
    if (parser.isSet(ttl)) {
        if (!positiveNumber(parser.value(ttl), 1, &number) || number > 86400) {
            *message = QStringLiteral("--access-token-ttl wants 1 to 86400 seconds");
            return false;
        }
        options->accessTokenTtlSeconds = int(number);
    }
    if (parser.isSet(maxBody)) {
        if (!positiveNumber(parser.value(maxBody), 1024, &number) || number > 256LL * 1024 * 1024) {
            *message = QStringLiteral("--max-body wants 1024 to 268435456 bytes");
            return false;
        }
        options->maxBodyBytes = number;
    }
    if (parser.isSet(quota)) {
        if (!positiveNumber(parser.value(quota), 0, &number)) {
            *message = QStringLiteral("--monthly-upload-limit wants a number of bytes");
            return false;
        }
        options->monthlyUploadLimit = number;
    }
    return true;
}
