#pragma once

#include "gateway/gatewayoptions.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class BridgeLink;
class PortEndpoint;
class PortSession;

// Runs quillon-gateway's bridges: per bridge a serial port session and a TCP server
// session, both without a view, and the link between them. A serial port that is
// missing or lost is opened again every two seconds. Log lines go to standard error.
class Gateway : public QObject
{
    Q_OBJECT
public:
    static constexpr int RetryMs = 2000;
    // How long data on its way may take to leave on shutdown.
    static constexpr int DrainMs = 1000;

    explicit Gateway(const QList<GatewayBridge> &bridges, QObject *parent = nullptr);
    ~Gateway() override;

    // Listens and opens the serial ports; false (with the reason) when a TCP port
    // cannot be served.
    bool start(QString *error);
    // Holds the inputs, lets queued data leave for up to DrainMs, then stops every
    // link and port; finished() follows.
    void shutdown();
    BridgeLink *link(int index) const;
    // Where log lines go (standard error unless set).
    void setLogSink(std::function<void(const QString &)> sink) { m_sink = std::move(sink); }

signals:
    void finished();

private:
    struct Running
    {
        GatewayBridge bridge;
        std::unique_ptr<PortSession> serial;
        std::unique_ptr<PortSession> network;
        std::unique_ptr<PortEndpoint> serialEnd;
        std::unique_ptr<PortEndpoint> networkEnd;
        std::unique_ptr<BridgeLink> link;
        QString lastState;
    };

    void log(const QString &text) const;
    void openSerialPorts();
    void checkDrained();
    QString summary(const Running &r) const;

    std::vector<std::unique_ptr<Running>> m_bridges;
    QTimer m_retry;
    QTimer m_drainPoll;
    QElapsedTimer m_draining;
    bool m_stopping = false;
    std::function<void(const QString &)> m_sink;
};
