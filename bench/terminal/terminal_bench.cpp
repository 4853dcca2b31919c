// Throughput of the receive-path engines (escape filter, display and log
// formatting with stamps and line breaks, console text) and the send encoding,
// per chunk size. Prints a table; asserts nothing.

#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"
#include "settings/formatsetting.h"
#include "session/ansiescapefilter.h"
#include "session/sendtext.h"
#include "session/traffictext.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QString>

#include <cstdio>
#include <functional>

namespace {

constexpr qsizetype kTotal = 32 * 1024 * 1024;

// Log-like text: lines of 20 to 120 printable characters, some UTF-8, some colour codes.
QByteArray sampleText(bool colours)
{
    QRandomGenerator rng(7);
    QByteArray out;
    out.reserve(kTotal + 256);
    while (out.size() < kTotal) {
        if (colours)
            out += "\x1b[1;3" + QByteArray::number(rng.bounded(8)) + "m";
        const int n = 20 + rng.bounded(100);
        for (int i = 0; i < n; ++i) {
            if (rng.bounded(40) == 0)
                out += "\xe4\xb8\x9d";
            else
                out += char(0x20 + rng.bounded(0x5F));
        }
        if (colours)
            out += "\x1b[0m";
        out += "\r\n";
    }
    out.truncate(kTotal);
    return out;
}

QByteArray sampleBinary()
{
    QRandomGenerator rng(11);
    QByteArray out(kTotal, '\0');
    for (qsizetype i = 0; i < out.size(); ++i)
        out[i] = char(rng.bounded(256));
    return out;
}

// Runs `work` over the data cut in chunks; returns MB/s of input.
double rate(const QByteArray &data, qsizetype chunk, const std::function<void(const QByteArray &, qint64)> &work)
{
    QElapsedTimer timer;
    timer.start();
    qint64 ms = 0;
    for (qsizetype pos = 0; pos < data.size(); pos += chunk, ++ms)
        work(QByteArray::fromRawData(data.constData() + pos, qMin(chunk, data.size() - pos)), ms);
    const double seconds = timer.nsecsElapsed() / 1e9;
    return data.size() / 1048576.0 / seconds;
}

void row(const char *what, const char *data, qsizetype chunk, double mbps)
{
    std::printf("| %-44s | %-8s | %6lld | %9.1f |\n", what, data, static_cast<long long>(chunk), mbps);
    std::fflush(stdout);
}

} // namespace

int main()
{
    const QByteArray text = sampleText(false);
    const QByteArray coloured = sampleText(true);
    const QByteArray binary = sampleBinary();
    const QDateTime start = QDateTime::currentDateTime();

    std::printf("| %-44s | %-8s | %6s | %9s |\n", "engine", "data", "chunk", "MB/s in");
    std::printf("|%s|%s|%s|%s|\n", "----------------------------------------------", "----------",
                "--------", "-----------");

    for (qsizetype chunk : {qsizetype(512), qsizetype(4096), qsizetype(40960)}) {
        {
            AnsiEscapeFilter f;
            row("escape filter", "text", chunk, rate(text, chunk, [&](const QByteArray &b, qint64) { f.filter(b); }));
        }
        {
            AnsiEscapeFilter f;
            row("escape filter", "colours", chunk,
                rate(coloured, chunk, [&](const QByteArray &b, qint64) { f.filter(b); }));
        }
        for (bool stamps : {false, true}) {
            for (int format : {int(TextFormat), int(HexFormat)}) {
                for (auto target : {TrafficFormatter::Target::Display, TrafficFormatter::Target::Log}) {
                    FormatSetting s;
                    s.ReceiveMsgForamt = format;
                    s.RxAutoFeedLine = true;
                    s.DisplayMsgTime = stamps;
                    s.LogTimestampEnabled = stamps;
                    TrafficFormatter formatter(target);
                    const auto decoder = WireTextCodecRegistry::createDecoder(s.ReceiveEncoding);
                    const bool display = target == TrafficFormatter::Target::Display;
                    const QByteArray &data = format == TextFormat ? text : binary;
                    const double r = rate(data, chunk, [&](const QByteArray &b, qint64 ms) {
                        const rxData chunkData{start.addMSecs(ms), 1, b};
                        const QString stamp = stamps ? chunkData.time.toString(s.RxTimeFormat) : QString();
                        formatter.format(chunkData, decoder.get(), s, stamp);
                    });
                    char label[64];
                    std::snprintf(label, sizeof label, "%s formatter, %s, stamps %s",
                                  display ? "display" : "log", format == TextFormat ? "text" : "hex",
                                  stamps ? "on" : "off");
                    row(label, format == TextFormat ? "text" : "binary", chunk, r);
                }
            }
        }
        {
            FormatSetting s;
            s.DisplayMsgTime = true;
            const auto decoder = WireTextCodecRegistry::createDecoder(s.ReceiveEncoding);
            row("console text, stamps on", "text", chunk, rate(text, chunk, [&](const QByteArray &b, qint64) {
                formatForConsole(b, 1, decoder.get(), s, start);
            }));
        }
    }

    // The send side works on one send box at a time; a large box shows the per-byte cost.
    const QString box = QString::fromUtf8(text.left(4 * 1024 * 1024));
    const QString hexBox = toHexText(binary.left(1024 * 1024));
    for (int mode : {0, 4, 5}) {
        FormatSetting s;
        s.TxLineEndingMode = 3;
        s.TxAutoFeedLine = true;
        s.SendChecksum = mode;
        QElapsedTimer t;
        t.start();
        const SendEncodeResult r = encodeSend(box, false, s);
        char label[64];
        std::snprintf(label, sizeof label, "encodeSend text CR LF, checksum %d", mode);
        row(label, "4 MB box", 0, r.bytes.size() / 1048576.0 / (t.nsecsElapsed() / 1e9));
        t.restart();
        const SendEncodeResult h = encodeSend(hexBox, true, s);
        std::snprintf(label, sizeof label, "encodeSend hex, checksum %d", mode);
        row(label, "1 MB hex", 0, h.bytes.size() / 1048576.0 / (t.nsecsElapsed() / 1e9));
    }
    return 0;
}
