#include "bridge/dialogs/bridgedialog.h"
#include "ui_bridgedialog.h"

#include "bridge/bridgemanager.h"
#include "bridge/dialogs/bridgeeditdialog.h"

#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>

namespace {

enum Column { OnColumn, NameColumn, EndAColumn, DirectionColumn, EndBColumn, StatusColumn };

QString arrow(qint32 direction)
{
    switch (direction) {
    case BridgeConfig::AToB: return QStringLiteral("→");
    case BridgeConfig::BToA: return QStringLiteral("←");
    default: return QStringLiteral("⇄");
    }
}

} // namespace

BridgeStats BridgeStats::of(const BridgeLink &link)
{
    BridgeStats s;
    s.state = link.stateText();
    const QList<BridgeSample> samples = link.samples();
    for (int e : {BridgeLink::EndA, BridgeLink::EndB}) {
        const BridgePipe &pipe = link.pipe(BridgeLink::End(e));
        s.forwarded[e] = pipe.counters().bytesForwarded;
        s.queued[e] = pipe.queued();
        s.dropped[e] = pipe.counters().bytesDropped;
        if (!samples.isEmpty())
            s.lastSecond[e] = e == BridgeLink::EndA ? samples.last().aToB : samples.last().bToA;
    }
    s.captureError = link.captureError();
    const BridgeConfig &c = link.settings();
    const PortEndpoint *a = link.endpoint(BridgeLink::EndA), *b = link.endpoint(BridgeLink::EndB);
    const bool manyClients = (a && a->acceptsManyPeers()) || (b && b->acceptsManyPeers());
    s.takingTurns = c.FanoutMode == BridgeConfig::TakeTurns && manyClients;
    s.nothingToArbitrate = c.FanoutMode == BridgeConfig::TakeTurns && !manyClients;
    s.waiting = link.arbiterWaiting();
    s.unanswered = link.arbiterUnanswered();
    s.droppedRequests = link.arbiterDropped();
    s.cannotSlowDown = link.cannotSlowDown();
    return s;
}

BridgeDialog::BridgeDialog(BridgeManager *manager, const QStringList &paneLabels, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::BridgeDialog>())
    , m_manager(manager)
    , m_paneLabels(paneLabels)
{
    ui->setupUi(this);
    ui->bridgeList->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    ui->bridgeList->header()->setSectionResizeMode(DirectionColumn, QHeaderView::ResizeToContents);
    connect(ui->newButton, &QPushButton::clicked, this, &BridgeDialog::onAdd);
    connect(ui->editButton, &QPushButton::clicked, this, &BridgeDialog::onEdit);
    connect(ui->deleteButton, &QPushButton::clicked, this, &BridgeDialog::onRemove);
    connect(ui->resumeButton, &QPushButton::clicked, this, &BridgeDialog::onResume);
    connect(ui->closeBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui->bridgeList, &QTreeWidget::itemSelectionChanged, this, &BridgeDialog::onSelectionChanged);
    connect(ui->bridgeList, &QTreeWidget::itemDoubleClicked, this, &BridgeDialog::onEdit);
    // The check box in the first column switches a bridge on and off.
    connect(ui->bridgeList, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item, int column) {
        const int index = ui->bridgeList->indexOfTopLevelItem(item);
        if (m_filling || column != OnColumn || index < 0 || index >= m_manager->configurations().size())
            return;
        BridgeConfig c = m_manager->configurations().at(index);
        c.Enabled = item->checkState(OnColumn) == Qt::Checked;
        QString why;
        if (!m_manager->update(index, c, &why))
            QMessageBox::warning(this, tr("Bridges"), why);
    });
    connect(m_manager, &BridgeManager::linksChanged, this, &BridgeDialog::refreshList);
    m_refresh.setInterval(RefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &BridgeDialog::refreshStats);
    m_refresh.start();
    refreshList();
}

BridgeDialog::~BridgeDialog() = default;

QString BridgeDialog::formatBytes(qint64 bytes)
{
    if (bytes < 1024)
        return tr("%1 B").arg(bytes);
    if (bytes < 1048576)
        return tr("%1 KB").arg(double(bytes) / 1024.0, 0, 'f', 1);
    return tr("%1 MB").arg(double(bytes) / 1048576.0, 0, 'f', 1);
}

QString BridgeDialog::statisticsText(const BridgeStats &s)
{
    const bool dropped = s.dropped[0] > 0 || s.dropped[1] > 0;
    QString text = tr("<b>%1</b><br/>A→B&nbsp; %2 &nbsp; %3/s &nbsp; queue %4 &nbsp; <span style='color:%9'>dropped %5</span><br/>"
                      "B→A&nbsp; %6 &nbsp; %7/s &nbsp; queue %8 &nbsp; <span style='color:%9'>dropped %10</span>")
                       .arg(s.state.toHtmlEscaped(), formatBytes(s.forwarded[0]), formatBytes(s.lastSecond[0]),
                            formatBytes(s.queued[0]), formatBytes(s.dropped[0]), formatBytes(s.forwarded[1]),
                            formatBytes(s.lastSecond[1]), formatBytes(s.queued[1]),
                            dropped ? QStringLiteral("#c0392b") : QStringLiteral("palette(text)"))
                       .arg(formatBytes(s.dropped[1]));
    if (!s.captureError.isEmpty())
        text += tr("<br/><span style='color:#c0392b'>Capture stopped: %1</span>").arg(s.captureError.toHtmlEscaped());
    if (s.takingTurns)
        text += QStringLiteral("<br/>")
            + tr("Taking turns: %1 waiting, %2 unanswered, %3 dropped").arg(s.waiting).arg(s.unanswered).arg(s.droppedRequests);
    if (s.nothingToArbitrate)
        text += QStringLiteral("<br/>")
            + tr("ⓘ Taking turns is configured, but neither end accepts several clients, so there is nothing to arbitrate.");
    if (s.cannotSlowDown)
        text += QStringLiteral("<br/>")
            + tr("ⓘ One end cannot be slowed down (a serial port without flow control, or UDP). If the buffer fills, the newest data is dropped and counted above.");
    return text;
}

