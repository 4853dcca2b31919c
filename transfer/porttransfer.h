#pragma once

#include "transfer/filetransfersession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

class PortSession;
class QIODevice;
struct FormatSetting;

// Runs file transfers on one port session: checks that the port can take one, borrows
// the port through its lease, routes the received bytes to the transfer, writes what
// the transfer produces through a bounded buffer, drives its timer and ends it on a
// cancel, a close or a lost connection. The pane, the command-line program and the
// tests all drive transfers through this class.
class PortTransfer : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>;
    using EndReason = FileTransferSession::EndReason;

    // How a finished transfer went, kept until the next one starts.
    struct Outcome
    {
        bool success = false;
        qint32 errorCode = XferAction::NoError;
        EndReason reason = FileTransferSession::OtherFailure;
        QString summary;
        QStringList notes;
        XferProgress progress;
    };

    static constexpr qint64 MinWriteLimit = 32768;
    // The user closed the port: the abort sequence gets this long to leave.
    static constexpr int CloseDrainMs = 200;
    // Drained steps run back to back at most this often before the event loop runs.
    static constexpr int DrainedBurst = 32;
    // YMODEM-G blocks gathered into one write.
    static constexpr qint64 StreamBatchBytes = 16384;
    // After the abort has left, a device that still talks within this long missed it
    // and gets it again, at most MaxAbortRepeats times.
    static constexpr int AbortEchoMs = 250;
    static constexpr int MaxAbortRepeats = 2;

    // Lives as long as the session unless given another parent.
    explicit PortTransfer(PortSession *session, QObject *parent = nullptr);
    ~PortTransfer() override;

    // Monotonic milliseconds; tests pass a virtual clock.
    void setClock(Clock clock) { m_clock = std::move(clock); }
    qint64 now() const;

    // Empty when a transfer may start now, else the reason it may not.
    QString canTransfer() const;
    // `path` is the file to send or the folder to receive into; `name` the file name
    // when the protocol carries none. On refusal `refusal` gets the text.
    bool startTransfer(const XferOptions &options, const QString &path, const QString &name,
                       QString *refusal = nullptr);
    void cancelTransfer(EndReason reason = FileTransferSession::CancelledHere);

    PortSession *portSession() const { return m_port; }
    // The transfer in progress (running or draining its abort), else null.
    const FileTransferSession *transfer() const { return m_transfer.get(); }
    bool isActive() const { return m_transfer != nullptr; }
    const Outcome &lastOutcome() const { return m_last; }

    // Unwritten bytes the connection may hold before the transfer waits.
    static qint64 writeLimit(const FormatSetting &settings);

signals:
    void transferStateChanged();
    void transferProgressed();
    void transferEnded(bool success, const QString &summary);

private:
    bool onReceived(const QByteArray &bytes, const QString &peer);
    void apply(const XferAction &action);
    void flush(bool ignoreLimit = false);
    void queueDrained();
    void onDrained();
    void onClosing();
    void onLost();
    void abortDrained();
    void drainBeforeClose();
    void end();
    QIODevice *findWire() const;
    void pushOut();

    PortSession *m_port;
    QPointer<QIODevice> m_wire;  // the device under the connection, for flushing
    std::unique_ptr<FileTransferSession> m_transfer;
    QByteArray m_out;  // produced by the transfer, not yet handed to the connection
    QByteArray m_abort;  // the abort sequence sent, for sending again
    int m_abortRepeats = 0;
    qint64 m_limit = MinWriteLimit;
    QTimer m_tick{this};
    QTimer m_drainDeadline{this};
    QElapsedTimer m_monotonic;
    Clock m_clock;
    Outcome m_last;
    bool m_drainQueued = false;
    bool m_inDrainedStep = false;
    bool m_drainedAgain = false;
};
