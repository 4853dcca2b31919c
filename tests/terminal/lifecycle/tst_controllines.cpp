#include "connection/connectioncontroller.h"
#include "ptypair.h"
#include "terminal/hled.h"
#include "terminal/serialportwidget.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

QImage renderLed(HLed &led)
{
    QImage image(led.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    led.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

int paintedPixels(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) != 0;
    return n;
}

QByteArray iac(std::initializer_list<int> bytes)
{
    QByteArray out;
    for (int b : bytes)
        out += char(b);
    return out;
}

} // namespace

// The lamp row: painting, flashing, the line lamps per mode, Break, RTS and DTR
// and every refusal, on socat pty pairs and scripted RFC 2217 servers.
class tst_ControlLines : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void ledPainting_data();
    void ledPainting();
    void flashBlinksUnderTraffic_data();
    void flashBlinksUnderTraffic();
    void rowPerMode_data();
    void rowPerMode();
    void refusals_data();
    void refusals();
    void breakClickAndHold_data();
    void breakClickAndHold();
    void breakHeldKeepsTxLamp();
    void closingReleasesBreak();
    void dtrToggleOnPty();
    void remoteRefusesControl();
    void remoteLampsFollowServer();
    void keepRemoteBoxSwitchesCells();

private:
    SerialPortWidget *makePane(FormatSetting s);
    bool connectRemote(FormatSetting s);
    bool openOnPty();
    template<typename T> T *child(const char *name) { return m_pane->findChild<T *>(QString::fromLatin1(name)); }
    HLed *led(const char *name) { return child<HLed>(name); }

    std::unique_ptr<SerialPortWidget> m_pane;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<QTcpServer> m_server;
    QTcpSocket *m_peer = nullptr;
};

void tst_ControlLines::cleanup()
{
    m_pane.reset();
    m_pty.reset();
    m_dir.reset();
    m_peer = nullptr;
    m_server.reset();
}

SerialPortWidget *tst_ControlLines::makePane(FormatSetting s)
{
    m_pane = std::make_unique<SerialPortWidget>(s, 0);
    m_pane->resize(900, 600);
    m_pane->show();
    return m_pane.get();
}

// A serial pane open on one end of a fresh pty pair.
bool tst_ControlLines::openOnPty()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_pty = std::make_unique<PtyPair>(m_dir->path());
    if (!m_pty->start())
        return false;
    FormatSetting s;
    s.ConnMode = SerialPort;
    s.PortName = m_pty->a();
    makePane(s);
    return m_pane->openPort();
}

// A remote serial pane connected to a server the test scripts by hand.
bool tst_ControlLines::connectRemote(FormatSetting s)
{
    m_server = std::make_unique<QTcpServer>();
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        return false;
    s.ConnMode = RemoteSerial;
    s.LastTargetHost = {QStringLiteral("127.0.0.1")};
    s.LastTargetPort = m_server->serverPort();
    makePane(s);
    if (!m_pane->openPort())
        return false;
    if (!m_server->waitForNewConnection(5000) && !m_server->hasPendingConnections())
        return false;
    m_peer = m_server->nextPendingConnection();
    return QTest::qWaitFor([this] { return m_peer->bytesAvailable() >= 18; }, 5000) && !m_peer->readAll().isEmpty();
}

void tst_ControlLines::ledPainting_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("on");
    QTest::addColumn<bool>("painted");
    QTest::newRow("1 px wide, on") << QSize(1, 20) << true << false;
    QTest::newRow("1 px high, off") << QSize(20, 1) << false << false;
    QTest::newRow("14 px, on") << QSize(14, 14) << true << true;
    QTest::newRow("14 px, off") << QSize(14, 14) << false << true;
    QTest::newRow("2 px, on") << QSize(2, 2) << true << true;
}

void tst_ControlLines::ledPainting()
{
    QFETCH(QSize, size);
    QFETCH(bool, on);
    QFETCH(bool, painted);
    HLed led;
    led.setFixedSize(size);
    led.turnOn(on);
    QCOMPARE(led.isOn(), on);
    QCOMPARE(paintedPixels(renderLed(led)) > 0, painted);
    if (painted && size.width() >= 10) {
        // The lit lamp glows beyond the disc the dark one covers.
        HLed other;
        other.setFixedSize(size);
        other.turnOff(on);
        QVERIFY(renderLed(led) != renderLed(other));
        QCOMPARE(paintedPixels(renderLed(led)) > paintedPixels(renderLed(other)), on);
    }
    led.toggle();
    QCOMPARE(led.isOn(), !on);
    QCOMPARE(led.sizeHint(), QSize(20, 20));
    QCOMPARE(led.minimumSizeHint(), QSize(16, 16));
}

