#include "codec/framedlegacydecoder.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <algorithm>
#include <cstring>

namespace {
constexpr qsizetype kSliceBytes = 1048576;
constexpr char16_t kReplacement = 0xFFFD;

quint32 packBytes(const uchar *p, int n)
{
    quint32 v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Every lead range starts at 0x81 or above, so eight ASCII bytes can be skipped at once.
bool allAscii8(const uchar *p)
{
    quint64 w;
    std::memcpy(&w, p, sizeof w);
    return (w & 0x8080808080808080ULL) == 0;
}
}

FramedLegacyDecoder::FramedLegacyDecoder(QTextCodec *codec, const FramingProfile &profile)
    : m_codec(codec)
    , m_profile(profile)
{
    for (int b = 0; b < 256; ++b)
        m_class[b] = m_profile.isLead(quint8(b)) ? 1 : 0;
    for (char b : asciiMismatches(codec))
        m_class[quint8(b)] = 2;
    m_asciiRunsAreSafe = asciiMismatches(codec).isEmpty();

    QTextCodec::ConverterState probe;
    const QChar replacement(kReplacement);
    const QByteArray encoded = m_codec->fromUnicode(&replacement, 1, &probe);
    if (probe.invalidChars == 0 && (encoded.size() == 2 || encoded.size() == 4)) {
        m_legitReplacement = packBytes(reinterpret_cast<const uchar *>(encoded.constData()),
                                       int(encoded.size()));
        m_legitReplacementSize = int(encoded.size());
    }
}

QByteArray FramedLegacyDecoder::asciiMismatches(QTextCodec *codec)
{
    static QMutex mutex;
    static QHash<QTextCodec *, QByteArray> cache;
    const QMutexLocker lock(&mutex);
    const auto it = cache.constFind(codec);
    if (it != cache.constEnd())
        return *it;
    QByteArray found;
    for (int b = 0; b < 0x80; ++b) {
        const char byte = char(b);
        const QChar ch{char16_t(b)};
        if (codec->toUnicode(&byte, 1) != QString(ch) || codec->fromUnicode(&ch, 1) != QByteArray(1, byte))
            found.append(byte);
    }
    cache.insert(codec, found);
    return found;
}

QString FramedLegacyDecoder::decode(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};

    QByteArray joined;
    const uchar *p;
    qsizetype size;
    if (m_pendingBytes.isEmpty()) {
        p = reinterpret_cast<const uchar *>(bytes.constData());
        size = bytes.size();
    } else {
        joined = m_pendingBytes + bytes;
        m_pendingBytes.clear();
        p = reinterpret_cast<const uchar *>(joined.constData());
        size = joined.size();
    }

    QString out;
    qsizetype runStart = 0;
    qsizetype legit = 0;
    qsizetype i = 0;
    auto flush = [&](qsizetype end) {
        convertRun(out, reinterpret_cast<const char *>(p + runStart), end - runStart, legit);
        legit = 0;
    };

    while (i < size) {
        // Runs are cut at character boundaries so no codec call exceeds the slice size.
        if (i - runStart >= kSliceBytes - 8) {
            flush(i);
            runStart = i;
        }
        const qsizetype skipEnd = std::min(size, runStart + kSliceBytes - 8);
        if (m_asciiRunsAreSafe) {
            while (i + 8 <= skipEnd && allAscii8(p + i))
                i += 8;
        }
        while (i < skipEnd && m_class[p[i]] == 0)
            ++i;
        if (i >= skipEnd)
            continue;

        const uchar b1 = p[i];
        if (m_class[b1] == 2) {
            flush(i);
            out.append(QChar(char16_t(b1)));
            runStart = ++i;
            continue;
        }
        if (i + 1 >= size)
            break;
        const uchar b2 = p[i + 1];

        if (m_profile.fourByte && b2 >= 0x30 && b2 <= 0x39) {
            if (i + 3 >= size)
                break;
            const uchar b3 = p[i + 2];
            const uchar b4 = p[i + 3];
            if (b3 < 0x81 || b3 > 0xFE || b4 < 0x30 || b4 > 0x39) {
                flush(i);
                out.append(QChar(kReplacement));
                ++m_invalid;
                runStart = ++i;
                continue;
            }
            if (b1 >= 0x90 && b1 <= 0xE3) {
                const char32_t cp = 0x10000 + ((b1 - 0x90) * 10 + (b2 - 0x30)) * 1260
                        + (b3 - 0x81) * 10 + (b4 - 0x30);
                if (cp < 0x110000) {
                    flush(i);
                    out.append(QChar(QChar::highSurrogate(cp)));
                    out.append(QChar(QChar::lowSurrogate(cp)));
                    i += 4;
                    runStart = i;
                    continue;
                }
            }
            if (m_legitReplacementSize == 4 && packBytes(p + i, 4) == m_legitReplacement)
                ++legit;
            i += 4;
            continue;
        }

        if (b2 < 0x40 || b2 == 0x7F) {
            flush(i);
            out.append(QChar(kReplacement));
            ++m_invalid;
            runStart = ++i;
            continue;
        }
        if (m_legitReplacementSize == 2 && ((quint32(b1) << 8) | b2) == m_legitReplacement)
            ++legit;
        i += 2;
    }

    flush(i);
    if (i < size)
        m_pendingBytes = QByteArray(reinterpret_cast<const char *>(p + i), size - i);
    return out;
}

void FramedLegacyDecoder::convertRun(QString &out, const char *data, qsizetype size,
                                     qsizetype legitReplacements)
{
    if (size <= 0)
        return;
    const qsizetype reportedBefore = m_state.invalidChars;
    QString text = m_codec->toUnicode(data, int(size), &m_state);
    // Codecs that report invalid input are trusted; the ICU-backed ones report
    // nothing, so their replacements are counted instead.
    if (m_state.invalidChars == reportedBefore) {
        const auto replaced = std::count(text.utf16(), text.utf16() + text.size(), kReplacement);
        m_codecInvalid += std::max<qsizetype>(0, replaced - legitReplacements);
    }
    if (out.isEmpty())
        out = std::move(text);
    else
        out.append(text);
}

void FramedLegacyDecoder::reset()
{
    m_pendingBytes.clear();
    m_invalid = 0;
    m_codecInvalid = 0;
    m_state = QTextCodec::ConverterState();
}

qint64 FramedLegacyDecoder::invalidCount() const
{
    return m_invalid + m_codecInvalid + m_state.invalidChars;
}
