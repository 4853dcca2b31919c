#include "bridge/bridgemanager.h"
#include "tests/session/faketransport.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(BridgeConfig)

namespace {

BridgeConfig bridge(const QString &name, int a, int b, int direction = BridgeConfig::AToB)
{
    BridgeConfig c;
    c.Name = name;
    c.PortA = a;
    c.PortB = b;
    c.Direction = direction;
    return c;
}

} // namespace

// Records, validation, badges, pruning and the stored form of bridges.
class tst_BridgeManager : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void validation_data();
    void validation();
    void badgesAndPruning();
    void waitingRecordBecomesALink();
    void storedRoundTrip();
    void storedValues_data();
    void storedValues();
    void invalidRecordsAreSkipped();

private:
    std::unique_ptr<QSettings> store();
    std::vector<std::unique_ptr<PortSession>> m_sessions;
    QList<PortSession *> m_panes;
    QTemporaryDir m_dir;
};

void tst_BridgeManager::init()
{
    m_sessions.clear();
    m_panes.clear();
    for (int i = 0; i < 3; ++i) {
        FormatSetting s;
        s.PortName = QStringLiteral("p%1").arg(i);
        m_sessions.push_back(std::make_unique<PortSession>(s, i));
        useFakeTransport(*m_sessions.back());
        m_panes << m_sessions.back().get();
    }
}

std::unique_ptr<QSettings> tst_BridgeManager::store()
{
    return std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("%1.ini").arg(QLatin1String(QTest::currentTestFunction()))),
                                       QSettings::IniFormat);
}

void tst_BridgeManager::validation_data()
{
    QTest::addColumn<BridgeConfig>("config");
    QTest::addColumn<int>("transferring");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("warning");

    const QString none;
    const QString interleave = QStringLiteral("Port 2: p1 is written to by more than one bridge; "
                                              "their data will interleave on its wire.");
    QTest::newRow("reverse of a bridged pair") << bridge(none, 1, 0) << -1 << none << none;
    QTest::newRow("same direction again") << bridge(none, 1, 0, BridgeConfig::BothWays) << -1
                                          << QStringLiteral("That direction is already bridged") << interleave;
    QTest::newRow("one port") << bridge(none, 2, 2) << -1 << QStringLiteral("A bridge needs two different ports") << none;
    QTest::newRow("no port") << bridge(none, -1, 2) << -1 << QStringLiteral("Both ends must name a port") << none;
    QTest::newRow("no such pane") << bridge(none, 0, 3) << -1 << QStringLiteral("Port number is out of range") << none;
    QTest::newRow("transferring") << bridge(none, 2, 0) << 2 << QStringLiteral("Port 3 is transferring a file") << none;
    QTest::newRow("second writer") << bridge(none, 2, 1) << -1 << none << interleave;
}

void tst_BridgeManager::validation()
{
    QFETCH(BridgeConfig, config);
    QFETCH(int, transferring);
    QFETCH(QString, problem);
    QFETCH(QString, warning);
    BridgeManager manager;
    manager.setPanes(m_panes);
    QVERIFY(manager.add(bridge(QStringLiteral("first"), 0, 1)));
    if (transferring >= 0)
        QVERIFY(m_panes.at(transferring)->lease()->acquire(PortRequester::Transfer));
    QCOMPARE(manager.overlapWarning(config), warning);
    QString why;
    QCOMPARE(manager.add(config, &why), problem.isEmpty());
    QCOMPARE(why, problem);
    QCOMPARE(manager.configurations().size(), problem.isEmpty() ? 2 : 1);
}

