#include "transfer/xmodemcodec.h"

#include "transfer/xfersink.h"
#include "transfer/xfersource.h"

#include <QStringList>

#include <algorithm>

namespace {

constexpr qint32 HeaderPayload = 128;
constexpr qint32 MaxHeaderName = 100;

// v[k][x]: the CRC contribution of byte x followed by k zero bytes. Eight bytes then
// cost eight independent lookups instead of a chain of eight dependent steps.
struct CrcTable
{
    quint16 v[8][256];
    constexpr CrcTable() : v()
    {
        for (int i = 0; i < 256; ++i) {
            quint16 c = quint16(i << 8);
            for (int b = 0; b < 8; ++b)
                c = (c & 0x8000) ? quint16((c << 1) ^ 0x1021) : quint16(c << 1);
            v[0][i] = c;
        }
        for (int k = 1; k < 8; ++k) {
            for (int i = 0; i < 256; ++i)
                v[k][i] = quint16(v[k - 1][i] << 8) ^ v[0][v[k - 1][i] >> 8];
        }
    }
};
constexpr CrcTable crcTable;

} // namespace

void XmodemCodec::init(bool receive, XferProtocol protocol, qint32 blockSize)
{
    *this = XmodemCodec();
    m_receive = receive;
    m_protocol = protocol;
    m_blockSize = blockSize == 128 ? 128 : 1024;
    m_state = receive ? ReceiveStart : SendWaitStart;
    m_crc = protocol != Xmodem;
    m_streaming = receive && protocol == YmodemG;
}

quint16 XmodemCodec::crc16(const char *data, qint64 size)
{
    const auto *p = reinterpret_cast<const quint8 *>(data);
    const auto &t = crcTable.v;
    quint16 crc = 0;
    qint64 i = 0;
    for (; i + 8 <= size; i += 8, p += 8) {
        const quint16 head = crc ^ quint16(p[0] << 8 | p[1]);
        crc = t[7][head >> 8] ^ t[6][head & 0xff] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]]
            ^ t[0][p[7]];
    }
    for (; i < size; ++i, ++p)
        crc = quint16(crc << 8) ^ t[0][quint8((crc >> 8) ^ *p)];
    return crc;
}

quint8 XmodemCodec::checksum8(const char *data, qint64 size)
{
    quint8 sum = 0;
    for (qint64 i = 0; i < size; ++i)
        sum = quint8(sum + quint8(data[i]));
    return sum;
}

QByteArray XmodemCodec::buildFrame(quint8 block, const QByteArray &payload, bool crc)
{
    QByteArray frame;
    frame.reserve(3 + payload.size() + 2);
    frame.append(payload.size() == 1024 ? Stx : Soh);
    frame.append(char(block));
    frame.append(char(255 - block));
    frame.append(payload);
    if (crc) {
        const quint16 c = crc16(payload.constData(), payload.size());
        frame.append(char(c >> 8));
        frame.append(char(c & 0xff));
    } else {
        frame.append(char(checksum8(payload.constData(), payload.size())));
    }
    return frame;
}

QByteArray XmodemCodec::buildHeader(const XferFileInfo &info)
{
    QByteArray name = info.name.toUtf8();
    if (name.size() > MaxHeaderName) {
        // Cut at a character boundary so the receiver still gets valid UTF-8.
        qsizetype cut = MaxHeaderName;
        while (cut > 0 && (quint8(name.at(cut)) & 0xc0) == 0x80)
            --cut;
        name.truncate(cut);
    }
    QByteArray header = name;
    header.append('\0');
    header.append(QByteArray::number(std::max<qint64>(info.size, 0)));
    if (info.mtime > 0) {
        header.append(' ');
        header.append(QByteArray::number(info.mtime, 8));
    }
    header.append('\0');
    if (header.size() > HeaderPayload)
        header.truncate(HeaderPayload);
    else
        header.append(QByteArray(HeaderPayload - header.size(), '\0'));
    return header;
}

QByteArray XmodemCodec::abortSequence()
{
    return QByteArray(8, Can) + QByteArray(8, Bs);
}

char XmodemCodec::startRequest() const
{
    if (!m_crc)
        return Nak;
    return m_protocol == YmodemG ? StreamRequest : CrcRequest;
}

