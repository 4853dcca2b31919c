#pragma once

#include "connection/rfc2217clientsession.h"
#include "settings/formatsetting.h"
#include "settings/quicksettingslayout.h"
#include "terminal/ansiescapefilter.h"
#include "terminal/traffictext.h"

#include <QElapsedTimer>
#include <QList>
#include <QTimer>
#include <QWidget>
#include <memory>

class ConnectionController;
class ConnectionSettingsWidget;
class HLed;
class LogWriter;
class ReceiveFindBar;
class QGridLayout;
class QLabel;
class QSerialPortInfo;
class WireTextDecoder;

namespace Ui {
class SerialPortWidget;
}

// Who asks the pane to use its port; a running file transfer may do what others may not.
enum class PortRequester { User, Console, Bridge, Transfer };

// What a requester wants to do with the port while a transfer may be running.
enum class PortOperation { SendData, ControlLines, PortSettings };

// One port pane: owns a connection, shows what arrives as text or hex with
// stamps and line breaks, sends typed, repeated or line-by-line data, and logs
// the traffic. Received bytes are queued per chunk and drawn in 20 ms batches.
// It drives and shows the control lines and reconnects lost ports.
class SerialPortWidget : public QWidget
{
    Q_OBJECT
public:
    enum Direction { Received = 1, Sent = 2 };

    explicit SerialPortWidget(const FormatSetting &settings, int portIndex, QWidget *parent = nullptr);
    ~SerialPortWidget() override;

    const FormatSetting &settings() const { return m_settings; }
    void applySettings(const FormatSetting &settings);
    int portIndex() const { return m_portIndex; }
    QString portKey() const;
    PaneState state() const { return m_state; }
    ConnectionController *controller() const { return m_controller; }
    LogWriter *logWriter() const { return m_logWriter; }

    bool openPort(const QString &portNameOverride = QString());
    void closePort();
    void pauseView();
    void clearReceiveView();
    void insertNotice(const QString &text);

    void recordTraffic(const QByteArray &bytes, bool countBytes, int direction);
    void displayPortBuffer();
    QByteArray buildPayload(const QString &text);
    bool sendBytes(const QByteArray &bytes);

    quint64 rxByteCount() const { return m_rxByteCount; }
    quint64 txByteCount() const { return m_txByteCount; }
    qint64 takeTrimmedChars() { return std::exchange(m_trimmedChars, 0); }
    QString receiveText() const;
    QString statusText() const;
    Q_INVOKABLE QString currentRealPortName() const;
    bool isSerialPortSelected() const;
    ConnectionSettingsWidget *connectionSettings() const;
    void setConsoleWatched(bool watched) { m_consoleWatched = watched; }

    // A running file transfer owns the port; until transfers exist this is
    // set by whoever runs one (and by tests).
    void setTransferRunning(bool running);
    bool isTransferRunning() const { return m_transferRunning; }
    bool guardPortUse(PortRequester requester, PortOperation operation, QString *message) const;

    void setAutoReconnect(bool on);
    bool autoReconnect() const { return m_autoReconnect; }
    bool isReconnectArmed() const { return m_reconnectArmed; }
    void setBridged(bool bridged) { m_bridged = bridged; }
    bool isBridged() const { return m_bridged; }
    QLabel *bridgeBadge() const;

    // Control lines and lamps.
    void refreshLedRow();
    void refreshLamps();
    void flashActivity(int direction);
    void pressBreak();
    void releaseBreak();
    void toggleLine(int line);
    bool isBreakHeld() const { return m_breakHeld; }

