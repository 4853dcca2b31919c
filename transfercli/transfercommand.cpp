#include "transfercli/transfercommand.h"

#include "connection/connectioncontroller.h"
#include "connection/connectionmode.h"
#include "session/portsession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

struct Named
{
    const char *name;
    int value;
};

constexpr Named kProtocols[] = {{"xmodem", Xmodem}, {"xmodem-crc", XmodemCrc}, {"xmodem-1k", Xmodem1k},
                                {"ymodem", Ymodem}, {"ymodem-g", YmodemG}};
constexpr Named kFlows[] = {{"none", QSerialPort::NoFlowControl},
                            {"rtscts", QSerialPort::HardwareControl},
                            {"xonxoff", QSerialPort::SoftwareControl}};

template<size_t N>
bool lookUp(const Named (&table)[N], const QString &text, int *value)
{
    for (const Named &entry : table) {
        if (text.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0) {
            *value = entry.value;
            return true;
        }
    }
    return false;
}

// "HOST:PORT", with the host in brackets when it is an IPv6 address.
bool splitHostPort(const QString &text, QString *host, quint16 *port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    *host = text.left(colon);
    if (host->startsWith(QLatin1Char('[')) && host->endsWith(QLatin1Char(']')))
        *host = host->mid(1, host->size() - 2);
    *port = quint16(number);
    return ok && number >= 1 && number <= 65535 && !host->isEmpty();
}

bool isTerminal(FILE *stream)
{
#ifdef Q_OS_UNIX
    return ::isatty(fileno(stream));
#else
    Q_UNUSED(stream);
    return false;
#endif
}

} // namespace

QString TransferCommand::helpText()
{
    return tr("Usage:\n"
              "  quillon-transfer send [options] FILE\n"
              "  quillon-transfer receive [options] [FOLDER]\n"
              "\n"
              "Sends or receives one file with XMODEM or YMODEM over a serial port, a TCP\n"
              "connection or an RFC 2217 remote serial port.\n"
              "\n"
              "Options:\n"
              "  --port PORT        a device path (/dev/ttyUSB0, COM3), tcp:HOST:PORT or\n"
              "                     rfc2217:HOST:PORT; required\n"
              "  --baud N           baud rate of a serial or RFC 2217 port (default 115200)\n"
              "  --flow MODE        none, rtscts or xonxoff (default none); YMODEM-G on a\n"
              "                     serial port needs rtscts\n"
              "  --protocol NAME    xmodem, xmodem-crc, xmodem-1k, ymodem or ymodem-g\n"
              "                     (default ymodem)\n"
              "  --name NAME        the file name for an XMODEM receive (default received.bin)\n"
              "  --max-size MIB     stop receiving above this many MiB, 0 = no limit\n"
              "                     (default 100)\n"
              "  --quiet            print nothing but errors\n"
              "  --help             show this text\n"
              "\n"
              "FOLDER is the current folder when left out. On a terminal a progress line\n"
              "shows the bytes, the rate, the time left and the retries; otherwise only\n"
              "the summary is printed.\n"
              "\n"
              "Exit status:\n"
              "  0  the file was transferred\n"
              "  1  bad command line\n"
              "  2  the port cannot be opened, or the connection was lost\n"
              "  3  the device cancelled the transfer (or Ctrl+C here)\n"
              "  4  timeout or too many retries\n"
              "  5  file error: the file cannot be read, the folder cannot be written,\n"
              "     or the file is over the size limit\n");
}

