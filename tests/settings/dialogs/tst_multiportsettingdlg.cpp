#include "settings/dialogs/connectionsettingswidget.h"
#include "settings/dialogs/multiportsettingdlg.h"
#include "settings/dialogs/newconnection.h"
#include "settings/dialogs/quicksettingseditor.h"
#include "settings/dialogs/settingspanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

template<typename T> T *child(QObject *parent, const char *name)
{
    T *w = parent->findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("missing child %s", name);
    return w;
}

struct Shown
{
    QString title;
    QString text;
};

FormatSetting loggingPane(const QString &path)
{
    FormatSetting s;
    s.LogSaveFlag = true;
    s.LogFilePath = path;
    s.AutoFeedInterval = 55;
    return s;
}

} // namespace

class tst_MultiPortSettingDlg : public QObject
{
    Q_OBJECT
private slots:
    void shapes_data();
    void shapes();
    void okChecks_data();
    void okChecks();
    void noQuickGroupBlocksOk();
    void applyStoresCancelKeeps();
    void restoreDefaults_data();
    void restoreDefaults();
    void realQuestionBoxDefaultsToCancel();
    void newConnectionChoices_data();
    void newConnectionChoices();

private:
    QList<Shown> m_warnings;
    void watch(MultiPortSettingDlg &dlg)
    {
        m_warnings.clear();
        dlg.setWarningHook([this](const QString &title, const QString &text) { m_warnings.append({title, text}); });
    }
};

void tst_MultiPortSettingDlg::shapes_data()
{
    QTest::addColumn<int>("panels");
    QTest::addColumn<QStringList>("tabs");
    QTest::newRow("one pane") << 1 << QStringList();
    QTest::newRow("three panes")
        << 3 << QStringList{QStringLiteral("Connection 1"), QStringLiteral("Connection 2"), QStringLiteral("Connection 3"),
                            QStringLiteral("Quick Settings")};
}

void tst_MultiPortSettingDlg::shapes()
{
    QFETCH(int, panels);
    QFETCH(QStringList, tabs);
    MultiPortSettingDlg dlg(panels);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Option"));
    QCOMPARE(dlg.size(), QSize(560, 420));
    QCOMPARE(dlg.panelCount(), panels);
    auto *panelTabs = dlg.findChild<QTabWidget *>(QStringLiteral("panelTabs"));
    if (tabs.isEmpty()) {
        QVERIFY(!panelTabs);
        // The quick-settings page sits inside the single panel.
        auto *pages = child<QTabWidget>(dlg.panel(0), "settingsTabs");
        QCOMPARE(pages->tabText(pages->count() - 1), QStringLiteral("Quick Settings"));
        QCOMPARE(pages->widget(pages->count() - 1), dlg.quickSettingsEditor());
    } else {
        QVERIFY(panelTabs);
        QStringList titles;
        for (int i = 0; i < panelTabs->count(); ++i)
            titles << panelTabs->tabText(i);
        QCOMPARE(titles, tabs);
        QCOMPARE(panelTabs->widget(panelTabs->count() - 1), dlg.quickSettingsEditor());
    }
    const QStringList buttons{QStringLiteral("pbRestoreDefaults"), QStringLiteral("pbOK"), QStringLiteral("pbCancel"),
                              QStringLiteral("pbApply")};
    const QStringList texts{QStringLiteral("Restore Defaults..."), QStringLiteral("OK"), QStringLiteral("Cancel"),
                            QStringLiteral("Apply")};
    dlg.show();
    int lastX = -1;
    for (int i = 0; i < buttons.size(); ++i) {
        auto *b = child<QPushButton>(&dlg, qPrintable(buttons.at(i)));
        QCOMPARE(b->text(), texts.at(i));
        QVERIFY2(b->x() > lastX, "buttons run left to right");
        lastX = b->x();
    }
}

