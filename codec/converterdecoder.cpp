#include "codec/converterdecoder.h"

#include "codec/pendingbytes.h"

#include <QString>

#include <algorithm>
#include <cstring>

namespace {

constexpr qsizetype kSliceUnits = 1048576;
constexpr char16_t kReplacement = 0xFFFD;

bool isUtf8(QStringConverter::Encoding encoding)
{
#ifdef Q_OS_WIN
    return encoding == QStringConverter::Utf8;
#else
    // Qt 6 treats the locale encoding as UTF-8 everywhere but Windows.
    return encoding == QStringConverter::Utf8 || encoding == QStringConverter::System;
#endif
}

// Valid range of the second byte after a lead (first-byte specific, so that
// overlongs, surrogates and values above U+10FFFF are rejected at once).
inline bool secondOk(uchar lead, uchar b)
{
    switch (lead) {
    case 0xE0: return b >= 0xA0 && b <= 0xBF;
    case 0xED: return b >= 0x80 && b <= 0x9F;
    case 0xF0: return b >= 0x90 && b <= 0xBF;
    case 0xF4: return b >= 0x80 && b <= 0x8F;
    default: return b >= 0x80 && b <= 0xBF;
    }
}

inline int sequenceLength(uchar lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

} // namespace

ConverterDecoder::ConverterDecoder(QStringConverter::Encoding encoding)
    // A leading BOM is data from the device: show it instead of silently dropping it.
    : m_decoder(encoding, QStringConverter::Flag::ConvertInitialBom)
    , m_utf8(isUtf8(encoding))
{
}

QString ConverterDecoder::decode(const QByteArray &bytes)
{
    if (m_utf8)
        return decodeUtf8(bytes);
    if (bytes.size() <= kSliceUnits)
        return m_decoder.decode(bytes);
    QString out;
    for (qsizetype pos = 0; pos < bytes.size(); pos += kSliceUnits)
        out += m_decoder.decode(
                QByteArrayView(bytes).sliced(pos, std::min(kSliceUnits, bytes.size() - pos)));
    return out;
}

// One pass: ASCII eight bytes at a time, multi-byte sequences validated as they
// are decoded; each maximal ill-formed subpart becomes one U+FFFD; a valid but
// incomplete sequence at the end waits in m_pendingBytes (at most three bytes).
QString ConverterDecoder::decodeUtf8(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    QByteArray joined;
    const QByteArrayView input = withPendingBytes(m_pendingBytes, bytes, joined);
    const uchar *p = reinterpret_cast<const uchar *>(input.data());
    const qsizetype size = input.size();

    QString out(size, Qt::Uninitialized);
    char16_t *dst = reinterpret_cast<char16_t *>(out.data());
    char16_t *const begin = dst;
    qsizetype i = 0;
    while (i < size) {
        while (i + 8 <= size) {
            quint64 w;
            std::memcpy(&w, p + i, sizeof w);
            if (w & 0x8080808080808080ULL)
                break;
            for (int k = 0; k < 8; ++k)
                dst[k] = p[i + k];
            dst += 8;
            i += 8;
        }
        if (i >= size)
            break;
        const uchar b0 = p[i];
        if (b0 < 0x80) {
            *dst++ = b0;
            ++i;
            continue;
        }
        const int len = sequenceLength(b0);
        if (len == 0) {
            *dst++ = kReplacement;
            ++m_invalid;
            ++i;
            continue;
        }
        // Length of the valid prefix available; stops at the first bad byte.
        int have = 1;
        while (have < len && i + have < size) {
            const uchar b = p[i + have];
            const bool ok = have == 1 ? secondOk(b0, b) : (b >= 0x80 && b <= 0xBF);
            if (!ok)
                break;
            ++have;
        }
        if (have == len) {
            char32_t cp;
            if (len == 2) {
                cp = (char32_t(b0 & 0x1F) << 6) | (p[i + 1] & 0x3F);
            } else if (len == 3) {
                cp = (char32_t(b0 & 0x0F) << 12) | (char32_t(p[i + 1] & 0x3F) << 6)
                        | (p[i + 2] & 0x3F);
            } else {
                cp = (char32_t(b0 & 0x07) << 18) | (char32_t(p[i + 1] & 0x3F) << 12)
                        | (char32_t(p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
            }
            if (cp >= 0x10000) {
                *dst++ = QChar::highSurrogate(cp);
                *dst++ = QChar::lowSurrogate(cp);
            } else {
                *dst++ = char16_t(cp);
            }
            i += len;
            continue;
        }
        if (i + have == size) {
            m_pendingBytes = QByteArray(reinterpret_cast<const char *>(p + i), have);
            break;
        }
        *dst++ = kReplacement;
        ++m_invalid;
        i += have;
    }
    out.truncate(dst - begin);
    return out;
}

void ConverterDecoder::reset()
{
    m_decoder.resetState();
    m_pendingBytes.clear();
    m_invalid = 0;
}

qint64 ConverterDecoder::invalidCount() const
{
    return m_invalid + m_decoder.invalidChars();
}
