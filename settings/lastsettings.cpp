#include "settings/lastsettings.h"

#include "codec/wiretextcodecregistry.h"
#include "settings/displayfont.h"
#include "settings/settingsreader.h"

#include <QSettings>

#include <climits>
#include <initializer_list>

namespace {

// Without empty entries and repeats, first occurrence kept.
QStringList distinctPaths(const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths) {
        if (!p.isEmpty() && !out.contains(p))
            out << p;
    }
    return out;
}

QString colourText(const QColor &colour, const QColor &fallback)
{
    return (colour.isValid() ? colour : fallback).name(QColor::HexRgb);
}

} // namespace

LastSettings LastSettings::builtInDefaults()
{
    LastSettings s;
    s.displayFont = makeDisplayFont(preferredMonospaceFamily(), 12);
    s.displayFont.setWeight(QFont::Normal);
    return s;
}

LastSettings readPreferences(QSettings &settings)
{
    LastSettings s = LastSettings::builtInDefaults();
    readPreferenceValues(SettingsReader(settings), s);
    s.quickSettings = QuickSettingsLayout::readFrom(settings);
    return s;
}

void readPreferenceValues(const SettingsReader &r, LastSettings &s)
{
    const LastSettings d = s; // every key falls back to the value it replaces

    s.LastConnMode = r.integer(QStringLiteral("LastConnMode"), d.LastConnMode, 0, 7);
    s.LastPortName = r.text(QStringLiteral("LastPortName"), d.LastPortName).trimmed();
    s.LastBaudrate = r.integer(QStringLiteral("LastBaudrate"), d.LastBaudrate, 1);
    s.LastDatabits = r.integer(QStringLiteral("LastDatabits"), d.LastDatabits, 5, 8);
    // The serial-port module's values: stop bits 1, 2 and 3 (one and a half);
    // parity 0 none, 2 even, 3 odd, 4 space, 5 mark; flow 0 none, 1 RTS/CTS, 2 XON/XOFF.
    s.LastStopbits = r.oneOf(QStringLiteral("LastStopbits"), d.LastStopbits, {1, 2, 3});
    s.LastParity = r.oneOf(QStringLiteral("LastParity"), d.LastParity, {0, 2, 3, 4, 5});
    s.LastFlowControl = r.integer(QStringLiteral("LastFlowControl"), d.LastFlowControl, 0, 2);
    s.LastDtrOn = r.boolean(QStringLiteral("LastDtrOn"), d.LastDtrOn);
    s.LastRtsOn = r.boolean(QStringLiteral("LastRtsOn"), d.LastRtsOn);
    s.LastTargetHost = r.text(QStringLiteral("LastTargetHost"), d.LastTargetHost).trimmed();
    s.LastTargetHosts = r.list(QStringLiteral("LastTargetHosts"), d.LastTargetHosts);
    s.LastTargetPort = r.integer(QStringLiteral("LastTargetPort"), d.LastTargetPort, 0, 65535);
    s.LastUdpLocalPort = r.port(QStringLiteral("LastUdpLocalPort"), d.LastUdpLocalPort);
    s.LastUdpServerPort = r.port(QStringLiteral("LastUdpServerPort"), d.LastUdpServerPort);

    s.LastReceiveMessageFormat = r.integer(QStringLiteral("LastReceiveMessageFormat"), d.LastReceiveMessageFormat, 1, 2);
    s.LastSendMessageFormat = r.integer(QStringLiteral("LastSendMessageFormat"), d.LastSendMessageFormat, 1, 2);
    s.LastReceiveEncoding = WireTextCodecRegistry::canonicalName(
        r.text(QStringLiteral("LastReceiveEncoding"), d.LastReceiveEncoding));
    s.LastSendEncoding = WireTextCodecRegistry::canonicalName(
        r.text(QStringLiteral("LastSendEncoding"), d.LastSendEncoding));
    s.LastSendChecksum = r.integer(QStringLiteral("LastSendChecksum"), d.LastSendChecksum, 0, 5);
    s.LastTerminalEnterMode = r.integer(QStringLiteral("LastTerminalEnterMode"), d.LastTerminalEnterMode, 0);
    s.LastAutoFeedInterval = r.integer(QStringLiteral("LastAutoFeedInterval"), d.LastAutoFeedInterval, 0);
    s.LastSplitterLeft = r.integer(QStringLiteral("LastSplitterLeft"), d.LastSplitterLeft, 0);
    s.LastSplitterRight = r.integer(QStringLiteral("LastSplitterRight"), d.LastSplitterRight, 0);
    s.LastRxAutoFeedLine = r.boolean(QStringLiteral("LastRxAutoFeedLine"), d.LastRxAutoFeedLine);
    s.LastRxLineEndingMode = r.integer(QStringLiteral("LastRxLineEndingMode"), d.LastRxLineEndingMode, 0);
    s.LastTxAutoFeedLine = r.boolean(QStringLiteral("LastTxAutoFeedLine"), d.LastTxAutoFeedLine);
    s.LastTxLineEndingMode = r.integer(QStringLiteral("LastTxLineEndingMode"), d.LastTxLineEndingMode, 0);

    s.LastDisplaySendMsg = r.boolean(QStringLiteral("LastDisplaySendMsg"), d.LastDisplaySendMsg);
    s.LastDisplaySendTime = r.boolean(QStringLiteral("LastDisplaySendTime"), d.LastDisplaySendTime);
    s.LastDisplayRxTimeFormat = r.nonBlank(QStringLiteral("LastDisplayRxTimeFormat"), d.LastDisplayRxTimeFormat);
    s.LastDisplayTxTimeFormat = r.nonBlank(QStringLiteral("LastDisplayTxTimeFormat"), d.LastDisplayTxTimeFormat);
    s.LastDisplayBufferSize = r.integer(QStringLiteral("LastDisplayBufferSize"), d.LastDisplayBufferSize, 1);
    s.displayFont = makeDisplayFont(r.text(QStringLiteral("LastDisplayFontFamily"), d.displayFont.family()),
                                    r.integer(QStringLiteral("LastDisplayFontSize"), d.displayFont.pointSize(), 1, 1000));
    s.displayFont.setWeight(QFont::Normal);
    s.LastFormatDisplayColor = r.boolean(QStringLiteral("LastFormatDisplayColor"), d.LastFormatDisplayColor);
    s.LastSendTextColor = r.colour(QStringLiteral("LastSendTextColor"), d.LastSendTextColor);
    s.LastReceiveTextColor = r.colour(QStringLiteral("LastReceiveTextColor"), d.LastReceiveTextColor);
    s.LastShowControlLineLeds = r.boolean(QStringLiteral("LastShowControlLineLeds"), d.LastShowControlLineLeds);

    s.LastLogSaveFlag = r.boolean(QStringLiteral("LastLogSaveFlag"), d.LastLogSaveFlag);
    s.LastLogFilePath = r.nonBlank(QStringLiteral("LastLogFilePath"), d.LastLogFilePath);
    s.LastLogFileName = r.text(QStringLiteral("LastLogFileName"), d.LastLogFileName);
    s.LastLogTimestampEnabled = r.boolean(QStringLiteral("LastLogTimestampEnabled"), d.LastLogTimestampEnabled);
    s.LastLogTimestamp = r.text(QStringLiteral("LastLogTimestamp"), d.LastLogTimestamp);
    s.LastLogRotateAtSize = r.boolean(QStringLiteral("LastLogRotateAtSize"), d.LastLogRotateAtSize);
    s.LastLogRotateSize = r.integer(QStringLiteral("LastLogRotateSize"), d.LastLogRotateSize, 1);
    s.LastLogRotateAtTime = r.boolean(QStringLiteral("LastLogRotateAtTime"), d.LastLogRotateAtTime);
    s.LastLogRotateTime = r.time(QStringLiteral("LastLogRotateTime"), d.LastLogRotateTime);
    s.LastNeedHourTimeStamp = r.boolean(QStringLiteral("LastNeedHourTimeStamp"), d.LastNeedHourTimeStamp);

    s.SendList = r.list(QStringLiteral("SendList"), d.SendList);
    s.RecentFiles = distinctPaths(r.list(QStringLiteral("RecentFiles"), d.RecentFiles));
    s.LastFile = r.text(QStringLiteral("LastFile"), d.LastFile);
    s.LastLogFile = r.text(QStringLiteral("LastLogFile"), d.LastLogFile);
    s.LastDirectory = r.text(QStringLiteral("LastDirectory"), d.LastDirectory);
    s.OpenLastConnection = r.boolean(QStringLiteral("OpenLastConnection"), d.OpenLastConnection);
    s.LastConnectionOpen = r.boolean(QStringLiteral("LastConnectionOpen"), d.LastConnectionOpen);
    s.AutoReconnect = r.boolean(QStringLiteral("AutoReconnect"), d.AutoReconnect);
}

