#include "app/mainwindow.h"
#include "bridge/bridgemanager.h"
#include "bridge/dialogs/bridgedialog.h"
#include "bridge/dialogs/bridgeeditdialog.h"
#include "bridge/dialogs/bridgesparkline.h"
#include "connection/connectionmode.h"
#include "logging/logwriter.h"
#include "terminal/serialportwidget.h"
#include "tests/session/faketransport.h"
#include "tests/support/settingsfolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

Q_DECLARE_METATYPE(BridgeConfig)
Q_DECLARE_METATYPE(BridgeStats)

namespace {

BridgeConfig bridge(const QString &name, int a, int b, int direction = BridgeConfig::AToB)
{
    return BridgeConfig{.Name = name, .PortA = a, .PortB = b, .Direction = direction, .AutoOpenPeer = false};
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every stored field, none at its default and each within what the edit dialog shows
// (the numbers beyond 32 bits are in fields it does not show), as one record.
const QList<std::pair<const char *, QVariant>> &everyField()
{
    static const QList<std::pair<const char *, QVariant>> stored{
        {"Name", QStringLiteral("every field")}, {"PortA", 2}, {"PortB", 0}, {"Direction", 1}, {"Enabled", false},
        {"AutoOpenPeer", false}, {"ShowForwardedInDisplay", false}, {"DisplayMuteBytesPerSec", qint64(5000000000)},
        {"FramingMode", 2}, {"FramingIdleGapMs", 7}, {"FramingDelimiterHex", QStringLiteral("0d0aff")},
        {"FramingFixedLength", 9}, {"FramingMaxBytes", 99}, {"FramingMaxHoldMs", 11},
        {"QueueLimitBytes", qint64(65536)}, {"HighWatermark", qint64(3000000000)}, {"LowWatermark", 13},
        {"SinkPendingLimitBytes", 17}, {"OverflowPolicy", 3},
        {"FloodGuardEnabled", false}, {"FloodRateBytesPerSec", 19}, {"FloodWindowMs", 23}, {"FanoutMode", 2},
        {"UdpTargetMode", 2}, {"ArbiterResponseTimeoutMs", 29}, {"ArbiterMaxQueuedRequests", 31}, {"Protocol", 3},
        {"ModbusTransactionTimeoutMs", 37},
        {"AllowedPeers", QStringList{QStringLiteral("10.0.0.0/8"), QStringLiteral("a,b")}}, {"LogEnabled", true},
        {"LogFilePath", QStringLiteral("/tmp/cap ture.txt")}, {"LogHex", false}, {"LogRotateBytes", 3 << 20}};
    return stored;
}

void storeEveryField(QSettings &settings)
{
    settings.setValue(QStringLiteral("Bridge/Count"), 1);
    for (const auto &[key, value] : everyField())
        settings.setValue(QStringLiteral("Bridge/0/") + QLatin1String(key), value);
}

} // namespace

// Endpoints, links and the manager over sessions on fake transports, the RFC 2217
// server end among them; the capture file; the stored form of bridges and its round
// trip through the edit dialog; bridges in the main window's documents and preferences;
// which dialog fields each choice shows, the statistics text and the sparkline's pixels.
class tst_Bridges : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        useSettingsFolder(m_dir.filePath(QStringLiteral("config")));
    }

    void init()
    {
        m_sessions.clear();
        m_panes.clear();
        for (int i = 0; i < 3; ++i) {
            m_sessions.push_back(std::make_unique<PortSession>(FormatSetting{.PortName = QStringLiteral("p%1").arg(i)}, i));
            useFakeTransport(*m_sessions.back());
            m_panes << m_sessions.back().get();
            QVERIFY(m_panes.back()->open());
        }
        QSettings().clear();
    }

    void endpoint()
    {
        PortEndpoint sink(m_panes.at(1));
        sink.setTelnetEscape(true);
        sink.setWriteLimit(5);
        // Three 0xFF take six bytes on the wire; only two fit whole.
        QCOMPARE(sink.write(QByteArray(3, '\xff'), QString()), qint64(2));
        QCOMPARE(wire(1)->written(), QByteArray(4, '\xff'));

        // Through a pipe, what was not taken goes next time, escaped exactly once.
        BridgePipe pipe;
        pipe.configure(BridgeConfig().normalised());
        const QByteArray input = QByteArray("a\xff\xff" "b\xff", 5);
        pipe.ingest(input, QString(), 0);
        while (auto w = pipe.nextWrite({true, 0}))
            pipe.written(sink.write(w->bytes, w->peer));
        QCOMPARE(wire(1)->written(), QByteArray(4, '\xff') + QByteArray("a\xff\xff\xff\xff" "b\xff\xff", 8));
        QCOMPARE(pipe.counters().bytesForwarded, qint64(input.size()));

        // An endpoint outlives its session harmlessly; holds nest.
        PortEndpoint end(m_panes.at(0));
        for (const bool hold : {true, true, false})
            end.setReadPaused(hold);
        m_sessions.erase(m_sessions.begin());
        QVERIFY(end.holds() == 1 && end.write("x", QString()) == 0 && end.pendingBytes() == 0 && !end.isOpen());
        QVERIFY(!end.canThrottle() && end.label() == QStringLiteral("1: "));
    }

    // The display mutes above its rate and says so once; the state text follows the mute
    // and the ends; a stopped link lets go of its panes.
    void statesAndDisplayMute()
    {
        PortEndpoint a(m_panes.at(0)), b(m_panes.at(1));
        BridgeLink link(BridgeConfig(), &a, &b);
        link.start();
        QSignalSpy messages(&link, &BridgeLink::message);
        // KiB forwarded in each second, and whether the display is muted after it.
        for (const auto &[kib, muted] : {std::pair{600, true}, {600, true}, {200, true}, {100, false}}) {
            for (int k = 0; k < kib; ++k)
                wire(0)->feed(QByteArray(1024, 'm'));
            link.onSampleTick();
            QVERIFY(link.isDisplayMuted() == muted && b.showInView() == !muted);
            QCOMPARE(link.stateText(), muted ? QStringLiteral("Running (display paused)") : QStringLiteral("Running"));
        }
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.first().first().toString(),
                 QStringLiteral("(unnamed): high throughput, forwarded traffic is no longer shown (logging continues)"));
        QCOMPARE(link.samples().at(2).aToB, qint64(200 * 1024));
        QCOMPARE(wire(1)->written().size(), 1500 * 1024);

        m_panes.at(1)->close();
        QCOMPARE(link.stateText(), QStringLiteral("Degraded: 2: p1 is closed"));
        m_panes.at(0)->close();
        QCOMPARE(link.stateText(), QStringLiteral("Waiting for both ends to open"));
        link.stop();
        QCOMPARE(m_panes.at(0)->lease()->bridgeHolds() + m_panes.at(1)->lease()->bridgeHolds(), 0);
        BridgeLink off(BridgeConfig{.Enabled = false}, &a, &b);
        off.start();
        QVERIFY(!off.isRunning() && off.stateText() == QStringLiteral("Disabled"));
    }

    void capture()
    {
        const QDateTime at(QDate(2024, 5, 6), QTime(12, 34, 56, 789));
        QCOMPARE(BridgeCapture::line(at, BridgeCapture::BToA, QStringLiteral("10.0.0.2:5020"),
                                     QByteArray("a\r\n\t\x01\x7f\xe9 z", 9), false),
                 QStringLiteral("12:34:56.789  B->A  10.0.0.2:5020  a\\r\\n\\t\\x01\\x7F\u00e9 z\n"));
        const QString path = m_dir.filePath(QStringLiteral("logs/cap.txt"));
        const QDateTime start(QDate(2024, 5, 6), QTime(8, 0));
        const QString header = QStringLiteral("# Quillon %1 bridge capture\n# Link:    \n# End A:   1: p0\n"
                                              "# End B:   2: p1\n# Started: 2024-05-06 08:00:00\n"
                                              "# Columns: time  direction  peer  data\n")
                                   .arg(LogWriter::versionText());
        // Rotation is due once the file holds the header and two lines.
        BridgeCapture capture;
        capture.configure({path, true, header.toUtf8().size() + 40, QString(), QStringLiteral("1: p0"),
                           QStringLiteral("2: p1")});
        capture.add(start, BridgeCapture::BToA, QString(), QByteArray("\x00\xff" "o", 3));
        QVERIFY(capture.write(start, nullptr));
        QCOMPARE(contents(path), header.toUtf8() + "08:00:00.000  B->A  -  00 FF 6F\n");
        capture.add(start, BridgeCapture::AToB, QString(), "two");
        QVERIFY(capture.write(start, nullptr)); // still below the rotation size
        const QByteArray full = contents(path);
        capture.add(start.addSecs(1), BridgeCapture::AToB, QString(), "three");
        QVERIFY(capture.write(start.addSecs(1), nullptr));
        QCOMPARE(contents(path + QStringLiteral(".1")), full);
        QCOMPARE(contents(path), QString(header).replace(QStringLiteral(":00\n"), QStringLiteral(":01\n")).toUtf8()
                                     + "08:00:01.000  A->B  -  74 68 72 65 65\n");

        // A folder that cannot be made turns the capture off with the reason.
        capture.configure({m_dir.filePath(QStringLiteral("logs/cap.txt/sub/x.txt")), true, 120, {}, {}, {}});
        capture.add(start, BridgeCapture::AToB, QString(), "lost");
        QString error;
        QVERIFY(!capture.write(start, &error));
        QCOMPARE(error, QStringLiteral("Cannot create the log folder %1")
                            .arg(QDir::toNativeSeparators(m_dir.filePath(QStringLiteral("logs/cap.txt/sub")))));
        QVERIFY(!capture.isOn() && !capture.hasPending());
    }

    void validation_data()
    {
        QTest::addColumn<BridgeConfig>("config");
        QTest::addColumn<int>("transferring");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<bool>("loadKeeps"); // a record whose pane is missing waits for it
        QTest::addColumn<QString>("warning");

        const QString none, range = QStringLiteral("Port number is out of range");
        const QString interleave = QStringLiteral("Port 2: p1 is written to by more than one bridge; "
                                                  "their data will interleave on its wire.");
        QTest::newRow("reverse of a bridged pair") << bridge(none, 1, 0) << -1 << none << true << none;
        QTest::newRow("same direction again") << bridge(none, 1, 0, 2) << -1 << QStringLiteral("That direction is already bridged") << false
                                              << interleave;
        QTest::newRow("one port") << bridge(none, 2, 2) << -1 << QStringLiteral("A bridge needs two different ports") << false << none;
        QTest::newRow("no port") << bridge(none, -1, 2) << -1 << QStringLiteral("Both ends must name a port") << false << none;
        QTest::newRow("no such pane") << bridge(none, 0, 3) << -1 << range << true << none;
        QTest::newRow("beyond every pane") << bridge(none, 0, 40) << -1 << range << false << none;
        QTest::newRow("transferring") << bridge(none, 2, 0) << 2 << QStringLiteral("Port 3 is transferring a file") << false
                                      << none;
        QTest::newRow("second writer") << bridge(none, 2, 1) << -1 << none << true << interleave;
    }

    // Adding refuses an invalid record with its reason; loading leaves it out and names it.
    void validation()
    {
        QFETCH(BridgeConfig, config);
        QFETCH(int, transferring);
        QFETCH(QString, problem);
        QFETCH(bool, loadKeeps);
        QFETCH(QString, warning);
        BridgeManager manager;
        manager.setPanes(m_panes);
        const BridgeConfig first = bridge(QStringLiteral("first"), 0, 1);
        QVERIFY(manager.add(first));
        if (transferring >= 0)
            QVERIFY(m_panes.at(transferring)->lease()->acquire(PortRequester::Transfer));
        QCOMPARE(manager.overlapWarning(config), warning);
        QString why;
        QCOMPARE(manager.add(config, &why), problem.isEmpty());
        QCOMPARE(why, problem);

        QSignalSpy messages(&manager, &BridgeManager::message);
        manager.setConfigurations({first, config});
        QCOMPARE(manager.configurations().size(), loadKeeps ? 2 : 1);
        QCOMPARE(messages.size(), loadKeeps ? 0 : 1);
        if (!loadKeeps)
            QCOMPARE(messages.first().first().toString(),
                     QStringLiteral("Skipped invalid bridge(s): (unnamed) (%1)").arg(problem));
    }

    void badgesAndPruning()
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
        wire(2)->feed("in flight");
        QCOMPARE(wire(1)->written(), QByteArray("in flight"));
        m_sessions.pop_back();
        m_panes.removeLast();
        wire(1)->feed("towards the gone pane");
        QCOMPARE(manager.stateText(1), QStringLiteral("Waiting for both ends to open"));
        manager.setPanes(m_panes);
        QCOMPARE(messages.last().first().toString(),
                 QStringLiteral("Removed bridge(s) whose port no longer exists: (unnamed)"));
        QCOMPARE(manager.configurations().size(), 1);
        QCOMPARE(manager.badgeText(1), QStringLiteral("Bridged to 1: p0"));
        QCOMPARE(m_panes.at(1)->lease()->bridgeHolds(), 1);
        manager.remove(0);
        QCOMPARE(manager.badgeText(1), QString());
        QCOMPARE(m_panes.at(1)->lease()->bridgeHolds(), 0);
    }

    void comPortServer_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("line"); // baud data parity stop flow, serial-module values

        using C = Rfc2217Codec;
        // Suboptions with a one-byte value, or a payload for the rest, as a client and the server send them.
        const auto ask = [](quint8 code, QByteArray payload) { return C(C::Client).buildSuboption(code, payload); };
        const auto answer = [](quint8 code, QByteArray payload) { return C(C::Server).buildSuboption(code, payload); };
        const auto b = [](int v) { return QByteArray(1, char(v)); };
        const auto row = [](const char *name, const QByteArray &request, const QByteArray &reply, const char *line = "9600 8 0 1 2") {
            QTest::newRow(name) << request << reply << QString::fromLatin1(line); // the pane starts at 9600 8N1, XON/XOFF
        };
        const auto askBaud = [&](quint32 rate) { return ask(C::SetBaudRate, C::baudRatePayload(rate)); };
        const auto answerBaud = [&](quint32 rate) { return answer(C::SetBaudRate, C::baudRatePayload(rate)); };
        row("parity odd stays odd", ask(C::SetParity, b(2)), answer(C::SetParity, b(2)), "9600 8 3 1 2");
        row("parity even stays even", ask(C::SetParity, b(3)), answer(C::SetParity, b(3)), "9600 8 2 1 2");
        row("parity mark stays mark", ask(C::SetParity, b(4)), answer(C::SetParity, b(4)), "9600 8 5 1 2");
        row("flow none is applied", ask(C::SetControl, b(1)), answer(C::SetControl, b(1)), "9600 8 0 1 0");
        row("one batch", askBaud(57600) + ask(C::SetDataSize, b(7)) + ask(C::SetStopSize, b(3)),
            answerBaud(57600) + answer(C::SetDataSize, b(7)) + answer(C::SetStopSize, b(3)), "57600 7 0 3 2");
        row("baud 2^32-1 gets the rate in effect", askBaud(0xFFFFFFFFu), answerBaud(9600));
        row("baud 0 asks", askBaud(0), answerBaud(9600));
        row("data size 9 gets the size in effect", ask(C::SetDataSize, b(9)), answer(C::SetDataSize, b(8)));
        row("flow asked", ask(C::SetControl, b(0)), answer(C::SetControl, b(2)));
        row("RTS is the flow control's under RTS/CTS", ask(C::SetControl, b(3)) + ask(C::SetControl, b(12)),
            answer(C::SetControl, b(3)) + answer(C::SetControl, b(11)), "9600 8 0 1 1");
        row("DTR the port cannot drive stays", ask(C::SetControl, b(9)), answer(C::SetControl, b(8)));
        row("purge", ask(C::PurgeData, b(3)), answer(C::PurgeData, b(3)));
        row("codes the codec ignores", ask(13, b(1)) + ask(C::SetControl, b(99)) + ask(C::FlowControlSuspend, QByteArray()),
            QByteArray());
    }

    // The RFC 2217 server end of a link between a TCP server and a serial pane: what a
    // client asks is applied through the pane and answered with the value in effect afterwards.
    void comPortServer()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, line);

        PortSession network(FormatSetting{.ConnMode = TcpServer}, 0), device(FormatSetting{.FlowControl = 2}, 1);
        FakeTransport *wire = useFakeTransport(network), *serialWire = useFakeTransport(device);
        QVERIFY(network.open() && device.open());
        PortEndpoint a(&network), b(&device);
        BridgeLink link(BridgeConfig{.Protocol = BridgeConfig::Rfc2217Server}, &a, &b);
        link.start();

        // Data around the commands still crosses, once, with 0xFF unescaped.
        wire->feed(QByteArray("x\xff\xff", 3) + request + "y", QStringLiteral("c:1"));
        QByteArray replies;
        for (const FakeTransport::Write &w : std::as_const(wire->writes)) {
            QCOMPARE(w.peer, QStringLiteral("c:1"));
            replies += w.bytes;
        }
        QCOMPARE(replies, reply);
        const FormatSetting &s = device.settings();
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5").arg(s.BaudRate).arg(s.DataBits).arg(s.Parity).arg(s.StopBits).arg(s.FlowControl),
                 line);
        QTRY_COMPARE(serialWire->written(), QByteArray("x\xffy", 3));
    }

    // Every stored field survives a write and a read, and the edit dialog gives back the
    // fields it shows and keeps the rest.
    // The Bridges window: a row per bridge with its ends and status; the On box switches
    // a bridge; New… adds what its edit dialog holds and selects it; Delete removes the
    // selected one. With a single pane, New… explains what is missing instead.
    void bridgesWindow()
    {
        BridgeManager manager;
        manager.setPanes(m_panes);
        QVERIFY(manager.add(bridge(QStringLiteral("north"), 0, 1)));
        const QStringList labels{QStringLiteral("1: p0"), QStringLiteral("2: p1"), QStringLiteral("3: p2")};
        BridgeDialog window(&manager, labels);
        auto *list = window.findChild<QTreeWidget *>(QStringLiteral("bridgeList"));
        auto row = [list](int i) {
            QStringList cells;
            for (int column = 1; column < list->columnCount(); ++column)
                cells << list->topLevelItem(i)->text(column);
            return cells.join(QLatin1Char('|'));
        };
        QCOMPARE(row(0), QStringLiteral("north|1: p0|→|2: p1|Running"));
        // Each change reaches the manager once; refilling the list is no change.
        QSignalSpy changes(&manager, &BridgeManager::linksChanged);
        list->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
        QCOMPARE(changes.size(), 1);
        QVERIFY(!manager.configurations().at(0).Enabled);
        QCOMPARE(row(0), QStringLiteral("north|1: p0|→|2: p1|Off"));

        QTimer::singleShot(0, this, [] {
            auto *edit = qobject_cast<BridgeEditDialog *>(QApplication::activeModalWidget());
            QVERIFY(edit);
            edit->findChild<QComboBox *>(QStringLiteral("endABox"))->setCurrentIndex(2);
            edit->findChild<QComboBox *>(QStringLiteral("endBBox"))->setCurrentIndex(0);
            edit->accept();
        });
        window.findChild<QPushButton *>(QStringLiteral("newButton"))->click();
        QCOMPARE(manager.configurations().size(), 2);
        QCOMPARE(window.selectedIndex(), 1);
        QCOMPARE(row(1), QStringLiteral("Bridge 2|3: p2|⇄|1: p0|Running"));
        changes.clear();
        window.findChild<QPushButton *>(QStringLiteral("deleteButton"))->click();
        QCOMPARE(changes.size(), 1);
        QCOMPARE(manager.configurations().size(), 1);
        QCOMPARE(list->topLevelItemCount(), 1);

        BridgeDialog alone(&manager, {labels.first()});
        QString said;
        QTimer::singleShot(0, this, [&said] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            said = box->text();
            box->accept();
        });
        alone.findChild<QPushButton *>(QStringLiteral("newButton"))->click();
        QCOMPARE(said, QStringLiteral("A bridge joins two ports; add a second port first (Connection > Add Port)."));
        QCOMPARE(manager.configurations().size(), 1);
    }

    void storedRoundTrip()
    {
        QSettings source(m_dir.filePath(QStringLiteral("source.ini")), QSettings::IniFormat);
        storeEveryField(source);
        QSettings copy(m_dir.filePath(QStringLiteral("copy.ini")), QSettings::IniFormat);
        writeBridgeConfigs(copy, {BridgeConfig(), BridgeConfig(), BridgeConfig()});
        const QList<BridgeConfig> read = readBridgeConfigs(source);
        writeBridgeConfigs(copy, read);
        QCOMPARE(copy.allKeys().size(), everyField().size() + 1);
        for (const auto &[key, value] : everyField())
            QCOMPARE(copy.value(QStringLiteral("Bridge/0/") + QLatin1String(key)).toString(), value.toString());
        QCOMPARE(readBridgeConfigs(copy), read);

        const QStringList panes{QStringLiteral("1: a"), QStringLiteral("2: b"), QStringLiteral("3: c")};
        QCOMPARE(BridgeEditDialog(read.value(0), panes).config(), read.value(0));
        // A new buffer limit brings its watermarks along.
        BridgeEditDialog d(read.value(0), panes);
        d.findChild<QSpinBox *>(QStringLiteral("bufferLimitSpin"))->setValue(128);
        const BridgeConfig edited = d.config();
        QCOMPARE(edited.QueueLimitBytes, qint64(131072));
        QVERIFY(edited.LowWatermark < edited.HighWatermark && edited.HighWatermark < edited.QueueLimitBytes);

        source.setValue(QStringLiteral("Bridge/Count"), 1000);
        QCOMPARE(readBridgeConfigs(source).size(), 256);
    }

    void storedValues_data()
    {
        QTest::addColumn<QByteArray>("stored"); // Key=value;Key=value
        QTest::addColumn<BridgeConfig>("expected"); // as the link runs with it

        using C = BridgeConfig;
        using B = QByteArray;
        QTest::newRow("enumerations out of range")
            << B("Direction=7;FramingMode=4;Protocol=-1;OverflowPolicy=9;FanoutMode=3;UdpTargetMode=5") << C();
        QTest::newRow("delimiter not hex") << B("FramingDelimiterHex=0x0A") << C();
        QTest::newRow("delimiter, blank") << B("FramingDelimiterHex=0d 0A") << C{.FramingDelimiterHex = B("\r\n")};
        QTest::newRow("no number") << B("QueueLimitBytes=99999999999999999999") << C();
        QTest::newRow("queue > 1 GiB") << B("QueueLimitBytes=4000000000000") << C{.QueueLimitBytes = qint64(1) << 30};
        QTest::newRow("beyond 32 bits") << B("FramingMaxHoldMs=9999999999999") << C{.FramingMaxHoldMs = 60000};
        QTest::newRow("low above high") << B("LowWatermark=999999") << C{.LowWatermark = 196607};
    }

    void storedValues()
    {
        QFETCH(QByteArray, stored);
        QFETCH(BridgeConfig, expected);
        QSettings settings(m_dir.filePath(QStringLiteral("values.ini")), QSettings::IniFormat);
        settings.clear();
        settings.setValue(QStringLiteral("Bridge/Count"), 1);
        for (const QByteArray &pair : stored.split(';')) {
            const QList<QByteArray> kv = pair.split('=');
            settings.setValue(QStringLiteral("Bridge/0/") + QLatin1String(kv.first()), QString::fromLatin1(kv.last()));
        }
        const QList<BridgeConfig> read = readBridgeConfigs(settings);
        QVERIFY(read.size() == 1 && read.first().normalised() == expected.normalised());
    }

    // A document with bridges saved, the window closed; the next start has one pane, so
    // the bridges wait for theirs; the document opens and saves identical.
    void documentsAndRestart()
    {
        const BridgeConfig gateway{.Name = QStringLiteral("gateway"), .AutoOpenPeer = false, .FramingDelimiterHex = "\r\n",
                                   .AllowedPeers = {QStringLiteral("192.168.0.0/16")}};
        // The last waits for a sixth pane.
        const QList<BridgeConfig> bridges{gateway, bridge(QString(), 2, 1), bridge(QString(), 2, 5, BridgeConfig::BToA)};
        const QString saved = m_dir.filePath(QStringLiteral("first.qln"));
        {
            MainWindow first;
            first.show();
            first.pane(0)->applySettings(FormatSetting{.PortName = QStringLiteral("ttyS0")});
            first.addPane(FormatSetting{.PortName = QStringLiteral("ttyS1")});
            first.addPane(FormatSetting{.PortName = QStringLiteral("ttyS2")});
            first.bridges()->setConfigurations(bridges);
            QCOMPARE(first.pane(1)->bridgeBadge()->text(), QStringLiteral("Bridged to 1: ttyS0, 3: ttyS2"));
            QVERIFY(first.pane(1)->bridgeBadge()->isVisibleTo(first.pane(1)));
            QVERIFY(first.writeFile(saved, false));
            first.close();
        }
        MainWindow second;
        QCOMPARE(second.bridges()->configurations(), bridges);
        QCOMPARE(second.bridges()->stateText(0), QStringLiteral("Waiting for port 2"));
        QVERIFY(second.pane(0)->bridgeBadge()->text().isEmpty());
        second.addPane(FormatSetting{.PortName = QStringLiteral("ttyS1")});
        QVERIFY(second.bridges()->link(0) && second.bridges()->link(0)->isRunning());
        QCOMPARE(second.pane(0)->bridgeBadge()->text(), QStringLiteral("Bridged to 2: ttyS1"));

        QVERIFY(second.openDocument(saved));
        QCOMPARE(second.bridges()->configurations(), bridges);
        const QString again = m_dir.filePath(QStringLiteral("again.qln"));
        QVERIFY(second.writeFile(again, false));
        QCOMPARE(contents(again), contents(saved));
    }

    void fieldVisibility_data()
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

    void fieldVisibility()
    {
        QFETCH(int, protocol);
        QFETCH(int, framing);
        QFETCH(int, fanout);
        QFETCH(bool, capture);
        BridgeEditDialog d(BridgeConfig(), {QStringLiteral("1: a"), QStringLiteral("2: b")});
        const auto choose = [&d](const char *box, int data) {
            auto *combo = d.findChild<QComboBox *>(QLatin1String(box));
            combo->setCurrentIndex(combo->findData(data));
        };
        choose("protocolBox", protocol);
        choose("framingBox", framing);
        choose("fanoutBox", fanout);
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

    void statistics_data()
    {
        QTest::addColumn<BridgeStats>("stats");
        QTest::addColumn<QStringList>("parts"); // in the text; with a leading '!', not in it

        const BridgeStats quiet{.state = QStringLiteral("Running"), .forwarded = {1023, 1024}, .lastSecond = {1048575, 1048576},
                                .queued = {0, 1536}};
        QTest::newRow("unit boundaries, nothing dropped")
            << quiet
            << QStringList{QStringLiteral("<b>Running</b>"), QStringLiteral("A→B&nbsp; 1023 B &nbsp; 1024.0 KB/s &nbsp; queue 0 B"),
                           QStringLiteral("B→A&nbsp; 1.0 KB &nbsp; 1.0 MB/s &nbsp; queue 1.5 KB"),
                           QStringLiteral("color:palette(text)'>dropped 0 B"), QStringLiteral("!#c0392b"),
                           QStringLiteral("!Taking turns"), QStringLiteral("!ⓘ")};
        const BridgeStats troubled{.state = quiet.state, .forwarded = quiet.forwarded, .lastSecond = quiet.lastSecond,
                                   .queued = quiet.queued, .dropped = {0, 5 * 1048576},
                                   .captureError = QStringLiteral("Cannot open /x: denied"), .takingTurns = true, .waiting = 2,
                                   .unanswered = 3, .droppedRequests = 4, .cannotSlowDown = true};
        QTest::newRow("drops, capture error, turns, cannot slow down")
            << troubled
            << QStringList{QStringLiteral("color:#c0392b'>dropped 0 B"), QStringLiteral("color:#c0392b'>dropped 5.0 MB"),
                           QStringLiteral("Capture stopped: Cannot open /x: denied"),
                           QStringLiteral("Taking turns: 2 waiting, 3 unanswered, 4 dropped"),
                           QStringLiteral("ⓘ One end cannot be slowed down"), QStringLiteral("!nothing to arbitrate")};
        BridgeStats alone = quiet;
        alone.nothingToArbitrate = true;
        QTest::newRow("turns with nobody to arbitrate")
            << alone
            << QStringList{QStringLiteral("ⓘ Taking turns is configured, but neither end accepts several clients"),
                           QStringLiteral("!Taking turns:")};
    }

    void statistics()
    {
        QFETCH(BridgeStats, stats);
        QFETCH(QStringList, parts);
        const QString text = BridgeDialog::statisticsText(stats);
        for (const QString &part : std::as_const(parts)) {
            const bool absent = part.startsWith(u'!');
            QVERIFY2(text.contains(part.mid(absent ? 1 : 0)) != absent, qPrintable(part + QStringLiteral(" in ") + text));
        }
    }

    // An offscreen grab: the empty line says so; one second with drops gets one red band.
    void sparkline()
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
        QList<int> redColumns; // above the tallest bar
        for (int x = 0; x < img.width(); ++x)
            if (reddish(img.pixelColor(x, 0)))
                redColumns << x;
        const int right = img.width(), w = BridgeSparkline::ColumnWidth;
        QCOMPARE(redColumns.size(), w);
        QCOMPARE(redColumns.first(), right - (10 - 6) * w);
        // A to B above the middle in blue, B to A below in green.
        const QColor up = img.pixelColor(right - 1, img.height() / 2 - 5), down = img.pixelColor(right - 1, img.height() / 2 + 5);
        QVERIFY(up.blue() > up.red() && down.green() > down.red());
    }

private:
    FakeTransport *wire(int pane) const { return static_cast<FakeTransport *>(m_panes.at(pane)->transport()); }
    std::vector<std::unique_ptr<PortSession>> m_sessions;
    QList<PortSession *> m_panes;
    QTemporaryDir m_dir;
};

QTEST_MAIN(tst_Bridges)
#include "tst_bridges.moc"
