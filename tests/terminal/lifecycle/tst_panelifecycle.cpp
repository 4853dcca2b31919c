#include "connection/connectioncontroller.h"
#include "ptypair.h"
#include "terminal/serialportwidget.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

// The pane's life cycle against real peers: a socat pty pair that goes away and
// comes back under the same link name, and a loopback TCP server that does the same.
class tst_PaneLifecycle : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void unlistedDevicePathStaysOpen();
    void serialReconnects();
    void serialLossWithoutReconnectCloses();
    void reconnectSwitchedOffWhileWaiting();
    void openFailureLeavesClosed();
    void closedStatusLine_data();
    void closedStatusLine();
    void tcpReconnects();
    void tcpLossWithoutReconnect();
    void guardTexts_data();
    void guardTexts();
    void transferRefusesSendLinesAndSettings();
    void transferPausesAutoSend();
    void typedDevicePathIsOpened();
    void lineEditReopensSerialPort();
    void networkEntryClosesSerialPort();
    void typedHostIsReadAtOpen();

private:
    SerialPortWidget *makeSerialPane(const QString &device, bool autoReconnect);
    SerialPortWidget *makeTcpPane(int mode, bool autoReconnect);
    bool waitForStatus(const QSignalSpy &spy, const QString &text, int timeoutMs);
    static bool hasStatus(const QSignalSpy &spy, const QString &text, int from = 0);
    bool exchangeOverPty(const QString &peerPath);
    bool exchangeOverTcp();
    template<typename T> T *child(const char *name) { return m_pane->findChild<T *>(QString::fromLatin1(name)); }

    std::unique_ptr<SerialPortWidget> m_pane;
    std::unique_ptr<QTcpServer> m_server;
    QTcpSocket *m_peer = nullptr;
    quint16 m_port = 0;
};

void tst_PaneLifecycle::cleanup()
{
    m_pane.reset();
    m_peer = nullptr;
    m_server.reset();
}

SerialPortWidget *tst_PaneLifecycle::makeSerialPane(const QString &device, bool autoReconnect)
{
    FormatSetting s;
    s.ConnMode = SerialPort;
    s.PortName = device;
    s.BaudRate = 115200;
    m_pane = std::make_unique<SerialPortWidget>(s, 0);
    m_pane->setAutoReconnect(autoReconnect);
    m_pane->resize(900, 600);
    m_pane->show();
    return m_pane->openPort() ? m_pane.get() : nullptr;
}

SerialPortWidget *tst_PaneLifecycle::makeTcpPane(int mode, bool autoReconnect)
{
    m_server = std::make_unique<QTcpServer>();
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        return nullptr;
    m_port = m_server->serverPort();
    FormatSetting s;
    s.ConnMode = mode;
    s.LastTargetHost = {QStringLiteral("127.0.0.1")};
    s.LastTargetPort = m_port;
    s.UseRemoteSerialConfig = false;
    m_pane = std::make_unique<SerialPortWidget>(s, 0);
    m_pane->setAutoReconnect(autoReconnect);
    m_pane->resize(900, 600);
    m_pane->show();
    if (!m_pane->openPort())
        return nullptr;
    if (!m_server->waitForNewConnection(5000) && !m_server->hasPendingConnections())
        return nullptr;
    m_peer = m_server->nextPendingConnection();
    if (!QTest::qWaitFor([this] { return m_pane->controller()->isConnectionOpen(m_pane->settings().ConnMode); }, 5000))
        return nullptr;
    return m_pane.get();
}

bool tst_PaneLifecycle::hasStatus(const QSignalSpy &spy, const QString &text, int from)
{
    for (qsizetype i = from; i < spy.size(); ++i) {
        if (spy.at(i).at(0).toString() == text)
            return true;
    }
    return false;
}

bool tst_PaneLifecycle::waitForStatus(const QSignalSpy &spy, const QString &text, int timeoutMs)
{
    return QTest::qWaitFor([&] { return hasStatus(spy, text); }, timeoutMs);
}

