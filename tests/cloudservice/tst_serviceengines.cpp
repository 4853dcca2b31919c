#include "cloudservice/consolehub.h"
#include "cloudservice/loginthrottle.h"
#include "cloudservice/requestlimiter.h"

#include <QRandomGenerator>
#include <QTest>

using Verdict = RequestLimiter::Verdict;
Q_DECLARE_METATYPE(Verdict)

// The service's engines on a clock the test gives them: the request limiter that
// frames HTTP requests, the login throttle and the console hub.
class tst_ServiceEngines : public QObject
{
    Q_OBJECT
private slots:
    void limiterVerdicts_data()
    {
        // Each request of a row arrives in reads of its own (two in one read are refused, see
        // the service test).
        QTest::addColumn<QByteArrayList>("requests");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<qint64>("passed");
        QTest::addColumn<bool>("idle");

        const QByteArray get = "GET /api/v3/account/me HTTP/1.1\r\nHost: x\r\n\r\n";
        const auto post = [](int length, const QByteArray &body) {
            return "POST /x HTTP/1.1\r\nContent-Length: " + QByteArray::number(length) + "\r\n\r\n" + body;
        };
        using L = QByteArrayList;
        // Limits: 64 bytes of head, 10 bytes of body.
        QTest::newRow("post within limit") << L{post(10, "0123456789")} << Verdict::Pass << qint64(1) << true;
        QTest::newRow("body not complete yet") << L{post(10, "01234")} << Verdict::Pass << qint64(0) << false;
        QTest::newRow("requests one after another") << L{post(3, "abc"), get, post(1, "z")} << Verdict::Pass
                                                    << qint64(3) << true;
        QTest::newRow("body bytes that look like a head") << L{post(8, "\r\n\r\nGET ")} << Verdict::Pass
                                                          << qint64(1) << true;
        QTest::newRow("body one byte too large") << L{post(11, "")} << Verdict::BodyTooLarge << qint64(0) << false;
        QTest::newRow("second request too large") << L{get, post(10000, "")} << Verdict::BodyTooLarge << qint64(1)
                                                  << false;
        QTest::newRow("length beyond 64 bits")
            << L{"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n"} << Verdict::BodyTooLarge
            << qint64(0) << false;
        QTest::newRow("header name case") << L{"POST / HTTP/1.1\r\ncOnTeNt-LeNgTh: 11\r\n\r\n"}
                                          << Verdict::BodyTooLarge << qint64(0) << false;
        QTest::newRow("chunked") << L{"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"}
                                 << Verdict::LengthRequired << qint64(0) << false;
        QTest::newRow("negative length") << L{"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"}
                                         << Verdict::BadRequest << qint64(0) << false;
        QTest::newRow("two different lengths")
            << L{"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n"} << Verdict::BadRequest
            << qint64(0) << false;
        QTest::newRow("head too large") << L{"GET / HTTP/1.1\r\nX: " + QByteArray(60, 'a') + "\r\n\r\n"}
                                        << Verdict::HeadTooLarge << qint64(0) << false;
        QTest::newRow("endless head without blank line") << L{QByteArray(200, 'a')} << Verdict::HeadTooLarge
                                                         << qint64(0) << false;
        QTest::newRow("bare line feeds") << L{"POST / HTTP/1.1\nContent-Length: 2\n\nab"} << Verdict::Pass
                                         << qint64(1) << true;
        QTest::newRow("empty lines around a request") << L{"\r\n" + get + "\r\n"} << Verdict::Pass << qint64(1)
                                                      << true;
    }

    void limiterVerdicts()
    {
        QFETCH(QByteArrayList, requests);
        QFETCH(Verdict, verdict);
        QFETCH(qint64, passed);
        QFETCH(bool, idle);

        // Each request whole, byte by byte, and split at random points: the verdict must
        // not depend on how the bytes arrive.
        for (int round = 0; round < 22; ++round) {
            RequestLimiter limiter(64, 10);
            Verdict last = Verdict::Pass;
            for (const QByteArray &request : requests) {
                for (qsizetype at = 0; at < request.size() && last == Verdict::Pass;) {
                    const qsizetype size = round == 0 ? request.size()
                            : round == 1              ? 1
                                                      : 1 + QRandomGenerator::global()->bounded(9);
                    last = limiter.feed(QByteArrayView(request).sliced(at, qMin(size, request.size() - at)));
                    at += size;
                }
            }
            QCOMPARE(last, verdict);
            QCOMPARE(limiter.requestsPassed(), passed);
            if (verdict == Verdict::Pass)
                QCOMPARE(limiter.idle(), idle);
        }
    }

