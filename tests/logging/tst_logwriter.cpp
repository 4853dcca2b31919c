#include "logging/logname.h"
#include "logging/logwriter.h"
#include "settings/formatsetting.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kPort = QStringLiteral("COM3");
const QString kPaneHeader = QStringLiteral("Port Name: COM3\n Baudrate: 115200\n\n");

// "6T10:05:00.250": day 6 of May 2026 at that time.
QDateTime at(const QString &text)
{
    return QDateTime(QDate(2026, 5, text.section(u'T', 0, 0).toInt()), QTime::fromString(text.section(u'T', 1), Qt::ISODateWithMs));
}

// Blank-separated pieces of text: "@6T10:05:00" is the file header launched then,
// "%6T10:00:00" the hourly time line, "A*1200" is 1200 times 'A', anything else is itself.
QString textOf(const QString &pieces, const QString &headerPath)
{
    QString out;
    for (const QString &piece : pieces.split(u' ', Qt::SkipEmptyParts)) {
        if (piece.startsWith(u'@'))
            out += QStringLiteral("  Product: Quillon\n  Version: ") + LogWriter::versionText() + QStringLiteral("\nFile Name: ")
                + headerPath + QStringLiteral("\nLaunch at: ") + at(piece.mid(1)).toString(Qt::ISODate) + u'\n' + kPaneHeader;
        else if (piece.startsWith(u'%'))
            out += QStringLiteral("\nCurrent Time: ") + at(piece.mid(1)).toString(Qt::ISODate);
        else if (piece.size() > 2 && piece.at(1) == u'*')
            out += QString(piece.mid(2).toInt(), piece.at(0));
        else
            out += piece;
    }
    return out;
}

// "name: pieces | name: pieces". An archive's header names the file it was written as.
QList<std::pair<QString, QString>> filesOf(const QString &dir, const QString &listing)
{
    static const QRegularExpression archivePart(QStringLiteral("-\\d{8}-\\d{6}-\\d{3}(-\\d+)?"));
    QList<std::pair<QString, QString>> out;
    for (const QString &file : listing.split(QStringLiteral(" | "), Qt::SkipEmptyParts)) {
        const QString name = file.section(QStringLiteral(": "), 0, 0);
        const QString livePath = dir + u'/' + QString(name).remove(archivePart);
        out.append({name, textOf(file.section(QStringLiteral(": "), 1), livePath)});
    }
    return out;
}

QMap<QString, QString> filesIn(const QString &dir)
{
    QMap<QString, QString> out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        const QString text = f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<unreadable>");
        out.insert(QDir(dir).relativeFilePath(f.fileName()), text);
    }
    return out;
}

} // namespace

class tst_LogWriter : public QObject
{
    Q_OBJECT
private slots:
    void resolveLogName_data();
    void resolveLogName();
    void rotation_data();
    void rotation();
    void failures_data();
    void failures();

private:
    QTemporaryDir m_tmp;
};

// The time placeholders, then %S with the session's name.
void tst_LogWriter::resolveLogName_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QString>("expected");
    const QString none;
    QTest::newRow("every placeholder, padded, 24-hour clock") << QStringLiteral("%Y-%y-%M-%D %h:%m:%s.%z.%e") << none
                                                              << QStringLiteral("2009-09-05-06 17:08:09.045.045");
    QTest::newRow("other letters, other case, a trailing percent: as they are") << QStringLiteral("%H %Z %d %E %") << none
                                                                                << QStringLiteral("%H %Z %d %E %");
    QTest::newRow("percent before a placeholder, digits of a value do not chain") << QStringLiteral("%%M%D") << none
                                                                                  << QStringLiteral("%0506");
    QTest::newRow("%S every occurrence, %s is seconds, placeholders in the session stay literal")
        << QStringLiteral("%S/%S_%s_%D.log") << QStringLiteral("x%D%Y") << QStringLiteral("x%D%Y/x%D%Y_09_06.log");
    QTest::newRow("slash and backslash in the session make no folders") << QStringLiteral("/logs/qln_%S.log")
                                                                        << QStringLiteral("/dev/tty\\COM12")
                                                                        << QStringLiteral("/logs/qln__dev_tty_COM12.log");
    QTest::newRow("the default: one dated file per session at home") << defaultLogPath() << QStringLiteral("COM3")
                                                                      << QDir::home().filePath(QStringLiteral("qln_COM3-20090506.log"));
}

