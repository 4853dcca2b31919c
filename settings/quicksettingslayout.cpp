#include "settings/quicksettingslayout.h"

QStringList QuickSettingsLayout::defaultGroupOrder()
{
    return {QStringLiteral("connection"), QStringLiteral("receive"), QStringLiteral("send")};
}

QStringList QuickSettingsLayout::fieldGroups()
{
    return {QStringLiteral("connection"), QStringLiteral("controlLines"), QStringLiteral("receive"),
            QStringLiteral("send")};
}

QStringList QuickSettingsLayout::normalisedGroupOrder(const QStringList &stored)
{
    const QStringList known = defaultGroupOrder();
    QStringList order;
    for (const QString &name : stored) {
        if (known.contains(name) && !order.contains(name))
            order << name;
    }
    for (const QString &name : known) {
        if (!order.contains(name))
            order << name;
    }
    return order;
}

bool QuickSettingsLayout::operator==(const QuickSettingsLayout &other) const
{
    return showConnection == other.showConnection && showReceive == other.showReceive
        && showSend == other.showSend && groupOrder == other.groupOrder && fieldOrder == other.fieldOrder
        && hiddenFields == other.hiddenFields;
}
