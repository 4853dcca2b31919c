#include "settings/dialogs/quicksettingseditor.h"
#include "ui_quicksettingseditor.h"

namespace {

constexpr int KeyRole = Qt::UserRole;

QTreeWidgetItem *makeItem(const QString &key, const QString &title, const QString &description, bool checked)
{
    auto *item = new QTreeWidgetItem({title, description});
    item->setData(0, KeyRole, key);
    item->setToolTip(0, description);
    item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsAutoTristate);
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    return item;
}

} // namespace

QuickSettingsEditor::QuickSettingsEditor(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::QuickSettingsEditor>())
{
    ui->setupUi(this);
    setQuickLayout(QuickSettingsLayout());
}

QuickSettingsEditor::~QuickSettingsEditor() = default;

QList<QuickSettingsEditor::GroupInfo> QuickSettingsEditor::catalog()
{
    return {
        {QStringLiteral("connection"), tr("Connection Settings"), tr("Port and connection parameters"),
         {{QStringLiteral("baudRate"), tr("Baudrate"), tr("Serial transfer speed")},
          {QStringLiteral("dataBits"), tr("Data Bits"), tr("Data bits per frame")},
          {QStringLiteral("parity"), tr("Parity"), tr("Parity check mode")},
          {QStringLiteral("stopBits"), tr("Stop Bits"), tr("Stop bits per frame")},
          {QStringLiteral("flowControl"), tr("Flow Type"), tr("Flow control method")}}},
        {QStringLiteral("receive"), tr("Receive Settings"), tr("How received data is shown"),
         {{QStringLiteral("rxFormat"), tr("Format"), tr("Show received data as text or hex, and the encoding to read it with")},
          {QStringLiteral("rxAutoFeed"), tr("Auto Line Feed"), tr("Start a new line after an idle interval")},
          {QStringLiteral("rxDisplayTime"), tr("Display Time"), tr("Prefix received data with a timestamp")}}},
        {QStringLiteral("send"), tr("Send Settings"), tr("How data is sent"),
         {{QStringLiteral("txFormat"), tr("Format"), tr("Send the input as text or hex, and the encoding to send it with")},
          {QStringLiteral("txLoop"), tr("Loop Send"), tr("Resend automatically at an interval")},
          {QStringLiteral("txAutoFeed"), tr("Append Line Ending"), tr("Ending appended to each send")},
          {QStringLiteral("txTerminalEnter"), tr("Enter Sends"), tr("Bytes sent when Enter is pressed in the receive terminal")},
          {QStringLiteral("txChecksum"), tr("Append Checksum"), tr("Checksum appended to each send")},
          {QStringLiteral("txDisplaySend"), tr("Display Send"), tr("Echo sent data in the display")},
          {QStringLiteral("txLineByLine"), tr("Line by Line"), tr("Send multi-line input line by line")}}},
    };
}

void QuickSettingsEditor::setQuickLayout(const QuickSettingsLayout &layout)
{
    m_base = layout;
    QTreeWidget *tree = ui->quickSettingsTree;
    tree->clear();
    const QList<GroupInfo> groups = catalog();
    for (const QString &key : QuickSettingsLayout::normalisedGroupOrder(layout.groupOrder)) {
        const auto group = std::find_if(groups.begin(), groups.end(), [&](const GroupInfo &g) { return g.key == key; });
        if (group == groups.end())
            continue;
        const bool shown = key == QStringLiteral("connection") ? layout.showConnection
                         : key == QStringLiteral("receive")    ? layout.showReceive
                                                               : layout.showSend;
        QTreeWidgetItem *groupItem = makeItem(key, group->title, group->description, shown);
        tree->addTopLevelItem(groupItem);

        QList<FieldInfo> fields;
        for (const QString &fieldKey : layout.fieldOrder.value(key)) {
            for (const FieldInfo &f : group->fields) {
                if (f.key == fieldKey && std::none_of(fields.begin(), fields.end(), [&](const FieldInfo &x) { return x.key == fieldKey; }))
                    fields << f;
            }
        }
        for (const FieldInfo &f : group->fields) {
            if (std::none_of(fields.begin(), fields.end(), [&](const FieldInfo &x) { return x.key == f.key; }))
                fields << f;
        }
        const QStringList hidden = layout.hiddenFields.value(key);
        for (const FieldInfo &f : fields)
            groupItem->addChild(makeItem(f.key, f.title, f.description, !hidden.contains(f.key)));
    }
    tree->expandAll();
    tree->resizeColumnToContents(0);
    if (tree->topLevelItemCount() > 0)
        tree->setCurrentItem(tree->topLevelItem(0));
}

QuickSettingsLayout QuickSettingsEditor::quickLayout() const
{
    QuickSettingsLayout out = m_base;
    out.groupOrder.clear();
    const QList<GroupInfo> groups = catalog();
    const QTreeWidget *tree = ui->quickSettingsTree;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *groupItem = tree->topLevelItem(i);
        const QString key = groupItem->data(0, KeyRole).toString();
        out.groupOrder << key;
        const bool shown = groupItem->checkState(0) == Qt::Checked;
        if (key == QStringLiteral("connection"))
            out.showConnection = shown;
        else if (key == QStringLiteral("receive"))
            out.showReceive = shown;
        else
            out.showSend = shown;

        QStringList order, hidden, catalogOrder;
        for (int j = 0; j < groupItem->childCount(); ++j) {
            const QTreeWidgetItem *field = groupItem->child(j);
            order << field->data(0, KeyRole).toString();
            if (field->checkState(0) != Qt::Checked)
                hidden << order.last();
        }
        for (const GroupInfo &g : groups) {
            if (g.key == key) {
                for (const FieldInfo &f : g.fields)
                    catalogOrder << f.key;
            }
        }
        // Lists the layout did not carry are only added when they say something.
        if (order != catalogOrder || m_base.fieldOrder.contains(key))
            out.fieldOrder.insert(key, order);
        else
            out.fieldOrder.remove(key);
        if (!hidden.isEmpty() || m_base.hiddenFields.contains(key))
            out.hiddenFields.insert(key, hidden);
        else
            out.hiddenFields.remove(key);
    }
    return out;
}

bool QuickSettingsEditor::hasVisibleGroup() const
{
    const QuickSettingsLayout l = quickLayout();
    return l.showConnection || l.showReceive || l.showSend;
}

void QuickSettingsEditor::moveCurrent(int step)
{
    QTreeWidget *tree = ui->quickSettingsTree;
    QTreeWidgetItem *item = tree->currentItem();
    if (!item)
        return;
    QTreeWidgetItem *parent = item->parent();
    const int count = parent ? parent->childCount() : tree->topLevelItemCount();
    const int from = parent ? parent->indexOfChild(item) : tree->indexOfTopLevelItem(item);
    const int to = from + step;
    if (to < 0 || to >= count)
        return;
    if (parent) {
        parent->takeChild(from);
        parent->insertChild(to, item);
    } else {
        tree->takeTopLevelItem(from);
        tree->insertTopLevelItem(to, item);
        item->setExpanded(true);
    }
    tree->setCurrentItem(item);
}

void QuickSettingsEditor::on_quickSettingsMoveUpButton_clicked()
{
    moveCurrent(-1);
}

void QuickSettingsEditor::on_quickSettingsMoveDownButton_clicked()
{
    moveCurrent(1);
}
