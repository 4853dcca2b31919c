#pragma once

#include "codec/wiretextdecoder.h"

#include <QByteArray>
#include <QStringDecoder>

// Decoder for the encodings Qt knows natively (UTF-8, Latin-1, the locale's).
// UTF-8 is framed here rather than by QStringDecoder, whose stateful decoding
// replaces a malformed sequence differently when it straddles two chunks; a
// display must not change with how the port happened to deliver the bytes.
// Call order: decode() per chunk, reset() to start a new stream.
class ConverterDecoder : public WireTextDecoder
{
public:
    explicit ConverterDecoder(QStringConverter::Encoding encoding);

    QString decode(const QByteArray &bytes) override;
    void reset() override;
    qint64 invalidCount() const override;

    const QByteArray &pendingBytes() const { return m_pendingBytes; }

private:
    // QStringDecoder keeps its state protected; this exposes the invalid count.
    class CountingDecoder : public QStringDecoder
    {
    public:
        using QStringDecoder::QStringDecoder;
        qint64 invalidChars() const { return state.invalidChars; }
    };

    QString decodeUtf8(const QByteArray &bytes);

    CountingDecoder m_decoder;
    bool m_utf8;
    QByteArray m_pendingBytes;
    qint64 m_invalid = 0;
};
