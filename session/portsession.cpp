#include "session/portsession.h"

#include "connection/connectioncontroller.h"
#include "connection/connectionmode.h"
#include "logging/logname.h"
#include "logging/logwriter.h"
#include "session/sendtext.h"
#include "session/sessionlog.h"
#include "settings/serialportlist.h"

#include <QElapsedTimer>

#include <algorithm>
#include <vector>
#include <QFileInfo>
#include <QSerialPort>

Q_LOGGING_CATEGORY(lcSession, "quillon.session", QtWarningMsg)

namespace {

constexpr qsizetype kLogFlushChars = 1 << 20;
// One refresh formats what it can in this long; more waits for the next one.
constexpr double kRefreshBudgetNs = 6e6;
// Beyond this backlog the session stops reading, so a peer that can be slowed down
// waits instead of the backlog growing without bound; below the low mark it reads on.
constexpr qsizetype kBacklogHigh = 8 << 20;
constexpr qsizetype kBacklogLow = 2 << 20;

// Sessions of this thread, so that busy ones share one refresh budget.
std::vector<const PortSession *> &sessions()
{
    static std::vector<const PortSession *> all;
    return all;
}

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

// Window layout sizes live in the record but are not settings a user changes.
bool sameSettings(const FormatSetting &a, FormatSetting b)
{
    b.SplitterLeft = a.SplitterLeft;
    b.SplitterRight = a.SplitterRight;
    return a.sameStoredValues(b);
}

} // namespace

PortSession::PortSession(const FormatSetting &settings, int portIndex, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_portIndex(portIndex)
    , m_controller(new ConnectionController(this))
    , m_logWriter(new LogWriter(this))
    , m_lease(new PortLease(this))
{
    connect(m_controller, &ConnectionController::errorOccurred, this,
            [](const QString &text) { qCInfo(lcSession) << text; });
    const std::pair<QTimer *, const char *> named[] = {{&m_refreshTimer, "refreshTimer"},
                                                       {&m_secondTimer, "portListTimer"},
                                                       {&m_saveTimer, "saveTimer"},
                                                       {&m_loopTimer, "sendTimer"},
                                                       {&m_reconnectTimer, "reconnectTimer"}};
    for (const auto &[timer, name] : named)
        timer->setObjectName(QLatin1String(name));
    m_refreshTimer.setInterval(20);
    connect(&m_refreshTimer, &QTimer::timeout, this, &PortSession::onRefresh);
    m_secondTimer.setInterval(1000);
    connect(&m_secondTimer, &QTimer::timeout, this, &PortSession::onSecondTick);
    m_saveTimer.setInterval(5000);
    connect(&m_saveTimer, &QTimer::timeout, this, &PortSession::saveLog);
    m_loopTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_loopTimer, &QTimer::timeout, this, &PortSession::onLoopTick);
    m_reconnectTimer.setInterval(2000);
    m_reconnectTimer.setTimerType(Qt::PreciseTimer); // a returning device is promised within one period
    connect(&m_reconnectTimer, &QTimer::timeout, this, &PortSession::onReconnectTick);

    // A transfer holds the Loop back while it runs.
    connect(m_lease, &PortLease::changed, this, [this] {
        restartLoopTimer();
        emit linesChanged();
    });

    makeTransport();
    m_pipeline.rebuild(m_settings);
    refreshStatus();
    m_refreshTimer.start();
    m_secondTimer.start();
    sessions().push_back(this);
}

PortSession::~PortSession()
{
    auto &all = sessions();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    close();
    // The transport's signals must not reach a half-destroyed session.
    if (m_transport)
        m_transport->disconnect(this);
}

void PortSession::setTransportFactory(TransportFactory factory)
{
    m_factory = std::move(factory);
    makeTransport();
    refreshStatus();
}