void tst_ControlLines::flashBlinksUnderTraffic_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("lamp");
    QTest::addColumn<QString>("timer");
    QTest::newRow("rx") << int(SerialPortWidget::Received) << "rxActivityLed" << "rxLedTimer";
    QTest::newRow("tx") << int(SerialPortWidget::Sent) << "txActivityLed" << "txLedTimer";
}

// The timers are stepped by hand; the event loop never runs, so no real timeout interferes.
void tst_ControlLines::flashBlinksUnderTraffic()
{
    QFETCH(int, direction);
    QFETCH(QString, lamp);
    QFETCH(QString, timer);
    makePane(FormatSetting());
    auto *l = m_pane->findChild<HLed *>(lamp);
    auto *t = m_pane->findChild<QTimer *>(timer);
    // As a real expiry: a single-shot timer is inactive when it signals.
    auto fire = [t] {
        t->stop();
        QVERIFY(QMetaObject::invokeMethod(t, "timeout"));
    };
    QVERIFY(!l->isOn());
    QVERIFY(!t->isActive());

    m_pane->flashActivity(direction);
    QVERIFY(l->isOn());
    QVERIFY(t->isActive());
    QCOMPARE(t->interval(), 80);
    m_pane->flashActivity(direction); // more traffic while lit
    fire();
    QVERIFY(!l->isOn());
    QVERIFY(t->isActive());
    QCOMPARE(t->interval(), 70);
    fire();
    QVERIFY(l->isOn());
    QCOMPARE(t->interval(), 80);
    fire(); // no traffic during the last flash: dark, and it stays dark
    QVERIFY(!l->isOn());
    QVERIFY(!t->isActive());

    // A single chunk lights the lamp for one 80 ms period only.
    m_pane->flashActivity(direction);
    fire();
    QVERIFY(!l->isOn());
    QVERIFY(!t->isActive());
}

void tst_ControlLines::rowPerMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("keepRemote");
    QTest::addColumn<int>("flow");
    QTest::addColumn<bool>("lineCells");
    QTest::addColumn<QPoint>("rxCell"); // (row, column)
    QTest::addColumn<QString>("txTip");
    QTest::addColumn<QString>("rtsTip");
    QTest::addColumn<QString>("dtrTip");
    QTest::addColumn<int>("lineCursor");
    const QString activity = QStringLiteral("Lights while data is being sent or received");
    QTest::newRow("serial") << int(SerialPort) << true << 0 << true << QPoint(1, 0)
                            << QStringLiteral("Click to send a serial break (hold for longer)")
                            << QStringLiteral("Click to toggle the RTS output") << QStringLiteral("Click to toggle the DTR output")
                            << int(Qt::PointingHandCursor);
    QTest::newRow("serial, RTS/CTS") << int(SerialPort) << true << 1 << true << QPoint(1, 0)
                                     << QStringLiteral("Click to send a serial break (hold for longer)")
                                     << QStringLiteral("RTS is managed automatically by RTS/CTS flow control")
                                     << QStringLiteral("Click to toggle the DTR output") << int(Qt::ArrowCursor);
    QTest::newRow("remote, driven") << int(RemoteSerial) << false << 0 << true << QPoint(1, 0)
                                    << QStringLiteral("Click to send a Break to the remote port (hold for longer)")
                                    << QStringLiteral("Click to toggle the remote RTS output; the lamp lights after the RFC 2217 server confirms it")
                                    << QStringLiteral("Click to toggle the remote DTR output; the lamp lights after the RFC 2217 server confirms it")
                                    << int(Qt::PointingHandCursor);
    QTest::newRow("remote, kept") << int(RemoteSerial) << true << 0 << true << QPoint(1, 0)
                                  << QStringLiteral("Lights while data is being sent or received. Clear \"Keep the remote port's own configuration\" to send a Break to the remote port.")
                                  << QStringLiteral("Remote level reported by the RFC 2217 server")
                                  << QStringLiteral("Remote level reported by the RFC 2217 server") << int(Qt::ArrowCursor);
    QTest::newRow("tcp client") << int(TcpClient) << true << 0 << false << QPoint(0, 1) << activity << QString() << QString()
                                << int(Qt::ArrowCursor);
    QTest::newRow("udp group") << int(UdpGroup) << true << 0 << false << QPoint(0, 1) << activity << QString() << QString()
                               << int(Qt::ArrowCursor);
}