void tst_LogWriter::resolveLogName()
{
    QFETCH(QString, pattern);
    QFETCH(QString, session);
    QFETCH(QString, expected);
    const QDateTime time(QDate(2009, 5, 6), QTime(17, 8, 9, 45));
    QCOMPARE(::resolveLogName(pattern, session, time), expected);
    if (session.isEmpty())
        QCOMPARE(::expandTimePattern(time, pattern), expected); // the stamp of a log line
    // A settings document named "Session_<name>" names its session <name>.
    QCOMPARE(sessionNameFrom(QStringLiteral("/docs/Session_") + session), QFileInfo(session).fileName());
}

void tst_LogWriter::rotation_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("sizeLimit");   // -1: no size rotation
    QTest::addColumn<QTime>("rotateTime"); // invalid: no time rotation
    QTest::addColumn<QString>("before");  // "time files": on disk before, last written then
    QTest::addColumn<QString>("steps");   // "time pieces, time pieces": text written and flushed then
    QTest::addColumn<QString>("expected"); // the files afterwards, the one in use last
    QTest::addColumn<bool>("hourly");

    const QTime none;
    const QTime midnight(0, 0);
    const auto row = [](const char *name, const char *pattern, int size, QTime time, const char *steps, const char *expected,
                        const char *before = "", bool hourly = false) {
        QTest::newRow(name) << QString::fromUtf8(pattern) << size << time << QString::fromUtf8(before) << QString::fromUtf8(steps)
                            << QString::fromUtf8(expected) << hourly;
    };
    const char *bigThenB = "6T10:05:00 A*1200, 6T10:05:40 B\n";
    row("size: a second rotation within 30 s is skipped", "qln_%S.log", 1000, none,
        "6T10:05:00 A*1200, 6T10:05:40 Z*1200, 6T10:05:50 C, 6T10:06:09.999 D, 6T10:06:10 E",
        "qln_COM3-20260506-100540-000.log: @6T10:05:00 A*1200 | qln_COM3-20260506-100610-000.log: @6T10:05:40 Z*1200 C D"
        " | qln_COM3.log: @6T10:06:10 E");
    row("size: a limit of 0 is no limit", "qln_%S.log", 0, none, "6T10:05:00 A*1200, 6T10:05:40 Z*1200",
        "qln_COM3.log: @6T10:05:00 A*1200 Z*1200");
    row("size: archive names taken, -1 and -2 tried", "qln_%S.log", 1000, none, bigThenB,
        "qln_COM3-20260506-100540-000.log: old\n | qln_COM3-20260506-100540-000-1.log: old\n"
        " | qln_COM3-20260506-100540-000-2.log: @6T10:05:00 A*1200 | qln_COM3.log: @6T10:05:40 B\n",
        "6T09:00:00 qln_COM3-20260506-100540-000.log: old\n | qln_COM3-20260506-100540-000-1.log: old\n");
    row("size: name without suffix", "qln_%S", 1000, none, bigThenB,
        "qln_COM3-20260506-100540-000: @6T10:05:00 A*1200 | qln_COM3: @6T10:05:40 B\n");
    row("size: only the last suffix stays after the time", "run.%S.log", 1000, none, bigThenB,
        "run.COM3-20260506-100540-000.log: @6T10:05:00 A*1200 | run.COM3.log: @6T10:05:40 B\n");
    row("time: with %D the next day's file is started, UTF-8 names and text in folders made for it", "a/b/日志_%S-%Y%M%D.log",
        -1, midnight, "6T23:59:00 温度23.5°C✓, 7T00:00:00 b, 7T00:00:00.150 b2, 7T00:00:05 c, 7T00:00:10 d",
        "a/b/日志_COM3-20260506.log: @6T23:59:00 温度23.5°C✓ b b2 | a/b/日志_COM3-20260507.log: @7T00:00:05 c d");
    row("time: due only more than 200 ms after the time", "qln_%S.log", -1, QTime(12, 30),
        "6T12:29:00 a, 6T12:30:00.200 b, 6T12:30:00.201 c",
        "qln_COM3-20260506-123000-201.log: @6T12:29:00 a b | qln_COM3.log: @6T12:30:00 c");
    // No flush falls between midnight and 00:00:00.200 on either day.
    row("time: rotates every day", "qln_%S.log", -1, midnight,
        "6T23:59:00 a, 7T00:00:04.500 b, 7T12:00:00 c, 7T23:59:58 d, 8T00:00:03 e, 8T00:00:08 f",
        "qln_COM3-20260507-000004-500.log: @6T23:59:00 a | qln_COM3-20260508-000003-000.log: @7T00:00:04 b c d"
        " | qln_COM3.log: @8T00:00:03 e f");
    row("time: a file started after the time is kept that day", "qln_%S.log", -1, QTime(8, 0),
        "6T15:00:00 a, 6T15:00:35 b, 6T23:59:59 c, 7T07:59:59 d, 7T08:00:01 e",
        "qln_COM3-20260507-080001-000.log: @6T15:00:00 a b c d | qln_COM3.log: @7T08:00:01 e");
    row("time: a file last written before the time is archived at start", "qln_%S.log", -1, QTime(8, 0), "6T15:00:00 a, 6T15:00:40 b",
        "qln_COM3-20260506-150000-000.log: old\n | qln_COM3.log: @6T15:00:00 a b", "6T07:59:59 qln_COM3.log: old\n");
    row("time: a file written after the time is continued at start", "qln_%S.log", -1, QTime(8, 0),
        "6T15:00:00 a, 6T15:00:40 b, 7T07:59:58 c, 7T08:00:03 d",
        "qln_COM3-20260507-080003-000.log: old\n a b c | qln_COM3.log: @7T08:00:03 d", "6T08:00:01 qln_COM3.log: old\n");
    // Every other row has the hourly line switched off, also where a flush falls in minute 0.
    row("hour line: not under a new file's header, once in minute 0, the date of that day, again the next hour", "qln_%S.log", -1,
        none, "6T23:00:00 a, 6T23:00:05 b, 6T23:59:55 c, 7T00:00:00 d, 7T00:00:05 e, 7T00:01:00 f, 7T01:00:00 g",
        "qln_COM3.log: @6T23:00:00 a %6T23:00:05 b c %7T00:00:00 d e f %7T01:00:00 g", "", true);
}

