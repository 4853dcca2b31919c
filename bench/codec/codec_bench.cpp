// Decode throughput of the wire text decoders next to glibc iconv on the same
// bytes in the same run, and the checksum/CRC rates. Prints a table; asserts nothing.

#include "codec/checksum.h"
#include "codec/crc.h"
#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr qsizetype kChunk = 4096;

// Converts with iconv; empty on failure.
QByteArray iconvConvert(const char *to, const char *from, const QByteArray &in)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        return {};
    QByteArray out(in.size() * 4 + 16, '\0');
    char *ip = const_cast<char *>(in.constData());
    size_t il = size_t(in.size());
    char *op = out.data();
    size_t ol = size_t(out.size());
    const size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == size_t(-1))
        return {};
    out.truncate(op - out.data());
    return out;
}

// Characters of an encoding's everyday repertoire, read back through iconv.
QString repertoire(const char *iconvName, const QList<std::pair<int, int>> &leadRanges, int trailLow,
                   int trailHigh)
{
    QByteArray bytes;
    for (const auto &[lo, hi] : leadRanges)
        for (int l = lo; l <= hi; ++l)
            for (int t = trailLow; t <= trailHigh; ++t) {
                if (t == 0x7F)
                    continue;
                const QByteArray pair{char(l), char(t)};
                if (!iconvConvert("UTF-16LE", iconvName, pair).isEmpty())
                    bytes += pair;
            }
    const QByteArray u16 = iconvConvert("UTF-16LE", iconvName, bytes);
    return QString(reinterpret_cast<const QChar *>(u16.constData()), u16.size() / 2);
}

// Log-like lines, about a third of the characters CJK, ~targetBytes once encoded.
QString makeText(const QString &han, qsizetype targetChars, quint32 seed)
{
    static const char *words[] = {"ERROR", "WARN", "INFO", "port", "COM3", "rx", "tx", "0x1F",
                                  "baud=115200", "ok", "retry", "ACK", "NAK"};
    QRandomGenerator rng(seed);
    QString text;
    text.reserve(targetChars + 200);
    int line = 0;
    while (text.size() < targetChars) {
        text += QString::asprintf("%08d", line++);
        const int parts = 4 + int(rng.bounded(9));
        for (int p = 0; p < parts; ++p) {
            text += QLatin1Char(' ');
            if (rng.bounded(100) < 45) {
                const int n = 2 + int(rng.bounded(7));
                for (int k = 0; k < n; ++k)
                    text += han.at(rng.bounded(int(han.size())));
            } else {
                text += QLatin1String(words[rng.bounded(13)]);
                text += QString::number(rng.bounded(10000));
            }
        }
        text += QStringLiteral("\uff0c\u5b8c\u6210\u3002\n");
    }
    return text;
}

double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double oursMBps(const QString &encoding, const QByteArray &data, qint64 *units)
{
    std::vector<double> rates;
    for (int run = 0; run < 3; ++run) {
        auto decoder = WireTextCodecRegistry::createDecoder(encoding);
        qint64 total = 0;
        QElapsedTimer t;
        t.start();
        for (qsizetype pos = 0; pos < data.size(); pos += kChunk) {
            const QByteArray chunk = QByteArray::fromRawData(data.constData() + pos,
                                                             std::min(kChunk, data.size() - pos));
            total += decoder->decode(chunk).size();
        }
        const double s = t.nsecsElapsed() / 1e9;
        rates.push_back(data.size() / 1e6 / s);
        *units = total + decoder->invalidCount() * 1000000;
    }
    return medianOf(rates);
}

// iconv as a port reader would use it: 4 KiB in, an incomplete tail carried over.
double iconvMBps(const char *from, const QByteArray &data, qint64 *units)
{
    std::vector<double> rates;
    std::vector<char> out(kChunk * 4 + 64);
    for (int run = 0; run < 3; ++run) {
        iconv_t cd = iconv_open("UTF-16LE", from);
        if (cd == iconv_t(-1))
            return 0;
        qint64 total = 0;
        char carry[8];
        size_t carried = 0;
        char buf[kChunk + 8];
        QElapsedTimer t;
        t.start();
        for (qsizetype pos = 0; pos < data.size(); pos += kChunk) {
            const size_t n = size_t(std::min(kChunk, data.size() - pos));
            std::copy(carry, carry + carried, buf);
            std::copy(data.constData() + pos, data.constData() + pos + n, buf + carried);
            char *ip = buf;
            size_t il = carried + n;
            char *op = out.data();
            size_t ol = out.size();
            while (il > 0) {
                if (iconv(cd, &ip, &il, &op, &ol) != size_t(-1))
                    break;
                if (errno == EINVAL)
                    break; // incomplete character: wait for the next chunk
                ++ip; // invalid byte: skip it, as a replacement would
                --il;
            }
            carried = il;
            std::copy(ip, ip + il, carry);
            total += (op - out.data()) / 2;
        }
        const double s = t.nsecsElapsed() / 1e9;
        iconv_close(cd);
        rates.push_back(data.size() / 1e6 / s);
        *units = total;
    }
    return medianOf(rates);
}