void writePreferences(QSettings &settings, const LastSettings &s)
{
    const LastSettings d;
    settings.setValue(QStringLiteral("LastConnMode"), s.LastConnMode);
    settings.setValue(QStringLiteral("LastPortName"), s.LastPortName);
    settings.setValue(QStringLiteral("LastBaudrate"), s.LastBaudrate);
    settings.setValue(QStringLiteral("LastDatabits"), s.LastDatabits);
    settings.setValue(QStringLiteral("LastStopbits"), s.LastStopbits);
    settings.setValue(QStringLiteral("LastParity"), s.LastParity);
    settings.setValue(QStringLiteral("LastFlowControl"), s.LastFlowControl);
    settings.setValue(QStringLiteral("LastDtrOn"), s.LastDtrOn);
    settings.setValue(QStringLiteral("LastRtsOn"), s.LastRtsOn);
    settings.setValue(QStringLiteral("LastTargetHost"), s.LastTargetHost);
    settings.setValue(QStringLiteral("LastTargetHosts"), s.LastTargetHosts);
    settings.setValue(QStringLiteral("LastTargetPort"), s.LastTargetPort);
    settings.setValue(QStringLiteral("LastUdpLocalPort"), s.LastUdpLocalPort);
    settings.setValue(QStringLiteral("LastUdpServerPort"), s.LastUdpServerPort);

    settings.setValue(QStringLiteral("LastReceiveMessageFormat"), s.LastReceiveMessageFormat);
    settings.setValue(QStringLiteral("LastSendMessageFormat"), s.LastSendMessageFormat);
    settings.setValue(QStringLiteral("LastReceiveEncoding"),
                      WireTextCodecRegistry::canonicalName(s.LastReceiveEncoding));
    settings.setValue(QStringLiteral("LastSendEncoding"), WireTextCodecRegistry::canonicalName(s.LastSendEncoding));
    settings.setValue(QStringLiteral("LastSendChecksum"), s.LastSendChecksum);
    settings.setValue(QStringLiteral("LastTerminalEnterMode"), s.LastTerminalEnterMode);
    settings.setValue(QStringLiteral("LastAutoFeedInterval"), s.LastAutoFeedInterval);
    settings.setValue(QStringLiteral("LastSplitterLeft"), s.LastSplitterLeft);
    settings.setValue(QStringLiteral("LastSplitterRight"), s.LastSplitterRight);
    settings.setValue(QStringLiteral("LastRxAutoFeedLine"), s.LastRxAutoFeedLine);
    settings.setValue(QStringLiteral("LastRxLineEndingMode"), s.LastRxLineEndingMode);
    settings.setValue(QStringLiteral("LastTxAutoFeedLine"), s.LastTxAutoFeedLine);
    settings.setValue(QStringLiteral("LastTxLineEndingMode"), s.LastTxLineEndingMode);

    s.quickSettings.writeTo(settings);

    settings.setValue(QStringLiteral("LastDisplaySendMsg"), s.LastDisplaySendMsg);
    settings.setValue(QStringLiteral("LastDisplaySendTime"), s.LastDisplaySendTime);
    settings.setValue(QStringLiteral("LastDisplayRxTimeFormat"), s.LastDisplayRxTimeFormat);
    settings.setValue(QStringLiteral("LastDisplayTxTimeFormat"), s.LastDisplayTxTimeFormat);
    settings.setValue(QStringLiteral("LastDisplayBufferSize"), s.LastDisplayBufferSize);
    settings.setValue(QStringLiteral("LastDisplayFontFamily"), s.displayFont.family());
    settings.setValue(QStringLiteral("LastDisplayFontSize"), s.displayFont.pointSize());
    settings.setValue(QStringLiteral("LastFormatDisplayColor"), s.LastFormatDisplayColor);
    settings.setValue(QStringLiteral("LastSendTextColor"), colourText(s.LastSendTextColor, d.LastSendTextColor));
    settings.setValue(QStringLiteral("LastReceiveTextColor"),
                      colourText(s.LastReceiveTextColor, d.LastReceiveTextColor));
    settings.setValue(QStringLiteral("LastShowControlLineLeds"), s.LastShowControlLineLeds);

    settings.setValue(QStringLiteral("LastLogSaveFlag"), s.LastLogSaveFlag);
    settings.setValue(QStringLiteral("LastLogFilePath"), s.LastLogFilePath);
    settings.setValue(QStringLiteral("LastLogFileName"), s.LastLogFileName);
    settings.setValue(QStringLiteral("LastLogTimestampEnabled"), s.LastLogTimestampEnabled);
    settings.setValue(QStringLiteral("LastLogTimestamp"), s.LastLogTimestamp);
    settings.setValue(QStringLiteral("LastLogRotateAtSize"), s.LastLogRotateAtSize);
    settings.setValue(QStringLiteral("LastLogRotateSize"), s.LastLogRotateSize);
    settings.setValue(QStringLiteral("LastLogRotateAtTime"), s.LastLogRotateAtTime);
    settings.setValue(QStringLiteral("LastLogRotateTime"), s.LastLogRotateTime);
    settings.setValue(QStringLiteral("LastNeedHourTimeStamp"), s.LastNeedHourTimeStamp);

    settings.setValue(QStringLiteral("SendList"), s.SendList);
    // The menu shows only the first entries; older ones would pile up for ever.
    settings.setValue(QStringLiteral("RecentFiles"),
                      distinctPaths(s.RecentFiles).mid(0, LastSettings::maxRecentFiles));
    settings.setValue(QStringLiteral("LastFile"), s.LastFile);
    settings.setValue(QStringLiteral("LastLogFile"), s.LastLogFile);
    settings.setValue(QStringLiteral("LastDirectory"), s.LastDirectory);
    settings.setValue(QStringLiteral("OpenLastConnection"), s.OpenLastConnection);
    settings.setValue(QStringLiteral("LastConnectionOpen"), s.LastConnectionOpen);
    settings.setValue(QStringLiteral("AutoReconnect"), s.AutoReconnect);
}

