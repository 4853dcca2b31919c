// The main window's file transfer commands: a transfer bar on every pane, and the dialog.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "terminal/serialportwidget.h"
#include "transfer/dialogs/filetransferbar.h"
#include "transfer/dialogs/filetransferdialog.h"
#include "transfer/porttransfer.h"

#include <QTimer>

// ---- File transfer ----------------------------------------------------------

void MainWindow::attachTransfer(SerialPortWidget *pane)
{
    auto *transfer = new PortTransfer(pane->session());
    pane->addStrip(new FileTransferBar(transfer, pane));
    connect(transfer, &PortTransfer::transferStateChanged, this, &MainWindow::refreshTransferActions);
    connect(transfer, &PortTransfer::transferEnded, this, [this, pane] {
        if (m_reopenPane != pane)
            return;
        m_reopenPane = nullptr;
        QTimer::singleShot(0, pane, [this, pane, direction = m_reopenDirection] { openTransferDialog(pane, direction); });
    });
}

PortTransfer *MainWindow::transferOf(SerialPortWidget *pane) const
{
    return pane ? pane->session()->findChild<PortTransfer *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

SerialPortWidget *MainWindow::focusedPane() const
{
    // The window's own focus widget: while a tool window is active the application's
    // focus is in the tool, but this still names the pane the user worked in last.
    for (QWidget *w = focusWidget(); w; w = w->parentWidget()) {
        if (auto *p = qobject_cast<SerialPortWidget *>(w))
            return p;
    }
    return pane(0);
}

void MainWindow::openTransferDialog(SerialPortWidget *pane, int direction)
{
    PortTransfer *transfer = transferOf(pane);
    if (!transfer)
        return;
    // Refuse before asking for a file the port cannot take anyway.
    QString refusal = transfer->canTransfer();
    FileTransferDialog dialog(*pane->session(), XferOptions::Direction(direction), this);
    if (refusal.isEmpty()) {
        if (execDialog(dialog) != QDialog::Accepted)
            return;
        if (dialog.startOn(*transfer, &refusal) && dialog.keepOpen()) {
            m_reopenPane = pane;
            m_reopenDirection = direction;
        }
    }
    if (!refusal.isEmpty())
        showWarning(dialog.windowTitle(), refusal);
}

void MainWindow::refreshTransferActions()
{
    bool running = false;
    for (int i = 0; i < m_paneCount; ++i) {
        const PortTransfer *t = transferOf(m_panes[size_t(i)]);
        running = running || (t && t->isActive());
    }
    ui->acXferCancel->setEnabled(running);
}

void MainWindow::on_acXferSend_triggered()
{
    openTransferDialog(focusedPane(), XferOptions::Send);
}

void MainWindow::on_acXferReceive_triggered()
{
    openTransferDialog(focusedPane(), XferOptions::Receive);
}

void MainWindow::on_acXferCancel_triggered()
{
    // The focused pane's transfer first, else the first one running.
    PortTransfer *target = transferOf(focusedPane());
    for (int i = 0; i < m_paneCount && !(target && target->isActive()); ++i)
        target = transferOf(m_panes[size_t(i)]);
    if (target)
        target->cancelTransfer();
}