void tst_LogWriter::rotation()
{
    QFETCH(QString, pattern);
    QFETCH(int, sizeLimit);
    QFETCH(QTime, rotateTime);
    QFETCH(QString, before);
    QFETCH(QString, steps);
    QFETCH(QString, expected);
    QFETCH(bool, hourly);

    QTemporaryDir tmp;
    const QString dir = tmp.path();
    for (const auto &[name, text] : filesOf(dir, before.section(u' ', 1))) {
        QFile f(dir + u'/' + name);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) > 0 && f.flush());
        QVERIFY(f.setFileTime(at(before.section(u' ', 0, 0)), QFileDevice::FileModificationTime));
    }
    const QStringList stepList = steps.split(QStringLiteral(", "));
    const QDateTime opened = at(stepList.first().section(u' ', 0, 0));
    FormatSetting s;
    s.LogSaveFlag = true;
    s.LogFilePath = dir + u'/' + pattern;
    s.resolvedLogPath = ::resolveLogName(s.LogFilePath, kPort, opened);
    s.LogRotateAtSize = sizeLimit >= 0;
    s.LogRotateSize = qMax(sizeLimit, 0);
    s.LogRotateAtTime = rotateTime.isValid();
    s.LogRotateTime = rotateTime;
    s.NeedHourTimeStamp = hourly;
    LogWriter writer(nullptr, opened);
    for (const QString &step : stepList) {
        writer.write(textOf(step.section(u' ', 1), QString()), s);
        QString message;
        QVERIFY2(writer.flush(s, kPort, kPaneHeader, &message, at(step.section(u' ', 0, 0))), qPrintable(message));
        QVERIFY(message.isEmpty() && writer.pending().isEmpty());
    }
    const auto files = filesOf(dir, expected);
    const QMap<QString, QString> actual = filesIn(dir);
    for (const auto &[name, text] : files)
        QCOMPARE(actual.value(name, QStringLiteral("<missing>")), text);
    QCOMPARE(actual.size(), files.size()); // and no other file
    QCOMPARE(s.resolvedLogPath, dir + u'/' + files.last().first);
    // The header's version is the project's with the build number.
    QVERIFY(QRegularExpression(QStringLiteral("^%1\\.\\d+$").arg(QRegularExpression::escape(QLatin1String(QUILLON_PROJECT_VERSION))))
                .match(LogWriter::versionText()).hasMatch());
}

