#pragma once

#include "settings/formatsetting.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QWidget>
#include <functional>
#include <memory>

class ConnectionSettingsWidget;
class QAbstractButton;
class QComboBox;
class QLineEdit;
class QSpinBox;
class QTimeEdit;

namespace Ui {
class SettingsPanel;
}

// Editor of one pane's settings record: loads a working copy into the pages'
// controls and stores the controls back through a table of bindings.
class SettingsPanel : public QWidget
{
    Q_OBJECT
public:
    // Ties one control to one field: load shows the field, store reads the control.
    struct Binding
    {
        std::function<void(const FormatSetting &)> load;
        std::function<void(FormatSetting &)> store;
    };

    explicit SettingsPanel(QWidget *parent = nullptr);
    ~SettingsPanel() override;

    // The working copy: set it (which loads the controls), store into it, read it.
    void setSettings(const FormatSetting &settings);
    void store() { storeControls(m_settings); }
    const FormatSetting &settings() const { return m_settings; }

    void loadControls(const FormatSetting &settings);
    void storeControls(FormatSetting &settings);

    // The first reason the controls cannot be taken, or an empty text.
    QString validate() const;

    void setSessionName(const QString &name);
    void addPage(QWidget *page, const QString &title);
    ConnectionSettingsWidget *connectionEditor() const;
    int bindingCount() const { return int(m_bindings.size()); }

    // ".log" appended when the chosen name has no suffix.
    static QString withLogSuffix(const QString &fileName);

public slots:
    void onRefreshDisplay();
    void onTabChanged(int index);

private slots:
    // Connected by name by the form.
    void on_filePathButton_clicked();
    void on_fontPB_clicked();
    void on_receiveTextColorPB_clicked();
    void on_sendTextColorPB_clicked();
    void on_autoFeedIntervalSpinBox_valueChanged(int value);
    void on_cbRxLineEndingMode_currentIndexChanged(int index);
    void on_cbTxLem_currentIndexChanged(int index);
    void on_terminalEnterBox_currentIndexChanged(int index);
    void on_rxAutoFeedLine_stateChanged(int state);
    void on_sendTimeUnitBox_currentIndexChanged(int index);

private:
    void bind(QAbstractButton *box, bool FormatSetting::*field);
    void bind(QLineEdit *edit, QString FormatSetting::*field);
    void bind(QSpinBox *spin, int FormatSetting::*field);
    void bind(QSpinBox *spin, int FormatSetting::*field, int (*toShown)(int), int (*fromShown)(int));
    void bind(QTimeEdit *edit, QTime FormatSetting::*field);
    void bind(QComboBox *box, int FormatSetting::*field);
    void addSpecialBindings();
    void showColour(QWidget *swatch, const QColor &colour);

    std::unique_ptr<Ui::SettingsPanel> ui;
    FormatSetting m_settings;
    QList<Binding> m_bindings;
    QFont m_font;
    QColor m_sendColour;
    QColor m_receiveColour;
    QString m_sessionName;
};
