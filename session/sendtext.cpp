#include "session/sendtext.h"

#include "codec/checksum.h"
#include "codec/wiretextcodecregistry.h"
#include "settings/formatsetting.h"
#include "session/traffictext.h"

namespace {

constexpr qsizetype kHistoryLimit = 257;
constexpr qsizetype kLabelLength = 80;

// Line breaks count as blanks too, so a hex text spread over several lines
// keeps its pairs instead of shifting them by one character.
inline bool isHexBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
            || c == QLatin1Char('\r');
}

inline int nibble(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return 0;
}

} // namespace

QByteArray parseHexText(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() / 2);
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        if (isHexBlank(text.at(i))) {
            ++i;
            continue;
        }
        if (i + 1 >= n)
            break;
        out.append(char((nibble(text.at(i)) << 4) | nibble(text.at(i + 1))));
        i += 2;
    }
    return out;
}

QString applyLineEnding(const QString &text, int mode)
{
    if (mode < 1 || mode > 4)
        return text;
    QString out = text;
    if (!out.endsWith(QLatin1Char('\n')))
        out.append(QLatin1Char('\n'));
    switch (mode) {
    case 1:
        out.replace(QLatin1Char('\n'), QLatin1Char('\r'));
        break;
    case 3:
        out.replace(QLatin1String("\n"), QLatin1String("\r\n"));
        break;
    case 4:
        out.replace(QLatin1String("\n"), QLatin1String("\n\r"));
        break;
    default:
        break;
    }
    return out;
}

SendEncodeResult encodeSend(const QString &text, bool hex, const FormatSetting &settings)
{
    SendEncodeResult result;
    if (text.isEmpty()) {
        result.ok = true;
        return result;
    }

    if (!hex) {
        const QString wireText =
                settings.TxAutoFeedLine ? applyLineEnding(text, settings.TxLineEndingMode) : text;
        const WireEncodeResult encoded = WireTextCodecRegistry::encode(wireText, settings.SendEncoding);
        if (!encoded.ok) {
            result.error = encoded.error;
            return result;
        }
        result.historyText = text;
        result.bytes = appendChecksum(encoded.bytes, settings.SendChecksum);
        result.ok = true;
        return result;
    }

    // Everything after the first "//" is a comment and never sent.
    const QStringList parts = text.split(QStringLiteral("//"));
    const QByteArray parsed = parseHexText(parts.first());
    if (settings.FormatSend) {
        QString formatted = toHexText(parsed);
        if (parts.size() > 1)
            formatted += QStringLiteral("//") + parts.at(1);
        result.historyText = formatted;
    } else {
        result.historyText = text;
    }
    result.bytes = appendChecksum(parsed, settings.SendChecksum);
    result.ok = true;
    return result;
}

QByteArray enterBytes(int mode)
{
    switch (mode) {
    case 2:
        return QByteArrayLiteral("\n");
    case 3:
        return QByteArrayLiteral("\r\n");
    case 4:
        return QByteArrayLiteral("\n\r");
    default:
        return QByteArrayLiteral("\r");
    }
}

QStringList updatedHistory(QStringList history, const QString &entry)
{
    // Trimmed to the limit before the new entry goes first, also when a stored
    // list arrives already longer than the limit.
    if (history.size() >= kHistoryLimit)
        history.resize(kHistoryLimit - 1);
    history.removeAll(entry);
    history.prepend(entry);
    return history;
}

QString historyLabel(const QString &entry)
{
    if (entry.size() <= kLabelLength)
        return entry;
    // Never cut a surrogate pair in half.
    const qsizetype n = entry.at(kLabelLength - 1).isHighSurrogate() ? kLabelLength - 1 : kLabelLength;
    return entry.left(n);
}