TransferCommand::Parse TransferCommand::parse(const QStringList &arguments, TransferRequest *request, QString *error)
{
    TransferRequest r;
    r.options.receiveCap = qint64(100) << 20;
    QStringList positional;
    QString portText;
    auto fail = [error](const QString &text) {
        *error = text;
        return Parse::Error;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString arg = arguments.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return Parse::Help;
        if (arg == QLatin1String("--quiet") || arg == QLatin1String("-q")) {
            r.quiet = true;
            continue;
        }
        if (arg == QLatin1String("--")) {
            positional += arguments.mid(i + 1);
            break;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            positional << arg;
            continue;
        }
        QString value;
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        if (equals > 0) {
            value = arg.mid(equals + 1);
            arg.truncate(equals);
        } else if (i + 1 < arguments.size()) {
            value = arguments.at(++i);
        } else {
            return fail(tr("%1 needs a value.").arg(arg));
        }
        bool ok = true;
        int number = 0;
        if (arg == QLatin1String("--port")) {
            portText = value;
        } else if (arg == QLatin1String("--baud")) {
            r.baudRate = value.toInt(&ok);
            if (!ok || r.baudRate < PortSession::MinBaudRate || r.baudRate > PortSession::MaxBaudRate)
                return fail(tr("Unknown baud rate \"%1\".").arg(value));
        } else if (arg == QLatin1String("--flow")) {
            if (!lookUp(kFlows, value, &number))
                return fail(tr("Unknown flow control \"%1\"; use none, rtscts or xonxoff.").arg(value));
            r.flowControl = number;
        } else if (arg == QLatin1String("--protocol")) {
            if (!lookUp(kProtocols, value, &number))
                return fail(tr("Unknown protocol \"%1\"; use xmodem, xmodem-crc, xmodem-1k, ymodem or ymodem-g.").arg(value));
            r.options.protocol = XferProtocol(number);
        } else if (arg == QLatin1String("--name")) {
            if (value.trimmed().isEmpty())
                return fail(tr("--name needs a file name."));
            r.name = value;
        } else if (arg == QLatin1String("--max-size")) {
            const qint64 mib = value.toLongLong(&ok);
            if (!ok || mib < 0 || mib > 65536)
                return fail(tr("--max-size takes a number of MiB from 0 to 65536."));
            r.options.receiveCap = mib << 20;
        } else {
            return fail(tr("Unknown option %1.").arg(arg));
        }
    }

    const QString command = positional.value(0);
    if (command == QLatin1String("send")) {
        r.options.direction = XferOptions::Send;
        if (positional.size() != 2)
            return fail(tr("send takes exactly one FILE."));
        r.path = positional.at(1);
    } else if (command == QLatin1String("receive")) {
        r.options.direction = XferOptions::Receive;
        if (positional.size() > 2)
            return fail(tr("receive takes at most one FOLDER."));
        r.path = positional.size() == 2 ? positional.at(1) : QDir::currentPath();
    } else if (command.isEmpty()) {
        return fail(tr("Say send or receive."));
    } else {
        return fail(tr("Unknown command \"%1\"; use send or receive.").arg(command));
    }

    if (portText.isEmpty())
        return fail(tr("--port is required."));
    if (portText.startsWith(QLatin1String("tcp:"))) {
        r.mode = TcpClient;
        if (!splitHostPort(portText.mid(4), &r.host, &r.port))
            return fail(tr("\"%1\" is not tcp:HOST:PORT.").arg(portText));
    } else if (portText.startsWith(QLatin1String("rfc2217:"))) {
        r.mode = RemoteSerial;
        if (!splitHostPort(portText.mid(8), &r.host, &r.port))
            return fail(tr("\"%1\" is not rfc2217:HOST:PORT.").arg(portText));
    } else {
        r.mode = SerialPort;
        r.device = portText;
    }
    if (r.options.protocol == YmodemG && r.mode == SerialPort && r.flowControl != QSerialPort::HardwareControl) {
        return fail(tr("YMODEM-G does not retransmit, so it needs hardware flow control (RTS/CTS). Add --flow rtscts "
                       "if the port has it."));
    }
    *request = r;
    return Parse::Run;
}

int TransferCommand::exitCodeFor(const PortTransfer::Outcome &outcome)
{
    if (outcome.success)
        return Success;
    switch (outcome.errorCode) {
    case XferAction::RemoteCancelled:
    case XferAction::LocalCancelled:
        return Cancelled;
    case XferAction::ConnectionEnded:
        return PortFailed;
    case XferAction::SourceReadFailed:
    case XferAction::SourceChanged:
    case XferAction::SinkCreateFailed:
    case XferAction::SinkWriteFailed:
    case XferAction::SinkFinishFailed:
    case XferAction::ReceiveCapExceeded:
        return FileError;
    default:
        return TimedOut;
    }
}