void tst_ControlLines::rowPerMode()
{
    QFETCH(int, mode);
    QFETCH(bool, keepRemote);
    QFETCH(int, flow);
    QFETCH(bool, lineCells);
    QFETCH(QPoint, rxCell);
    QFETCH(QString, txTip);
    QFETCH(QString, rtsTip);
    QFETCH(QString, dtrTip);
    QFETCH(int, lineCursor);
    // Built in another mode first, so the row must really move to this one.
    FormatSetting s;
    s.ConnMode = lineCells ? TcpClient : SerialPort;
    makePane(s);
    s.ConnMode = mode;
    s.UseRemoteSerialConfig = keepRemote;
    s.FlowControl = flow;
    m_pane->applySettings(s);

    auto *row = child<QWidget>("controlLineLedsRow");
    QVERIFY(row->isVisible());
    QCOMPARE(row->toolTip(), QStringLiteral("Live control-line levels while the port is open. Some USB serial adapters do not report the input lines."));
    for (const char *cell : {"rtsLedCell", "ctsLedCell", "dtrLedCell", "dsrLedCell", "dcdLedCell", "riLedCell"})
        QCOMPARE(child<QWidget>(cell)->isVisible(), lineCells);
    auto *grid = qobject_cast<QGridLayout *>(row->layout());
    int r = -1, c = -1, rs = 0, cs = 0;
    grid->getItemPosition(grid->indexOf(child<QWidget>("rxLedCell")), &r, &c, &rs, &cs);
    QCOMPARE(QPoint(r, c), rxCell);
    grid->getItemPosition(grid->indexOf(child<QWidget>("txLedCell")), &r, &c, &rs, &cs);
    QCOMPARE(QPoint(r, c), QPoint(0, 0));
    QCOMPARE(child<QWidget>("txLedCell")->toolTip(), txTip);
    QCOMPARE(child<QWidget>("rxLedCell")->toolTip(), QStringLiteral("Lights while data is being sent or received"));
    // A closed serial port has no Break to send yet.
    QCOMPARE(child<QWidget>("txLedCell")->cursor().shape(),
             mode == RemoteSerial && !keepRemote ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (lineCells) {
        QCOMPARE(child<QWidget>("rtsLedCell")->toolTip(), rtsTip);
        QCOMPARE(child<QWidget>("dtrLedCell")->toolTip(), dtrTip);
        QCOMPARE(int(child<QWidget>("rtsLedCell")->cursor().shape()), lineCursor);
    }
    QCOMPARE(child<QLabel>("txActivityLedLabel")->text(), QStringLiteral("TX"));
    if (mode == SerialPort) {
        // Closed port: the outputs show the wanted levels, the inputs nothing.
        QCOMPARE(led("rtsLed")->isOn(), flow == 0);
        QVERIFY(led("dtrLed")->isOn());
        s.DtrOn = false;
        m_pane->applySettings(s);
        QVERIFY(!led("dtrLed")->isOn());
        QVERIFY(!led("ctsLed")->isOn());
    }

    s.ShowControlLineLeds = false;
    m_pane->applySettings(s);
    QVERIFY(!row->isVisible());
}

void tst_ControlLines::refusals_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("flow");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("timeoutMs");
    const QString network = QStringLiteral("Control lines belong to a serial port. This connection does not have one.");
    const QString kept = QStringLiteral("The remote port is left under its own configuration. Clear \"Keep the remote port's own configuration\" to drive RTS, DTR and Break from here.");
    QTest::newRow("tcp client TX") << int(TcpClient) << 0 << "txLedCell" << network << 5000;
    QTest::newRow("tcp server RTS") << int(TcpServer) << 0 << "rtsLedCell" << network << 5000;
    QTest::newRow("udp DTR") << int(UdpClient) << 0 << "dtrLedCell" << network << 5000;
    QTest::newRow("serial RTS/CTS") << int(SerialPort) << 1 << "rtsLedCell"
                                    << QStringLiteral("RTS is driven by RTS/CTS flow control and cannot be set by hand.") << 5000;
    QTest::newRow("remote kept TX") << int(RemoteSerial) << 0 << "txLedCell" << kept << 8000;
    QTest::newRow("remote kept RTS") << int(RemoteSerial) << 0 << "rtsLedCell" << kept << 8000;
    QTest::newRow("closed serial TX") << int(SerialPort) << 0 << "txLedCell"
                                      << QStringLiteral("Open the serial port before sending Break") << 3000;
}

