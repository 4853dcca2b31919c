#pragma once

#include "session/portsession.h"
#include "settings/quicksettingslayout.h"
#include "terminal/receiveviewwriter.h"

#include <QWidget>
#include <memory>

class ConnectionSettingsWidget;
class LampRow;
class QKeyEvent;
class QLabel;
class ReceiveFindBar;

namespace Ui {
class SerialPortWidget;
}

// The view of one port session: its settings controls, the receive view with the
// find bar, the lamp row and the send box. The session does the I/O; the pane reads
// the controls into the session's settings and shows what the session reports.
class SerialPortWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SerialPortWidget(const FormatSetting &settings, int portIndex, QWidget *parent = nullptr);
    ~SerialPortWidget() override;

    PortSession *session() const { return m_session.get(); }
    const FormatSetting &settings() const { return m_session->settings(); }
    void applySettings(const FormatSetting &settings);
    int portIndex() const { return m_session->portIndex(); }
    QString portKey() const { return m_session->portKey(); }
    PaneState state() const { return m_session->state(); }

    bool openPort(const QString &portNameOverride = QString());
    void closePort() { m_session->close(); }
    void pauseView() { m_session->pause(); }
    void clearReceiveView();
    void insertNotice(const QString &text) { m_session->insertNotice(text); }
    void setAutoReconnect(bool on) { m_session->setAutoReconnect(on); }

    QString receiveText() const;
    QString statusText() const;
    qint64 takeTrimmedChars() { return m_viewWriter->takeTrimmedChars(); }
    Q_INVOKABLE QString currentRealPortName() const;
    bool isSerialPortSelected() const;
    ConnectionSettingsWidget *connectionSettings() const;
    LampRow *lampRow() const;
    QLabel *bridgeBadge() const;
    ReceiveFindBar *findBar() const { return m_findBar; }
    // A feature's strip (a transfer's progress bar) shown above the receive view.
    void addStrip(QWidget *strip);

    // What the main window drives in every pane.
    void showNote(const QString &text, int timeoutMs) { showStatus(text, timeoutMs); }
    void setQuickSettingsVisible(bool visible);
    void setQuickSettingsLayout(const QuickSettingsLayout &layout, bool onlyPane);
    void setSplitterSizes(int left, int right);
    void clearSendHistory();
    void setSendText(const QString &text);
    // A ready-made frame from a tool: hex sending, the frame as the send text, focus there.
    void setSendHexFrame(const QString &hexText);
    QString sendText() const;

signals:
    void settingsChanged();
    // Every transient text the pane shows in its status bar, with its display time.
    void statusMessage(const QString &message, int timeoutMs);
    void logFailed(const QString &message);

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
    void rebuildHistoryBox();
    void updateCounterLabels();
    void onStatusChanged();
    void onPeersChanged();
    void onConnectionConfigChanged();
    void onConnectionSettingsEdited();
    void onLogFailed(const QString &message);
    void onReceiveContextMenuRequested(const QPoint &pos);
    bool sendTerminalKey(QKeyEvent *event);
    void showStatus(const QString &text, int timeoutMs);

    std::unique_ptr<Ui::SerialPortWidget> ui;
    std::unique_ptr<PortSession> m_session;
    std::unique_ptr<ReceiveViewWriter> m_viewWriter;
    ReceiveFindBar *m_findBar = nullptr;
    QLabel *m_statusLabel = nullptr;
    QLabel *m_rxCountLabel = nullptr;
    QLabel *m_txCountLabel = nullptr;
    QLabel *m_logLabel = nullptr;
    bool m_updatingControls = false;
};
