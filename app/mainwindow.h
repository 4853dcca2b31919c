#pragma once

#include "cloud/settingssync.h"
#include "settings/lastsettings.h"
#include "settings/quicksettingslayout.h"

#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>

class AccountSession;
class AsciiCode;
class CloudConsoleService;
class NetworkServices;
class PortSession;
class UsageReporter;
class ModbusBuilderDialog;
class BridgeManager;
class PortSession;
class QComboBox;
class QDialog;
class QLabel;
class PortTransfer;
class QSplitter;
class RecentFilesModel;
class SerialPortWidget;
class ToolBox;
struct FormatSetting;

namespace Ui {
class MainWindow;
}

// The only top-level window: a grid of up to 16 port panes in splitters, the
// commands that act on all of them, the settings document and the status bar
// that mirrors the first pane.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int MaxPanes = 16;
    // How long a closed window's process waits for the exit report at most.
    static constexpr int ExitReportWaitMs = 500;
    enum RunState { RunRunning = 0, RunPaused = 1, RunStopped = 2 };

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    int paneCount() const { return m_paneCount; }
    SerialPortWidget *pane(int index) const;
    int panesPerRow() const { return m_panesPerRow; }
    int rowCount() const;
    int runState() const { return m_runState; }
    QString currentFile() const { return m_currentFile; }
    QuickSettingsLayout quickSettingsLayout() const { return m_quickSettings; }
    RecentFilesModel *recentFiles() const { return m_recentFiles; }
    BridgeManager *bridges() const { return m_bridges; }

    void startPorts(const QString &portName, bool quiet);
    bool readSettingFile(const QString &filePath);
    bool writeFile(const QString &filePath, bool showProgress);
    bool openDocument(const QString &filePath);
    bool saveDocument(const QString &filePath);
    void arrangePanes();
    SerialPortWidget *addPane(const FormatSetting &settings);

    // Where a ready-made frame (Modbus builder, CRC calculator) goes: the send
    // box of the pane holding the keyboard focus, else of the first pane.
    enum class FrameSource { ModbusBuilder, Toolbox };
    SerialPortWidget *insertFrame(const QString &text, FrameSource source);
    // The file transfer driver of a pane (its progress strip is in the pane).
    PortTransfer *transferOf(SerialPortWidget *pane) const;

    // ---- Cloud ----
    NetworkServices *network() const { return m_network; }
    AccountSession *account() const { return m_account; }
    CloudConsoleService *cloudConsole() const { return m_cloudConsole; }
    SettingsSync *settingsSync() const { return m_sync; }
    UsageReporter *usageReporter() const { return m_usage; }
    QList<PortSession *> portSessions() const;
    // The session settings document of this window, send histories included.
    QJsonObject sessionDocument() const;
    // Applies a document as opening a settings document would: the panes are made
    // anew from its ports, and the preferences take its values. False when refused.
    bool applySessionDocument(const QJsonObject &document);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

    // Questions and file choices go through these so that tests can answer them.
    virtual QMessageBox::StandardButton askSaveChanges();
    virtual QString askOpenFileName();
    virtual QString askSaveFileName();
    virtual void showWarning(const QString &title, const QString &text);
    virtual void showInformation(const QString &title, const QString &text);
    // Runs a modal dialog; returns its result code.
    virtual int execDialog(QDialog &dialog);
    virtual SettingsSync::Choice askSyncConflict();