void PortSession::makeTransport()
{
    m_transport = m_factory ? m_factory(m_settings.ConnMode, m_controller)
                            : makePortTransport(m_settings.ConnMode, m_controller);
    PortTransport *t = m_transport.get();
    connect(t, &PortTransport::received, this, &PortSession::onReceived);
    connect(t, &PortTransport::lost, this, &PortSession::onLost);
    connect(t, &PortTransport::peersChanged, this, &PortSession::onPeersChanged);
    connect(t, &PortTransport::peerArrived, this, &PortSession::peerArrived);
    connect(t, &PortTransport::peerLost, this, &PortSession::peerLost);
    connect(t, &PortTransport::linesChanged, this, &PortSession::linesChanged);
    connect(t, &PortTransport::bytesWritten, this, &PortSession::bytesWritten);
    connect(t, &PortTransport::statusMessage, this, &PortSession::statusMessage);
    connect(t, &PortTransport::peerArrived, this, [this] { refreshStatus(); });
}

QString PortSession::portKey() const
{
    return ConnectionController::portKey(m_settings.ConnMode, m_portIndex);
}

QString PortSession::title() const
{
    return ConnectionController::connectionTitle(m_settings, m_portIndex);
}

void PortSession::storeSettings(const FormatSetting &settings)
{
    const bool changed = !sameSettings(m_settings, settings);
    const bool newMode = settings.ConnMode != m_settings.ConnMode;
    const bool newCodecs = settings.ReceiveEncoding != m_settings.ReceiveEncoding
        || settings.SendEncoding != m_settings.SendEncoding;
    const QString resolved = m_settings.resolvedLogPath;
    m_settings = settings;
    if (m_settings.resolvedLogPath.isEmpty())
        m_settings.resolvedLogPath = resolved;
    if (newMode)
        makeTransport();
    if (newCodecs)
        m_pipeline.rebuild(m_settings);
    restartLoopTimer();
    m_transport->applyLineSettings(m_settings);
    if (changed)
        emit settingsChanged();
}

void PortSession::setSettings(const FormatSetting &settings)
{
    flushDisplay(); // what is queued is shown as it was received
    if (settings.ConnMode != m_settings.ConnMode && m_state != Closed)
        close();
    storeSettings(settings);
    emit linesChanged();
    refreshStatus();
}

// ---- Life cycle -------------------------------------------------------------

bool PortSession::isOpen() const
{
    return m_transport->isOpen();
}

bool PortSession::open(const QString &portNameOverride)
{
    disarmReconnect();
    m_pipeline.markOpened();
    m_lineIndex = 0;
    if (m_state != Paused)
        m_pipeline.rebuild(m_settings);
    m_refreshTimer.start();
    m_state = Running;
    if (!m_transport->open(m_settings, portNameOverride)) {
        m_state = Closed;
        m_loopTimer.stop();
        m_saveTimer.stop();
        releaseBreak();
        emit linesChanged();
        refreshStatus();
        return false;
    }
    const QString sessionName = m_settings.ConnMode != SerialPort ? portKey()
        : portNameOverride.isNull()                              ? m_settings.PortName
                                                                 : portNameOverride;
    m_settings.resolvedLogPath = resolveLogName(m_settings.LogFilePath, QFileInfo(sessionName).fileName());
    restartLoopTimer();
    m_saveTimer.start();
    emit linesChanged();
    refreshStatus();
    emit countersChanged();
    emit opened();
    return true;
}

void PortSession::close()
{
    const bool wasActive = m_state != Closed || m_loopTimer.isActive() || m_saveTimer.isActive();
    // A running transfer ends first, while the connection can still take its abort.
    if (wasActive)
        emit aboutToClose();
    m_state = Closed;
    m_loopTimer.stop();
    m_saveTimer.stop();
    disarmReconnect();
    releaseBreak();
    m_transport->close(m_settings);
    emit linesChanged();
    if (wasActive) {
        flushDisplay();
        // A refresh drains only its share of a backlog; what is still queued at close
        // goes to the log too, or the log would miss the tail of a fast stream.
        for (qsizetype left = m_pipeline.queuedBytes(); left > 0;) {
            flushDisplay();
            const qsizetype now = m_pipeline.queuedBytes();
            if (now >= left)
                break;
            left = now;
        }
        saveLog();
    }
    refreshStatus();
    if (wasActive)
        emit closed();
}

bool PortSession::pause()
{
    QString refusal;
    if (!m_lease->permits(PortRequester::User, PortOperation::Pause, &refusal)) {
        emit statusMessage(refusal, 5000);
        return false;
    }
    flushDisplay(); // what came before the pause is shown
    m_loopTimer.stop();
    m_state = Paused;
    saveLog();
    emit statusChanged();
    return true;
}

