#pragma once

#include "session/portlease.h"
#include "session/porttransport.h"
#include "session/receivepipeline.h"
#include "settings/formatsetting.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class ConnectionController;
class LogWriter;

// Line settings asked for from outside the pane (a cloud console command, the client of
// an RFC 2217 bridge end), in the serial module's values; absent fields stay as they are.
struct LineChange
{
    std::optional<qint32> baudRate;
    std::optional<qint32> dataBits;
    std::optional<qint32> parity;      // 0 none, 2 even, 3 odd, 4 space, 5 mark
    std::optional<qint32> stopBits;    // 1, 2, 3 = one and a half
    std::optional<qint32> flowControl; // 0 none, 1 RTS/CTS, 2 XON/XOFF
};

// Everything one port pane does with its connection, without widgets: opens, closes
// and reconnects the transport its settings name, runs the receive pipeline (escape
// filter, pause hold, decoders, formatting for view, log and console) and the send
// pipeline (payload, line ending, checksum, routing, Loop, Line by Line), keeps the
// counters and the data log, and lends the port to features through its lease.
// Views and features attach to it through its signals: a pane shows the batches,
// a file transfer taps the received bytes, a bridge forwards them.
class PortSession : public QObject
{
    Q_OBJECT
public:
    enum Direction { Received = 1, Sent = 2 };
    // How bytes that a feature writes appear in the view and the log.
    enum class Echo { None, LogOnly, ViewAndLog };
    // The Loop interval never goes below this: 0 ms would resend on every pass of the
    // event loop and flood the port.
    static constexpr int MinLoopIntervalMs = 10;

    using TransportFactory = std::function<std::unique_ptr<PortTransport>(int mode, ConnectionController *)>;
    // Received bytes a feature takes before the pipeline sees them; true = taken.
    using ReceiveTap = std::function<bool(const QByteArray &bytes, const QString &peer)>;

    explicit PortSession(const FormatSetting &settings, int portIndex = 0, QObject *parent = nullptr);
    ~PortSession() override;

    // Tests drive the session through a fake transport; call before anything opens.
    void setTransportFactory(TransportFactory factory);

    const FormatSetting &settings() const { return m_settings; }
    // Applies a whole record; a new connection mode closes the old connection first.
    void setSettings(const FormatSetting &settings);
    int portIndex() const { return m_portIndex; }
    QString portKey() const;
    QString title() const;
    ConnectionController *controller() const { return m_controller; }
    PortTransport *transport() const { return m_transport.get(); }
    LogWriter *logWriter() const { return m_logWriter; }
    PortLease *lease() const { return m_lease; }

    // ---- Life cycle ----
    PaneState state() const { return m_state; }
    bool isOpen() const;
    bool open(const QString &portNameOverride = QString());
    void close();
    bool pause();
    // The connection editor changed the mode, port or parameters: an open serial port
    // reopens with them (or closes when a network entry was chosen); anything else
    // closes. Refused while a transfer runs (the text goes to statusMessage).
    bool reconfigure(const FormatSetting &edited);
    // Only the line parameters changed: an open serial port reopens, a remote port is
    // sent them, a closed one keeps them for the next opening.
    bool applyLineEdit(const FormatSetting &edited);
    enum class LineChangeResult { Applied, NotSerial, Busy, Invalid };
    static constexpr qint32 MinBaudRate = 50;
    static constexpr qint32 MaxBaudRate = 16000000;
    // Checks every value before anything changes, then applies them as the connection
    // editor would (an open port reopens, a remote port is sent them).
    LineChangeResult applyLineChange(const LineChange &change, PortRequester requester);
    // What the port runs with: the open serial port's own values, else the settings.
    LineChange lineSettingsInEffect() const;
    void setAutoReconnect(bool on);
    bool autoReconnect() const { return m_autoReconnect; }
    bool isReconnectArmed() const { return m_reconnectArmed; }
    QString statusLine() const { return m_statusLine; }

    // ---- Sending ----
    // Send-box text as bytes (line ending, checksum) and recorded in the history;
    // nothing when the text cannot be encoded (the reason goes to statusMessage).
    QByteArray buildPayload(const QString &text);
    // The user's and the console's sends go to the selected peer.
    bool send(const QByteArray &bytes, PortRequester requester = PortRequester::User);
    // A feature's bytes to `peer` (empty: the connection's own destination); returns the
    // number of bytes taken.
    qint64 write(const QByteArray &bytes, const QString &peer, Echo echo, PortRequester requester);
    void setLoopText(const QString &text) { m_loopText = text; }
    void setLineByLine(bool on);

    // ---- Peers of a server or UDP socket ----
    QStringList peers() const;
    QString selectedPeer() const { return m_selectedPeer; }
    void selectPeer(const QString &peer) { m_selectedPeer = peer; }

