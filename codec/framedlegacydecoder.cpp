#include "codec/framedlegacydecoder.h"

#include "codec/pendingbytes.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <algorithm>
#include <cstring>

namespace {

constexpr qsizetype kSliceBytes = 1048576;
constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kSlow = FramedLegacyDecoder::Table::kSlow;

quint32 packBytes(const uchar *p, int n)
{
    quint32 v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

bool allAscii8(const uchar *p)
{
    quint64 w;
    std::memcpy(&w, p, sizeof w);
    return (w & 0x8080808080808080ULL) == 0;
}

// The codec's reading of one complete sequence, or kSlow. A newline is appended
// so that a codec which sees the sequence as unfinished gives itself away.
char16_t probe(QTextCodec *codec, const char *bytes, int n)
{
    char buf[4];
    std::memcpy(buf, bytes, n);
    buf[n] = '\n';
    QTextCodec::ConverterState state;
    const QString s = codec->toUnicode(buf, n + 1, &state);
    if (s.size() != 2 || s.at(1) != QLatin1Char('\n'))
        return kSlow;
    const char16_t u = s.at(0).unicode();
    if (u == kReplacement || QChar::isSurrogate(u))
        return kSlow;
    return u;
}

} // namespace

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

std::shared_ptr<const FramedLegacyDecoder::Table> FramedLegacyDecoder::tableFor(QTextCodec *codec)
{
    static QMutex mutex;
    static QHash<QTextCodec *, std::shared_ptr<const Table>> cache;
    const QMutexLocker lock(&mutex);
    const auto it = cache.constFind(codec);
    if (it != cache.constEnd())
        return *it;
    auto table = std::make_shared<Table>();
    for (int b = 0x80; b < 0x100; ++b) {
        const char one = char(b);
        table->single[b - 0x80] = probe(codec, &one, 1);
    }
    for (int lead = 0x80; lead < 0x100; ++lead) {
        for (int trail = 0x40; trail < 0x100; ++trail) {
            const char two[2] = {char(lead), char(trail)};
            table->pair[(lead - 0x80) * 192 + (trail - 0x40)] = probe(codec, two, 2);
        }
    }
    cache.insert(codec, table);
    return table;
}

FramedLegacyDecoder::FramedLegacyDecoder(QTextCodec *codec, const FramingProfile &profile)
    : m_codec(codec)
    , m_profile(profile)
    , m_table(tableFor(codec))
{
    for (int b = 0; b < 256; ++b)
        m_lead[b] = m_profile.isLead(quint8(b));

    QTextCodec::ConverterState probeState;
    const QChar replacement(kReplacement);
    const QByteArray encoded = m_codec->fromUnicode(&replacement, 1, &probeState);
    if (probeState.invalidChars == 0 && (encoded.size() == 2 || encoded.size() == 4)) {
        m_legitReplacement = packBytes(reinterpret_cast<const uchar *>(encoded.constData()),
                                       int(encoded.size()));
        m_legitReplacementSize = int(encoded.size());
    }
}

QString FramedLegacyDecoder::decode(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};

    QByteArray joined;
    const QByteArrayView input = withPendingBytes(m_pendingBytes, bytes, joined);
    const uchar *p = reinterpret_cast<const uchar *>(input.data());
    const qsizetype size = input.size();

    // Every byte yields at most one unit; the codec path may grow the buffer.
    QString out(size, Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    qsizetype w = 0;
    const Table &table = *m_table;

    // Characters the table cannot answer collect into a run for the codec.
    qsizetype slowStart = -1;
    qsizetype legit = 0;
    auto flushSlow = [&](qsizetype end) {
        if (slowStart < 0)
            return;
        convertRun(out, w, reinterpret_cast<const char *>(p + slowStart), end - slowStart, legit);
        o = reinterpret_cast<char16_t *>(out.data());
        slowStart = -1;
        legit = 0;
    };
    auto markSlow = [&](qsizetype at) {
        if (slowStart >= 0 && at - slowStart >= kSliceBytes - 8)
            flushSlow(at);
        if (slowStart < 0)
            slowStart = at;
    };

    qsizetype i = 0;
    while (i < size) {
        const uchar b1 = p[i];
        if (b1 < 0x80) {
            flushSlow(i);
            o[w++] = b1;
            ++i;
            while (i + 8 <= size && allAscii8(p + i)) {
                for (int k = 0; k < 8; ++k)
                    o[w + k] = p[i + k];
                w += 8;
                i += 8;
            }
            continue;
        }
        if (!m_lead[b1]) {
            const char16_t v = table.single[b1 - 0x80];
            if (v != kSlow) {
                flushSlow(i);
                o[w++] = v;
            } else {
                markSlow(i);
            }
            ++i;
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
                flushSlow(i);
                o[w++] = kReplacement;
                ++m_invalid;
                ++i;
                continue;
            }
            if (b1 >= 0x90 && b1 <= 0xE3) {
                const char32_t cp = 0x10000 + ((b1 - 0x90) * 10 + (b2 - 0x30)) * 1260
                        + (b3 - 0x81) * 10 + (b4 - 0x30);
                if (cp < 0x110000) {
                    flushSlow(i);
                    o[w++] = QChar::highSurrogate(cp);
                    o[w++] = QChar::lowSurrogate(cp);
                    i += 4;
                    continue;
                }
            }
            markSlow(i);
            if (m_legitReplacementSize == 4 && packBytes(p + i, 4) == m_legitReplacement)
                ++legit;
            i += 4;
            continue;
        }

        if (b2 < 0x40 || b2 == 0x7F) {
            flushSlow(i);
            o[w++] = kReplacement;
            ++m_invalid;
            ++i;
            continue;
        }
        const char16_t v = table.pair[(b1 - 0x80) * 192 + (b2 - 0x40)];
        if (v != kSlow) {
            flushSlow(i);
            o[w++] = v;
        } else {
            markSlow(i);
            if (m_legitReplacementSize == 2 && ((quint32(b1) << 8) | b2) == m_legitReplacement)
                ++legit;
        }
        i += 2;
    }

    flushSlow(i);
    if (i < size)
        m_pendingBytes = QByteArray(reinterpret_cast<const char *>(p + i), size - i);
    out.truncate(w);
    return out;
}

void FramedLegacyDecoder::convertRun(QString &out, qsizetype &written, const char *data,
                                     qsizetype size, qsizetype legitReplacements)
{
    const qsizetype reportedBefore = m_state.invalidChars;
    const QString text = m_codec->toUnicode(data, int(size), &m_state);
    // Codecs that report invalid input are trusted; the ICU-backed ones report
    // nothing, so their replacements are counted instead.
    if (m_state.invalidChars == reportedBefore) {
        const auto replaced = std::count(text.utf16(), text.utf16() + text.size(), kReplacement);
        m_codecInvalid += std::max<qsizetype>(0, replaced - legitReplacements);
    }
    // The slow bytes were reserved one unit each; a codec may give more.
    if (text.size() > size)
        out.resize(out.size() + (text.size() - size));
    std::memcpy(out.data() + written, text.constData(), text.size() * sizeof(QChar));
    written += text.size();
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