// Bytes both ways between the pane and the other end of the pty pair.
bool tst_PaneLifecycle::exchangeOverPty(const QString &peerPath)
{
    QSerialPort peer(peerPath);
    if (!peer.open(QIODevice::ReadWrite))
        return false;
    const QString before = m_pane->receiveText();
    peer.write("from device\n");
    if (!QTest::qWaitFor([&] { return m_pane->receiveText() == before + QStringLiteral("from device\n"); }, 5000))
        return false;
    if (!m_pane->sendBytes("from pane"))
        return false;
    QByteArray got;
    const bool arrived = QTest::qWaitFor([&] {
        got += peer.readAll();
        return got.size() >= 9;
    }, 5000);
    return arrived && got == "from pane";
}

bool tst_PaneLifecycle::exchangeOverTcp()
{
    const QString before = m_pane->receiveText();
    m_peer->write("from server\n");
    if (!QTest::qWaitFor([&] { return m_pane->receiveText() == before + QStringLiteral("from server\n"); }, 5000))
        return false;
    if (!m_pane->sendBytes("from pane"))
        return false;
    QByteArray got;
    const bool arrived = QTest::qWaitFor([&] {
        got += m_peer->readAll();
        return got.size() >= 9;
    }, 5000);
    return arrived && got == "from pane";
}

void tst_PaneLifecycle::unlistedDevicePathStaysOpen()
{
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    PtyPair pty(dir.path());
    QVERIFY(pty.start());
    QVERIFY(makeSerialPane(pty.a(), true));
    // A pty is never in the system's port list; its existing path must keep it.
    m_pane->onRefreshAvalablePorts();
    QVERIFY(m_pane->controller()->serialPort()->isOpen());
    QCOMPARE(m_pane->state(), Running);
    QCOMPARE(m_pane->statusText(), QStringLiteral("<font color = green> %1 OPENED, 115200, 8, NONE, 1, OFF </font>").arg(pty.a()));
    QCOMPARE(child<QPushButton>("sendButton")->text(), QStringLiteral("Send"));
    QVERIFY(exchangeOverPty(pty.b()));
}

void tst_PaneLifecycle::serialReconnects()
{
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    PtyPair pty(dir.path());
    QVERIFY(pty.start());
    QVERIFY(makeSerialPane(pty.a(), true));
    QSignalSpy status(m_pane.get(), &SerialPortWidget::statusMessage);
    QVERIFY(exchangeOverPty(pty.b()));

    QElapsedTimer clock;
    clock.start();
    QVERIFY(pty.stop());
    const QString lost = QStringLiteral("Serial Port %1 lost, waiting for it to come back...").arg(pty.a());
    QVERIFY2(waitForStatus(status, lost, 5000), "no lost text");
    qInfo("lost text %lld ms after socat was stopped", clock.elapsed());
    QVERIFY(m_pane->isReconnectArmed());
    QCOMPARE(m_pane->state(), Running); // kept while waiting for the port
    QVERIFY(child<QTimer>("reconnectTimer")->isActive());
    m_pane->onRefreshAvalablePorts();
    QCOMPARE(m_pane->statusText(), QStringLiteral("<font color = red> %1 CLOSED </font>").arg(pty.a()));
    QCOMPARE(m_pane->state(), Running);

    // Come back just after a reconnect attempt found nothing: the longest wait.
    QSignalSpy ticks(child<QTimer>("reconnectTimer"), &QTimer::timeout);
    QVERIFY(ticks.wait(4000));
    QVERIFY(m_pane->isReconnectArmed());
    const int lostAt = int(status.size());
    QVERIFY(pty.start());
    clock.restart();
    const QString back = QStringLiteral("Serial Port %1 RECONNECTED").arg(pty.a());
    QVERIFY2(waitForStatus(status, back, 6000), "no RECONNECTED text");
    const qint64 latency = clock.elapsed();
    qInfo("RECONNECTED %lld ms after the device path came back", latency);
    QVERIFY(!hasStatus(status, lost, lostAt));
    // The tick runs every 2 s; the margin is for a loaded machine.
    QVERIFY2(latency <= 2600, qPrintable(QString::number(latency)));
    QVERIFY(!m_pane->isReconnectArmed());
    QVERIFY(!child<QTimer>("reconnectTimer")->isActive());
    QCOMPARE(m_pane->state(), Running);
    QCOMPARE(m_pane->settings().PortName, pty.a());
    QVERIFY(exchangeOverPty(pty.b()));
}