LastSettings collectPreferences(const LastSettings &previous, const PreferenceSources &window)
{
    LastSettings s = previous;
    const FormatSetting &p = window.firstPane;

    s.LastConnMode = p.ConnMode;
    s.LastPortName = p.PortName;
    s.LastBaudrate = p.BaudRate;
    s.LastDatabits = p.DataBits;
    s.LastStopbits = p.StopBits;
    s.LastParity = p.Parity;
    s.LastFlowControl = p.FlowControl;
    s.LastDtrOn = p.DtrOn;
    s.LastRtsOn = p.RtsOn;
    // The pane keeps its host history most recent first; the current host leads it.
    s.LastTargetHost = p.LastTargetHost.value(0);
    s.LastTargetHosts = p.LastTargetHost;
    s.LastTargetPort = p.LastTargetPort;
    s.LastUdpLocalPort = p.UdpLocalPort;

    s.LastReceiveMessageFormat = p.ReceiveMsgForamt;
    s.LastSendMessageFormat = p.SendMsgFormat;
    s.LastReceiveEncoding = WireTextCodecRegistry::canonicalName(p.ReceiveEncoding);
    s.LastSendEncoding = WireTextCodecRegistry::canonicalName(p.SendEncoding);
    s.LastSendChecksum = p.SendChecksum;
    s.LastTerminalEnterMode = p.TerminalEnterMode;
    s.LastAutoFeedInterval = p.AutoFeedInterval;
    s.LastSplitterLeft = p.SplitterLeft;
    s.LastSplitterRight = p.SplitterRight;
    s.LastRxAutoFeedLine = p.RxAutoFeedLine;
    s.LastRxLineEndingMode = p.RxLineEndingMode;
    s.LastTxAutoFeedLine = p.TxAutoFeedLine;
    s.LastTxLineEndingMode = p.TxLineEndingMode;
    s.quickSettings = window.quickSettings;
    s.LastDisplaySendMsg = p.DisplaySendMsg;
    s.LastDisplaySendTime = p.DisplayMsgTime;
    s.LastDisplayRxTimeFormat = p.RxTimeFormat;
    s.LastDisplayTxTimeFormat = p.TxTimeFormat;
    s.LastDisplayBufferSize = p.DisplayBufferSize;
    s.displayFont = p.displayFont;
    s.LastFormatDisplayColor = p.FormatDisplayColor;
    s.LastSendTextColor = p.SendTextColor;
    s.LastReceiveTextColor = p.ReceiveTextColor;
    s.LastShowControlLineLeds = p.ShowControlLineLeds;

    s.LastLogSaveFlag = p.LogSaveFlag;
    s.LastLogFilePath = p.LogFilePath;
    s.LastLogTimestampEnabled = p.LogTimestampEnabled;
    s.LastLogTimestamp = p.LogFileTime;
    s.LastLogRotateAtSize = p.LogRotateAtSize;
    s.LastLogRotateSize = p.LogRotateSize;
    s.LastLogRotateAtTime = p.LogRotateAtTime;
    s.LastLogRotateTime = p.LogRotateTime;
    s.LastNeedHourTimeStamp = p.NeedHourTimeStamp;

    s.SendList = window.sendHistory;
    s.RecentFiles = window.recentFiles;
    s.LastFile = window.currentFile;
    s.LastLogFile = window.lastLogFile;
    s.LastDirectory = window.lastDirectory;
    s.OpenLastConnection = window.openLastConnection;
    s.LastConnectionOpen = window.lastConnectionOpen;
    s.AutoReconnect = window.autoReconnect;
    return s;
}

