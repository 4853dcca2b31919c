#include "terminal/serialportwidget.h"
#include "ui_serialportwidget.h"

#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"
#include "connection/connectioncontroller.h"
#include "connection/rfc2217lineconfig.h"
#include "logging/logname.h"
#include "logging/logwriter.h"
#include "settings/dialogs/connectionsettingswidget.h"
#include "settings/serialportlist.h"
#include "terminal/hled.h"
#include "terminal/receivefindbar.h"
#include "terminal/sendtext.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTcpSocket>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QUdpSocket>

namespace {

const QColor kNoticeColour(46, 134, 193);
constexpr qint64 kBreakMinimumMs = 300; // a click asserts Break at least this long
constexpr qint64 kBreakLampMs = 800;    // "BRK" stays readable at least this long

struct Choice
{
    const char *label;
    int value;
};

void fillBox(QComboBox *box, std::initializer_list<Choice> choices)
{
    box->clear();
    for (const Choice &c : choices)
        box->addItem(QCoreApplication::translate("SerialPortWidget", c.label), c.value);
}

void selectData(QComboBox *box, int value, const char *trace)
{
    const int index = box->findData(value);
    if (index < 0 && trace)
        qDebug() << trace << value;
    box->setCurrentIndex(index < 0 ? 0 : index);
}

} // namespace

SerialPortWidget::SerialPortWidget(const FormatSetting &settings, int portIndex, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::SerialPortWidget>())
    , m_settings(settings)
    , m_portIndex(portIndex)
    , m_controller(new ConnectionController(this))
    , m_logWriter(new LogWriter(this))
{
    ui->setupUi(this);
    fillChoiceBoxes();
    m_logFormatter.setLineEnded(false);
    // The settings column scrolls vertically but never cuts its controls short.
    ui->quickSettingsScroll->setMinimumWidth(ui->quickSettingsWidget->minimumSizeHint().width()
                                             + ui->quickSettingsScroll->verticalScrollBar()->sizeHint().width());
    m_findBar = new ReceiveFindBar(ui->textBrowser, this, ui->receiveArea);
    ui->receiveLayout->insertWidget(ui->receiveLayout->indexOf(ui->textBrowser), m_findBar);

    m_statusLabel = new QLabel(this);
    m_rxCountLabel = new QLabel(this);
    m_txCountLabel = new QLabel(this);
    m_logLabel = new QLabel(this);
    for (QLabel *label : {m_statusLabel, m_rxCountLabel, m_txCountLabel, m_logLabel}) {
        label->setIndent(3);
        ui->statusbar->addWidget(label, 1);
    }
    m_rxCountLabel->setMaximumWidth(200);
    m_txCountLabel->setMaximumWidth(200);
    ui->textBrowser->installEventFilter(this);
    connect(ui->connectionSettingsWidget, &ConnectionSettingsWidget::connectionConfigChanged, this,
            &SerialPortWidget::onConnectionConfigChanged);
    connect(ui->connectionSettingsWidget, &ConnectionSettingsWidget::settingsEdited, this,
            &SerialPortWidget::onConnectionSettingsEdited);
    connect(ui->textBrowser, &QWidget::customContextMenuRequested, this, &SerialPortWidget::onReceiveContextMenuRequested);

    ConnectionController *c = m_controller;
    connect(c, &ConnectionController::readyRead, this, &SerialPortWidget::onReadData);
    connect(c, &ConnectionController::udpReadyRead, this, &SerialPortWidget::readUdpSocket);
    connect(c, &ConnectionController::serverMessage, this, &SerialPortWidget::handleNewMessage);
    connect(c, &ConnectionController::serverConnectionsChanged, this, &SerialPortWidget::changeConnState);
    connect(c, &ConnectionController::udpPeersChanged, this, &SerialPortWidget::changeUdpConnState);
    connect(c, &ConnectionController::tcpClientDisconnected, this, &SerialPortWidget::disconnectTcpClient);
    connect(c, &ConnectionController::serialPortLost, this, &SerialPortWidget::onSerialPortLost);
    connect(c, &ConnectionController::statusMessage, this, &SerialPortWidget::showStatus);
    connect(c, &ConnectionController::errorOccurred, this, [](const QString &text) { qWarning() << text; });
    connect(c, &ConnectionController::peerArrived, this, [this](const QString &peer) {
        if (peer.isEmpty())
            onTcpClientConnected();
    });

    const std::pair<QTimer *, const char *> named[] = {
        {&m_refreshTimer, "refreshTimer"}, {&m_portListTimer, "portListTimer"}, {&m_saveTimer, "saveTimer"},
        {&m_sendTimer, "sendTimer"}, {&m_rxLedTimer, "rxLedTimer"}, {&m_txLedTimer, "txLedTimer"},
        {&m_rfc2217Timer, "rfc2217Timer"}, {&m_reconnectTimer, "reconnectTimer"},
        {&m_breakReleaseTimer, "breakReleaseTimer"}, {&m_txRestoreTimer, "txRestoreTimer"}};
    for (const auto &[timer, name] : named)
        timer->setObjectName(QLatin1String(name));

    m_refreshTimer.setInterval(20);
    connect(&m_refreshTimer, &QTimer::timeout, this, &SerialPortWidget::onRefreshDisplay);
    m_portListTimer.setInterval(1000);
    connect(&m_portListTimer, &QTimer::timeout, this, &SerialPortWidget::onRefreshAvalablePorts);
    m_saveTimer.setInterval(5000);
    connect(&m_saveTimer, &QTimer::timeout, this, &SerialPortWidget::onSaveData);
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_sendTimer, &QTimer::timeout, this, &SerialPortWidget::onSendData);
    m_rxLedTimer.setSingleShot(true);
    m_txLedTimer.setSingleShot(true);
    connect(&m_rxLedTimer, &QTimer::timeout, this, [this] { onActivityTimeout(Received); });
    connect(&m_txLedTimer, &QTimer::timeout, this, [this] { onActivityTimeout(Sent); });
    m_reconnectTimer.setInterval(2000);
    m_reconnectTimer.setTimerType(Qt::PreciseTimer); // a returning device is promised within one period
    connect(&m_reconnectTimer, &QTimer::timeout, this, &SerialPortWidget::onReconnectTick);
    // Break's minimum durations are promises to the user, not approximations.
    m_breakReleaseTimer.setSingleShot(true);
    m_breakReleaseTimer.setTimerType(Qt::PreciseTimer);
    m_txRestoreTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_breakReleaseTimer, &QTimer::timeout, this, [this] {
        if (m_breakHeld && m_breakWatch.isValid() && m_breakWatch.elapsed() < kBreakMinimumMs)
            m_breakReleaseTimer.start(int(kBreakMinimumMs - m_breakWatch.elapsed()));
        else
            releaseBreak();
    });
    m_txRestoreTimer.setSingleShot(true);
    connect(&m_txRestoreTimer, &QTimer::timeout, this, &SerialPortWidget::restoreTxLamp);
    m_rfc2217Timer.setSingleShot(true);
    m_rfc2217Timer.setInterval(Rfc2217ClientSession::HandshakeTimeoutMs);
    connect(&m_rfc2217Timer, &QTimer::timeout, this, [this] { onRfc2217Result(m_rfc2217.handshakeTimedOut()); });

    buildLedRow();
    showSettings();
    syncWantedLines();
    rebuildDecoders();
    updateCounterLabels();
    refreshStatusLine();
    refreshLedRow();
    m_refreshTimer.start();
    m_portListTimer.start();
}

SerialPortWidget::~SerialPortWidget()
{
    closePort();
}

QString SerialPortWidget::portKey() const
{
    return ConnectionController::portKey(m_settings.ConnMode, m_portIndex);
}

void SerialPortWidget::applySettings(const FormatSetting &settings)
{
    displayPortBuffer(); // drain with the old decoders
    m_settings = settings;
    showSettings();
    syncWantedLines();
    rebuildDecoders();
    refreshLedRow();
}

// The controller applies the wanted output levels when the port opens; an open
// port keeps the levels the user last drove.
void SerialPortWidget::syncWantedLines()
{
    if (m_controller->serialPort()->isOpen())
        return;
    m_controller->setControlLine(ConnectionController::Dtr, m_settings.DtrOn);
    m_controller->setControlLine(ConnectionController::Rts, m_settings.RtsOn);
}

// ---- Controls ---------------------------------------------------------------

void SerialPortWidget::fillChoiceBoxes()
{
    // Filling would otherwise report index changes that overwrite the settings.
    const QSignalBlocker b1(ui->receiveEncodingBox), b2(ui->sendEncodingBox), b3(ui->cbTxLem),
        b4(ui->terminalEnterBox), b5(ui->sendChecksumBox);
    const QStringList encodings = WireTextCodecRegistry::availableEncodings();
    ui->receiveEncodingBox->addItems(encodings);
    ui->sendEncodingBox->addItems(encodings);
    fillBox(ui->cbTxLem, {{"None", 0}, {"CR (\\r)", 1}, {"LF (\\n)", 2}, {"CR & LF (\\r\\n)", 3}, {"LR & CR (\\n\\r)", 4}});
    fillBox(ui->terminalEnterBox, {{"CR (\\r)", 1}, {"LF (\\n)", 2}, {"CR & LF (\\r\\n)", 3}, {"LF & CR (\\n\\r)", 4}});
    fillBox(ui->sendChecksumBox, {{"None", 0}, {"Checksum-8 (SUM)", 1}, {"XOR (BCC)", 2}, {"CRC-8", 3},
                                  {"CRC-16/MODBUS", 4}, {"CRC-32", 5}});
}

