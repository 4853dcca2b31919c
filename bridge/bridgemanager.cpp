#include "bridge/bridgemanager.h"

#include "bridge/portendpoint.h"
#include "session/portsession.h"

namespace {

// The directed pairs (source, destination) a record forwards.
QList<std::pair<int, int>> pairsOf(const BridgeConfig &c)
{
    QList<std::pair<int, int>> pairs;
    if (c.forwardsAToB())
        pairs.append({c.PortA, c.PortB});
    if (c.forwardsBToA())
        pairs.append({c.PortB, c.PortA});
    return pairs;
}

QList<int> destinationsOf(const BridgeConfig &c)
{
    QList<int> ports;
    for (const auto &[from, to] : pairsOf(c))
        ports.append(to);
    return ports;
}

} // namespace

BridgeManager::BridgeManager(int maxPanes, QObject *parent)
    : QObject(parent)
    , m_maxPanes(maxPanes)
{
}

BridgeManager::~BridgeManager()
{
    for (int i = 0; i < m_links.size(); ++i)
        dropLink(i);
}

// ---- Panes ------------------------------------------------------------------------

void BridgeManager::setPanes(const QList<PortSession *> &panes)
{
    const int count = int(panes.size());
    // A pane that a link uses has gone: the bridge goes with it.
    QStringList removed;
    for (int i = int(m_configs.size()) - 1; i >= 0; --i) {
        const BridgeConfig &c = m_configs.at(i);
        if (!m_links.at(i) || (c.PortA < count && c.PortB < count))
            continue;
        removed.prepend(c.displayName());
        dropLink(i);
        m_configs.removeAt(i);
        m_links.removeAt(i);
    }
    // Endpoints follow the sessions; a link on a replaced endpoint is rebuilt.
    QList<PortEndpoint *> stale;
    for (int i = 0; i < qMax(count, int(m_endpoints.size())); ++i) {
        PortEndpoint *old = m_endpoints.value(i);
        PortSession *session = panes.value(i);
        if (old && old->session() == session && session)
            continue;
        for (int l = 0; l < m_links.size(); ++l) {
            BridgeLink *link = m_links.at(l);
            if (link && (link->endpoint(BridgeLink::EndA) == old || link->endpoint(BridgeLink::EndB) == old))
                dropLink(l);
        }
        if (old)
            stale.append(old);
        if (i < count) {
            if (i >= m_endpoints.size())
                m_endpoints.resize(i + 1);
            m_endpoints[i] = new PortEndpoint(session, this);
        }
    }
    m_endpoints.resize(count);
    qDeleteAll(stale);
    for (int i = 0; i < m_configs.size(); ++i) {
        if (!m_links.at(i))
            buildLink(i);
    }
    if (!removed.isEmpty())
        emit message(tr("Removed bridge(s) whose port no longer exists: %1").arg(removed.join(QStringLiteral(", "))));
    emit linksChanged();
}

bool BridgeManager::hasPanes(const BridgeConfig &c) const
{
    return c.PortA >= 0 && c.PortB >= 0 && c.PortA < m_endpoints.size() && c.PortB < m_endpoints.size();
}

QString BridgeManager::paneLabel(int pane) const
{
    if (pane >= 0 && pane < m_endpoints.size())
        return m_endpoints.at(pane)->label();
    return QString::number(pane + 1);
}

// ---- Links --------------------------------------------------------------------------

void BridgeManager::buildLink(int index)
{
    const BridgeConfig &c = m_configs.at(index);
    if (!hasPanes(c))
        return;
    PortEndpoint *a = m_endpoints.at(c.PortA);
    PortEndpoint *b = m_endpoints.at(c.PortB);
    if (c.Enabled && c.AutoOpenPeer) {
        for (PortEndpoint *end : {a, b}) {
            if (end->session() && !end->isOpen())
                end->session()->open();
        }
    }
    auto *link = new BridgeLink(c, a, b, this);
    connect(link, &BridgeLink::stateChanged, this, &BridgeManager::statsChanged);
    connect(link, &BridgeLink::statsChanged, this, &BridgeManager::statsChanged);
    connect(link, &BridgeLink::message, this, &BridgeManager::message);
    m_links[index] = link;
    link->start();
}

void BridgeManager::dropLink(int index)
{
    BridgeLink *link = m_links.at(index);
    if (!link)
        return;
    m_links[index] = nullptr;
    link->stop();
    link->disconnect(this);
    link->deleteLater();
}

BridgeLink *BridgeManager::link(int index) const
{
    return m_links.value(index);
}

BridgeState BridgeManager::state(int index) const
{
    if (BridgeLink *l = link(index))
        return l->state();
    return m_configs.value(index).Enabled ? BridgeState::Waiting : BridgeState::Disabled;
}

QString BridgeManager::stateText(int index) const
{
    if (BridgeLink *l = link(index))
        return l->stateText();
    if (index < 0 || index >= m_configs.size())
        return {};
    const BridgeConfig &c = m_configs.at(index);
    if (!c.Enabled)
        return BridgeLink::tr("Disabled");
    return tr("Waiting for port %1").arg((c.PortA >= m_endpoints.size() ? c.PortA : c.PortB) + 1);
}

