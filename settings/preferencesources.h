#pragma once

#include "settings/formatsetting.h"
#include "settings/quicksettingslayout.h"

#include <QString>
#include <QStringList>

// What the main window hands over when it saves its preferences at exit.
struct PreferenceSources
{
    FormatSetting firstPane; // connection, display, send and logging values
    QStringList sendHistory; // the first pane's send history
    QuickSettingsLayout quickSettings;
    QStringList recentFiles;
    QString currentFile; // empty for an untitled document
    QString lastLogFile;
    QString lastDirectory;
    bool openLastConnection = true;
    bool lastConnectionOpen = false; // the first pane was connected at exit
    bool autoReconnect = false;
};