void tst_ControlLines::refusals()
{
    QFETCH(int, mode);
    QFETCH(int, flow);
    QFETCH(QString, cell);
    QFETCH(QString, text);
    QFETCH(int, timeoutMs);
    FormatSetting s;
    s.ConnMode = mode;
    s.FlowControl = flow;
    s.UseRemoteSerialConfig = true;
    makePane(s);
    QSignalSpy status(m_pane.get(), &SerialPortWidget::statusMessage);
    QSignalSpy changed(m_pane.get(), &SerialPortWidget::settingsChanged);
    auto *w = m_pane->findChild<QWidget *>(cell);
    QTest::mousePress(w, Qt::LeftButton);
    QTest::mouseRelease(w, Qt::LeftButton);
    QVERIFY(status.size() >= 1);
    QCOMPARE(status.last(), (QVariantList{text, timeoutMs}));
    QCOMPARE(m_pane->settings().RtsOn, true);
    QCOMPARE(m_pane->settings().DtrOn, true);
    QCOMPARE(changed.size(), 0);
    QVERIFY(!m_pane->isBreakHeld());
    QCOMPARE(child<QLabel>("txActivityLedLabel")->text(), QStringLiteral("TX"));
}

void tst_ControlLines::breakClickAndHold_data()
{
    QTest::addColumn<int>("holdMs");
    QTest::newRow("click 50 ms") << 50;
    QTest::newRow("hold 450 ms") << 450;
}

// On a pty Break succeeds without effect on the line, which is all the pane needs.
void tst_ControlLines::breakClickAndHold()
{
    QFETCH(int, holdMs);
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QVERIFY(openOnPty());
    auto *cell = child<QWidget>("txLedCell");
    auto *label = child<QLabel>("txActivityLedLabel");
    auto *releaseTimer = child<QTimer>("breakReleaseTimer");
    auto *restoreTimer = child<QTimer>("txRestoreTimer");
    QCOMPARE(cell->cursor().shape(), Qt::PointingHandCursor);

    QElapsedTimer clock; // started first, so it never runs behind the pane's own
    clock.start();
    QTest::mousePress(cell, Qt::LeftButton);
    QVERIFY(m_pane->isBreakHeld());
    QVERIFY(m_pane->controller()->controlLineState(ConnectionController::Break));
    QCOMPARE(label->text(), QStringLiteral("BRK"));
    QCOMPARE(label->styleSheet(), QStringLiteral("color:#f0a020"));
    QCOMPARE(led("txActivityLed")->color(), QColor(240, 160, 32));
    QVERIFY(led("txActivityLed")->isOn());

    QTest::qWait(holdMs);
    QTest::mouseRelease(cell, Qt::LeftButton);
    const qint64 releasedAt = clock.elapsed();
    if (releasedAt < 300) {
        // A click: Break stays asserted for the rest of 300 ms.
        QVERIFY(m_pane->isBreakHeld());
        QVERIFY(releaseTimer->isActive());
        QVERIFY(releaseTimer->remainingTime() <= 300 - releasedAt + 20);
        QVERIFY(releaseTimer->remainingTime() > 0);
        QVERIFY(QTest::qWaitFor([this] { return !m_pane->isBreakHeld(); }, 2000));
        QVERIFY(clock.elapsed() >= 300);
    } else {
        QVERIFY(!m_pane->isBreakHeld());
        QVERIFY(!releaseTimer->isActive());
    }
    QVERIFY(!m_pane->controller()->controlLineState(ConnectionController::Break));
    // "BRK" stays until 800 ms after the press.
    const qint64 releaseDone = clock.elapsed();
    if (releaseDone < 780) {
        QCOMPARE(label->text(), QStringLiteral("BRK"));
        QVERIFY(restoreTimer->isActive());
        // Coarse timers may be stretched by up to 5 %.
        const int left = restoreTimer->remainingTime();
        QVERIFY2(left <= 800 - releaseDone + 45 && left >= 800 - releaseDone - 100,
                 qPrintable(QStringLiteral("%1 ms left %2 ms after the press").arg(left).arg(releaseDone)));
    }
    QVERIFY(QTest::qWaitFor([&] { return label->text() == QLatin1String("TX"); }, 2000));
    QVERIFY(clock.elapsed() >= 800);
    QCOMPARE(label->styleSheet(), QString());
    QCOMPARE(led("txActivityLed")->color(), QColor(Qt::green));
    QVERIFY(!led("txActivityLed")->isOn());
}