void tst_LogWriter::failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("rotateAtTime");
    QTest::addColumn<QString>("expected"); // the message; with a trailing ": " the system's reason follows
    const QString d = m_tmp.path();
    QFile plain(d + QStringLiteral("/plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("a regular file") > 0);
    QTest::newRow("path of two characters") << QStringLiteral("ab") << false << QStringLiteral("Please input correct log file name!");
    QTest::newRow("path is a directory") << d << false << QStringLiteral("Log path is a directory, not a file: ") + d;
    // Tests run as root, so the folders are made impossible rather than forbidden.
    QTest::newRow("folder below a regular file") << d + QStringLiteral("/plain/sub/qln.log") << false
                                                 << QStringLiteral("Could not create log directory '%1/plain/sub'").arg(d);
    QTest::newRow("unwritable folder (/proc)") << QStringLiteral("/proc/self/quillon-test.log") << false
                                               << QStringLiteral("Could not open log file '/proc/self/quillon-test.log': ");
    QTest::newRow("file that cannot be moved away (/proc)") << QStringLiteral("/proc/self/comm") << true
                                                            << QStringLiteral("Could not rotate log file '/proc/self/comm': ");
    QTest::newRow("full disk (/dev/full)") << QStringLiteral("/dev/full") << false << QStringLiteral("Could not write log file '/dev/full': ");
}

void tst_LogWriter::failures()
{
    QFETCH(QString, path);
    QFETCH(bool, rotateAtTime);
    QFETCH(QString, expected);
    const bool special = path.startsWith(QLatin1String("/proc/")) || path.startsWith(QLatin1String("/dev/"));
    if (special && !QFileInfo::exists(path.startsWith(QLatin1String("/dev/")) ? path : QStringLiteral("/proc/self/comm")))
        QSKIP("the system has no such special file");
    // Far ahead so that the special files count as written before the rotation time.
    const QDateTime now(QDate(2100, 1, 1), QTime(12, 0, 5));
    FormatSetting s;
    s.LogSaveFlag = true;
    s.LogFilePath = path;
    s.resolvedLogPath = path;
    s.LogRotateAtTime = rotateAtTime;
    LogWriter writer(nullptr, now);
    writer.write(QStringLiteral("dropped\n"), s);
    QCOMPARE(writer.pending(), QStringLiteral("dropped\n"));
    const bool withReason = expected.endsWith(QLatin1String(": "));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u'^' + QRegularExpression::escape(QStringLiteral("LogWriter::flush: ") + expected)
                                                          + QLatin1String(withReason ? ".+$" : "$")));
    QString message;
    QVERIFY(!writer.flush(s, kPort, kPaneHeader, &message, now));
    QVERIFY2(withReason ? message.startsWith(expected) && message.size() > expected.size() : message == expected, qPrintable(message));
    QVERIFY(!s.LogSaveFlag && writer.pending().isEmpty());
    // Off until the user turns it on again; what was pending stays dropped.
    writer.write(QStringLiteral("ignored\n"), s);
    QVERIFY(writer.pending().isEmpty());
    // Turned on and off again before a flush: what was queued goes, and nothing is tried.
    s.LogSaveFlag = true;
    writer.write(QStringLiteral("queued\n"), s);
    s.LogSaveFlag = false;
    QVERIFY(writer.flush(s, kPort, QString(), &message, now) && writer.pending().isEmpty());
}

QTEST_GUILESS_MAIN(tst_LogWriter)
#include "tst_logwriter.moc"
