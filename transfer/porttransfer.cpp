#include "transfer/porttransfer.h"

#include "connection/connectioncontroller.h"
#include "connection/connectionmode.h"
#include "connection/multiclientserver.h"
#include "session/portsession.h"
#include "transfer/xferfilesink.h"
#include "transfer/xferfilesource.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QSerialPort>
#include <QTcpSocket>

Q_LOGGING_CATEGORY(lcTransfer, "quillon.transfer", QtWarningMsg)

PortTransfer::PortTransfer(PortSession *session, QObject *parent)
    : QObject(parent ? parent : session)
    , m_port(session)
{
    m_monotonic.start();
    m_tick.setObjectName(QStringLiteral("transferTickTimer"));
    m_tick.setSingleShot(true);
    m_tick.setTimerType(Qt::PreciseTimer);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        if (m_transfer && m_transfer->state() == FileTransferSession::Running)
            apply(m_transfer->onTimer(now()));
    });
    m_drainDeadline.setObjectName(QStringLiteral("transferDrainTimer"));
    m_drainDeadline.setSingleShot(true);
    connect(&m_drainDeadline, &QTimer::timeout, this, &PortTransfer::end);

    // Flushing a port may report bytes written from inside our own write; the drained
    // step therefore always runs from the event loop, never nested in a write.
    connect(m_port, &PortSession::bytesWritten, this, &PortTransfer::queueDrained);
    connect(m_port, &PortSession::aboutToClose, this, &PortTransfer::onClosing);
    connect(m_port, &PortSession::connectionLost, this, &PortTransfer::onLost);
    connect(m_port, &PortSession::peerLost, this, [this](const QString &peer) {
        if (m_transfer && m_port->settings().ConnMode == TcpServer && peer == m_transfer->client())
            onLost();
    });
}

PortTransfer::~PortTransfer()
{
    if (!m_transfer)
        return;
    // Going away before the port: the device still gets the abort, quietly.
    const QByteArray abort = m_transfer->cancel(FileTransferSession::ConnectionClosed, now()).bytes;
    if (!abort.isEmpty() && m_port->isOpen())
        m_port->write(abort, m_transfer->client(), PortSession::Echo::None, PortRequester::Transfer);
    m_port->setReceiveTap(nullptr);
    m_port->lease()->release(PortRequester::Transfer);
    m_transfer->close();
}

qint64 PortTransfer::now() const
{
    return m_clock ? m_clock() : m_monotonic.elapsed();
}

qint64 PortTransfer::writeLimit(const FormatSetting &s)
{
    if (s.ConnMode == SerialPort && s.BaudRate > 0)
        return std::max<qint64>(MinWriteLimit, s.BaudRate / 20);
    return MinWriteLimit;
}

QString PortTransfer::canTransfer() const
{
    const PortLease *lease = m_port->lease();
    if (m_transfer || lease->transferHeld())
        return tr("A file transfer is already running on this port.");
    if (!m_port->isOpen())
        return tr("The connection is not open.");
    const int mode = m_port->settings().ConnMode;
    if (mode == UdpServer || mode == UdpClient || mode == UdpGroup)
        return tr("File transfer needs an ordered, reliable connection. UDP cannot provide one.");
    if (lease->bridgeHolds() > 0)
        return tr("This port is part of a bridge link. Remove the link before transferring a file.");
    if (m_port->state() == Paused)
        return tr("The view is paused. Resume it before transferring a file.");
    if (mode == TcpServer) {
        const QStringList peers = m_port->peers();
        if (peers.isEmpty())
            return tr("No client is connected yet.");
        if (peers.size() > 1 && !peers.contains(m_port->selectedPeer()))
            return tr("Several clients are connected. Select the one to transfer with.");
    }
    return {};
}

