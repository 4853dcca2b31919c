#pragma once

#include "codec/framingprofile.h"
#include "codec/wiretextdecoder.h"

#include <QByteArray>
#include <QTextCodec>

#include <array>
#include <memory>

class QString;

// Decoder for a named legacy codec. It frames the stream itself so that the codec
// only ever sees whole characters: an incomplete trailing character waits in
// pendingBytes, malformed pairs become U+FFFD here, and GB18030's supplementary
// four-byte form is computed directly. Characters the codec maps to exactly one
// UTF-16 unit come from a table filled once per codec from the codec itself;
// everything else (replacements, rare four-byte forms) goes through the codec,
// whole characters at a time, with one converter state. ASCII bytes are always
// themselves. Call order: decode() per chunk, reset() to start a new stream.
class FramedLegacyDecoder : public WireTextDecoder
{
public:
    FramedLegacyDecoder(QTextCodec *codec, const FramingProfile &profile);

    QString decode(const QByteArray &bytes) override;
    void reset() override;
    qint64 invalidCount() const override;

    const QByteArray &pendingBytes() const { return m_pendingBytes; }

    // ASCII bytes the codec does not map to themselves in both directions. Qt's
    // Shift_JIS converter swaps 0x1A, 0x1C and 0x7F (an IBM convention), which
    // would turn a received SUB into FS and a sent Ctrl-Z into DEL; the wire
    // codecs keep every ASCII byte as itself instead. Cached per codec.
    static QByteArray asciiMismatches(QTextCodec *codec);

    // What the codec makes of each single byte 0x80..0xFF and each pair with a
    // lead 0x80..0xFF and a trail 0x40..0xFF; kSlow where that is not exactly
    // one UTF-16 unit (or is U+FFFD), so the codec must be asked.
    struct Table
    {
        static constexpr char16_t kSlow = 0xFFFF;
        std::array<char16_t, 128> single{};
        std::array<char16_t, 128 * 192> pair{};
    };
    static std::shared_ptr<const Table> tableFor(QTextCodec *codec);

private:
    void convertRun(QString &out, qsizetype &written, const char *data, qsizetype size,
                    qsizetype legitReplacements);

    QTextCodec *m_codec;
    FramingProfile m_profile;
    std::shared_ptr<const Table> m_table;
    std::array<bool, 256> m_lead{};
    QByteArray m_pendingBytes;
    qint64 m_invalid = 0;
    // The codec's state does not count invalid input, so replacements it emits
    // are counted here (minus sequences that legitimately decode to U+FFFD).
    qint64 m_codecInvalid = 0;
    QTextCodec::ConverterState m_state;
    // Bytes of the one sequence, if any, that the codec maps to U+FFFD itself.
    quint32 m_legitReplacement = 0;
    int m_legitReplacementSize = 0;
};
