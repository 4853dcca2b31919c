#pragma once

#include "settings/quicksettingslayout.h"

#include <QList>
#include <QString>
#include <QWidget>
#include <memory>

class QTreeWidgetItem;

namespace Ui {
class QuickSettingsEditor;
}

// Chooses which quick-settings groups and fields a pane shows, and their order.
class QuickSettingsEditor : public QWidget
{
    Q_OBJECT
public:
    struct FieldInfo
    {
        QString key;
        QString title;
        QString description;
    };
    struct GroupInfo
    {
        QString key;
        QString title;
        QString description;
        QList<FieldInfo> fields;
    };

    explicit QuickSettingsEditor(QWidget *parent = nullptr);
    ~QuickSettingsEditor() override;

    static QList<GroupInfo> catalog();

    void setQuickLayout(const QuickSettingsLayout &layout);
    // Group flags, group order, and per group the field order and unchecked fields.
    QuickSettingsLayout quickLayout() const;
    void restoreDefaults() { setQuickLayout(QuickSettingsLayout()); }
    bool hasVisibleGroup() const;

private slots:
    // Connected by name by the form.
    void on_quickSettingsMoveUpButton_clicked();
    void on_quickSettingsMoveDownButton_clicked();

private:
    void moveCurrent(int step);

    std::unique_ptr<Ui::QuickSettingsEditor> ui;
    // Entries the tree does not show (such as the control-line group) pass through unchanged.
    QuickSettingsLayout m_base;
};