void tst_PaneLifecycle::serialLossWithoutReconnectCloses()
{
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    PtyPair pty(dir.path());
    QVERIFY(pty.start());
    QVERIFY(makeSerialPane(pty.a(), false));
    QSignalSpy status(m_pane.get(), &SerialPortWidget::statusMessage);
    QVERIFY(exchangeOverPty(pty.b()));
    QVERIFY(pty.stop());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(QTest::qWaitFor([this] { return m_pane->state() == Closed; }, 3000));
    qInfo("pane Closed %lld ms after the device path went away", clock.elapsed());
    QCOMPARE(m_pane->statusText(), QStringLiteral("<font color = red> %1 CLOSED </font>").arg(pty.a()));
    QCOMPARE(child<QPushButton>("sendButton")->text(), QStringLiteral("Open"));
    QVERIFY(!m_pane->controller()->serialPort()->isOpen());
    QVERIFY(!m_pane->isReconnectArmed());
    QVERIFY(!child<QTimer>("reconnectTimer")->isActive());
    QVERIFY(!child<QTimer>("saveTimer")->isActive() || m_pane->state() == Closed);
    QVERIFY(!hasStatus(status, QStringLiteral("Serial Port %1 lost, waiting for it to come back...").arg(pty.a())));
}

void tst_PaneLifecycle::reconnectSwitchedOffWhileWaiting()
{
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    PtyPair pty(dir.path());
    QVERIFY(pty.start());
    QVERIFY(makeSerialPane(pty.a(), true));
    QVERIFY(pty.stop());
    QVERIFY(QTest::qWaitFor([this] { return m_pane->isReconnectArmed(); }, 5000));
    m_pane->setAutoReconnect(false);
    QVERIFY(!m_pane->isReconnectArmed());
    QVERIFY(!child<QTimer>("reconnectTimer")->isActive());
    QVERIFY(!m_pane->controller()->watchPortLoss());
    m_pane->onRefreshAvalablePorts();
    QCOMPARE(m_pane->state(), Closed);
    QVERIFY(pty.start());
    m_pane->onReconnectTick(); // a tick already queued finds nothing to do
    QVERIFY(!m_pane->controller()->serialPort()->isOpen());
}

void tst_PaneLifecycle::openFailureLeavesClosed()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("ttyMissing"));
    FormatSetting s;
    s.ConnMode = SerialPort;
    s.PortName = missing;
    s.AutoSend = true;
    s.SendInterval = 100;
    m_pane = std::make_unique<SerialPortWidget>(s, 0);
    QSignalSpy status(m_pane.get(), &SerialPortWidget::statusMessage);
    QVERIFY(!m_pane->openPort());
    QCOMPARE(m_pane->state(), Closed);
    QVERIFY(!child<QTimer>("sendTimer")->isActive());
    QVERIFY(!child<QTimer>("saveTimer")->isActive());
    QVERIFY(!status.isEmpty());
    QVERIFY2(status.last().at(0).toString().startsWith(QStringLiteral("Serial Port %1 OPEN FAILED! ERROR: ").arg(missing)),
             qPrintable(status.last().at(0).toString()));
    QCOMPARE(status.last().at(1).toInt(), 5000);
    QCOMPARE(m_pane->statusText(), QStringLiteral("<font color = red> %1 CLOSED </font>").arg(missing));
}

void tst_PaneLifecycle::closedStatusLine_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("shown");
    QTest::newRow("cu. prefix") << "cu.usbserial-1420" << "usbserial-1420";
    QTest::newRow("device path") << "/dev/ttyQLN9" << "/dev/ttyQLN9";
    QTest::newRow("plain name") << "COM3" << "COM3";
    QTest::newRow("cu. inside") << "ttycu.0" << "ttycu.0";
}

