// The main window's Cloud menu: account, cloud console, settings sync and usage reporting.
#include "app/mainwindow.h"
#include "app/applog.h"
#include "ui_mainwindow.h"

#include "cloud/accountsession.h"
#include "cloud/cloudconsoleservice.h"
#include "cloud/dialogs/accountdialog.h"
#include "cloud/dialogs/syncsettingsdialog.h"
#include "cloud/networkservices.h"
#include "cloud/usagereporter.h"
#include "settings/sessionsettings.h"
#include "terminal/serialportwidget.h"

#include <QLabel>
#include <QLocale>
#include <QSettings>
#include <QStatusBar>

namespace {

const QString kConsoleKey = QStringLiteral("LastCloudConsole");
const QString kAllowSendKey = QStringLiteral("CloudConsoleAllowRemoteSend");
const QString kAllowControlKey = QStringLiteral("CloudConsoleAllowPortControl");
const QString kLanguageKey = QStringLiteral("ValueL");

QString bytesText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes);
}

} // namespace

void MainWindow::setupCloud()
{
    m_network = new NetworkServices(this);
    m_account = new AccountSession(m_network, {}, this);
    m_cloudConsole = new CloudConsoleService(m_network, m_account, this);
    m_sync = new SettingsSync(m_network, m_account, {}, this);
    m_usage = new UsageReporter(m_network, m_account->deviceId(), {}, this);

    m_cloudConsole->setSessionsProvider([this] { return portSessions(); });
    m_sync->setHooks({[this] { return sessionDocument(); },
                      [this](const QJsonObject &document) { return applySessionDocument(document); },
                      [this] { return askSyncConflict(); }});

    m_quotaAction = new QAction(this);
    m_quotaAction->setObjectName(QStringLiteral("acCloudQuota"));
    m_quotaAction->setEnabled(false);
    ui->menuCloud->insertAction(ui->acAccountSignOut, m_quotaAction);
    m_cloudLabel = new QLabel(this);
    m_cloudLabel->setObjectName(QStringLiteral("cloudStatusLabel"));
    statusBar()->addPermanentWidget(m_cloudLabel);
    m_cloudLabelTimer.setSingleShot(true);
    connect(&m_cloudLabelTimer, &QTimer::timeout, m_cloudLabel, &QLabel::clear);

    connect(m_account, &AccountSession::changed, this, &MainWindow::updateCloudActions);
    connect(m_account, &AccountSession::signedOutByService, this,
            [this](const QString &reason) { showInformation(tr("Account"), reason); });
    connect(m_network, &NetworkServices::cloudQuotaResponse, this, [this](const QJsonObject &response) {
        if (response.value(QStringLiteral("status")).toBool())
            m_account->applyQuota(response);
        if (std::exchange(m_accountInfoWanted, false))
            showAccountInformation();
    });
    connect(m_network, &NetworkServices::networkError, this,
            [this](const QString &domain, const QString &message, const QString &detail) {
                qCDebug(lcApp) << "cloud:" << domain << detail;
                if (domain == QLatin1String("cloud") && std::exchange(m_accountInfoWanted, false))
                    showWarning(tr("Account"), message);
                else if (domain == QLatin1String("console") || domain == QLatin1String("sync"))
                    showCloudStatus(message, 10000);
            });
    connect(m_cloudConsole, &CloudConsoleService::stoppedItself, this, [this](const QString &reason) {
        ui->acCloudConsole->setChecked(false);
        QSettings().setValue(kConsoleKey, false);
        showInformation(tr("Cloud Console"), reason);
    });
    connect(m_cloudConsole, &CloudConsoleService::watchingChanged, this, [this](bool watching) {
        showCloudStatus(watching ? tr("Cloud Console: a browser is watching") : tr("Cloud Console: nobody is watching"),
                        watching ? 0 : 5000);
    });
    connect(m_sync, &SettingsSync::statusMessage, this, &MainWindow::showCloudStatus);

    QSettings store;
    ui->acCloudConsole->setChecked(store.value(kConsoleKey, false).toBool());
    ui->acCloudConsoleAllowSend->setChecked(store.value(kAllowSendKey, false).toBool());
    ui->acCloudConsoleAllowPortControl->setChecked(store.value(kAllowControlKey, false).toBool());
    m_cloudConsole->setAllowRemoteSend(ui->acCloudConsoleAllowSend->isChecked());
    m_cloudConsole->setAllowPortControl(ui->acCloudConsoleAllowPortControl->isChecked());
    updateCloudActions();

    m_account->restore();
    // Neither report holds up the window: they leave with the event loop.
    QTimer::singleShot(0, m_usage, &UsageReporter::reportStart);
}

QList<PortSession *> MainWindow::portSessions() const
{
    QList<PortSession *> sessions;
    for (int i = 0; i < m_paneCount; ++i)
        sessions << m_panes[size_t(i)]->session();
    return sessions;
}

void MainWindow::updateCloudActions()
{
    const bool signedIn = m_account->isSignedIn();
    ui->acAccountSignIn->setEnabled(!signedIn);
    for (QAction *action : {ui->acAccountMe, ui->acAccountSignOut, ui->acAccountSyncNow})
        action->setEnabled(signedIn);
    m_cloudConsole->setEnabled(signedIn && ui->acCloudConsole->isChecked());

    const AccountSession::Quota &quota = m_account->quota();
    m_quotaAction->setVisible(signedIn);
    if (!quota.known)
        m_quotaAction->setText(tr("Traffic this month: not known yet"));
    else if (!quota.enforced || quota.upLimit <= 0)
        m_quotaAction->setText(tr("Traffic this month: %1 up, no limit").arg(bytesText(quota.upUsed)));
    else
        m_quotaAction->setText(tr("Traffic this month: %1 of %2 up").arg(bytesText(quota.upUsed), bytesText(quota.upLimit)));
    ui->acAccountMe->setToolTip(m_account->displayName());

    // A fresh sign-in learns its quota once.
    if (signedIn && !quota.known && m_account->hasValidAccessToken() && !m_accountInfoWanted)
        m_network->requestCloudQuota(m_account->accessToken());
}