    // What the main window drives in every pane.
    void showNote(const QString &text, int timeoutMs) { showStatus(text, timeoutMs); }
    void setQuickSettingsVisible(bool visible);
    void setQuickSettingsLayout(const QuickSettingsLayout &layout, bool onlyPane);
    ReceiveFindBar *findBar() const { return m_findBar; }
    void setSplitterSizes(int left, int right);
    void clearSendHistory();
    void setSendText(const QString &text);
    // A ready-made frame from a tool: hex sending, the frame as the send text, focus there.
    void setSendHexFrame(const QString &hexText);
    QString sendText() const;

signals:
    void rxTapped(const QByteArray &raw, const QString &peer);
    void consoleTraffic(const QString &portKey, bool isTx, const QString &text);
    void settingsChanged();
    // Every transient text the pane shows in its status bar, with its display time.
    void statusMessage(const QString &message, int timeoutMs);
    void logFailed(const QString &message);

public slots:
    void onReadData();
    void readUdpSocket();
    void handleNewMessage(const QString &peer);
    void onRefreshDisplay();
    void onRefreshAvalablePorts();
    void onSaveData();
    void onSendData();
    void changeConnState();
    void changeUdpConnState();
    void disconnectTcpClient();
    void onSerialPortLost();
    void onReconnectTick();
    void disarmReconnect();
    void onConnectionConfigChanged();
    void onConnectionSettingsEdited();
    void onRefreshTcpServerDisplay();
    void onRefreshUdpClientDisplay();
    void onReceiveContextMenuRequested(const QPoint &pos);

private slots:
    // Connected by name by the form.
    void on_sendButton_clicked();
    void on_autoSendBox_clicked();
    void on_sendIntervelSB_valueChanged(int value);
    void on_cbLinebyLine_stateChanged(int state);
    void on_sendChecksumBox_activated(int index);
    void on_terminalEnterBox_currentIndexChanged(int index);
    void on_sendBox_activated(int index);
    void on_asciiRadio_toggled(bool checked);
    void on_asciiSendRaido_toggled(bool checked);
    void on_receiveEncodingBox_currentIndexChanged(int index);
    void on_sendEncodingBox_currentIndexChanged(int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fillChoiceBoxes();
    void showSettings();
    void readControls();
    void rebuildDecoders();
    void onEncodingBoxChanged();
    void ingestReceived(const QByteArray &bytes, bool fromRead, const QString &peer);
    QString decodeBufferForUi(const rxData &chunk);
    QString decodeBufferForLog(const rxData &chunk);
    QString stampFor(const rxData &chunk, bool forLog) const;
    struct ViewSegment
    {
        QString text;
        QColor colour; // invalid: plain
    };
    void queueViewText(const QString &text, const QColor &colour);
    void flushViewSegments();
    QString breakLongLines(const QString &text);
    void trimReceiveView(int n);
    void updateCounterLabels();
    void rebuildHistoryBox();
    void buildLedRow();
    void syncWantedLines();
    QWidget *makeLedCell(const char *cellName, const char *ledName, const QString &label, HLed **led, QLabel **text);
    void onActivityTimeout(int direction);
    void restoreTxLamp();
    bool setBreak(bool level);
    bool ledCellPressed(QObject *cell);
    void explainLineRefusal();
    static bool isPortPresent(const QString &name, const QList<QSerialPortInfo> &ports);
    static QString devicePath(const QString &name);

    // The connection controls: the few places that read or show them.
    void readConnectionControls();
    void showConnectionControls();
    void refillPortList();

    void refreshStatusLine();
    void refreshSerialStatus();
    void refreshSocketStatus();
    void setStatusLine(const QString &html);
    void showStatus(const QString &text, int timeoutMs);
    void onTcpClientConnected();
    void onRfc2217Result(const Rfc2217Result &result);
    void pushRemoteConfig();
    bool sendTerminalKey(QKeyEvent *event);

    std::unique_ptr<Ui::SerialPortWidget> ui;
    FormatSetting m_settings;
    int m_portIndex = 0;
    PaneState m_state = Closed;
    ConnectionController *m_controller = nullptr;
    LogWriter *m_logWriter = nullptr;
    Rfc2217ClientSession m_rfc2217;

    // Children with object names, so that tests and tools can find them.
    QTimer m_refreshTimer{this};
    QTimer m_portListTimer{this};
    QTimer m_saveTimer{this};
    QTimer m_sendTimer{this};
    QTimer m_rxLedTimer{this};
    QTimer m_txLedTimer{this};
    QTimer m_rfc2217Timer{this};
    QTimer m_reconnectTimer{this};
    QTimer m_breakReleaseTimer{this};
    QTimer m_txRestoreTimer{this};
    bool m_rxLedRetrigger = false;
    bool m_txLedRetrigger = false;

    QWidget *m_ledRow = nullptr;
    QGridLayout *m_ledGrid = nullptr;
    QWidget *m_txCell = nullptr, *m_rxCell = nullptr, *m_rtsCell = nullptr, *m_ctsCell = nullptr,
            *m_dtrCell = nullptr, *m_dsrCell = nullptr, *m_dcdCell = nullptr, *m_riCell = nullptr;
    HLed *m_txLed = nullptr, *m_rxLed = nullptr, *m_rtsLed = nullptr, *m_ctsLed = nullptr,
         *m_dtrLed = nullptr, *m_dsrLed = nullptr, *m_dcdLed = nullptr, *m_riLed = nullptr;
    QLabel *m_txLabel = nullptr;
    bool m_breakHeld = false;
    QElapsedTimer m_breakWatch;

    bool m_autoReconnect = false;
    bool m_reconnectArmed = false;
    bool m_bridged = false;
    bool m_sendTimerWasRunning = false;
    QString m_portListSignature;

    QList<rxData> m_displayQueue;
    QByteArray m_pausedBytes;
    quint64 m_rxByteCount = 0;
    quint64 m_txByteCount = 0;
    qint64 m_trimmedChars = 0;
    TrafficFormatter m_uiFormatter{TrafficFormatter::Target::Display};
    TrafficFormatter m_logFormatter{TrafficFormatter::Target::Log};
    bool m_forceScroll = false;
    QList<ViewSegment> m_viewSegments;
    ReceiveFindBar *m_findBar = nullptr;
    bool m_onlyPane = true;
    int m_viewLineLength = 0;
    bool m_consoleWatched = false;
    AnsiEscapeFilter m_escapeFilter;
    std::unique_ptr<WireTextDecoder> m_uiRxDecoder, m_uiTxDecoder, m_logRxDecoder, m_logTxDecoder,
        m_consoleRxDecoder, m_consoleTxDecoder;

    bool m_lineByLine = false;
    int m_lineIndex = 0;
    bool m_updatingControls = false;
    bool m_transferRunning = false;
    bool m_started = false;

    QLabel *m_statusLabel = nullptr;
    QLabel *m_rxCountLabel = nullptr;
    QLabel *m_txCountLabel = nullptr;
    QLabel *m_logLabel = nullptr;
};