void tst_PaneLifecycle::closedStatusLine()
{
    QFETCH(QString, port);
    QFETCH(QString, shown);
    FormatSetting s;
    s.ConnMode = SerialPort;
    s.PortName = port;
    m_pane = std::make_unique<SerialPortWidget>(s, 0);
    m_pane->onRefreshAvalablePorts();
    QCOMPARE(m_pane->statusText(), QStringLiteral("<font color = red> %1 CLOSED </font>").arg(shown));
    QCOMPARE(child<QPushButton>("sendButton")->text(), QStringLiteral("Open"));
    QCOMPARE(m_pane->state(), Closed);
}

void tst_PaneLifecycle::tcpReconnects()
{
    QVERIFY(makeTcpPane(TcpClient, true));
    QSignalSpy status(m_pane.get(), &SerialPortWidget::statusMessage);
    QVERIFY(exchangeOverTcp());

    m_server->close();
    m_peer->close();
    QVERIFY(waitForStatus(status, QStringLiteral("Connection lost, reconnecting..."), 5000));
    QCOMPARE(m_pane->state(), Running);
    const QString retry = QStringLiteral("Reconnecting to 127.0.0.1:%1 ...").arg(m_port);
    QVERIFY2(waitForStatus(status, retry, 5000), "no reconnect attempt");
    QVERIFY(m_server->listen(QHostAddress::LocalHost, m_port));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(waitForStatus(status, QStringLiteral("TCP connection RESTORED"), 8000));
    qInfo("RESTORED %lld ms after the server listened again", clock.elapsed());
    QVERIFY(!child<QTimer>("reconnectTimer")->isActive());
    QCOMPARE(m_pane->state(), Running);
    QVERIFY(m_server->hasPendingConnections() || m_server->waitForNewConnection(5000));
    m_peer = m_server->nextPendingConnection();
    QVERIFY(exchangeOverTcp());
    m_pane->onRefreshAvalablePorts();
    QCOMPARE(m_pane->statusText(), QStringLiteral("<font color = green>Connection is established. </font>"));
}

void tst_PaneLifecycle::tcpLossWithoutReconnect()
{
    QVERIFY(makeTcpPane(TcpClient, false));
    QSignalSpy status(m_pane.get(), &SerialPortWidget::statusMessage);
    m_server->close();
    m_peer->close();
    QVERIFY(QTest::qWaitFor([this] { return !m_pane->controller()->tcpClientSocket(); }, 5000));
    QVERIFY(!child<QTimer>("reconnectTimer")->isActive());
    QVERIFY(!hasStatus(status, QStringLiteral("Connection lost, reconnecting...")));
    m_pane->onRefreshAvalablePorts();
    QCOMPARE(m_pane->statusText(), QStringLiteral("<font color = red>The socket is not connected </font>"));
}

void tst_PaneLifecycle::guardTexts_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<PortRequester>("requester");
    QTest::addColumn<PortOperation>("operation");
    QTest::addColumn<QString>("refusal"); // empty: allowed
    const QString send = QStringLiteral("A file transfer is using this port. Sending data now would corrupt it.");
    const QString lines = QStringLiteral("A file transfer is using this port. Changing the control lines would interrupt it.");
    const QString settings = QStringLiteral(
        "A file transfer is using this port. Changing the port settings would reopen it and end the transfer.");
    QTest::newRow("idle: user settings") << false << PortRequester::User << PortOperation::PortSettings << QString();
    QTest::newRow("idle: console send") << false << PortRequester::Console << PortOperation::SendData << QString();
    QTest::newRow("user send") << true << PortRequester::User << PortOperation::SendData << send;
    QTest::newRow("user lines") << true << PortRequester::User << PortOperation::ControlLines << lines;
    QTest::newRow("user settings") << true << PortRequester::User << PortOperation::PortSettings << settings;
    QTest::newRow("console send") << true << PortRequester::Console << PortOperation::SendData << send;
    QTest::newRow("bridge lines") << true << PortRequester::Bridge << PortOperation::ControlLines << lines;
    QTest::newRow("transfer send") << true << PortRequester::Transfer << PortOperation::SendData << QString();
    QTest::newRow("transfer lines") << true << PortRequester::Transfer << PortOperation::ControlLines << QString();
    QTest::newRow("transfer settings") << true << PortRequester::Transfer << PortOperation::PortSettings
                                       << QStringLiteral("A file transfer is running.");
}

