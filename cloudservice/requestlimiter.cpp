#include "cloudservice/requestlimiter.h"

#include <QList>

#include <algorithm>
#include <limits>

RequestLimiter::RequestLimiter(qint64 maxHeadBytes, qint64 maxBodyBytes)
    : m_maxHead(maxHeadBytes), m_maxBody(maxBodyBytes)
{
}

RequestLimiter::Verdict RequestLimiter::feed(QByteArrayView bytes)
{
    const qint64 passedBefore = m_passed;
    while (!bytes.isEmpty()) {
        if (idle() && m_passed > passedBefore
            && std::any_of(bytes.begin(), bytes.end(), [](char c) { return c != '\r' && c != '\n'; }))
            return Verdict::Pipelined;
        if (!m_inHead) {
            const qint64 take = qMin<qint64>(m_bodyLeft, bytes.size());
            m_bodyLeft -= take;
            bytes = bytes.sliced(take);
            if (m_bodyLeft == 0) {
                m_inHead = true;
                ++m_passed;
            }
            continue;
        }
        // Only the unsearched tail plus three bytes of overlap is scanned again.
        const qsizetype scanFrom = qMax<qsizetype>(0, m_head.size() - 3);
        const qsizetype room = qsizetype(m_maxHead) - m_head.size() + 1;
        const qsizetype take = qMin(bytes.size(), qMax<qsizetype>(room, 0));
        m_head.append(bytes.first(take));
        // Empty lines before a request line are allowed and skipped.
        while (m_head.startsWith("\r\n"))
            m_head.remove(0, 2);
        while (m_head.startsWith('\n'))
            m_head.remove(0, 1);
        qsizetype end = m_head.indexOf("\r\n\r\n", qMin(scanFrom, m_head.size()));
        qsizetype endLength = 4;
        const qsizetype bare = m_head.indexOf("\n\n", qMin(scanFrom, m_head.size()));
        if (bare >= 0 && (end < 0 || bare < end)) {
            end = bare;
            endLength = 2;
        }
        if (end < 0) {
            if (m_head.size() > m_maxHead)
                return Verdict::HeadTooLarge;
            bytes = bytes.sliced(take);
            continue;
        }
        const qsizetype headLength = end + endLength;
        if (headLength > m_maxHead)
            return Verdict::HeadTooLarge;
        // Bytes after the head in this chunk belong to the body or to the next request.
        const qsizetype consumed = take - (m_head.size() - headLength);
        bytes = bytes.sliced(consumed);
        const Verdict verdict = endOfHead(headLength);
        if (verdict == Verdict::BodyTooLarge)
            m_bodyLeft -= qMin<qint64>(m_bodyLeft, bytes.size());
        if (verdict != Verdict::Pass)
            return verdict;
    }
    return Verdict::Pass;
}

RequestLimiter::Verdict RequestLimiter::endOfHead(qsizetype headLength)
{
    const QList<QByteArray> lines = m_head.first(headLength).split('\n');
    m_head.clear();
    qint64 length = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.first(colon).trimmed().toLower();
        const QByteArray value = line.sliced(colon + 1).trimmed();
        if (name == "transfer-encoding")
            return Verdict::LengthRequired;
        if (name != "content-length")
            continue;
        bool ok = false;
        const qint64 parsed = value.toLongLong(&ok);
        const bool digitsOnly = !value.isEmpty()
                && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digitsOnly || (ok && length >= 0 && parsed != length))
            return Verdict::BadRequest;
        // More digits than 64 bits hold is simply too large.
        length = ok ? parsed : std::numeric_limits<qint64>::max();
    }
    m_bodyLeft = qMax<qint64>(length, 0);
    m_declared = m_bodyLeft;
    if (m_bodyLeft > m_maxBody)
        return Verdict::BodyTooLarge;
    if (m_bodyLeft == 0)
        ++m_passed;
    else
        m_inHead = false;
    return Verdict::Pass;
}
