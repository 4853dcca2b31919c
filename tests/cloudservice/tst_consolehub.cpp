#include "cloudservice/consolehub.h"

#include <QTest>

class tst_ConsoleHub : public QObject
{
    Q_OBJECT
private slots:
    void sessionLifetime_data()
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

    void sessionLifetime()
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

    void traffic_data()
    {
        QTest::addColumn<int>("maxEvents");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<QString>("kept"); // text#seq left after appending "aa", "bb", "cc", "dd"
        QTest::newRow("room for all") << 4 << qint64(8) << QStringLiteral("aa#1 bb#2 cc#3 dd#4");
        QTest::newRow("by count") << 3 << qint64(1000) << QStringLiteral("bb#2 cc#3 dd#4");
        QTest::newRow("by bytes") << 100 << qint64(5) << QStringLiteral("cc#3 dd#4");
    }

    void traffic()
    {
        QFETCH(int, maxEvents);
        QFETCH(qint64, maxBytes);
        QFETCH(QString, kept);
        ConsoleHub hub = makeHub({.maxEvents = maxEvents, .maxEventBytes = maxBytes});
        const auto append = [&](qint64 device, const QString &port, const char *text) {
            return hub.append(device, {{0, port, QStringLiteral("rx"), QLatin1String(text), {}, 0}}, 5);
        };
        const auto texts = [&](qint64 after, const QString &port) {
            QStringList out;
            for (const auto &event : hub.events(1, after, 100, port))
                out << event.text + u'#' + QString::number(event.seq);
            return out.join(QLatin1Char(' '));
        };
        // Only a watched device's traffic is kept.
        QCOMPARE(append(1, QStringLiteral("ser-0"), "lost"), 0);
        hub.watch(1, 100, 0);
        hub.markTold(1);
        for (const char *text : {"aa", "bb", "cc", "dd"})
            QCOMPARE(append(1, text[0] == 'b' ? QStringLiteral("tcpc-1") : QStringLiteral("ser-0"), text), 1);
        QCOMPARE(append(2, QStringLiteral("ser-0"), "other device"), 0);
        QCOMPARE(hub.lastSeq(1), 4);
        QCOMPARE(texts(0, QString()), kept);
        QCOMPARE(texts(2, QStringLiteral("ser-0")), QStringLiteral("cc#3 dd#4"));
        // A new session starts with no traffic and is not known to the device yet.
        QVERIFY(hub.told(1));
        hub.unwatch(1, 100);
        hub.watch(1, 100, 10);
        QVERIFY(!hub.told(1));
        QCOMPARE(texts(0, QString()), QString());
    }

private:
    static ConsoleHub makeHub(ConsoleHub::Limits limits = {})
    {
        return ConsoleHub(limits, [n = 0]() mutable { return QStringLiteral("s%1").arg(++n); });
    }
};

QTEST_APPLESS_MAIN(tst_ConsoleHub)
#include "tst_consolehub.moc"