void tst_PaneLifecycle::guardTexts()
{
    QFETCH(bool, running);
    QFETCH(PortRequester, requester);
    QFETCH(PortOperation, operation);
    QFETCH(QString, refusal);
    SerialPortWidget pane(FormatSetting(), 0);
    pane.setTransferRunning(running);
    QString message = QStringLiteral("untouched");
    QCOMPARE(pane.guardPortUse(requester, operation, &message), refusal.isEmpty());
    QCOMPARE(message, refusal.isEmpty() ? QStringLiteral("untouched") : refusal);
}

void tst_PaneLifecycle::transferRefusesSendLinesAndSettings()
{
    QVERIFY(makeTcpPane(RemoteSerial, false));
    QSignalSpy status(m_pane.get(), &SerialPortWidget::statusMessage);
    QVERIFY(QTest::qWaitFor([this] { return m_peer->bytesAvailable() >= 18; }, 3000)); // the handshake
    m_peer->readAll();
    m_pane->setTransferRunning(true);

    child<QPlainTextEdit>("textEdit")->setPlainText(QStringLiteral("must not go"));
    QTest::mouseClick(child<QPushButton>("sendButton"), Qt::LeftButton);
    QCOMPARE(status.last(), (QVariantList{QStringLiteral("A file transfer is using this port. Sending data now would corrupt it."), 5000}));

    const QVariantList lines{QStringLiteral("A file transfer is using this port. Changing the control lines would interrupt it."), 5000};
    const bool dtrBefore = m_pane->settings().DtrOn;
    QTest::mousePress(child<QWidget>("dtrLedCell"), Qt::LeftButton);
    QCOMPARE(status.last(), lines);
    QCOMPARE(m_pane->settings().DtrOn, dtrBefore);
    status.clear();
    QTest::mousePress(child<QWidget>("txLedCell"), Qt::LeftButton);
    QCOMPARE(status.last(), lines);
    QVERIFY(!m_pane->isBreakHeld());
    QTest::mouseRelease(child<QWidget>("txLedCell"), Qt::LeftButton);

    m_pane->onConnectionConfigChanged();
    QCOMPARE(status.last(), (QVariantList{QStringLiteral("A file transfer is using this port. Changing the port settings would reopen it and end the transfer."), 5000}));
    QVERIFY(m_pane->controller()->isConnectionOpen(RemoteSerial));
    QCOMPARE(m_pane->state(), Running);

    QTest::qWait(200);
    QVERIFY2(m_peer->readAll().isEmpty(), "bytes reached the peer during the transfer");

    m_pane->setTransferRunning(false);
    m_pane->onConnectionConfigChanged(); // now it takes effect: the pane recloses
    QCOMPARE(m_pane->state(), Closed);
}

void tst_PaneLifecycle::transferPausesAutoSend()
{
    QVERIFY(makeTcpPane(TcpClient, false));
    auto *sendTimer = child<QTimer>("sendTimer");
    child<QPlainTextEdit>("textEdit")->setPlainText(QStringLiteral("x"));
    child<QWidget>("autoSendBox")->setProperty("checked", true);
    QMetaObject::invokeMethod(m_pane.get(), "on_autoSendBox_clicked");
    QVERIFY(sendTimer->isActive());
    m_pane->setTransferRunning(true);
    QVERIFY(!sendTimer->isActive());
    m_pane->setTransferRunning(false);
    QVERIFY(sendTimer->isActive());
    m_pane->closePort();
    QVERIFY(!sendTimer->isActive());
}

