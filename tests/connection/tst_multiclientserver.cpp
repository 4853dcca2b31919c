#include "connection/multiclientserver.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <vector>

class tst_MultiClientServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void allowlist_data();
    void allowlist();
    void refusedOnTheWire();
    void bytesFromClientsNeverMix();
    void clientLeavingDropsItsBytes();
    void stopWithClientsConnected();
    void holdHoldsBackAFlood();
    void clientsThatVanishAtOnce();

private:
    QTcpSocket *connectClient(bool waitAccepted = true);
    QString keyOf(const QTcpSocket *client) const { return QStringLiteral("127.0.0.1:%1").arg(client->localPort()); }
    std::unique_ptr<MultiClientServer> m_server;
    std::vector<std::unique_ptr<QTcpSocket>> m_clients;
};

void tst_MultiClientServer::init()
{
    m_server = std::make_unique<MultiClientServer>();
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
}

void tst_MultiClientServer::cleanup()
{
    m_clients.clear();
    m_server.reset();
}

QTcpSocket *tst_MultiClientServer::connectClient(bool waitAccepted)
{
    const int before = m_server->clientCount();
    m_clients.push_back(std::make_unique<QTcpSocket>());
    QTcpSocket *socket = m_clients.back().get();
    socket->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    if (!socket->waitForConnected(5000))
        return nullptr;
    if (waitAccepted && !QTest::qWaitFor([&] { return m_server->clientCount() > before; }, 5000))
        return nullptr;
    return socket;
}

void tst_MultiClientServer::allowlist_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("empty list") << "10.1.2.3" << QStringList{} << true;
    QTest::newRow("subnet inside") << "192.168.1.77" << QStringList{QStringLiteral("192.168.1.0/24")} << true;
    QTest::newRow("subnet outside") << "10.0.0.1" << QStringList{QStringLiteral("192.168.1.0/24")} << false;
    QTest::newRow("host exact, blanks around") << "10.0.0.1" << QStringList{QStringLiteral(" 10.0.0.1 ")} << true;
    QTest::newRow("host other") << "10.0.0.2" << QStringList{QStringLiteral("10.0.0.1")} << false;
    QTest::newRow("v4-mapped peer, v4 host") << "::ffff:127.0.0.1" << QStringList{QStringLiteral("127.0.0.1")} << true;
    QTest::newRow("v4-mapped peer, v4 subnet") << "::ffff:192.168.1.9" << QStringList{QStringLiteral("192.168.1.0/24")} << true;
    QTest::newRow("v6 subnet") << "fd00::5" << QStringList{QStringLiteral("fd00::/8")} << true;
    QTest::newRow("garbage ignored, next matches") << "10.0.0.1"
        << QStringList{QStringLiteral("not-an-address"), QStringLiteral("1.2.3/99"), QStringLiteral("10.0.0.0/8")} << true;
    QTest::newRow("only garbage refuses") << "10.0.0.1" << QStringList{QStringLiteral("garbage"), QStringLiteral("10.0.0.0/40")} << false;
    QTest::newRow("only blanks refuse") << "10.0.0.1" << QStringList{QString(), QStringLiteral("   ")} << false;
}

void tst_MultiClientServer::allowlist()
{
    QFETCH(QString, peer);
    QFETCH(QStringList, list);
    QFETCH(bool, allowed);
    QCOMPARE(MultiClientServer::addressAllowed(QHostAddress(peer), list), allowed);
}