void tst_MultiPortSettingDlg::okChecks_data()
{
    QTest::addColumn<QString>("firstPath");
    QTest::addColumn<bool>("firstLogging");
    QTest::addColumn<QString>("secondPath");
    QTest::addColumn<QString>("warning");
    const QString bad = QStringLiteral("Please input correct log file name!");
    QTest::newRow("both fine") << QStringLiteral("/tmp/a.log") << true << QStringLiteral("/tmp/b.log") << QString();
    QTest::newRow("second too short") << QStringLiteral("/tmp/a.log") << true << QStringLiteral("ab") << bad;
    QTest::newRow("first too short") << QStringLiteral("xy") << true << QStringLiteral("/tmp/b.log") << bad;
    QTest::newRow("short but not logging") << QStringLiteral("xy") << false << QStringLiteral("/tmp/b.log") << QString();
}

void tst_MultiPortSettingDlg::okChecks()
{
    QFETCH(QString, firstPath);
    QFETCH(bool, firstLogging);
    QFETCH(QString, secondPath);
    QFETCH(QString, warning);
    MultiPortSettingDlg dlg(2);
    watch(dlg);
    FormatSetting first = loggingPane(firstPath);
    first.LogSaveFlag = firstLogging;
    dlg.setSettings(0, first);
    dlg.setSettings(1, loggingPane(secondPath));
    dlg.show();
    QTest::mouseClick(child<QPushButton>(&dlg, "pbOK"), Qt::LeftButton);
    if (warning.isEmpty()) {
        QVERIFY(m_warnings.isEmpty());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(dlg.isHidden());
    } else {
        QCOMPARE(m_warnings.size(), 1);
        QCOMPARE(m_warnings.first().title, QStringLiteral("Warning"));
        QCOMPARE(m_warnings.first().text, warning);
        QVERIFY(dlg.isVisible());
        // The offending pane's tab is brought forward, the user's text is kept.
        const int bad = firstLogging && firstPath.size() < 3 ? 0 : 1;
        QCOMPARE(child<QTabWidget>(&dlg, "panelTabs")->currentIndex(), bad);
        QCOMPARE(child<QLineEdit>(dlg.panel(bad), "filePathEdit")->text(), bad == 0 ? firstPath : secondPath);
    }
}

void tst_MultiPortSettingDlg::noQuickGroupBlocksOk()
{
    MultiPortSettingDlg dlg(1);
    watch(dlg);
    QuickSettingsLayout none;
    none.showConnection = none.showReceive = none.showSend = false;
    dlg.setQuickSettingsLayout(none);
    dlg.show();
    QTest::mouseClick(child<QPushButton>(&dlg, "pbOK"), Qt::LeftButton);
    QCOMPARE(m_warnings.size(), 1);
    QCOMPARE(m_warnings.first().title, QStringLiteral("Warning"));
    QCOMPARE(m_warnings.first().text, QStringLiteral("Select at least one quick settings group to show."));
    QVERIFY(dlg.isVisible());

    // One group back on: accepted.
    auto *tree = child<QTreeWidget>(&dlg, "quickSettingsTree");
    tree->topLevelItem(1)->setCheckState(0, Qt::Checked);
    QTest::mouseClick(child<QPushButton>(&dlg, "pbOK"), Qt::LeftButton);
    QCOMPARE(m_warnings.size(), 1);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(dlg.quickSettingsLayout().showReceive);
    QVERIFY(!dlg.quickSettingsLayout().showSend);

    // Without a quick-settings page there is nothing to check.
    MultiPortSettingDlg plain(1, nullptr, false);
    QVERIFY(!plain.quickSettingsEditor());
    QVERIFY(plain.apply());
}

void tst_MultiPortSettingDlg::applyStoresCancelKeeps()
{
    MultiPortSettingDlg dlg(2);
    watch(dlg);
    dlg.setSettings(1, loggingPane(QStringLiteral("/tmp/p.log")));
    dlg.show();
    child<QSpinBox>(dlg.panel(1), "autoFeedIntervalSpinBox")->setValue(321);
    QCOMPARE(dlg.settings(1).AutoFeedInterval, 55); // not before Apply
    QTest::mouseClick(child<QPushButton>(&dlg, "pbApply"), Qt::LeftButton);
    QCOMPARE(dlg.settings(1).AutoFeedInterval, 321);
    QVERIFY(dlg.isVisible());

    child<QSpinBox>(dlg.panel(1), "autoFeedIntervalSpinBox")->setValue(999);
    QTest::mouseClick(child<QPushButton>(&dlg, "pbCancel"), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(dlg.settings(1).AutoFeedInterval, 321);
    QVERIFY(!dlg.defaultsRestored());
    QVERIFY(m_warnings.isEmpty());
}

void tst_MultiPortSettingDlg::restoreDefaults_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("restore") << true;
    QTest::newRow("cancel") << false;
}