double rateMBps(qsizetype bytes, const std::function<quint64()> &work)
{
    std::vector<double> rates;
    quint64 sink = 0;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        int reps = 0;
        do {
            sink += work();
            ++reps;
        } while (t.nsecsElapsed() < 150000000);
        rates.push_back(double(bytes) * reps / 1e6 / (t.nsecsElapsed() / 1e9));
    }
    if (sink == 42)
        std::puts("");
    return medianOf(rates);
}

} // namespace

int main()
{
    struct Row
    {
        const char *name;
        const char *iconvName;
        QString text;
    };

    const QString gbHan = repertoire("GBK", {{0xB0, 0xD7}}, 0xA1, 0xFE);
    const QString big5Han = repertoire("BIG5", {{0xA4, 0xC6}}, 0x40, 0xFE);
    const QString sjisChars = repertoire("SHIFT_JIS", {{0x82, 0x83}, {0x88, 0x9F}}, 0x40, 0xFC);

    // ~50 MB of encoded text each (CJK is two bytes in these, three in UTF-8).
    const qsizetype chars = 48 * 1000 * 1000;
    const QString gbText = makeText(gbHan, chars, 20240607);
    std::vector<Row> rows = {
        {"UTF-8", "UTF-8", gbText},
        {"GBK", "GBK", gbText},
        {"GB18030", "GB18030", gbText},
        {"Big5", "BIG5", makeText(big5Han, chars, 7)},
        {"Shift-JIS", "SHIFT_JIS", makeText(sjisChars, chars, 8)},
    };

    std::printf("Decode, 4 KiB chunks, median of 3 (MB = 10^6 input bytes)\n");
    std::printf("%-10s %9s %12s %12s %8s  %s\n", "encoding", "MB", "ours MB/s", "iconv MB/s",
                "ratio", "output agrees");
    for (Row &row : rows) {
        const QByteArray u16(reinterpret_cast<const char *>(row.text.utf16()), row.text.size() * 2);
        const QByteArray data = iconvConvert(row.iconvName, "UTF-16LE", u16);
        if (data.isEmpty()) {
            std::printf("%-10s could not be generated\n", row.name);
            continue;
        }
        qint64 oursUnits = 0;
        qint64 iconvUnits = 0;
        const double ours = oursMBps(QString::fromLatin1(row.name), data, &oursUnits);
        const double ic = iconvMBps(row.iconvName, data, &iconvUnits);
        std::printf("%-10s %9.1f %12.1f %12.1f %7.2fx  %s\n", row.name, data.size() / 1e6, ours, ic,
                    ours / ic, oursUnits == iconvUnits ? "yes" : "NO (length differs)");
        row.text.clear();
    }

    QByteArray mib(1 << 20, '\0');
    QRandomGenerator rng(1);
    for (char &c : mib)
        c = char(rng.bounded(256));

    std::printf("\nChecksums and CRCs on 1 MiB, median of 5\n");
    std::printf("%-34s %10s\n", "routine", "MB/s");
    const char *modes[] = {"Checksum-8 (SUM)", "XOR (BCC)", "CRC-8", "CRC-16/MODBUS", "CRC-32"};
    for (int mode = 1; mode <= 5; ++mode) {
        const double r = rateMBps(mib.size(), [&] { return quint64(appendChecksum(mib, mode).size()); });
        std::printf("appendChecksum %-19s %10.1f\n", modes[mode - 1], r);
    }
    for (const CrcModel &m : crcCatalog()) {
        const double r = rateMBps(mib.size(), [&] { return computeCatalogCrc(m.id, mib); });
        std::printf("computeCatalogCrc %-16s %10.1f\n", qPrintable(m.name), r);
    }
    const struct {
        const char *name;
        CrcParams p;
    } generic[] = {
        {"CRC-32", {32, 0x04C11DB7, 0xFFFFFFFF, 0xFFFFFFFF, true, true}},
        {"CRC-16/XMODEM", {16, 0x1021, 0, 0, false, false}},
        {"CRC-64/XZ", {64, 0x42F0E1EBA9EA3693, ~quint64(0), ~quint64(0), true, true}},
        {"CRC-5/USB", {5, 0x05, 0x1F, 0x1F, true, true}},
    };
    for (const auto &g : generic) {
        const double r = rateMBps(mib.size(), [&] { return computeCrc(mib, g.p); });
        std::printf("computeCrc (generic) %-13s %10.1f\n", g.name, r);
    }
    return 0;
}
