#include "app/mainwindow.h"
#include "app/applog.h"
#include "ui_mainwindow.h"

#include "bridge/bridgeconfig.h"
#include "bridge/bridgemanager.h"
#include "cloud/usagereporter.h"
#include "bridge/dialogs/bridgedialog.h"
#include "connection/connectioncontroller.h"
#include "connection/connectionmode.h"
#include "settings/formatsetting.h"
#include "settings/dialogs/multiportsettingdlg.h"
#include "settings/dialogs/newconnection.h"
#include "settings/preferencesources.h"
#include "settings/recentfilesmodel.h"
#include "settings/serialportlist.h"
#include "terminal/serialportwidget.h"
#include "tools/asciicode.h"
#include "tools/modbusbuilderdialog.h"
#include "tools/toolbox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

namespace {

const char *const kToolBarStyle =
    "QToolButton { padding: 3px; border: 1px solid transparent; border-radius: 4px; }"
    "QToolButton:hover { background: rgba(0, 120, 215, 0.10); }"
    "QToolButton:pressed { background: rgba(0, 120, 215, 0.22); }"
    "QToolButton:checked { background: rgba(0, 120, 215, 0.14); border-color: rgba(0, 120, 215, 0.45); }";

// Makes the tool window on first use; every use shows it normal, raised and active.
template <typename Window, typename Make>
Window *raiseToolWindow(QPointer<Window> &window, Make make)
{
    if (!window) {
        window = make();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->showNormal();
    window->raise();
    window->activateWindow();
    return window;
}

QSplitter *makeSplitter(Qt::Orientation orientation, QWidget *parent)
{
    auto *splitter = new QSplitter(orientation, parent);
    splitter->setHandleWidth(8);
    splitter->setChildrenCollapsible(false);
    return splitter;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
{
    ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/images/resource/logo.png")));
    ui->menuDebug->menuAction()->setVisible(false);
    setupToolBar();
    setupStatusBar();

    m_portSplitter = makeSplitter(Qt::Vertical, ui->centralwidget);
    m_portSplitter->setObjectName(QStringLiteral("portSplitter"));
    ui->gridLayout->addWidget(m_portSplitter, 0, 0);
    connect(m_portSplitter, &QSplitter::splitterMoved, this, [this] { m_outerSizes = m_portSplitter->sizes(); });

    m_recentFiles = new RecentFilesModel(this);
    ui->menuFile->insertActions(ui->acFileExit, m_recentFiles->menuActions());
    connect(m_recentFiles, &RecentFilesModel::fileRequested, this, [this](const QString &path) {
        if (okToContinue())
            openDocument(path);
    });
    m_bridges = new BridgeManager(MaxPanes, this);
    connect(m_bridges, &BridgeManager::linksChanged, this, &MainWindow::refreshBridgeBadges);
    connect(m_bridges, &BridgeManager::message, this, [this](const QString &text) { showPaneNote(0, text, 5000); });
    loadPreferences();
    {
        // Bridges on panes that are not there yet wait for them.
        QSettings store;
        m_bridges->setConfigurations(readBridgeConfigs(store));
    }
    arrangePanes();
    setCurrentFile(QString());
    setupCloud();

    // Re-open what was connected at the last exit; a serial port only when it is there.
    if (m_preferences.OpenLastConnection && m_preferences.LastConnectionOpen) {
        const FormatSetting &first = pane(0)->settings();
        bool present = first.ConnMode != SerialPort;
        for (const QSerialPortInfo &info : availableSerialPorts())
            present = present || info.portName() == first.PortName || info.systemLocation() == first.PortName;
        present = present || (first.PortName.startsWith(QLatin1Char('/')) && QFileInfo::exists(first.PortName));
        if (present)
            QTimer::singleShot(0, this, [this] { startPorts(QString(), true); });
    }

    m_errorTimer.setSingleShot(true);
    connect(&m_errorTimer, &QTimer::timeout, this, [this] {
        m_errorLabel->clear();
        m_errorLabel->setToolTip(QString());
    });
    m_refreshTimer.setInterval(100);
    connect(&m_refreshTimer, &QTimer::timeout, this, &MainWindow::onRefresh);
    m_refreshTimer.start();
}

MainWindow::~MainWindow()
{
    // Start-up stores the geometry; it applied it too.
    qCDebug(lcApp) << "### position:" << pos();
    qCDebug(lcApp) << "###     size:" << size();
}

void MainWindow::setupToolBar()
{
    ui->mainToolBar->setStyleSheet(QString::fromLatin1(kToolBarStyle));
    m_quickPortCombo = new QComboBox(this);
    m_quickPortCombo->setObjectName(QStringLiteral("quickPortCombo"));
    m_quickPortCombo->setMinimumContentsLength(12);
    m_quickPortAction = ui->mainToolBar->insertWidget(ui->acMonStart, m_quickPortCombo);
    m_quickPortAction->setVisible(false);
    connect(m_quickPortCombo, &QComboBox::activated, this, [this](int index) {
        SerialPortWidget *first = pane(0);
        if (!first || index < 0)
            return;
        qCDebug(lcApp) << "Start to change port...";
        QString name = m_quickPortCombo->itemData(index).toString();
        if (name.isEmpty())
            name = m_quickPortCombo->itemText(index);
        if (first->settings().ConnMode == SerialPort && first->session()->isOpen())
            first->closePort();
        FormatSetting settings = first->settings();
        settings.PortName = name;
        first->applySettings(settings);
    });
}

void MainWindow::setupStatusBar()
{
    m_errorLabel = new QLabel(this);
    statusBar()->addWidget(m_errorLabel);
    for (QLabel *&label : m_mirrorLabels) {
        label = new QLabel(this);
        label->setIndent(3);
        statusBar()->addWidget(label, 1);
    }
    m_logLabel = new QLabel(QStringLiteral("  "), this);
    m_logLabel->setTextFormat(Qt::RichText);
    statusBar()->addWidget(m_logLabel, 1);
    connect(m_logLabel, &QLabel::linkActivated, this, [this] { on_acFileViewCurrentDataLog_triggered(); });
}

void MainWindow::loadPreferences()
{
    QSettings store;
    m_preferences = readPreferences(store);
    m_quickSettings = quickSettingsFrom(m_preferences);
    m_lastDirectory = m_preferences.LastDirectory;
    m_lastLogFile = m_preferences.LastLogFile;
    m_autoReconnect = m_preferences.AutoReconnect;
    ui->acAutoReconnect->setChecked(m_autoReconnect);
    ui->acControlOpen->setChecked(m_preferences.OpenLastConnection);
    m_recentFiles->setFiles(m_preferences.RecentFiles);
    m_recentFiles->updateActions(true);
    addPane(paneSettingsFrom(m_preferences));
}

void MainWindow::savePreferences(bool firstPaneOpen)
{
    m_preferences = currentPreferences(firstPaneOpen);
    QSettings store;
    writePreferences(store, m_preferences);
}

LastSettings MainWindow::currentPreferences(bool firstPaneOpen) const
{
    PreferenceSources sources;
    if (SerialPortWidget *first = pane(0)) {
        sources.firstPane = first->settings();
        sources.firstPane.PortName = first->currentRealPortName();
        sources.sendHistory = first->settings().SendList;
    }
    sources.quickSettings = m_quickSettings;
    sources.recentFiles = m_recentFiles->files();
    sources.currentFile = m_currentFile;
    sources.lastLogFile = m_lastLogFile;
    sources.lastDirectory = m_lastDirectory;
    sources.openLastConnection = ui->acControlOpen->isChecked();
    sources.lastConnectionOpen = firstPaneOpen;
    sources.autoReconnect = m_autoReconnect;
    return collectPreferences(m_preferences, sources);
}

// ---- Panes and grid ---------------------------------------------------------

bool MainWindow::event(QEvent *event)
{
    // Start-up time is measured up to here (quillon.app.info=true shows it).
    if (event->type() == QEvent::Paint && !std::exchange(m_painted, true))
        qCInfo(lcApp) << "first paint";
    return QMainWindow::event(event);
}

SerialPortWidget *MainWindow::pane(int index) const
{
    return index >= 0 && index < m_paneCount ? m_panes[size_t(index)] : nullptr;
}

int MainWindow::rowCount() const
{
    return (m_paneCount + m_panesPerRow - 1) / m_panesPerRow;
}

SerialPortWidget *MainWindow::addPane(const FormatSetting &settings)
{
    if (m_paneCount >= MaxPanes)
        return nullptr;
    auto *p = new SerialPortWidget(settings, m_paneCount, this);
    p->setObjectName(QStringLiteral("portPane%1").arg(m_paneCount));
    p->setAutoReconnect(m_autoReconnect);
    if (m_paneCount == 0)
        connect(p->session()->controller(), &ConnectionController::errorOccurred, this, &MainWindow::showError);
    connect(p, &SerialPortWidget::settingsChanged, this, [this] {
        setWindowModified(true);
        refreshBridgeBadges();
    });
    m_panes[size_t(m_paneCount++)] = p;
    attachTransfer(p);
    m_bridges->setPanes(sessions());
    return p;
}

void MainWindow::removeLastPane()
{
    SerialPortWidget *p = m_panes[size_t(m_paneCount - 1)];
    p->hide();
    p->closePort();
    m_panes[size_t(--m_paneCount)] = nullptr;
    delete p;
    m_bridges->setPanes(sessions());
    refreshTransferActions();
}

void MainWindow::removeAllPanes()
{
    // The bridges belong to the document being replaced.
    m_bridges->setConfigurations({});
    while (m_paneCount > 0)
        removeLastPane();
}

void MainWindow::arrangePanes()
{
    const int rows = rowCount();
    const bool shapeChanged = rows != m_lastRows || m_panesPerRow != m_lastPerRow;
    if (shapeChanged) {
        m_outerSizes.clear();
        m_rowSizes.clear();
        m_lastRows = rows;
        m_lastPerRow = m_panesPerRow;
    }
    while (m_rowSplitters.size() < rows) {
        const int index = int(m_rowSplitters.size());
        QSplitter *row = makeSplitter(Qt::Horizontal, m_portSplitter);
        row->setObjectName(QStringLiteral("portRowSplitter%1").arg(index));
        connect(row, &QSplitter::splitterMoved, this, [this, row] { m_rowSizes = row->sizes(); });
        m_rowSplitters.append(row);
    }
    for (int r = 0; r < m_rowSplitters.size(); ++r) {
        QSplitter *row = m_rowSplitters.at(r);
        if (r < rows) {
            m_portSplitter->insertWidget(r, row);
            row->show();
        } else {
            row->hide();
        }
    }
    for (int i = 0; i < m_paneCount; ++i) {
        SerialPortWidget *p = m_panes[size_t(i)];
        m_rowSplitters.at(i / m_panesPerRow)->insertWidget(i % m_panesPerRow, p);
        p->show();
    }
    if (shapeChanged) {
        // A new shape starts from even shares, not from what was dragged before.
        for (int r = 0; r < rows; ++r)
            m_rowSplitters.at(r)->setSizes(QList<int>(m_rowSplitters.at(r)->count(), 1000));
        m_portSplitter->setSizes(QList<int>(m_portSplitter->count(), 1000));
    }
    if (!m_rowSizes.isEmpty()) {
        for (int r = 0; r < rows; ++r)
            m_rowSplitters.at(r)->setSizes(m_rowSizes);
    }
    if (!m_outerSizes.isEmpty())
        m_portSplitter->setSizes(m_outerSizes);
    for (int i = 0; i < m_paneCount; ++i)
        m_panes[size_t(i)]->setQuickSettingsVisible(ui->acViewQuickSettings->isChecked());
    pushQuickSettings();
    updateQuickPortSelector();
}

void MainWindow::setLayoutAction(QAction *checked)
{
    for (QAction *a : {ui->acViewHorizontal, ui->acViewVertical, ui->acViewGrid, ui->acViewCustom})
        a->setChecked(a == checked);
}

void MainWindow::setPanesPerRow(int perRow)
{
    m_panesPerRow = qBound(1, perRow, MaxPanes);
    arrangePanes();
    setWindowModified(true);
}

void MainWindow::on_acViewHorizontal_triggered()
{
    setLayoutAction(ui->acViewHorizontal);
    setPanesPerRow(m_paneCount);
}

void MainWindow::on_acViewVertical_triggered()
{
    setLayoutAction(ui->acViewVertical);
    setPanesPerRow(1);
}

void MainWindow::on_acViewGrid_triggered()
{
    setLayoutAction(ui->acViewGrid);
    setPanesPerRow(2);
}

void MainWindow::on_acViewCustom_triggered()
{
    setLayoutAction(ui->acViewCustom);
    bool ok = false;
    const int perRow = QInputDialog::getInt(this, tr("Set Port Number Per Column"), tr("Port Number Per Column:"),
                                            m_panesPerRow, 1, MaxPanes, 1, &ok);
    if (ok)
        setPanesPerRow(perRow);
}

void MainWindow::on_acEditAdd_triggered()
{
    // At 16 panes every slot is taken: say so rather than silently doing nothing.
    if (m_paneCount >= MaxPanes) {
        showPaneNote(0, tr("At most %1 ports can be open in one window.").arg(MaxPanes), 3000);
        return;
    }
    MultiPortSettingDlg dialog(1, this, false);
    dialog.setSettings(0, FormatSetting::builtInDefaults());
    if (execDialog(dialog) != QDialog::Accepted)
        return;
    addPane(dialog.settings(0));
    setLayoutAction(ui->acViewHorizontal);
    setPanesPerRow(m_paneCount);
}

void MainWindow::on_acToolsSetting_triggered()
{
    MultiPortSettingDlg dialog(m_paneCount, this);
    for (int i = 0; i < m_paneCount; ++i)
        dialog.setSettings(i, m_panes[size_t(i)]->settings());
    dialog.setQuickSettingsLayout(m_quickSettings);
    if (execDialog(dialog) != QDialog::Accepted)
        return;
    for (int i = 0; i < m_paneCount; ++i) {
        m_panes[size_t(i)]->closePort();
        m_panes[size_t(i)]->applySettings(dialog.settings(i));
    }
    m_quickSettings = dialog.quickSettingsLayout();
    if (dialog.defaultsRestored()) {
        on_acAutoReconnect_triggered(false);
        ui->acAutoReconnect->setChecked(false);
        ui->acViewQuickSettings->setChecked(true);
        on_acViewQuickSettings_triggered(true);
        m_quickSettings = QuickSettingsLayout();
    }
    pushQuickSettings();
    savePreferences(pane(0) && pane(0)->state() != Closed);
    setWindowModified(true);
}

void MainWindow::pushQuickSettings()
{
    for (int i = 0; i < m_paneCount; ++i)
        m_panes[size_t(i)]->setQuickSettingsLayout(m_quickSettings, m_paneCount == 1);
}

void MainWindow::on_acEditRemove_triggered()
{
    qCDebug(lcApp) << "on_acEditRemove_triggered: Port Number =" << m_paneCount;
    if (m_paneCount < 2) {
        showPaneNote(0, tr("Port Number = %1").arg(m_paneCount), 2000);
        return;
    }
    removeLastPane();
    setLayoutAction(ui->acViewHorizontal);
    setPanesPerRow(m_paneCount);
}

void MainWindow::on_acToolCalc_triggered()
{
    raiseToolWindow(m_toolBox, [this] {
        auto *window = new ToolBox(this);
        connect(window, &ToolBox::insertRequested, this,
                [this](const QString &frame) { insertFrame(frame, FrameSource::Toolbox); });
        return window;
    });
}

void MainWindow::on_acToolsAscii_triggered()
{
    raiseToolWindow(m_asciiCode, [this] { return new AsciiCode(this); });
}

void MainWindow::on_acToolsModbus_triggered()
{
    raiseToolWindow(m_modbusBuilder, [this] {
        auto *window = new ModbusBuilderDialog(this);
        connect(window, &ModbusBuilderDialog::insertRequested, this,
                [this](const QString &frame) { insertFrame(frame, FrameSource::ModbusBuilder); });
        return window;
    });
}

void MainWindow::on_acToolsBridge_triggered()
{
    QStringList labels;
    for (int i = 0; i < m_paneCount; ++i) {
        const PortSession *s = m_panes[size_t(i)]->session();
        const QString description = s->settings().ConnMode == SerialPort ? s->settings().PortName
                                    : s->settings().ConnMode == Unassigned ? QString()
                                                                           : s->title();
        labels << QStringLiteral("%1: %2").arg(i + 1).arg(description.isEmpty() ? tr("(not configured)") : description);
    }
    BridgeDialog dialog(m_bridges, labels, this);
    dialog.exec();
    refreshBridgeBadges();
    setWindowModified(true);
}

void MainWindow::on_actionNew_Connection_triggered()
{
    NewConnection dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.selectedIndex() == NewConnection::BridgeChoice)
        on_acToolsBridge_triggered();
    else
        on_acEditAdd_triggered();
}

SerialPortWidget *MainWindow::insertFrame(const QString &text, FrameSource source)
{
    SerialPortWidget *target = focusedPane();
    if (!target)
        return nullptr;
    target->setSendHexFrame(text);
    if (target->settings().SendChecksum != 0) {
        target->showNote(source == FrameSource::ModbusBuilder
                             ? tr("Note: this port appends a checksum on send; the Modbus frame already includes one.")
                             : tr("Note: this port appends a checksum on send; the inserted frame already includes its CRC."),
                         6000);
    }
    return target;
}

// ---- Running ----------------------------------------------------------------

void MainWindow::on_acMonStart_triggered()
{
    if (m_runState == RunStopped) {
        for (int i = 0; i < m_paneCount; ++i)
            m_panes[size_t(i)]->clearReceiveView();
    }
    startPorts(QString(), false);
}

void MainWindow::startPorts(const QString &portName, bool quiet)
{
    m_runState = RunRunning;
    const int count = portName.isEmpty() ? m_paneCount : qMin(1, m_paneCount);
    for (int i = 0; i < count; ++i) {
        SerialPortWidget *p = m_panes[size_t(i)];
        if (!portName.isEmpty())
            p->setSplitterSizes(0, 100);
        if (p->openPort(portName.isEmpty() ? QString() : portName))
            continue;
        const QString name = portName.isEmpty() ? p->currentRealPortName() : portName;
        qCInfo(lcApp) << QStringLiteral("Serial Port %1 OPEN FAILED").arg(name);
        if (i != 0)
            continue;
        const QString text = tr("Serial Port %1 OPEN FAILED").arg(name);
        if (quiet) {
            m_errorLabel->setText(QStringLiteral("<font color = red> %1 </font>").arg(text.toHtmlEscaped()));
            m_errorTimer.start(15000);
        } else {
            showWarning(tr("Quillon"), text);
        }
    }
}

void MainWindow::on_acEditPause_triggered()
{
    for (int i = 0; i < m_paneCount; ++i)
        m_panes[size_t(i)]->pauseView();
    m_runState = RunPaused;
}

void MainWindow::on_acMonStop_triggered()
{
    for (int i = 0; i < m_paneCount; ++i)
        m_panes[size_t(i)]->closePort();
    m_runState = RunStopped;
}

void MainWindow::on_acEditClear_triggered()
{
    for (int i = 0; i < m_paneCount; ++i)
        m_panes[size_t(i)]->clearReceiveView();
}

void MainWindow::on_actionClearSendHistory_triggered()
{
    for (int i = 0; i < m_paneCount; ++i)
        m_panes[size_t(i)]->clearSendHistory();
}

void MainWindow::on_acControlOpen_triggered(bool checked)
{
    QSettings().setValue(QStringLiteral("OpenLastConnection"), checked);
    if (checked)
        showInformation(tr("Quillon"), tr("The connection that is open when you exit will be re-opened on the next launch."));
}

void MainWindow::on_acAutoReconnect_triggered(bool checked)
{
    m_autoReconnect = checked;
    QSettings().setValue(QStringLiteral("AutoReconnect"), checked);
    for (int i = 0; i < m_paneCount; ++i)
        m_panes[size_t(i)]->setAutoReconnect(checked);
}

// ---- Bridges ----------------------------------------------------------------

QList<PortSession *> MainWindow::sessions() const
{
    QList<PortSession *> list;
    for (int i = 0; i < m_paneCount; ++i)
        list.append(m_panes[size_t(i)]->session());
    return list;
}

void MainWindow::refreshBridgeBadges()
{
    for (int i = 0; i < m_paneCount; ++i) {
        const QString text = m_bridges->badgeText(i);
        QLabel *badge = m_panes[size_t(i)]->bridgeBadge();
        badge->setText(text);
        badge->setVisible(!text.isEmpty());
    }
}

// ---- View -------------------------------------------------------------------

void MainWindow::on_acViewQuickSettings_triggered(bool checked)
{
    ui->acViewQuickSettings->setText(checked ? tr("Close Quick Settings") : tr("Open Quick Settings"));
    for (int i = 0; i < m_paneCount; ++i)
        m_panes[size_t(i)]->setQuickSettingsVisible(checked);
    updateQuickPortSelector();
}

void MainWindow::on_acViewAlwaysTop_triggered(bool checked)
{
    const QPoint where = pos();
    hide();
    setWindowFlags(checked ? windowFlags() | Qt::WindowStaysOnTopHint : windowFlags() & ~Qt::WindowStaysOnTopHint);
    move(where);
    show();
}

void MainWindow::on_actionEnglish_triggered()
{
    ui->actionEnglish->setChecked(true);
    ui->actionChinese->setChecked(false);
    QSettings().setValue(QStringLiteral("ValueL"), 2);
    showInformation(tr("Quillon"), tr("The changes will take effect when the program is restarted."));
}

void MainWindow::on_actionChinese_triggered()
{
    ui->actionChinese->setChecked(true);
    ui->actionEnglish->setChecked(false);
    QSettings().setValue(QStringLiteral("ValueL"), 1);
    showInformation(tr("Quillon"), tr("The changes will take effect when the program is restarted."));
}

void MainWindow::on_acHelpOnline_triggered()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("https://vortane.example/quillon/help")));
}