void SerialPortWidget::showSettings()
{
    const QScopedValueRollback guard(m_updatingControls, true);
    const FormatSetting &s = m_settings;
    showConnectionControls();
    ui->asciiRadio->setChecked(s.ReceiveMsgForamt == TextFormat);
    ui->hexRadio->setChecked(s.ReceiveMsgForamt != TextFormat);
    ui->receiveEncodingBox->setEnabled(s.ReceiveMsgForamt == TextFormat);
    ui->receiveEncodingBox->setCurrentIndex(qMax(0, WireTextCodecRegistry::lookup(s.ReceiveEncoding)));
    ui->rxAutoFeedLine->setChecked(s.RxAutoFeedLine);
    ui->sbAutoFlInterval->setValue(s.AutoFeedInterval);
    ui->displayTimeBox->setChecked(s.DisplayMsgTime);
    ui->asciiSendRaido->setChecked(s.SendMsgFormat == TextFormat);
    ui->hexSendRadio->setChecked(s.SendMsgFormat != TextFormat);
    ui->sendEncodingBox->setEnabled(s.SendMsgFormat == TextFormat);
    ui->sendEncodingBox->setCurrentIndex(qMax(0, WireTextCodecRegistry::lookup(s.SendEncoding)));
    ui->autoSendBox->setChecked(s.AutoSend);
    ui->sendIntervelSB->setValue(s.SendInterval);
    selectData(ui->cbTxLem, s.TxAutoFeedLine ? s.TxLineEndingMode : 0, "refreshAutoFeedDisplay: Tx LineEndingMode not found:");
    selectData(ui->terminalEnterBox, s.TerminalEnterMode, nullptr);
    selectData(ui->sendChecksumBox, s.SendChecksum, "updateDisplay: SendChecksum mode not found:");
    ui->displaySendBox->setChecked(s.DisplaySendMsg);
    ui->textBrowser->setFont(s.displayFont);
    ui->textEdit->setFont(s.displayFont);
    if (s.SplitterLeft > 0 || s.SplitterRight > 0)
        ui->splitter->setSizes({s.SplitterLeft, s.SplitterRight});
    rebuildHistoryBox();
}

void SerialPortWidget::readControls()
{
    FormatSetting &s = m_settings;
    s.ReceiveMsgForamt = ui->asciiRadio->isChecked() ? TextFormat : HexFormat;
    s.SendMsgFormat = ui->asciiSendRaido->isChecked() ? TextFormat : HexFormat;
    s.RxAutoFeedLine = ui->rxAutoFeedLine->isChecked();
    s.AutoFeedInterval = ui->sbAutoFlInterval->value();
    s.DisplaySendMsg = ui->displaySendBox->isChecked();
    s.DisplayMsgTime = ui->displayTimeBox->isChecked();
    s.AutoSend = ui->autoSendBox->isChecked();
    s.SendInterval = ui->sendIntervelSB->value();
    s.TxLineEndingMode = ui->cbTxLem->currentData().toInt();
    s.TxAutoFeedLine = s.TxLineEndingMode != 0;
    s.SendChecksum = ui->sendChecksumBox->currentData().toInt();
    m_lineByLine = ui->cbLinebyLine->isChecked();
}

void SerialPortWidget::rebuildHistoryBox()
{
    const QSignalBlocker block(ui->sendBox);
    ui->sendBox->clear();
    for (const QString &entry : std::as_const(m_settings.SendList))
        ui->sendBox->addItem(historyLabel(entry));
}

void SerialPortWidget::on_asciiRadio_toggled(bool checked)
{
    ui->receiveEncodingBox->setEnabled(checked);
}

void SerialPortWidget::on_asciiSendRaido_toggled(bool checked)
{
    ui->sendEncodingBox->setEnabled(checked);
}

void SerialPortWidget::on_receiveEncodingBox_currentIndexChanged(int)
{
    onEncodingBoxChanged();
}

void SerialPortWidget::on_sendEncodingBox_currentIndexChanged(int)
{
    onEncodingBoxChanged();
}

void SerialPortWidget::onEncodingBoxChanged()
{
    if (m_updatingControls)
        return;
    const QString rx = WireTextCodecRegistry::canonicalName(ui->receiveEncodingBox->currentText());
    const QString tx = WireTextCodecRegistry::canonicalName(ui->sendEncodingBox->currentText());
    if (rx == m_settings.ReceiveEncoding && tx == m_settings.SendEncoding)
        return;
    displayPortBuffer();
    m_settings.ReceiveEncoding = rx;
    m_settings.SendEncoding = tx;
    rebuildDecoders();
    emit settingsChanged();
}

void SerialPortWidget::rebuildDecoders()
{
    // C1 escape bytes are characters' inner bytes in the multi-byte encodings.
    m_escapeFilter.setC1Controls(AnsiEscapeFilter::encodingHasC1Controls(m_settings.ReceiveEncoding));
    m_uiRxDecoder = WireTextCodecRegistry::createDecoder(m_settings.ReceiveEncoding);
    m_logRxDecoder = WireTextCodecRegistry::createDecoder(m_settings.ReceiveEncoding);
    m_consoleRxDecoder = WireTextCodecRegistry::createDecoder(m_settings.ReceiveEncoding);
    m_uiTxDecoder = WireTextCodecRegistry::createDecoder(m_settings.SendEncoding);
    m_logTxDecoder = WireTextCodecRegistry::createDecoder(m_settings.SendEncoding);
    m_consoleTxDecoder = WireTextCodecRegistry::createDecoder(m_settings.SendEncoding);
}

// ---- Receive path -----------------------------------------------------------

void SerialPortWidget::onReadData()
{
    QByteArray bytes = m_controller->readAvailable(m_settings.ConnMode);
    if (m_settings.ConnMode == RemoteSerial && !bytes.isEmpty()) {
        const Rfc2217Result result = m_rfc2217.decode(bytes);
        bytes = result.data;
        onRfc2217Result(result);
    }
    ingestReceived(bytes, true, QString());
}

void SerialPortWidget::readUdpSocket()
{
    const auto datagrams = m_controller->readUdpDatagrams();
    for (const auto &[datagram, peer] : datagrams)
        ingestReceived(datagram, false, peer);
}

void SerialPortWidget::handleNewMessage(const QString &peer)
{
    ingestReceived(m_controller->serverTakeMessage(peer), false, peer);
}

void SerialPortWidget::ingestReceived(const QByteArray &bytes, bool fromRead, const QString &peer)
{
    if (bytes.isEmpty())
        return;
    emit rxTapped(bytes, peer);
    if (fromRead && m_state == Paused) {
        flashActivity(Received);
        m_pausedBytes.append(bytes);
        return;
    }
    recordTraffic(bytes, true, 1);
}

void SerialPortWidget::recordTraffic(const QByteArray &bytes, bool countBytes, int direction)
{
    QByteArray data = bytes;
    if (direction == 1) {
        flashActivity(Received);
        if (m_settings.ReceiveMsgForamt == TextFormat)
            data = m_escapeFilter.filter(bytes);
        if (countBytes) {
            m_rxByteCount += quint64(bytes.size());
            updateCounterLabels();
        }
        if (data.isEmpty())
            return;
        if (m_consoleWatched)
            emit consoleTraffic(portKey(), false,
                                formatForConsole(data, 1, m_consoleRxDecoder.get(), m_settings, QDateTime::currentDateTime()));
    }
    m_displayQueue.append(rxData{QDateTime::currentDateTime(), direction, data});
}

void SerialPortWidget::onRefreshDisplay()
{
    m_settings.RxAutoFeedLine = ui->rxAutoFeedLine->isChecked();
    m_settings.AutoFeedInterval = ui->sbAutoFlInterval->value();
    m_settings.TxLineEndingMode = ui->cbTxLem->currentData().toInt();
    m_settings.TxAutoFeedLine = m_settings.TxLineEndingMode != 0;
    m_started = true;
    if (m_state != Paused)
        displayPortBuffer();
}

void SerialPortWidget::displayPortBuffer()
{
    if (m_displayQueue.isEmpty())
        return;
    QString logText;
    // Take the batch first: inserting can run nested events that queue more.
    const QList<rxData> batch = std::exchange(m_displayQueue, {});
    for (const rxData &chunk : batch) {
        decodeBufferForUi(chunk);
        logText += decodeBufferForLog(chunk);
    }
    flushViewSegments();
    m_findBar->afterDisplayBatch();
    m_logWriter->write(logText, m_settings);
}

QString SerialPortWidget::stampFor(const rxData &chunk, bool forLog) const
{
    if (forLog)
        return m_settings.LogTimestampEnabled ? expandTimePattern(chunk.time, m_settings.LogFileTime) : QString();
    if (!m_settings.DisplayMsgTime)
        return {};
    return chunk.time.toString(chunk.direction == 2 ? m_settings.TxTimeFormat : m_settings.RxTimeFormat);
}

