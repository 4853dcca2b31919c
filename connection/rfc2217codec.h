#pragma once

#include "connection/rfc2217event.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <array>

// Telnet parser and COM-PORT-OPTION (RFC 2217) codec for either end of the link.
//
// Call order: construct with the role (or reset(role)), write buildHandshake() once the
// TCP connection is up, then feed every received chunk to parse() in arrival order and
// write the reply it fills in. State carries over between calls, so commands split across
// reads are handled. escapeData() doubles 0xFF in outgoing payload; buildSuboption() frames
// a COM-PORT command (the server role adds 100 to the code). No I/O, no timers.
class Rfc2217Codec
{
public:
    enum Role : qint32 { Server = 0, Client = 1 };

    enum Telnet : quint8 {
        Se = 240,
        Sb = 250,
        Will = 251,
        Wont = 252,
        Do = 253,
        Dont = 254,
        Iac = 255,
    };

    enum Option : quint8 {
        OptionBinary = 0,
        OptionSuppressGoAhead = 3,
        OptionComPort = 44,
    };

    enum Code : quint8 {
        Signature = 0,
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyLineState = 6,
        NotifyModemState = 7,
        FlowControlSuspend = 8,
        FlowControlResume = 9,
        SetLineStateMask = 10,
        SetModemStateMask = 11,
        PurgeData = 12,
        ServerOffset = 100,
    };

    // The longest legitimate suboption is the option byte, the code and a signature text;
    // every other one is at most six bytes. 256 bytes leave 254 for a signature, far more
    // than any device server sends, and bound the memory a hostile peer can pin per
    // connection (a bridge may serve many). A longer suboption is dropped whole.
    static constexpr qsizetype MaxSubnegotiation = 256;

    explicit Rfc2217Codec(Role role = Client);

    void reset(Role role);
    Role role() const { return m_role; }

    // IAC WILL/DO for the supported options, recorded as given answers.
    QByteArray buildHandshake();
    static QByteArray escapeData(const QByteArray &bytes);
    QByteArray buildSuboption(quint8 code, const QByteArray &payload) const;
    // Returns the payload bytes; Telnet answers are appended to reply, decoded COM-PORT
    // suboptions to events (either may be null).
    QByteArray parse(const QByteArray &bytes, QList<Rfc2217Event> *events, QByteArray *reply);

    bool comPortAccepted() const { return m_comPortAccepted; }
    bool sawTelnet() const { return m_sawTelnet; }
    quint8 modemStateMask() const { return m_modemStateMask; }
    qsizetype pendingSubnegotiationSize() const { return m_subBuffer.size(); }

    static bool isSupportedOption(quint8 option);
    // Value mappings between the serial-port module and RFC 2217.
    static quint8 parityToWire(qint32 parity);
    static qint32 parityFromWire(quint8 wire); // -1 when undefined
    static quint8 stopBitsToWire(qint32 stopBits);
    static quint8 flowControlToWire(qint32 flowControl); // SET-CONTROL value
    static qint32 flowControlFromWire(quint8 control); // -1 when not a flow-control value
    static QByteArray baudRatePayload(quint32 baudRate);

private:
    enum ParseState : quint8 { Data, AfterIac, OptionByte, InSub, IacInSub };
    enum Answer : qint8 { Unknown = -1, No = 0, Yes = 1 };

    void handleCommand(quint8 byte);
    void handleOption(quint8 command, quint8 option, QByteArray *reply);
    void answer(std::array<qint8, 256> &answers, quint8 command, quint8 option, QByteArray *reply);
    void decodeSuboption(QList<Rfc2217Event> *events);

    Role m_role = Client;
    ParseState m_state = Data;
    quint8 m_pendingCommand = 0;
    bool m_subOverflow = false;
    QByteArray m_subBuffer;
    bool m_comPortAccepted = false;
    bool m_sawTelnet = false;
    quint8 m_modemStateMask = 0;
    std::array<qint8, 256> m_doAnswers;
    std::array<qint8, 256> m_willAnswers;
};
