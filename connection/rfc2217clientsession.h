#pragma once

#include "connection/rfc2217codec.h"
#include "connection/rfc2217result.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

struct Rfc2217LineConfig;

// The client end of a remote serial port: negotiates COM-PORT-OPTION, pushes the pane's
// line settings and records what the device server reports.
//
// Call order: start() when the TCP connection is up (write its bytes and arm a single-shot
// timer of HandshakeTimeoutMs); decode() every received chunk; handshakeTimedOut() when
// that timer fires; applyConfig() once a result ends the negotiation in the active state
// and again whenever the settings change; encodeData() for every outgoing payload;
// reset() when the connection is lost. Performs no I/O and owns no timer.
class Rfc2217ClientSession
{
    Q_DECLARE_TR_FUNCTIONS(Rfc2217ClientSession)

public:
    enum State : qint32 {
        Negotiating = 0,
        Active = 1,
        PlainTelnet = 2,
        TransparentTcp = 3,
    };

    static constexpr int HandshakeTimeoutMs = 3000;


    void reset();
    QByteArray start();
    QByteArray encodeData(const QByteArray &bytes) const;
    Rfc2217Result decode(const QByteArray &bytes);
    Rfc2217Result handshakeTimedOut();
    QByteArray setBreak(bool on) const;
    QByteArray applyConfig(const Rfc2217LineConfig &config);
    QString remoteSummary() const;

    State state() const { return m_state; }
    const Rfc2217Codec &codec() const { return m_codec; }
    bool gotComPortReply() const { return m_gotComPortReply; }
    QString remoteSignature() const { return m_remoteSignature; }
    quint32 remoteBaudRate() const { return m_remoteBaudRate; }
    quint32 remoteDataBits() const { return m_remoteDataBits; }
    quint32 remoteParity() const { return m_remoteParity; }
    quint32 remoteStopBits() const { return m_remoteStopBits; }
    quint32 remoteFlowControl() const { return m_remoteFlowControl; }
    bool remoteDtrKnown() const { return m_remoteDtrKnown; }
    bool remoteDtr() const { return m_remoteDtr; }
    bool remoteRtsKnown() const { return m_remoteRtsKnown; }
    bool remoteRts() const { return m_remoteRts; }
    bool remoteModemStateKnown() const { return m_remoteModemStateKnown; }
    quint8 remoteModemState() const { return m_remoteModemState; }

private:
    void applyEvent(const Rfc2217Event &event, Rfc2217Result &result);

    Rfc2217Codec m_codec;
    State m_state = Negotiating;

    bool m_preambleSent = false;
    bool m_configSent = false;
    quint32 m_sentBaudRate = 0;
    quint8 m_sentDataBits = 0;
    quint8 m_sentParity = 0;
    quint8 m_sentStopBits = 0;
    quint8 m_sentFlowControl = 0;
    bool m_sentDtr = false;
    bool m_sentRts = false;

    bool m_gotComPortReply = false;
    QString m_remoteSignature;
    quint32 m_remoteBaudRate = 0;
    quint32 m_remoteDataBits = 0;
    quint32 m_remoteParity = 0;
    quint32 m_remoteStopBits = 0;
    quint32 m_remoteFlowControl = 0;
    bool m_remoteDtrKnown = false;
    bool m_remoteDtr = false;
    bool m_remoteRtsKnown = false;
    bool m_remoteRts = false;
    bool m_remoteModemStateKnown = false;
    quint8 m_remoteModemState = 0;
};