QString SerialPortWidget::decodeBufferForUi(const rxData &chunk)
{
    const bool wasEnded = m_uiFormatter.lineEnded();
    WireTextDecoder *decoder = chunk.direction == 1 ? m_uiRxDecoder.get() : m_uiTxDecoder.get();
    QString text = m_uiFormatter.format(chunk, decoder, m_settings, stampFor(chunk, false));
    if (text == QLatin1String("\n") && wasEnded) {
        qDebug() << "Skip feed for isEndWithLineFeed";
        return text;
    }
    if (m_settings.FormatDisplayColor) {
        queueViewText(text, chunk.direction == 1 ? m_settings.ReceiveTextColor : m_settings.SendTextColor);
    } else {
        if (text.contains(QLatin1Char('\r'))) {
            text.remove(QLatin1Char('\r'));
            m_uiFormatter.setLineEnded(text.endsWith(QLatin1Char('\n')));
        }
        queueViewText(text, QColor());
    }
    return text;
}

QString SerialPortWidget::decodeBufferForLog(const rxData &chunk)
{
    WireTextDecoder *decoder = chunk.direction == 1 ? m_logRxDecoder.get() : m_logTxDecoder.get();
    return m_logFormatter.format(chunk, decoder, m_settings, stampFor(chunk, true));
}

void SerialPortWidget::queueViewText(const QString &text, const QColor &colour)
{
    if (text.isEmpty())
        return;
    if (!m_viewSegments.isEmpty() && m_viewSegments.last().colour == colour)
        m_viewSegments.last().text += text;
    else
        m_viewSegments.append({text, colour});
}

// A line longer than this is broken in the view (never in the log): laying out
// one ever-growing paragraph costs more with every chunk, which a hex stream
// or a device that never sends a line feed would otherwise make unbounded.
static constexpr int kMaxViewLine = 4096;

QString SerialPortWidget::breakLongLines(const QString &text)
{
    QString out;
    int lineLength = m_viewLineLength;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n')) {
            lineLength = 0;
            continue;
        }
        if (++lineLength <= kMaxViewLine || text.at(i).isLowSurrogate())
            continue;
        // Prefer breaking after a blank (a hex byte boundary) near the limit.
        qsizetype at = i;
        for (qsizetype back = i; back > from && back > i - 64; --back) {
            if (text.at(back - 1) == QLatin1Char(' ')) {
                at = back;
                break;
            }
        }
        out += QStringView(text).mid(from, at - from);
        out += QLatin1Char('\n');
        from = at;
        lineLength = int(i - at + 1);
    }
    out += QStringView(text).mid(from);
    m_viewLineLength = lineLength;
    return out;
}

void SerialPortWidget::flushViewSegments()
{
    if (m_viewSegments.isEmpty())
        return;
    QList<ViewSegment> segments = std::exchange(m_viewSegments, {});
    qsizetype total = 0;
    for (const ViewSegment &segment : std::as_const(segments))
        total += segment.text.size();
    QTextDocument *doc = ui->textBrowser->document();
    const qsizetype limit = m_settings.DisplayBufferSize;
    const qsizetype half = qMax<qsizetype>(1, limit / 2);
    const qsizetype docChars = doc->characterCount() - 1;
    const qsizetype content = docChars + total;
    // Trimming takes half the limit at a time, as often as it takes to get
    // back under the limit; what it would remove from this batch is never
    // inserted, so a burst costs no more than the view can hold.
    qsizetype remove = limit > 0 && content > limit ? (content - limit + half - 1) / half * half : 0;
    remove = qMin(remove, content);
    if (remove > 0 && remove >= docChars) {
        m_trimmedChars += remove;
        ui->textBrowser->clear();
        m_viewLineLength = 0;
        m_forceScroll = true;
        qsizetype drop = remove - docChars;
        while (drop > 0 && !segments.isEmpty()) {
            ViewSegment &first = segments.first();
            if (first.text.size() <= drop) {
                drop -= first.text.size();
                segments.removeFirst();
            } else {
                if (first.text.at(drop).isLowSurrogate())
                    ++drop;
                first.text.remove(0, drop);
                drop = 0;
            }
        }
        remove = 0;
    }
    QScrollBar *bar = ui->textBrowser->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    for (const ViewSegment &segment : std::as_const(segments)) {
        QTextCharFormat format;
        if (segment.colour.isValid())
            format.setForeground(segment.colour);
        cursor.insertText(breakLongLines(segment.text), format);
    }
    cursor.endEditBlock();
    if (remove > 0)
        trimReceiveView(int(remove));
    if (atBottom || m_forceScroll) {
        bar->setValue(bar->maximum());
        m_forceScroll = false;
    }
}

void SerialPortWidget::trimReceiveView(int n)
{
    QTextDocument *doc = ui->textBrowser->document();
    n = qMin(n, doc->characterCount() - 1);
    QScrollBar *bar = ui->textBrowser->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    m_forceScroll = true;
    m_trimmedChars += n;
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.setPosition(0);
    cursor.setPosition(n, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
    if (atBottom)
        bar->setValue(bar->maximum());
}

void SerialPortWidget::insertNotice(const QString &text)
{
    queueViewText(QStringLiteral("\n-- %1 --\n").arg(text), kNoticeColour);
    flushViewSegments();
    m_uiFormatter.setLineEnded(true);
}

void SerialPortWidget::clearReceiveView()
{
    ui->textBrowser->clear();
    m_viewLineLength = 0;
    m_uiFormatter.setLineEnded(true);
    m_rxByteCount = 0;
    m_txByteCount = 0;
    rebuildDecoders();
    updateCounterLabels();
    m_findBar->viewCleared();
}

QString SerialPortWidget::receiveText() const
{
    return ui->textBrowser->toPlainText();
}

void SerialPortWidget::onReceiveContextMenuRequested(const QPoint &pos)
{
    QMenu *menu = ui->textBrowser->createStandardContextMenu();
    menu->addSeparator();
    QAction *find = menu->addAction(tr("Find..."));
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, m_findBar, &ReceiveFindBar::openBar);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(ui->textBrowser->viewport()->mapToGlobal(pos));
}

void SerialPortWidget::updateCounterLabels()
{
    m_rxCountLabel->setText(tr("Rx: %L1 Bytes").arg(m_rxByteCount));
    m_txCountLabel->setText(tr("Tx: %L1 Bytes").arg(m_txByteCount));
    if (m_settings.LogSaveFlag) {
        const QString path = m_settings.resolvedLogPath.isEmpty() ? m_settings.LogFilePath : m_settings.resolvedLogPath;
        m_logLabel->setText(QFileInfo(path).fileName());
        m_logLabel->setToolTip(path);
    } else {
        m_logLabel->setText(QStringLiteral("  "));
        m_logLabel->setToolTip(QString());
    }
}

// ---- Send path --------------------------------------------------------------

void SerialPortWidget::on_sendButton_clicked()
{
    QString refusal;
    if (!guardPortUse(PortRequester::User, PortOperation::SendData, &refusal)) {
        showStatus(refusal, 5000);
        return;
    }
    readControls();
    // Open first so that a click on a closed pane both opens and sends.
    if (!m_controller->isConnectionOpen(m_settings.ConnMode) && !openPort())
        return;
    sendBytes(buildPayload(ui->textEdit->toPlainText()));
}

QByteArray SerialPortWidget::buildPayload(const QString &text)
{
    if (text.isEmpty()) {
        ui->textEdit->setFocus();
        return {};
    }
    const bool hex = ui->hexSendRadio->isChecked();
    FormatSetting settings = m_settings;
    settings.SendMsgFormat = hex ? HexFormat : TextFormat;
    const SendEncodeResult result = encodeSend(text, hex, settings);
    if (!result.ok) {
        showStatus(result.error, 10000);
        return {};
    }
    const QString history = hex ? result.historyText.toUpper() : text;
    m_settings.SendList = updatedHistory(m_settings.SendList, history);
    if (hex) {
        const QString previous = ui->textEdit->toPlainText();
        ui->textEdit->clear();
        ui->textEdit->appendPlainText(m_settings.FormatSend ? result.historyText : previous);
    }
    if (!m_updatingControls)
        emit settingsChanged();
    if (m_settings.DisplaySendMsg && !result.bytes.isEmpty()) {
        recordTraffic(result.bytes, false, 2);
        displayPortBuffer();
    }
    rebuildHistoryBox();
    return result.bytes;
}

