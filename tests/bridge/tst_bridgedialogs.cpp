#include "bridge/bridgemanager.h"
#include "bridge/dialogs/bridgedialog.h"
#include "bridge/dialogs/bridgeeditdialog.h"
#include "bridge/dialogs/bridgesparkline.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTest>

Q_DECLARE_METATYPE(BridgeStats)

namespace {

void choose(BridgeEditDialog &d, const char *box, int data)
{
    auto *combo = d.findChild<QComboBox *>(QLatin1String(box));
    combo->setCurrentIndex(combo->findData(data));
}

} // namespace

// The bridge dialogs: which fields each choice shows, the record round trip, the
// statistics text and the sparkline's pixels.
class tst_BridgeDialogs : public QObject
{
    Q_OBJECT
private slots:
    void fieldVisibility_data();
    void fieldVisibility();
    void roundTrip();
    void statistics_data();
    void statistics();
    void sparkline();
};

void tst_BridgeDialogs::fieldVisibility_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("framing");
    QTest::addColumn<int>("fanout");
    QTest::addColumn<bool>("capture");
    for (int protocol : {0, 1, 2, 3})
        for (int framing : {0, 1, 2, 3})
            for (int fanout : {0, 1, 2})
                for (bool capture : {false, true})
                    QTest::addRow("protocol %d framing %d fanout %d capture %d", protocol, framing, fanout, int(capture))
                        << protocol << framing << fanout << capture;
}

void tst_BridgeDialogs::fieldVisibility()
{
    QFETCH(int, protocol);
    QFETCH(int, framing);
    QFETCH(int, fanout);
    QFETCH(bool, capture);
    BridgeEditDialog d(BridgeConfig(), {QStringLiteral("1: a"), QStringLiteral("2: b")});
    choose(d, "protocolBox", protocol);
    choose(d, "framingBox", framing);
    choose(d, "fanoutBox", fanout);
    d.findChild<QCheckBox *>(QStringLiteral("captureCheck"))->setChecked(capture);

    QCOMPARE(d.isFieldShown(QStringLiteral("idleGapSpin")), framing == 1);
    QCOMPARE(d.isFieldShown(QStringLiteral("delimiterEdit")), framing == 2);
    QCOMPARE(d.isFieldShown(QStringLiteral("fixedLengthSpin")), framing == 3);
    QVERIFY(d.isFieldShown(QStringLiteral("maxFrameSpin")) && d.isFieldShown(QStringLiteral("maxHoldSpin")));
    QCOMPARE(d.isFieldShown(QStringLiteral("answerTimeoutSpin")), fanout == 2);
    QCOMPARE(d.isFieldShown(QStringLiteral("turnTakingHint")), fanout == 2 && framing == 0);
    QCOMPARE(d.isFieldShown(QStringLiteral("transactionTimeoutSpin")), protocol == 2);
    // Which hint, by its first words.
    const QString hints[] = {QString(), QStringLiteral("The network end speaks Telnet."),
                             framing == 0 ? QStringLiteral("Modbus RTU has no length field") : QString(),
                             QStringLiteral("The network end must be a TCP client")};
    const auto *hint = d.findChild<QLabel *>(QStringLiteral("protocolHint"));
    QCOMPARE(d.isFieldShown(QStringLiteral("protocolHint")), !hints[protocol].isEmpty());
    if (!hints[protocol].isEmpty())
        QVERIFY2(hint->text().startsWith(hints[protocol]), qPrintable(hint->text()));
    for (const char *field : {"captureFileEdit", "browseButton", "captureFormatBox", "rotateSpin"})
        QCOMPARE(d.findChild<QWidget *>(QLatin1String(field))->isEnabled(), capture);
}

// Every field the dialog shows comes back as given; the ones it does not show are kept.
void tst_BridgeDialogs::roundTrip()
{
    BridgeConfig c;
    c.Name = QStringLiteral("Meter gateway");
    c.PortA = 2;
    c.PortB = 0;
    c.Direction = BridgeConfig::BToA;
    c.Enabled = false;
    c.AutoOpenPeer = false;
    c.ShowForwardedInDisplay = false;
    c.AllowedPeers = {QStringLiteral("192.168.1.10"), QStringLiteral("10.0.0.0/8")};
    c.Protocol = BridgeConfig::ModbusGateway;
    c.ModbusTransactionTimeoutMs = 1500;
    c.FramingMode = BridgeConfig::CutOnDelimiter;
    c.FramingIdleGapMs = 9;
    c.FramingDelimiterHex = QByteArray("\r\n");
    c.FramingFixedLength = 12;
    c.FramingMaxBytes = 300;
    c.FramingMaxHoldMs = 700;
    c.QueueLimitBytes = 64 * 1024;
    c.HighWatermark = 40000;   // not shown: kept while the limit is untouched
    c.LowWatermark = 1000;
    c.SinkPendingLimitBytes = 777;
    c.OverflowPolicy = BridgeConfig::StopBridge;
    c.FanoutMode = BridgeConfig::TakeTurns;
    c.ArbiterResponseTimeoutMs = 250;
    c.UdpTargetMode = BridgeConfig::AllPeers;
    c.FloodGuardEnabled = false;
    c.LogEnabled = true;
    c.LogFilePath = QStringLiteral("/tmp/capture.log");
    c.LogHex = false;
    c.LogRotateBytes = 3 * 1048576;
    const QStringList panes{QStringLiteral("1: a"), QStringLiteral("2: b"), QStringLiteral("3: c")};
    QCOMPARE(BridgeEditDialog(c, panes).config(), c);

    // A new buffer limit brings its watermarks along.
    BridgeEditDialog d(c, panes);
    d.findChild<QSpinBox *>(QStringLiteral("bufferLimitSpin"))->setValue(128);
    const BridgeConfig edited = d.config();
    QCOMPARE(edited.QueueLimitBytes, qint64(131072));
    QVERIFY(edited.LowWatermark < edited.HighWatermark && edited.HighWatermark < edited.QueueLimitBytes);
}

