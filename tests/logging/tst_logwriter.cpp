#include "logging/logname.h"
#include "logging/logwriter.h"
#include "settings/formatsetting.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kPort = QStringLiteral("COM3");
const QString kPaneHeader = QStringLiteral("Port Name: COM3\n Baudrate: 115200\n\n");

struct Step
{
    QDateTime at;
    QString text;
};
using Steps = QList<Step>;
using Files = QMap<QString, QString>;

QDateTime at(int day, const char *time)
{
    const QTime t = QTime::fromString(QLatin1String(time), QStringLiteral("HH:mm:ss.zzz"));
    Q_ASSERT(t.isValid());
    return QDateTime(QDate(2026, 5, day), t);
}

QString header(const QString &path, const char *launch)
{
    return QStringLiteral("  Product: Quillon\n  Version: ") + LogWriter::versionText()
        + QStringLiteral("\nFile Name: ") + path + QStringLiteral("\nLaunch at: ")
        + QLatin1String(launch) + u'\n' + kPaneHeader;
}

QString readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("<missing>");
    return QString::fromUtf8(f.readAll());
}

// Every file below `dir`, by relative path, with its text.
Files filesIn(const QString &dir)
{
    Files out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out.insert(QDir(dir).relativeFilePath(path), readAll(path));
    }
    return out;
}

FormatSetting logSettings(const QString &pattern, const QDateTime &opened)
{
    FormatSetting s;
    s.LogSaveFlag = true;
    s.LogFilePath = pattern;
    s.LogRotateAtSize = false;
    s.LogRotateAtTime = false;
    s.NeedHourTimeStamp = false;
    s.resolvedLogPath = resolveLogName(pattern, kPort, opened);
    return s;
}

} // namespace

Q_DECLARE_METATYPE(Steps)

class tst_LogWriter : public QObject
{
    Q_OBJECT
private slots:
    void versionText();
    void rotation_data();
    void rotation();
    void hourLine_data();
    void hourLine();
    void failures_data();
    void failures();
    void loggingOffWritesNothing();
    void textIsWrittenAsUtf8();

private:
    QString newDir();
    QTemporaryDir m_tmp;
    int m_dirNo = 0;
};

QString tst_LogWriter::newDir()
{
    const QString dir = m_tmp.filePath(QStringLiteral("r%1").arg(++m_dirNo));
    QDir().mkpath(dir);
    return dir;
}

void tst_LogWriter::versionText()
{
    const QString v = LogWriter::versionText();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$")).match(v).hasMatch(), qPrintable(v));
    QVERIFY(v.startsWith(QLatin1String(QUILLON_PROJECT_VERSION) + u'.'));
}

