#include "gateway/gateway.h"

#include "bridge/bridgelink.h"
#include "bridge/portendpoint.h"
#include "connection/connectioncontroller.h"
#include "connection/connectionmode.h"
#include "session/portsession.h"

#include <QDateTime>

#include <cstdio>

Gateway::Gateway(const QList<GatewayBridge> &bridges, QObject *parent)
    : QObject(parent)
{
    for (const GatewayBridge &b : bridges) {
        auto r = std::make_unique<Running>();
        r->bridge = b;
        r->bridge.config.PortA = 0; // the network end
        r->bridge.config.PortB = 1; // the serial end
        r->serial = std::make_unique<PortSession>(b.serial, 1);
        FormatSetting net;
        net.ConnMode = TcpServer;
        net.LastTargetPort = b.listenPort;
        net.PortName = QStringLiteral("%1:%2").arg(b.listenAddress.toString()).arg(b.listenPort);
        r->network = std::make_unique<PortSession>(net, 0);
        r->network->controller()->setListenAddress(b.listenAddress);
        m_bridges.push_back(std::move(r));
    }
    m_retry.setInterval(RetryMs);
    connect(&m_retry, &QTimer::timeout, this, &Gateway::openSerialPorts);
    m_drainPoll.setInterval(10);
    connect(&m_drainPoll, &QTimer::timeout, this, &Gateway::checkDrained);
}

Gateway::~Gateway()
{
    for (auto &r : m_bridges) {
        if (r->link)
            r->link->stop();
    }
}

BridgeLink *Gateway::link(int index) const
{
    return index >= 0 && index < int(m_bridges.size()) ? m_bridges[index]->link.get() : nullptr;
}

void Gateway::log(const QString &text) const
{
    if (m_sink)
        return m_sink(text);
    const QString line = QStringLiteral("%1 quillon-gateway: %2\n")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")), text);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

bool Gateway::start(QString *error)
{
    for (auto &r : m_bridges) {
        Running *run = r.get();
        const QString name = run->bridge.config.displayName();
        if (!run->network->open()) {
            *error = tr("%1: cannot listen on %2").arg(name, run->network->settings().PortName);
            return false;
        }
        connect(run->network.get(), &PortSession::peerArrived, this,
                [this, name](const QString &peer) { log(tr("%1: client %2 connected").arg(name, peer)); });
        connect(run->network.get(), &PortSession::peerLost, this,
                [this, name](const QString &peer) { log(tr("%1: client %2 left").arg(name, peer)); });
        // Refused clients and listening problems.
        connect(run->network->controller(), &ConnectionController::statusMessage, this,
                [this, name](const QString &text) { log(QStringLiteral("%1: %2").arg(name, text)); });
        run->serial->setAutoReconnect(true);
        run->networkEnd = std::make_unique<PortEndpoint>(run->network.get());
        run->serialEnd = std::make_unique<PortEndpoint>(run->serial.get());
        run->link = std::make_unique<BridgeLink>(run->bridge.config, run->networkEnd.get(), run->serialEnd.get());
        connect(run->link.get(), &BridgeLink::message, this, [this](const QString &text) { log(text); });
        connect(run->link.get(), &BridgeLink::stateChanged, this, [this, run, name] {
            const QString state = run->link->stateText();
            if (state != std::exchange(run->lastState, state))
                log(tr("%1: %2").arg(name, state));
        });
        static const char *protocols[] = {"raw", "rfc2217", "modbus", "rfc2217-client"};
        log(tr("%1: serving %2 on %3 (%4)")
                .arg(name, run->bridge.serial.PortName, run->network->settings().PortName,
                     QLatin1String(protocols[run->link->settings().Protocol])));
        run->link->start();
    }
    openSerialPorts();
    m_retry.start();
    return true;
}

void Gateway::openSerialPorts()
{
    for (auto &r : m_bridges) {
        if (r->serial->isOpen() || r->serial->isReconnectArmed())
            continue;
        QString failure;
        const auto c = connect(r->serial->controller(), &ConnectionController::errorOccurred, this,
                               [&failure](const QString &text) { failure = text; });
        const bool opened = r->serial->open();
        disconnect(c);
        if (opened)
            log(tr("%1: opened %2").arg(r->bridge.config.displayName(), r->bridge.serial.PortName));
        else if (failure != std::exchange(r->lastState, failure))
            log(tr("%1: %2; trying again every %3 s").arg(r->bridge.config.displayName(), failure).arg(RetryMs / 1000));
    }
}

void Gateway::shutdown()
{
    if (std::exchange(m_stopping, true))
        return;
    m_retry.stop();
    log(tr("stopping"));
    for (auto &r : m_bridges) {
        if (r->link)
            r->link->drain();
    }
    m_draining.start();
    m_drainPoll.start();
    checkDrained();
}

void Gateway::checkDrained()
{
    bool drained = true;
    for (auto &r : m_bridges)
        drained = drained && (!r->link || r->link->isDrained());
    if (!drained && m_draining.elapsed() < DrainMs)
        return;
    m_drainPoll.stop();
    for (auto &r : m_bridges) {
        if (r->link) {
            r->link->stop();
            log(summary(*r));
        }
        r->serial->close();
        r->network->close();
    }
    emit finished();
}

QString Gateway::summary(const Running &r) const
{
    const BridgePipe::Counters toDevice = r.link->pipe(BridgeLink::EndA).counters();
    const BridgePipe::Counters toNetwork = r.link->pipe(BridgeLink::EndB).counters();
    QString text = tr("%1: %2 bytes to the serial port, %3 bytes to the network, %4 bytes dropped")
                       .arg(r.bridge.config.displayName())
                       .arg(toDevice.bytesForwarded)
                       .arg(toNetwork.bytesForwarded)
                       .arg(toDevice.bytesDropped + toNetwork.bytesDropped);
    if (r.link->settings().Protocol == BridgeConfig::ModbusGateway) {
        const ModbusGateway::Counters m = r.link->gateway().counters();
        text += tr("; Modbus: %1 requests, %2 responses, %3 malformed requests, %4 failed answers, %5 unmatched answers, %6 expired")
                    .arg(m.requests)
                    .arg(m.responses)
                    .arg(m.malformedRequests)
                    .arg(m.failedAnswers)
                    .arg(m.unmatchedAnswers)
                    .arg(m.expired);
    }
    return text;
}
