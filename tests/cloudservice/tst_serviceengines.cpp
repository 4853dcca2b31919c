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
        QTest::newRow("get") << L{get} << Verdict::Pass << qint64(1) << true;
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

    void throttleRetryAfter_data()
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

    void throttleRetryAfter()
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

    void hubSessionLifetime_data()
    {
        // A script of browser and device steps on device 7: "w<watcher>@t" watch,
        // "t<watcher>@t" renew the current session, "u<watcher>" stop watching,
        // "?@t" ask for the session. `expected` lists every answer in order.
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("expected");

        const auto list = [](const char *text) { return QString::fromLatin1(text).split(QLatin1Char(' ')); };
        QTest::newRow("two browsers share one session")
            << QStringLiteral("w1@0 w2@10 ?@20") << list("s1 s1 s1");
        QTest::newRow("lapses 30 s after the last request")
            << QStringLiteral("w1@0 ?@30000 ?@30001 w1@30002") << list("s1 s1 - s2");
        QTest::newRow("renewing keeps it") << QStringLiteral("w1@0 t1@20000 ?@45000 ?@50001")
                                           << list("s1 true s1 -");
        QTest::newRow("the later watcher keeps it") << QStringLiteral("w1@0 w2@20000 ?@40000 ?@50001")
                                                    << list("s1 s1 s1 -");
        QTest::newRow("renewing a lapsed session fails") << QStringLiteral("w1@0 t1@40000 ?@40000")
                                                         << list("s1 false -");
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
    void hubTrafficIsBounded_data()
    {
        QTest::addColumn<int>("maxEvents");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<QString>("kept"); // text#seq left after appending "aa", "bb", "cc", "dd"
        QTest::newRow("room for all") << 4 << qint64(8) << QStringLiteral("aa#1 bb#2 cc#3 dd#4");
        QTest::newRow("by count") << 3 << qint64(1000) << QStringLiteral("bb#2 cc#3 dd#4");
        QTest::newRow("by bytes") << 100 << qint64(5) << QStringLiteral("cc#3 dd#4");
    }

    void hubTrafficIsBounded()
    {
        QFETCH(int, maxEvents);
        QFETCH(qint64, maxBytes);
        QFETCH(QString, kept);
        ConsoleHub hub = makeHub({.maxEvents = maxEvents, .maxEventBytes = maxBytes});
        hub.watch(1, 100, 0);
        for (const char *text : {"aa", "bb", "cc", "dd"})
            QCOMPARE(hub.append(1, {{0, QStringLiteral("ser-0"), QStringLiteral("rx"), QLatin1String(text), {}, 0}}, 5), 1);
        QStringList texts;
        for (const auto &event : hub.events(1, 0, 100, QString()))
            texts << event.text + u'#' + QString::number(event.seq);
        QCOMPARE(texts.join(QLatin1Char(' ')), kept);
        QCOMPARE(hub.lastSeq(1), 4);
    }

private:
    static ConsoleHub makeHub(ConsoleHub::Limits limits = {})
    {
        return ConsoleHub(limits, [n = 0]() mutable { return QStringLiteral("s%1").arg(++n); });
    }
};

QTEST_APPLESS_MAIN(tst_ServiceEngines)
#include "tst_serviceengines.moc"