void tst_LogWriter::rotation_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("sizeLimit"); // -1: no size rotation
    QTest::addColumn<QTime>("rotateTime"); // invalid: no time rotation
    QTest::addColumn<QDateTime>("opened");
    QTest::addColumn<Files>("before");
    QTest::addColumn<QDateTime>("beforeWritten");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<Files>("expected");
    QTest::addColumn<QString>("finalFile");

    const QString big(1200, u'A');
    const QString big2(1200, u'Z');
    const QTime none;
    const QTime midnight(0, 0);

    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("size: over the limit, archived and a fresh file with header")
            << d << QStringLiteral("qln_%S.log") << 1000 << none << at(6, "10:05:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "10:05:00.000"), big}, {at(6, "10:05:40.000"), QStringLiteral("B\n")}}
            << Files{{QStringLiteral("qln_COM3-20260506-100540-000.log"), header(log, "2026-05-06T10:05:00") + big},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-06T10:05:40") + QStringLiteral("B\n")}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("size: a second rotation within 30 s is skipped")
            << d << QStringLiteral("qln_%S.log") << 1000 << none << at(6, "10:05:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "10:05:00.000"), big},
                     {at(6, "10:05:40.000"), big2},
                     {at(6, "10:05:50.000"), QStringLiteral("C")},
                     {at(6, "10:06:09.999"), QStringLiteral("D")},
                     {at(6, "10:06:10.000"), QStringLiteral("E")}}
            << Files{{QStringLiteral("qln_COM3-20260506-100540-000.log"), header(log, "2026-05-06T10:05:00") + big},
                     {QStringLiteral("qln_COM3-20260506-100610-000.log"),
                      header(log, "2026-05-06T10:05:40") + big2 + QStringLiteral("CD")},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-06T10:06:10") + QStringLiteral("E")}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("size: under the limit keeps appending")
            << d << QStringLiteral("qln_%S.log") << 100000 << none << at(6, "10:05:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "10:05:00.000"), big}, {at(6, "10:05:40.000"), big2}}
            << Files{{QStringLiteral("qln_COM3.log"), header(log, "2026-05-06T10:05:00") + big + big2}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("size: a limit of 0 is no limit")
            << d << QStringLiteral("qln_%S.log") << 0 << none << at(6, "10:05:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "10:05:00.000"), big}, {at(6, "10:05:40.000"), big2}}
            << Files{{QStringLiteral("qln_COM3.log"), header(log, "2026-05-06T10:05:00") + big + big2}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        const QString old = QStringLiteral("old\n");
        QTest::newRow("size: archive name taken, -1 added")
            << d << QStringLiteral("qln_%S.log") << 1000 << none << at(6, "10:05:00.000")
            << Files{{QStringLiteral("qln_COM3-20260506-100540-000.log"), old}} << at(6, "09:00:00.000")
            << Steps{{at(6, "10:05:00.000"), big}, {at(6, "10:05:40.000"), QStringLiteral("B\n")}}
            << Files{{QStringLiteral("qln_COM3-20260506-100540-000.log"), old},
                     {QStringLiteral("qln_COM3-20260506-100540-000-1.log"), header(log, "2026-05-06T10:05:00") + big},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-06T10:05:40") + QStringLiteral("B\n")}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        const QString old = QStringLiteral("old\n");
        QTest::newRow("size: archive name taken, -1 and -2 tried")
            << d << QStringLiteral("qln_%S.log") << 1000 << none << at(6, "10:05:00.000")
            << Files{{QStringLiteral("qln_COM3-20260506-100540-000.log"), old},
                     {QStringLiteral("qln_COM3-20260506-100540-000-1.log"), old}}
            << at(6, "09:00:00.000")
            << Steps{{at(6, "10:05:00.000"), big}, {at(6, "10:05:40.000"), QStringLiteral("B\n")}}
            << Files{{QStringLiteral("qln_COM3-20260506-100540-000.log"), old},
                     {QStringLiteral("qln_COM3-20260506-100540-000-1.log"), old},
                     {QStringLiteral("qln_COM3-20260506-100540-000-2.log"), header(log, "2026-05-06T10:05:00") + big},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-06T10:05:40") + QStringLiteral("B\n")}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3");
        QTest::newRow("size: name without suffix")
            << d << QStringLiteral("qln_%S") << 1000 << none << at(6, "10:05:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "10:05:00.000"), big}, {at(6, "10:05:40.000"), QStringLiteral("B\n")}}
            << Files{{QStringLiteral("qln_COM3-20260506-100540-000"), header(log, "2026-05-06T10:05:00") + big},
                     {QStringLiteral("qln_COM3"), header(log, "2026-05-06T10:05:40") + QStringLiteral("B\n")}}
            << QStringLiteral("qln_COM3");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/run.COM3.log");
        QTest::newRow("size: only the last suffix stays after the time")
            << d << QStringLiteral("run.%S.log") << 1000 << none << at(6, "10:05:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "10:05:00.000"), big}, {at(6, "10:05:40.000"), QStringLiteral("B\n")}}
            << Files{{QStringLiteral("run.COM3-20260506-100540-000.log"), header(log, "2026-05-06T10:05:00") + big},
                     {QStringLiteral("run.COM3.log"), header(log, "2026-05-06T10:05:40") + QStringLiteral("B\n")}}
            << QStringLiteral("run.COM3.log");
    }
    {
        const QString d = newDir();
        const QString first = d + QStringLiteral("/qln_COM3_100500.log");
        const QString second = d + QStringLiteral("/qln_COM3_100540.log");
        QTest::newRow("size: a pattern with seconds moves on to a new name")
            << d << QStringLiteral("qln_%S_%h%m%s.log") << 1000 << none << at(6, "10:05:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "10:05:00.000"), big}, {at(6, "10:05:40.000"), QStringLiteral("B\n")}}
            << Files{{QStringLiteral("qln_COM3_100500.log"), header(first, "2026-05-06T10:05:00") + big},
                     {QStringLiteral("qln_COM3_100540.log"), header(second, "2026-05-06T10:05:40") + QStringLiteral("B\n")}}
            << QStringLiteral("qln_COM3_100540.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/a/b/c/qln_COM3.log");
        QTest::newRow("missing folders are created")
            << d << QStringLiteral("a/b/c/qln_%S.log") << -1 << none << at(6, "10:05:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "10:05:00.000"), QStringLiteral("x")}}
            << Files{{QStringLiteral("a/b/c/qln_COM3.log"), header(log, "2026-05-06T10:05:00") + QStringLiteral("x")}}
            << QStringLiteral("a/b/c/qln_COM3.log");
    }
    const Steps acrossMidnight{{at(6, "23:59:00.000"), QStringLiteral("a")},
                               {at(7, "00:00:00.000"), QStringLiteral("b")},
                               {at(7, "00:00:00.150"), QStringLiteral("b2")},
                               {at(7, "00:00:05.000"), QStringLiteral("c")},
                               {at(7, "00:00:10.000"), QStringLiteral("d")}};
    {
        const QString d = newDir();
        const QString day6 = d + QStringLiteral("/qln_COM3-20260506.log");
        const QString day7 = d + QStringLiteral("/qln_COM3-20260507.log");
        QTest::newRow("time: with %D the next day's file is started")
            << d << QStringLiteral("qln_%S-%Y%M%D.log") << -1 << midnight << at(6, "23:59:00.000") << Files{} << QDateTime()
            << acrossMidnight
            << Files{{QStringLiteral("qln_COM3-20260506.log"), header(day6, "2026-05-06T23:59:00") + QStringLiteral("abb2")},
                     {QStringLiteral("qln_COM3-20260507.log"), header(day7, "2026-05-07T00:00:05") + QStringLiteral("cd")}}
            << QStringLiteral("qln_COM3-20260507.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("time: without %D the file is archived")
            << d << QStringLiteral("qln_%S.log") << -1 << midnight << at(6, "23:59:00.000") << Files{} << QDateTime()
            << acrossMidnight
            << Files{{QStringLiteral("qln_COM3-20260507-000005-000.log"),
                      header(log, "2026-05-06T23:59:00") + QStringLiteral("abb2")},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-07T00:00:05") + QStringLiteral("cd")}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("time: due only more than 200 ms after the time")
            << d << QStringLiteral("qln_%S.log") << -1 << QTime(12, 30) << at(6, "12:29:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "12:29:00.000"), QStringLiteral("a")},
                     {at(6, "12:30:00.200"), QStringLiteral("b")},
                     {at(6, "12:30:00.201"), QStringLiteral("c")}}
            << Files{{QStringLiteral("qln_COM3-20260506-123000-201.log"), header(log, "2026-05-06T12:29:00") + QStringLiteral("ab")},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-06T12:30:00") + QStringLiteral("c")}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        // No flush falls between midnight and 00:00:00.200 on either day.
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("time: rotates every day")
            << d << QStringLiteral("qln_%S.log") << -1 << midnight << at(6, "23:59:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "23:59:00.000"), QStringLiteral("a")},
                     {at(7, "00:00:04.500"), QStringLiteral("b")},
                     {at(7, "12:00:00.000"), QStringLiteral("c")},
                     {at(7, "23:59:58.000"), QStringLiteral("d")},
                     {at(8, "00:00:03.000"), QStringLiteral("e")},
                     {at(8, "00:00:08.000"), QStringLiteral("f")}}
            << Files{{QStringLiteral("qln_COM3-20260507-000004-500.log"), header(log, "2026-05-06T23:59:00") + QStringLiteral("a")},
                     {QStringLiteral("qln_COM3-20260508-000003-000.log"), header(log, "2026-05-07T00:00:04") + QStringLiteral("bcd")},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-08T00:00:03") + QStringLiteral("ef")}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("time: a file started after the time is kept that day")
            << d << QStringLiteral("qln_%S.log") << -1 << QTime(8, 0) << at(6, "15:00:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "15:00:00.000"), QStringLiteral("a")},
                     {at(6, "15:00:35.000"), QStringLiteral("b")},
                     {at(6, "23:59:59.000"), QStringLiteral("c")},
                     {at(7, "07:59:59.000"), QStringLiteral("d")},
                     {at(7, "08:00:01.000"), QStringLiteral("e")}}
            << Files{{QStringLiteral("qln_COM3-20260507-080001-000.log"), header(log, "2026-05-06T15:00:00") + QStringLiteral("abcd")},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-07T08:00:01") + QStringLiteral("e")}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("time: a file last written before the time is archived at start")
            << d << QStringLiteral("qln_%S.log") << -1 << QTime(8, 0) << at(6, "15:00:00.000")
            << Files{{QStringLiteral("qln_COM3.log"), QStringLiteral("old\n")}} << at(6, "07:59:59.000")
            << Steps{{at(6, "15:00:00.000"), QStringLiteral("a")}, {at(6, "15:00:40.000"), QStringLiteral("b")}}
            << Files{{QStringLiteral("qln_COM3-20260506-150000-000.log"), QStringLiteral("old\n")},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-06T15:00:00") + QStringLiteral("ab")}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("time: a file written after the time is continued at start")
            << d << QStringLiteral("qln_%S.log") << -1 << QTime(8, 0) << at(6, "15:00:00.000")
            << Files{{QStringLiteral("qln_COM3.log"), QStringLiteral("old\n")}} << at(6, "08:00:01.000")
            << Steps{{at(6, "15:00:00.000"), QStringLiteral("a")}, {at(6, "15:00:40.000"), QStringLiteral("b")},
                     {at(7, "07:59:58.000"), QStringLiteral("c")}, {at(7, "08:00:03.000"), QStringLiteral("d")}}
            << Files{{QStringLiteral("qln_COM3-20260507-080003-000.log"), QStringLiteral("old\nabc")},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-07T08:00:03") + QStringLiteral("d")}}
            << QStringLiteral("qln_COM3.log");
    }
    {
        const QString d = newDir();
        const QString log = d + QStringLiteral("/qln_COM3.log");
        QTest::newRow("time and size due together rotate once")
            << d << QStringLiteral("qln_%S.log") << 1000 << QTime(10, 5, 30) << at(6, "10:05:00.000") << Files{} << QDateTime()
            << Steps{{at(6, "10:05:00.000"), big}, {at(6, "10:05:40.000"), QStringLiteral("B")},
                     {at(6, "10:06:20.000"), QStringLiteral("C")}}
            << Files{{QStringLiteral("qln_COM3-20260506-100540-000.log"), header(log, "2026-05-06T10:05:00") + big},
                     {QStringLiteral("qln_COM3.log"), header(log, "2026-05-06T10:05:40") + QStringLiteral("BC")}}
            << QStringLiteral("qln_COM3.log");
    }
}

void tst_LogWriter::rotation()
{
    QFETCH(QString, dir);
    QFETCH(QString, pattern);
    QFETCH(int, sizeLimit);
    QFETCH(QTime, rotateTime);
    QFETCH(QDateTime, opened);
    QFETCH(Files, before);
    QFETCH(QDateTime, beforeWritten);
    QFETCH(Steps, steps);
    QFETCH(Files, expected);
    QFETCH(QString, finalFile);

    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QFile f(dir + u'/' + it.key());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(it.value().toUtf8());
        f.close();
        QVERIFY(f.open(QIODevice::Append));
        QVERIFY(f.setFileTime(beforeWritten, QFileDevice::FileModificationTime));
    }
    FormatSetting s = logSettings(dir + u'/' + pattern, opened);
    s.LogRotateAtSize = sizeLimit >= 0;
    s.LogRotateSize = qMax(sizeLimit, 0);
    s.LogRotateAtTime = rotateTime.isValid();
    s.LogRotateTime = rotateTime;

    LogWriter writer(nullptr, opened);
    for (const Step &step : steps) {
        writer.write(step.text, s);
        QString message;
        QVERIFY2(writer.flush(s, kPort, kPaneHeader, &message, step.at), qPrintable(message));
        QVERIFY(message.isEmpty());
        QVERIFY(writer.pending().isEmpty());
    }
    const Files actual = filesIn(dir);
    QCOMPARE(actual.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(actual.value(it.key()), it.value());
    QCOMPARE(s.resolvedLogPath, dir + u'/' + finalFile);
    QVERIFY(s.LogSaveFlag);
}

void tst_LogWriter::hourLine_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("intervalSec");
    QTest::addColumn<int>("flushes");
    QTest::addColumn<bool>("hourly");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("once during minute 0 with 5 s flushes")
        << at(6, "09:59:50.000") << 5 << 30 << true << QStringList{QStringLiteral("2026-05-06T10:00:00")};
    QTest::newRow("re-armed for the next hour")
        << at(6, "09:59:50.000") << 5 << 880 << true
        << QStringList{QStringLiteral("2026-05-06T10:00:00"), QStringLiteral("2026-05-06T11:00:00")};
    QTest::newRow("switched off") << at(6, "09:59:50.000") << 5 << 880 << false << QStringList{};
    QTest::newRow("a new file in minute 0 gets the header first")
        << at(6, "10:00:00.000") << 5 << 20 << true << QStringList{QStringLiteral("2026-05-06T10:00:05")};
    QTest::newRow("flushes every 61 s")
        << at(6, "09:59:30.000") << 61 << 62 << true
        << QStringList{QStringLiteral("2026-05-06T10:00:31"), QStringLiteral("2026-05-06T11:00:30")};
    QTest::newRow("across midnight")
        << at(6, "23:59:57.000") << 5 << 4 << true << QStringList{QStringLiteral("2026-05-07T00:00:02")};
}

void tst_LogWriter::hourLine()
{
    QFETCH(QDateTime, start);
    QFETCH(int, intervalSec);
    QFETCH(int, flushes);
    QFETCH(bool, hourly);
    QFETCH(QStringList, lines);

    const QString dir = newDir();
    FormatSetting s = logSettings(dir + QStringLiteral("/qln_%S.log"), start);
    s.NeedHourTimeStamp = hourly;
    LogWriter writer(nullptr, start);
    QString expected = header(s.resolvedLogPath, qPrintable(start.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"))));
    QStringList seen;
    for (int i = 0; i < flushes; ++i) {
        const QDateTime now = start.addSecs(qint64(i) * intervalSec);
        const QString text = QStringLiteral("\n[%1] L%2").arg(now.toString(QStringLiteral("HH:mm:ss"))).arg(i);
        const QString stamp = now.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
        if (lines.contains(stamp))
            expected += QStringLiteral("\nCurrent Time: ") + stamp;
        expected += text;
        writer.write(text, s);
        QString message;
        QVERIFY2(writer.flush(s, kPort, kPaneHeader, &message, now), qPrintable(message));
    }
    const QString actual = readAll(s.resolvedLogPath);
    QCOMPARE(actual.count(QLatin1String("Current Time: ")), lines.size());
    QCOMPARE(actual, expected);
}

void tst_LogWriter::failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("rotateAtTime");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("withSystemError"); // expected is followed by the system's error text

    const QString d = newDir();
    QFile plain(d + QStringLiteral("/plain"));
    if (plain.open(QIODevice::WriteOnly))
        plain.write("a regular file");
    plain.close();

    const QString tooShort = tr("Please input correct log file name!");
    QTest::newRow("path of two characters") << QStringLiteral("ab") << false << tooShort << false;
    QTest::newRow("empty path") << QString() << false << tooShort << false;
    QTest::newRow("path is a directory")
        << d << false << QStringLiteral("Log path is a directory, not a file: ") + d << false;
    // Tests run as root, so the folders are made impossible rather than forbidden.
    QTest::newRow("folder below a regular file cannot be created")
        << d + QStringLiteral("/plain/sub/qln.log") << false
        << QStringLiteral("Could not create log directory '") + d + QStringLiteral("/plain/sub'") << false;
    QTest::newRow("unwritable folder (/proc)")
        << QStringLiteral("/proc/self/quillon-test.log") << false
        << QStringLiteral("Could not open log file '/proc/self/quillon-test.log': ") << true;
    const QString longName = d + u'/' + QString(300, u'n') + QStringLiteral(".log");
    QTest::newRow("file name too long")
        << longName << false << QStringLiteral("Could not open log file '") + longName + QStringLiteral("': ") << true;
    QTest::newRow("file that cannot be moved away (/proc)")
        << QStringLiteral("/proc/self/comm") << true
        << QStringLiteral("Could not rotate log file '/proc/self/comm': ") << true;
    QTest::newRow("full disk (/dev/full)")
        << QStringLiteral("/dev/full") << false << QStringLiteral("Could not write log file '/dev/full': ") << true;
}

void tst_LogWriter::failures()
{
    QFETCH(QString, path);
    QFETCH(bool, rotateAtTime);
    QFETCH(QString, expected);
    QFETCH(bool, withSystemError);

    if ((path.startsWith(QLatin1String("/proc/")) && !QFileInfo::exists(QStringLiteral("/proc/self/comm")))
        || (path == QLatin1String("/dev/full") && !QFileInfo::exists(path)))
        QSKIP("the system has no such special file");

    // Far ahead so that the special files count as written before the rotation time.
    const QDateTime now(QDate(2100, 1, 1), QTime(12, 0, 5));
    FormatSetting s = logSettings(path, now);
    s.resolvedLogPath = path;
    s.LogRotateAtTime = rotateAtTime;
    LogWriter writer(nullptr, now);
    writer.write(QStringLiteral("dropped\n"), s);
    QCOMPARE(writer.pending(), QStringLiteral("dropped\n"));

    if (withSystemError)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u'^' + QRegularExpression::escape(
                                 QStringLiteral("LogWriter::flush: ") + expected) + QStringLiteral(".+$")));
    else
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("LogWriter::flush: ") + expected));
    QString message;
    QVERIFY(!writer.flush(s, kPort, kPaneHeader, &message, now));
    if (withSystemError) {
        QVERIFY2(message.startsWith(expected), qPrintable(message));
        QVERIFY2(message.size() > expected.size(), qPrintable(message));
    } else {
        QCOMPARE(message, expected);
    }
    QVERIFY(!s.LogSaveFlag);
    QVERIFY(writer.pending().isEmpty());

    // Off until the user turns it on again; what was pending stays dropped.
    writer.write(QStringLiteral("ignored\n"), s);
    QVERIFY(writer.pending().isEmpty());
    const QString good = newDir() + QStringLiteral("/qln.log");
    s.LogSaveFlag = true;
    s.resolvedLogPath = good;
    writer.write(QStringLiteral("kept\n"), s);
    message.clear();
    QVERIFY2(writer.flush(s, kPort, QString(), &message, now.addSecs(5)), qPrintable(message));
    const QString text = readAll(good);
    QVERIFY(text.endsWith(QLatin1String("\nkept\n")));
    QVERIFY(!text.contains(QLatin1String("dropped")));
    QVERIFY(!text.contains(QLatin1String("ignored")));
}

void tst_LogWriter::loggingOffWritesNothing()
{
    const QString dir = newDir();
    const QDateTime now = at(6, "10:05:00.000");
    FormatSetting s = logSettings(dir + QStringLiteral("/qln_%S.log"), now);
    LogWriter writer(nullptr, now);
    writer.write(QStringLiteral("queued"), s);
    s.LogSaveFlag = false;
    writer.write(QStringLiteral("not queued"), s);
    QCOMPARE(writer.pending(), QStringLiteral("queued"));
    QString message;
    QVERIFY(writer.flush(s, kPort, kPaneHeader, &message, now));
    QVERIFY(writer.pending().isEmpty());
    QVERIFY(message.isEmpty());
    QVERIFY(filesIn(dir).isEmpty());

    s.LogSaveFlag = true;
    QVERIFY(writer.flush(s, kPort, kPaneHeader, &message, now.addSecs(5)));
    QCOMPARE(readAll(s.resolvedLogPath), header(s.resolvedLogPath, "2026-05-06T10:05:05"));
}

void tst_LogWriter::textIsWrittenAsUtf8()
{
    const QString dir = newDir();
    const QDateTime now = at(6, "10:05:00.000");
    FormatSetting s = logSettings(dir + QStringLiteral("/日志_%S.log"), now);
    LogWriter writer(nullptr, now);
    const QString text = QStringLiteral("温度 23.5 °C ✓\n");
    writer.write(text, s);
    QString message;
    QVERIFY(writer.flush(s, kPort, QString(), &message, now));
    QFile f(dir + QStringLiteral("/日志_COM3.log"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().endsWith(text.toUtf8()));
}

QTEST_GUILESS_MAIN(tst_LogWriter)
#include "tst_logwriter.moc"
