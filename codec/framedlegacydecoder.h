#pragma once

#include "codec/framingprofile.h"
#include "codec/wiretextdecoder.h"

#include <QByteArray>
#include <QTextCodec>

#include <array>

// Decoder for a named legacy codec. It frames the stream itself so that the codec
// only ever sees whole characters: an incomplete trailing character waits in
// pendingBytes, malformed pairs become U+FFFD here, and GB18030's supplementary
// four-byte form is computed directly. Call order: decode() per chunk, reset()
// to start a new stream.
class FramedLegacyDecoder : public WireTextDecoder
{
public:
    FramedLegacyDecoder(QTextCodec *codec, const FramingProfile &profile);

    QString decode(const QByteArray &bytes) override;
    void reset() override;
    qint64 invalidCount() const override;

    const QByteArray &pendingBytes() const { return m_pendingBytes; }

private:
    void convertRun(QString &out, const char *data, qsizetype size, qsizetype legitReplacements);

    QTextCodec *m_codec;
    FramingProfile m_profile;
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