bool PortSession::reconfigure(const FormatSetting &edited)
{
    disarmReconnect();
    QString refusal;
    if (!m_lease->permits(PortRequester::User, PortOperation::PortSettings, &refusal)) {
        emit statusMessage(refusal, 5000);
        return false;
    }
    if (m_settings.ConnMode == SerialPort && isOpen()) {
        releaseBreak();
        m_transport->close(m_settings);
        if (edited.ConnMode == SerialPort) {
            storeSettings(edited);
            if (!m_transport->open(m_settings, QString()))
                m_state = Closed;
        } else {
            close(); // a network connection is chosen: nothing of the serial port stays open
            storeSettings(edited);
        }
    } else {
        close();
        storeSettings(edited);
    }
    emit linesChanged();
    refreshStatus();
    return true;
}

bool PortSession::applyLineEdit(const FormatSetting &edited)
{
    QString refusal;
    if (!m_lease->permits(PortRequester::User, PortOperation::PortSettings, &refusal)) {
        emit statusMessage(refusal, 5000);
        return false;
    }
    const int mode = m_settings.ConnMode;
    if (mode == SerialPort && isOpen())
        return reconfigure(edited);
    FormatSetting s = m_settings;
    if (edited.ConnMode == mode && (mode == SerialPort || mode == RemoteSerial)) {
        s.BaudRate = edited.BaudRate;
        s.DataBits = edited.DataBits;
        s.Parity = edited.Parity;
        s.StopBits = edited.StopBits;
        s.FlowControl = edited.FlowControl;
        s.UseRemoteSerialConfig = edited.UseRemoteSerialConfig;
    }
    storeSettings(s);
    emit linesChanged();
    return true;
}

PortSession::LineChangeResult PortSession::applyLineChange(const LineChange &change, PortRequester requester)
{
    const int mode = m_settings.ConnMode;
    if (mode != SerialPort && mode != RemoteSerial)
        return LineChangeResult::NotSerial;
    auto oneOf = [](const std::optional<qint32> &v, std::initializer_list<qint32> allowed) {
        return !v || std::find(allowed.begin(), allowed.end(), *v) != allowed.end();
    };
    const bool valid = (!change.baudRate || (*change.baudRate >= MinBaudRate && *change.baudRate <= MaxBaudRate))
        && oneOf(change.dataBits, {5, 6, 7, 8}) && oneOf(change.parity, {0, 2, 3, 4, 5})
        && oneOf(change.stopBits, {1, 2, 3}) && oneOf(change.flowControl, {0, 1, 2});
    if (!valid)
        return LineChangeResult::Invalid;
    if (!m_lease->permits(requester, PortOperation::PortSettings))
        return LineChangeResult::Busy;
    FormatSetting edited = m_settings;
    edited.BaudRate = change.baudRate.value_or(edited.BaudRate);
    edited.DataBits = change.dataBits.value_or(edited.DataBits);
    edited.Parity = change.parity.value_or(edited.Parity);
    edited.StopBits = change.stopBits.value_or(edited.StopBits);
    edited.FlowControl = change.flowControl.value_or(edited.FlowControl);
    if (mode == RemoteSerial)
        edited.UseRemoteSerialConfig = false; // otherwise nothing would reach the device
    return applyLineEdit(edited) ? LineChangeResult::Applied : LineChangeResult::Busy;
}

LineChange PortSession::lineSettingsInEffect() const
{
    const QSerialPort *port = m_controller->serialPort();
    if (m_settings.ConnMode == SerialPort && port->isOpen())
        return {port->baudRate(), int(port->dataBits()), int(port->parity()), int(port->stopBits()),
                int(port->flowControl())};
    return {m_settings.BaudRate, m_settings.DataBits, m_settings.Parity, m_settings.StopBits, m_settings.FlowControl};
}

void PortSession::setAutoReconnect(bool on)
{
    m_autoReconnect = on;
    m_controller->setWatchPortLoss(on);
    if (!on)
        disarmReconnect();
}

