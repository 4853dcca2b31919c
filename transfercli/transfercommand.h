#pragma once

#include "transfer/porttransfer.h"
#include "transfer/xferoptions.h"

#include <QObject>
#include <QStringList>
#include <functional>

class PortSession;

// What one run of quillon-transfer was asked to do.
struct TransferRequest
{
    XferOptions options;
    int mode = 0;       // ConnectionMode: serial, TCP client or remote serial
    QString device;     // serial device path
    QString host;       // TCP and RFC 2217
    quint16 port = 0;
    qint32 baudRate = 115200;
    qint32 flowControl = 0;  // QSerialPort::FlowControl
    QString path;            // the file to send or the folder to receive into
    QString name = QStringLiteral("received.bin");
    bool quiet = false;
};

// quillon-transfer: sends or receives one file over a serial port, TCP or RFC 2217
// with the same transfer driver the panes use, on a port session without a view.
class TransferCommand : public QObject
{
    Q_OBJECT
public:
    enum ExitCode { Success = 0, BadCommandLine = 1, PortFailed = 2, Cancelled = 3, TimedOut = 4, FileError = 5 };
    enum class Parse { Run, Help, Error };

    // `arguments` without the program name. On Error `error` says what is wrong.
    static Parse parse(const QStringList &arguments, TransferRequest *request, QString *error);
    static QString helpText();
    static int exitCodeFor(const PortTransfer::Outcome &outcome);

    explicit TransferCommand(const TransferRequest &request, QObject *parent = nullptr);
    ~TransferCommand() override;

    // Opens the port, runs the transfer and returns the exit status. `interrupted`
    // is polled: when it says true, the transfer is cancelled.
    int run(const std::function<bool()> &interrupted = {});

    // How long a TCP or RFC 2217 connection may take to come up.
    static constexpr int ConnectTimeoutMs = 10000;
    // A finished transfer's last bytes may take this long to leave before the port closes.
    static constexpr int FinalDrainMs = 2000;

private:
    bool openPort(QString *error);
    void printProgress(bool final);
    void printLine(const QString &text, bool toError);

    TransferRequest m_request;
    PortSession *m_session = nullptr;
    PortTransfer *m_transfer = nullptr;
    bool m_terminal = false;
    bool m_progressShown = false;
};