void tst_BridgeManager::badgesAndPruning()
{
    BridgeManager manager;
    manager.setPanes(m_panes);
    QSignalSpy messages(&manager, &BridgeManager::message);
    QVERIFY(manager.add(bridge(QStringLiteral("north"), 0, 1)));
    QVERIFY(manager.add(bridge(QString(), 2, 1, BridgeConfig::BothWays)));
    QCOMPARE(manager.badgeText(1), QStringLiteral("Bridged to 1: p0, 3: p2"));
    QCOMPARE(manager.badgeText(2), QStringLiteral("Bridged to 2: p1"));
    QCOMPARE(m_panes.at(1)->lease()->bridgeHolds(), 2);

    // The last pane goes while its bridge forwards; traffic towards it waits until the
    // pane list says it is gone.
    auto wire = [this](int pane) { return static_cast<FakeTransport *>(m_panes.at(pane)->transport()); };
    wire(2)->feed("in flight");
    QCOMPARE(wire(1)->written(), QByteArray("in flight"));
    m_sessions.pop_back();
    m_panes.removeLast();
    wire(1)->feed("towards the gone pane");
    QCOMPARE(manager.stateText(1), QStringLiteral("Waiting for both ends to open"));
    manager.setPanes(m_panes);
    QCOMPARE(messages.last().first().toString(), QStringLiteral("Removed bridge(s) whose port no longer exists: (unnamed)"));
    QCOMPARE(manager.configurations().size(), 1);
    QCOMPARE(manager.badgeText(1), QStringLiteral("Bridged to 1: p0"));
    QCOMPARE(m_panes.at(1)->lease()->bridgeHolds(), 1);
    manager.remove(0);
    QCOMPARE(manager.badgeText(1), QString());
    QCOMPARE(m_panes.at(1)->lease()->bridgeHolds(), 0);
}

void tst_BridgeManager::waitingRecordBecomesALink()
{
    BridgeManager manager;
    manager.setPanes({m_panes.at(0)});
    manager.setConfigurations({bridge(QStringLiteral("later"), 0, 2)});
    QCOMPARE(manager.configurations().size(), 1);
    QVERIFY(!manager.link(0));
    QCOMPARE(manager.stateText(0), QStringLiteral("Waiting for port 3"));
    manager.setPanes(m_panes);
    QVERIFY(manager.link(0) && manager.link(0)->isRunning());
    QString why;
    QVERIFY(!m_panes.at(2)->lease()->acquire(PortRequester::Transfer, &why));
    QCOMPARE(why, QStringLiteral("This port is part of a bridge link. Remove the link before transferring a file."));
}

void tst_BridgeManager::storedRoundTrip()
{
    BridgeConfig c = bridge(QStringLiteral("every field"), 3, 5, BridgeConfig::BToA);
    c.Enabled = c.AutoOpenPeer = c.ShowForwardedInDisplay = c.FloodGuardEnabled = c.LogHex = false;
    c.LogEnabled = true;
    c.DisplayMuteBytesPerSec = 5000000000;
    c.FramingMode = BridgeConfig::CutOnDelimiter;
    c.FramingIdleGapMs = 7;
    c.FramingDelimiterHex = QByteArray("\r\n\xff", 3);
    c.FramingFixedLength = 9;
    c.FramingMaxBytes = 99;
    c.FramingMaxHoldMs = 11;
    c.QueueLimitBytes = 4000000000;
    c.HighWatermark = 3000000000;
    c.LowWatermark = 13;
    c.SinkPendingLimitBytes = 17;
    c.OverflowPolicy = BridgeConfig::StopBridge;
    c.FloodRateBytesPerSec = 19;
    c.FloodWindowMs = 23;
    c.FanoutMode = BridgeConfig::TakeTurns;
    c.UdpTargetMode = BridgeConfig::AllPeers;
    c.ArbiterResponseTimeoutMs = 29;
    c.ArbiterMaxQueuedRequests = 31;
    c.Protocol = BridgeConfig::Rfc2217Client;
    c.ModbusTransactionTimeoutMs = 37;
    c.AllowedPeers = {QStringLiteral("10.0.0.0/8"), QStringLiteral("a,b")};
    c.LogFilePath = QStringLiteral("/tmp/cap ture.txt");
    c.LogRotateBytes = 41;
    auto settings = store();
    writeBridgeConfigs(*settings, {c, BridgeConfig(), BridgeConfig()});
    writeBridgeConfigs(*settings, {c, BridgeConfig()});
    settings->sync();
    settings = store();
    QCOMPARE(readBridgeConfigs(*settings), (QList<BridgeConfig>{c, BridgeConfig()}));
    QVERIFY(!settings->contains(QStringLiteral("Bridge/2/PortA")));

    settings->setValue(QStringLiteral("Bridge/Count"), 1000);
    QCOMPARE(readBridgeConfigs(*settings).size(), 256);
}