void PortSession::disarmReconnect()
{
    m_reconnectTimer.stop();
    m_reconnectArmed = false;
}

void PortSession::onLost()
{
    releaseBreak();
    flushDisplay();
    const QString text = m_transport->lostText(m_settings);
    if (m_autoReconnect && m_state != Closed && !text.isEmpty()) {
        m_reconnectArmed = true;
        emit statusMessage(text, 3000);
        m_reconnectTimer.start();
    }
    emit linesChanged();
    refreshStatus();
    emit connectionLost();
}

void PortSession::onReconnectTick()
{
    if (!m_autoReconnect || !m_reconnectArmed) {
        disarmReconnect();
        return;
    }
    switch (m_transport->reconnect(m_settings)) {
    case PortTransport::Reconnect::Waiting:
        return;
    case PortTransport::Reconnect::Restored:
        m_state = Running;
        disarmReconnect();
        emit linesChanged();
        refreshStatus();
        return;
    case PortTransport::Reconnect::GiveUp:
        disarmReconnect();
        return;
    }
}

void PortSession::onSecondTick()
{
    // Without automatic reconnection a vanished port would stay open forever; the check
    // closes it so that the pane shows it as closed.
    if (m_state != Closed && !m_reconnectArmed && m_transport->closeIfVanished(m_settings))
        onLost();
    if (m_viewAttached) {
        QString signature;
        const auto ports = availableSerialPorts();
        for (const QSerialPortInfo &info : ports)
            signature += info.portName();
        if (signature != m_portListSignature) {
            m_portListSignature = signature;
            emit portListChanged();
        }
    }
    refreshStatus();
    if (m_settings.ConnMode == SerialPort)
        emit linesChanged(); // the modem inputs are polled
}

void PortSession::refreshStatus()
{
    const TransportStatus status = m_transport->status(m_settings);
    if (!status.html.isEmpty())
        m_statusLine = status.html;
    if (status.hint == TransportStatus::Closed && !m_reconnectArmed)
        m_state = Closed;
    else if (status.hint == TransportStatus::Running && m_state != Paused)
        m_state = Running;
    emit statusChanged();
}

// ---- Receive path -------------------------------------------------------------

void PortSession::onReceived(const QByteArray &bytes, const QString &peer)
{
    if (bytes.isEmpty())
        return;
    if (m_receiveTap && m_receiveTap(bytes, peer)) {
        emit activity(Received);
        return;
    }
    emit received(bytes, peer);
    // A paused view holds what arrives; counting and logging go on.
    record(bytes, true, Received);
}

void PortSession::record(const QByteArray &bytes, bool countBytes, int direction, bool toView)
{
    if (direction == Received) {
        emit activity(Received);
        if (countBytes) {
            m_rxByteCount += quint64(bytes.size());
            m_countersDirty = true;
        }
    }
    // Traffic that no view, log or console will see is not formatted at all: a headless
    // session forwarding for a bridge only counts it.
    if (!(toView && m_viewAttached) && !m_settings.LogSaveFlag && !m_consoleWatched)
        return;
    QByteArray data = bytes;
    const QDateTime now = QDateTime::currentDateTime();
    if (direction == Received) {
        data = m_pipeline.filterReceived(bytes, m_settings);
        if (data.isEmpty())
            return;
        if (m_consoleWatched)
            emit consoleTraffic(portKey(), false, m_pipeline.consoleText(data, Received, m_settings, now));
    }
    m_pipeline.queue(rxData{now, direction, data, toView});
    if (direction == Received)
        updateReadHold();
}

void PortSession::onRefresh()
{
    flushDisplay();
    if (std::exchange(m_countersDirty, false))
        emit countersChanged();
}

