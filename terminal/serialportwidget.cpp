#include "terminal/serialportwidget.h"
#include "ui_serialportwidget.h"

#include "codec/wiretextcodecregistry.h"
#include "connection/connectionmode.h"
#include "session/sendtext.h"
#include "settings/dialogs/connectionsettingswidget.h"
#include "terminal/lamprow.h"
#include "terminal/receivefindbar.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QScrollBar>

namespace {

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

void selectData(QComboBox *box, int value)
{
    const int index = box->findData(value);
    box->setCurrentIndex(index < 0 ? 0 : index);
}

} // namespace

SerialPortWidget::SerialPortWidget(const FormatSetting &settings, int portIndex, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::SerialPortWidget>())
    , m_session(std::make_unique<PortSession>(settings, portIndex))
{
    ui->setupUi(this);
    m_viewWriter = std::make_unique<ReceiveViewWriter>(ui->textBrowser);
    fillChoiceBoxes();
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
    connect(ui->textBrowser, &QWidget::customContextMenuRequested, this,
            &SerialPortWidget::onReceiveContextMenuRequested);
    // Controls without a slot of their own are read when they change.
    connect(ui->rxAutoFeedLine, &QCheckBox::toggled, this, &SerialPortWidget::readControls);
    connect(ui->sbAutoFlInterval, &QSpinBox::valueChanged, this, &SerialPortWidget::readControls);
    connect(ui->displayTimeBox, &QCheckBox::toggled, this, &SerialPortWidget::readControls);
    connect(ui->displaySendBox, &QCheckBox::toggled, this, &SerialPortWidget::readControls);
    connect(ui->cbTxLem, &QComboBox::currentIndexChanged, this, &SerialPortWidget::readControls);
    connect(ui->textEdit, &QPlainTextEdit::textChanged, this,
            [this] { m_session->setLoopText(ui->textEdit->toPlainText()); });
    connect(ui->clientTw, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        if (item && !m_updatingControls)
            m_session->selectPeer(item->text(0));
    });

    PortSession *s = m_session.get();
    s->setViewAttached(true);
    connect(s, &PortSession::displayBatch, this, [this](const QList<ViewSegment> &segments, qint64 shownBytes) {
        const int limit = m_session->settings().DisplayBufferSize;
        m_viewWriter->append(segments, limit > 0 ? limit : FormatSetting().DisplayBufferSize, shownBytes);
        m_findBar->afterDisplayBatch();
        m_session->setViewBudget(m_viewWriter->budget());
    });
    connect(s, &PortSession::statusChanged, this, &SerialPortWidget::onStatusChanged);
    connect(s, &PortSession::countersChanged, this, &SerialPortWidget::updateCounterLabels);
    connect(s, &PortSession::statusMessage, this, &SerialPortWidget::showStatus);
    connect(s, &PortSession::settingsChanged, this, &SerialPortWidget::settingsChanged);
    connect(s, &PortSession::historyChanged, this, &SerialPortWidget::rebuildHistoryBox);
    connect(s, &PortSession::sendTextFormatted, this, [this](const QString &text) {
        ui->textEdit->clear();
        ui->textEdit->appendPlainText(text);
    });
    connect(s, &PortSession::peersChanged, this, &SerialPortWidget::onPeersChanged);
    connect(s, &PortSession::portListChanged, ui->connectionSettingsWidget, &ConnectionSettingsWidget::refreshPorts);
    connect(s, &PortSession::logFailed, this, &SerialPortWidget::onLogFailed);
    ui->controlLineLedsRow->attach(s);
    connect(ui->controlLineLedsRow, &LampRow::message, this, &SerialPortWidget::showStatus);

    showSettings();
    updateCounterLabels();
    onStatusChanged();
}

SerialPortWidget::~SerialPortWidget()
{
    // Closing reports to the view; it must not reach a half-destroyed one.
    m_session->disconnect(this);
    m_session->disconnect(ui->controlLineLedsRow);
    m_session.reset();
}

void SerialPortWidget::applySettings(const FormatSetting &settings)
{
    m_session->setSettings(settings);
    showSettings();
}

// ---- Controls -----------------------------------------------------------------

void SerialPortWidget::fillChoiceBoxes()
{
    // Filling would otherwise report index changes that overwrite the settings.
    const QScopedValueRollback guard(m_updatingControls, true);
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
    const FormatSetting &s = m_session->settings();
    ui->connectionSettingsWidget->loadFrom(s);
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
    selectData(ui->cbTxLem, s.TxAutoFeedLine ? s.TxLineEndingMode : 0);
    selectData(ui->terminalEnterBox, s.TerminalEnterMode);
    selectData(ui->sendChecksumBox, s.SendChecksum);
    ui->displaySendBox->setChecked(s.DisplaySendMsg);
    ui->textBrowser->setFont(s.displayFont);
    ui->textEdit->setFont(s.displayFont);
    if (s.SplitterLeft > 0 || s.SplitterRight > 0)
        ui->splitter->setSizes({s.SplitterLeft, s.SplitterRight});
    ui->controlLineLedsRow->refreshRow();
    rebuildHistoryBox();
}

