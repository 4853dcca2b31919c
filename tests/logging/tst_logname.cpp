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
};

void tst_LogName::expandTimePattern_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("expected");
    const QDateTime t(QDate(2026, 5, 6), QTime(7, 8, 9, 45));
    const QDateTime late(QDate(2009, 12, 31), QTime(23, 59, 58, 999));
    QTest::newRow("every placeholder, padded") << t << QStringLiteral("%Y-%y-%M-%D %h:%m:%s.%z.%e") << QStringLiteral("2026-26-05-06 07:08:09.045.045");
    QTest::newRow("two-digit year, 24-hour clock") << late << QStringLiteral("%y %h:%m:%s.%z") << QStringLiteral("09 23:59:58.999");
    QTest::newRow("placeholders are case-sensitive") << t << QStringLiteral("%H %S %Z %d %E") << QStringLiteral("%H %S %Z %d %E");
    QTest::newRow("percent before placeholder") << t << QStringLiteral("%%Y") << QStringLiteral("%2026");
    QTest::newRow("trailing percent") << t << QStringLiteral("a%") << QStringLiteral("a%");
    QTest::newRow("digits of a value do not chain") << t << QStringLiteral("%%M%D") << QStringLiteral("%0506");
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
    QTest::newRow("%S every occurrence, %s is seconds") << QStringLiteral("%S/%S_%s.log") << QStringLiteral("lab") << QStringLiteral("lab/lab_09.log");
    QTest::newRow("empty session") << QStringLiteral("qln_%S.log") << QString() << QStringLiteral("qln_.log");
    QTest::newRow("placeholders in the session stay literal") << QStringLiteral("qln_%S_%D.log") << QStringLiteral("x%D%Y")
                                                              << QStringLiteral("qln_x%D%Y_06.log");
    QTest::newRow("device path does not make folders") << QStringLiteral("/logs/qln_%S.log") << QStringLiteral("/dev/ttyUSB0")
                                                       << QStringLiteral("/logs/qln__dev_ttyUSB0.log");
    QTest::newRow("the default: one dated file per session at home") << defaultLogPath() << QStringLiteral("COM3")
                                                                      << QDir::home().filePath(QStringLiteral("qln_COM3-20260506.log"));
    QTest::newRow("backslash in session") << QStringLiteral("qln_%S.log") << QStringLiteral("\\\\.\\COM12") << QStringLiteral("qln___._COM12.log");
}

void tst_LogName::resolveLogName()
{
    QFETCH(QString, pattern);
    QFETCH(QString, session);
    QFETCH(QString, expected);
    QCOMPARE(::resolveLogName(pattern, session, QDateTime(QDate(2026, 5, 6), QTime(7, 8, 9, 45))), expected);
}

void tst_LogName::sessionNameFrom_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("prefix removed once") << QStringLiteral("/a/b/Session_Session_lab.qln") << QStringLiteral("Session_lab.qln");
    QTest::newRow("prefix only at the start") << QStringLiteral("/a/mySession_1.qln") << QStringLiteral("mySession_1.qln");
    QTest::newRow("prefix is case-sensitive") << QStringLiteral("/a/session_x.qln") << QStringLiteral("session_x.qln");
    QTest::newRow("folder named Session_") << QStringLiteral("/Session_dir/f.qln") << QStringLiteral("f.qln");
}

void tst_LogName::sessionNameFrom()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(::sessionNameFrom(path), expected);
}

QTEST_GUILESS_MAIN(tst_LogName)
#include "tst_logname.moc"
