#include "session/ansiescapefilter.h"

#include "codec/wiretextcodecregistry.h"

#include <QString>

#include <cstring>

namespace {

constexpr qsizetype kCsiLimit = 256;
constexpr qsizetype kOscLimit = 4096;

constexpr uchar kEsc = 0x1B;
constexpr uchar kC1Csi = 0x9B;
constexpr uchar kC1St = 0x9C;
constexpr uchar kC1Osc = 0x9D;

} // namespace

bool AnsiEscapeFilter::encodingHasC1Controls(const QString &encoding)
{
    return WireTextCodecRegistry::canonicalName(encoding) == QLatin1String("ISO-8859-1");
}

QByteArray AnsiEscapeFilter::filter(const QByteArray &bytes)
{
    // Most traffic holds no escape at all: it is handed on without a copy.
    if (m_state == Ground && !m_c1 && !std::memchr(bytes.constData(), kEsc, size_t(bytes.size())))
        return bytes;
    QByteArray out;
    out.reserve(bytes.size() + m_pending.size());
    const char *p = bytes.constData();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        if (m_state == Ground) {
            // Plain text is copied in runs; only an introducer leaves ground.
            qsizetype j = i;
            if (!m_c1) {
                const void *hit = std::memchr(p + i, kEsc, size_t(n - i));
                j = hit ? static_cast<const char *>(hit) - p : n;
            }
            while (m_c1 && j < n) {
                const uchar b = uchar(p[j]);
                if (b == kEsc || b == kC1Csi || b == kC1Osc)
                    break;
                ++j;
            }
            out.append(p + i, j - i);
            if (j == n)
                break;
            const uchar b = uchar(p[j]);
            m_pending = QByteArray(1, char(b));
            m_state = b == kEsc ? Escape : (b == kC1Csi ? Csi : Osc);
            i = j + 1;
            continue;
        }
        step(uchar(p[i]), out);
        ++i;
    }
    return out;
}

void AnsiEscapeFilter::flushPending(QByteArray &out)
{
    out.append(m_pending);
    m_pending.clear();
    m_state = Ground;
}

void AnsiEscapeFilter::step(uchar b, QByteArray &out)
{
    switch (m_state) {
    case Escape:
        m_pending.append(char(b));
        if (b == '[')
            m_state = Csi;
        else if (b == ']')
            m_state = Osc;
        else
            flushPending(out);
        return;
    case Csi:
        if (b == kEsc) {
            flushPending(out);
            m_pending = QByteArray(1, char(kEsc));
            m_state = Escape;
            return;
        }
        m_pending.append(char(b));
        if (b >= 0x40 && b <= 0x7E) {
            m_pending.clear();
            m_state = Ground;
        } else if (b >= 0x20 && b <= 0x3F) {
            if (m_pending.size() > kCsiLimit)
                flushPending(out);
        } else {
            flushPending(out);
        }
        return;
    case Osc:
        if (b == 0x07 || (m_c1 && b == kC1St)) {
            m_pending.clear();
            m_state = Ground;
        } else if (b == kEsc) {
            m_pending.append(char(b));
            m_state = OscEscape;
        } else if (b == '\n' || b == '\r') {
            m_pending.clear();
            m_state = Ground;
            out.append(char(b));
        } else {
            m_pending.append(char(b));
            if (m_pending.size() > kOscLimit)
                flushPending(out);
        }
        return;
    case OscEscape:
        if (b == '\\' || (m_c1 && b == kC1St)) {
            m_pending.clear();
            m_state = Ground;
        } else if (b == '\n' || b == '\r') {
            m_pending.clear();
            m_state = Ground;
            out.append(char(b));
        } else {
            m_pending.append(char(b));
            // The cap holds for a run of ESC bytes too, or an ESC flood would
            // grow the held sequence without bound.
            if (m_pending.size() > kOscLimit)
                flushPending(out);
            else if (b != kEsc)
                m_state = Osc;
        }
        return;
    default:
        m_state = Ground;
        out.append(char(b));
        return;
    }
}