int BridgeDialog::selectedIndex() const
{
    const QList<QTreeWidgetItem *> selected = ui->bridgeList->selectedItems();
    return selected.isEmpty() ? -1 : ui->bridgeList->indexOfTopLevelItem(selected.first());
}

void BridgeDialog::selectBridge(int index)
{
    if (QTreeWidgetItem *item = ui->bridgeList->topLevelItem(index))
        ui->bridgeList->setCurrentItem(item);
}

void BridgeDialog::refreshList()
{
    const int keep = selectedIndex();
    // Clearing a selected list runs refreshStats() in between; a rollback keeps the rows
    // filled here from being written back to the manager, which would refill the list
    // under the item being set up.
    const QScopedValueRollback filling(m_filling, true);
    ui->bridgeList->clear();
    const QList<BridgeConfig> &configs = m_manager->configurations();
    for (int i = 0; i < configs.size(); ++i) {
        const BridgeConfig &c = configs.at(i);
        auto *item = new QTreeWidgetItem(ui->bridgeList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(OnColumn, c.Enabled ? Qt::Checked : Qt::Unchecked);
        item->setText(NameColumn, c.displayName());
        item->setText(EndAColumn, m_paneLabels.value(c.PortA, QString::number(c.PortA + 1)));
        item->setText(DirectionColumn, arrow(c.Direction));
        item->setText(EndBColumn, m_paneLabels.value(c.PortB, QString::number(c.PortB + 1)));
        item->setText(StatusColumn, BridgeManager::stateName(m_manager->state(i)));
    }
    if (keep >= 0 && keep < configs.size())
        selectBridge(keep);
    else if (!configs.isEmpty())
        selectBridge(0);
    onSelectionChanged();
}

void BridgeDialog::refreshStats()
{
    {
        const QScopedValueRollback filling(m_filling, true);
        for (int i = 0; i < ui->bridgeList->topLevelItemCount(); ++i)
            ui->bridgeList->topLevelItem(i)->setText(StatusColumn, BridgeManager::stateName(m_manager->state(i)));
    }
    const int index = selectedIndex();
    const BridgeLink *link = index >= 0 ? m_manager->link(index) : nullptr;
    if (!link) {
        ui->statsLabel->setText(index >= 0 ? m_manager->stateText(index) : QString());
        ui->sparkline->setSamples({});
        return;
    }
    ui->statsLabel->setText(statisticsText(BridgeStats::of(*link)));
    ui->sparkline->setSamples(link->samples());
}

void BridgeDialog::onSelectionChanged()
{
    const int index = selectedIndex();
    ui->editButton->setEnabled(index >= 0);
    ui->deleteButton->setEnabled(index >= 0);
    ui->resumeButton->setEnabled(index >= 0);
    refreshStats();
}

bool BridgeDialog::edit(BridgeConfig config, int index)
{
    BridgeEditDialog dialog(config, m_paneLabels, this);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted)
            return false;
        config = dialog.config();
        const QString overlap = m_manager->overlapWarning(config, index);
        if (!overlap.isEmpty())
            QMessageBox::warning(this, tr("Bridges"), overlap);
        QString why;
        const bool ok = index < 0 ? m_manager->add(config, &why) : m_manager->update(index, config, &why);
        if (ok)
            return true;
        // Refused: the user can mend the record instead of typing it again.
        QMessageBox::warning(this, tr("Bridges"), why);
    }
}

void BridgeDialog::onAdd()
{
    if (m_paneLabels.size() < 2) {
        QMessageBox::information(this, tr("Bridges"),
                                 tr("A bridge joins two ports; add a second port first (Connection > Add Port)."));
        return;
    }
    BridgeConfig config;
    config.Name = tr("Bridge %1").arg(m_manager->configurations().size() + 1);
    if (edit(config, -1))
        selectBridge(int(m_manager->configurations().size()) - 1);
}

void BridgeDialog::onEdit()
{
    const int index = selectedIndex();
    if (index >= 0)
        edit(m_manager->configurations().at(index), index);
}

void BridgeDialog::onRemove()
{
    const int index = selectedIndex();
    if (index >= 0)
        m_manager->remove(index);
}

void BridgeDialog::onResume()
{
    const int index = selectedIndex();
    if (index >= 0) {
        m_manager->resume(index);
        refreshStats();
    }
}
