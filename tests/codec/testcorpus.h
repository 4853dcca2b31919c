#pragma once

#include "codec/wiretextcodecregistry.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

// Seeded text corpora in a catalog encoding: mostly characters the encoding can
// carry (ASCII, CJK, kana, Hangul, Latin, supplementary), with a few raw bytes
// mixed in so the invalid paths are exercised too.
namespace TestCorpus {

inline char32_t randomCandidate(QRandomGenerator &rng)
{
    switch (rng.bounded(10)) {
    case 0: case 1: case 2: return char32_t(0x20 + rng.bounded(0x5F));
    case 3: return char32_t(0x4E00 + rng.bounded(0x5200));
    case 4: return char32_t(0x3040 + rng.bounded(0xC0));
    case 5: return char32_t(0xAC00 + rng.bounded(0x2BA4));
    case 6: return char32_t(0xA0 + rng.bounded(0x160));
    case 7: return char32_t(0xFF01 + rng.bounded(0x5E));
    case 8: return char32_t(0x20000 + rng.bounded(0xA6D0));
    default: return char32_t(0x391 + rng.bounded(0x70));
    }
}

// About 'size' bytes; 'noisePercent' of the pieces are random bytes.
inline QByteArray make(const QString &encoding, qsizetype size, quint32 seed, int noisePercent = 2)
{
    QRandomGenerator rng(seed);
    QByteArray out;
    while (out.size() < size) {
        if (int(rng.bounded(100)) < noisePercent) {
            out.append(char(rng.bounded(256)));
            continue;
        }
        const char32_t cp = randomCandidate(rng);
        const QString ch = QString::fromUcs4(&cp, 1);
        const WireEncodeResult r = WireTextCodecRegistry::encode(ch, encoding);
        if (r.ok)
            out.append(r.bytes);
    }
    return out;
}

inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(rng.bounded(256));
    return out;
}

} // namespace TestCorpus