bool SerialPortWidget::sendBytes(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return false;
    if (m_consoleWatched)
        emit consoleTraffic(portKey(), true, formatForConsole(bytes, 2, m_consoleTxDecoder.get(), m_settings, QDateTime::currentDateTime()));
    bool ok = false;
    switch (m_settings.ConnMode) {
    case SerialPort:
        readControls();
        ok = m_controller->writeSerial(bytes, m_settings, currentRealPortName());
        break;
    case TcpServer:
        ok = ui->clientTw->topLevelItemCount() > 0
            && m_controller->serverSendToIndex(bytes, ui->clientTw->indexOfTopLevelItem(ui->clientTw->currentItem()));
        break;
    case TcpClient:
    case RemoteSerial:
        if (!m_controller->tcpClientSocket())
            openPort();
        ok = m_controller->writeTcpClient(m_settings.ConnMode == RemoteSerial ? m_rfc2217.encodeData(bytes) : bytes);
        break;
    case UdpServer:
        ok = m_controller->udpSendToPeerRow(bytes, ui->clientTw->indexOfTopLevelItem(ui->clientTw->currentItem()));
        break;
    case UdpClient:
    case UdpGroup:
        ok = m_controller->udpSendTo(bytes, m_settings.LastTargetHost.value(0), quint16(m_settings.LastTargetPort));
        break;
    default:
        return false;
    }
    if (ok) {
        m_txByteCount += quint64(bytes.size());
        updateCounterLabels();
        if (!m_breakHeld)
            flashActivity(Sent);
    }
    return ok;
}

void SerialPortWidget::onSendData()
{
    if (!m_controller->isConnectionOpen(m_settings.ConnMode) || m_transferRunning || !m_settings.AutoSend)
        return;
    const QString all = ui->textEdit->toPlainText();
    if (!m_lineByLine) {
        sendBytes(buildPayload(all));
        return;
    }
    const QStringList lines = all.split(QLatin1Char('\n'));
    m_lineIndex = m_lineIndex % int(lines.size());
    const QString line = lines.at(m_lineIndex);
    ++m_lineIndex;
    if (!line.isEmpty())
        sendBytes(buildPayload(line));
}

void SerialPortWidget::on_autoSendBox_clicked()
{
    m_settings.SendInterval = ui->sendIntervelSB->value();
    m_settings.AutoSend = ui->autoSendBox->isChecked();
    m_refreshTimer.setInterval(20);
    if (!m_settings.AutoSend) {
        m_sendTimer.stop();
        return;
    }
    qDebug() << "Update sendTimer interval to" << m_settings.SendInterval;
    m_sendTimer.setInterval(m_settings.SendInterval);
    if (m_state != Closed)
        m_sendTimer.start();
}

void SerialPortWidget::on_sendIntervelSB_valueChanged(int value)
{
    m_settings.SendInterval = value;
    m_sendTimer.setInterval(value);
}

void SerialPortWidget::on_cbLinebyLine_stateChanged(int)
{
    readControls();
}

void SerialPortWidget::on_sendChecksumBox_activated(int index)
{
    if (index >= 0)
        m_settings.SendChecksum = ui->sendChecksumBox->itemData(index).toInt();
}

void SerialPortWidget::on_terminalEnterBox_currentIndexChanged(int index)
{
    if (index >= 0 && !m_updatingControls)
        m_settings.TerminalEnterMode = ui->terminalEnterBox->itemData(index).toInt();
}

void SerialPortWidget::on_sendBox_activated(int index)
{
    if (index < 0 || index >= m_settings.SendList.size())
        return;
    ui->textEdit->clear();
    ui->textEdit->appendPlainText(m_settings.SendList.at(index));
}