FormatSetting paneSettingsFrom(const LastSettings &prefs, const FormatSetting &base)
{
    FormatSetting p = base;

    p.ConnMode = prefs.LastConnMode;
    if (!prefs.LastPortName.isEmpty())
        p.PortName = prefs.LastPortName;
    p.BaudRate = prefs.LastBaudrate;
    p.DataBits = prefs.LastDatabits;
    p.StopBits = prefs.LastStopbits;
    p.Parity = prefs.LastParity;
    p.FlowControl = prefs.LastFlowControl;
    p.DtrOn = prefs.LastDtrOn;
    p.RtsOn = prefs.LastRtsOn;
    // The current host leads the history, which never ends up empty.
    QStringList hosts = prefs.LastTargetHosts;
    if (!prefs.LastTargetHost.isEmpty()) {
        hosts.removeAll(prefs.LastTargetHost);
        hosts.prepend(prefs.LastTargetHost);
    }
    if (hosts.isEmpty())
        hosts << QString();
    p.LastTargetHost = hosts;
    p.LastTargetPort = prefs.LastTargetPort;
    p.UdpLocalPort = prefs.LastUdpLocalPort;

    p.ReceiveMsgForamt = prefs.LastReceiveMessageFormat;
    p.SendMsgFormat = prefs.LastSendMessageFormat;
    p.ReceiveEncoding = WireTextCodecRegistry::canonicalName(prefs.LastReceiveEncoding);
    p.SendEncoding = WireTextCodecRegistry::canonicalName(prefs.LastSendEncoding);
    p.SendChecksum = prefs.LastSendChecksum;
    p.TerminalEnterMode = prefs.LastTerminalEnterMode;
    p.AutoFeedInterval = prefs.LastAutoFeedInterval;
    p.SplitterLeft = prefs.LastSplitterLeft;
    p.SplitterRight = prefs.LastSplitterRight;
    p.RxAutoFeedLine = prefs.LastRxAutoFeedLine;
    p.RxLineEndingMode = prefs.LastRxLineEndingMode;
    p.TxAutoFeedLine = prefs.LastTxAutoFeedLine;
    p.TxLineEndingMode = prefs.LastTxLineEndingMode;
    p.DisplaySendMsg = prefs.LastDisplaySendMsg;
    p.DisplayMsgTime = prefs.LastDisplaySendTime;
    p.RxTimeFormat = prefs.LastDisplayRxTimeFormat;
    p.TxTimeFormat = prefs.LastDisplayTxTimeFormat;
    p.DisplayBufferSize = prefs.LastDisplayBufferSize;
    p.displayFont = prefs.displayFont;
    p.FormatDisplayColor = prefs.LastFormatDisplayColor;
    p.SendTextColor = prefs.LastSendTextColor;
    p.ReceiveTextColor = prefs.LastReceiveTextColor;
    p.ShowControlLineLeds = prefs.LastShowControlLineLeds;

    p.LogSaveFlag = prefs.LastLogSaveFlag;
    p.LogFilePath = prefs.LastLogFilePath;
    p.LogTimestampEnabled = prefs.LastLogTimestampEnabled;
    p.LogFileTime = prefs.LastLogTimestamp;
    p.LogRotateAtSize = prefs.LastLogRotateAtSize;
    p.LogRotateSize = prefs.LastLogRotateSize;
    p.LogRotateAtTime = prefs.LastLogRotateAtTime;
    p.LogRotateTime = prefs.LastLogRotateTime;
    p.NeedHourTimeStamp = prefs.LastNeedHourTimeStamp;

    p.SendList = prefs.SendList;
    return p;
}

QuickSettingsLayout quickSettingsFrom(const LastSettings &prefs)
{
    QuickSettingsLayout quick = prefs.quickSettings;
    if (!quick.showConnection && !quick.showReceive && !quick.showSend)
        quick = QuickSettingsLayout();
    quick.groupOrder = QuickSettingsLayout::normalisedGroupOrder(quick.groupOrder);
    return quick;
}