XferAction XmodemCodec::send(const QByteArray &bytes, qint64 timeoutAfterDrain)
{
    // The timeout starts only once the bytes are out, so slow lines do not eat into it.
    m_outputPending = true;
    m_pendingTimeout = timeoutAfterDrain;
    m_deadline = -1;
    XferAction action;
    action.bytes = bytes;
    return action;
}

XferAction XmodemCodec::idle(qint64 now) const
{
    XferAction action;
    if (m_deadline >= 0 && !isEnded())
        action.timeoutMs = qint32(std::max<qint64>(0, m_deadline - now));
    return action;
}

XferAction XmodemCodec::fail(qint32 code, const QString &message, bool sendAbort)
{
    m_state = Failed;
    dropInput();
    m_deadline = -1;
    m_pendingTimeout = -1;
    XferAction action;
    action.failed = true;
    action.errorCode = code;
    action.message = message;
    if (sendAbort) {
        action.bytes = abortSequence();
        m_outputPending = true;
    }
    return action;
}

XferAction XmodemCodec::finishDone(const QByteArray &lastBytes)
{
    m_state = Done;
    dropInput();
    m_deadline = -1;
    m_pendingTimeout = -1;
    XferAction action;
    action.done = true;
    action.bytes = lastBytes;
    if (!lastBytes.isEmpty())
        m_outputPending = true;
    return action;
}

void XmodemCodec::dropInput()
{
    m_input.clear();
    m_inputPos = 0;
    m_noise = false;
}

void XmodemCodec::consumeInput()
{
    if (m_inputPos >= m_input.size()) {
        m_input.clear();
        m_inputPos = 0;
    } else if (m_inputPos > 0) {
        m_input.remove(0, m_inputPos);
        m_inputPos = 0;
    }
}

XferAction XmodemCodec::start(const XferFileInfo &info, qint64 now)
{
    if (isEnded())
        return XferAction();
    m_info = info;
    m_startTime = now;
    if (!m_receive) {
        m_deadline = now + StartTimeoutMs;
        return idle(now);
    }
    // Size and time come only from a YMODEM header; without them the padding stays.
    m_info.size = -1;
    m_info.mtime = 0;
    if (isYmodem()) {
        m_block = 0;
    } else {
        m_block = 1;
        if (!m_sink || !m_sink->open(m_info))
            return fail(XferAction::SinkCreateFailed, tr("Could not create the destination file."), false);
    }
    m_startRequests = 1;
    return send(QByteArray(1, startRequest()), m_crc ? CrcRequestIntervalMs : BlockTimeoutMs);
}

XferAction XmodemCodec::feed(const QByteArray &bytes, qint64 now)
{
    if (isEnded())
        return XferAction();
    const qint64 room = MaxBufferedInput - (m_input.size() - m_inputPos);
    if (room > 0)
        m_input.append(bytes.constData(), std::min<qint64>(room, bytes.size()));
    if (m_outputPending)
        return idle(now);
    return m_receive ? parseReceiver(now) : parseSender(now);
}

XferAction XmodemCodec::onTimer(qint64 now)
{
    if (isEnded() || m_outputPending || m_deadline < 0)
        return XferAction();
    if (now < m_deadline)
        return idle(now);
    m_deadline = -1;
    return m_receive ? receiverTimeout(now) : senderTimeout(now);
}

XferAction XmodemCodec::onDrained(qint64 now)
{
    if (isEnded())
        return XferAction();
    const bool wasPending = m_outputPending;
    m_outputPending = false;
    if (m_pendingTimeout >= 0) {
        m_deadline = now + m_pendingTimeout;
        m_pendingTimeout = -1;
    }
    if (m_receive)
        return parseReceiver(now);
    XferAction action = parseSender(now);
    // YMODEM-G: the next block goes out as soon as the previous one is written.
    if (wasPending && m_state == SendStreaming && action.bytes.isEmpty() && !action.ended()) {
        m_offset += m_payloadLength;
        m_block = quint8(m_block + 1);
        return sendDataBlock();
    }
    return action;
}

XferAction XmodemCodec::cancel(qint64 now)
{
    Q_UNUSED(now);
    if (isEnded())
        return XferAction();
    return fail(XferAction::LocalCancelled, tr("Cancelled."), true);
}

