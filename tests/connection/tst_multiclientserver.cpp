#include "connection/multiclientserver.h"
#include "tests/support/peers.h"

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
    void clientsComeAndGo();
    void holdHoldsBackAFlood();

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
    m_server->disconnect(this); // the lambdas above hold locals of the test that ended
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
    const auto row = [](const char *name, const char *peer, const char *list, bool allowed) {
        QTest::newRow(name) << QString::fromLatin1(peer) << QString::fromLatin1(list).split(u',', Qt::SkipEmptyParts) << allowed;
    };
    row("empty list", "10.1.2.3", "", true);
    row("subnet inside", "192.168.1.77", "192.168.1.0/24", true);
    row("subnet outside", "10.0.0.1", "192.168.1.0/24", false);
    row("host exact, blanks around", "10.0.0.1", " 10.0.0.1 ", true);
    row("host other", "10.0.0.2", "10.0.0.1", false);
    row("v4-mapped peer, v4 host", "::ffff:127.0.0.1", "127.0.0.1", true);
    row("v4-mapped peer, v4 subnet", "::ffff:192.168.1.9", "192.168.1.0/24", true);
    row("v6 subnet", "fd00::5", "fd00::/8", true);
    row("garbage ignored, next matches", "10.0.0.1", "not-an-address,1.2.3/99,10.0.0.0/8", true);
    row("only garbage refuses", "10.0.0.1", "garbage,10.0.0.0/40", false);
    row("only blanks refuse", "10.0.0.1", " ,   ", false);
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
    QVERIFY(outsider && refused.wait(5000));
    QCOMPARE(refused.first(), (QVariantList{keyOf(outsider), QStringLiteral("not on the address allowlist")}));
    QTRY_COMPARE_WITH_TIMEOUT(outsider->state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(m_server->clientCount(), 0);
    m_server->setAllowlist({QStringLiteral("junk"), QStringLiteral("127.0.0.0/8")});
    m_server->setClientPolicy(1);
    QTcpSocket *first = connectClient();
    QTcpSocket *second = connectClient(false);
    QVERIFY(first && second && refused.wait(5000));
    QCOMPARE(refused.last(), (QVariantList{keyOf(second), QStringLiteral("the port already has a client (exclusive mode)")}));
    QTRY_COMPARE_WITH_TIMEOUT(second->state(), QAbstractSocket::UnconnectedState, 5000);
    QVERIFY(m_server->clientCount() == 1 && first->state() == QAbstractSocket::ConnectedState);
    first->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->clientCount(), 0, 5000);
    QVERIFY(connectClient());
    QCOMPARE(refused.size(), 2);
}

void tst_MultiClientServer::bytesFromClientsNeverMix()
{
    QSignalSpy arrived(m_server.get(), &MultiClientServer::clientArrived);
    const QList<QTcpSocket *> senders{connectClient(), connectClient(), connectClient()};
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
        QByteArray got;
        QVERIFY(QTest::qWaitFor([&] { return (got += m_server->takeMessage(keyOf(senders[i]))).size() >= sent[i].size(); }, 5000));
        QCOMPARE(got, sent[i]);
    }
    QVERIFY(m_server->takeMessage(QStringLiteral("1.2.3.4:5")).isEmpty());
    // Sending: to all, to one peer, and to an index out of range, which means the first.
    QVERIFY(m_server->writeToAll({}) == 0 && !m_server->sendTo(keyOf(senders[0]), {}) && m_server->writeToAll("all") == 3);
    QVERIFY(m_server->sendTo(keyOf(senders[1]), "only-b") && !m_server->sendTo(QStringLiteral("127.0.0.1:1"), "x"));
    QVERIFY(m_server->sendToIndex("idx", 9));
    QCOMPARE(TestPeers::readFor(*senders[0], 6, 5000), QByteArray("allidx"));
    QCOMPARE(TestPeers::readFor(*senders[1], 9, 5000), QByteArray("allonly-b"));
}

void tst_MultiClientServer::clientsComeAndGo()
{
    // A client leaving: its unread bytes go, then it is reported gone, then the count changes.
    QTcpSocket *client = connectClient();
    QVERIFY(client);
    const QString key = keyOf(client);
    QSignalSpy message(m_server.get(), &MultiClientServer::newMessage);
    QStringList order;
    connect(m_server.get(), &MultiClientServer::clientGone, this, [&](const QString &peer) { order << peer; });
    connect(m_server.get(), &MultiClientServer::connectionStateChange, this, [&] { order << QStringLiteral("state"); });
    client->write("unread");
    QVERIFY(message.wait(5000));
    QCOMPARE(message.first().at(0).toString(), key);
    client->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(order, (QStringList{key, QStringLiteral("state")}), 5000);
    QVERIFY(m_server->takeMessage(key).isEmpty());

    // Forty clients that vanish at once leave nothing behind.
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

    // Stopping closes the clients without reporting each, once; options survive for the next listen.
    for (int i = 0; i < 3; ++i)
        QVERIFY(connectClient());
    order.clear();
    m_server->stop();
    QVERIFY(!m_server->isListening() && m_server->clientCount() == 0);
    for (auto &c : m_clients)
        QTRY_COMPARE_WITH_TIMEOUT(c->state(), QAbstractSocket::UnconnectedState, 5000);
    QTest::qWait(50);
    QCOMPARE(order, QStringList{QStringLiteral("state")});
    m_server->setClientPolicy(1);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0) && connectClient());
    QCOMPARE(m_server->clientPolicy(), 1);
}

void tst_MultiClientServer::holdHoldsBackAFlood()
{
    m_server->setLowLatency(true);
    QTcpSocket *client = connectClient();
    QVERIFY(client);
    m_server->setPaused(true);
    QSignalSpy message(m_server.get(), &MultiClientServer::newMessage);
    QByteArray flood(16 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < flood.size(); ++i)
        flood[i] = char(i * 7 + i / 4096);
    client->write(flood);
    QTest::qWait(500);
    // TCP flow control holds the sender back instead of the server buffering it all.
    QCOMPARE(message.size(), 0);
    QVERIFY2(client->bytesToWrite() > 0, "sender was not held back");
    m_server->setPaused(false);
    QVERIFY(message.size() >= 1);
    QByteArray got;
    QVERIFY(QTest::qWaitFor([&] { return (got += m_server->takeMessage(keyOf(client))).size() >= flood.size(); }, 20000));
    QVERIFY(got == flood);
}

QTEST_GUILESS_MAIN(tst_MultiClientServer)
#include "tst_multiclientserver.moc"