void PortSession::flushDisplay()
{
    const bool paused = m_state == Paused;
    if (m_pipeline.isEmpty() && (paused || m_pipeline.heldBytes() == 0))
        return;
    const qint64 now = monotonicMs();
    const auto busy = std::count_if(sessions().begin(), sessions().end(), [now](const PortSession *p) {
        return p->m_lastBusyMs >= 0 && now - p->m_lastBusyMs < 500;
    });
    const double share = kRefreshBudgetNs / double(qMax<qsizetype>(1, busy));
    const qsizetype maxBytes = m_nsPerQueuedByte > 0 ? qMax<qsizetype>(64 * 1024, qsizetype(share / m_nsPerQueuedByte))
                                                     : ReceivePipeline::NoBudget;
    m_lastBusyMs = now;
    const qsizetype before = m_pipeline.queuedBytes();
    QElapsedTimer timer;
    timer.start();
    const ReceiveBatch batch = m_pipeline.drain(m_settings, m_viewAttached, m_viewBudget, paused,
                                                qMax(m_settings.DisplayBufferSize, 1), maxBytes);
    const qint64 drainNs = timer.nsecsElapsed();
    const qsizetype done = before - m_pipeline.queuedBytes();
    // What formatting costs per byte decides how much the next refresh takes on.
    if (done >= 64 * 1024) {
        const double cost = double(drainNs) / double(done);
        m_nsPerQueuedByte = m_nsPerQueuedByte > 0 ? 0.7 * m_nsPerQueuedByte + 0.3 * cost : cost;
    }
    m_viewShownBytes += batch.shownBytes;
    m_viewSkippedBytes += batch.skippedBytes;
    if (!batch.view.isEmpty())
        emit displayBatch(batch.view, batch.shownBytes);
    m_logWriter->write(batch.log, m_settings);
    // A fast port would otherwise pile up seconds of text for the next periodic save.
    if (m_logWriter->pending().size() > kLogFlushChars)
        saveLog();
    updateReadHold();
}

void PortSession::updateReadHold()
{
    const qsizetype backlog = m_pipeline.queuedBytes();
    const bool hold = backlog > kBacklogHigh || (m_backlogHold && backlog > kBacklogLow);
    if (hold == m_backlogHold)
        return;
    m_backlogHold = hold;
    m_transport->setReadPaused(m_featureHold || m_backlogHold);
}

void PortSession::insertNotice(const QString &text)
{
    flushDisplay();
    emit displayBatch({m_pipeline.notice(text)}, 0);
}

void PortSession::clear()
{
    m_rxByteCount = 0;
    m_txByteCount = 0;
    m_pipeline.rebuild(m_settings);
    m_pipeline.viewCleared();
    emit countersChanged();
}

void PortSession::saveLog()
{
    QString header;
    if (m_settings.ConnMode == SerialPort && isOpen()) {
        const QSerialPort *port = m_controller->serialPort();
        header = QStringLiteral("Port Name: ") + port->portName() + QStringLiteral("\n") + QStringLiteral(" Baudrate: ")
            + QString::number(port->baudRate()) + QStringLiteral("\n\n");
    }
    QString message;
    if (m_logWriter->flush(m_settings, m_settings.PortName, header, &message))
        return;
    if (message.isEmpty())
        message = tr("Please input correct log file name!");
    emit countersChanged();
    emit logFailed(message);
}

// ---- Send path ----------------------------------------------------------------

QByteArray PortSession::buildPayload(const QString &text)
{
    if (text.isEmpty())
        return {};
    const bool hex = m_settings.SendMsgFormat != TextFormat;
    const SendEncodeResult result = encodeSend(text, hex, m_settings);
    if (!result.ok) {
        emit statusMessage(result.error, 10000);
        return {};
    }
    m_settings.SendList = updatedHistory(m_settings.SendList, hex ? result.historyText.toUpper() : text);
    if (hex && m_settings.FormatSend)
        emit sendTextFormatted(result.historyText);
    emit historyChanged();
    emit settingsChanged();
    if (m_settings.DisplaySendMsg && !result.bytes.isEmpty()) {
        record(result.bytes, false, Sent);
        flushDisplay();
    }
    return result.bytes;
}

bool PortSession::sendRouted(const QByteArray &bytes, const QString &peer)
{
    if (bytes.isEmpty() || !m_transport->write(bytes, peer, m_settings))
        return false;
    m_txByteCount += quint64(bytes.size());
    m_countersDirty = true; // shown with the next refresh, not for every chunk a bridge writes
    emit activity(Sent);
    emit sent(bytes, peer);
    return true;
}