void MainWindow::on_acHelpHomepage_triggered()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("https://vortane.example/quillon")));
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, tr("About Quillon"),
                       tr("<b>Quillon</b> %1<br>A terminal for serial ports and IP networks.")
                           .arg(QCoreApplication::applicationVersion()));
}

// ---- Status bar and refresh -------------------------------------------------

void MainWindow::showPaneNote(int index, const QString &text, int timeoutMs)
{
    if (SerialPortWidget *p = pane(index))
        p->showNote(text, timeoutMs);
}

void MainWindow::showError(const QString &message)
{
    qCDebug(lcApp) << "updateStatusBar: " << message;
    m_errorLabel->setText(QStringLiteral("<font color = red> %1 </font>").arg(message.toHtmlEscaped()));
    m_errorLabel->setToolTip(message);
    m_errorTimer.start(5000);
}

void MainWindow::updateStatusBar()
{
    SerialPortWidget *first = pane(0);
    if (!first)
        return;
    m_mirrorLabels[0]->setText(first->statusText());
    m_mirrorLabels[1]->setText(tr("Rx: %L1 Bytes").arg(first->session()->rxByteCount()));
    m_mirrorLabels[2]->setText(tr("Tx: %L1 Bytes").arg(first->session()->txByteCount()));
    const QString log = firstPaneLogFile();
    const QString name = QFileInfo(log).fileName().trimmed();
    if (first->settings().LogSaveFlag && name.size() > 2 && name != QLatin1String("NULL")) {
        m_logLabel->setText(QStringLiteral("<a href=\"current-log\">%1</a>").arg(name.toHtmlEscaped()));
        m_logLabel->setToolTip(QFileInfo(log).absoluteFilePath());
    } else {
        m_logLabel->setText(QStringLiteral("  "));
        m_logLabel->setToolTip(QString());
    }
}

