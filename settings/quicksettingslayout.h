#pragma once

#include <QMap>
#include <QStringList>

class QSettings;

// Which setting groups a pane shows in its quick-settings area and in what order.
struct QuickSettingsLayout
{
    bool showConnection = true;
    bool showReceive = true;
    bool showSend = true;
    QStringList groupOrder = defaultGroupOrder();
    QMap<QString, QStringList> fieldOrder;   // group key -> field keys
    QMap<QString, QStringList> hiddenFields; // group key -> field keys

    static QStringList defaultGroupOrder();
    // Groups that can carry field order and hidden fields.
    static QStringList fieldGroups();
    // Keeps known, first-seen names in stored order and appends the missing ones.
    static QStringList normalisedGroupOrder(const QStringList &stored);

    // The "QuickSettings/..." keys, shared by settings documents and the
    // preferences: all groups hidden reads as the default layout.
    static QuickSettingsLayout readFrom(QSettings &settings);
    void writeTo(QSettings &settings) const;

    bool operator==(const QuickSettingsLayout &other) const;
    bool operator!=(const QuickSettingsLayout &other) const { return !(*this == other); }
};
