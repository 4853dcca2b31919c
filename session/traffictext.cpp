#include "session/traffictext.h"

#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"
#include "settings/formatsetting.h"

namespace {

constexpr char16_t kWhiteSquare = 0x25A1;

// General category Cc is exactly U+0000-U+001F and U+007F-U+009F.
inline bool isMarkedControl(char16_t u)
{
    if (u < 0x20)
        return u != u'\t' && u != u'\n' && u != u'\r';
    return u >= 0x7F && u <= 0x9F;
}

QString lineFeed()
{
    return QStringLiteral("\n");
}

} // namespace

QString toHexText(const QByteArray &bytes)
{
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    QString out(bytes.size() * 3, Qt::Uninitialized);
    char16_t *d = reinterpret_cast<char16_t *>(out.data());
    for (char c : bytes) {
        const uchar b = uchar(c);
        *d++ = digits[b >> 4];
        *d++ = digits[b & 0x0F];
        *d++ = u' ';
    }
    return out;
}

QString stampLines(const QString &text, const QString &stamp)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), lineFeed());
    out.replace(QLatin1String("\n\r"), lineFeed());
    if (stamp.isEmpty() || !out.contains(QLatin1Char('\n')))
        return out;
    const QString stamped = lineFeed() + stamp;
    if (!out.endsWith(QLatin1Char('\n'))) {
        out.replace(lineFeed(), stamped);
        return out;
    }
    out.chop(1);
    out.replace(lineFeed(), stamped);
    out.append(QLatin1Char('\n'));
    return out;
}

QString markControlChars(const QString &text)
{
    const char16_t *begin = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && !isMarkedControl(begin[i]))
        ++i;
    if (i == n)
        return text;
    QString out = text;
    char16_t *d = reinterpret_cast<char16_t *>(out.data());
    for (; i < n; ++i) {
        if (isMarkedControl(d[i]))
            d[i] = kWhiteSquare;
    }
    return out;
}

QString decodeText(const QByteArray &bytes, WireTextDecoder *decoder, const QString &encoding)
{
    if (decoder)
        return markControlChars(decoder->decode(bytes));
    const auto temporary = WireTextCodecRegistry::createDecoder(encoding);
    return markControlChars(temporary->decode(bytes));
}

QString TrafficFormatter::format(const rxData &chunk, WireTextDecoder *decoder,
                                 const FormatSetting &settings, const QString &stamp)
{
    const bool log = m_target == Target::Log;
    const bool sent = chunk.direction == 2;
    const int format = sent ? settings.SendMsgFormat : settings.ReceiveMsgForamt;
    const bool stamps = log ? settings.LogTimestampEnabled : settings.DisplayMsgTime;
    const QString usedStamp = stamps ? stamp : QString();

    QString out;
    bool startsWithStamp = false;

    if (sent) {
        if (format == TextFormat) {
            const QString d = decodeText(chunk.data, decoder, settings.SendEncoding);
            out = stamps ? stampLines(d, usedStamp) : d;
        } else if (format == HexFormat) {
            out = toHexText(chunk.data);
            out.append(QLatin1Char('\n'));
        }
        // Sent data always starts on a line of its own.
        out.prepend(usedStamp);
        if (!m_lineEnded)
            out.prepend(QLatin1Char('\n'));
    } else if (format == HexFormat) {
        const QString h = toHexText(chunk.data);
        const bool breakDue = !m_hexFeedTime.isValid()
                || chunk.time > m_hexFeedTime.addMSecs(settings.AutoFeedInterval);
        if (stamps) {
            if (!breakDue) {
                out = h;
            } else {
                m_hexFeedTime = chunk.time;
                out = ((log || !m_lineEnded) ? lineFeed() : QString()) + usedStamp + h;
                startsWithStamp = true;
            }
        } else {
            out = h;
            if (settings.RxAutoFeedLine && breakDue) {
                m_hexFeedTime = chunk.time;
                if (!m_lineEnded)
                    out.prepend(QLatin1Char('\n'));
            }
        }
    } else if (format == TextFormat) {
        const QString d = decodeText(chunk.data, decoder, settings.ReceiveEncoding);
        if (stamps) {
            out = stampLines(d, usedStamp);
            if (m_lineEnded) {
                out.prepend(usedStamp);
                startsWithStamp = true;
            }
        } else if (log || !settings.RxAutoFeedLine || m_lineEnded) {
            out = d;
        } else {
            const qint64 gap = m_lastChunkTime.isValid() ? m_lastChunkTime.msecsTo(chunk.time) : 0;
            out = gap > settings.AutoFeedInterval ? lineFeed() + d : d;
        }
    }

    if (log && !sent && stamps && m_stampDue && (format == TextFormat || format == HexFormat)) {
        if (!startsWithStamp)
            out.prepend(usedStamp);
        m_stampDue = false;
    }

    // An empty result (a character still incomplete, a format that shows
    // nothing) leaves the text as it was, so its line state stays too.
    if (!out.isEmpty())
        m_lineEnded = out.endsWith(QLatin1Char('\n'));
    m_lastChunkTime = chunk.time;
    return out;
}

QString formatForConsole(const QByteArray &bytes, int direction, WireTextDecoder *decoder,
                         const FormatSetting &settings, const QDateTime &now)
{
    const bool sent = direction == 2;
    const int format = sent ? settings.SendMsgFormat : settings.ReceiveMsgForamt;
    if (format != TextFormat)
        return toHexText(bytes);
    QString text = decodeText(bytes, decoder, WireTextCodecRegistry::defaultEncoding());
    text.replace(QLatin1String("\r\n"), lineFeed());
    text.replace(QLatin1String("\n\r"), lineFeed());
    text.remove(QLatin1Char('\r'));
    if (settings.DisplayMsgTime) {
        const QString stamp = now.toString(sent ? settings.TxTimeFormat : settings.RxTimeFormat);
        text.replace(lineFeed(), lineFeed() + stamp);
    }
    return text;
}
