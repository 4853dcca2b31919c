#pragma once

#include "connection/rfc2217clientsession.h"
#include "settings/formatsetting.h"
#include "terminal/ansiescapefilter.h"
#include "terminal/traffictext.h"

#include <QList>
#include <QTimer>
#include <QWidget>
#include <memory>

class ConnectionController;
class LogWriter;
class QLabel;
class WireTextDecoder;

namespace Ui {
class SerialPortWidget;
}

// One port pane: owns a connection, shows what arrives as text or hex with
// stamps and line breaks, sends typed, repeated or line-by-line data, and logs
// the traffic. Received bytes are queued per chunk and drawn in 20 ms batches.
class SerialPortWidget : public QWidget
{
    Q_OBJECT
public:
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
    QString currentRealPortName() const;
    void setConsoleWatched(bool watched) { m_consoleWatched = watched; }

    // A running file transfer owns the port; until transfers exist this is
    // set by whoever runs one (and by tests).
    void setTransferRunning(bool running) { m_transferRunning = running; }
    bool isTransferRunning() const { return m_transferRunning; }

signals:
    void rxTapped(const QByteArray &raw, const QString &peer);
    void consoleTraffic(const QString &portKey, bool isTx, const QString &text);
    void settingsChanged();
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
    void flashLed(QTimer &timer, bool &retrigger);
    void refreshStatusLine();
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

    QTimer m_refreshTimer;
    QTimer m_portListTimer;
    QTimer m_saveTimer;
    QTimer m_sendTimer;
    QTimer m_rxLedTimer;
    QTimer m_txLedTimer;
    QTimer m_rfc2217Timer;
    bool m_rxLedRetrigger = false;
    bool m_txLedRetrigger = false;

    QList<rxData> m_displayQueue;
    QByteArray m_pausedBytes;
    quint64 m_rxByteCount = 0;
    quint64 m_txByteCount = 0;
    qint64 m_trimmedChars = 0;
    TrafficFormatter m_uiFormatter{TrafficFormatter::Target::Display};
    TrafficFormatter m_logFormatter{TrafficFormatter::Target::Log};
    bool m_forceScroll = false;
    QList<ViewSegment> m_viewSegments;
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
