#include "cloudservice/consolehub.h"

#include <QTest>

class tst_ConsoleHub : public QObject
{
    Q_OBJECT
private slots:
    void sessionLifetime_data();
    void sessionLifetime();
    void trafficOnlyWhileWatched();
    void trafficIsBounded_data();
    void trafficIsBounded();

private:
    static ConsoleHub makeHub(ConsoleHub::Limits limits = {})
    {
        return ConsoleHub(limits, [n = 0]() mutable { return QStringLiteral("s%1").arg(++n); });
    }
};

void tst_ConsoleHub::sessionLifetime_data()
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

void tst_ConsoleHub::sessionLifetime()
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

void tst_ConsoleHub::trafficOnlyWhileWatched()
{
    ConsoleHub hub = makeHub();
    const auto events = [](const char *port, const char *text) {
        return QList<ConsoleHub::Event>{{0, QLatin1String(port), QStringLiteral("rx"), QLatin1String(text), {}, 0}};
    };
    QCOMPARE(hub.append(1, events("ser-0", "lost"), 0), 0);
    hub.watch(1, 100, 0);
    hub.markTold(1);
    QCOMPARE(hub.append(1, events("ser-0", "a") + events("tcpc-1", "b") + events("ser-0", "c"), 5), 3);
    QCOMPARE(hub.append(2, events("ser-0", "other device"), 5), 0);
    const auto ser = hub.events(1, 1, 100, QStringLiteral("ser-0"));
    QCOMPARE(ser.size(), 1);
    QCOMPARE(ser.first().text, QStringLiteral("c"));
    QCOMPARE(ser.first().seq, 3);
    // A new session starts with no traffic and is not known to the device yet.
    QVERIFY(hub.told(1));
    hub.unwatch(1, 100);
    hub.watch(1, 100, 10);
    QVERIFY(!hub.told(1));
    QVERIFY(hub.events(1, 0, 100, QString()).isEmpty());
}

void tst_ConsoleHub::trafficIsBounded_data()
{
    QTest::addColumn<int>("maxEvents");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<QString>("kept"); // texts left after appending "aa", "bb", "cc", "dd"

    QTest::newRow("by count") << 3 << qint64(1000) << QStringLiteral("bb cc dd");
    QTest::newRow("by bytes") << 100 << qint64(5) << QStringLiteral("cc dd");
    QTest::newRow("room for all") << 4 << qint64(8) << QStringLiteral("aa bb cc dd");
}

void tst_ConsoleHub::trafficIsBounded()
{
    QFETCH(int, maxEvents);
    QFETCH(qint64, maxBytes);
    QFETCH(QString, kept);
    ConsoleHub::Limits limits;
    limits.maxEvents = maxEvents;
    limits.maxEventBytes = maxBytes;
    ConsoleHub hub = makeHub(limits);
    hub.watch(1, 1, 0);
    for (const char *text : {"aa", "bb", "cc", "dd"})
        hub.append(1, {ConsoleHub::Event{0, QStringLiteral("p"), QStringLiteral("tx"), QLatin1String(text), {}, 0}}, 1);
    QStringList texts;
    for (const auto &event : hub.events(1, 0, 100, QString()))
        texts << event.text;
    QCOMPARE(texts.join(QLatin1Char(' ')), kept);
    QCOMPARE(hub.lastSeq(1), 4);
}

QTEST_APPLESS_MAIN(tst_ConsoleHub)
#include "tst_consolehub.moc"