XferProgress XmodemCodec::progress() const
{
    XferProgress p;
    p.fileName = m_info.name;
    p.totalRetries = m_totalRetries;
    if (m_receive) {
        p.bytesDone = m_received;
        p.bytesTotal = isYmodem() ? m_info.size : -1;
        p.blockNumber = std::max(m_lastAccepted, 0);
    } else {
        p.bytesDone = m_offset;
        p.bytesTotal = m_source ? m_source->size() : -1;
        p.blockNumber = m_block;
    }
    return p;
}

// ---- sender ----

XferAction XmodemCodec::parseSender(qint64 now)
{
    while (m_inputPos < m_input.size()) {
        const char c = m_input.at(m_inputPos++);
        XferAction action = senderByte(c, now);
        if (!action.bytes.isEmpty() || action.ended()) {
            consumeInput();
            return action;
        }
    }
    consumeInput();
    return idle(now);
}

XferAction XmodemCodec::senderByte(char c, qint64 now)
{
    if (c == Can) {
        if (++m_canCount >= 2)
            return fail(XferAction::RemoteCancelled, tr("The device cancelled the transfer."), false);
        return XferAction();
    }
    m_canCount = 0;
    const bool request = c == CrcRequest || c == StreamRequest;
    switch (m_state) {
    case SendWaitStart:
        if (!request && c != Nak)
            return XferAction();
        m_crc = request;
        m_streaming = c == StreamRequest;
        // Whatever else is queued is the receiver repeating its request; answering
        // each copy would put the sender one ACK ahead of the receiver.
        dropInput();
        if (isYmodem()) {
            m_headerSent = true;
            m_block = 0;
            m_lastSent = SentHeader;
            m_blockRetries = 0;
            m_payloadLength = 0;
            m_lastBlock = buildFrame(0, buildHeader(m_info), m_crc);
            m_state = SendWaitAck;
            return send(m_lastBlock, BlockTimeoutMs);
        }
        m_block = 1;
        return sendDataBlock();
    case SendWaitAck:
        if (c == Ack)
            return senderAck(now);
        if (c == Nak)
            return senderRetry(false);
        if (request && m_lastSent == SentEot && m_headerSent)
            return sendEndOfBatch();  // the ACK of our EOT was lost, the receiver moved on
        return XferAction();
    case SendHeaderAcked:
        if (!request)
            return XferAction();
        m_block = 1;
        m_streaming = c == StreamRequest;
        return sendDataBlock();
    case SendEotAcked:
        if (request)
            return sendEndOfBatch();
        return XferAction();
    case SendStreaming:
        if (c == Nak)
            return fail(XferAction::RetriesExhausted,
                        tr("The device reported an error. YMODEM-G cannot resend a block, so the transfer has been abandoned."),
                        true);
        return XferAction();
    default:
        return XferAction();
    }
}

XferAction XmodemCodec::senderAck(qint64 now)
{
    m_blockRetries = 0;
    m_resentOnTimeout = false;
    switch (m_lastSent) {
    case SentData:
        m_offset += m_payloadLength;
        m_block = quint8(m_block + 1);
        return sendDataBlock();
    case SentHeader:
        m_state = SendHeaderAcked;
        m_deadline = now + BlockTimeoutMs;
        return XferAction();
    case SentEot:
        if (!isYmodem())
            return finishDone(QByteArray());
        m_state = SendEotAcked;
        m_deadline = now + BlockTimeoutMs;
        return XferAction();
    case SentEndOfBatch:
        return finishDone(QByteArray());
    case SentNothing:
        break;
    }
    return XferAction();
}

XferAction XmodemCodec::senderRetry(bool timedOut)
{
    if (m_streaming) {
        return fail(XferAction::RetriesExhausted,
                    timedOut ? tr("The device stopped responding. YMODEM-G has no retransmission, so the transfer has failed.")
                             : tr("The device reported an error. YMODEM-G cannot resend a block, so the transfer has been abandoned."),
                    true);
    }
    // Both sides time out after 10 s, so the receiver's NAK often crosses our own
    // resend. Answering it would put the block on the line twice; both copies get
    // ACKed and we would take the second ACK for the next block. The receiver NAKs
    // again if our resend was really damaged.
    if (!timedOut && m_resentOnTimeout) {
        m_resentOnTimeout = false;
        return XferAction();
    }
    ++m_blockRetries;
    ++m_totalRetries;
    if (m_blockRetries > MaxRetries)
        return fail(XferAction::RetriesExhausted, tr("Gave up after %1 retries.").arg(MaxRetries), true);
    m_resentOnTimeout = timedOut;
    return send(m_lastBlock, BlockTimeoutMs);
}

