#pragma once

#include "settings/formatsetting.h"
#include "settings/quicksettingslayout.h"

#include <QList>
#include <functional>

// The contents of a settings document: the grid shape, the quick-settings
// layout and one record per pane.
struct SettingsDocument
{
    int PortNumber = 1;
    int ColumnNumber = 1;
    bool QuickView = true;
    QuickSettingsLayout quickSettings;
    QList<FormatSetting> panes;
};

// Reads a ".qln" document. Returns false, leaving `document` untouched, when the
// file does not exist. Values that are missing or unreadable take their
// when-absent value; a truncated or binary file still yields a usable document.
bool readSettingFile(const QString &filePath, SettingsDocument &document);

// Writes every key that readSettingFile reads. `progress` (optional) is told the
// percentage done after each section.
bool writeFile(const QString &filePath, const SettingsDocument &document,
               const std::function<void(int)> &progress = {});