bool SerialPortWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->textBrowser && event->type() == QEvent::KeyPress)
        sendTerminalKey(static_cast<QKeyEvent *>(event));
    if (watched == m_txCell || watched == m_rtsCell || watched == m_dtrCell) {
        if (event->type() == QEvent::MouseButtonPress) {
            event->accept();
            return ledCellPressed(watched);
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            event->accept();
            if (watched == m_txCell) {
                if (m_breakHeld && m_breakWatch.isValid() && m_breakWatch.elapsed() < kBreakMinimumMs)
                    m_breakReleaseTimer.start(int(kBreakMinimumMs - m_breakWatch.elapsed()));
                else if (m_breakHeld || m_breakReleaseTimer.isActive())
                    releaseBreak();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool SerialPortWidget::sendTerminalKey(QKeyEvent *event)
{
    if (m_transferRunning || !m_controller->isConnectionOpen(m_settings.ConnMode)
        || ui->hexSendRadio->isChecked())
        return false;
    QByteArray bytes;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        bytes = enterBytes(m_settings.TerminalEnterMode);
    } else {
        const QString text = event->text();
        if (text.isEmpty())
            return false;
        const WireEncodeResult encoded = WireTextCodecRegistry::encode(text, m_settings.SendEncoding);
        if (!encoded.ok) {
            showStatus(encoded.error, 10000);
            return false;
        }
        bytes = encoded.bytes;
    }
    if (bytes.isEmpty() || !sendBytes(bytes))
        return false;
    ui->textBrowser->moveCursor(QTextCursor::End);
    return true;
}

// ---- Life cycle -------------------------------------------------------------

// The connection controls are read and shown only through these helpers.
QString SerialPortWidget::currentRealPortName() const
{
    // A network entry in the port box must not make the pane forget its serial port.
    const ConnectionSettingsWidget *controls = ui->connectionSettingsWidget;
    return controls->isSerialPortSelected() ? controls->portName() : m_settings.PortName;
}

bool SerialPortWidget::isSerialPortSelected() const
{
    return ui->connectionSettingsWidget->isSerialPortSelected();
}

ConnectionSettingsWidget *SerialPortWidget::connectionSettings() const
{
    return ui->connectionSettingsWidget;
}

void SerialPortWidget::readConnectionControls()
{
    ui->connectionSettingsWidget->storeTo(m_settings);
}

void SerialPortWidget::showConnectionControls()
{
    ui->connectionSettingsWidget->loadFrom(m_settings);
}

void SerialPortWidget::refillPortList()
{
    ui->connectionSettingsWidget->refreshPorts();
}

void SerialPortWidget::onConnectionSettingsEdited()
{
    QString refusal;
    if (!guardPortUse(PortRequester::User, PortOperation::PortSettings, &refusal)) {
        showStatus(refusal, 5000);
        showConnectionControls();
        return;
    }
    // New line parameters take effect at once: an open serial port is reopened with
    // them, a remote port is sent them. Hosts and ports are read at the next open,
    // so that half-typed host names do not end up in the history.
    const int mode = m_settings.ConnMode;
    if (mode == SerialPort && m_controller->serialPort()->isOpen()) {
        onConnectionConfigChanged();
        return;
    }
    FormatSetting edited = m_settings;
    ui->connectionSettingsWidget->storeTo(edited);
    if (edited.ConnMode == mode && (mode == SerialPort || mode == RemoteSerial)) {
        m_settings.BaudRate = edited.BaudRate;
        m_settings.DataBits = edited.DataBits;
        m_settings.Parity = edited.Parity;
        m_settings.StopBits = edited.StopBits;
        m_settings.FlowControl = edited.FlowControl;
        m_settings.UseRemoteSerialConfig = edited.UseRemoteSerialConfig;
    }
    if (mode == RemoteSerial && m_rfc2217.state() == Rfc2217ClientSession::Active)
        pushRemoteConfig();
    refreshLedRow();
    if (!m_updatingControls)
        emit settingsChanged();
}

bool SerialPortWidget::openPort(const QString &portNameOverride)
{
    m_reconnectTimer.stop();
    disarmReconnect();
    readControls();
    readConnectionControls();
    m_logFormatter.setStampDue(true);
    m_lineIndex = 0;
    if (m_state == Paused) {
        m_refreshTimer.start();
        if (!m_pausedBytes.isEmpty())
            recordTraffic(std::exchange(m_pausedBytes, QByteArray()), true, Received);
    } else {
        rebuildDecoders();
        m_refreshTimer.start();
    }
    m_state = Running;

    bool ok = false;
    const FormatSetting &s = m_settings;
    switch (s.ConnMode) {
    case SerialPort:
        readConnectionControls();
        syncWantedLines();
        ok = m_controller->openSerialPort(s, portNameOverride, currentRealPortName(), false);
        refreshLedRow();
        break;
    case TcpClient:
    case RemoteSerial:
        // The host is the first entry of the host history, so it is always in it.
        if (!m_controller->tcpClientSocket()) {
            m_rfc2217.reset();
            m_controller->connectTcpClient(s.LastTargetHost.value(0), quint16(s.LastTargetPort));
        }
        ok = true;
        break;
    case TcpServer:
        m_controller->listenTcp(QHostAddress::Any, quint16(s.LastTargetPort));
        ok = m_controller->isConnectionOpen(TcpServer);
        break;
    case UdpServer:
        m_controller->bindUdp(quint16(s.LastTargetPort));
        ok = m_controller->isConnectionOpen(UdpServer);
        break;
    case UdpClient:
    case UdpGroup:
        m_controller->bindUdp(s.UdpLocalPort);
        ok = m_controller->isConnectionOpen(s.ConnMode);
        break;
    default:
        break;
    }
    if (!ok) {
        m_state = Closed;
        m_sendTimer.stop();
        m_saveTimer.stop();
        releaseBreak();
        refreshLedRow();
        refreshStatusLine();
        return false;
    }
    const QString sessionName = s.ConnMode == SerialPort ? (portNameOverride.isNull() ? s.PortName : portNameOverride)
                                                         : portKey();
    m_settings.resolvedLogPath = resolveLogName(m_settings.LogFilePath, QFileInfo(sessionName).fileName());
    if (m_settings.AutoSend) {
        m_sendTimer.setInterval(m_settings.SendInterval);
        m_sendTimer.start();
    } else {
        m_sendTimer.stop();
    }
    qDebug() << "Start saveTimer";
    m_saveTimer.start();
    refreshLedRow();
    refreshStatusLine();
    updateCounterLabels();
    return true;
}

void SerialPortWidget::closePort()
{
    const bool wasActive = m_state != Closed || m_sendTimer.isActive() || m_saveTimer.isActive();
    if (m_transferRunning)
        setTransferRunning(false);
    m_state = Closed;
    m_sendTimer.stop();
    m_saveTimer.stop();
    m_reconnectTimer.stop();
    disarmReconnect();
    m_rfc2217Timer.stop();
    m_pausedBytes.clear();
    releaseBreak();
    m_controller->closeConnection(m_settings.ConnMode, currentRealPortName());
    refreshLedRow();
    if (wasActive) {
        displayPortBuffer();
        onSaveData();
    }
    refreshStatusLine();
}

void SerialPortWidget::pauseView()
{
    if (m_transferRunning) {
        showStatus(tr("A file transfer is running; the view cannot be paused."), 5000);
        return;
    }
    m_sendTimer.stop();
    m_state = Paused;
    onSaveData();
}

void SerialPortWidget::setTransferRunning(bool running)
{
    if (running == m_transferRunning)
        return;
    m_transferRunning = running;
    // Automatic sending would interleave with the transfer's frames.
    if (running) {
        m_sendTimerWasRunning = m_sendTimer.isActive();
        m_sendTimer.stop();
    } else if (std::exchange(m_sendTimerWasRunning, false) && m_settings.AutoSend
               && m_controller->isConnectionOpen(m_settings.ConnMode)) {
        m_sendTimer.start();
    }
    refreshLedRow();
}

bool SerialPortWidget::guardPortUse(PortRequester requester, PortOperation operation, QString *message) const
{
    if (!m_transferRunning)
        return true;
    QString text;
    if (requester == PortRequester::Transfer) {
        if (operation != PortOperation::PortSettings)
            return true;
        text = tr("A file transfer is running.");
    } else {
        switch (operation) {
        case PortOperation::SendData:
            text = tr("A file transfer is using this port. Sending data now would corrupt it.");
            break;
        case PortOperation::ControlLines:
            text = tr("A file transfer is using this port. Changing the control lines would interrupt it.");
            break;
        case PortOperation::PortSettings:
            text = tr("A file transfer is using this port. Changing the port settings would reopen it and end the transfer.");
            break;
        }
    }
    if (message)
        *message = text;
    return false;
}

void SerialPortWidget::setAutoReconnect(bool on)
{
    m_autoReconnect = on;
    m_controller->setWatchPortLoss(on);
    if (!on) {
        m_reconnectTimer.stop();
        disarmReconnect();
    }
}

QLabel *SerialPortWidget::bridgeBadge() const
{
    return ui->bridgeBadgeLabel;
}

void SerialPortWidget::onSaveData()
{
    QString header;
    if (m_settings.ConnMode == SerialPort && m_controller->isConnectionOpen(SerialPort)) {
        header = QStringLiteral("Port Name: ") + m_controller->serialPort()->portName() + QStringLiteral("\n")
            + QStringLiteral(" Baudrate: ") + QString::number(m_controller->serialPort()->baudRate())
            + QStringLiteral("\n\n");
    }
    QString message;
    if (m_logWriter->flush(m_settings, currentRealPortName(), header, &message))
        return;
    if (message.isEmpty())
        message = tr("Please input correct log file name!");
    updateCounterLabels();
    emit logFailed(message);
    // Not exec(): a failed log must not stall the port behind a modal loop.
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Warning"), message, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString SerialPortWidget::devicePath(const QString &name)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name))
        return name;
    return QStringLiteral("/dev/") + name;
}

// The system's port list misses pseudo-terminals and /dev/serial/by-id links,
// so a port whose device path exists counts as present too.
bool SerialPortWidget::isPortPresent(const QString &name, const QList<QSerialPortInfo> &ports)
{
    if (name.isEmpty())
        return false;
    for (const QSerialPortInfo &info : ports) {
        if (info.portName() == name || info.systemLocation() == name)
            return true;
    }
#ifndef Q_OS_WIN
    return QFileInfo::exists(devicePath(name));
#else
    return false;
#endif
}

void SerialPortWidget::onRefreshAvalablePorts()
{
    const auto ports = availableSerialPorts();
    QString signature;
    for (const QSerialPortInfo &info : ports)
        signature += info.portName();

    // Without automatic reconnection the controller leaves a vanished port open;
    // the check then closes it so that the pane shows it as closed.
    if (m_state != Closed && m_settings.ConnMode == SerialPort && !m_reconnectArmed
        && m_controller->serialPort()->isOpen() && !isPortPresent(m_settings.PortName, ports)) {
        m_controller->serialPort()->close();
        onSerialPortLost();
    }

    if (signature != m_portListSignature) {
        m_portListSignature = signature;
        qDebug() << "onRefreshAvalablePorts:" << "Refill Ports Info." << "currnetSettings.name =" << m_settings.PortName;
        refillPortList();
    }
    ui->sendButton->setText(m_state == Running ? tr("Send") : tr("Open"));
    refreshStatusLine();
    if (m_settings.ConnMode == SerialPort)
        refreshLedRow();
    readControls();
}

static QString socketStateText(QAbstractSocket::SocketState state)
{
    switch (state) {
    case QAbstractSocket::HostLookupState: return SerialPortWidget::tr("The socket is performing a host name lookup.");
    case QAbstractSocket::ConnectingState: return SerialPortWidget::tr("The socket has started establishing a connection...");
    case QAbstractSocket::ConnectedState: return SerialPortWidget::tr("Connection is established.");
    case QAbstractSocket::BoundState: return SerialPortWidget::tr("The socket is bound to an address and port.");
    case QAbstractSocket::ClosingState:
        return SerialPortWidget::tr("The socket is about to close (data may still be waiting to be written).");
    case QAbstractSocket::ListeningState: return SerialPortWidget::tr("For internal use only.");
    default: return SerialPortWidget::tr("The socket is not connected");
    }
}

void SerialPortWidget::refreshStatusLine()
{
    switch (m_settings.ConnMode) {
    case SerialPort:
        refreshSerialStatus();
        break;
    case TcpServer:
        onRefreshTcpServerDisplay();
        break;
    case TcpClient:
    case RemoteSerial:
        refreshSocketStatus();
        break;
    case UdpServer:
    case UdpClient:
        onRefreshUdpClientDisplay();
        break;
    default:
        break;
    }
}

void SerialPortWidget::refreshSerialStatus()
{
    QSerialPort *port = m_controller->serialPort();
    QString name = port->isOpen() ? port->portName() : currentRealPortName();
    if (name.startsWith(QLatin1String("cu.")))
        name.remove(0, 3);
    if (!port->isOpen()) {
        // A lost port that is being waited for keeps the pane's state.
        if (!m_reconnectArmed)
            m_state = Closed;
        setStatusLine(QStringLiteral("<font color = red> %1 CLOSED </font>").arg(name));
        ui->sendButton->setText(tr("Open"));
        updateCounterLabels();
        return;
    }
    if (m_state != Paused)
        m_state = Running;
    const QString parity = port->parity() == QSerialPort::NoParity ? QStringLiteral("NONE")
        : port->parity() == QSerialPort::EvenParity               ? QStringLiteral("EVEN")
        : port->parity() == QSerialPort::OddParity                ? QStringLiteral("ODD")
                                                                   : QString();
    const QString stop = port->stopBits() == QSerialPort::TwoStop ? QStringLiteral("2")
        : port->stopBits() == QSerialPort::OneAndHalfStop         ? QStringLiteral("1.5")
                                                                   : QStringLiteral("1");
    const QString flow = port->flowControl() == QSerialPort::HardwareControl ? QStringLiteral("Hardware")
        : port->flowControl() == QSerialPort::SoftwareControl                ? QStringLiteral("Xon/Xoff")
                                                                              : QStringLiteral("OFF");
    setStatusLine(QStringLiteral("<font color = green> %1 OPENED, %2, %3, %4, %5, %6 </font>")
                      .arg(name)
                      .arg(port->baudRate())
                      .arg(int(port->dataBits()))
                      .arg(parity, stop, flow));
    ui->sendButton->setText(tr("Send"));
    updateCounterLabels();
}

void SerialPortWidget::refreshSocketStatus()
{
    QTcpSocket *socket = m_controller->tcpClientSocket();
    const auto state = socket ? socket->state() : QAbstractSocket::UnconnectedState;
    const QString colour = state == QAbstractSocket::ConnectedState ? QStringLiteral("green") : QStringLiteral("red");
    setStatusLine(QStringLiteral("<font color = %1>%2 </font>").arg(colour, socketStateText(state)));
}

void SerialPortWidget::onRefreshTcpServerDisplay()
{
    const QStringList clients = m_controller->serverClients();
    const QString address = m_controller->serverAddressText();
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    if (!m_controller->isConnectionOpen(TcpServer)) {
        setStatusLine(QStringLiteral("<font color = red>%1 </font>").arg(socketStateText(QAbstractSocket::UnconnectedState)));
    } else if (clients.isEmpty()) {
        setStatusLine(QStringLiteral("<font color = green>%1 </font>")
                          .arg(tr("Waiting for Connections on %1:%2...").arg(address.left(colon), address.mid(colon + 1))));
        ui->sendButton->setText(tr("Open"));
    } else {
        setStatusLine(QStringLiteral("<font color = green>%1 </font>")
                          .arg(tr("Connected") + QLatin1Char(' ')
                               + tr("Listening on %1:%2").arg(address.left(colon), address.mid(colon + 1))));
        ui->sendButton->setText(tr("Send"));
        if (m_state != Paused)
            m_state = Running;
    }
    updateCounterLabels();
}

void SerialPortWidget::onRefreshUdpClientDisplay()
{
    const FormatSetting &s = m_settings;
    const bool bound = m_controller->isConnectionOpen(s.ConnMode);
    const QString text = bound ? tr("UDP socket is bound to %1:%2.").arg(QStringLiteral("0.0.0.0"))
                                     .arg(s.ConnMode == UdpServer ? s.LastTargetPort : int(s.UdpLocalPort))
                               : socketStateText(QAbstractSocket::UnconnectedState);
    setStatusLine(QStringLiteral("<font color = %1>%2 </font>").arg(bound ? QStringLiteral("green") : QStringLiteral("red"), text));
    updateCounterLabels();
}

void SerialPortWidget::setStatusLine(const QString &html)
{
    m_statusLabel->setText(html);
}

QString SerialPortWidget::statusText() const
{
    return m_statusLabel->text();
}

void SerialPortWidget::showStatus(const QString &text, int timeoutMs)
{
    ui->statusbar->showMessage(text, timeoutMs);
    emit statusMessage(text, timeoutMs);
}

void SerialPortWidget::changeConnState()
{
    const QString current = ui->clientTw->currentItem() ? ui->clientTw->currentItem()->text(0) : QString();
    ui->clientTw->clear();
    const QStringList clients = m_controller->serverClients();
    for (const QString &peer : clients) {
        auto *item = new QTreeWidgetItem(ui->clientTw, {peer});
        if (peer == current || !ui->clientTw->currentItem())
            ui->clientTw->setCurrentItem(item);
    }
    ui->clientTw->setVisible(!clients.isEmpty());
    refreshStatusLine();
}

void SerialPortWidget::changeUdpConnState()
{
    ui->clientTw->clear();
    const auto &peers = m_controller->udpPeers();
    for (const UdpPeer &peer : peers)
        new QTreeWidgetItem(ui->clientTw, {peer.key()});
    const int row = m_controller->currentPeerRow();
    if (row >= 0 && row < ui->clientTw->topLevelItemCount())
        ui->clientTw->setCurrentItem(ui->clientTw->topLevelItem(row));
    ui->clientTw->setVisible(!peers.isEmpty());
}

// ---- Reconnection -----------------------------------------------------------

void SerialPortWidget::disarmReconnect()
{
    m_reconnectTimer.stop();
    m_reconnectArmed = false;
}

void SerialPortWidget::onSerialPortLost()
{
    releaseBreak();
    refreshLedRow();
    if (m_autoReconnect && m_state != Closed && m_settings.ConnMode == SerialPort) {
        m_reconnectArmed = true;
        showStatus(tr("Serial Port %1 lost, waiting for it to come back...").arg(m_settings.PortName), 3000);
        m_reconnectTimer.start();
    }
    refreshStatusLine();
}

void SerialPortWidget::disconnectTcpClient()
{
    displayPortBuffer();
    if (m_settings.ConnMode == RemoteSerial) {
        m_rfc2217Timer.stop();
        m_rfc2217.reset();
    }
    if (m_autoReconnect && m_state != Closed && isTcpClientMode(m_settings.ConnMode)) {
        showStatus(tr("Connection lost, reconnecting..."), 3000);
        m_reconnectTimer.start();
    }
    refreshLedRow();
    refreshStatusLine();
}

void SerialPortWidget::onReconnectTick()
{
    if (!m_autoReconnect) {
        disarmReconnect();
        return;
    }
    const FormatSetting &s = m_settings;
    switch (s.ConnMode) {
    case TcpClient:
    case RemoteSerial: {
        QTcpSocket *socket = m_controller->tcpClientSocket();
        if (!socket) {
            const QString host = s.LastTargetHost.value(0);
            showStatus(tr("Reconnecting to %1:%2 ...").arg(host).arg(s.LastTargetPort), 2000);
            m_rfc2217.reset();
            m_controller->connectTcpClient(host, quint16(s.LastTargetPort));
        } else if (socket->state() == QAbstractSocket::ConnectedState) {
            m_state = Running;
            disarmReconnect();
            showStatus(tr("TCP connection RESTORED"), 3000);
            refreshLedRow();
            refreshStatusLine();
        }
        break;
    }
    case SerialPort: {
        if (!m_reconnectArmed || m_controller->serialPort()->isOpen()) {
            disarmReconnect();
            break;
        }
        const QString name = s.PortName;
        if (!isPortPresent(name, availableSerialPorts()) || !m_controller->openSerialPort(s, name, name, true))
            break;
        m_settings.PortName = name;
        showConnectionControls();
        m_state = Running;
        disarmReconnect();
        refreshLedRow();
        refreshStatusLine();
        showStatus(tr("Serial Port %1 RECONNECTED").arg(name), 3000);
        break;
    }
    default:
        disarmReconnect();
        break;
    }
}

void SerialPortWidget::onConnectionConfigChanged()
{
    disarmReconnect();
    QString refusal;
    if (!guardPortUse(PortRequester::User, PortOperation::PortSettings, &refusal)) {
        showStatus(refusal, 5000);
        showConnectionControls(); // back to the settings the transfer runs with
        return;
    }
    const bool serialSelected = isSerialPortSelected();
    if (m_settings.ConnMode == SerialPort && m_controller->serialPort()->isOpen()) {
        releaseBreak();
        m_controller->closeConnection(SerialPort, currentRealPortName());
        readConnectionControls();
        if (serialSelected)
            m_controller->openSerialPort(m_settings, QString(), currentRealPortName(), false);
        else
            closePort(); // a network connection is chosen: nothing of the serial port stays open
    } else {
        closePort();
    }
    readConnectionControls();
    if (m_settings.ConnMode == SerialPort && !m_controller->serialPort()->isOpen())
        m_controller->serialPort()->setPortName(m_settings.PortName);
    refreshLedRow();
    refreshStatusLine();
    if (!m_updatingControls)
        emit settingsChanged();
}


// ---- Remote serial ----------------------------------------------------------

void SerialPortWidget::onTcpClientConnected()
{
    if (m_settings.ConnMode != RemoteSerial)
        return;
    m_rfc2217.reset();
    const QByteArray hello = m_rfc2217.start();
    if (!hello.isEmpty())
        m_controller->writeTcpClient(hello);
    m_rfc2217Timer.start();
    refreshLedRow();
}

void SerialPortWidget::onRfc2217Result(const Rfc2217Result &result)
{
    if (!result.reply.isEmpty())
        m_controller->writeTcpClient(result.reply);
    if (!result.message.isEmpty())
        showStatus(result.message, 3000);
    if (result.negotiationEnded) {
        m_rfc2217Timer.stop();
        if (m_rfc2217.state() == Rfc2217ClientSession::Active)
            pushRemoteConfig();
    }
    refreshLamps();
}

void SerialPortWidget::pushRemoteConfig()
{
    Rfc2217LineConfig config;
    config.baudRate = m_settings.BaudRate;
    config.dataBits = m_settings.DataBits;
    config.parity = m_settings.Parity;
    config.stopBits = m_settings.StopBits;
    config.flowControl = m_settings.FlowControl;
    config.dtrOn = m_settings.DtrOn;
    config.rtsOn = m_settings.RtsOn;
    config.useRemoteSerialConfig = m_settings.UseRemoteSerialConfig;
    const QByteArray bytes = m_rfc2217.applyConfig(config);
    if (!bytes.isEmpty())
        m_controller->writeTcpClient(bytes);
}

// ---- Control lines and lamps ------------------------------------------------

QWidget *SerialPortWidget::makeLedCell(const char *cellName, const char *ledName, const QString &label, HLed **led,
                                       QLabel **text)
{
    auto *cell = new QWidget(m_ledRow);
    cell->setObjectName(QLatin1String(cellName));
    auto *layout = new QHBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    *led = new HLed(cell);
    (*led)->setObjectName(QLatin1String(ledName));
    (*led)->setFixedSize(14, 14);
    (*led)->turnOff();
    auto *caption = new QLabel(label, cell);
    caption->setObjectName(QLatin1String(ledName) + QStringLiteral("Label"));
    layout->addWidget(*led);
    layout->addWidget(caption);
    if (text)
        *text = caption;
    cell->installEventFilter(this);
    return cell;
}

void SerialPortWidget::buildLedRow()
{
    m_ledRow = ui->controlLineLedsRow;
    m_ledGrid = qobject_cast<QGridLayout *>(m_ledRow->layout());
    m_txCell = makeLedCell("txLedCell", "txActivityLed", tr("TX"), &m_txLed, &m_txLabel);
    m_rxCell = makeLedCell("rxLedCell", "rxActivityLed", tr("RX"), &m_rxLed, nullptr);
    m_rtsCell = makeLedCell("rtsLedCell", "rtsLed", tr("RTS"), &m_rtsLed, nullptr);
    m_ctsCell = makeLedCell("ctsLedCell", "ctsLed", tr("CTS"), &m_ctsLed, nullptr);
    m_dtrCell = makeLedCell("dtrLedCell", "dtrLed", tr("DTR"), &m_dtrLed, nullptr);
    m_dsrCell = makeLedCell("dsrLedCell", "dsrLed", tr("DSR"), &m_dsrLed, nullptr);
    m_dcdCell = makeLedCell("dcdLedCell", "dcdLed", tr("DCD"), &m_dcdLed, nullptr);
    m_riCell = makeLedCell("riLedCell", "riLed", tr("RI"), &m_riLed, nullptr);
    // Outputs above the inputs they pair with: TX/RX, RTS/CTS, DTR/DSR, DCD/RI.
    m_ledGrid->addWidget(m_txCell, 0, 0);
    m_ledGrid->addWidget(m_rxCell, 1, 0);
    m_ledGrid->addWidget(m_rtsCell, 0, 1);
    m_ledGrid->addWidget(m_ctsCell, 1, 1);
    m_ledGrid->addWidget(m_dtrCell, 0, 2);
    m_ledGrid->addWidget(m_dsrCell, 1, 2);
    m_ledGrid->addWidget(m_dcdCell, 0, 3);
    m_ledGrid->addWidget(m_riCell, 1, 3);
    m_ledGrid->setColumnStretch(4, 1);
    const QString activity = tr("Lights while data is being sent or received");
    m_txLed->setToolTip(activity);
    m_rxLed->setToolTip(activity);
    m_rxCell->setToolTip(activity);
}

void SerialPortWidget::refreshLedRow()
{
    const int mode = m_settings.ConnMode;
    const bool serialLike = mode == SerialPort || mode == RemoteSerial;
    const bool keepRemote = m_settings.UseRemoteSerialConfig;
    const bool hardwareFlow = m_settings.FlowControl == QSerialPort::HardwareControl;
    m_ledRow->setVisible(m_settings.ShowControlLineLeds);
    for (QWidget *cell : {m_rtsCell, m_ctsCell, m_dtrCell, m_dsrCell, m_dcdCell, m_riCell})
        cell->setVisible(serialLike);
    const int rxRow = serialLike ? 1 : 0;
    const int rxColumn = serialLike ? 0 : 1;
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    m_ledGrid->getItemPosition(m_ledGrid->indexOf(m_rxCell), &row, &column, &rowSpan, &columnSpan);
    if (row != rxRow || column != rxColumn) {
        // In network modes the RX lamp takes the place of the hidden RTS cell.
        m_ledGrid->removeWidget(m_rxCell);
        m_ledGrid->removeWidget(m_rtsCell);
        if (serialLike)
            m_ledGrid->addWidget(m_rtsCell, 0, 1);
        m_ledGrid->addWidget(m_rxCell, rxRow, rxColumn);
    }

    const Qt::CursorShape hand = Qt::PointingHandCursor;
    const Qt::CursorShape arrow = Qt::ArrowCursor;
    QString txTip = tr("Lights while data is being sent or received");
    Qt::CursorShape txCursor = arrow;
    if (mode == SerialPort) {
        txTip = tr("Click to send a serial break (hold for longer)");
        txCursor = m_controller->serialPort()->isOpen() ? hand : arrow;
    } else if (mode == RemoteSerial && !keepRemote) {
        txTip = tr("Click to send a Break to the remote port (hold for longer)");
        txCursor = hand;
    } else if (mode == RemoteSerial) {
        txTip = tr("Lights while data is being sent or received. Clear \"Keep the remote port's own configuration\" "
                   "to send a Break to the remote port.");
    }
    m_txCell->setToolTip(txTip);
    m_txLed->setToolTip(txTip);
    m_txCell->setCursor(txCursor);

    for (const auto &[cell, name] : {std::pair{m_rtsCell, QStringLiteral("RTS")}, std::pair{m_dtrCell, QStringLiteral("DTR")}}) {
        QString tip;
        Qt::CursorShape cursor = arrow;
        if (mode == RemoteSerial && !keepRemote) {
            tip = tr("Click to toggle the remote %1 output; the lamp lights after the RFC 2217 server confirms it").arg(name);
            cursor = hand;
        } else if (mode == RemoteSerial) {
            tip = tr("Remote level reported by the RFC 2217 server");
        } else if (mode == SerialPort && cell == m_rtsCell && hardwareFlow) {
            tip = tr("RTS is managed automatically by RTS/CTS flow control");
        } else if (mode == SerialPort) {
            tip = cell == m_rtsCell ? tr("Click to toggle the RTS output") : tr("Click to toggle the DTR output");
            cursor = hand;
        }
        cell->setToolTip(tip);
        cell->setCursor(cursor);
    }
    refreshLamps();
}

void SerialPortWidget::refreshLamps()
{
    if (!m_settings.ShowControlLineLeds)
        return;
    HLed *inputs[] = {m_ctsLed, m_dsrLed, m_dcdLed, m_riLed};
    auto allInputsOff = [&] {
        for (HLed *led : inputs)
            led->turnOff();
    };
    switch (m_settings.ConnMode) {
    case SerialPort: {
        QSerialPort *port = m_controller->serialPort();
        const bool open = port->isOpen();
        if (m_settings.FlowControl == QSerialPort::HardwareControl) {
            m_rtsLed->setColor(HLed::amber());
            m_rtsLed->turnOn(open);
        } else {
            m_rtsLed->setColor(HLed::green());
            m_rtsLed->turnOn(m_controller->controlLineState(ConnectionController::Rts));
        }
        m_dtrLed->setColor(HLed::green());
        m_dtrLed->turnOn(m_controller->controlLineState(ConnectionController::Dtr));
        if (!open) {
            allInputsOff();
            break;
        }
        const QSerialPort::PinoutSignals pins = port->pinoutSignals();
        // Ports without modem lines (pseudo-terminals) fail this query; that is no port fault.
        if (port->error() != QSerialPort::NoError && port->error() != QSerialPort::ResourceError
            && port->error() != QSerialPort::ReadError)
            port->clearError();
        m_ctsLed->turnOn(pins.testFlag(QSerialPort::ClearToSendSignal));
        m_dsrLed->turnOn(pins.testFlag(QSerialPort::DataSetReadySignal));
        m_dcdLed->turnOn(pins.testFlag(QSerialPort::DataCarrierDetectSignal));
        m_riLed->turnOn(pins.testFlag(QSerialPort::RingIndicatorSignal));
        break;
    }
    case RemoteSerial: {
        const bool accepted = m_rfc2217.codec().comPortAccepted();
        auto remoteLamp = [&](HLed *led, bool known, bool level, bool wanted) {
            if (known) {
                led->setColor(HLed::green());
                led->turnOn(level);
            } else if (wanted && accepted) {
                led->setColor(HLed::amber());
                led->turnOn();
            } else {
                led->setColor(HLed::grey());
                led->turnOff();
            }
        };
        remoteLamp(m_rtsLed, m_rfc2217.remoteRtsKnown(), m_rfc2217.remoteRts(), m_settings.RtsOn);
        remoteLamp(m_dtrLed, m_rfc2217.remoteDtrKnown(), m_rfc2217.remoteDtr(), m_settings.DtrOn);
        if (!m_rfc2217.remoteModemStateKnown()) {
            allInputsOff();
            break;
        }
        const quint8 modem = m_rfc2217.remoteModemState();
        m_ctsLed->turnOn(modem & 0x10);
        m_dsrLed->turnOn(modem & 0x20);
        m_riLed->turnOn(modem & 0x40);
        m_dcdLed->turnOn(modem & 0x80);
        break;
    }
    default:
        m_rtsLed->turnOff();
        m_dtrLed->turnOff();
        allInputsOff();
        break;
    }
}

void SerialPortWidget::flashActivity(int direction)
{
    QTimer &timer = direction == Sent ? m_txLedTimer : m_rxLedTimer;
    if (timer.isActive()) {
        (direction == Sent ? m_txLedRetrigger : m_rxLedRetrigger) = true;
        return;
    }
    (direction == Sent ? m_txLed : m_rxLed)->turnOn();
    timer.start(80);
}

// Steady traffic blinks the lamp: 80 ms on, 70 ms off, for as long as it keeps coming.
void SerialPortWidget::onActivityTimeout(int direction)
{
    const bool tx = direction == Sent;
    QTimer &timer = tx ? m_txLedTimer : m_rxLedTimer;
    bool &retrigger = tx ? m_txLedRetrigger : m_rxLedRetrigger;
    HLed *led = tx ? m_txLed : m_rxLed;
    if (tx && m_breakHeld) {
        retrigger = false; // the lamp shows Break until it is released
        return;
    }
    if (led->isOn()) {
        led->turnOff();
        if (retrigger)
            timer.start(70);
    } else if (retrigger) {
        retrigger = false;
        led->turnOn();
        timer.start(80);
    }
}

bool SerialPortWidget::ledCellPressed(QObject *cell)
{
    const int mode = m_settings.ConnMode;
    const bool remoteDriven = mode == RemoteSerial && !m_settings.UseRemoteSerialConfig;
    const bool hardwareFlow = m_settings.FlowControl == QSerialPort::HardwareControl;
    if (cell == m_txCell && (mode == SerialPort || remoteDriven))
        pressBreak();
    else if (cell == m_rtsCell && ((mode == SerialPort && !hardwareFlow) || remoteDriven))
        toggleLine(ConnectionController::Rts);
    else if (cell == m_dtrCell && (mode == SerialPort || remoteDriven))
        toggleLine(ConnectionController::Dtr);
    else
        explainLineRefusal();
    return true;
}

void SerialPortWidget::explainLineRefusal()
{
    const int mode = m_settings.ConnMode;
    if (mode == RemoteSerial && m_settings.UseRemoteSerialConfig)
        showStatus(tr("The remote port is left under its own configuration. Clear \"Keep the remote port's own "
                      "configuration\" to drive RTS, DTR and Break from here."),
                   8000);
    else if (mode != SerialPort && mode != RemoteSerial)
        showStatus(tr("Control lines belong to a serial port. This connection does not have one."), 5000);
    else if (mode == SerialPort && m_settings.FlowControl == QSerialPort::HardwareControl)
        showStatus(tr("RTS is driven by RTS/CTS flow control and cannot be set by hand."), 5000);
}

bool SerialPortWidget::setBreak(bool level)
{
    if (m_settings.ConnMode != RemoteSerial)
        return m_controller->setControlLine(ConnectionController::Break, level);
    const QByteArray command = m_rfc2217.setBreak(level);
    if (command.isEmpty()) {
        if (level)
            showStatus(tr("The remote peer did not accept RFC 2217 com-port control, so Break cannot be sent."), 5000);
        return false;
    }
    if (!m_controller->writeTcpClient(command)) {
        if (level)
            showStatus(tr("Could not send Break: the connection is not open."), 5000);
        return false;
    }
    if (level)
        showStatus(tr("Sent Break to the remote port; it is released when you let go."), 5000);
    return true;
}

void SerialPortWidget::pressBreak()
{
    QString refusal;
    if (!guardPortUse(PortRequester::User, PortOperation::ControlLines, &refusal)) {
        showStatus(refusal, 5000);
        return;
    }
    m_breakReleaseTimer.stop();
    m_txRestoreTimer.stop();
    m_breakHeld = setBreak(true);
    if (!m_breakHeld) {
        // A "BRK" still showing from an earlier press must still go back to "TX".
        if (m_breakWatch.isValid())
            releaseBreak();
        return;
    }
    m_breakWatch.start();
    m_txLedTimer.stop();
    m_txLedRetrigger = false;
    m_txLed->setColor(HLed::amber());
    m_txLed->turnOn();
    m_txLabel->setText(tr("BRK"));
    m_txLabel->setStyleSheet(QStringLiteral("color:%1").arg(HLed::amber().name()));
}

void SerialPortWidget::releaseBreak()
{
    m_breakReleaseTimer.stop();
    if (m_breakHeld)
        setBreak(false);
    m_breakHeld = false;
    if (m_breakWatch.isValid() && m_breakWatch.elapsed() < kBreakLampMs) {
        m_txRestoreTimer.start(int(kBreakLampMs - m_breakWatch.elapsed()));
        return;
    }
    restoreTxLamp();
}

void SerialPortWidget::restoreTxLamp()
{
    m_txRestoreTimer.stop();
    m_breakWatch.invalidate();
    m_txLed->setColor(HLed::green());
    m_txLed->turnOff();
    m_txLabel->setText(tr("TX"));
    m_txLabel->setStyleSheet(QString());
}

void SerialPortWidget::toggleLine(int line)
{
    QString refusal;
    if (!guardPortUse(PortRequester::User, PortOperation::ControlLines, &refusal)) {
        showStatus(refusal, 5000);
        return;
    }
    const QString name = line == ConnectionController::Rts ? QStringLiteral("RTS") : QStringLiteral("DTR");
    bool &wanted = line == ConnectionController::Rts ? m_settings.RtsOn : m_settings.DtrOn;
    wanted = !wanted;
    if (m_settings.ConnMode != RemoteSerial) {
        m_controller->setControlLine(line, wanted);
    } else if (m_rfc2217.state() != Rfc2217ClientSession::Active) {
        wanted = !wanted;
        showStatus(tr("The remote peer did not accept RFC 2217 com-port control, so %1 cannot be set from here.").arg(name),
                   6000);
    } else {
        pushRemoteConfig();
        showStatus(tr("Asked the remote port for %1 %2; the lamp turns green when the server confirms it.")
                       .arg(name, wanted ? tr("high") : tr("low")),
                   5000);
    }
    if (!m_updatingControls)
        emit settingsChanged();
    refreshLamps();
}

// ---- Main window --------------------------------------------------------------

void SerialPortWidget::setQuickSettingsVisible(bool visible)
{
    ui->quickSettingsScroll->setVisible(visible);
}

void SerialPortWidget::setQuickSettingsLayout(const QuickSettingsLayout &layout, bool onlyPane)
{
    m_onlyPane = onlyPane;
    // Groups in the chosen order and visibility; the lamp row stays with the connection.
    const QHash<QString, QWidget *> groups{{QStringLiteral("connection"), ui->connectionSettingsWidget},
                                           {QStringLiteral("receive"), ui->receiveGroup},
                                           {QStringLiteral("send"), ui->sendGroup}};
    const QHash<QString, bool> shown{{QStringLiteral("connection"), layout.showConnection},
                                     {QStringLiteral("receive"), layout.showReceive},
                                     {QStringLiteral("send"), layout.showSend}};
    auto *box = qobject_cast<QVBoxLayout *>(ui->quickSettingsWidget->layout());
    const QStringList order = QuickSettingsLayout::normalisedGroupOrder(layout.groupOrder);
    for (int i = 0; i < order.size(); ++i) {
        QWidget *group = groups.value(order.at(i));
        box->removeWidget(group);
        box->insertWidget(i, group);
        group->setVisible(shown.value(order.at(i)));
    }
    ui->connectionSettingsWidget->applySerialFieldLayout(layout.fieldOrder.value(QStringLiteral("connection")),
                                                         layout.hiddenFields.value(QStringLiteral("connection")));
    // Hidden receive and send fields.
    const QMultiHash<QString, QWidget *> fields{
        {QStringLiteral("rxFormat"), ui->asciiRadio}, {QStringLiteral("rxFormat"), ui->hexRadio},
        {QStringLiteral("rxFormat"), ui->receiveEncodingBox}, {QStringLiteral("rxAutoFeed"), ui->rxAutoFeedLine},
        {QStringLiteral("rxAutoFeed"), ui->sbAutoFlInterval}, {QStringLiteral("rxAutoFeed"), ui->autoFlUnitLabel},
        {QStringLiteral("rxDisplayTime"), ui->displayTimeBox}, {QStringLiteral("txFormat"), ui->asciiSendRaido},
        {QStringLiteral("txFormat"), ui->hexSendRadio}, {QStringLiteral("txFormat"), ui->sendEncodingBox},
        {QStringLiteral("txLoop"), ui->autoSendBox}, {QStringLiteral("txLoop"), ui->sendIntervelSB},
        {QStringLiteral("txLoop"), ui->sendIntervalUnitLabel}, {QStringLiteral("txAutoFeed"), ui->txLemLabel},
        {QStringLiteral("txAutoFeed"), ui->cbTxLem}, {QStringLiteral("txTerminalEnter"), ui->terminalEnterLabel},
        {QStringLiteral("txTerminalEnter"), ui->terminalEnterBox}, {QStringLiteral("txChecksum"), ui->sendChecksumLabel},
        {QStringLiteral("txChecksum"), ui->sendChecksumBox}, {QStringLiteral("txDisplaySend"), ui->displaySendBox},
        {QStringLiteral("txLineByLine"), ui->cbLinebyLine}};
    QStringList hidden = layout.hiddenFields.value(QStringLiteral("receive"));
    hidden += layout.hiddenFields.value(QStringLiteral("send"));
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        it.value()->setVisible(!hidden.contains(it.key()));
}

void SerialPortWidget::setSplitterSizes(int left, int right)
{
    m_settings.SplitterLeft = left;
    m_settings.SplitterRight = right;
    ui->splitter->setSizes({left, right});
}

void SerialPortWidget::clearSendHistory()
{
    ui->textEdit->clear();
    m_settings.SendList.clear();
    rebuildHistoryBox();
}

void SerialPortWidget::setSendText(const QString &text)
{
    ui->textEdit->setPlainText(text);
}

void SerialPortWidget::setSendHexFrame(const QString &hexText)
{
    ui->hexSendRadio->setChecked(true);
    ui->textEdit->setPlainText(hexText);
    ui->textEdit->setFocus();
}

QString SerialPortWidget::sendText() const
{
    return ui->textEdit->toPlainText();
}
