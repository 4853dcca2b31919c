#pragma once

#include "settings/formatsetting.h"
#include "settings/quicksettingslayout.h"

#include <QDialog>
#include <QList>
#include <functional>
#include <memory>

class QTabWidget;
class QuickSettingsEditor;
class SettingsPanel;

namespace Ui {
class MultiPortSettingDlg;
}

// The options dialog: one settings panel per pane and the quick-settings page.
class MultiPortSettingDlg : public QDialog
{
    Q_OBJECT
public:
    // Who shows a warning and who answers the restore question; tests put
    // their own in place of the modal message boxes.
    using WarningHook = std::function<void(const QString &title, const QString &text)>;
    using QuestionHook = std::function<bool(const QString &title, const QString &text)>;

    explicit MultiPortSettingDlg(int panelCount, QWidget *parent = nullptr, bool withQuickSettings = true);
    ~MultiPortSettingDlg() override;

    int panelCount() const { return int(m_panels.size()); }
    SettingsPanel *panel(int index) const { return m_panels.value(index); }
    void setSettings(int index, const FormatSetting &settings);
    FormatSetting settings(int index) const;

    QuickSettingsEditor *quickSettingsEditor() const { return m_quickEditor; }
    void setQuickSettingsLayout(const QuickSettingsLayout &layout);
    QuickSettingsLayout quickSettingsLayout() const;

    // Validates every panel and the quick-settings page, then stores the panels.
    bool apply();
    // Loads the built-in defaults without asking.
    void restoreDefaults();
    bool defaultsRestored() const { return m_defaultsRestored; }

    void setWarningHook(WarningHook hook) { m_warn = std::move(hook); }
    void setQuestionHook(QuestionHook hook) { m_ask = std::move(hook); }

    static QString restoreDefaultsQuestion();

private slots:
    // Connected by name by the form.
    void on_pbOK_clicked();
    void on_pbApply_clicked();
    void on_pbCancel_clicked();
    void on_pbRestoreDefaults_clicked();

private:
    std::unique_ptr<Ui::MultiPortSettingDlg> ui;
    QList<SettingsPanel *> m_panels;
    QTabWidget *m_tabs = nullptr;
    QuickSettingsEditor *m_quickEditor = nullptr;
    bool m_defaultsRestored = false;
    WarningHook m_warn;
    QuestionHook m_ask;
};