private slots:
    void on_acFileNew_triggered();
    void on_acFileOpen_triggered();
    void on_acFileSave_triggered();
    void on_acFileSaveAs_triggered();
    void on_acFileRecordDataLog_triggered();
    void on_acFileViewCurrentDataLog_triggered();
    void on_acFileOpenLogFolder_triggered();
    void on_acFileExit_triggered();
    void on_acMonStart_triggered();
    void on_acEditPause_triggered();
    void on_acMonStop_triggered();
    void on_acEditAdd_triggered();
    void on_acEditRemove_triggered();
    void on_acEditClear_triggered();
    void on_actionClearSendHistory_triggered();
    void on_acControlOpen_triggered(bool checked);
    void on_acAutoReconnect_triggered(bool checked);
    void on_acXferSend_triggered();
    void on_acXferReceive_triggered();
    void on_acXferCancel_triggered();
    void on_acToolsSetting_triggered();
    void on_acToolCalc_triggered();
    void on_acToolsAscii_triggered();
    void on_acToolsModbus_triggered();
    void on_acToolsBridge_triggered();
    void on_actionNew_Connection_triggered();
    void on_acViewHorizontal_triggered();
    void on_acViewVertical_triggered();
    void on_acViewGrid_triggered();
    void on_acViewCustom_triggered();
    void on_acViewQuickSettings_triggered(bool checked);
    void on_acViewAlwaysTop_triggered(bool checked);
    void on_actionEnglish_triggered();
    void on_actionChinese_triggered();
    void on_acHelpOnline_triggered();
    void on_acHelpHomepage_triggered();
    void on_actionAbout_triggered();
    void on_acAccountSignIn_triggered();
    void on_acAccountMe_triggered();
    void on_acAccountSignOut_triggered();
    void on_acAccountSyncNow_triggered();
    void on_acAccountSyncSettings_triggered();
    void on_acCloudConsole_triggered(bool checked);
    void on_acCloudConsoleAllowSend_triggered(bool checked);
    void on_acCloudConsoleAllowPortControl_triggered(bool checked);
    void updateStatusBar();
    void onRefresh();

private:
    void setupToolBar();
    void setupStatusBar();
    void loadPreferences();
    void savePreferences(bool firstPaneOpen);
    LastSettings currentPreferences(bool firstPaneOpen) const;
    void setupCloud();
    void updateCloudActions();
    void showCloudStatus(const QString &text, int timeoutMs);
    void showAccountInformation();
    void setLayoutAction(QAction *checked);
    void setPanesPerRow(int perRow);
    void removeAllPanes();
    void removeLastPane();
    void setCurrentFile(const QString &filePath);
    bool okToContinue();
    bool saveAs();
    void showPaneNote(int index, const QString &text, int timeoutMs);
    SerialPortWidget *focusedPane() const;
    void attachTransfer(SerialPortWidget *pane);
    void openTransferDialog(SerialPortWidget *pane, int direction);
    void refreshTransferActions();
    void showError(const QString &message);
    void pushQuickSettings();
    void refillQuickPorts();
    void updateQuickPortSelector();
    QString firstPaneLogFile() const;
    QList<PortSession *> sessions() const;
    void refreshBridgeBadges();

    std::unique_ptr<Ui::MainWindow> ui;
    std::array<SerialPortWidget *, MaxPanes> m_panes{};
    int m_paneCount = 0;
    int m_panesPerRow = 1;
    int m_runState = RunStopped;
    QString m_currentFile;
    QString m_lastDirectory;
    QuickSettingsLayout m_quickSettings;
    QList<int> m_outerSizes;
    QList<int> m_rowSizes;
    int m_lastRows = -1;
    int m_lastPerRow = -1;
    bool m_autoReconnect = false;
    LastSettings m_preferences;
    RecentFilesModel *m_recentFiles = nullptr;
    BridgeManager *m_bridges = nullptr;
    QString m_lastLogFile;
    QSplitter *m_portSplitter = nullptr;
    QList<QSplitter *> m_rowSplitters;
    QComboBox *m_quickPortCombo = nullptr;
    QAction *m_quickPortAction = nullptr;
    int m_quickPortCount = -1;
    QLabel *m_errorLabel = nullptr;
    std::array<QLabel *, 3> m_mirrorLabels{};
    QLabel *m_logLabel = nullptr;
    QTimer m_refreshTimer;
    QTimer m_errorTimer;
    QString m_lastError;
    bool m_painted = false;
    // Tool windows: made on first use, deleted when closed.
    QPointer<ToolBox> m_toolBox;
    QPointer<AsciiCode> m_asciiCode;
    QPointer<ModbusBuilderDialog> m_modbusBuilder;
    // A transfer dialog asked to be shown again when its transfer ends.
    QPointer<SerialPortWidget> m_reopenPane;
    int m_reopenDirection = 0;
    // Cloud services, alive as long as the window.
    NetworkServices *m_network = nullptr;
    AccountSession *m_account = nullptr;
    CloudConsoleService *m_cloudConsole = nullptr;
    SettingsSync *m_sync = nullptr;
    UsageReporter *m_usage = nullptr;
    QAction *m_quotaAction = nullptr;
    QLabel *m_cloudLabel = nullptr;
    QTimer m_cloudLabelTimer;
    bool m_accountInfoWanted = false;
};
