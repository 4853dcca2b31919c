#include "bridge/bridgelink.h"

#include "bridge/bridgelog.h"
#include "bridge/comportserver.h"
#include "bridge/portendpoint.h"
#include "connection/connectioncontroller.h"
#include "connection/connectionmode.h"
#include "session/portsession.h"

#include <QScopedValueRollback>

Q_LOGGING_CATEGORY(lcBridge, "quillon.bridge", QtWarningMsg)

BridgeLink::BridgeLink(const BridgeConfig &config, PortEndpoint *a, PortEndpoint *b, QObject *parent)
    : QObject(parent)
    , m_given(config)
    , m_config(config.normalised())
    , m_ends{a, b}
{
    m_elapsed.start();
    for (BridgePipe &p : m_pipes)
        p.configure(m_config);
    m_arbiter.configure({BridgeFramer::settingsFrom(m_config), m_config.ArbiterResponseTimeoutMs,
                         m_config.ArbiterMaxQueuedRequests});
    m_gateway.configure(m_config.ModbusTransactionTimeoutMs);
    m_answerFramer.configure(BridgeFramer::settingsFrom(m_config));
    m_serviceTimer.setSingleShot(true);
    m_serviceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_serviceTimer, &QTimer::timeout, this, &BridgeLink::onTimeout);
    m_sampleTimer.setInterval(SampleIntervalMs);
    connect(&m_sampleTimer, &QTimer::timeout, this, &BridgeLink::onSampleTick);
    m_captureTimer.setSingleShot(true);
    m_captureTimer.setInterval(CaptureIntervalMs);
    connect(&m_captureTimer, &QTimer::timeout, this, &BridgeLink::writeCapture);
    for (int e : {EndA, EndB}) {
        if (m_ends[e])
            connect(m_ends[e], &QObject::destroyed, this, &BridgeLink::evaluateState);
    }
    evaluateState();
}

BridgeLink::~BridgeLink()
{
    stop();
}

qint64 BridgeLink::now() const
{
    return m_clock ? m_clock() : m_elapsed.elapsed();
}

bool BridgeLink::forwards(End source) const
{
    return source == EndA ? m_config.forwardsAToB() : m_config.forwardsBToA();
}

bool BridgeLink::cannotSlowDown() const
{
    if (m_config.OverflowPolicy != BridgeConfig::SlowSender)
        return false;
    for (End e : {EndA, EndB}) {
        if (forwards(e) && m_ends[e] && !m_ends[e]->canThrottle())
            return true;
    }
    return false;
}

// ---- Start and stop ---------------------------------------------------------------

void BridgeLink::start()
{
    if (m_running || !m_config.Enabled) {
        evaluateState();
        return;
    }
    for (End e : {EndA, EndB}) {
        PortSession *session = m_ends[e] ? m_ends[e]->session() : nullptr;
        if (!session)
            continue;
        QString why;
        m_leased[e] = session->lease()->acquire(PortRequester::Bridge, &why);
        if (!m_leased[e]) {
            // A transfer got there first; the link stays stopped rather than corrupt it.
            emit message(QStringLiteral("%1: %2").arg(m_config.displayName(), why));
            for (End held : {EndA, EndB}) {
                if (std::exchange(m_leased[held], false) && m_ends[held] && m_ends[held]->session())
                    m_ends[held]->session()->lease()->release(PortRequester::Bridge);
            }
            evaluateState();
            return;
        }
    }
    m_running = true;
    for (End e : {EndA, EndB}) {
        connectEnd(e);
        if (forwards(e) && m_ends[e]) {
            m_ends[e]->boundReads(readRoom());
            m_bounded[e] = true;
        }
    }
    configureEnds();
    chooseArbiterEnd();
    chooseProtocolEnd();
    if (m_config.LogEnabled && !m_config.LogFilePath.isEmpty()) {
        m_capture.configure({m_config.LogFilePath, m_config.LogHex, m_config.LogRotateBytes, m_config.displayName(),
                             m_ends[EndA] ? m_ends[EndA]->label() : QString(),
                             m_ends[EndB] ? m_ends[EndB]->label() : QString()});
    }
    m_forwardedAtTick = {m_pipes[EndA].counters().bytesForwarded, m_pipes[EndB].counters().bytesForwarded};
    m_droppedAtTick = m_pipes[EndA].counters().bytesDropped + m_pipes[EndB].counters().bytesDropped;
    m_sampleTimer.start();
    service();
}