// The user types a device path into the port box of a closed network pane.
void tst_PaneLifecycle::typedDevicePathIsOpened()
{
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    PtyPair pty(dir.path());
    QVERIFY(pty.start());
    FormatSetting s;
    s.ConnMode = TcpClient;
    m_pane = std::make_unique<SerialPortWidget>(s, 0);
    m_pane->show();
    auto *portBox = child<QComboBox>("portBox");
    QVERIFY(portBox && portBox->isEditable());
    portBox->lineEdit()->setText(pty.a());
    emit portBox->lineEdit()->editingFinished();
    QCOMPARE(m_pane->settings().ConnMode, int(SerialPort));
    QCOMPARE(m_pane->settings().PortName, pty.a());
    QCOMPARE(m_pane->currentRealPortName(), pty.a());
    QVERIFY(m_pane->isSerialPortSelected());
    QCOMPARE(m_pane->state(), Closed);
    QVERIFY(m_pane->openPort());
    QVERIFY(exchangeOverPty(pty.b()));
    // The list refresh keeps the typed entry selected.
    m_pane->onRefreshAvalablePorts();
    QCOMPARE(portBox->currentData().toString(), pty.a());
    QCOMPARE(m_pane->state(), Running);
}

void tst_PaneLifecycle::lineEditReopensSerialPort()
{
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    PtyPair pty(dir.path());
    QVERIFY(pty.start());
    QVERIFY(makeSerialPane(pty.a(), false));
    auto *baud = child<QComboBox>("baudRateBox");
    const int index = baud->findText(QStringLiteral("19200"));
    QVERIFY(index >= 0);
    baud->setCurrentIndex(index);
    QCOMPARE(m_pane->settings().BaudRate, 19200);
    QVERIFY(m_pane->controller()->serialPort()->isOpen());
    QCOMPARE(m_pane->controller()->serialPort()->baudRate(), 19200);
    m_pane->onRefreshAvalablePorts();
    QCOMPARE(m_pane->statusText(), QStringLiteral("<font color = green> %1 OPENED, 19200, 8, NONE, 1, OFF </font>").arg(pty.a()));
    QVERIFY(exchangeOverPty(pty.b()));
}

void tst_PaneLifecycle::networkEntryClosesSerialPort()
{
    if (PtyPair::socat().isEmpty())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    PtyPair pty(dir.path());
    QVERIFY(pty.start());
    QVERIFY(makeSerialPane(pty.a(), true));
    QSignalSpy changed(m_pane.get(), &SerialPortWidget::settingsChanged);
    auto *portBox = child<QComboBox>("portBox");
    portBox->setCurrentIndex(portBox->findText(QStringLiteral("TCP/UDP")));
    QVERIFY(!m_pane->controller()->serialPort()->isOpen());
    QCOMPARE(m_pane->state(), Closed);
    QVERIFY(!m_pane->isSerialPortSelected());
    QCOMPARE(m_pane->settings().ConnMode, int(TcpClient));
    QCOMPARE(m_pane->currentRealPortName(), pty.a()); // remembered for when serial is chosen again
    QVERIFY(!child<QTimer>("reconnectTimer")->isActive());
    QCOMPARE(changed.size(), 1);
    QVERIFY(!child<QWidget>("dtrLedCell")->isVisibleTo(m_pane.get()));
}

// Each keystroke in the host box is an edit; only the opened host joins the history.
void tst_PaneLifecycle::typedHostIsReadAtOpen()
{
    QVERIFY(makeTcpPane(TcpClient, false));
    m_pane->closePort();
    const QStringList before = m_pane->settings().LastTargetHost;
    auto *hostBox = child<QComboBox>("tcpClientHostBox");
    QVERIFY(hostBox && hostBox->isEditable());
    hostBox->setEditText(QString());
    for (const QChar c : QStringLiteral("localhost"))
        hostBox->setEditText(hostBox->currentText() + c);
    QCOMPARE(m_pane->settings().LastTargetHost, before);
    QVERIFY(m_pane->openPort());
    QCOMPARE(m_pane->settings().LastTargetHost, QStringList({QStringLiteral("localhost")}) + before);
    QVERIFY(QTest::qWaitFor([this] { return m_server->hasPendingConnections(); }, 5000));
}

QTEST_MAIN(tst_PaneLifecycle)
#include "tst_panelifecycle.moc"
