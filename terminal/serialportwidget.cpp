#include "terminal/serialportwidget.h"
#include "ui_serialportwidget.h"

#include "codec/wiretextcodecregistry.h"
#include "codec/wiretextdecoder.h"
#include "connection/connectioncontroller.h"
#include "connection/rfc2217lineconfig.h"
#include "logging/logname.h"
#include "logging/logwriter.h"
#include "terminal/sendtext.h"

#include <QDebug>
#include <QFileInfo>
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

    m_refreshTimer.setInterval(20);
    connect(&m_refreshTimer, &QTimer::timeout, this, &SerialPortWidget::onRefreshDisplay);
    m_portListTimer.setInterval(1000);
    connect(&m_portListTimer, &QTimer::timeout, this, &SerialPortWidget::onRefreshAvalablePorts);
    m_saveTimer.setInterval(5000);
    connect(&m_saveTimer, &QTimer::timeout, this, &SerialPortWidget::onSaveData);
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_sendTimer, &QTimer::timeout, this, &SerialPortWidget::onSendData);
    // The activity lamps stay lit while traffic keeps retriggering them.
    for (auto [timer, retrigger] : {std::pair{&m_rxLedTimer, &m_rxLedRetrigger}, std::pair{&m_txLedTimer, &m_txLedRetrigger}}) {
        timer->setSingleShot(true);
        timer->setInterval(80);
        connect(timer, &QTimer::timeout, this, [timer, retrigger] {
            if (std::exchange(*retrigger, false))
                timer->start();
        });
    }
    m_rfc2217Timer.setSingleShot(true);
    m_rfc2217Timer.setInterval(Rfc2217ClientSession::HandshakeTimeoutMs);
    connect(&m_rfc2217Timer, &QTimer::timeout, this, [this] { onRfc2217Result(m_rfc2217.handshakeTimedOut()); });

    showSettings();
    rebuildDecoders();
    updateCounterLabels();
    refreshStatusLine();
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
    rebuildDecoders();
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
        flashLed(m_rxLedTimer, m_rxLedRetrigger);
        m_pausedBytes.append(bytes);
        return;
    }
    recordTraffic(bytes, true, 1);
}

void SerialPortWidget::recordTraffic(const QByteArray &bytes, bool countBytes, int direction)
{
    QByteArray data = bytes;
    if (direction == 1) {
        flashLed(m_rxLedTimer, m_rxLedRetrigger);
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

void SerialPortWidget::flashLed(QTimer &timer, bool &retrigger)
{
    if (timer.isActive())
        retrigger = true;
    else
        timer.start();
}

// ---- Send path --------------------------------------------------------------

void SerialPortWidget::on_sendButton_clicked()
{
    if (m_transferRunning) {
        showStatus(tr("A file transfer is using this port. Sending data now would corrupt it."), 5000);
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
        flashLed(m_txLedTimer, m_txLedRetrigger);
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

QString SerialPortWidget::currentRealPortName() const
{
    return m_settings.PortName;
}

bool SerialPortWidget::openPort(const QString &portNameOverride)
{
    readControls();
    m_logFormatter.setStampDue(true);
    m_lineIndex = 0;
    if (m_state == Paused) {
        m_refreshTimer.start();
        if (!m_pausedBytes.isEmpty())
            recordTraffic(std::exchange(m_pausedBytes, QByteArray()), true, 1);
    } else {
        rebuildDecoders();
        m_refreshTimer.start();
    }
    m_state = Running;

    bool ok = false;
    const FormatSetting &s = m_settings;
    switch (s.ConnMode) {
    case SerialPort:
        ok = m_controller->openSerialPort(s, portNameOverride, currentRealPortName(), false);
        break;
    case TcpClient:
    case RemoteSerial:
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
    refreshStatusLine();
    updateCounterLabels();
    return true;
}

void SerialPortWidget::closePort()
{
    const bool wasActive = m_state != Closed || m_sendTimer.isActive() || m_saveTimer.isActive();
    m_state = Closed;
    m_sendTimer.stop();
    m_saveTimer.stop();
    m_rfc2217Timer.stop();
    m_pausedBytes.clear();
    m_controller->closeConnection(m_settings.ConnMode, currentRealPortName());
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

void SerialPortWidget::onRefreshAvalablePorts()
{
    readControls();
    ui->sendButton->setText(m_state == Running ? tr("Send") : tr("Open"));
    refreshStatusLine();
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
    const FormatSetting &s = m_settings;
    switch (s.ConnMode) {
    case SerialPort: {
        QSerialPort *port = m_controller->serialPort();
        QString name = port->isOpen() ? port->portName() : currentRealPortName();
        if (name.startsWith(QLatin1String("cu.")))
            name.remove(0, 3);
        if (!port->isOpen()) {
            if (m_state != Paused || !m_controller->isConnectionOpen(SerialPort))
                m_state = Closed;
            setStatusLine(QStringLiteral("<font color = red> %1 CLOSED </font>").arg(name));
            ui->sendButton->setText(tr("Open"));
            break;
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
        break;
    }
    case TcpServer: {
        QStringList clients = m_controller->serverClients();
        const QString address = m_controller->serverAddressText();
        if (!m_controller->isConnectionOpen(TcpServer)) {
            setStatusLine(QStringLiteral("<font color = red>%1 </font>").arg(socketStateText(QAbstractSocket::UnconnectedState)));
        } else if (clients.isEmpty()) {
            const int colon = address.lastIndexOf(QLatin1Char(':'));
            setStatusLine(QStringLiteral("<font color = green>%1 </font>")
                              .arg(tr("Waiting for Connections on %1:%2...").arg(address.left(colon), address.mid(colon + 1))));
            ui->sendButton->setText(tr("Open"));
        } else {
            const int colon = address.lastIndexOf(QLatin1Char(':'));
            setStatusLine(QStringLiteral("<font color = green>%1 </font>")
                              .arg(tr("Connected") + QLatin1Char(' ')
                                   + tr("Listening on %1:%2").arg(address.left(colon), address.mid(colon + 1))));
            ui->sendButton->setText(tr("Send"));
            if (m_state != Paused)
                m_state = Running;
        }
        break;
    }
    case TcpClient:
    case RemoteSerial: {
        QTcpSocket *socket = m_controller->tcpClientSocket();
        const auto state = socket ? socket->state() : QAbstractSocket::UnconnectedState;
        const QString colour = state == QAbstractSocket::ConnectedState ? QStringLiteral("green") : QStringLiteral("red");
        setStatusLine(QStringLiteral("<font color = %1>%2 </font>").arg(colour, socketStateText(state)));
        break;
    }
    case UdpServer:
    case UdpClient:
    case UdpGroup: {
        const bool bound = m_controller->isConnectionOpen(s.ConnMode);
        const QString text = bound ? tr("UDP socket is bound to %1:%2.").arg(QStringLiteral("0.0.0.0"))
                                         .arg(s.ConnMode == UdpServer ? s.LastTargetPort : int(s.UdpLocalPort))
                                   : socketStateText(QAbstractSocket::UnconnectedState);
        setStatusLine(QStringLiteral("<font color = %1>%2 </font>").arg(bound ? QStringLiteral("green") : QStringLiteral("red"), text));
        break;
    }
    default:
        break;
    }
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

void SerialPortWidget::disconnectTcpClient()
{
    displayPortBuffer();
    if (m_settings.ConnMode == RemoteSerial) {
        m_rfc2217Timer.stop();
        m_rfc2217.reset();
    }
    refreshStatusLine();
}

void SerialPortWidget::onSerialPortLost()
{
    refreshStatusLine();
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