void BridgeLink::connectEnd(End end)
{
    PortSession *session = m_ends[end] ? m_ends[end]->session() : nullptr;
    if (!session)
        return;
    m_connections << connect(session, &PortSession::received, this,
                             [this, end](const QByteArray &bytes, const QString &peer) { onTap(end, bytes, peer); });
    m_connections << connect(session, &PortSession::peerArrived, this,
                             [this, end](const QString &peer) { onPeerArrived(end, peer); });
    m_connections << connect(session, &PortSession::peerLost, this,
                             [this, end](const QString &peer) { onPeerLost(end, peer); });
    m_connections << connect(session, &PortSession::settingsChanged, this,
                             [this, end] { onDeviceSettingsChanged(end); });
    // A destination that took bytes may take more now; an end that opened or closed
    // changes the state.
    for (auto signal : {&PortSession::opened, &PortSession::closed, &PortSession::connectionLost,
                        &PortSession::peersChanged})
        m_connections << connect(session, signal, this, &BridgeLink::service);
    m_connections << connect(session, &PortSession::bytesWritten, this, [this, end] {
        if (forwards(other(end)) && !m_pipes[other(end)].isIdle())
            service();
    });
}

void BridgeLink::configureEnds()
{
    for (End e : {EndA, EndB}) {
        PortEndpoint *ep = m_ends[e];
        if (!ep || !ep->session())
            continue;
        if (forwards(other(e))) {
            ep->setWriteLimit(m_config.SinkPendingLimitBytes);
            ep->setShowInView(m_config.ShowForwardedInDisplay && !m_muted);
        }
        // One client at a time is the server's exclusive mode; the allowlist guards who may talk.
        m_serverConfigured[e] = ep->session()->settings().ConnMode == TcpServer;
        if (m_serverConfigured[e]) {
            ConnectionController *controller = ep->session()->controller();
            controller->setClientPolicy(m_config.FanoutMode == BridgeConfig::OneClient ? 1 : 0);
            controller->setAllowlist(m_config.AllowedPeers);
        }
    }
}

void BridgeLink::chooseArbiterEnd()
{
    m_arbiterEnd = -1;
    if (m_config.FanoutMode != BridgeConfig::TakeTurns)
        return;
    for (End e : {EndA, EndB}) {
        if (forwards(e) && m_ends[e] && m_ends[e]->acceptsManyPeers()) {
            m_arbiterEnd = e;
            return;
        }
    }
}