bool PortSession::send(const QByteArray &bytes, PortRequester requester)
{
    QString refusal;
    if (!m_lease->permits(requester, PortOperation::SendData, &refusal)) {
        emit statusMessage(refusal, 5000);
        return false;
    }
    if (m_consoleWatched && !bytes.isEmpty())
        emit consoleTraffic(portKey(), true, m_pipeline.consoleText(bytes, Sent, m_settings, QDateTime::currentDateTime()));
    return sendRouted(bytes, m_selectedPeer);
}

qint64 PortSession::write(const QByteArray &bytes, const QString &peer, Echo echo, PortRequester requester)
{
    if (!m_lease->permits(requester, PortOperation::SendData) || !sendRouted(bytes, peer))
        return 0;
    if (echo != Echo::None)
        record(bytes, false, Sent, echo == Echo::ViewAndLog);
    return bytes.size();
}

void PortSession::setLineByLine(bool on)
{
    m_lineByLine = on;
}

void PortSession::restartLoopTimer()
{
    const int interval = qMax(m_settings.SendInterval, int(MinLoopIntervalMs));
    if (m_loopTimer.interval() != interval)
        m_loopTimer.setInterval(interval);
    if (!m_settings.AutoSend || m_state == Closed || m_state == Paused || m_lease->transferHeld())
        m_loopTimer.stop();
    else if (!m_loopTimer.isActive())
        m_loopTimer.start();
}

void PortSession::onLoopTick()
{
    if (!isOpen() || m_lease->transferHeld() || !m_settings.AutoSend)
        return;
    if (!m_lineByLine) {
        send(buildPayload(m_loopText));
        return;
    }
    const QStringList lines = m_loopText.split(QLatin1Char('\n'));
    m_lineIndex = m_lineIndex % int(lines.size());
    const QString line = lines.at(m_lineIndex++);
    if (!line.isEmpty())
        send(buildPayload(line));
}

// ---- Peers ----------------------------------------------------------------------

QStringList PortSession::peers() const
{
    return m_transport->peers();
}

void PortSession::onPeersChanged()
{
    // A UDP socket answers whoever spoke last; a server keeps the chosen client
    // while it stays, else takes the first.
    const QString current = m_transport->currentPeer();
    const QStringList list = peers();
    if (!current.isEmpty())
        m_selectedPeer = current;
    else if (!list.contains(m_selectedPeer))
        m_selectedPeer = list.value(0);
    emit peersChanged();
    refreshStatus();
}

// ---- Control lines ----------------------------------------------------------------

bool PortSession::setBreak(bool level)
{
    if (!level) {
        releaseBreak();
        return true;
    }
    QString refusal;
    if (!m_lease->permits(PortRequester::User, PortOperation::ControlLines, &refusal)) {
        emit statusMessage(refusal, 5000);
        return false;
    }
    m_breakHeld = m_transport->setBreak(true);
    return m_breakHeld;
}

void PortSession::releaseBreak()
{
    if (std::exchange(m_breakHeld, false))
        m_transport->setBreak(false);
    emit breakReleased();
}

bool PortSession::toggleLine(int line)
{
    QString refusal;
    if (!m_lease->permits(PortRequester::User, PortOperation::ControlLines, &refusal)) {
        emit statusMessage(refusal, 5000);
        return false;
    }
    FormatSetting s = m_settings;
    bool &wanted = line == ConnectionController::Rts ? s.RtsOn : s.DtrOn;
    wanted = !wanted;
    if (!m_transport->setOutputLine(line, wanted, s))
        return false;
    m_settings = s;
    emit settingsChanged();
    emit linesChanged();
    return true;
}

LampStates PortSession::lamps() const
{
    return m_transport->lamps(m_settings);
}

// ---- Features -------------------------------------------------------------------

qint64 PortSession::pendingBytes() const
{
    return m_transport->pendingBytes();
}

void PortSession::setReadPaused(bool paused)
{
    m_featureHold = paused;
    m_transport->setReadPaused(m_featureHold || m_backlogHold);
}

void PortSession::setReadLimit(qint64 bytes)
{
    m_transport->setReadLimit(bytes);
}

bool PortSession::canThrottle() const
{
    return m_transport->canThrottle(m_settings);
}