    void throttle_data()
    {
        // Steps in order: "a@ms" a failed sign-in of address a at that time, "+a" a
        // success, "a?ms=wait" the wait asked of a at that time. Default policy: five
        // free failures in 15 minutes, then 30 s doubling up to 15 minutes.
        QTest::addColumn<QString>("script");
        QTest::newRow("lock, count down, run out, double up to 15 minutes")
            << QStringLiteral("a@0 a@1 a@2 a@3 a?3=0 a@4 a?4=30000 a?10004=20000 a?30004=0 a@30004 a?30004=60000 "
                              "a@90004 a?90004=120000 a@210004 a@450004 a@930004 a?930004=900000");
        QTest::newRow("failures older than the window are forgotten")
            << QStringLiteral("a@0 a@1 a@2 a@3 a@900001 a@900002 a@900003 a@900004 a?900004=0 a@900005 a?900005=30000");
        QTest::newRow("a success forgets, each address counts its own")
            << QStringLiteral("a@0 a@1 a@2 a@3 +a a@10 a?20=0 b@20 b@20 b@20 b@20 b@20 b?20=30000 a?20=0");
    }

    void throttle()
    {
        QFETCH(QString, script);
        LoginThrottle throttle{LoginThrottle::Policy{}};
        for (const QString &step : script.split(QLatin1Char(' '))) {
            if (step.startsWith(u'+')) {
                throttle.succeeded(step.mid(1));
            } else if (step.at(1) == u'@') {
                throttle.failed(step.left(1), step.mid(2).toLongLong());
            } else {
                const qint64 wait = throttle.retryAfter(step.left(1), step.section(u'=', 0, 0).mid(2).toLongLong());
                QVERIFY2(QString::number(wait) == step.section(u'=', 1), qPrintable(step + u' ' + QString::number(wait)));
            }
        }
    }

    void hubSessionLifetime_data()
    {
        // A script of browser and device steps on device 7: "w<watcher>@t" watch,
        // "t<watcher>@t" renew the current session, "u<watcher>" stop watching,
        // "?@t" ask for the session. `expected` lists every answer in order.
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("expected");

        const auto list = [](const char *text) { return QString::fromLatin1(text).split(QLatin1Char(' ')); };
        QTest::newRow("lapses 30 s after the last watcher's request")
            << QStringLiteral("w1@0 w2@20000 ?@30001 ?@50000 ?@50001 w1@50002") << list("s1 s1 s1 s1 - s2");
        QTest::newRow("renewing keeps it, but not once lapsed")
            << QStringLiteral("w1@0 t1@20000 ?@45000 ?@50001 t1@50001 ?@50001") << list("s1 true s1 - false -");
        QTest::newRow("leaving one by one") << QStringLiteral("w1@0 w2@0 u1 ?@1 u2 ?@1 w2@2") << list("s1 s1 s1 - s2");
    }

    void hubSessionLifetime()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, expected);
        ConsoleHub hub = makeHub();
        QStringList answers;
        QString current;
        for (const QString &step : script.split(QLatin1Char(' '))) {
            const qint64 watcher = step.mid(1, 1).toLongLong();
            const qint64 at = step.section(QLatin1Char('@'), 1).toLongLong();
            switch (step.at(0).toLatin1()) {
            case 'w': current = hub.watch(7, watcher, at); answers << current; break;
            case 't': answers << (hub.touch(7, current, watcher, at) ? QStringLiteral("true") : QStringLiteral("false")); break;
            case 'u': hub.unwatch(7, watcher); break;
            case '?': {
                const QString session = hub.session(7, at);
                answers << (session.isEmpty() ? QStringLiteral("-") : session);
                break;
            }
            }
        }
        QCOMPARE(answers, expected);
    }

    // A watched device's traffic is kept up to a count and a size, oldest dropped first.
    // The service test checks that only watched traffic is kept, the seq and port
    // filters, and that a new session starts empty.
    void hubTrafficIsBounded()
    {
        const auto kept = [](int maxEvents, qint64 maxBytes) { // after appending "aa" to "dd": text#seq
            ConsoleHub hub = makeHub({.maxEvents = maxEvents, .maxEventBytes = maxBytes});
            hub.watch(1, 100, 0);
            for (const char *text : {"aa", "bb", "cc", "dd"})
                hub.append(1, {{0, QStringLiteral("ser-0"), QStringLiteral("rx"), QLatin1String(text), {}, 0}}, 5);
            QStringList texts;
            for (const auto &event : hub.events(1, 0, 100, QString()))
                texts << event.text + u'#' + QString::number(event.seq);
            return texts.join(QLatin1Char(' '));
        };
        QCOMPARE(kept(4, 8), QStringLiteral("aa#1 bb#2 cc#3 dd#4"));
        QCOMPARE(kept(3, 1000), QStringLiteral("bb#2 cc#3 dd#4"));
        QCOMPARE(kept(100, 5), QStringLiteral("cc#3 dd#4"));
    }

private:
    static ConsoleHub makeHub(ConsoleHub::Limits limits = {})
    {
        return ConsoleHub(limits, [n = 0]() mutable { return QStringLiteral("s%1").arg(++n); });
    }
};

QTEST_APPLESS_MAIN(tst_ServiceEngines)
#include "tst_serviceengines.moc"