void tst_ControlLines::breakHeldKeepsTxLamp()
{
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QVERIFY(openOnPty());
    m_pane->pressBreak();
    QVERIFY(m_pane->isBreakHeld());
    auto *txTimer = child<QTimer>("txLedTimer");
    QVERIFY(!txTimer->isActive());
    // Sending while Break is held does not flash over the Break lamp.
    QVERIFY(m_pane->sendBytes("x"));
    QVERIFY(!txTimer->isActive());
    // Traffic from elsewhere may start the timer; its expiry leaves the Break lamp alone.
    m_pane->flashActivity(SerialPortWidget::Sent);
    m_pane->flashActivity(SerialPortWidget::Sent);
    QVERIFY(txTimer->isActive());
    txTimer->stop();
    QVERIFY(QMetaObject::invokeMethod(txTimer, "timeout"));
    QVERIFY(!txTimer->isActive());
    QVERIFY(led("txActivityLed")->isOn());
    QCOMPARE(led("txActivityLed")->color(), HLed::amber());
    m_pane->releaseBreak();
    QCOMPARE(child<QLabel>("txActivityLedLabel")->text(), QStringLiteral("BRK"));
}

void tst_ControlLines::closingReleasesBreak()
{
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QVERIFY(openOnPty());
    m_pane->pressBreak();
    QVERIFY(m_pane->isBreakHeld());
    m_pane->closePort();
    QVERIFY(!m_pane->isBreakHeld());
    QVERIFY(!m_pane->controller()->controlLineState(ConnectionController::Break));
    QCOMPARE(child<QLabel>("txActivityLedLabel")->text(), QStringLiteral("BRK"));
    QVERIFY(child<QTimer>("txRestoreTimer")->isActive());
    QVERIFY(QTest::qWaitFor([this] { return child<QLabel>("txActivityLedLabel")->text() == QLatin1String("TX"); }, 2000));
}

// A pty has no modem lines: the wanted level flips and the controller says why the line did not.
void tst_ControlLines::dtrToggleOnPty()
{
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QVERIFY(openOnPty());
    QSignalSpy controllerStatus(m_pane->controller(), &ConnectionController::statusMessage);
    QSignalSpy changed(m_pane.get(), &SerialPortWidget::settingsChanged);
    QVERIFY(led("dtrLed")->isOn());
    QTest::mousePress(child<QWidget>("dtrLedCell"), Qt::LeftButton);
    QCOMPARE(m_pane->settings().DtrOn, false);
    QCOMPARE(m_pane->controller()->controlLineState(ConnectionController::Dtr), false);
    QVERIFY(!led("dtrLed")->isOn());
    QCOMPARE(changed.size(), 1);
    QCOMPARE(controllerStatus.size(), 1);
    QVERIFY(controllerStatus.first().at(0).toString().startsWith(QStringLiteral("Failed to set DTR: ")));
    QCOMPARE(controllerStatus.first().at(1).toInt(), 3000);
    // Inputs read as low on a port that cannot report them.
    for (const char *name : {"ctsLed", "dsrLed", "dcdLed", "riLed"})
        QVERIFY(!led(name)->isOn());
    QTest::mousePress(child<QWidget>("rtsLedCell"), Qt::LeftButton);
    QCOMPARE(m_pane->settings().RtsOn, false);
}

void tst_ControlLines::remoteRefusesControl()
{
    FormatSetting s;
    s.UseRemoteSerialConfig = false;
    QVERIFY(connectRemote(s)); // the server never answers the negotiation
    QSignalSpy status(m_pane.get(), &SerialPortWidget::statusMessage);
    QSignalSpy changed(m_pane.get(), &SerialPortWidget::settingsChanged);
    QTest::mousePress(child<QWidget>("dtrLedCell"), Qt::LeftButton);
    QCOMPARE(m_pane->settings().DtrOn, true);
    QCOMPARE(status.last(), (QVariantList{QStringLiteral("The remote peer did not accept RFC 2217 com-port control, so DTR cannot be set from here."), 6000}));
    QTest::mousePress(child<QWidget>("txLedCell"), Qt::LeftButton);
    QTest::mouseRelease(child<QWidget>("txLedCell"), Qt::LeftButton);
    QVERIFY(!m_pane->isBreakHeld());
    QCOMPARE(status.last(), (QVariantList{QStringLiteral("The remote peer did not accept RFC 2217 com-port control, so Break cannot be sent."), 5000}));
    QCOMPARE(child<QLabel>("txActivityLedLabel")->text(), QStringLiteral("TX"));
    QVERIFY(!led("dtrLed")->isOn());
    QCOMPARE(led("dtrLed")->color(), QColor(144, 144, 144));
    QTest::qWait(100);
    QVERIFY(m_peer->readAll().isEmpty());
}

