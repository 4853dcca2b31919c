#include "settings/quicksettingslayout.h"

#include "settings/settingsreader.h"

namespace {

QString orderKey(const QString &group)
{
    return QStringLiteral("QuickSettings/Fields/%1/Order").arg(group);
}

QString hiddenKey(const QString &group)
{
    return QStringLiteral("QuickSettings/Fields/%1/Hidden").arg(group);
}

} // namespace

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

QuickSettingsLayout QuickSettingsLayout::readFrom(QSettings &settings)
{
    const SettingsReader r(settings);
    QuickSettingsLayout quick;
    quick.showConnection = r.boolean(QStringLiteral("QuickSettings/Connection"), true);
    quick.showReceive = r.boolean(QStringLiteral("QuickSettings/Receive"), true);
    quick.showSend = r.boolean(QStringLiteral("QuickSettings/Send"), true);
    quick.groupOrder = r.list(QStringLiteral("QuickSettings/GroupOrder"));
    for (const QString &group : fieldGroups()) {
        // Empty lists are the same as none, so a written layout reads back equal.
        const QStringList order = r.list(orderKey(group));
        const QStringList hidden = r.list(hiddenKey(group));
        if (!order.isEmpty())
            quick.fieldOrder.insert(group, order);
        if (!hidden.isEmpty())
            quick.hiddenFields.insert(group, hidden);
    }
    if (!quick.showConnection && !quick.showReceive && !quick.showSend)
        quick = QuickSettingsLayout();
    quick.groupOrder = normalisedGroupOrder(quick.groupOrder);
    return quick;
}

void QuickSettingsLayout::writeTo(QSettings &settings) const
{
    settings.setValue(QStringLiteral("QuickSettings/Connection"), showConnection);
    settings.setValue(QStringLiteral("QuickSettings/Receive"), showReceive);
    settings.setValue(QStringLiteral("QuickSettings/Send"), showSend);
    settings.setValue(QStringLiteral("QuickSettings/GroupOrder"), normalisedGroupOrder(groupOrder));
    for (const QString &group : fieldGroups()) {
        settings.setValue(orderKey(group), fieldOrder.value(group));
        settings.setValue(hiddenKey(group), hiddenFields.value(group));
    }
}
