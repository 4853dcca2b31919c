#include "logging/logname.h"

#include <QDir>
#include <QTest>

class tst_LogName : public QObject
{
    Q_OBJECT
private slots:
    void expandTimePattern_data();
    void expandTimePattern();
    void resolveLogName_data();
    void resolveLogName();
    void sessionNameFrom_data();
    void sessionNameFrom();
    void defaultLogPathIsInHome();
    void helpTextNamesEveryPlaceholder();
};

void tst_LogName::expandTimePattern_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("expected");

    const QDateTime t(QDate(2026, 5, 6), QTime(7, 8, 9, 45));
    const QDateTime late(QDate(2009, 12, 31), QTime(23, 59, 58, 999));
    QTest::newRow("%Y four-digit year") << t << QStringLiteral("%Y") << QStringLiteral("2026");
    QTest::newRow("%y two-digit year") << late << QStringLiteral("%y") << QStringLiteral("09");
    QTest::newRow("%M month padded") << t << QStringLiteral("%M") << QStringLiteral("05");
    QTest::newRow("%D day padded") << t << QStringLiteral("%D") << QStringLiteral("06");
    QTest::newRow("%h hour padded") << t << QStringLiteral("%h") << QStringLiteral("07");
    QTest::newRow("%h is 24-hour") << late << QStringLiteral("%h") << QStringLiteral("23");
    QTest::newRow("%m minute") << t << QStringLiteral("%m") << QStringLiteral("08");
    QTest::newRow("%s second") << t << QStringLiteral("%s") << QStringLiteral("09");
    QTest::newRow("%z milliseconds") << t << QStringLiteral("%z") << QStringLiteral("045");
    QTest::newRow("%e same as %z") << late << QStringLiteral("%e|%z") << QStringLiteral("999|999");
    QTest::newRow("log stamp default") << t << QStringLiteral("[%h:%m:%s.%z] ")
                                       << QStringLiteral("[07:08:09.045] ");
    QTest::newRow("all in one") << late << QStringLiteral("%Y-%y-%M-%D %h:%m:%s.%z.%e")
                                << QStringLiteral("2009-09-12-31 23:59:58.999.999");
    QTest::newRow("upper case H S Z and lower d untouched")
        << t << QStringLiteral("%H %S %Z %d %E") << QStringLiteral("%H %S %Z %d %E");
    QTest::newRow("unknown letter kept") << t << QStringLiteral("%x%q") << QStringLiteral("%x%q");
    QTest::newRow("percent before placeholder") << t << QStringLiteral("%%Y") << QStringLiteral("%2026");
    QTest::newRow("trailing percent") << t << QStringLiteral("a%") << QStringLiteral("a%");
    QTest::newRow("digits of a value do not chain") << t << QStringLiteral("%%M%D")
                                                   << QStringLiteral("%0506");
    QTest::newRow("repeated") << t << QStringLiteral("%s%s%s") << QStringLiteral("090909");
    QTest::newRow("no placeholder") << t << QStringLiteral("plain.log") << QStringLiteral("plain.log");
    QTest::newRow("non-ASCII around") << t << QStringLiteral("日志_%D.log") << QStringLiteral("日志_06.log");
}

void tst_LogName::expandTimePattern()
{
    QFETCH(QDateTime, time);
    QFETCH(QString, pattern);
    QFETCH(QString, expected);
    QCOMPARE(::expandTimePattern(time, pattern), expected);
}

void tst_LogName::resolveLogName_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QString>("expected");

    QTest::newRow("default pattern, COM3 on 6 May")
        << QStringLiteral("/logs/qln_%S-%Y%M%D.log") << QStringLiteral("COM3")
        << QStringLiteral("/logs/qln_COM3-20260506.log");
    QTest::newRow("%S every occurrence") << QStringLiteral("%S/%S.log") << QStringLiteral("lab")
                                         << QStringLiteral("lab/lab.log");
    QTest::newRow("%s is seconds, not session") << QStringLiteral("%s.log") << QStringLiteral("lab")
                                                << QStringLiteral("09.log");
    QTest::newRow("empty session") << QStringLiteral("qln_%S.log") << QString()
                                   << QStringLiteral("qln_.log");
    QTest::newRow("placeholders in the session stay literal")
        << QStringLiteral("qln_%S_%D.log") << QStringLiteral("x%D%Y") << QStringLiteral("qln_x%D%Y_06.log");
    QTest::newRow("device path does not make folders")
        << QStringLiteral("/logs/qln_%S.log") << QStringLiteral("/dev/ttyUSB0")
        << QStringLiteral("/logs/qln__dev_ttyUSB0.log");
    QTest::newRow("backslash in session") << QStringLiteral("qln_%S.log") << QStringLiteral("\\\\.\\COM12")
                                          << QStringLiteral("qln___._COM12.log");
}

void tst_LogName::resolveLogName()
{
    QFETCH(QString, pattern);
    QFETCH(QString, session);
    QFETCH(QString, expected);
    const QDateTime t(QDate(2026, 5, 6), QTime(7, 8, 9, 45));
    QCOMPARE(::resolveLogName(pattern, session, t), expected);
}

void tst_LogName::sessionNameFrom_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("prefix removed") << QStringLiteral("/a/b/Session_lab.qln") << QStringLiteral("lab.qln");
    QTest::newRow("no prefix") << QStringLiteral("/a/bench.qln") << QStringLiteral("bench.qln");
    QTest::newRow("prefix only at the start") << QStringLiteral("/a/mySession_1.qln")
                                              << QStringLiteral("mySession_1.qln");
    QTest::newRow("prefix removed once") << QStringLiteral("Session_Session_x")
                                         << QStringLiteral("Session_x");
    QTest::newRow("prefix is case-sensitive") << QStringLiteral("/a/session_x.qln")
                                              << QStringLiteral("session_x.qln");
    QTest::newRow("folder named Session_") << QStringLiteral("/Session_dir/f.qln") << QStringLiteral("f.qln");
    QTest::newRow("empty") << QString() << QString();
}

void tst_LogName::sessionNameFrom()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(::sessionNameFrom(path), expected);
}

void tst_LogName::defaultLogPathIsInHome()
{
    QCOMPARE(defaultLogPath(), QDir::home().filePath(QStringLiteral("qln_%S-%Y%M%D.log")));
}

void tst_LogName::helpTextNamesEveryPlaceholder()
{
    QCOMPARE(logNamePlaceholderHelp(),
             QStringLiteral("%S - session name; \n%Y - four-digit year; %y - two-digit year; "
                            "%M - two-digit month; %D - two-digit day of the month;\n"
                            "%h - two-digit hour; %m - two-digit minute; %s - two-digit seconds; "
                            "%z - three-digit milliseconds "));
}

QTEST_GUILESS_MAIN(tst_LogName)
#include "tst_logname.moc"