void tst_ControlLines::remoteLampsFollowServer()
{
    FormatSetting s;
    s.UseRemoteSerialConfig = false;
    s.RtsOn = false;
    QVERIFY(connectRemote(s));
    QCOMPARE(led("dtrLed")->color(), QColor(144, 144, 144));
    QVERIFY(!led("dtrLed")->isOn());

    // The server accepts com-port control: asked levels show amber until confirmed.
    m_peer->write(iac({255, 251, 44, 255, 253, 44}));
    QVERIFY(QTest::qWaitFor([this] { return led("dtrLed")->color() == HLed::amber(); }, 3000));
    QVERIFY(led("dtrLed")->isOn());
    QCOMPARE(led("rtsLed")->color(), QColor(144, 144, 144)); // RTS is wanted low
    QVERIFY(!led("rtsLed")->isOn());

    m_peer->write(iac({255, 250, 44, 105, 8, 255, 240, 255, 250, 44, 105, 12, 255, 240, 255, 250, 44, 107, 0x30, 255, 240}));
    QVERIFY(QTest::qWaitFor([this] { return led("dtrLed")->color() == HLed::green(); }, 3000));
    QVERIFY(led("dtrLed")->isOn());
    QCOMPARE(led("rtsLed")->color(), HLed::green());
    QVERIFY(!led("rtsLed")->isOn());
    QVERIFY(led("ctsLed")->isOn());
    QVERIFY(led("dsrLed")->isOn());
    QVERIFY(!led("riLed")->isOn());
    QVERIFY(!led("dcdLed")->isOn());

    QTest::qWait(50);
    m_peer->readAll();
    QSignalSpy status(m_pane.get(), &SerialPortWidget::statusMessage);
    QTest::mousePress(child<QWidget>("dtrLedCell"), Qt::LeftButton);
    QCOMPARE(m_pane->settings().DtrOn, false);
    QCOMPARE(status.last(), (QVariantList{QStringLiteral("Asked the remote port for DTR low; the lamp turns green when the server confirms it."), 5000}));
    const QByteArray dtrOff = iac({255, 250, 44, 5, 9, 255, 240});
    QByteArray wire;
    QVERIFY(QTest::qWaitFor([&] {
        wire += m_peer->readAll();
        return wire.contains(dtrOff);
    }, 3000));

    status.clear();
    QTest::mousePress(child<QWidget>("txLedCell"), Qt::LeftButton);
    QVERIFY(m_pane->isBreakHeld());
    QCOMPARE(status.last(), (QVariantList{QStringLiteral("Sent Break to the remote port; it is released when you let go."), 5000}));
    QTest::mouseRelease(child<QWidget>("txLedCell"), Qt::LeftButton);
    wire.clear();
    QVERIFY(QTest::qWaitFor([&] {
        wire += m_peer->readAll();
        return wire.contains(iac({255, 250, 44, 5, 6, 255, 240}));
    }, 3000));
    QVERIFY(!m_pane->isBreakHeld());
}

// The "keep the remote configuration" box in the connection editor decides who drives the lines.
void tst_ControlLines::keepRemoteBoxSwitchesCells()
{
    FormatSetting s;
    s.UseRemoteSerialConfig = true;
    QVERIFY(connectRemote(s));
    auto *keep = child<QAbstractButton>("rfc2217UseRemoteBox");
    QVERIFY(keep && keep->isChecked());
    QCOMPARE(child<QWidget>("dtrLedCell")->cursor().shape(), Qt::ArrowCursor);
    keep->setChecked(false);
    QCOMPARE(m_pane->settings().UseRemoteSerialConfig, false);
    QCOMPARE(child<QWidget>("dtrLedCell")->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(child<QWidget>("txLedCell")->toolTip(),
             QStringLiteral("Click to send a Break to the remote port (hold for longer)"));
    QVERIFY(m_pane->controller()->isConnectionOpen(RemoteSerial)); // an edit, not a reconnect
    keep->setChecked(true);
    QCOMPARE(child<QWidget>("dtrLedCell")->toolTip(), QStringLiteral("Remote level reported by the RFC 2217 server"));
}

QTEST_MAIN(tst_ControlLines)
#include "tst_controllines.moc"
