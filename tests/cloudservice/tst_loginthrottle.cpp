#include "cloudservice/loginthrottle.h"

#include <QTest>

class tst_LoginThrottle : public QObject
{
    Q_OBJECT
private slots:
    void lockAfterFailures_data();
    void lockAfterFailures();
    void successAndKeysAreSeparate();
};

void tst_LoginThrottle::lockAfterFailures_data()
{
    QTest::addColumn<QList<qint64>>("failures"); // times of failed attempts, ms
    QTest::addColumn<qint64>("at");
    QTest::addColumn<qint64>("retryAfter");

    // Default policy: five free failures in 15 minutes, then 30 s doubling up to 15 minutes.
    const QList<qint64> five{0, 1, 2, 3, 4};
    QTest::newRow("four failures do not lock") << QList<qint64>{0, 1, 2, 3} << qint64(3) << qint64(0);
    QTest::newRow("fifth locks for 30 s") << five << qint64(4) << qint64(30000);
    QTest::newRow("the lock counts down") << five << qint64(10004) << qint64(20000);
    QTest::newRow("the lock runs out") << five << qint64(30004) << qint64(0);
    QTest::newRow("a failure after the lock doubles it") << five + QList<qint64>{30004} << qint64(30004)
                                                         << qint64(60000);
    QTest::newRow("and doubles again") << five + QList<qint64>{30004, 90004} << qint64(90004) << qint64(120000);
    QTest::newRow("up to 15 minutes")
        << five + QList<qint64>{30004, 90004, 210004, 450004, 930004} << qint64(930004) << qint64(900000);
    QTest::newRow("failures older than the window are forgotten")
        << QList<qint64>{0, 1, 2, 3, 900001, 900002, 900003, 900004} << qint64(900004) << qint64(0);
    QTest::newRow("a fresh window locks again")
        << QList<qint64>{0, 1, 2, 3, 900001, 900002, 900003, 900004, 900005} << qint64(900005) << qint64(30000);
}

void tst_LoginThrottle::lockAfterFailures()
{
    QFETCH(QList<qint64>, failures);
    QFETCH(qint64, at);
    QFETCH(qint64, retryAfter);
    LoginThrottle throttle{LoginThrottle::Policy{}};
    for (qint64 time : failures)
        throttle.failed(QStringLiteral("ann@example.com"), time);
    QCOMPARE(throttle.retryAfter(QStringLiteral("ann@example.com"), at), retryAfter);
}

void tst_LoginThrottle::successAndKeysAreSeparate()
{
    LoginThrottle throttle{LoginThrottle::Policy{}};
    for (int i = 0; i < 5; ++i) {
        throttle.failed(QStringLiteral("b"), 20);
        if (i < 4)
            throttle.failed(QStringLiteral("a"), i);
    }
    throttle.succeeded(QStringLiteral("a"));
    throttle.failed(QStringLiteral("a"), 10);
    QCOMPARE(throttle.retryAfter(QStringLiteral("a"), 20), 0); // four, a success, then one
    QCOMPARE(throttle.retryAfter(QStringLiteral("b"), 20), 30000);
}

QTEST_APPLESS_MAIN(tst_LoginThrottle)
#include "tst_loginthrottle.moc"