void tst_BridgeManager::storedValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<BridgeConfig>("expected"); // as the link runs with it

    auto with = [](auto field, auto value) {
        BridgeConfig c;
        c.*field = value;
        return c;
    };
    const BridgeConfig defaults;
    QTest::newRow("direction unknown") << "Direction" << "7" << defaults;
    QTest::newRow("direction kept") << "Direction" << "1" << with(&BridgeConfig::Direction, 1);
    QTest::newRow("framing unknown") << "FramingMode" << "4" << defaults;
    QTest::newRow("protocol negative") << "Protocol" << "-1" << defaults;
    QTest::newRow("overflow unknown") << "OverflowPolicy" << "9" << defaults;
    QTest::newRow("fanout unknown") << "FanoutMode" << "3" << defaults;
    QTest::newRow("udp target unknown") << "UdpTargetMode" << "5" << defaults;
    QTest::newRow("delimiter not hex") << "FramingDelimiterHex" << "0x0A" << defaults;
    QTest::newRow("delimiter with a blank")
        << "FramingDelimiterHex" << "0d 0A" << with(&BridgeConfig::FramingDelimiterHex, QByteArray("\r\n"));
    QTest::newRow("number not a number") << "QueueLimitBytes" << "99999999999999999999" << defaults;
    QTest::newRow("queue beyond 1 GiB")
        << "QueueLimitBytes" << "4000000000000" << with(&BridgeConfig::QueueLimitBytes, qint64(1073741824));
    QTest::newRow("negative frame size") << "FramingMaxBytes" << "-5" << with(&BridgeConfig::FramingMaxBytes, 1);
    QTest::newRow("32-bit field far too big")
        << "FramingMaxHoldMs" << "9999999999999" << with(&BridgeConfig::FramingMaxHoldMs, 60000);
    QTest::newRow("window of nothing") << "FloodWindowMs" << "0" << with(&BridgeConfig::FloodWindowMs, 100);
    QTest::newRow("low above high") << "LowWatermark" << "999999" << with(&BridgeConfig::LowWatermark, qint64(196607));
}

void tst_BridgeManager::storedValues()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(BridgeConfig, expected);
    auto settings = store();
    settings->clear();
    settings->setValue(QStringLiteral("Bridge/Count"), 1);
    settings->setValue(QStringLiteral("Bridge/0/") + key, stored);
    const QList<BridgeConfig> read = readBridgeConfigs(*settings);
    QCOMPARE(read.size(), 1);
    QCOMPARE(read.first().normalised(), expected.normalised());
}

void tst_BridgeManager::invalidRecordsAreSkipped()
{
    BridgeManager manager;
    manager.setPanes(m_panes);
    QSignalSpy messages(&manager, &BridgeManager::message);
    manager.setConfigurations({bridge(QStringLiteral("ok"), 0, 1), bridge(QStringLiteral("loop"), 2, 2),
                               bridge(QString(), -3, 1), bridge(QStringLiteral("again"), 0, 1),
                               bridge(QStringLiteral("far"), 0, 40), bridge(QStringLiteral("back"), 1, 0)});
    QCOMPARE(manager.configurations().size(), 2);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().first().toString(),
             QStringLiteral("Skipped invalid bridge(s): loop (A bridge needs two different ports); (unnamed) (Both "
                            "ends must name a port); again (That direction is already bridged); far (Port number is "
                            "out of range)"));
}

QTEST_GUILESS_MAIN(tst_BridgeManager)
#include "tst_bridgemanager.moc"
