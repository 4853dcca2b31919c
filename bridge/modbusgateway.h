#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <deque>
#include <optional>

// Splits one client's Modbus TCP stream into requests (MBAP header, unit id, PDU).
//
// No I/O. Call order: feed() with every chunk of the stream in arrival order; it
// returns the requests complete by then. A header with a foreign protocol id or an
// impossible length empties the buffer: the stream is taken up afresh with the next
// chunk, so a client that lost its framing recovers with its next request. At most
// one incomplete request is kept between calls.
class MbapParser
{
public:
    static constexpr int HeaderBytes = 7; // transaction, protocol, length, unit
    static constexpr int MinLength = 2;   // unit id and function code
    static constexpr int MaxLength = 254; // unit id and the largest PDU (253)

    struct Request
    {
        quint16 transactionId = 0;
        quint8 unit = 0;
        QByteArray pdu;
    };

    QList<Request> feed(const QByteArray &bytes);
    qint64 malformed() const { return m_malformed; }
    qsizetype buffered() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
    qint64 m_malformed = 0;
};

// Modbus TCP clients in front of one Modbus RTU line: turns their requests into RTU
// frames, keeps the transactions that wait for an answer, and turns each RTU answer
// back into the response for the client whose transaction it answers.
//
// No I/O and no timers; times are ms of one monotonic clock. Call order: configure();
// request() with each chunk a client sends (write the frames it returns to the line);
// answer() with each frame the line delivers (send each response to its peer);
// expire() once nextDeadline() has passed; peerLost() when a client leaves.
//
// Answers carry no transaction id, so they are matched by unit and function, oldest
// first: the client that owns the line (when clients take turns) or else the client
// whose transaction for that unit has waited longest gets it. The line answers in the
// order it was asked, so with several clients sharing it each still receives its own.
// A transaction pushed out by newer ones was already sent: it stays as a placeholder
// until its answer comes (and is dropped) or its time is up, so that the answers
// after it still reach their own requests.
class ModbusGateway
{
public:
    static constexpr int MaxPending = 32; // per client; the oldest goes first
    static constexpr int MinRtuFrame = 4; // unit, function, CRC

    struct Response
    {
        QString peer;
        QByteArray bytes;
    };
    struct Counters
    {
        qint64 requests = 0;
        qint64 responses = 0;
        qint64 malformedRequests = 0;
        qint64 failedAnswers = 0; // short, or a bad CRC
        qint64 unmatchedAnswers = 0;
        qint64 expired = 0; // timed out, or pushed out by newer ones
    };

    void configure(qint64 transactionTimeoutMs);
    QList<QByteArray> request(const QString &peer, const QByteArray &bytes, qint64 now);
    // owner: the client that owns the line, or empty to match across all clients.
    // Answers that the line sent back to back without a gap are taken apart.
    QList<Response> answer(const QByteArray &frame, const QString &owner, qint64 now);
    void expire(qint64 now);
    // Milliseconds until the oldest transaction expires, -1 when none waits.
    qint64 nextDeadline(qint64 now) const;
    void peerLost(const QString &peer);

    int pending() const;
    int clients() const { return int(m_clients.size()); }
    Counters counters() const;

    static QByteArray rtuFrame(quint8 unit, const QByteArray &pdu);
    static bool hasValidCrc(const QByteArray &frame);
    // The length of the RTU answer at the start of bytes, from its function code and
    // byte count; 0 when the function does not tell.
    static qsizetype answerLength(const QByteArray &bytes, qsizetype from = 0);

private:
    struct Pending
    {
        quint16 transactionId;
        quint8 unit;
        quint8 function;
        qint64 sentAt;
        quint64 order;
        bool dropped = false; // pushed out: its answer goes nowhere
    };
    struct Client
    {
        MbapParser parser;
        std::deque<Pending> pending;
    };

    std::optional<Response> match(const QByteArray &frame, const QString &owner);
    QList<QByteArray> splitAnswers(const QByteArray &frame) const;
    static int live(const std::deque<Pending> &pending);

    QHash<QString, Client> m_clients;
    qint64 m_timeoutMs = 2000;
    quint64 m_order = 0;
    Counters m_counters;
    qint64 m_malformedOfGone = 0; // malformed requests of clients that have left
};
