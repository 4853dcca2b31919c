#pragma once

#include "bridge/bridgeconfig.h"
#include "bridge/bridgelink.h"

#include <QList>
#include <QObject>
#include <QPointer>

class PortEndpoint;
class PortSession;

// All bridges of the main window: their records in order, one endpoint per pane
// and a running link for every record whose two panes exist. A record whose pane
// does not exist yet waits for it; a record whose pane is removed from under its
// link goes. Validates changes and reports problems as texts.
class BridgeManager : public QObject
{
    Q_OBJECT
public:
    explicit BridgeManager(int maxPanes = 16, QObject *parent = nullptr);
    ~BridgeManager() override;

    // The panes' sessions in pane order, after every change of the pane list.
    void setPanes(const QList<PortSession *> &panes);
    // Loaded records: invalid ones are left out and named in one message.
    void setConfigurations(const QList<BridgeConfig> &configs);
    const QList<BridgeConfig> &configurations() const { return m_configs; }

    bool add(const BridgeConfig &config, QString *why = nullptr);
    bool update(int index, const BridgeConfig &config, QString *why = nullptr);
    void remove(int index);
    void resume(int index);

    // Null while the record waits for its panes.
    BridgeLink *link(int index) const;
    BridgeState state(int index) const;
    QString stateText(int index) const;
    static QString stateName(BridgeState state);

    // Empty when the record may be stored at `editing` (-1: a new record).
    QString validate(const BridgeConfig &config, int editing = -1) const;
    // Empty unless another bridge already writes into a port this one writes into.
    QString overlapWarning(const BridgeConfig &config, int editing = -1) const;
    // "Bridged to ..." for the pane's badge; empty when the pane is in no bridge.
    QString badgeText(int pane) const;
    bool isBridged(int pane) const;
    QString paneLabel(int pane) const;

signals:
    void linksChanged();
    void statsChanged();
    void message(const QString &text);

private:
    QString problem(const BridgeConfig &config, int editing, bool panesMustExist,
                    const QList<BridgeConfig> &others) const;
    bool hasPanes(const BridgeConfig &config) const;
    void buildLink(int index);
    void dropLink(int index);

    int m_maxPanes;
    QList<BridgeConfig> m_configs;
    QList<QPointer<BridgeLink>> m_links; // parallel to m_configs
    QList<PortEndpoint *> m_endpoints;   // one per pane
};