void BridgeLink::stop()
{
    if (!m_running)
        return;
    for (const QMetaObject::Connection &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    const qint64 at = now();
    if (m_config.Protocol == BridgeConfig::ModbusGateway && m_protocolEnd >= 0)
        modbusAnswers(m_answerFramer.flush(), at);
    for (End e : {EndA, EndB}) {
        if (!forwards(e))
            continue;
        m_pipes[e].flush();
        pump(e);
        const qint64 dropped = m_pipes[e].discard();
        if (dropped > 0)
            qCInfo(lcBridge) << m_config.displayName() << "stopped with" << dropped << "bytes unsent";
        applyHold(e, at);
    }
    if (m_protocolEnd >= 0 && m_ends[m_protocolEnd])
        m_ends[m_protocolEnd]->setTelnetEscape(false);
    m_protocolEnd = -1;
    m_codecs.clear();
    for (End e : {EndA, EndB}) {
        if (std::exchange(m_drainHeld[e], false) && m_ends[e])
            m_ends[e]->setReadPaused(false);
        if (std::exchange(m_leased[e], false) && m_ends[e] && m_ends[e]->session())
            m_ends[e]->session()->lease()->release(PortRequester::Bridge);
        if (std::exchange(m_bounded[e], false) && m_ends[e])
            m_ends[e]->releaseReadBound(readRoom());
        // The server takes any client again once no bridge decides who may talk.
        if (std::exchange(m_serverConfigured[e], false) && m_ends[e] && m_ends[e]->session()) {
            m_ends[e]->session()->controller()->setClientPolicy(0);
            m_ends[e]->session()->controller()->setAllowlist({});
        }
    }
    writeCapture();
    m_serviceTimer.stop();
    m_sampleTimer.stop();
    m_captureTimer.stop();
    m_running = false;
    evaluateState();
}

void BridgeLink::resume()
{
    for (BridgePipe &p : m_pipes)
        p.resume();
    service();
}

void BridgeLink::drain()
{
    if (!m_running)
        return;
    const qint64 at = now();
    for (End e : {EndA, EndB}) {
        if (m_ends[e] && !std::exchange(m_drainHeld[e], true))
            m_ends[e]->setReadPaused(true);
    }
    if (m_config.Protocol == BridgeConfig::ModbusGateway && m_protocolEnd >= 0)
        modbusAnswers(m_answerFramer.flush(), at);
    for (End e : {EndA, EndB}) {
        if (forwards(e))
            m_pipes[e].flush();
    }
    service();
}

bool BridgeLink::isDrained() const
{
    for (End e : {EndA, EndB}) {
        const PortEndpoint *sink = m_ends[other(e)];
        if (forwards(e) && (!m_pipes[e].isIdle() || (sink && sink->isOpen() && sink->pendingBytes() > 0)))
            return false;
    }
    return true;
}

// ---- Traffic ------------------------------------------------------------------------

void BridgeLink::onTap(End end, const QByteArray &chunk, const QString &peer)
{
    if (!m_running || chunk.isEmpty())
        return;
    if (!peer.isEmpty())
        m_lastSender[end] = peer;
    const qint64 at = now();
    QByteArray bytes = chunk;
    if (!protocolInput(end, bytes, peer, at)) {
        service();
        return;
    }
    if (!forwards(end))
        return;
    addCapture(end, peer, bytes);
    if (m_arbiterEnd == end) {
        m_arbiter.request(bytes, peer, at);
    } else if (m_arbiterEnd == other(end)) {
        const QString owner = m_arbiter.answer(at);
        framesFromDevice(end, m_pipes[end].ingest(bytes, owner, at));
    } else {
        m_pipes[end].ingest(bytes, QString(), at);
    }
    service();
}

void BridgeLink::framesFromDevice(End source, int frames)
{
    // With framing, a complete answer ends the client's turn; unframed answers keep it
    // until the response time passes.
    if (frames > 0 && m_arbiterEnd == other(source) && m_config.FramingMode != BridgeConfig::ForwardImmediately)
        m_arbiter.answerComplete();
}

void BridgeLink::onTimeout()
{
    const qint64 at = now();
    if (m_config.Protocol == BridgeConfig::ModbusGateway && m_protocolEnd >= 0) {
        modbusAnswers(m_answerFramer.onTimer(at), at);
        m_gateway.expire(at);
    }
    for (End e : {EndA, EndB}) {
        if (forwards(e))
            framesFromDevice(e, m_pipes[e].onTimer(at));
    }
    if (m_arbiterEnd >= 0)
        m_arbiter.onTimer(at);
    service();
}

void BridgeLink::onPeerArrived(End end, const QString &peer)
{
    if (speaksTelnet() && end == m_protocolEnd)
        greet(peer);
    service();
}

void BridgeLink::onPeerLost(End end, const QString &peer)
{
    if (end == m_protocolEnd) {
        m_codecs.remove(peer);
        m_gateway.peerLost(peer);
    }
    if (peer.isEmpty())
        return service();
    if (m_arbiterEnd == end)
        m_arbiter.peerLost(peer);
    // Frames addressed to a client that left would block everyone behind them.
    if (forwards(other(end)))
        m_pipes[other(end)].dropPeer(peer);
    if (m_lastSender[end] == peer)
        m_lastSender[end].clear();
    service();
}

void BridgeLink::onDeviceSettingsChanged(End end)
{
    m_stateText.clear(); // a label in it may have changed
    // A new connection mode may make an end a server, or stop it being one.
    configureEnds();
    chooseArbiterEnd();
    chooseProtocolEnd();
    if (m_config.Protocol == BridgeConfig::Rfc2217Client && m_protocolEnd >= 0 && end != m_protocolEnd) {
        const QStringList peers = m_codecs.keys();
        for (const QString &peer : peers)
            sendLineSettings(peer);
    }
    service();
}

// ---- Protocol modes -----------------------------------------------------------------

bool BridgeLink::speaksTelnet() const
{
    return m_config.Protocol == BridgeConfig::Rfc2217Server || m_config.Protocol == BridgeConfig::Rfc2217Client;
}

void BridgeLink::chooseProtocolEnd()
{
    const int before = m_protocolEnd;
    m_protocolEnd = -1;
    for (End e : {EndA, EndB}) {
        const PortEndpoint *ep = m_ends[e], *device = m_ends[other(e)];
        if (!ep || !device || !ep->session() || !device->session() || device->isTcp())
            continue;
        const bool fits = m_config.Protocol == BridgeConfig::Rfc2217Client ? ep->isTcpClient()
                                                                            : m_config.Protocol != BridgeConfig::Transparent && ep->isTcp();
        if (fits) {
            m_protocolEnd = e;
            break;
        }
    }
    if (m_protocolEnd == before)
        return;
    if (before >= 0 && m_ends[before])
        m_ends[before]->setTelnetEscape(false);
    m_codecs.clear();
    if (m_protocolEnd < 0) {
        if (m_config.Protocol != BridgeConfig::Transparent)
            qCInfo(lcBridge) << m_config.displayName() << "has no TCP end facing a device; forwarding as it comes";
        return;
    }
    PortEndpoint *ep = m_ends[m_protocolEnd];
    ep->setTelnetEscape(speaksTelnet());
    // Clients already connected were never greeted.
    if (speaksTelnet() && ep->isOpen()) {
        const QStringList peers = ep->isTcpClient() ? QStringList{QString()} : ep->session()->peers();
        for (const QString &peer : peers)
            greet(peer);
    }
}

void BridgeLink::greet(const QString &peer)
{
    const auto role = m_config.Protocol == BridgeConfig::Rfc2217Client ? Rfc2217Codec::Client : Rfc2217Codec::Server;
    Rfc2217Codec &codec = m_codecs.insert(peer, Rfc2217Codec(role)).value();
    m_ends[m_protocolEnd]->writeRaw(codec.buildHandshake(), peer);
}

bool BridgeLink::protocolInput(End end, QByteArray &bytes, const QString &peer, qint64 at)
{
    if (m_protocolEnd < 0)
        return true;
    if (speaksTelnet()) {
        if (end != m_protocolEnd)
            return true;
        const bool server = m_config.Protocol == BridgeConfig::Rfc2217Server;
        auto it = m_codecs.find(peer);
        if (it == m_codecs.end())
            it = m_codecs.insert(peer, Rfc2217Codec(server ? Rfc2217Codec::Server : Rfc2217Codec::Client));
        const bool accepted = it->comPortAccepted();
        QList<Rfc2217Event> events;
        QByteArray reply;
        bytes = it->parse(bytes, &events, &reply);
        const bool nowAccepted = it->comPortAccepted();
        if (server) {
            PortEndpoint *device = m_ends[other(end)];
            // Copied: applying a line change reopens the port, whose signals may reach back here.
            const Rfc2217Codec codec = *it;
            reply += ComPortServer::serve(codec, events, device ? device->session() : nullptr);
        }
        if (!reply.isEmpty() && m_ends[end])
            m_ends[end]->writeRaw(reply, peer);
        if (!server && !accepted && nowAccepted)
            sendLineSettings(peer);
        return !bytes.isEmpty();
    }
    if (!forwards(end))
        return false;
    if (end == m_protocolEnd) {
        const QList<QByteArray> frames = m_gateway.request(peer, bytes, at);
        for (const QByteArray &frame : frames) {
            addCapture(end, peer, frame);
            if (m_arbiterEnd == end)
                m_arbiter.requestFrame(frame, peer);
            else
                m_pipes[end].ingestFrame(frame, QString(), at);
        }
    } else {
        // Answers whose length their function code tells go at once; anything else
        // waits for the framer's idle gap.
        QList<QByteArray> frames;
        qsizetype at0 = 0;
        for (qsizetype n; m_answerFramer.isEmpty() && (n = ModbusGateway::answerLength(bytes, at0)) > 0
             && at0 + n <= bytes.size() && ModbusGateway::hasValidCrc(bytes.mid(at0, n));
             at0 += n)
            frames.append(bytes.mid(at0, n));
        if (at0 < bytes.size())
            frames += m_answerFramer.push(bytes.mid(at0), at);
        modbusAnswers(frames, at);
    }
    return false;
}

void BridgeLink::modbusAnswers(const QList<QByteArray> &frames, qint64 at)
{
    const End device = other(End(m_protocolEnd));
    const bool turns = m_arbiterEnd == m_protocolEnd;
    for (const QByteArray &frame : frames) {
        const QString owner = turns ? m_arbiter.answer(at) : QString();
        const QList<ModbusGateway::Response> responses = m_gateway.answer(frame, owner, at);
        for (const ModbusGateway::Response &r : responses) {
            addCapture(device, r.peer, r.bytes);
            m_pipes[device].ingestFrame(r.bytes, r.peer, at);
        }
        if (turns)
            m_arbiter.answerComplete();
    }
}

void BridgeLink::sendLineSettings(const QString &peer)
{
    const auto it = m_codecs.constFind(peer);
    PortEndpoint *device = m_ends[other(End(m_protocolEnd))];
    if (it == m_codecs.cend() || !it->comPortAccepted() || !device || !device->session())
        return;
    m_ends[m_protocolEnd]->writeRaw(ComPortServer::lineCommands(*it, device->session()->lineSettingsInEffect()), peer);
    emit message(tr("%1: sent the serial parameters to the remote port").arg(m_config.displayName()));
}

void BridgeLink::service()
{
    if (m_pumping)
        return;
    const qint64 at = now();
    if (m_running) {
        for (End e : {EndA, EndB}) {
            if (forwards(e))
                pump(e);
        }
        if (m_arbiterEnd >= 0) {
            BridgePipe &towards = m_pipes[m_arbiterEnd];
            if (towards.isIdle()) {
                if (const auto request = m_arbiter.next(at)) {
                    towards.ingestFrame(request->bytes, QString(), at);
                    pump(End(m_arbiterEnd));
                }
            }
        }
        for (End e : {EndA, EndB}) {
            if (forwards(e))
                applyHold(e, at);
        }
        qint64 due = -1;
        auto earliest = [&due](qint64 d) {
            if (d >= 0 && (due < 0 || d < due))
                due = d;
        };
        for (End e : {EndA, EndB}) {
            if (forwards(e))
                earliest(m_pipes[e].nextDeadline(at));
        }
        if (m_arbiterEnd >= 0)
            earliest(m_arbiter.nextDeadline(at));
        if (m_config.Protocol == BridgeConfig::ModbusGateway && m_protocolEnd >= 0) {
            earliest(m_answerFramer.nextDeadline(at));
            earliest(m_gateway.nextDeadline(at));
        }
        // Restarting a timer on every chunk costs more than the odd early wake-up.
        if (due < 0)
            m_serviceTimer.stop();
        else if (!m_serviceTimer.isActive() || m_serviceTimer.remainingTime() > due)
            m_serviceTimer.start(int(qMin<qint64>(due, 60000)));
    }
    evaluateState();
}

void BridgeLink::pump(End source)
{
    const End sinkEnd = other(source);
    PortEndpoint *sink = m_ends[sinkEnd];
    BridgePipe &p = m_pipes[source];
    const QScopedValueRollback guard(m_pumping, true);
    for (;;) {
        const BridgePipe::SinkState state{sink && sink->isOpen(), sink ? sink->pendingBytes() : 0};
        const auto write = p.nextWrite(state);
        if (!write)
            break;
        const qint64 taken = sink->write(write->bytes, routeFor(sinkEnd, write->peer));
        p.written(taken);
        if (taken < 1)
            break;
    }
}

void BridgeLink::applyHold(End source, qint64 at)
{
    const BridgePipe::Hold hold = m_pipes[source].updateHold(at);
    if (hold != BridgePipe::Hold::Keep && m_ends[source])
        m_ends[source]->setReadPaused(hold == BridgePipe::Hold::Hold);
}

QString BridgeLink::routeFor(End sink, const QString &peer) const
{
    if (!peer.isEmpty() || !m_ends[sink] || !m_ends[sink]->session())
        return peer;
    const int mode = m_ends[sink]->session()->settings().ConnMode;
    if (mode == TcpServer && m_config.FanoutMode == BridgeConfig::SharePort)
        return PortEndpoint::allPeers();
    if (isUdpMode(mode)) {
        switch (m_config.UdpTargetMode) {
        case BridgeConfig::AllPeers: return PortEndpoint::allPeers();
        case BridgeConfig::ReplyToLastSender: return m_lastSender[sink];
        default: return {};
        }
    }
    return {};
}

// ---- Capture, samples and state -----------------------------------------------------

void BridgeLink::addCapture(End source, const QString &peer, const QByteArray &bytes)
{
    if (!m_capture.isOn())
        return;
    m_capture.add(QDateTime::currentDateTime(), source == EndA ? BridgeCapture::AToB : BridgeCapture::BToA, peer,
                  bytes);
    if (m_capture.mustWriteNow())
        writeCapture();
    else if (!m_captureTimer.isActive())
        m_captureTimer.start();
}

void BridgeLink::writeCapture()
{
    QString error;
    if (m_capture.write(QDateTime::currentDateTime(), &error))
        return;
    m_captureError = error;
    emit message(tr("%1: capture stopped, %2").arg(m_config.displayName(), error));
    emit stateChanged();
}

void BridgeLink::onSampleTick()
{
    const BridgePipe::Counters a = m_pipes[EndA].counters();
    const BridgePipe::Counters b = m_pipes[EndB].counters();
    const qint64 dropped = a.bytesDropped + b.bytesDropped;
    const BridgeSample sample{a.bytesForwarded - m_forwardedAtTick[EndA], b.bytesForwarded - m_forwardedAtTick[EndB],
                              dropped - m_droppedAtTick};
    m_forwardedAtTick = {a.bytesForwarded, b.bytesForwarded};
    m_droppedAtTick = dropped;
    m_samples.append(sample);
    while (m_samples.size() > MaxSamples)
        m_samples.removeFirst();

    const qint64 threshold = m_config.DisplayMuteBytesPerSec;
    if (threshold > 0) {
        const qint64 peak = qMax(sample.aToB, sample.bToA);
        if (peak > threshold && !m_muted) {
            setMuted(true);
            emit message(tr("%1: high throughput, forwarded traffic is no longer shown (logging continues)")
                             .arg(m_config.displayName()));
        } else if (m_muted && peak < threshold / 2) {
            setMuted(false);
        }
    }
    evaluateState();
    emit statsChanged();
}

void BridgeLink::setMuted(bool muted)
{
    m_muted = muted;
    for (End e : {EndA, EndB}) {
        if (forwards(other(e)) && m_ends[e])
            m_ends[e]->setShowInView(m_config.ShowForwardedInDisplay && !m_muted);
    }
}

void BridgeLink::evaluateState()
{
    const bool present[2] = {m_ends[EndA] && m_ends[EndA]->session(), m_ends[EndB] && m_ends[EndB]->session()};
    const bool open[2] = {present[EndA] && m_ends[EndA]->isOpen(), present[EndB] && m_ends[EndB]->isOpen()};
    const BridgePipe *suspended = nullptr;
    for (End e : {EndA, EndB}) {
        if (!suspended && forwards(e) && m_pipes[e].isSuspended())
            suspended = &m_pipes[e];
    }
    // What the text depends on besides the state: the closed end, or the mute.
    BridgeState state = BridgeState::Waiting;
    int detail = 0;
    if (!m_config.Enabled) {
        state = BridgeState::Disabled;
    } else if (suspended) {
        state = BridgeState::Suspended;
    } else if (present[EndA] && present[EndB] && open[EndA] && open[EndB]) {
        state = BridgeState::Running;
        detail = m_muted;
    } else if (present[EndA] && present[EndB] && open[EndA] != open[EndB]) {
        state = BridgeState::Degraded;
        detail = open[EndA] ? EndB : EndA;
    }
    const QString reason = suspended ? suspended->suspendReason() : QString();
    // Called for every chunk: the text is only built when something it shows changed.
    if (state == m_state && detail == m_stateDetail && reason == m_stateReason && !m_stateText.isEmpty())
        return;
    m_state = state;
    m_stateDetail = detail;
    m_stateReason = reason;
    switch (state) {
    case BridgeState::Disabled: m_stateText = tr("Disabled"); break;
    case BridgeState::Suspended: m_stateText = tr("Suspended: %1").arg(reason); break;
    case BridgeState::Running: m_stateText = m_muted ? tr("Running (display paused)") : tr("Running"); break;
    case BridgeState::Degraded: m_stateText = tr("Degraded: %1 is closed").arg(m_ends[detail]->label()); break;
    case BridgeState::Waiting: m_stateText = tr("Waiting for both ends to open"); break;
    }
    emit stateChanged();
}
