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

inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out(size, '\0');
    for (char &c : out)
        c = char(rng.bounded(256));
    return out;
}

// About 'size' bytes; 'noisePercent' of the pieces are random bytes.
inline QByteArray make(const QString &encoding, qsizetype size, quint32 seed, int noisePercent = 2)
{
    // Encoded forms of about 1500 characters the encoding can carry, built once:
    // blocks of code points with their start and length.
    static QHash<QString, QList<QByteArray>> pools;
    QList<QByteArray> &chars = pools[encoding];
    static const char32_t blocks[][2] = {{0x20, 0x5F}, {0x20, 0x5F}, {0x20, 0x5F}, {0x4E00, 0x5200}, {0x3040, 0xC0},
                                         {0xAC00, 0x2BA4}, {0xA0, 0x160}, {0xFF01, 0x5E}, {0x20000, 0xA6D0}, {0x391, 0x70}};
    QRandomGenerator rng(0x5eed);
    for (int tries = chars.isEmpty() ? 0 : 6000; tries < 6000 && chars.size() < 1500; ++tries) {
        const auto &b = blocks[rng.bounded(10)];
        const char32_t cp = b[0] + rng.bounded(quint32(b[1]));
        const WireEncodeResult r = WireTextCodecRegistry::encode(QString::fromUcs4(&cp, 1), encoding);
        if (r.ok)
            chars.append(r.bytes);
    }
    rng.seed(seed);
    QByteArray out;
    while (out.size() < size)
        out += int(rng.bounded(100)) < noisePercent ? QByteArray(1, char(rng.bounded(256))) : chars.at(rng.bounded(int(chars.size())));
    return out;
}

} // namespace TestCorpus
