#include "terminal/lamprow.h"

#include "connection/connectioncontroller.h"
#include "connection/connectionmode.h"
#include "session/portsession.h"
#include "terminal/hled.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSerialPort>

namespace {

constexpr qint64 kBreakMinimumMs = 300; // a click asserts Break at least this long
constexpr qint64 kBreakLampMs = 800;    // "BRK" stays readable at least this long

QColor lampColour(Lamp::Colour colour)
{
    switch (colour) {
    case Lamp::Amber: return HLed::amber();
    case Lamp::Grey: return HLed::grey();
    default: return HLed::green();
    }
}

} // namespace

LampRow::LampRow(QWidget *parent)
    : QWidget(parent)
{
    m_rxTimer.setObjectName(QStringLiteral("rxLedTimer"));
    m_txTimer.setObjectName(QStringLiteral("txLedTimer"));
    m_breakReleaseTimer.setObjectName(QStringLiteral("breakReleaseTimer"));
    m_txRestoreTimer.setObjectName(QStringLiteral("txRestoreTimer"));
    m_rxTimer.setSingleShot(true);
    m_txTimer.setSingleShot(true);
    connect(&m_rxTimer, &QTimer::timeout, this, [this] { onActivityTimeout(false); });
    connect(&m_txTimer, &QTimer::timeout, this, [this] { onActivityTimeout(true); });
    // Break's minimum durations are promises to the user, not approximations.
    m_breakReleaseTimer.setSingleShot(true);
    m_breakReleaseTimer.setTimerType(Qt::PreciseTimer);
    m_txRestoreTimer.setSingleShot(true);
    m_txRestoreTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_breakReleaseTimer, &QTimer::timeout, this, &LampRow::releaseBreak);
    connect(&m_txRestoreTimer, &QTimer::timeout, this, &LampRow::restoreTxLamp);
}

