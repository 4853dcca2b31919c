#include "session/receivepipeline.h"

#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"
#include "logging/logname.h"
#include "settings/formatsetting.h"

namespace {

const QColor kNoticeColour(46, 134, 193);

QString stampFor(const rxData &chunk, const FormatSetting &s, bool forLog)
{
    if (forLog)
        return s.LogTimestampEnabled ? expandTimePattern(chunk.time, s.LogFileTime) : QString();
    if (!s.DisplayMsgTime)
        return {};
    return chunk.time.toString(chunk.direction == 2 ? s.TxTimeFormat : s.RxTimeFormat);
}

} // namespace

ReceivePipeline::ReceivePipeline()
{
    m_logFormatter.setLineEnded(false);
}

ReceivePipeline::~ReceivePipeline() = default;

void ReceivePipeline::rebuild(const FormatSetting &s)
{
    // C1 escape bytes are characters' inner bytes in the multi-byte encodings.
    m_escapeFilter.setC1Controls(AnsiEscapeFilter::encodingHasC1Controls(s.ReceiveEncoding));
    m_viewRx = WireTextCodecRegistry::createDecoder(s.ReceiveEncoding);
    m_logRx = WireTextCodecRegistry::createDecoder(s.ReceiveEncoding);
    m_consoleRx = WireTextCodecRegistry::createDecoder(s.ReceiveEncoding);
    m_viewTx = WireTextCodecRegistry::createDecoder(s.SendEncoding);
    m_logTx = WireTextCodecRegistry::createDecoder(s.SendEncoding);
    m_consoleTx = WireTextCodecRegistry::createDecoder(s.SendEncoding);
}

QByteArray ReceivePipeline::filterReceived(const QByteArray &bytes, const FormatSetting &s)
{
    return s.ReceiveMsgForamt == TextFormat ? m_escapeFilter.filter(bytes) : bytes;
}

QString ReceivePipeline::consoleText(const QByteArray &bytes, int direction, const FormatSetting &s,
                                     const QDateTime &now)
{
    return formatForConsole(bytes, direction, direction == 1 ? m_consoleRx.get() : m_consoleTx.get(), s, now);
}

void ReceivePipeline::appendView(QList<ViewSegment> &out, QString text, const QColor &colour)
{
    if (text.isEmpty())
        return;
    if (!out.isEmpty() && !out.last().notice && out.last().colour == colour)
        out.last().text += text;
    else
        out.append({std::move(text), colour});
}

void ReceivePipeline::markGap(ReceiveBatch &batch, qint64 bytes, const FormatSetting &s)
{
    const QString text = s.LogSaveFlag ? tr("%L1 bytes not shown here; they are in the data log.").arg(bytes)
                                       : tr("%L1 bytes not shown here; the data log is off.").arg(bytes);
    batch.view.append(notice(text));
    // The text after a gap starts afresh: no half character from before it.
    m_viewRx = WireTextCodecRegistry::createDecoder(s.ReceiveEncoding);
    m_viewTx = WireTextCodecRegistry::createDecoder(s.SendEncoding);
}

ReceiveBatch ReceivePipeline::drain(const FormatSetting &s, bool forView, qsizetype viewBudget, bool hold,
                                    qsizetype holdLimit, qsizetype maxBytes)
{
    ReceiveBatch batch;
    // Take the chunks first: whoever shows the batch may run events that queue more.
    QList<rxData> chunks;
    if (maxBytes < 0 || m_queuedBytes <= maxBytes) {
        chunks = std::exchange(m_queue, {});
        m_queuedBytes = 0;
    } else {
        qsizetype taken = 0, bytes = 0;
        while (taken < m_queue.size() && (taken == 0 || bytes + m_queue.at(taken).data.size() <= maxBytes))
            bytes += m_queue.at(taken++).data.size();
        chunks = m_queue.mid(0, taken);
        m_queue.remove(0, taken);
        m_queuedBytes -= bytes;
    }
    if (s.LogSaveFlag) {
        for (const rxData &chunk : std::as_const(chunks)) {
            if (chunk.toLog)
                batch.log += m_logFormatter.format(chunk, chunk.direction == 1 ? m_logRx.get() : m_logTx.get(), s,
                                                   stampFor(chunk, s, true));
        }
    }
    if (!forView)
        return batch;
    if (hold) {
        for (rxData &chunk : chunks) {
            if (!chunk.toView)
                continue;
            chunk.toLog = false;
            m_heldBytes += chunk.data.size();
            m_held.append(std::move(chunk));
        }
        while (m_heldBytes > holdLimit && !m_held.isEmpty()) {
            m_heldBytes -= m_held.first().data.size();
            m_heldDropped += m_held.takeFirst().data.size();
        }
        return batch;
    }
    if (!m_held.isEmpty()) {
        chunks = std::exchange(m_held, {}) + chunks;
        m_heldBytes = 0;
    }

    // The view takes the newest chunks that fit its budget; the oldest of them may be cut.
    qint64 skipped = std::exchange(m_heldDropped, 0);
    qsizetype first = 0;
    qsizetype cut = 0;
    if (viewBudget >= 0) {
        qsizetype room = viewBudget;
        first = chunks.size();
        for (qsizetype i = chunks.size() - 1; i >= 0; --i) {
            first = i;
            if (!chunks.at(i).toView)
                continue;
            const qsizetype n = chunks.at(i).data.size();
            if (n > room) {
                cut = n - room;
                break;
            }
            room -= n;
        }
        for (qsizetype i = 0; i < first; ++i) {
            if (chunks.at(i).toView)
                skipped += chunks.at(i).data.size();
        }
        skipped += cut;
    }
    if (skipped > 0)
        markGap(batch, skipped, s);
    batch.skippedBytes = skipped;

    for (qsizetype i = first; i < chunks.size(); ++i) {
        rxData &chunk = chunks[i];
        if (!chunk.toView)
            continue;
        if (i == first && cut > 0)
            chunk.data.remove(0, cut);
        if (chunk.data.isEmpty())
            continue;
        batch.shownBytes += chunk.data.size();
        const bool rx = chunk.direction == 1;
        const bool wasEnded = m_viewFormatter.lineEnded();
        QString text = m_viewFormatter.format(chunk, rx ? m_viewRx.get() : m_viewTx.get(), s, stampFor(chunk, s, false));
        // A lone line feed right after a finished line would show an empty line.
        if (text == QLatin1String("\n") && wasEnded)
            continue;
        if (s.FormatDisplayColor) {
            appendView(batch.view, std::move(text), rx ? s.ReceiveTextColor : s.SendTextColor);
        } else {
            if (text.contains(QLatin1Char('\r'))) {
                text.remove(QLatin1Char('\r'));
                m_viewFormatter.setLineEnded(text.endsWith(QLatin1Char('\n')));
            }
            appendView(batch.view, std::move(text), QColor());
        }
    }
    return batch;
}

ViewSegment ReceivePipeline::notice(const QString &text)
{
    m_viewFormatter.setLineEnded(true);
    return {QStringLiteral("\n-- %1 --\n").arg(text), kNoticeColour, true};
}
