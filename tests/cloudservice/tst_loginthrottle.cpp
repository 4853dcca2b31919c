#include "cloudservice/loginthrottle.h"

#include <QTest>

class tst_LoginThrottle : public QObject
{
    Q_OBJECT
private slots:
    void retryAfter_data()
    {
        // Sign-ins in order: "a@ms" a failure of address a at that time, "+a" a success.
        // Default policy: five free failures in 15 minutes, then 30 s doubling up to 15 minutes.
        QTest::addColumn<QString>("attempts");
        QTest::addColumn<qint64>("at");
        QTest::addColumn<qint64>("retryAfter"); // for address a
        const QString five = QStringLiteral("a@0 a@1 a@2 a@3 a@4");
        const QString windowAgo = QStringLiteral("a@0 a@1 a@2 a@3 a@900001 a@900002 a@900003 a@900004");
        QTest::newRow("four failures do not lock") << QStringLiteral("a@0 a@1 a@2 a@3") << qint64(3) << qint64(0);
        QTest::newRow("fifth locks for 30 s") << five << qint64(4) << qint64(30000);
        QTest::newRow("the lock counts down") << five << qint64(10004) << qint64(20000);
        QTest::newRow("the lock runs out") << five << qint64(30004) << qint64(0);
        QTest::newRow("a failure after the lock doubles it") << five + QStringLiteral(" a@30004") << qint64(30004)
                                                             << qint64(60000);
        QTest::newRow("and doubles again") << five + QStringLiteral(" a@30004 a@90004") << qint64(90004) << qint64(120000);
        QTest::newRow("up to 15 minutes") << five + QStringLiteral(" a@30004 a@90004 a@210004 a@450004 a@930004")
                                          << qint64(930004) << qint64(900000);
        QTest::newRow("failures older than the window are forgotten") << windowAgo << qint64(900004) << qint64(0);
        QTest::newRow("a fresh window locks again") << windowAgo + QStringLiteral(" a@900005") << qint64(900005)
                                                    << qint64(30000);
        QTest::newRow("a success forgets the failures") << QStringLiteral("a@0 a@1 a@2 a@3 +a a@10") << qint64(20)
                                                        << qint64(0);
        QTest::newRow("another address's lock") << QStringLiteral("b@20 b@20 b@20 b@20 b@20 a@0") << qint64(20)
                                                << qint64(0);
    }

    void retryAfter()
    {
        QFETCH(QString, attempts);
        QFETCH(qint64, at);
        QFETCH(qint64, retryAfter);
        LoginThrottle throttle{LoginThrottle::Policy{}};
        for (const QString &attempt : attempts.split(QLatin1Char(' '))) {
            if (attempt.startsWith(u'+'))
                throttle.succeeded(attempt.mid(1));
            else
                throttle.failed(attempt.section(u'@', 0, 0), attempt.section(u'@', 1).toLongLong());
        }
        QCOMPARE(throttle.retryAfter(QStringLiteral("a"), at), retryAfter);
        // The other address is locked by its own five failures only.
        if (attempts.startsWith(u'b'))
            QCOMPARE(throttle.retryAfter(QStringLiteral("b"), at), qint64(30000));
    }
};

QTEST_APPLESS_MAIN(tst_LoginThrottle)
#include "tst_loginthrottle.moc"