void tst_MultiPortSettingDlg::restoreDefaults()
{
    QFETCH(bool, answer);
    MultiPortSettingDlg dlg(2);
    watch(dlg);
    FormatSetting odd = loggingPane(QStringLiteral("/tmp/odd.log"));
    odd.ConnMode = 2;
    odd.DisplayBufferSize = 4242;
    odd.SendChecksum = 5;
    for (int i = 0; i < 2; ++i)
        dlg.setSettings(i, odd);
    QuickSettingsLayout layout;
    layout.showSend = false;
    layout.groupOrder = {QStringLiteral("send"), QStringLiteral("receive"), QStringLiteral("connection")};
    dlg.setQuickSettingsLayout(layout);

    QStringList asked;
    dlg.setQuestionHook([&](const QString &title, const QString &text) {
        asked << title << text;
        return answer;
    });
    QTest::mouseClick(child<QPushButton>(&dlg, "pbRestoreDefaults"), Qt::LeftButton);
    QCOMPARE(asked.value(0), QStringLiteral("Restore Default Settings"));
    QCOMPARE(asked.value(1), MultiPortSettingDlg::restoreDefaultsQuestion());
    QCOMPARE(dlg.defaultsRestored(), answer);

    const FormatSetting defaults = FormatSetting::builtInDefaults();
    for (int i = 0; i < 2; ++i) {
        SettingsPanel *p = dlg.panel(i);
        QCOMPARE(child<QCheckBox>(p, "logSaveBox")->isChecked(), answer ? defaults.LogSaveFlag : true);
        QCOMPARE(child<QSpinBox>(p, "displayBufferSizeSpinBox")->value(), answer ? defaults.DisplayBufferSize : 4242);
        QCOMPARE(p->connectionEditor()->connectionMode(), answer ? defaults.ConnMode : 2);
    }
    QCOMPARE(dlg.quickSettingsLayout() == QuickSettingsLayout(), answer);

    // OK then hands the defaults over as the records.
    QTest::mouseClick(child<QPushButton>(&dlg, "pbOK"), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.settings(1).SendChecksum, answer ? defaults.SendChecksum : 5);
    QCOMPARE(dlg.settings(0).LogFilePath, answer ? defaults.LogFilePath : QStringLiteral("/tmp/odd.log"));
}

void tst_MultiPortSettingDlg::realQuestionBoxDefaultsToCancel()
{
    // The shipped question: Enter on the box must not wipe the settings.
    MultiPortSettingDlg dlg(1);
    dlg.show();
    bool sawBox = false;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, &dlg, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        sawBox = true;
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::Cancel));
        QTest::keyClick(box, Qt::Key_Return);
        if (box->isVisible())
            box->reject(); // never leave the test waiting on a modal loop
    });
    poll.start();
    QTest::mouseClick(child<QPushButton>(&dlg, "pbRestoreDefaults"), Qt::LeftButton);
    QVERIFY(sawBox);
    QVERIFY(!dlg.defaultsRestored());
}

void tst_MultiPortSettingDlg::newConnectionChoices_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::newRow("serial") << 0 << QStringLiteral("Serial Port");
    QTest::newRow("network") << 1 << QStringLiteral("TCP/IP");
    QTest::newRow("bridge") << 2 << QStringLiteral("Bridge (network to serial)");
}

void tst_MultiPortSettingDlg::newConnectionChoices()
{
    QFETCH(int, row);
    QFETCH(QString, text);
    NewConnection dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("New Connection"));
    auto *box = child<QComboBox>(&dlg, "connectionTypeBox");
    QCOMPARE(box->count(), 3);
    QCOMPARE(box->itemText(row), text);
    box->setCurrentIndex(row);
    QCOMPARE(dlg.selectedIndex(), row);
}

QTEST_MAIN(tst_MultiPortSettingDlg)
#include "tst_multiportsettingdlg.moc"
