#pragma once

#include "settings/formatsetting.h"
#include "settings/preferencesources.h"
#include "settings/quicksettingslayout.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <QTime>

class QSettings;
class SettingsReader;

// The application preferences: the first pane's last-used values, the
// quick-settings layout, recent files and window state kept between runs.
// Field names are the store keys.
struct LastSettings
{
    // Connection
    int LastConnMode = 0;
    QString LastPortName;
    int LastBaudrate = 9600;
    int LastDatabits = 8;
    int LastStopbits = 1;
    int LastParity = 0;
    int LastFlowControl = 0;
    bool LastDtrOn = true;
    bool LastRtsOn = true;
    QString LastTargetHost = QStringLiteral("127.0.0.1");
    QStringList LastTargetHosts{QStringLiteral("127.0.0.1")};
    int LastTargetPort = 6000;
    quint16 LastUdpLocalPort = 60001;
    quint16 LastUdpServerPort = 60000;

    // Receive, send and display
    int LastReceiveMessageFormat = 2;
    int LastSendMessageFormat = 2;
    QString LastReceiveEncoding = QStringLiteral("UTF-8");
    QString LastSendEncoding = QStringLiteral("UTF-8");
    int LastSendChecksum = 0;
    int LastTerminalEnterMode = 1;
    int LastAutoFeedInterval = 20;
    int LastSplitterLeft = 10000;
    int LastSplitterRight = 50000;
    bool LastRxAutoFeedLine = false;
    int LastRxLineEndingMode = 0;
    bool LastTxAutoFeedLine = false;
    int LastTxLineEndingMode = 0;
    QuickSettingsLayout quickSettings; // keys QuickSettings/...
    bool LastDisplaySendMsg = false;
    bool LastDisplaySendTime = false;
    QString LastDisplayRxTimeFormat = FormatSetting::defaultRxTimeFormat();
    QString LastDisplayTxTimeFormat = FormatSetting::defaultTxTimeFormat();
    int LastDisplayBufferSize = 10485760;
    QFont displayFont; // keys LastDisplayFontFamily, LastDisplayFontSize
    bool LastFormatDisplayColor = false;
    QColor LastSendTextColor = QColor(0, 0, 0);
    QColor LastReceiveTextColor = QColor(0, 0, 0);
    bool LastShowControlLineLeds = true;

    // Logging
    bool LastLogSaveFlag = false;
    QString LastLogFilePath = FormatSetting::defaultLogPath();
    QString LastLogFileName = QStringLiteral("qln_");
    bool LastLogTimestampEnabled = false;
    QString LastLogTimestamp = FormatSetting::defaultLogTimeFormat();
    bool LastLogRotateAtSize = true;
    int LastLogRotateSize = 104857600;
    bool LastLogRotateAtTime = false;
    QTime LastLogRotateTime = QTime(0, 0);
    bool LastNeedHourTimeStamp = true;

    // History and window state
    QStringList SendList;
    QStringList RecentFiles; // most recent first
    QString LastFile;
    QString LastLogFile;
    QString LastDirectory;
    bool OpenLastConnection = true;
    bool LastConnectionOpen = false;
    bool AutoReconnect = false;

    // The defaults plus the preferred monospace display font; needs a
    // QGuiApplication for the font.
    static LastSettings builtInDefaults();

    // How many recent documents the store keeps (the menu shows as many).
    static constexpr int maxRecentFiles = 9;
};

// Reads every key; a missing key or a value that does not parse or lies out of
// range takes the built-in default.
LastSettings readPreferences(QSettings &settings);

// The same keys and rules from any source: every key that is present and valid
// replaces its field; a missing or invalid one keeps the field as it is. The
// quick-settings layout is not read here.
void readPreferenceValues(const SettingsReader &reader, LastSettings &prefs);

// Writes every key that readPreferences reads. Keys of other parts of the
// program in the same store are left alone.
void writePreferences(QSettings &settings, const LastSettings &prefs);

// The current values as the main window hands them over, on top of `previous`
// for what the window does not hold (the UDP server port, the log name prefix).
LastSettings collectPreferences(const LastSettings &previous, const PreferenceSources &window);

// The record for the first pane: `base` (normally FormatSetting::builtInDefaults())
// with the remembered connection, display, send and logging values. An empty
// remembered port name keeps the base's port.
FormatSetting paneSettingsFrom(const LastSettings &prefs,
                               const FormatSetting &base = FormatSetting::builtInDefaults());

// The quick-settings layout to use: all groups hidden falls back to the
// default layout, and the group order is normalised.
QuickSettingsLayout quickSettingsFrom(const LastSettings &prefs);