XferAction XmodemCodec::sendDataBlock()
{
    if (!m_source)
        return fail(XferAction::SourceReadFailed, tr("Could not read the file being sent."), true);
    const qint64 total = m_source->size();
    if (m_offset >= total) {
        if (!m_source->isUnchanged())
            return fail(XferAction::SourceChanged, tr("The file changed while it was being sent."), true);
        return sendEot();
    }
    const qint64 remaining = total - m_offset;
    qint32 size = 1024;
    if (m_protocol == Xmodem || m_protocol == XmodemCrc || m_blockSize == 128 || remaining <= 128)
        size = 128;
    QByteArray payload = m_source->read(m_offset, size);
    if (m_source->hasError() || payload.isEmpty())
        return fail(XferAction::SourceReadFailed, tr("Could not read the file being sent."), true);
    if (payload.size() > size)
        payload.truncate(size);
    m_payloadLength = qint32(payload.size());
    if (payload.size() < size)
        payload.append(QByteArray(size - payload.size(), Sub));
    m_lastBlock = buildFrame(m_block, payload, m_crc);
    m_lastSent = SentData;
    m_blockRetries = 0;
    m_resentOnTimeout = false;
    m_state = m_streaming ? SendStreaming : SendWaitAck;
    return send(m_lastBlock, BlockTimeoutMs);
}

XferAction XmodemCodec::sendEot()
{
    m_resentOnTimeout = false;
    m_lastSent = SentEot;
    m_payloadLength = 0;
    m_lastBlock = QByteArray(1, Eot);
    m_state = SendWaitAck;
    m_blockRetries = 0;
    return send(m_lastBlock, BlockTimeoutMs);
}

XferAction XmodemCodec::sendEndOfBatch()
{
    m_resentOnTimeout = false;
    m_lastSent = SentEndOfBatch;
    m_payloadLength = 0;
    m_block = 0;
    m_lastBlock = buildFrame(0, QByteArray(HeaderPayload, '\0'), m_crc);
    m_state = SendWaitAck;
    m_blockRetries = 0;
    return send(m_lastBlock, BlockTimeoutMs);
}

XferAction XmodemCodec::senderTimeout(qint64 now)
{
    switch (m_state) {
    case SendWaitStart:
        return fail(XferAction::NotStarted,
                    tr("The device did not request the transfer. Check that it is waiting to receive and that the baud rate matches."),
                    false);
    case SendWaitAck:
        return senderRetry(true);
    case SendHeaderAcked:
        ++m_blockRetries;
        ++m_totalRetries;
        if (m_blockRetries > MaxRetries)
            return fail(XferAction::RetriesExhausted, tr("Gave up after %1 retries.").arg(MaxRetries), true);
        m_deadline = now + BlockTimeoutMs;
        return idle(now);
    case SendEotAcked:
        // The file is complete; only the end-of-batch exchange went missing.
        return finishDone(QByteArray());
    case SendStreaming:
        return senderRetry(true);
    default:
        return XferAction();
    }
}

// ---- receiver ----

