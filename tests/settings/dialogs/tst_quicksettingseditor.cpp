#include "settings/dialogs/quicksettingseditor.h"

#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

Q_DECLARE_METATYPE(QuickSettingsLayout)

namespace {

QStringList keysOf(const QTreeWidgetItem *parent, const QTreeWidget *tree)
{
    QStringList keys;
    const int n = parent ? parent->childCount() : tree->topLevelItemCount();
    for (int i = 0; i < n; ++i)
        keys << (parent ? parent->child(i) : tree->topLevelItem(i))->data(0, Qt::UserRole).toString();
    return keys;
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

class tst_QuickSettingsEditor : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void layoutReadsBack_data();
    void layoutReadsBack();
    void storedListsAreCleaned_data();
    void storedListsAreCleaned();
    void uncheckingHidesAndGroupFlags();
    void moves_data();
    void moves();
    void defaultsAndCatalogTexts();

private:
    QTreeWidget *tree() { return m_editor->findChild<QTreeWidget *>(QStringLiteral("quickSettingsTree")); }
    QTreeWidgetItem *find(const QString &key)
    {
        const auto items = tree()->findItems(QStringLiteral("*"), Qt::MatchWildcard | Qt::MatchRecursive);
        for (QTreeWidgetItem *item : items) {
            if (item->data(0, Qt::UserRole).toString() == key)
                return item;
        }
        qFatal("no item");
    }
    QuickSettingsEditor *m_editor = nullptr;
};

void tst_QuickSettingsEditor::init()
{
    m_editor = new QuickSettingsEditor;
}

void tst_QuickSettingsEditor::cleanup()
{
    delete m_editor;
    m_editor = nullptr;
}

void tst_QuickSettingsEditor::layoutReadsBack_data()
{
    QTest::addColumn<QuickSettingsLayout>("layout");
    QTest::newRow("default") << QuickSettingsLayout();

    QuickSettingsLayout order;
    order.groupOrder = words("send connection receive");
    order.fieldOrder.insert(QStringLiteral("send"), words("txChecksum txFormat txLoop txAutoFeed txTerminalEnter txDisplaySend txLineByLine"));
    QTest::newRow("group and field order") << order;

    QuickSettingsLayout hidden;
    hidden.showReceive = false;
    hidden.hiddenFields.insert(QStringLiteral("connection"), words("parity flowControl"));
    hidden.hiddenFields.insert(QStringLiteral("receive"), words("rxDisplayTime"));
    QTest::newRow("group off, hidden fields") << hidden;

    QuickSettingsLayout both = order;
    both.showConnection = false;
    both.showSend = false;
    both.fieldOrder.insert(QStringLiteral("connection"), words("flowControl stopBits parity dataBits baudRate"));
    both.hiddenFields.insert(QStringLiteral("connection"), words("baudRate"));
    // Not shown by the editor, but must survive it.
    both.fieldOrder.insert(QStringLiteral("controlLines"), words("cts rts"));
    both.hiddenFields.insert(QStringLiteral("controlLines"), words("ri"));
    QTest::newRow("everything, control lines passed through") << both;

    QuickSettingsLayout explicitDefault;
    explicitDefault.fieldOrder.insert(QStringLiteral("receive"), words("rxFormat rxAutoFeed rxDisplayTime"));
    explicitDefault.hiddenFields.insert(QStringLiteral("receive"), QStringList());
    QTest::newRow("explicit lists equal to the catalog stay") << explicitDefault;
}

void tst_QuickSettingsEditor::layoutReadsBack()
{
    QFETCH(QuickSettingsLayout, layout);
    m_editor->setQuickLayout(layout);
    const QuickSettingsLayout back = m_editor->quickLayout();
    QCOMPARE(back.showConnection, layout.showConnection);
    QCOMPARE(back.showReceive, layout.showReceive);
    QCOMPARE(back.showSend, layout.showSend);
    QCOMPARE(back.groupOrder, layout.groupOrder);
    QCOMPARE(back.fieldOrder, layout.fieldOrder);
    QCOMPARE(back.hiddenFields, layout.hiddenFields);
    QCOMPARE(keysOf(nullptr, tree()), layout.groupOrder);
}

void tst_QuickSettingsEditor::storedListsAreCleaned_data()
{
    QTest::addColumn<QStringList>("groupOrder");
    QTest::addColumn<QStringList>("sendOrder");
    QTest::addColumn<QStringList>("expectedGroups");
    QTest::addColumn<QStringList>("expectedSend");
    QTest::newRow("repeats and unknown names")
        << words("send bogus send") << words("txLoop nonsense txLoop txFormat")
        << words("send connection receive")
        << words("txLoop txFormat txAutoFeed txTerminalEnter txChecksum txDisplaySend txLineByLine");
    QTest::newRow("empty") << QStringList() << QStringList() << words("connection receive send")
                           << words("txFormat txLoop txAutoFeed txTerminalEnter txChecksum txDisplaySend txLineByLine");
}

void tst_QuickSettingsEditor::storedListsAreCleaned()
{
    QFETCH(QStringList, groupOrder);
    QFETCH(QStringList, sendOrder);
    QFETCH(QStringList, expectedGroups);
    QFETCH(QStringList, expectedSend);
    QuickSettingsLayout layout;
    layout.groupOrder = groupOrder;
    layout.fieldOrder.insert(QStringLiteral("send"), sendOrder);
    m_editor->setQuickLayout(layout);
    QCOMPARE(m_editor->quickLayout().groupOrder, expectedGroups);
    QCOMPARE(keysOf(find(QStringLiteral("send")), tree()), expectedSend);
    QCOMPARE(m_editor->quickLayout().fieldOrder.value(QStringLiteral("send")), expectedSend);
}

void tst_QuickSettingsEditor::uncheckingHidesAndGroupFlags()
{
    find(QStringLiteral("stopBits"))->setCheckState(0, Qt::Unchecked);
    find(QStringLiteral("txLineByLine"))->setCheckState(0, Qt::Unchecked);
    find(QStringLiteral("receive"))->setCheckState(0, Qt::Unchecked);
    QuickSettingsLayout l = m_editor->quickLayout();
    QCOMPARE(l.hiddenFields.value(QStringLiteral("connection")), QStringList{QStringLiteral("stopBits")});
    QCOMPARE(l.hiddenFields.value(QStringLiteral("send")), QStringList{QStringLiteral("txLineByLine")});
    QVERIFY(!l.hiddenFields.contains(QStringLiteral("receive")));
    QVERIFY(l.showConnection && !l.showReceive && l.showSend);
    // Unchecking a group leaves its fields' own state alone.
    QCOMPARE(find(QStringLiteral("rxFormat"))->checkState(0), Qt::Checked);
    QVERIFY(m_editor->hasVisibleGroup());
    find(QStringLiteral("connection"))->setCheckState(0, Qt::Unchecked);
    find(QStringLiteral("send"))->setCheckState(0, Qt::Unchecked);
    QVERIFY(!m_editor->hasVisibleGroup());
}

void tst_QuickSettingsEditor::moves_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("clicks"); // "up" / "down"
    QTest::addColumn<QString>("parentKey");  // empty: top level
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("group down") << QStringLiteral("connection") << words("down") << QString()
                                << words("receive connection send");
    QTest::newRow("group down twice, then past the end") << QStringLiteral("connection") << words("down down down")
                                                         << QString() << words("receive send connection");
    QTest::newRow("group up at the top") << QStringLiteral("connection") << words("up") << QString()
                                         << words("connection receive send");
    QTest::newRow("field up") << QStringLiteral("parity") << words("up up") << QStringLiteral("connection")
                              << words("parity baudRate dataBits stopBits flowControl");
    QTest::newRow("last field down stays") << QStringLiteral("rxDisplayTime") << words("down")
                                           << QStringLiteral("receive") << words("rxFormat rxAutoFeed rxDisplayTime");
}