TransferCommand::TransferCommand(const TransferRequest &request, QObject *parent)
    : QObject(parent)
    , m_request(request)
{
    FormatSetting s;
    s.ConnMode = request.mode;
    s.PortName = request.device;
    s.BaudRate = request.baudRate;
    s.FlowControl = request.flowControl;
    s.LastTargetHost = {request.host};
    s.LastTargetPort = request.port;
    s.UseRemoteSerialConfig = false;  // our baud rate and flow control go to the remote port
    s.LogSaveFlag = false;
    m_session = new PortSession(s, 0, this);
    m_transfer = new PortTransfer(m_session);
    m_terminal = !request.quiet && isTerminal(stdout);
}

TransferCommand::~TransferCommand() = default;

bool TransferCommand::openPort(QString *error)
{
    QString lastError;
    connect(m_session->controller(), &ConnectionController::errorOccurred, this,
            [&lastError](const QString &text) { lastError = text; });
    if (!m_session->open()) {
        *error = lastError.isEmpty() ? tr("Could not open %1.").arg(m_request.device) : lastError;
        return false;
    }
    if (m_request.mode == SerialPort) {
        // Whatever waited in the device's queue belongs to an earlier exchange.
        m_session->controller()->serialPort()->clear(QSerialPort::Input);
    } else {
        // The connection completes later; a refusal or an unknown host reports an error.
        QEventLoop loop;
        QTimer::singleShot(ConnectTimeoutMs, &loop, &QEventLoop::quit);
        connect(m_session, &PortSession::peerArrived, &loop, &QEventLoop::quit);
        connect(m_session->controller(), &ConnectionController::errorOccurred, &loop, &QEventLoop::quit);
        if (!m_session->isOpen())
            loop.exec();
    }
    if (!m_session->isOpen()) {
        *error = lastError.isEmpty() ? tr("Could not connect to %1:%2.").arg(m_request.host).arg(m_request.port)
                                     : lastError;
        return false;
    }
    return true;
}

void TransferCommand::printLine(const QString &text, bool toError)
{
    FILE *stream = toError ? stderr : stdout;
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void TransferCommand::printProgress(bool final)
{
    const FileTransferSession *t = m_transfer->transfer();
    if (!m_terminal || (!t && !final))
        return;
    if (t) {
        // Padded so that a shorter line covers the previous one.
        const QString line = t->progressText(m_transfer->now()).leftJustified(78);
        std::fprintf(stdout, "\r%s", line.toLocal8Bit().constData());
        m_progressShown = true;
    }
    if (final && m_progressShown) {
        std::fputc('\n', stdout);
        m_progressShown = false;
    }
    std::fflush(stdout);
}

int TransferCommand::run(const std::function<bool()> &interrupted)
{
    QString error;
    if (!openPort(&error)) {
        printLine(QStringLiteral("quillon-transfer: ") + error, true);
        return PortFailed;
    }
    QString refusal;
    QEventLoop loop;
    connect(m_transfer, &PortTransfer::transferEnded, &loop, &QEventLoop::quit);
    if (!m_transfer->startTransfer(m_request.options, m_request.path, m_request.name, &refusal)) {
        printLine(QStringLiteral("quillon-transfer: ") + refusal, true);
        // The only refusal an open port can give here is a file that cannot be opened.
        return m_request.options.receiving() ? PortFailed : FileError;
    }
    QTimer progress;
    progress.setInterval(250);
    connect(&progress, &QTimer::timeout, this, [this, interrupted] {
        if (interrupted && interrupted() && m_transfer->isActive())
            m_transfer->cancelTransfer();
        printProgress(false);
    });
    progress.start();
    if (m_transfer->isActive())
        loop.exec();
    progress.stop();
    printProgress(true);

    // The last ACK (or the abort) must leave before the port closes.
    const QDeadlineTimer deadline(FinalDrainMs);
    while (m_session->isOpen() && m_session->pendingBytes() > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    m_session->close();

    const PortTransfer::Outcome &outcome = m_transfer->lastOutcome();
    if (!outcome.success || !m_request.quiet) {
        printLine(outcome.summary, !outcome.success);
        for (const QString &note : outcome.notes)
            printLine(note, !outcome.success);
    }
    return exitCodeFor(outcome);
}