XferAction XmodemCodec::parseReceiver(qint64 now)
{
    while (m_inputPos < m_input.size()) {
        const char c = m_input.at(m_inputPos);
        if (c == Can) {
            ++m_inputPos;
            if (++m_canCount < 2)
                continue;
            // The file is already saved; the sender only gave up on the end of the batch.
            if (m_state == ReceiveAfterFile)
                return finishDone(QByteArray());
            return fail(XferAction::RemoteCancelled, tr("The device cancelled the transfer."), false);
        }
        if (c == Soh || c == Stx) {
            const qint32 payload = c == Soh ? 128 : 1024;
            const qint64 length = 3 + payload + (m_crc ? 2 : 1);
            if (m_input.size() - m_inputPos < length)
                break;
            m_canCount = 0;
            const char *frame = m_input.constData() + m_inputPos;
            const quint8 block = quint8(frame[1]);
            bool ok = quint8(frame[2]) == quint8(255 - block);
            if (ok && m_crc) {
                const quint16 crc = crc16(frame + 3, payload);
                ok = quint8(frame[3 + payload]) == quint8(crc >> 8) && quint8(frame[4 + payload]) == quint8(crc & 0xff);
            } else if (ok) {
                ok = quint8(frame[3 + payload]) == checksum8(frame + 3, payload);
            }
            // The frame stays in the buffer while it is handled; frame points into it.
            if (ok)
                m_noise = false;
            XferAction action = ok ? receiverBlock(block, frame + 3, payload, now) : receiverBadFrame();
            if (isEnded())
                return action;
            m_inputPos += length;
            if (!ok) {
                // What follows a damaged frame is the rest of the same garbled burst;
                // reading control bytes out of it could end the file early.
                dropInput();
                return action;
            }
            if (!action.bytes.isEmpty() || action.ended()) {
                consumeInput();
                return action;
            }
            continue;
        }
        ++m_inputPos;
        m_canCount = 0;
        if (c != Eot) {
            m_noise = true;
            continue;
        }
        // The sender sends EOT on its own and then waits, so a real one arrives alone.
        XferAction action = receiverEot(!m_noise && m_inputPos == m_input.size(), now);
        if (!action.bytes.isEmpty() || action.ended()) {
            consumeInput();
            return action;
        }
    }
    consumeInput();
    return idle(now);
}

XferAction XmodemCodec::receiverBlock(quint8 block, const char *payload, qint32 size, qint64 now)
{
    m_blockRetries = 0;
    if (m_state == ReceiveAfterFile)
        return finishDone(QByteArray(1, Ack));
    if (block == 0 && m_lastAccepted < 0 && isYmodem())
        return receiverHeader(payload, size, now);
    if (int(block) == m_lastAccepted) {
        m_state = ReceiveBlocks;
        // A repeated header means our request for the data got lost too.
        if (block == 0 && !m_gotData && isYmodem())
            return send(QByteArray(1, Ack) + startRequest(), BlockTimeoutMs);
        if (m_streaming) {
            m_deadline = now + BlockTimeoutMs;
            return XferAction();
        }
        return send(QByteArray(1, Ack), BlockTimeoutMs);
    }
    if (block != m_block) {
        return fail(XferAction::OutOfStep,
                    tr("Block %1 arrived when block %2 was expected; the transfer is out of step.").arg(block).arg(m_block),
                    true);
    }
    qint64 take = size;
    if (m_info.size >= 0)
        take = std::clamp<qint64>(m_info.size - m_received, 0, size);
    if (take > 0) {
        if (!m_sink || !m_sink->write(QByteArray(payload, take)))
            return fail(XferAction::SinkWriteFailed, tr("Writing to disk failed."), true);
    }
    m_received += take;
    if (m_receiveCap > 0 && m_received > m_receiveCap) {
        return fail(XferAction::ReceiveCapExceeded,
                    tr("Received %1 bytes without an end of transfer. XMODEM has no length field, so there is no way to tell when it should stop.")
                        .arg(m_received),
                    true);
    }
    m_gotData = true;
    m_lastAccepted = block;
    m_block = quint8(block + 1);
    m_state = ReceiveBlocks;
    if (m_streaming) {
        m_deadline = now + BlockTimeoutMs;
        return XferAction();
    }
    return send(QByteArray(1, Ack), BlockTimeoutMs);
}

XferAction XmodemCodec::receiverHeader(const char *payload, qint32 size, qint64 now)
{
    Q_UNUSED(now);
    const QByteArray data = QByteArray::fromRawData(payload, size);
    const qsizetype nul = data.indexOf('\0');
    if (nul < 0)
        return fail(XferAction::OutOfStep, tr("The device sent a malformed file header."), true);
    if (nul == 0)
        return finishDone(QByteArray(1, Ack));  // empty name: the sender has nothing (more) to send
    XferFileInfo info;
    info.name = QString::fromUtf8(data.constData(), nul);
    qsizetype end = data.indexOf('\0', nul + 1);
    if (end < 0)
        end = size;
    const QStringList fields =
        QString::fromLatin1(data.constData() + nul + 1, end - nul - 1).simplified().split(QLatin1Char(' '));
    bool ok = false;
    const qint64 fileSize = fields.value(0).toLongLong(&ok, 10);
    if (ok && fileSize >= 0)
        info.size = fileSize;
    const qint64 mtime = fields.value(1).toLongLong(&ok, 8);
    if (ok && mtime >= 1)
        info.mtime = mtime;
    if (m_receiveCap > 0 && info.size > m_receiveCap) {
        return fail(XferAction::ReceiveCapExceeded,
                    tr("The device offered a %1 byte file, which is over the receive limit.").arg(info.size), true);
    }
    m_info = info;
    if (!m_sink || !m_sink->open(m_info))
        return fail(XferAction::SinkCreateFailed, tr("Could not create the destination file."), true);
    m_block = 1;
    m_lastAccepted = 0;
    m_state = ReceiveBlocks;
    return send(QByteArray(1, Ack) + startRequest(), BlockTimeoutMs);
}

