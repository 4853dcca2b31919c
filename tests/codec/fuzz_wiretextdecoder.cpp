// Decoders on arbitrary bytes: whole and chunked decoding must agree, the held
// tail stays within one character, and encoding the result never misbehaves.

#include "codec/converterdecoder.h"
#include "codec/framedlegacydecoder.h"
#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const QString encoding = WireTextCodecRegistry::availableEncodings().value(
            data[0] % WireTextCodecRegistry::catalogSize, QStringLiteral("UTF-8"));
    quint32 lcg = data[1] | 1u;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    auto whole = WireTextCodecRegistry::createDecoder(encoding);
    const QString expected = whole->decode(bytes);

    auto chunked = WireTextCodecRegistry::createDecoder(encoding);
    QString text;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        lcg = lcg * 1103515245u + 12345u;
        const qsizetype n = 1 + (lcg >> 16) % 7;
        text += chunked->decode(bytes.mid(pos, n));
        pos += n;
        qsizetype held = 0;
        if (auto *f = dynamic_cast<FramedLegacyDecoder *>(chunked.get()))
            held = f->pendingBytes().size();
        else if (auto *c = dynamic_cast<ConverterDecoder *>(chunked.get()))
            held = c->pendingBytes().size();
        if (held > 3)
            std::abort();
    }
    if (text != expected || chunked->invalidCount() != whole->invalidCount())
        std::abort();
    if (whole->invalidCount() < 0 || whole->invalidCount() > bytes.size())
        std::abort();

    const WireEncodeResult r = WireTextCodecRegistry::encode(expected, encoding);
    if (r.ok != r.error.isEmpty() || (!r.ok && !r.bytes.isEmpty()))
        std::abort();
    return 0;
}
