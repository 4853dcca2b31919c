#pragma once

#include "codec/wiretextcodecregistry.h"

#include <QByteArray>
#include <QHash>
#include <QList>
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

// Encoded forms of about 1500 characters the encoding can carry, built once.
inline const QList<QByteArray> &pool(const QString &encoding)
{
    static QHash<QString, QList<QByteArray>> pools;
    auto it = pools.find(encoding);
    if (it == pools.end()) {
        QRandomGenerator rng(0x5eed);
        QList<QByteArray> chars;
        for (int tries = 0; tries < 6000 && chars.size() < 1500; ++tries) {
            const char32_t cp = randomCandidate(rng);
            const WireEncodeResult r = WireTextCodecRegistry::encode(QString::fromUcs4(&cp, 1), encoding);
            if (r.ok)
                chars.append(r.bytes);
        }
        it = pools.insert(encoding, chars);
    }
    return *it;
}

// About 'size' bytes; 'noisePercent' of the pieces are random bytes.
inline QByteArray make(const QString &encoding, qsizetype size, quint32 seed, int noisePercent = 2)
{
    QRandomGenerator rng(seed);
    const QList<QByteArray> &chars = pool(encoding);
    QByteArray out;
    out.reserve(size + 8);
    while (out.size() < size) {
        if (int(rng.bounded(100)) < noisePercent)
            out.append(char(rng.bounded(256)));
        else
            out.append(chars.at(rng.bounded(int(chars.size()))));
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