XferAction XmodemCodec::receiverBadFrame()
{
    ++m_blockRetries;
    ++m_totalRetries;
    if (m_streaming) {
        return fail(XferAction::RetriesExhausted,
                    tr("A block failed its checksum. YMODEM-G cannot ask for it again, so the transfer has failed."), true);
    }
    if (m_blockRetries > MaxRetries) {
        return fail(XferAction::RetriesExhausted,
                    tr("Data kept failing its checksum. This is usually a baud rate mismatch or line noise."), true);
    }
    // After the file is saved a damaged end-of-batch block must not reopen it.
    if (m_state != ReceiveAfterFile)
        m_state = ReceiveBlocks;
    return send(QByteArray(1, Nak), BlockTimeoutMs);
}

XferAction XmodemCodec::receiverEot(bool alone, qint64 now)
{
    if (m_state == ReceiveAfterFile) {
        // The sender missed our ACK and repeats its EOT; the file is already saved.
        return send(QByteArray(1, Ack) + startRequest(), BlockTimeoutMs);
    }
    if (isYmodem() && m_lastAccepted < 0)
        return idle(now);  // no file open yet: a stray EOT from an earlier transfer
    // A lost lead byte turns a frame into noise, and a 0x04 in it must not end the file
    // as a success. Such an EOT counts as noise: the timeout's NAK gets a real one again.
    // YMODEM-G cannot ask again, so there the transfer fails.
    if (!alone) {
        if (m_streaming) {
            return fail(XferAction::RetriesExhausted,
                        tr("A block failed its checksum. YMODEM-G cannot ask for it again, so the transfer has failed."), true);
        }
        m_noise = true;
        return idle(now);
    }
    if (!m_sink || !m_sink->finish(m_info.size >= 0 ? m_info.size : -1))
        return fail(XferAction::SinkFinishFailed, tr("The data was received but could not be saved."), false);
    if (!isYmodem())
        return finishDone(QByteArray(1, Ack));
    m_state = ReceiveAfterFile;
    return send(QByteArray(1, Ack) + startRequest(), BlockTimeoutMs);
}

XferAction XmodemCodec::receiverTimeout(qint64 now)
{
    switch (m_state) {
    case ReceiveStart:
        if (now - m_startTime >= StartTimeoutMs) {
            return fail(XferAction::NotStarted,
                        tr("The device did not start sending. Check that it is ready to send and that the baud rate matches."),
                        false);
        }
        ++m_startRequests;
        dropInput();
        // A sender that ignores 'C' may only speak checksum XMODEM.
        if (!isYmodem() && m_crc && m_startRequests >= 7)
            m_crc = false;
        return send(QByteArray(1, startRequest()), m_crc ? CrcRequestIntervalMs : BlockTimeoutMs);
    case ReceiveBlocks:
        if (m_streaming) {
            return fail(XferAction::RetriesExhausted,
                        tr("The device stopped sending. YMODEM-G cannot recover, so the transfer has failed."), true);
        }
        ++m_blockRetries;
        ++m_totalRetries;
        if (m_blockRetries > MaxRetries)
            return fail(XferAction::RetriesExhausted, tr("Gave up after %1 retries.").arg(MaxRetries), true);
        // A partial frame left from before the silence can never complete.
        dropInput();
        return send(QByteArray(1, !m_gotData && m_crc ? startRequest() : Nak), BlockTimeoutMs);
    case ReceiveAfterFile:
        return finishDone(QByteArray());
    default:
        return XferAction();
    }
}