void tst_BridgeDialogs::statistics_data()
{
    QTest::addColumn<BridgeStats>("stats");
    QTest::addColumn<QStringList>("contains");
    QTest::addColumn<QStringList>("lacks");

    BridgeStats quiet;
    quiet.state = QStringLiteral("Running");
    quiet.forwarded = {1023, 1024};
    quiet.lastSecond = {1048575, 1048576};
    quiet.queued = {0, 1536};
    QTest::newRow("unit boundaries, nothing dropped")
        << quiet
        << QStringList{QStringLiteral("<b>Running</b>"), QStringLiteral("A→B&nbsp; 1023 B &nbsp; 1024.0 KB/s &nbsp; queue 0 B"),
                       QStringLiteral("B→A&nbsp; 1.0 KB &nbsp; 1.0 MB/s &nbsp; queue 1.5 KB"),
                       QStringLiteral("color:palette(text)'>dropped 0 B")}
        << QStringList{QStringLiteral("#c0392b"), QStringLiteral("Taking turns"), QStringLiteral("ⓘ")};
    BridgeStats troubled = quiet;
    troubled.dropped = {0, 5 * 1048576};
    troubled.captureError = QStringLiteral("Cannot open /x: denied");
    troubled.takingTurns = true;
    troubled.waiting = 2;
    troubled.unanswered = 3;
    troubled.droppedRequests = 4;
    troubled.cannotSlowDown = true;
    QTest::newRow("drops, capture error, turns, cannot slow down")
        << troubled
        << QStringList{QStringLiteral("color:#c0392b'>dropped 0 B"), QStringLiteral("color:#c0392b'>dropped 5.0 MB"),
                       QStringLiteral("Capture stopped: Cannot open /x: denied"),
                       QStringLiteral("Taking turns: 2 waiting, 3 unanswered, 4 dropped"),
                       QStringLiteral("ⓘ One end cannot be slowed down")}
        << QStringList{QStringLiteral("nothing to arbitrate")};
    BridgeStats alone = quiet;
    alone.nothingToArbitrate = true;
    QTest::newRow("turns with nobody to arbitrate")
        << alone << QStringList{QStringLiteral("ⓘ Taking turns is configured, but neither end accepts several clients")}
        << QStringList{QStringLiteral("Taking turns:")};
}

void tst_BridgeDialogs::statistics()
{
    QFETCH(BridgeStats, stats);
    QFETCH(QStringList, contains);
    QFETCH(QStringList, lacks);
    const QString text = BridgeDialog::statisticsText(stats);
    for (const QString &part : std::as_const(contains))
        QVERIFY2(text.contains(part), qPrintable(text));
    for (const QString &part : std::as_const(lacks))
        QVERIFY2(!text.contains(part), qPrintable(text));
}

// An offscreen grab: the empty line says so; one second with drops gets one red band.
void tst_BridgeDialogs::sparkline()
{
    BridgeSparkline line;
    line.resize(line.sizeHint());
    const QImage empty = line.grab().toImage();
    const QColor base = line.palette().color(QPalette::Base);
    int marked = 0;
    for (int x = 0; x < empty.width(); ++x)
        marked += empty.pixelColor(x, empty.height() / 2) != base;
    QVERIFY2(marked > 20 && marked < empty.width() / 2, qPrintable(QString::number(marked))); // text, not a line

    QList<BridgeSample> samples(10, BridgeSample{100, 50, 0});
    samples[6].dropped = 10;
    line.setSamples(samples);
    const QImage img = line.grab().toImage();
    auto reddish = [](QColor c) { return c.red() > c.green() + 30 && c.red() > c.blue() + 30; };
    QList<int> redColumns;
    for (int x = 0; x < img.width(); ++x) {
        if (reddish(img.pixelColor(x, 0))) // above the tallest bar
            redColumns << x;
    }
    const int right = img.width();
    const int w = BridgeSparkline::ColumnWidth;
    QCOMPARE(redColumns.size(), w);
    QCOMPARE(redColumns.first(), right - (10 - 6) * w);
    // A to B above the middle in blue, B to A below in green.
    const QColor up = img.pixelColor(right - 1, img.height() / 2 - 5), down = img.pixelColor(right - 1, img.height() / 2 + 5);
    QVERIFY(up.blue() > up.red() && down.green() > down.red());
}

QTEST_MAIN(tst_BridgeDialogs)
#include "tst_bridgedialogs.moc"