QWidget *LampRow::makeCell(const char *cellName, const char *ledName, const QString &label, HLed **led, QLabel **text)
{
    auto *cell = new QWidget(this);
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

void LampRow::attach(PortSession *session)
{
    m_session = session;
    m_grid = qobject_cast<QGridLayout *>(layout());
    if (!m_grid)
        m_grid = new QGridLayout(this);
    m_txCell = makeCell("txLedCell", "txActivityLed", tr("TX"), &m_txLed, &m_txLabel);
    m_rxCell = makeCell("rxLedCell", "rxActivityLed", tr("RX"), &m_rxLed, nullptr);
    m_rtsCell = makeCell("rtsLedCell", "rtsLed", tr("RTS"), &m_rtsLed, nullptr);
    m_ctsCell = makeCell("ctsLedCell", "ctsLed", tr("CTS"), &m_ctsLed, nullptr);
    m_dtrCell = makeCell("dtrLedCell", "dtrLed", tr("DTR"), &m_dtrLed, nullptr);
    m_dsrCell = makeCell("dsrLedCell", "dsrLed", tr("DSR"), &m_dsrLed, nullptr);
    m_dcdCell = makeCell("dcdLedCell", "dcdLed", tr("DCD"), &m_dcdLed, nullptr);
    m_riCell = makeCell("riLedCell", "riLed", tr("RI"), &m_riLed, nullptr);
    // Outputs above the inputs they pair with: TX/RX, RTS/CTS, DTR/DSR, DCD/RI.
    m_grid->addWidget(m_txCell, 0, 0);
    m_grid->addWidget(m_rxCell, 1, 0);
    m_grid->addWidget(m_rtsCell, 0, 1);
    m_grid->addWidget(m_ctsCell, 1, 1);
    m_grid->addWidget(m_dtrCell, 0, 2);
    m_grid->addWidget(m_dsrCell, 1, 2);
    m_grid->addWidget(m_dcdCell, 0, 3);
    m_grid->addWidget(m_riCell, 1, 3);
    m_grid->setColumnStretch(4, 1);
    const QString activity = tr("Lights while data is being sent or received");
    m_txLed->setToolTip(activity);
    m_rxLed->setToolTip(activity);
    m_rxCell->setToolTip(activity);

    connect(session, &PortSession::linesChanged, this, &LampRow::refreshRow);
    connect(session, &PortSession::activity, this, [this](int direction) {
        if (direction == PortSession::Received || !m_session->breakHeld())
            flash(direction);
    });
    connect(session, &PortSession::breakReleased, this, &LampRow::onBreakReleased);
    refreshRow();
}

void LampRow::refreshRow()
{
    const FormatSetting &s = m_session->settings();
    const int mode = s.ConnMode;
    const bool serialLike = mode == SerialPort || mode == RemoteSerial;
    const bool keepRemote = s.UseRemoteSerialConfig;
    const bool hardwareFlow = s.FlowControl == QSerialPort::HardwareControl;
    setVisible(s.ShowControlLineLeds);
    for (QWidget *cell : {m_rtsCell, m_ctsCell, m_dtrCell, m_dsrCell, m_dcdCell, m_riCell})
        cell->setVisible(serialLike);
    const int rxRow = serialLike ? 1 : 0;
    const int rxColumn = serialLike ? 0 : 1;
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    m_grid->getItemPosition(m_grid->indexOf(m_rxCell), &row, &column, &rowSpan, &columnSpan);
    if (row != rxRow || column != rxColumn) {
        // In network modes the RX lamp takes the place of the hidden RTS cell.
        m_grid->removeWidget(m_rxCell);
        m_grid->removeWidget(m_rtsCell);
        if (serialLike)
            m_grid->addWidget(m_rtsCell, 0, 1);
        m_grid->addWidget(m_rxCell, rxRow, rxColumn);
    }

    const Qt::CursorShape hand = Qt::PointingHandCursor;
    const Qt::CursorShape arrow = Qt::ArrowCursor;
    QString txTip = tr("Lights while data is being sent or received");
    Qt::CursorShape txCursor = arrow;
    if (mode == SerialPort) {
        txTip = tr("Click to send a serial break (hold for longer)");
        txCursor = m_session->isOpen() ? hand : arrow;
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

void LampRow::refreshLamps()
{
    if (!m_session->settings().ShowControlLineLeds)
        return;
    const LampStates states = m_session->lamps();
    HLed *leds[] = {m_rtsLed, m_dtrLed, m_ctsLed, m_dsrLed, m_dcdLed, m_riLed};
    for (size_t i = 0; i < std::size(leds); ++i) {
        const Lamp &lamp = states.lamps[i];
        // The inputs keep their colour; only the outputs change it.
        if (i < 2)
            leds[i]->setColor(lampColour(lamp.colour));
        leds[i]->turnOn(lamp.on);
    }
}

void LampRow::flash(int direction)
{
    const bool tx = direction == PortSession::Sent;
    QTimer &timer = tx ? m_txTimer : m_rxTimer;
    if (timer.isActive()) {
        (tx ? m_txRetrigger : m_rxRetrigger) = true;
        return;
    }
    (tx ? m_txLed : m_rxLed)->turnOn();
    timer.start(80);
}

// Steady traffic blinks the lamp: 80 ms on, 70 ms off, for as long as it keeps coming.
void LampRow::onActivityTimeout(bool tx)
{
    QTimer &timer = tx ? m_txTimer : m_rxTimer;
    bool &retrigger = tx ? m_txRetrigger : m_rxRetrigger;
    HLed *led = tx ? m_txLed : m_rxLed;
    if (tx && m_session->breakHeld()) {
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

bool LampRow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_txCell && watched != m_rtsCell && watched != m_dtrCell)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonPress) {
        event->accept();
        cellPressed(watched);
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        event->accept();
        if (watched == m_txCell && (m_session->breakHeld() || m_breakReleaseTimer.isActive())) {
            const qint64 held = m_breakWatch.isValid() ? m_breakWatch.elapsed() : kBreakMinimumMs;
            if (m_session->breakHeld() && held < kBreakMinimumMs)
                m_breakReleaseTimer.start(int(kBreakMinimumMs - held));
            else
                releaseBreak();
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void LampRow::cellPressed(QObject *cell)
{
    const FormatSetting &s = m_session->settings();
    const int mode = s.ConnMode;
    const bool remoteDriven = mode == RemoteSerial && !s.UseRemoteSerialConfig;
    const bool hardwareFlow = s.FlowControl == QSerialPort::HardwareControl;
    if (cell == m_txCell && (mode == SerialPort || remoteDriven))
        pressBreak();
    else if (cell == m_rtsCell && ((mode == SerialPort && !hardwareFlow) || remoteDriven))
        m_session->toggleLine(ConnectionController::Rts);
    else if (cell == m_dtrCell && (mode == SerialPort || remoteDriven))
        m_session->toggleLine(ConnectionController::Dtr);
    else
        explainRefusal();
}

void LampRow::explainRefusal()
{
    const FormatSetting &s = m_session->settings();
    const int mode = s.ConnMode;
    QString text;
    int ms = 5000;
    if (mode == RemoteSerial && s.UseRemoteSerialConfig) {
        text = tr("The remote port is left under its own configuration. Clear \"Keep the remote port's own "
                  "configuration\" to drive RTS, DTR and Break from here.");
        ms = 8000;
    } else if (mode != SerialPort && mode != RemoteSerial) {
        text = tr("Control lines belong to a serial port. This connection does not have one.");
    } else if (mode == SerialPort && s.FlowControl == QSerialPort::HardwareControl) {
        text = tr("RTS is driven by RTS/CTS flow control and cannot be set by hand.");
    }
    if (!text.isEmpty())
        emit message(text, ms);
}

void LampRow::pressBreak()
{
    m_breakReleaseTimer.stop();
    m_txRestoreTimer.stop();
    if (!m_session->setBreak(true)) {
        // A "BRK" still showing from an earlier press must still go back to "TX".
        if (m_breakWatch.isValid())
            onBreakReleased();
        return;
    }
    m_breakWatch.start();
    m_txTimer.stop();
    m_txRetrigger = false;
    m_txLed->setColor(HLed::amber());
    m_txLed->turnOn();
    m_txLabel->setText(tr("BRK"));
    m_txLabel->setStyleSheet(QStringLiteral("color:%1").arg(HLed::amber().name()));
}

void LampRow::releaseBreak()
{
    m_breakReleaseTimer.stop();
    m_session->releaseBreak(); // answered by breakReleased
}

void LampRow::onBreakReleased()
{
    m_breakReleaseTimer.stop();
    if (m_breakWatch.isValid() && m_breakWatch.elapsed() < kBreakLampMs) {
        m_txRestoreTimer.start(int(kBreakLampMs - m_breakWatch.elapsed()));
        return;
    }
    restoreTxLamp();
}

void LampRow::restoreTxLamp()
{
    m_txRestoreTimer.stop();
    m_breakWatch.invalidate();
    m_txLed->setColor(HLed::green());
    m_txLed->turnOff();
    m_txLabel->setText(tr("TX"));
    m_txLabel->setStyleSheet(QString());
}
