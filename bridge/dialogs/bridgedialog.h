#pragma once

#include "bridge/bridgelink.h"

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <array>
#include <memory>

class BridgeManager;

namespace Ui {
class BridgeDialog;
}

// What the statistics text shows of one bridge.
struct BridgeStats
{
    QString state;
    std::array<qint64, 2> forwarded{}; // A to B, B to A
    std::array<qint64, 2> lastSecond{};
    std::array<qint64, 2> queued{};
    std::array<qint64, 2> dropped{};
    QString captureError;
    bool takingTurns = false;
    int waiting = 0;
    qint64 unanswered = 0;
    qint64 droppedRequests = 0;
    bool nothingToArbitrate = false;
    bool cannotSlowDown = false;

    static BridgeStats of(const BridgeLink &link);
};

// The "Bridges" window: every bridge with its live status and traffic; adds, edits,
// deletes and resumes bridges through the manager.
class BridgeDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int RefreshMs = 1000;

    // paneLabels: one per pane, in pane order.
    BridgeDialog(BridgeManager *manager, const QStringList &paneLabels, QWidget *parent = nullptr);
    ~BridgeDialog() override;

    static QString formatBytes(qint64 bytes);
    static QString statisticsText(const BridgeStats &stats);
    int selectedIndex() const;
    void selectBridge(int index);

public slots:
    void refreshList();
    void refreshStats();
    void onAdd();
    void onEdit();
    void onRemove();
    void onResume();
    void onSelectionChanged();

private:
    // Runs the edit dialog on config; true once the manager took it.
    bool edit(BridgeConfig config, int index);

    std::unique_ptr<Ui::BridgeDialog> ui;
    BridgeManager *m_manager;
    QStringList m_paneLabels;
    QTimer m_refresh;
    bool m_filling = false;
};
