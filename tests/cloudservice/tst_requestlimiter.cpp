#include "cloudservice/requestlimiter.h"

#include <QRandomGenerator>
#include <QTest>

using Verdict = RequestLimiter::Verdict;
Q_DECLARE_METATYPE(Verdict)

class tst_RequestLimiter : public QObject
{
    Q_OBJECT
private slots:
    void verdicts_data()
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

    void verdicts()
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
};

QTEST_APPLESS_MAIN(tst_RequestLimiter)
#include "tst_requestlimiter.moc"
