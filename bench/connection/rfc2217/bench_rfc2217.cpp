// Throughput of the RFC 2217 codec on typical and worst-case payloads; prints a table.
#include "connection/rfc2217clientsession.h"
#include "connection/rfc2217codec.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstdio>
#include <functional>

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char &b : out)
        b = char(rng.bounded(256));
    return out;
}

// Runs op over the chunk until at least minMs have passed; returns input MB/s (10^6 bytes).
double measure(const QByteArray &chunk, int minMs, const std::function<qsizetype(const QByteArray &)> &op)
{
    qsizetype sink = 0;
    qint64 bytes = 0;
    QElapsedTimer timer;
    timer.start();
    do {
        for (int i = 0; i < 16; ++i) {
            sink += op(chunk);
            bytes += chunk.size();
        }
    } while (timer.elapsed() < minMs);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (sink == -1)
        std::puts(""); // keeps the work observable
    return double(bytes) / seconds / 1e6;
}

} // namespace

int main()
{
    const qsizetype chunkSize = 64 * 1024;
    const int minMs = 400;
    const QByteArray plain(chunkSize, 'a');
    const QByteArray random = randomBytes(chunkSize, 1);
    const QByteArray allIac(chunkSize, char(0xFF));
    const QByteArray randomWire = Rfc2217Codec::escapeData(random);
    const QByteArray iacWire = Rfc2217Codec::escapeData(allIac);

    struct Row
    {
        const char *name;
        const QByteArray *input;
        std::function<qsizetype(const QByteArray &)> op;
    };
    Rfc2217Codec parser(Rfc2217Codec::Client);
    Rfc2217ClientSession session;
    session.start();
    session.decode(QByteArray::fromHex("fffd2c"));
    const Row rows[] = {
        {"escapeData, text (no 0xFF)", &plain, [](const QByteArray &b) { return Rfc2217Codec::escapeData(b).size(); }},
        {"escapeData, random bytes", &random, [](const QByteArray &b) { return Rfc2217Codec::escapeData(b).size(); }},
        {"escapeData, all 0xFF", &allIac, [](const QByteArray &b) { return Rfc2217Codec::escapeData(b).size(); }},
        {"parse, text (no 0xFF)", &plain,
         [&](const QByteArray &b) { return parser.parse(b, nullptr, nullptr).size(); }},
        {"parse, random bytes escaped", &randomWire,
         [&](const QByteArray &b) { return parser.parse(b, nullptr, nullptr).size(); }},
        {"parse, all 0xFF escaped", &iacWire,
         [&](const QByteArray &b) { return parser.parse(b, nullptr, nullptr).size(); }},
        {"session decode, random escaped", &randomWire,
         [&](const QByteArray &b) { return session.decode(b).data.size(); }},
    };

    std::printf("RFC 2217 codec, %lld-byte chunks, MB/s of input (10^6 bytes)\n\n", static_cast<long long>(chunkSize));
    std::printf("| %-32s | %10s |\n", "operation", "MB/s");
    std::printf("|%s|%s|\n", "----------------------------------", "------------");
    for (const Row &row : rows)
        std::printf("| %-32s | %10.0f |\n", row.name, measure(*row.input, minMs, row.op));
    return 0;
}
