#pragma once

#include "transfer/xferaction.h"
#include "transfer/xferfileinfo.h"
#include "transfer/xferprogress.h"
#include "transfer/xferprotocol.h"

#include <QByteArray>
#include <QCoreApplication>

class XferSink;
class XferSource;

// Sends or receives one file with XMODEM, XMODEM-CRC, XMODEM-1K, YMODEM or YMODEM-G.
//
// No I/O and no timers: every call takes the monotonic time in ms and returns an
// XferAction. Call order: init, then setSource (send) or setSink (receive) and
// setReceiveCap, then start once. Afterwards feed every received chunk, call
// onDrained when all bytes of the previous actions have been written, and onTimer
// when the last reported timeout has expired. cancel may be called at any time.
// Once an action is done or failed, write its bytes and stop.
class XmodemCodec
{
    Q_DECLARE_TR_FUNCTIONS(XmodemCodec)

public:
    enum State : qint32 {
        SendWaitStart = 0,
        SendWaitAck = 1,
        SendHeaderAcked = 2,
        SendEotAcked = 3,
        SendStreaming = 4,
        ReceiveStart = 5,
        ReceiveBlocks = 6,
        ReceiveAfterFile = 7,
        Done = 8,
        Failed = 9,
    };

    static constexpr char Soh = 0x01;
    static constexpr char Stx = 0x02;
    static constexpr char Eot = 0x04;
    static constexpr char Ack = 0x06;
    static constexpr char Bs = 0x08;
    static constexpr char Nak = 0x15;
    static constexpr char Can = 0x18;
    static constexpr char Sub = 0x1a;
    static constexpr char CrcRequest = 'C';
    static constexpr char StreamRequest = 'G';

    static constexpr qint64 StartTimeoutMs = 60000;
    static constexpr qint64 BlockTimeoutMs = 10000;
    static constexpr qint64 CrcRequestIntervalMs = 3000;
    static constexpr qint32 MaxRetries = 10;
    // Input only piles up while our own output is still being written; a device that
    // keeps talking past this is flooding us and the excess is dropped.
    static constexpr qint64 MaxBufferedInput = 1 << 20;

    void init(bool receive, XferProtocol protocol, qint32 blockSize = 1024);
    void setSource(XferSource *source) { m_source = source; }
    void setSink(XferSink *sink) { m_sink = sink; }
    void setReceiveCap(qint64 bytes) { m_receiveCap = bytes; }

    XferAction start(const XferFileInfo &info, qint64 now);
    XferAction feed(const QByteArray &bytes, qint64 now);
    XferAction onTimer(qint64 now);
    XferAction onDrained(qint64 now);
    XferAction cancel(qint64 now);

    XferProgress progress() const;
    State state() const { return m_state; }
    bool isReceiver() const { return m_receive; }
    bool isEnded() const { return m_state == Done || m_state == Failed; }
    const XferFileInfo &fileInfo() const { return m_info; }
    qint64 bufferedInput() const { return m_input.size() - m_inputPos; }

    static quint16 crc16(const char *data, qint64 size);
    static quint8 checksum8(const char *data, qint64 size);
    static QByteArray buildFrame(quint8 block, const QByteArray &payload, bool crc);
    static QByteArray buildHeader(const XferFileInfo &info);
    static QByteArray abortSequence();

private:
    enum LastSent : qint32 { SentNothing = 0, SentHeader = 1, SentData = 2, SentEot = 3, SentEndOfBatch = 4 };

    bool isYmodem() const { return m_protocol == Ymodem || m_protocol == YmodemG; }
    char startRequest() const;

    XferAction send(const QByteArray &bytes, qint64 timeoutAfterDrain);
    XferAction idle(qint64 now) const;
    XferAction fail(qint32 code, const QString &message, bool sendAbort);
    XferAction finishDone(const QByteArray &lastBytes);
    void dropInput();
    void consumeInput();

    XferAction parseSender(qint64 now);
    XferAction senderByte(char c, qint64 now);
    XferAction senderAck(qint64 now);
    XferAction senderRetry(bool timedOut);
    XferAction sendDataBlock();
    XferAction sendEot();
    XferAction sendEndOfBatch();
    XferAction senderTimeout(qint64 now);

    XferAction parseReceiver(qint64 now);
    XferAction receiverBlock(quint8 block, const char *payload, qint32 size, qint64 now);
    XferAction receiverHeader(const char *payload, qint32 size, qint64 now);
    XferAction receiverBadFrame();
    XferAction receiverEot(bool alone, qint64 now);
    XferAction receiverTimeout(qint64 now);

    bool m_receive = false;
    XferProtocol m_protocol = Xmodem;
    qint32 m_blockSize = 1024;
    State m_state = SendWaitStart;
    XferSource *m_source = nullptr;
    XferSink *m_sink = nullptr;
    XferFileInfo m_info;
    qint64 m_receiveCap = 0;

    QByteArray m_input;
    qint64 m_inputPos = 0;
    QByteArray m_lastBlock;

    bool m_crc = false;
    bool m_streaming = false;
    bool m_headerSent = false;
    bool m_gotData = false;
    bool m_resentOnTimeout = false;  // the last block went out again because our timer fired
    bool m_noise = false;  // stray bytes since the last good frame or our last NAK
    LastSent m_lastSent = SentNothing;
    bool m_outputPending = false;
    qint32 m_payloadLength = 0;

    qint64 m_offset = 0;
    qint64 m_received = 0;
    quint8 m_block = 0;
    qint32 m_lastAccepted = -1;
    qint32 m_blockRetries = 0;
    qint32 m_totalRetries = 0;
    qint32 m_startRequests = 0;
    qint32 m_canCount = 0;

    qint64 m_startTime = 0;
    qint64 m_deadline = -1;
    qint64 m_pendingTimeout = -1;
};