// The receive and send controls into the session's settings.
void SerialPortWidget::readControls()
{
    if (m_updatingControls)
        return;
    FormatSetting s = m_session->settings();
    s.ReceiveMsgForamt = ui->asciiRadio->isChecked() ? TextFormat : HexFormat;
    s.SendMsgFormat = ui->asciiSendRaido->isChecked() ? TextFormat : HexFormat;
    s.ReceiveEncoding = WireTextCodecRegistry::canonicalName(ui->receiveEncodingBox->currentText());
    s.SendEncoding = WireTextCodecRegistry::canonicalName(ui->sendEncodingBox->currentText());
    s.RxAutoFeedLine = ui->rxAutoFeedLine->isChecked();
    s.AutoFeedInterval = ui->sbAutoFlInterval->value();
    s.DisplaySendMsg = ui->displaySendBox->isChecked();
    s.DisplayMsgTime = ui->displayTimeBox->isChecked();
    s.AutoSend = ui->autoSendBox->isChecked();
    s.SendInterval = ui->sendIntervelSB->value();
    s.TxLineEndingMode = ui->cbTxLem->currentData().toInt();
    s.TxAutoFeedLine = s.TxLineEndingMode != 0;
    s.SendChecksum = ui->sendChecksumBox->currentData().toInt();
    s.TerminalEnterMode = ui->terminalEnterBox->currentData().toInt();
    if (!s.sameStoredValues(m_session->settings()))
        m_session->setSettings(s);
    m_session->setLineByLine(ui->cbLinebyLine->isChecked());
}

void SerialPortWidget::rebuildHistoryBox()
{
    const QSignalBlocker block(ui->sendBox);
    ui->sendBox->clear();
    for (const QString &entry : m_session->settings().SendList)
        ui->sendBox->addItem(historyLabel(entry));
}

void SerialPortWidget::on_asciiRadio_toggled(bool checked)
{
    ui->receiveEncodingBox->setEnabled(checked);
    readControls();
}

void SerialPortWidget::on_asciiSendRaido_toggled(bool checked)
{
    ui->sendEncodingBox->setEnabled(checked);
    readControls();
}

void SerialPortWidget::on_receiveEncodingBox_currentIndexChanged(int)
{
    readControls();
}

void SerialPortWidget::on_sendEncodingBox_currentIndexChanged(int)
{
    readControls();
}

void SerialPortWidget::on_autoSendBox_clicked()
{
    readControls();
}

void SerialPortWidget::on_sendIntervelSB_valueChanged(int)
{
    readControls();
}

void SerialPortWidget::on_cbLinebyLine_stateChanged(int)
{
    readControls();
}

void SerialPortWidget::on_sendChecksumBox_activated(int)
{
    readControls();
}

void SerialPortWidget::on_terminalEnterBox_currentIndexChanged(int)
{
    readControls();
}

void SerialPortWidget::on_sendBox_activated(int index)
{
    const QStringList &history = m_session->settings().SendList;
    if (index < 0 || index >= history.size())
        return;
    ui->textEdit->clear();
    ui->textEdit->appendPlainText(history.at(index));
}

// ---- Receive view -----------------------------------------------------------------

void SerialPortWidget::clearReceiveView()
{
    m_viewWriter->clear();
    m_session->clear();
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
    const FormatSetting &s = m_session->settings();
    m_rxCountLabel->setText(tr("Rx: %L1 Bytes").arg(m_session->rxByteCount()));
    m_txCountLabel->setText(tr("Tx: %L1 Bytes").arg(m_session->txByteCount()));
    if (s.LogSaveFlag) {
        const QString path = s.resolvedLogPath.isEmpty() ? s.LogFilePath : s.resolvedLogPath;
        m_logLabel->setText(QFileInfo(path).fileName());
        m_logLabel->setToolTip(path);
    } else {
        m_logLabel->setText(QStringLiteral("  "));
        m_logLabel->setToolTip(QString());
    }
}

void SerialPortWidget::onLogFailed(const QString &message)
{
    updateCounterLabels();
    emit logFailed(message);
    // Not exec(): a failed log must not stall the port behind a modal loop.
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Warning"), message, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// ---- Send box -------------------------------------------------------------------

void SerialPortWidget::on_sendButton_clicked()
{
    QString refusal;
    if (!m_session->lease()->permits(PortRequester::User, PortOperation::SendData, &refusal)) {
        showStatus(refusal, 5000);
        return;
    }
    readControls();
    // Open first so that a click on a closed pane both opens and sends.
    if (!m_session->isOpen() && !openPort())
        return;
    const QString text = ui->textEdit->toPlainText();
    if (text.isEmpty()) {
        ui->textEdit->setFocus();
        return;
    }
    m_session->send(m_session->buildPayload(text));
}

bool SerialPortWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->textBrowser && event->type() == QEvent::KeyPress)
        sendTerminalKey(static_cast<QKeyEvent *>(event));
    return QWidget::eventFilter(watched, event);
}