void MainWindow::showCloudStatus(const QString &text, int timeoutMs)
{
    m_cloudLabel->setText(text);
    if (timeoutMs > 0)
        m_cloudLabelTimer.start(timeoutMs);
    else
        m_cloudLabelTimer.stop();
}

void MainWindow::showAccountInformation()
{
    const AccountSession::Quota &q = m_account->quota();
    QString text = tr("Signed in as %1.").arg(m_account->displayName());
    if (q.known) {
        text += QLatin1Char('\n') + tr("Month %1: uploaded %2, downloaded %3.").arg(q.month, bytesText(q.upUsed),
                                                                                    bytesText(q.downUsed));
        if (q.enforced)
            text += QLatin1Char('\n') + tr("Upload left this month: %1.").arg(bytesText(qMax<qint64>(0, q.uploadRemaining)));
    }
    showInformation(tr("My Account"), text);
}

SettingsSync::Choice MainWindow::askSyncConflict()
{
    return ::askSyncConflict(this);
}

void MainWindow::on_acAccountSignIn_triggered()
{
    AccountDialog dialog(m_account, this);
    execDialog(dialog);
}

void MainWindow::on_acAccountMe_triggered()
{
    if (!m_account->hasValidAccessToken()) {
        m_account->requestRefresh(m_account->deviceId());
        showAccountInformation();
        return;
    }
    m_accountInfoWanted = true;
    m_network->requestCloudQuota(m_account->accessToken());
}

void MainWindow::on_acAccountSignOut_triggered()
{
    m_account->signOut();
}

void MainWindow::on_acAccountSyncNow_triggered()
{
    m_sync->start(SettingsSync::Trigger::User);
}

void MainWindow::on_acAccountSyncSettings_triggered()
{
    SyncSettingsDialog dialog(m_sync->options(), this);
    if (execDialog(dialog) == QDialog::Accepted)
        m_sync->setOptions(dialog.options());
}

void MainWindow::on_acCloudConsole_triggered(bool checked)
{
    QSettings().setValue(kConsoleKey, checked);
    if (checked && !m_account->isSignedIn())
        showInformation(tr("Cloud Console"), tr("Cloud Console starts when you are signed in."));
    updateCloudActions();
}

void MainWindow::on_acCloudConsoleAllowSend_triggered(bool checked)
{
    QSettings().setValue(kAllowSendKey, checked);
    m_cloudConsole->setAllowRemoteSend(checked);
}

void MainWindow::on_acCloudConsoleAllowPortControl_triggered(bool checked)
{
    QSettings().setValue(kAllowControlKey, checked);
    m_cloudConsole->setAllowPortControl(checked);
}

QJsonObject MainWindow::sessionDocument() const
{
    const LastSettings prefs = currentPreferences(pane(0) && pane(0)->state() != Closed);
    const int language = QSettings().value(kLanguageKey, 0).toInt();
    QJsonObject document =
        sessionSettingsToJson(prefs, m_account->deviceId(), AccountDialog::deviceName(), language, true);
    QList<SessionPort> ports;
    for (int i = 0; i < m_paneCount; ++i) {
        FormatSetting settings = m_panes[size_t(i)]->settings();
        settings.PortName = m_panes[size_t(i)]->currentRealPortName();
        ports.append({m_panes[size_t(i)]->portKey(), settings});
    }
    addSessionPorts(document, ports, true);
    return document;
}

bool MainWindow::applySessionDocument(const QJsonObject &document)
{
    LastSettings prefs = currentPreferences(false);
    int language = QSettings().value(kLanguageKey, 0).toInt();
    if (!sessionSettingsFromJson(document, prefs, &language))
        return false;
    const QList<SessionPort> ports = sessionPortsFromJson(document, [this](const QString &key) {
        for (int i = 0; i < m_paneCount; ++i) {
            if (m_panes[size_t(i)]->portKey() == key)
                return m_panes[size_t(i)]->settings();
        }
        return FormatSetting::builtInDefaults();
    });
    m_preferences = prefs;
    m_runState = RunStopped;
    if (ports.isEmpty()) {
        // A document without panes carries the first pane's values only.
        pane(0)->closePort();
        pane(0)->applySettings(paneSettingsFrom(prefs, pane(0)->settings()));
    } else {
        removeAllPanes();
        for (const SessionPort &port : ports)
            addPane(port.settings);
        m_panesPerRow = qBound(1, m_panesPerRow, m_paneCount);
    }
    m_autoReconnect = prefs.AutoReconnect;
    ui->acAutoReconnect->setChecked(m_autoReconnect);
    ui->acControlOpen->setChecked(prefs.OpenLastConnection);
    for (int i = 0; i < m_paneCount; ++i)
        m_panes[size_t(i)]->setAutoReconnect(m_autoReconnect);
    QSettings().setValue(kLanguageKey, language);
    arrangePanes();
    // Written now, so that closing (which writes from the first pane) keeps them too.
    savePreferences(false);
    setWindowModified(true);
    return true;
}
