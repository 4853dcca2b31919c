#pragma once

#include "bridge/bridgecapture.h"
#include "bridge/bridgeconfig.h"
#include "bridge/bridgepipe.h"
#include "bridge/modbusgateway.h"
#include "bridge/portendpoint.h"
#include "bridge/turnarbiter.h"
#include "connection/rfc2217codec.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>

// Traffic of one second: bytes forwarded each way and bytes dropped in both.
struct BridgeSample
{
    qint64 aToB = 0;
    qint64 bToA = 0;
    qint64 dropped = 0;
};

// Checked in the order Disabled, Suspended, Running, Degraded, Waiting.
enum class BridgeState { Disabled = 0, Waiting = 1, Running = 2, Degraded = 3, Suspended = 4 };

// Forwards traffic between two port sessions, one pipe per direction: it feeds the
// pipes what the sessions receive, writes what they queue into the other end as
// fast as that end takes it, holds a source back while its queue is full, retries
// a blocked destination, lets many clients take turns at one device, mutes the
// views when traffic is too fast to show, keeps per-second samples and records a
// capture file. It is the one driver of its pipes, arbiter, capture and protocol
// engines (RFC 2217 in either role, the Modbus TCP to RTU gateway); it refers to the
// ends through endpoints it does not own.
class BridgeLink : public QObject
{
    Q_OBJECT
public:
    enum End { EndA = 0, EndB = 1 };
    static constexpr int SampleIntervalMs = 1000;
    static constexpr int CaptureIntervalMs = 500;
    static constexpr int MaxSamples = 120;
    using Clock = std::function<qint64()>;

    BridgeLink(const BridgeConfig &config, PortEndpoint *a, PortEndpoint *b, QObject *parent = nullptr);
    ~BridgeLink() override;

    // As given, and as the link runs with it.
    const BridgeConfig &config() const { return m_given; }
    const BridgeConfig &settings() const { return m_config; }
    PortEndpoint *endpoint(End end) const { return m_ends[end].data(); }

    // Connects the taps (when enabled) and takes both ports' leases.
    void start();
    void stop();
    bool isRunning() const { return m_running; }
    void resume();
    // Shutting down: the sources are held and what the framers keep is queued, so
    // that the queues can empty before stop(). Drained once everything is written.
    void drain();
    bool isDrained() const;

    BridgeState state() const { return m_state; }
    QString stateText() const { return m_stateText; }
    bool isDisplayMuted() const { return m_muted; }
    // The pipe whose source is `end`.
    const BridgePipe &pipe(End source) const { return m_pipes[source]; }
    QList<BridgeSample> samples() const { return m_samples; }
    int arbiterWaiting() const { return m_arbiter.waiting(); }
    qint64 arbiterUnanswered() const { return m_arbiter.unanswered(); }
    qint64 arbiterDropped() const { return m_arbiter.dropped(); }
    QString captureError() const { return m_captureError; }
    // Slowing the sender down is asked for, but a source end cannot be held back.
    bool cannotSlowDown() const;

    // The end that speaks the protocol (the TCP end, -1 while transparent or while
    // no end fits), and the Modbus gateway's state.
    int protocolEnd() const { return m_protocolEnd; }
    const ModbusGateway &gateway() const { return m_gateway; }

    // Tests run the link on their own clock.
    void setClock(Clock clock) { m_clock = std::move(clock); }

signals:
    void stateChanged();
    void statsChanged();
    void message(const QString &text);

public slots:
    void onTapA(const QByteArray &bytes, const QString &peer) { onTap(EndA, bytes, peer); }
    void onTapB(const QByteArray &bytes, const QString &peer) { onTap(EndB, bytes, peer); }
    void onTimeout();
    void onSampleTick();

private:
    static End other(End end) { return end == EndA ? EndB : EndA; }
    qint64 readRoom() const { return m_config.QueueLimitBytes - m_config.HighWatermark; }
    qint64 now() const;
    bool forwards(End source) const;
    void onTap(End end, const QByteArray &chunk, const QString &peer);
    void onPeerArrived(End end, const QString &peer);
    void onPeerLost(End end, const QString &peer);
    void onDeviceSettingsChanged(End end);
    void connectEnd(End end);
    void configureEnds();
    void chooseArbiterEnd();
    void framesFromDevice(End source, int frames);
    void chooseProtocolEnd();
    bool speaksTelnet() const;
    void greet(const QString &peer);
    // Protocol bytes are taken out of the input; false when nothing is left for the pipe.
    bool protocolInput(End end, QByteArray &bytes, const QString &peer, qint64 at);
    void modbusAnswers(const QList<QByteArray> &frames, qint64 at);
    void sendLineSettings(const QString &peer);
    void service();
    void pump(End source);
    void applyHold(End source, qint64 at);
    QString routeFor(End sink, const QString &peer) const;
    void addCapture(End source, const QString &peer, const QByteArray &bytes);
    void writeCapture();
    void setMuted(bool muted);
    void evaluateState();

    BridgeConfig m_given;
    BridgeConfig m_config;
    std::array<QPointer<PortEndpoint>, 2> m_ends;
    std::array<BridgePipe, 2> m_pipes;
    std::array<bool, 2> m_leased{};
    std::array<bool, 2> m_bounded{};
    std::array<bool, 2> m_drainHeld{};
    std::array<bool, 2> m_serverConfigured{};
    std::array<QString, 2> m_lastSender;
    TurnArbiter m_arbiter;
    int m_arbiterEnd = -1;
    BridgeCapture m_capture;
    QString m_captureError;
    QList<QMetaObject::Connection> m_connections;
    int m_protocolEnd = -1;
    QHash<QString, Rfc2217Codec> m_codecs; // per peer of the protocol end
    ModbusGateway m_gateway;
    BridgeFramer m_answerFramer; // the device's answers, one frame each

    QElapsedTimer m_elapsed;
    Clock m_clock;
    QTimer m_serviceTimer;
    QTimer m_sampleTimer;
    QTimer m_captureTimer;

    BridgeState m_state = BridgeState::Waiting;
    QString m_stateText;
    int m_stateDetail = -1;
    QString m_stateReason;
    bool m_running = false;
    bool m_muted = false;
    bool m_pumping = false;
    QList<BridgeSample> m_samples;
    std::array<qint64, 2> m_forwardedAtTick{};
    qint64 m_droppedAtTick = 0;
};