    // ---- Control lines ----
    bool setBreak(bool level);
    void releaseBreak();
    bool breakHeld() const { return m_breakHeld; }
    bool toggleLine(int line);
    LampStates lamps() const;

    // ---- Traffic ----
    quint64 rxByteCount() const { return m_rxByteCount; }
    quint64 txByteCount() const { return m_txByteCount; }
    // Empties the counters and starts the decoders afresh (the view clears itself).
    void clear();
    void insertNotice(const QString &text);
    // Formats and hands on everything queued (view batch, log text).
    void flushDisplay();
    void saveLog();
    // Without a view nothing is formatted for display.
    void setViewAttached(bool attached) { m_viewAttached = attached; }
    // Raw bytes the view takes per refresh (ReceivePipeline::NoBudget: all); what does
    // not fit is logged and counted but shown only as a gap notice.
    void setViewBudget(qsizetype bytes) { m_viewBudget = bytes; }
    qint64 viewShownBytes() const { return m_viewShownBytes; }
    qint64 viewSkippedBytes() const { return m_viewSkippedBytes; }
    void setConsoleWatched(bool watched) { m_consoleWatched = watched; }
    bool isConsoleWatched() const { return m_consoleWatched; }
    void setReceiveTap(ReceiveTap tap) { m_receiveTap = std::move(tap); }

    qint64 pendingBytes() const;
    void setReadPaused(bool paused);
    // Received bytes arrive in chunks of at most this many (0: as they come), so that a
    // consumer holding the source back in time never gets more than it can queue.
    void setReadLimit(qint64 bytes);
    bool canThrottle() const;

signals:
    // View text and the raw bytes it shows.
    void displayBatch(const QList<ViewSegment> &segments, qint64 shownBytes);
    void activity(int direction);
    void countersChanged();
    void statusChanged();
    void statusMessage(const QString &text, int timeoutMs);
    // Any stored setting changed (window layout sizes aside).
    void settingsChanged();
    void historyChanged();
    // Hex text as it was sent, for "Format Send".
    void sendTextFormatted(const QString &text);
    void peersChanged();
    void portListChanged();
    void linesChanged();
    void breakReleased();
    void logFailed(const QString &message);
    void opened();
    void aboutToClose();
    void closed();

    // Raw traffic for features: received chunks not taken by the tap (also while
    // paused), bytes sent, and the connection's peers and loss.
    void received(const QByteArray &bytes, const QString &peer);
    void sent(const QByteArray &bytes, const QString &peer);
    void peerArrived(const QString &peer);
    void peerLost(const QString &peer);
    void connectionLost();
    void bytesWritten(qint64 bytes);
    void consoleTraffic(const QString &portKey, bool isTx, const QString &text);

private:
    void makeTransport();
    void storeSettings(const FormatSetting &settings);
    void onReceived(const QByteArray &bytes, const QString &peer);
    void record(const QByteArray &bytes, bool countBytes, int direction, bool toView = true);
    void onRefresh();
    void onSecondTick();
    void onLoopTick();
    void onLost();
    void onReconnectTick();
    void onPeersChanged();
    void disarmReconnect();
    void refreshStatus();
    void restartLoopTimer();
    void updateReadHold();
    bool sendRouted(const QByteArray &bytes, const QString &peer);

    FormatSetting m_settings;
    int m_portIndex = 0;
    PaneState m_state = Closed;
    ConnectionController *m_controller;
    LogWriter *m_logWriter;
    PortLease *m_lease;
    TransportFactory m_factory;
    std::unique_ptr<PortTransport> m_transport;
    ReceivePipeline m_pipeline;
    ReceiveTap m_receiveTap;

    QTimer m_refreshTimer{this};
    QTimer m_secondTimer{this};
    QTimer m_saveTimer{this};
    QTimer m_loopTimer{this};
    QTimer m_reconnectTimer{this};

    QString m_statusLine;
    QString m_portListSignature;
    QString m_selectedPeer;
    QString m_loopText;
    quint64 m_rxByteCount = 0;
    quint64 m_txByteCount = 0;
    qint64 m_viewShownBytes = 0;
    qint64 m_viewSkippedBytes = 0;
    qsizetype m_viewBudget = ReceivePipeline::NoBudget;
    double m_nsPerQueuedByte = 0;
    qint64 m_lastBusyMs = -1;
    bool m_featureHold = false; // a bridge holds the source back
    bool m_backlogHold = false; // the pipeline is behind: the peer waits
    int m_lineIndex = 0;
    bool m_lineByLine = false;
    bool m_autoReconnect = false;
    bool m_reconnectArmed = false;
    bool m_breakHeld = false;
    bool m_viewAttached = false;
    bool m_consoleWatched = false;
    bool m_countersDirty = false;
};
