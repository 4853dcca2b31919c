// The main window's settings documents (new, open, save) and the data log commands.
#include "app/mainwindow.h"
#include "app/applog.h"
#include "ui_mainwindow.h"

#include "bridge/bridgeconfig.h"
#include "bridge/bridgemanager.h"
#include "logging/logname.h"
#include "settings/formatsetting.h"
#include "settings/recentfilesmodel.h"
#include "settings/settingsdocument.h"
#include "terminal/serialportwidget.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QSettings>
#include <QUrl>

// ---- Documents --------------------------------------------------------------

void MainWindow::setCurrentFile(const QString &filePath)
{
    m_currentFile = filePath;
    if (filePath.isEmpty())
        setWindowTitle(QStringLiteral("Quillon[*]"));
    else
        setWindowTitle(QStringLiteral("%1[*] - %2").arg(QFileInfo(filePath).fileName(), QStringLiteral("Quillon")));
    setWindowModified(false);
    if (!filePath.isEmpty())
        m_recentFiles->addFile(filePath);
}

bool MainWindow::okToContinue()
{
    if (!isWindowModified())
        return true;
    switch (askSaveChanges()) {
    case QMessageBox::Yes:
        if (m_currentFile.isEmpty())
            return saveAs();
        return saveDocument(m_currentFile);
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

QMessageBox::StandardButton MainWindow::askSaveChanges()
{
    return QMessageBox::warning(this, tr("Quillon"), tr("The document has been modified.\nDo you want to save your changes?"),
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
}

QString MainWindow::askOpenFileName()
{
    return QFileDialog::getOpenFileName(this, tr("Open Quillon"), m_lastDirectory, tr("Quillon files (*.qln)"));
}

QString MainWindow::askSaveFileName()
{
    return QFileDialog::getSaveFileName(this, tr("Save Quillon"), m_lastDirectory, tr("Quillon files (*.qln)"));
}

void MainWindow::showWarning(const QString &title, const QString &text)
{
    QMessageBox::warning(this, title, text);
}

void MainWindow::showInformation(const QString &title, const QString &text)
{
    QMessageBox::information(this, title, text);
}

int MainWindow::execDialog(QDialog &dialog)
{
    return dialog.exec();
}

void MainWindow::on_acFileNew_triggered()
{
    if (!okToContinue()) {
        qCDebug(lcApp) << "on_acFileNew_triggered: okToContinue FAILED!";
        return;
    }
    removeAllPanes();
    m_runState = RunStopped;
    addPane(FormatSetting::builtInDefaults());
    m_panesPerRow = 1;
    arrangePanes();
    setCurrentFile(QString());
}

void MainWindow::on_acFileOpen_triggered()
{
    if (!okToContinue())
        return;
    const QString path = askOpenFileName();
    if (!path.isEmpty())
        openDocument(path);
}

bool MainWindow::openDocument(const QString &filePath)
{
    m_lastDirectory = QFileInfo(filePath).absolutePath();
    m_runState = RunStopped;
    if (!readSettingFile(filePath))
        return false;
    setCurrentFile(filePath);
    arrangePanes();
    return true;
}

void MainWindow::on_acFileSave_triggered()
{
    if (m_currentFile.isEmpty())
        saveAs();
    else
        saveDocument(m_currentFile);
}

void MainWindow::on_acFileSaveAs_triggered()
{
    saveAs();
}

bool MainWindow::saveAs()
{
    QString path = askSaveFileName();
    if (path.isEmpty())
        return false;
    m_lastDirectory = QFileInfo(path).absolutePath();
    qCDebug(lcApp) << "saveAs: lastDirectory =" << m_lastDirectory;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".qln");
    return saveDocument(path);
}

bool MainWindow::saveDocument(const QString &filePath)
{
    m_lastDirectory = QFileInfo(filePath).absolutePath();
    if (!writeFile(filePath, true)) {
        showWarning(tr("Quillon"), tr("Could not save %1.").arg(QDir::toNativeSeparators(filePath)));
        return false;
    }
    qCDebug(lcApp) << "Write OK " << QDateTime::currentDateTime();
    setCurrentFile(filePath);
    showPaneNote(0, tr("File saved"), 2000);
    return true;
}

bool MainWindow::readSettingFile(const QString &filePath)
{
    SettingsDocument doc;
    if (!::readSettingFile(filePath, doc))
        return false;
    m_quickSettings = doc.quickSettings;
    removeAllPanes();
    m_panesPerRow = doc.ColumnNumber;
    for (const FormatSetting &settings : std::as_const(doc.panes))
        addPane(settings);
    m_outerSizes.clear();
    m_rowSizes.clear();
    ui->acViewQuickSettings->setChecked(doc.QuickView);
    on_acViewQuickSettings_triggered(doc.QuickView);
    QSettings file(filePath, QSettings::IniFormat);
    m_bridges->setConfigurations(readBridgeConfigs(file));
    return true;
}

bool MainWindow::writeFile(const QString &filePath, bool showProgress)
{
    SettingsDocument doc;
    doc.PortNumber = m_paneCount;
    doc.ColumnNumber = m_panesPerRow;
    doc.QuickView = ui->acViewQuickSettings->isChecked();
    doc.quickSettings = m_quickSettings;
    for (int i = 0; i < m_paneCount; ++i) {
        FormatSetting s = m_panes[size_t(i)]->settings();
        s.PortName = m_panes[size_t(i)]->currentRealPortName();
        doc.panes.append(s);
    }
    std::unique_ptr<QProgressBar> bar;
    if (showProgress) {
        bar = std::make_unique<QProgressBar>();
        bar->setWindowTitle(tr("Saving..."));
        bar->resize(400, 40);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->show();
        QCoreApplication::processEvents();
    }
    if (!::writeFile(filePath, doc, [&bar](int percent) {
            if (!bar)
                return;
            bar->setValue(percent);
            QCoreApplication::processEvents();
        }))
        return false;
    QSettings file(filePath, QSettings::IniFormat);
    writeBridgeConfigs(file, m_bridges->configurations());
    file.sync();
    return file.status() == QSettings::NoError;
}

// ---- Logs -------------------------------------------------------------------

QString MainWindow::firstPaneLogFile() const
{
    SerialPortWidget *first = pane(0);
    if (!first)
        return {};
    const FormatSetting &s = first->settings();
    return s.resolvedLogPath.isEmpty() ? resolveLogName(s.LogFilePath, first->currentRealPortName()) : s.resolvedLogPath;
}

void MainWindow::on_acFileRecordDataLog_triggered()
{
    if (!pane(0))
        return;
    const bool record = !pane(0)->settings().LogSaveFlag;
    for (int i = 0; i < m_paneCount; ++i) {
        FormatSetting s = m_panes[size_t(i)]->settings();
        s.LogSaveFlag = record;
        m_panes[size_t(i)]->applySettings(s);
    }
    ui->acFileRecordDataLog->setChecked(record);
    setWindowModified(true);
}

void MainWindow::on_acFileViewCurrentDataLog_triggered()
{
    const QString path = firstPaneLogFile();
    if (path.trimmed().size() < 3) {
        showWarning(tr("Warning"), tr("Please input correct log file name!"));
        return;
    }
    if (!QFileInfo::exists(path)) {
        showWarning(tr("Warning"), tr("Current log file does not exist."));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        showWarning(tr("Warning"), tr("Could not open current log file."));
}

void MainWindow::on_acFileOpenLogFolder_triggered()
{
    const QString folder = QFileInfo(firstPaneLogFile()).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        showWarning(tr("Warning"), tr("Current log folder does not exist."));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void MainWindow::on_acFileExit_triggered()
{
    close();
}