void MainWindow::onRefresh()
{
    if (m_paneCount == 1) {
        updateStatusBar();
        if (!ui->acViewQuickSettings->isChecked())
            refillQuickPorts();
        ui->acFileRecordDataLog->setChecked(pane(0)->settings().LogSaveFlag);
    } else {
        bool all = m_paneCount > 0;
        for (int i = 0; i < m_paneCount; ++i)
            all = all && m_panes[size_t(i)]->settings().LogSaveFlag;
        ui->acFileRecordDataLog->setChecked(all);
    }
}

void MainWindow::refillQuickPorts()
{
    const auto ports = availableSerialPorts();
    if (int(ports.size()) == m_quickPortCount)
        return;
    qCDebug(lcApp) << "Start to refresh port list...";
    m_quickPortCount = int(ports.size());
    const QSignalBlocker block(m_quickPortCombo);
    m_quickPortCombo->clear();
    for (const QSerialPortInfo &info : ports)
        m_quickPortCombo->addItem(info.portName(), info.portName());
    if (SerialPortWidget *first = pane(0))
        m_quickPortCombo->setCurrentIndex(m_quickPortCombo->findData(first->settings().PortName));
}

void MainWindow::updateQuickPortSelector()
{
    const bool show = m_paneCount == 1 && pane(0)->settings().ConnMode == SerialPort
        && !ui->acViewQuickSettings->isChecked();
    m_quickPortAction->setVisible(show);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    qCDebug(lcApp) << "closeEvent..." << QDateTime::currentDateTime();
    SerialPortWidget *first = pane(0);
    const bool firstOpen = first && first->state() != Closed;
    for (int i = 0; i < m_paneCount; ++i) {
        if (m_panes[size_t(i)]->state() != Closed)
            m_panes[size_t(i)]->closePort();
    }
    hide();
    savePreferences(firstOpen);
    QSettings store;
    writeBridgeConfigs(store, m_bridges->configurations());
    // The window is gone already; the report gets a moment to leave.
    m_usage->reportExit();
    m_usage->waitForReports(ExitReportWaitMs);
    event->accept();
}