// A refused client is told by the connection closing; a client that is let in later is not.
void tst_MultiClientServer::refusedOnTheWire()
{
    QSignalSpy refused(m_server.get(), &MultiClientServer::connectionRefused);
    m_server->setAllowlist({QStringLiteral("192.168.1.0/24"), QStringLiteral("junk")});
    QTcpSocket *outsider = connectClient(false);
    QVERIFY(outsider);
    QVERIFY(refused.wait(5000));
    QCOMPARE(refused.first().at(0).toString(), keyOf(outsider));
    QCOMPARE(refused.first().at(1).toString(), QStringLiteral("not on the address allowlist"));
    QTRY_COMPARE_WITH_TIMEOUT(outsider->state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(m_server->clientCount(), 0);

    m_server->setAllowlist({QStringLiteral("junk"), QStringLiteral("127.0.0.0/8")});
    m_server->setClientPolicy(1);
    QTcpSocket *first = connectClient();
    QVERIFY(first);
    QTcpSocket *second = connectClient(false);
    QVERIFY(second);
    QVERIFY(refused.wait(5000));
    QCOMPARE(refused.last().at(1).toString(), QStringLiteral("the port already has a client (exclusive mode)"));
    QTRY_COMPARE_WITH_TIMEOUT(second->state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(m_server->clientCount(), 1);
    QCOMPARE(first->state(), QAbstractSocket::ConnectedState);
    first->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->clientCount(), 0, 5000);
    QVERIFY(connectClient());
    QCOMPARE(refused.size(), 2);
}

void tst_MultiClientServer::bytesFromClientsNeverMix()
{
    QSignalSpy arrived(m_server.get(), &MultiClientServer::clientArrived);
    QList<QTcpSocket *> senders{connectClient(), connectClient(), connectClient()};
    QVERIFY(!senders.contains(nullptr));
    QCOMPARE(arrived.size(), 3);
    // Interleaved writes; each client's stream must come back whole and in order.
    QList<QByteArray> sent(3);
    for (int round = 0; round < 200; ++round) {
        for (int i = 0; i < 3; ++i) {
            const QByteArray chunk = QByteArray::number(round) + char('A' + i) + QByteArray(round % 17, char('a' + i));
            sent[i] += chunk;
            senders[i]->write(chunk);
        }
        if (round % 50 == 0)
            QTest::qWait(1);
    }
    for (int i = 0; i < 3; ++i) {
        QVERIFY(m_server->clientPeers().contains(keyOf(senders[i])));
        QByteArray got;
        QVERIFY(QTest::qWaitFor([&] { return (got += m_server->takeMessage(keyOf(senders[i]))).size() >= sent[i].size(); }, 5000));
        QCOMPARE(got, sent[i]);
    }
    QVERIFY(m_server->takeMessage(QStringLiteral("1.2.3.4:5")).isEmpty());

    // Sending: to all, to one peer, and to an index out of range, which means the first.
    QCOMPARE(m_server->writeToAll(QByteArray()), qint64(0));
    QVERIFY(!m_server->sendTo(keyOf(senders[0]), QByteArray()));
    QCOMPARE(m_server->writeToAll("all"), qint64(3));
    QVERIFY(m_server->sendTo(keyOf(senders[1]), "only-b"));
    QVERIFY(!m_server->sendTo(QStringLiteral("127.0.0.1:1"), "nobody"));
    QVERIFY(m_server->sendToIndex("idx", 9));
    QByteArray gotA, gotB;
    QVERIFY(QTest::qWaitFor([&] { return (gotA += senders[0]->readAll()).size() >= 6 && (gotB += senders[1]->readAll()).size() >= 9; }, 5000));
    QCOMPARE(gotA, QByteArray("allidx"));
    QCOMPARE(gotB, QByteArray("allonly-b"));
}

void tst_MultiClientServer::clientLeavingDropsItsBytes()
{
    QTcpSocket *client = connectClient();
    QVERIFY(client);
    const QString key = keyOf(client);
    QSignalSpy message(m_server.get(), &MultiClientServer::newMessage);
    QStringList order;
    connect(m_server.get(), &MultiClientServer::clientGone, m_server.get(), [&](const QString &peer) { order << peer; });
    connect(m_server.get(), &MultiClientServer::connectionStateChange, m_server.get(), [&] { order << QStringLiteral("state"); });
    client->write("unread");
    QVERIFY(message.wait(5000));
    QCOMPARE(message.first().at(0).toString(), key);
    client->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(order, (QStringList{key, QStringLiteral("state")}), 5000);
    QVERIFY(m_server->takeMessage(key).isEmpty());
    m_server->disconnect(m_server.get());
}

void tst_MultiClientServer::stopWithClientsConnected()
{
    for (int i = 0; i < 3; ++i)
        QVERIFY(connectClient());
    QSignalSpy gone(m_server.get(), &MultiClientServer::clientGone);
    QSignalSpy state(m_server.get(), &MultiClientServer::connectionStateChange);
    m_server->stop();
    QCOMPARE(state.size(), 1);
    QVERIFY(!m_server->isListening());
    QCOMPARE(m_server->clientCount(), 0);
    for (auto &c : m_clients)
        QTRY_COMPARE_WITH_TIMEOUT(c->state(), QAbstractSocket::UnconnectedState, 5000);
    QTest::qWait(50);
    QCOMPARE(gone.size(), 0);
    QCOMPARE(state.size(), 1);
    // Options survive a stop and the server can listen again.
    m_server->setClientPolicy(1);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    QVERIFY(connectClient());
    QCOMPARE(m_server->clientPolicy(), 1);
}

void tst_MultiClientServer::holdHoldsBackAFlood()
{
    m_server->setLowLatency(true);
    QTcpSocket *client = connectClient();
    QVERIFY(client);
    const QString key = keyOf(client);
    m_server->setPaused(true);
    QSignalSpy message(m_server.get(), &MultiClientServer::newMessage);
    QByteArray flood(16 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < flood.size(); ++i)
        flood[i] = char(i * 7 + i / 4096);
    client->write(flood);
    QTest::qWait(500);
    QCOMPARE(message.size(), 0);
    // TCP flow control holds the sender back instead of the server buffering it all.
    QVERIFY2(client->bytesToWrite() > 0, "sender was not held back");
    m_server->setPaused(false);
    QVERIFY(message.size() >= 1);
    QByteArray got;
    QVERIFY(QTest::qWaitFor([&] { return (got += m_server->takeMessage(key)).size() >= flood.size(); }, 20000));
    QVERIFY(got == flood);
}

void tst_MultiClientServer::clientsThatVanishAtOnce()
{
    std::vector<std::unique_ptr<QTcpSocket>> burst;
    for (int i = 0; i < 40; ++i) {
        burst.push_back(std::make_unique<QTcpSocket>());
        burst.back()->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        if (i % 2)
            burst.back()->waitForConnected(1000);
        burst.back()->write("x");
        burst.back()->abort();
    }
    QTest::qWait(100);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->clientCount(), 0, 5000);
    QVERIFY(m_server->isListening());
    QVERIFY(connectClient());
}

QTEST_GUILESS_MAIN(tst_MultiClientServer)
#include "tst_multiclientserver.moc"
