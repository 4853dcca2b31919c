// Hostile device input for the XMODEM/YMODEM engine, mostly on the receiving side:
// random and valid-checksum frames, wrong complements, oversized and odd headers,
// names with "../", CAN runs, interleaved timers and drains.
#include "tests/support/memoryxfer.h"

#include "transfer/xmodemcodec.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkAction(const XmodemCodec &codec, const XferAction &a, bool wasEnded)
{
    check(!(a.done && a.failed));
    check(a.bytes.size() <= 1029 + 16);
    check(a.timeoutMs >= -1);
    if (!a.bytes.isEmpty() || a.ended())
        check(a.timeoutMs == -1);
    if (wasEnded)
        check(a.bytes.isEmpty() && !a.ended() && a.timeoutMs == -1);
    check(codec.bufferedInput() <= XmodemCodec::MaxBufferedInput);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t mode = data[0];
    const XferProtocol protocol = XferProtocol(mode % 5);
    const bool receive = (mode & 0x80) == 0;  // mostly the receiver
    const int blockSize = (mode & 0x40) ? 128 : 1024;

    XmodemCodec codec;
    codec.init(receive, protocol, blockSize);
    MemorySink sink;
    MemorySource source(QByteArray(int(data[1]) * 37, 'x'));
    if (receive) {
        codec.setSink(&sink);
        if (mode & 0x20)
            codec.setReceiveCap(4096);
        sink.failWrite = (mode & 0x10) != 0 && (mode & 0x08) != 0;
    } else {
        codec.setSource(&source);
    }

    qint64 now = 0;
    bool ended = false;
    auto take = [&](const XferAction &a) {
        checkAction(codec, a, ended);
        if (a.ended())
            ended = true;
    };
    take(codec.start(XferFileInfo{QStringLiteral("default.bin"), -1, 0}, now));

    size_t pos = 2;
    while (pos < size) {
        const uint8_t op = data[pos++];
        const size_t len = std::min<size_t>(size - pos, op >> 3);
        const QByteArray chunk(reinterpret_cast<const char *>(data + pos), qsizetype(len));
        switch (op & 7) {
        case 0:
        case 1:
            take(codec.feed(chunk, now));
            pos += len;
            break;
        case 2: {
            // A frame with a valid check, so that headers and data get past the CRC:
            // flags (1024 bytes, NUL padding, CRC), block number, payload.
            const quint8 flags = chunk.isEmpty() ? 0 : quint8(chunk.at(0));
            const quint8 block = chunk.size() < 2 ? 0 : quint8(chunk.at(1));
            QByteArray payload = chunk.mid(2);
            payload = payload.leftJustified((flags & 1) ? 1024 : 128, (flags & 2) ? '\0' : char(0x1a), true);
            take(codec.feed(XmodemCodec::buildFrame(block, payload, (flags & 4) != 0), now));
            pos += len;
            break;
        }
        case 3:
            take(codec.onDrained(now));
            break;
        case 4:
            now += 1 + (op >> 3) * 1000;
            take(codec.onTimer(now));
            break;
        case 5:
            take(codec.feed(QByteArray(int(op >> 3), char(0x18)), now));
            break;
        case 6:
            take(codec.feed(QByteArray(1, char(0x04)), now));
            break;
        case 7:
            if ((op >> 3) == 31)
                take(codec.cancel(now));
            else
                take(codec.onDrained(now));
            break;
        }
        const XferProgress p = codec.progress();
        if (receive) {
            check(p.bytesDone == sink.data.size() || sink.failWrite);
            if (codec.fileInfo().size >= 0 && codec.state() != XmodemCodec::ReceiveStart)
                check(sink.data.size() <= codec.fileInfo().size);
        } else {
            check(p.bytesDone <= source.size());
        }
    }
    return 0;
}
