// Prints the cost of the log stamp expansion and of the 5 s log flush.
#include "logging/logname.h"
#include "logging/logwriter.h"
#include "settings/formatsetting.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// The straightforward form: one replace per placeholder.
QString expandByReplace(const QDateTime &t, const QString &pattern)
{
    QString out = pattern;
    out.replace(QLatin1String("%Y"), t.toString(QStringLiteral("yyyy")));
    out.replace(QLatin1String("%y"), t.toString(QStringLiteral("yy")));
    out.replace(QLatin1String("%M"), t.toString(QStringLiteral("MM")));
    out.replace(QLatin1String("%D"), t.toString(QStringLiteral("dd")));
    out.replace(QLatin1String("%h"), t.toString(QStringLiteral("HH")));
    out.replace(QLatin1String("%m"), t.toString(QStringLiteral("mm")));
    out.replace(QLatin1String("%s"), t.toString(QStringLiteral("ss")));
    out.replace(QLatin1String("%z"), t.toString(QStringLiteral("zzz")));
    out.replace(QLatin1String("%e"), t.toString(QStringLiteral("zzz")));
    return out;
}

template<typename F>
double nsPerCall(int calls, F &&f)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < calls; ++i)
        f(i);
    return double(timer.nsecsElapsed()) / calls;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString stamp = FormatSetting::defaultLogTimeFormat();
    const QDateTime base = QDateTime::currentDateTime();
    qsizetype sink = 0;

    std::printf("%-46s %14s\n", "operation", "cost");
    const int calls = 200000;
    const double single = nsPerCall(calls, [&](int i) { sink += expandTimePattern(base.addMSecs(i), stamp).size(); });
    const double replace = nsPerCall(calls, [&](int i) { sink += expandByReplace(base.addMSecs(i), stamp).size(); });
    const double clock = nsPerCall(calls, [&](int i) { sink += base.addMSecs(i).time().msec(); });
    std::printf("%-46s %11.0f ns\n", "time step alone (subtracted below)", clock);
    std::printf("%-46s %11.0f ns\n", "log stamp, one pass (expandTimePattern)", single - clock);
    std::printf("%-46s %11.0f ns\n", "log stamp, nine replaces (alternative)", replace - clock);

    QTemporaryDir dir;
    FormatSetting s;
    s.LogSaveFlag = true;
    s.LogRotateAtSize = false;
    s.NeedHourTimeStamp = true;
    s.LogFilePath = dir.filePath(QStringLiteral("bench_%S.log"));
    s.resolvedLogPath = resolveLogName(s.LogFilePath, QStringLiteral("COM1"), base);
    LogWriter writer;
    const QString line = QStringLiteral("\n[12:00:00.000] ") + QString(64, u'x');
    const int chunk = 4096;
    const QString chunkText = line.repeated(chunk / line.size() + 1).left(chunk);

    QString msg;
    double writeNs = 0;
    for (int r = 0; r < 20; ++r) {
        writeNs += nsPerCall(2560, [&](int) { writer.write(chunkText, s); });
        writer.flush(s, QStringLiteral("COM1"), QString(), &msg);
    }
    std::printf("%-46s %11.0f ns\n", "write() of a 4 KiB chunk", writeNs / 20);
    const QString tenMiB = chunkText.repeated(2560);
    const double utf8 = nsPerCall(5, [&](int) { sink += tenMiB.toUtf8().size(); });
    std::printf("%-46s %11.1f ms\n", "UTF-8 conversion of 10 Mi characters", utf8 / 1e6);

    // One flush of what 5 s of traffic leaves pending at the given rate.
    std::printf("\n%-18s %12s %14s %12s\n", "rate", "pending", "flush time", "MB/s");
    for (const int rateKiB : {92, 2048, 8192}) {
        const qsizetype target = qsizetype(rateKiB) * 1024 * 5;
        double totalMs = 0;
        const int rounds = 5;
        for (int r = 0; r < rounds; ++r) {
            for (qsizetype n = 0; n < target; n += chunk)
                writer.write(chunkText, s);
            QElapsedTimer t;
            t.start();
            if (!writer.flush(s, QStringLiteral("COM1"), QString(), &msg)) {
                std::printf("flush failed: %s\n", qPrintable(msg));
                return 1;
            }
            totalMs += t.nsecsElapsed() / 1e6;
        }
        const double ms = totalMs / rounds;
        std::printf("%-18s %9.1f MB %11.1f ms %12.0f\n", qPrintable(QStringLiteral("%1 KiB/s").arg(rateKiB)),
                    target / 1048576.0, ms, (target / 1048576.0) / (ms / 1000.0));
    }
    return sink == 0 ? 1 : 0;
}
