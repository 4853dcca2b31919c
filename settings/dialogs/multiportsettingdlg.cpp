#include "settings/dialogs/multiportsettingdlg.h"
#include "ui_multiportsettingdlg.h"

#include "settings/dialogs/quicksettingseditor.h"
#include "settings/dialogs/settingspanel.h"

#include <QMessageBox>
#include <QTabWidget>

MultiPortSettingDlg::MultiPortSettingDlg(int panelCount, QWidget *parent, bool withQuickSettings)
    : QDialog(parent)
    , ui(std::make_unique<Ui::MultiPortSettingDlg>())
{
    ui->setupUi(this);
    resize(560, 420);
    panelCount = qMax(1, panelCount);
    if (withQuickSettings)
        m_quickEditor = new QuickSettingsEditor(this);
    if (panelCount == 1) {
        auto *panel = new SettingsPanel(ui->panelArea);
        m_panels << panel;
        ui->panelAreaLayout->addWidget(panel);
        if (m_quickEditor)
            panel->addPage(m_quickEditor, tr("Quick Settings"));
    } else {
        m_tabs = new QTabWidget(ui->panelArea);
        m_tabs->setObjectName(QStringLiteral("panelTabs"));
        ui->panelAreaLayout->addWidget(m_tabs);
        for (int i = 0; i < panelCount; ++i) {
            auto *panel = new SettingsPanel(m_tabs);
            m_panels << panel;
            m_tabs->addTab(panel, tr("Connection %1").arg(i + 1));
        }
        if (m_quickEditor)
            m_tabs->addTab(m_quickEditor, tr("Quick Settings"));
    }

    m_warn = [this](const QString &title, const QString &text) { QMessageBox::warning(this, title, text); };
    m_ask = [this](const QString &title, const QString &text) {
        QMessageBox box(QMessageBox::Question, title, text, QMessageBox::RestoreDefaults | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Cancel);
        return box.exec() == QMessageBox::RestoreDefaults;
    };
}

MultiPortSettingDlg::~MultiPortSettingDlg() = default;

void MultiPortSettingDlg::setSettings(int index, const FormatSetting &settings)
{
    if (SettingsPanel *p = panel(index))
        p->setSettings(settings);
}

FormatSetting MultiPortSettingDlg::settings(int index) const
{
    const SettingsPanel *p = panel(index);
    return p ? p->settings() : FormatSetting();
}

void MultiPortSettingDlg::setQuickSettingsLayout(const QuickSettingsLayout &layout)
{
    if (m_quickEditor)
        m_quickEditor->setQuickLayout(layout);
}

QuickSettingsLayout MultiPortSettingDlg::quickSettingsLayout() const
{
    return m_quickEditor ? m_quickEditor->quickLayout() : QuickSettingsLayout();
}

bool MultiPortSettingDlg::apply()
{
    for (int i = 0; i < m_panels.size(); ++i) {
        const QString problem = m_panels.at(i)->validate();
        if (!problem.isEmpty()) {
            if (m_tabs)
                m_tabs->setCurrentIndex(i);
            m_warn(tr("Warning"), problem);
            return false;
        }
    }
    if (m_quickEditor && !m_quickEditor->hasVisibleGroup()) {
        if (m_tabs)
            m_tabs->setCurrentWidget(m_quickEditor);
        m_warn(tr("Warning"), tr("Select at least one quick settings group to show."));
        return false;
    }
    for (SettingsPanel *p : std::as_const(m_panels))
        p->store();
    return true;
}

void MultiPortSettingDlg::restoreDefaults()
{
    const FormatSetting defaults = FormatSetting::builtInDefaults();
    for (SettingsPanel *p : std::as_const(m_panels))
        p->loadControls(defaults);
    if (m_quickEditor)
        m_quickEditor->restoreDefaults();
    m_defaultsRestored = true;
}

QString MultiPortSettingDlg::restoreDefaultsQuestion()
{
    return tr("Restore all connection, receive, send, log, display and quick-settings options to their defaults?\n\n"
              "Your account, saved settings files and log files are not changed. Active connections are stopped "
              "when you press OK; Cancel still discards the change.");
}

void MultiPortSettingDlg::on_pbOK_clicked()
{
    if (apply())
        accept();
}

void MultiPortSettingDlg::on_pbApply_clicked()
{
    apply();
}

void MultiPortSettingDlg::on_pbCancel_clicked()
{
    reject();
}

void MultiPortSettingDlg::on_pbRestoreDefaults_clicked()
{
    if (m_ask(tr("Restore Default Settings"), restoreDefaultsQuestion()))
        restoreDefaults();
}