void tst_QuickSettingsEditor::moves()
{
    QFETCH(QString, key);
    QFETCH(QStringList, clicks);
    QFETCH(QString, parentKey);
    QFETCH(QStringList, expected);
    auto *up = m_editor->findChild<QPushButton *>(QStringLiteral("quickSettingsMoveUpButton"));
    auto *down = m_editor->findChild<QPushButton *>(QStringLiteral("quickSettingsMoveDownButton"));
    QCOMPARE(down->text(), QStringLiteral("Down"));
    find(QStringLiteral("txLoop"))->setCheckState(0, Qt::Unchecked);
    QTreeWidgetItem *item = find(key);
    tree()->setCurrentItem(item);
    for (const QString &c : clicks)
        QTest::mouseClick(c == QStringLiteral("up") ? up : down, Qt::LeftButton);
    QCOMPARE(tree()->currentItem(), item);
    const QuickSettingsLayout l = m_editor->quickLayout();
    if (parentKey.isEmpty()) {
        QCOMPARE(l.groupOrder, expected);
        QVERIFY(item->isExpanded());
    } else {
        QCOMPARE(l.fieldOrder.value(parentKey, keysOf(find(parentKey), tree())), expected);
    }
    // A move carries the field's check state along and touches no other group.
    QCOMPARE(l.hiddenFields.value(QStringLiteral("send")), QStringList{QStringLiteral("txLoop")});
    QCOMPARE(find(QStringLiteral("send"))->childCount(), 7);
}

void tst_QuickSettingsEditor::defaultsAndCatalogTexts()
{
    QuickSettingsLayout odd;
    odd.showSend = false;
    odd.groupOrder = words("receive send connection");
    odd.hiddenFields.insert(QStringLiteral("receive"), words("rxFormat"));
    m_editor->setQuickLayout(odd);
    m_editor->restoreDefaults();
    QVERIFY(m_editor->quickLayout() == QuickSettingsLayout());

    QTreeWidgetItem *group = find(QStringLiteral("connection"));
    QCOMPARE(group->text(0), QStringLiteral("Connection Settings"));
    QCOMPARE(group->text(1), QStringLiteral("Port and connection parameters"));
    QVERIFY(group->flags() & Qt::ItemIsUserCheckable);
    QVERIFY(group->isExpanded());
    QTreeWidgetItem *field = find(QStringLiteral("txTerminalEnter"));
    QCOMPARE(field->text(0), QStringLiteral("Enter Sends"));
    QCOMPARE(field->text(1), QStringLiteral("Bytes sent when Enter is pressed in the receive terminal"));
    QCOMPARE(keysOf(find(QStringLiteral("receive")), tree()), words("rxFormat rxAutoFeed rxDisplayTime"));
}

QTEST_MAIN(tst_QuickSettingsEditor)
#include "tst_quicksettingseditor.moc"