QString BridgeManager::stateName(BridgeState state)
{
    switch (state) {
    case BridgeState::Disabled: return tr("Off");
    case BridgeState::Waiting: return tr("Idle");
    case BridgeState::Running: return tr("Running");
    case BridgeState::Degraded: return tr("Degraded");
    case BridgeState::Suspended: return tr("Suspended");
    }
    return {};
}

// ---- Records -----------------------------------------------------------------------

QString BridgeManager::problem(const BridgeConfig &c, int editing, bool panesMustExist,
                               const QList<BridgeConfig> &others) const
{
    if (c.PortA == c.PortB)
        return tr("A bridge needs two different ports");
    if (c.PortA < 0 || c.PortB < 0)
        return tr("Both ends must name a port");
    const int panes = int(m_endpoints.size());
    if (c.PortA >= m_maxPanes || c.PortB >= m_maxPanes
        || (panesMustExist && panes > 0 && (c.PortA >= panes || c.PortB >= panes)))
        return tr("Port number is out of range");
    for (int port : {c.PortA, c.PortB}) {
        const PortSession *session = port < panes ? m_endpoints.at(port)->session() : nullptr;
        if (session && session->lease()->transferHeld())
            return tr("Port %1 is transferring a file").arg(port + 1);
    }
    const auto mine = pairsOf(c);
    for (int i = 0; i < others.size(); ++i) {
        if (i == editing)
            continue;
        for (const auto &pair : pairsOf(others.at(i))) {
            if (mine.contains(pair))
                return tr("That direction is already bridged");
        }
    }
    return {};
}

QString BridgeManager::validate(const BridgeConfig &config, int editing) const
{
    return problem(config, editing, true, m_configs);
}

void BridgeManager::setConfigurations(const QList<BridgeConfig> &configs)
{
    for (int i = 0; i < m_links.size(); ++i)
        dropLink(i);
    m_configs.clear();
    m_links.clear();
    QStringList skipped;
    for (const BridgeConfig &c : configs) {
        const QString why = problem(c, -1, false, m_configs);
        if (!why.isEmpty()) {
            skipped << QStringLiteral("%1 (%2)").arg(c.displayName(), why);
            continue;
        }
        m_configs.append(c);
        m_links.append(nullptr);
    }
    for (int i = 0; i < m_configs.size(); ++i)
        buildLink(i);
    if (!skipped.isEmpty())
        emit message(tr("Skipped invalid bridge(s): %1").arg(skipped.join(QStringLiteral("; "))));
    emit linksChanged();
}

bool BridgeManager::add(const BridgeConfig &config, QString *why)
{
    const QString problemText = validate(config, -1);
    if (!problemText.isEmpty()) {
        if (why)
            *why = problemText;
        return false;
    }
    m_configs.append(config);
    m_links.append(nullptr);
    buildLink(int(m_configs.size()) - 1);
    emit linksChanged();
    return true;
}

bool BridgeManager::update(int index, const BridgeConfig &config, QString *why)
{
    if (index < 0 || index >= m_configs.size())
        return false;
    const QString problemText = validate(config, index);
    if (!problemText.isEmpty()) {
        if (why)
            *why = problemText;
        return false;
    }
    dropLink(index);
    m_configs[index] = config;
    buildLink(index);
    emit linksChanged();
    return true;
}

void BridgeManager::remove(int index)
{
    if (index < 0 || index >= m_configs.size())
        return;
    dropLink(index);
    m_configs.removeAt(index);
    m_links.removeAt(index);
    emit linksChanged();
}

void BridgeManager::resume(int index)
{
    if (BridgeLink *l = link(index))
        l->resume();
}

QString BridgeManager::overlapWarning(const BridgeConfig &config, int editing) const
{
    QList<int> shared;
    const QList<int> mine = destinationsOf(config);
    for (int i = 0; i < m_configs.size(); ++i) {
        if (i == editing)
            continue;
        for (int port : destinationsOf(m_configs.at(i))) {
            if (mine.contains(port) && !shared.contains(port))
                shared.append(port);
        }
    }
    if (shared.isEmpty())
        return {};
    std::sort(shared.begin(), shared.end());
    QStringList labels;
    for (int port : shared)
        labels << paneLabel(port);
    return tr("Port %1 is written to by more than one bridge; their data will interleave on its wire.")
        .arg(labels.join(QStringLiteral(", ")));
}

QString BridgeManager::badgeText(int pane) const
{
    QList<int> partners;
    for (int i = 0; i < m_configs.size(); ++i) {
        if (!m_links.at(i))
            continue;
        const BridgeConfig &c = m_configs.at(i);
        const int partner = c.PortA == pane ? c.PortB : (c.PortB == pane ? c.PortA : -1);
        if (partner >= 0 && !partners.contains(partner))
            partners.append(partner);
    }
    if (partners.isEmpty())
        return {};
    std::sort(partners.begin(), partners.end());
    QStringList labels;
    for (int p : partners)
        labels << paneLabel(p);
    return tr("Bridged to %1").arg(labels.join(QStringLiteral(", ")));
}

bool BridgeManager::isBridged(int pane) const
{
    for (int i = 0; i < m_configs.size(); ++i) {
        if (m_links.at(i) && (m_configs.at(i).PortA == pane || m_configs.at(i).PortB == pane))
            return true;
    }
    return false;
}