bool PortTransfer::startTransfer(const XferOptions &options, const QString &path, const QString &name,
                                 QString *refusal)
{
    auto refuse = [refusal](const QString &text) {
        if (refusal)
            *refusal = text;
        return false;
    };
    if (const QString why = canTransfer(); !why.isEmpty())
        return refuse(why);
    const FormatSetting &s = m_port->settings();
    if (options.protocol == YmodemG && s.ConnMode == SerialPort && s.FlowControl != QSerialPort::HardwareControl) {
        return refuse(tr("YMODEM-G does not retransmit, so it needs hardware flow control (RTS/CTS). This "
                         "connection has none."));
    }
    QString client;
    if (s.ConnMode == TcpServer) {
        const QStringList peers = m_port->peers();
        client = peers.size() == 1 ? peers.first() : m_port->selectedPeer();
        if (client.isEmpty() || !peers.contains(client))
            return refuse(tr("The selected client is no longer connected."));
    }

    auto transfer = std::make_unique<FileTransferSession>(options, client);
    if (options.receiving()) {
        transfer->setSink(std::make_unique<XferFileSink>(path, name, QDateTime::currentSecsSinceEpoch()));
        transfer->setFileInfo({name, -1, 0});
    } else {
        auto source = std::make_unique<XferFileSource>();
        QString error;
        if (!source->open(path, &error))
            return refuse(error);
        transfer->setSource(std::move(source));
    }
    QString why;
    if (!m_port->lease()->acquire(PortRequester::Transfer, &why))
        return refuse(why);

    m_transfer = std::move(transfer);
    m_wire = findWire();
    m_out.clear();
    m_abort.clear();
    m_abortRepeats = 0;
    m_limit = writeLimit(s);
    m_last = Outcome();
    m_port->setReceiveTap([this](const QByteArray &bytes, const QString &peer) { return onReceived(bytes, peer); });
    qCDebug(lcTransfer) << "start" << m_port->portKey() << xferProtocolName(options.protocol) << path;
    m_port->insertNotice(m_transfer->headline());
    emit transferStateChanged();
    apply(m_transfer->start(now()));
    return true;
}

bool PortTransfer::onReceived(const QByteArray &bytes, const QString &peer)
{
    if (!m_transfer || !m_transfer->isForClient(peer))
        return false;
    if (m_transfer->state() == FileTransferSession::Running) {
        apply(m_transfer->feed(bytes, now()));
    } else if (!m_abort.isEmpty() && m_abortRepeats < MaxAbortRepeats) {
        // Still answering: the abort arrived while the device was busy with its last
        // block, and a receiver that empties its input after each ACK threw it away.
        ++m_abortRepeats;
        m_out += m_abort;
        flush();
    }
    // Once the engine has ended, stragglers are swallowed until the session ends.
    return true;
}

void PortTransfer::apply(const XferAction &action)
{
    if (!m_transfer)
        return;
    m_out += action.bytes;
    if (action.timeoutMs >= 0)
        m_tick.start(action.timeoutMs);
    else
        m_tick.stop();
    flush();
    if (!m_transfer)
        return;
    switch (m_transfer->state()) {
    case FileTransferSession::Draining:
        m_tick.stop();
        if (!m_drainDeadline.isActive()) {
            m_abort = action.bytes;
            m_drainDeadline.start(m_transfer->drainGraceMs());
        }
        if (m_out.isEmpty() && m_port->pendingBytes() == 0)
            abortDrained();
        break;
    case FileTransferSession::Completed:
        end();
        break;
    default:
        emit transferProgressed();
        break;
    }
}

void PortTransfer::flush(bool ignoreLimit)
{
    // Only bytes handed over make a drained step; an idle engine is left waiting.
    if (!m_transfer || m_out.isEmpty())
        return;
    // Streamed blocks gather during a burst and leave in one write.
    if (m_inDrainedStep && m_out.size() < StreamBatchBytes
        && m_transfer->codec().state() == XmodemCodec::SendStreaming) {
        m_drainedAgain = true;
        return;
    }
    if (!ignoreLimit && m_port->pendingBytes() > m_limit)
        return;  // bytesWritten brings us back
    // A closed serial port would be reopened by a write; a transfer never does that.
    const qint64 taken = m_port->isOpen()
        ? m_port->write(m_out, m_transfer->client(), PortSession::Echo::None, PortRequester::Transfer)
        : 0;
    if (taken <= 0) {
        m_out.clear();
        if (m_transfer->state() == FileTransferSession::Draining || m_transfer->state() == FileTransferSession::Completed)
            end();
        else
            cancelTransfer(FileTransferSession::ConnectionLost);
        return;
    }
    m_out.remove(0, taken);
    pushOut();
    if (m_out.isEmpty() && m_port->pendingBytes() == 0) {
        if (m_inDrainedStep)
            m_drainedAgain = true;
        else
            queueDrained();
    }
}

void PortTransfer::queueDrained()
{
    if (std::exchange(m_drainQueued, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_drainQueued = false;
            onDrained();
        },
        Qt::QueuedConnection);
}

void PortTransfer::onDrained()
{
    if (!m_transfer)
        return;
    if (!m_out.isEmpty()) {
        flush();
        return;
    }
    if (m_port->pendingBytes() > 0)
        return;
    if (m_transfer->state() == FileTransferSession::Draining) {
        abortDrained();
        return;
    }
    // A streaming sender's next block leaves as soon as the last one is out; a burst
    // of them per pass of the event loop saves a round through it for each block.
    // Incoming bytes (a NAK, a cancel) are read between bursts.
    m_inDrainedStep = true;
    int burst = 0;
    do {
        m_drainedAgain = false;
        apply(m_transfer->onDrained(now()));
    } while (m_drainedAgain && ++burst < DrainedBurst && m_transfer && m_transfer->state() == FileTransferSession::Running);
    m_inDrainedStep = false;
    if (!m_out.isEmpty())
        flush();
    else if (m_drainedAgain)
        queueDrained();
}

