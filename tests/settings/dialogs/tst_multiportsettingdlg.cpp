#include "settings/dialogs/connectionsettingswidget.h"
#include "settings/dialogs/multiportsettingdlg.h"
#include "settings/dialogs/quicksettingseditor.h"
#include "settings/dialogs/settingspanel.h"
#include "tests/settings/settingstest.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

static FormatSetting loggingPane(const QString &path)
{
    FormatSetting s;
    s.LogSaveFlag = true;
    s.LogFilePath = path;
    s.AutoFeedInterval = 55;
    return s;
}

class tst_MultiPortSettingDlg : public QObject
{
    Q_OBJECT
private slots:
    void okChecks_data()
    {
        QTest::addColumn<QString>("firstPath");
        QTest::addColumn<bool>("firstLogging");
        QTest::addColumn<QString>("secondPath");
        QTest::addColumn<bool>("quickGroups");
        QTest::addColumn<int>("badTab"); // -1: accepted
        QTest::addColumn<QString>("warning");
        const QString name = QStringLiteral("Please input correct log file name!");
        QTest::newRow("second short after trimming") << "/tmp/a.log" << true << "  ab " << true << 1 << name;
        QTest::newRow("first empty") << "" << true << "/tmp/b.log" << true << 0 << name;
        QTest::newRow("short but not logging") << "xy" << false << "/tmp/b.log" << true << -1 << "";
        QTest::newRow("no quick settings group") << "/tmp/a.log" << true << "/tmp/b.log" << false << 2
                                                 << "Select at least one quick settings group to show.";
    }

    void okChecks()
    {
        QFETCH(QString, firstPath);
        QFETCH(bool, firstLogging);
        QFETCH(QString, secondPath);
        QFETCH(bool, quickGroups);
        QFETCH(int, badTab);
        QFETCH(QString, warning);
        MultiPortSettingDlg dlg(2);
        watch(dlg);
        FormatSetting first = loggingPane(firstPath);
        first.LogSaveFlag = firstLogging;
        dlg.setSettings(0, first);
        dlg.setSettings(1, loggingPane(secondPath));
        QuickSettingsLayout quick;
        quick.showConnection = quick.showReceive = quick.showSend = quickGroups;
        dlg.setQuickSettingsLayout(quick);
        dlg.show();
        QTest::mouseClick(child<QPushButton>(&dlg, "pbOK"), Qt::LeftButton);
        if (badTab < 0) {
            QCOMPARE(m_warnings, QStringList());
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            return;
        }
        QCOMPARE(m_warnings, QStringList{QStringLiteral("Warning|") + warning});
        QVERIFY(dlg.isVisible());
        // The offending tab is brought forward, the user's text is kept.
        QCOMPARE(child<QTabWidget>(&dlg, "panelTabs")->currentIndex(), badTab);
        if (badTab < 2)
            QCOMPARE(child<QLineEdit>(dlg.panel(badTab), "filePathEdit")->text(), badTab == 0 ? firstPath : secondPath);
    }

    void applyStoresCancelKeeps()
    {
        MultiPortSettingDlg dlg(2);
        watch(dlg);
        dlg.setSettings(1, loggingPane(QStringLiteral("/tmp/p.log")));
        dlg.show();
        auto *spin = child<QSpinBox>(dlg.panel(1), "autoFeedIntervalSpinBox");
        spin->setValue(321);
        QCOMPARE(dlg.settings(1).AutoFeedInterval, 55); // not before Apply
        QTest::mouseClick(child<QPushButton>(&dlg, "pbApply"), Qt::LeftButton);
        QCOMPARE(dlg.settings(1).AutoFeedInterval, 321);
        QVERIFY(dlg.isVisible());

        spin->setValue(999);
        QTest::mouseClick(child<QPushButton>(&dlg, "pbCancel"), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(dlg.settings(1).AutoFeedInterval, 321);
        QVERIFY(m_warnings.isEmpty());
    }

    void restoreDefaults_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("restore") << true;
        QTest::newRow("cancel") << false;
    }

    void restoreDefaults()
    {
        QFETCH(bool, answer);
        MultiPortSettingDlg dlg(2);
        watch(dlg);
        FormatSetting odd = loggingPane(QStringLiteral("/tmp/odd.log"));
        odd.ConnMode = 2;
        odd.SendChecksum = 5;
        for (int i = 0; i < 2; ++i)
            dlg.setSettings(i, odd);
        QuickSettingsLayout layout;
        layout.showSend = false;
        dlg.setQuickSettingsLayout(layout);

        int asked = 0;
        dlg.setQuestionHook([&](const QString &, const QString &) {
            ++asked;
            return answer;
        });
        QTest::mouseClick(child<QPushButton>(&dlg, "pbRestoreDefaults"), Qt::LeftButton);
        QCOMPARE(asked, 1);
        QCOMPARE(dlg.defaultsRestored(), answer);
        QCOMPARE(dlg.quickSettingsLayout() == QuickSettingsLayout(), answer);
        QCOMPARE(dlg.panel(1)->connectionEditor()->connectionMode(), answer ? 0 : 2);

        // OK then hands the defaults over as the records.
        QTest::mouseClick(child<QPushButton>(&dlg, "pbOK"), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        for (int i = 0; i < 2; ++i)
            QVERIFY(dlg.settings(i).sameStoredValues(answer ? FormatSetting::builtInDefaults() : odd));
    }

    void realQuestionBoxDefaultsToCancel()
    {
        // The shipped question: Enter on the box must not wipe the settings.
        MultiPortSettingDlg dlg(1);
        dlg.show();
        bool sawBox = false, cancelIsDefault = false;
        // Runs inside the box's own event loop.
        QTimer::singleShot(0, &dlg, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                sawBox = true;
                cancelIsDefault = box->defaultButton() == box->button(QMessageBox::Cancel);
                QTest::keyClick(box, Qt::Key_Return);
                if (box->isVisible())
                    box->reject(); // never leave the test waiting on a modal loop
            }
        });
        QTest::mouseClick(child<QPushButton>(&dlg, "pbRestoreDefaults"), Qt::LeftButton);
        QVERIFY(sawBox);
        QVERIFY(cancelIsDefault);
        QVERIFY(!dlg.defaultsRestored());
    }

private:
    QStringList m_warnings;
    void watch(MultiPortSettingDlg &dlg)
    {
        m_warnings.clear();
        dlg.setWarningHook([this](const QString &title, const QString &text) { m_warnings << title + u'|' + text; });
    }
};

QTEST_MAIN(tst_MultiPortSettingDlg)
#include "tst_multiportsettingdlg.moc"
