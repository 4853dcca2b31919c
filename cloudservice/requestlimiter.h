#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// Follows the requests on one HTTP/1.1 connection ahead of the HTTP parser and says
// when one must be refused because of its size or framing. The parser of Qt HttpServer
// buffers a whole request (twice) before any handler runs, so this is the only place
// where an oversize request can be stopped before it costs memory.
// Qt HttpServer 6.4 also merges two requests that reach it in one read into one, so a
// chunk that holds the start of a request after the end of another is refused.
// Call order: feed() with every chunk of the connection's bytes, in order, before the
// parser sees it; stop feeding after the first verdict other than Pass.
class RequestLimiter
{
public:
    enum class Verdict {
        Pass,           // nothing wrong so far
        HeadTooLarge,   // request line and headers exceed the head limit (431)
        BodyTooLarge,   // Content-Length above the body limit (413)
        LengthRequired, // chunked or other transfer coding: size unknown up front (411)
        BadRequest,     // unreadable or contradictory Content-Length (400)
        Pipelined,      // a request follows another in the same chunk (400)
    };

    RequestLimiter(qint64 maxHeadBytes, qint64 maxBodyBytes);

    Verdict feed(QByteArrayView bytes);

    // True between requests: no byte of a next request seen yet.
    bool idle() const { return m_inHead && m_head.isEmpty(); }
    // True while a passed head's body is still arriving; its Content-Length.
    bool inBody() const { return !m_inHead; }
    qint64 declaredBodyBytes() const { return m_declared; }
    // After BodyTooLarge: declared body bytes not yet fed, which the client may still send.
    qint64 bodyBytesOutstanding() const { return m_bodyLeft; }
    // Requests whose head and body have been passed completely.
    qint64 requestsPassed() const { return m_passed; }

private:
    Verdict endOfHead(qsizetype headLength);

    qint64 m_maxHead;
    qint64 m_maxBody;
    bool m_inHead = true;
    QByteArray m_head;
    qint64 m_bodyLeft = 0;
    qint64 m_declared = 0;
    qint64 m_passed = 0;
};