void PortTransfer::cancelTransfer(EndReason reason)
{
    if (!m_transfer || m_transfer->state() == FileTransferSession::Draining)
        return;
    m_out.clear();
    m_tick.stop();
    m_out = m_transfer->cancel(reason, now()).bytes;
    m_abort = m_out;
    m_drainDeadline.start(m_transfer->drainGraceMs());
    flush();
    if (m_transfer && m_out.isEmpty() && m_port->pendingBytes() == 0)
        abortDrained();
    if (m_transfer)
        emit transferStateChanged();
}

// Everything of an ending session is out. Without an abort to protect it ends now;
// otherwise it listens a short while for a device that missed the abort.
void PortTransfer::abortDrained()
{
    if (m_abort.isEmpty() || m_abortRepeats >= MaxAbortRepeats) {
        end();
        return;
    }
    if (m_drainDeadline.remainingTime() > AbortEchoMs)
        m_drainDeadline.start(AbortEchoMs);
}

void PortTransfer::onClosing()
{
    if (!m_transfer)
        return;
    cancelTransfer(FileTransferSession::ConnectionClosed);
    if (!m_transfer)
        return;
    drainBeforeClose();
    end();
}

void PortTransfer::onLost()
{
    if (!m_transfer)
        return;
    cancelTransfer(FileTransferSession::ConnectionLost);
    end();
}

QIODevice *PortTransfer::findWire() const
{
    ConnectionController *c = m_port->controller();
    switch (m_port->settings().ConnMode) {
    case SerialPort:
        return c->serialPort();
    case TcpClient:
    case RemoteSerial:
        return c->tcpClientSocket();
    case TcpServer:
        if (c->server()) {
            const auto sockets = c->server()->findChildren<QTcpSocket *>();
            for (QTcpSocket *socket : sockets) {
                if (MultiClientServer::peerKeyOf(socket) == m_transfer->client())
                    return socket;
            }
        }
        return nullptr;
    default:
        return nullptr;
    }
}

// The connection would write on the next pass of the event loop; a transfer waits for
// each block's answer, so the bytes go to the system at once.
void PortTransfer::pushOut()
{
    if (auto *serial = qobject_cast<QSerialPort *>(m_wire.data()))
        serial->flush();
    else if (auto *socket = qobject_cast<QAbstractSocket *>(m_wire.data()))
        socket->flush();
}

// The port closes as soon as we return, dropping whatever it still buffers; the abort
// sequence gets a short, bounded wait to reach the device first.
void PortTransfer::drainBeforeClose()
{
    QIODevice *device = m_wire;
    const QDeadlineTimer deadline(CloseDrainMs);
    flush(true);
    while (m_transfer && device && device->isOpen() && !deadline.hasExpired()) {
        const int left = int(std::max<qint64>(1, deadline.remainingTime()));
        if (m_port->pendingBytes() > 0 || !m_out.isEmpty()) {
            flush(true);
            if (!device->waitForBytesWritten(left))
                break;
        } else if (m_abortRepeats >= MaxAbortRepeats || !device->waitForReadyRead(left)) {
            break;  // what the device says arrives through onReceived and may send the abort again
        }
    }
}

void PortTransfer::end()
{
    if (!m_transfer)
        return;
    m_tick.stop();
    m_drainDeadline.stop();
    // A completed receive may still owe the device its last ACK.
    if (m_transfer->state() == FileTransferSession::Completed && !m_out.isEmpty() && m_port->isOpen())
        m_port->write(m_out, m_transfer->client(), PortSession::Echo::None, PortRequester::Transfer);
    m_out.clear();
    std::unique_ptr<FileTransferSession> transfer = std::move(m_transfer);
    transfer->close();
    const qint64 at = now();
    m_last.success = transfer->state() == FileTransferSession::Completed;
    m_last.errorCode = transfer->errorCode();
    m_last.reason = transfer->endReason();
    m_last.summary = transfer->summary(at);
    m_last.notes = transfer->takeNotes();
    m_last.progress = transfer->progress();
    m_port->setReceiveTap(nullptr);
    m_port->lease()->release(PortRequester::Transfer);
    qCDebug(lcTransfer) << "end" << m_port->portKey() << m_last.summary;
    m_port->insertNotice(m_last.summary);
    for (const QString &note : std::as_const(m_last.notes))
        m_port->insertNotice(note);
    emit transferEnded(m_last.success, m_last.summary);
    emit transferStateChanged();
}
