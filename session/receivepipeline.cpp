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

ReceiveBatch ReceivePipeline::drain(const FormatSetting &s, bool forView)
{
    ReceiveBatch batch;
    // Take the queue first: whoever shows the batch may run events that queue more.
    const QList<rxData> chunks = std::exchange(m_queue, {});
    for (const rxData &chunk : chunks) {
        const bool rx = chunk.direction == 1;
        if (forView && chunk.toView) {
            const bool wasEnded = m_viewFormatter.lineEnded();
            QString text = m_viewFormatter.format(chunk, rx ? m_viewRx.get() : m_viewTx.get(), s,
                                                  stampFor(chunk, s, false));
            // A lone line feed right after a finished line would show an empty line.
            if (!(text == QLatin1String("\n") && wasEnded)) {
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
        }
        if (s.LogSaveFlag)
            batch.log += m_logFormatter.format(chunk, rx ? m_logRx.get() : m_logTx.get(), s, stampFor(chunk, s, true));
    }
    return batch;
}

ViewSegment ReceivePipeline::notice(const QString &text)
{
    m_viewFormatter.setLineEnded(true);
    return {QStringLiteral("\n-- %1 --\n").arg(text), kNoticeColour, true};
}