// Keys typed into the receive view go to the device, as in a terminal.
bool SerialPortWidget::sendTerminalKey(QKeyEvent *event)
{
    const FormatSetting &s = m_session->settings();
    if (m_session->lease()->transferHeld() || !m_session->isOpen() || s.SendMsgFormat != TextFormat)
        return false;
    QByteArray bytes;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        bytes = enterBytes(s.TerminalEnterMode);
    } else {
        const QString text = event->text();
        if (text.isEmpty())
            return false;
        const WireEncodeResult encoded = WireTextCodecRegistry::encode(text, s.SendEncoding);
        if (!encoded.ok) {
            showStatus(encoded.error, 10000);
            return false;
        }
        bytes = encoded.bytes;
    }
    if (bytes.isEmpty() || !m_session->send(bytes))
        return false;
    ui->textBrowser->moveCursor(QTextCursor::End);
    return true;
}

void SerialPortWidget::clearSendHistory()
{
    ui->textEdit->clear();
    FormatSetting s = m_session->settings();
    s.SendList.clear();
    m_session->setSettings(s);
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

// ---- Connection -------------------------------------------------------------------

// A network entry in the port box must not make the pane forget its serial port.
QString SerialPortWidget::currentRealPortName() const
{
    const ConnectionSettingsWidget *controls = ui->connectionSettingsWidget;
    return controls->isSerialPortSelected() ? controls->portName() : m_session->settings().PortName;
}

bool SerialPortWidget::isSerialPortSelected() const
{
    return ui->connectionSettingsWidget->isSerialPortSelected();
}

ConnectionSettingsWidget *SerialPortWidget::connectionSettings() const
{
    return ui->connectionSettingsWidget;
}

LampRow *SerialPortWidget::lampRow() const
{
    return ui->controlLineLedsRow;
}

bool SerialPortWidget::openPort(const QString &portNameOverride)
{
    readControls();
    FormatSetting s = m_session->settings();
    ui->connectionSettingsWidget->storeTo(s);
    if (!s.sameStoredValues(m_session->settings()))
        m_session->setSettings(s);
    return m_session->open(portNameOverride);
}

void SerialPortWidget::onConnectionConfigChanged()
{
    FormatSetting edited = m_session->settings();
    ui->connectionSettingsWidget->storeTo(edited);
    if (!m_session->reconfigure(edited))
        ui->connectionSettingsWidget->loadFrom(m_session->settings()); // back to what the transfer runs with
}

// New line parameters take effect at once; hosts and ports are read at the next
// open, so that half-typed host names do not end up in the history.
void SerialPortWidget::onConnectionSettingsEdited()
{
    FormatSetting edited = m_session->settings();
    ui->connectionSettingsWidget->storeTo(edited);
    if (!m_session->applyLineEdit(edited))
        ui->connectionSettingsWidget->loadFrom(m_session->settings());
}

void SerialPortWidget::onStatusChanged()
{
    m_statusLabel->setText(m_session->statusLine());
    const bool waitingForClients = m_session->settings().ConnMode == TcpServer && m_session->peers().isEmpty();
    ui->sendButton->setText(m_session->state() == Running && !waitingForClients ? tr("Send") : tr("Open"));
    updateCounterLabels();
}

QString SerialPortWidget::statusText() const
{
    return m_statusLabel->text();
}

void SerialPortWidget::onPeersChanged()
{
    const QScopedValueRollback guard(m_updatingControls, true);
    const QStringList peers = m_session->peers();
    ui->clientTw->clear();
    for (const QString &peer : peers) {
        auto *item = new QTreeWidgetItem(ui->clientTw, {peer});
        if (peer == m_session->selectedPeer())
            ui->clientTw->setCurrentItem(item);
    }
    ui->clientTw->setVisible(!peers.isEmpty());
}

void SerialPortWidget::showStatus(const QString &text, int timeoutMs)
{
    ui->statusbar->showMessage(text, timeoutMs);
    emit statusMessage(text, timeoutMs);
}

QLabel *SerialPortWidget::bridgeBadge() const
{
    return ui->bridgeBadgeLabel;
}

void SerialPortWidget::addStrip(QWidget *strip)
{
    ui->receiveLayout->insertWidget(0, strip);
}

// ---- Main window ----------------------------------------------------------------

void SerialPortWidget::setQuickSettingsVisible(bool visible)
{
    ui->quickSettingsScroll->setVisible(visible);
}

void SerialPortWidget::setQuickSettingsLayout(const QuickSettingsLayout &layout, bool)
{
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
    FormatSetting s = m_session->settings();
    s.SplitterLeft = left;
    s.SplitterRight = right;
    m_session->setSettings(s);
    ui->splitter->setSizes({left, right});
}
