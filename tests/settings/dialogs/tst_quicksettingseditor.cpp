#include "settings/dialogs/quicksettingseditor.h"

#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

Q_DECLARE_METATYPE(QuickSettingsLayout)

static QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class tst_QuickSettingsEditor : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_editor = std::make_unique<QuickSettingsEditor>(); }
    void layoutReadsBack_data()
    {
        QTest::addColumn<QuickSettingsLayout>("layout");
        QTest::addColumn<QuickSettingsLayout>("expected");

        QuickSettingsLayout both;
        both.groupOrder = words("send connection receive");
        both.showConnection = both.showSend = false;
        both.fieldOrder.insert(QStringLiteral("connection"), words("flowControl stopBits parity dataBits baudRate"));
        both.hiddenFields.insert(QStringLiteral("connection"), words("parity baudRate"));
        // Not shown by the editor, but must survive it.
        both.fieldOrder.insert(QStringLiteral("controlLines"), words("cts rts"));
        both.hiddenFields.insert(QStringLiteral("controlLines"), words("ri"));
        // Explicit lists equal to the usual order stay explicit.
        both.fieldOrder.insert(QStringLiteral("receive"), words("rxFormat rxAutoFeed rxDisplayTime"));
        both.hiddenFields.insert(QStringLiteral("receive"), QStringList());
        QTest::newRow("orders, flags, passed-through groups") << both << both;

        QuickSettingsLayout junk, cleaned;
        junk.groupOrder = words("send bogus send");
        junk.fieldOrder.insert(QStringLiteral("send"), words("txLoop nonsense txLoop txFormat"));
        cleaned.groupOrder = words("send connection receive");
        cleaned.fieldOrder.insert(QStringLiteral("send"), words("txLoop txFormat txAutoFeed txTerminalEnter txChecksum "
                                                                "txDisplaySend txLineByLine"));
        QTest::newRow("repeated and unknown names dropped") << junk << cleaned;
    }

    void layoutReadsBack()
    {
        QFETCH(QuickSettingsLayout, layout);
        QFETCH(QuickSettingsLayout, expected);
        m_editor->setQuickLayout(layout);
        QCOMPARE(m_editor->quickLayout(), expected);
    }

    void moves_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("clicks"); // "up" / "down"
        QTest::addColumn<QString>("parentKey");  // empty: top level
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("group down twice, then past the end")
            << "connection" << words("down down down") << "" << words("receive send connection");
        QTest::newRow("group up at the top") << "connection" << words("up") << "" << words("connection receive send");
        QTest::newRow("field up") << "parity" << words("up up") << "connection"
                                  << words("parity baudRate dataBits stopBits flowControl");
    }

    void moves()
    {
        QFETCH(QString, key);
        QFETCH(QStringList, clicks);
        QFETCH(QString, parentKey);
        QFETCH(QStringList, expected);
        auto *up = m_editor->findChild<QPushButton *>(QStringLiteral("quickSettingsMoveUpButton"));
        auto *down = m_editor->findChild<QPushButton *>(QStringLiteral("quickSettingsMoveDownButton"));
        find(QStringLiteral("txLoop"))->setCheckState(0, Qt::Unchecked);
        QTreeWidgetItem *item = find(key);
        tree()->setCurrentItem(item);
        for (const QString &c : clicks)
            QTest::mouseClick(c == QLatin1String("up") ? up : down, Qt::LeftButton);
        QCOMPARE(tree()->currentItem(), item);
        const QuickSettingsLayout l = m_editor->quickLayout();
        if (parentKey.isEmpty()) {
            QCOMPARE(l.groupOrder, expected);
            QVERIFY(item->isExpanded());
        } else {
            QCOMPARE(l.fieldOrder.value(parentKey), expected);
        }
        // A move carries the field's check state along and touches no other group.
        QCOMPARE(l.hiddenFields.value(QStringLiteral("send")), QStringList{QStringLiteral("txLoop")});
        QCOMPARE(find(QStringLiteral("send"))->childCount(), 7);
    }

private:
    QTreeWidget *tree() { return m_editor->findChild<QTreeWidget *>(QStringLiteral("quickSettingsTree")); }
    QTreeWidgetItem *find(const QString &key)
    {
        const auto items = tree()->findItems(QStringLiteral("*"), Qt::MatchWildcard | Qt::MatchRecursive);
        for (QTreeWidgetItem *item : items) {
            if (item->data(0, Qt::UserRole).toString() == key)
                return item;
        }
        qFatal("no item %s", qPrintable(key));
    }
    std::unique_ptr<QuickSettingsEditor> m_editor;
};

QTEST_MAIN(tst_QuickSettingsEditor)
#include "tst_quicksettingseditor.moc"
