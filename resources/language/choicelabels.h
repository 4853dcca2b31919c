#pragma once
// Never compiled: only read by scripts/update-translations.sh. The combo boxes of the
// settings and the pane translate their labels at run time from tables of plain
// strings that lupdate cannot see, so the labels worth translating are listed here.
// Drop an entry once its table marks it with QT_TRANSLATE_NOOP itself.
#include <QtGlobal>

inline const char *const kQuillonChoiceLabels[] = {
    // settings/dialogs/settingschoices.cpp
    QT_TRANSLATE_NOOP("SettingsPanel", "None"),
    QT_TRANSLATE_NOOP("SettingsPanel", "Even"),
    QT_TRANSLATE_NOOP("SettingsPanel", "Odd"),
    QT_TRANSLATE_NOOP("SettingsPanel", "Mark"),
    QT_TRANSLATE_NOOP("SettingsPanel", "Space"),
    QT_TRANSLATE_NOOP("SettingsPanel", "TCP Client"),
    QT_TRANSLATE_NOOP("SettingsPanel", "TCP Server"),
    QT_TRANSLATE_NOOP("SettingsPanel", "UDP Client"),
    QT_TRANSLATE_NOOP("SettingsPanel", "UDP Server"),
    QT_TRANSLATE_NOOP("SettingsPanel", "UDP Group"),
    QT_TRANSLATE_NOOP("SettingsPanel", "Any"),
    QT_TRANSLATE_NOOP("SettingsPanel", "AnyIPv4"),
    QT_TRANSLATE_NOOP("SettingsPanel", "LocalHost"),
    QT_TRANSLATE_NOOP("SettingsPanel", "LocalHostIPv6"),
    QT_TRANSLATE_NOOP("SettingsPanel", "ms"),
    QT_TRANSLATE_NOOP("SettingsPanel", "s"),
    QT_TRANSLATE_NOOP("SettingsPanel", "min"),
    // terminal/serialportwidget.cpp
    QT_TRANSLATE_NOOP("SerialPortWidget", "None"),
};
