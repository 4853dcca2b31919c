#include "settings/settingsdocument.h"
#include "settings/settingslog.h"

#include "codec/wiretextcodecregistry.h"
#include "settings/displayfont.h"
#include "settings/settingsreader.h"

#include <QFileInfo>
#include <QSettings>

Q_LOGGING_CATEGORY(lcSettings, "quillon.settings", QtWarningMsg)

namespace {

const QString kHostSeparator = QStringLiteral("-||-");


QString orDefault(const QString &stored, const QString &fallback)
{
    return stored.trimmed().isEmpty() ? fallback : stored;
}

void readPane(QSettings &settings, FormatSetting &s)
{
    const SettingsReader r(settings);
    // Connection
    s.ConnMode = r.integer(QStringLiteral("ConnMode"), 0, 0, 7);
    s.PortName = r.text(QStringLiteral("PortName"));
    s.BaudRate = r.integer(QStringLiteral("BaudRate"), 0, 0);
    s.DataBits = r.integer(QStringLiteral("DataBits"), 0, 0);
    s.StopBits = r.integer(QStringLiteral("StopBits"), 0, 0);
    s.Parity = r.integer(QStringLiteral("Parity"), 0, 0);
    s.FlowControl = r.integer(QStringLiteral("FlowControl"), 0, 0);
    s.DtrOn = r.boolean(QStringLiteral("DtrOn"), true);
    s.RtsOn = r.boolean(QStringLiteral("RtsOn"), true);
    s.UseRemoteSerialConfig = r.boolean(QStringLiteral("UseRemoteSerialConfig"), true);

    // Receive
    s.ReceiveMsgForamt = r.integer(QStringLiteral("ReceiveMsgForamt"), 0);
    s.ReceiveEncoding = WireTextCodecRegistry::canonicalName(r.text(QStringLiteral("ReceiveEncoding")));
    s.RxAutoFeedLine = r.boolean(QStringLiteral("RxAutoFeedLine"), false);
    s.RxLineEndingMode = r.integer(QStringLiteral("RxLineEndingMode"), 0);
    s.AutoFeedInterval = r.integer(QStringLiteral("AutoFeedInterval"), 0, 0);
    s.DisplaySendMsg = r.boolean(QStringLiteral("DisplaySendMsg"), false);
    s.DisplayMsgTime = r.boolean(QStringLiteral("DisplayMsgTime"), false);
    s.RxTimeFormat = orDefault(r.text(QStringLiteral("RxTimeFormat")), FormatSetting::defaultRxTimeFormat());
    s.TxTimeFormat = orDefault(r.text(QStringLiteral("TxTimeFormat")), FormatSetting::defaultTxTimeFormat());

    // Send
    s.SendMsgFormat = r.integer(QStringLiteral("SendMsgFormat"), 0);
    s.SendEncoding = WireTextCodecRegistry::canonicalName(r.text(QStringLiteral("SendEncoding")));
    s.AutoSend = r.boolean(QStringLiteral("AutoSend"), false);
    s.SendInterval = r.integer(QStringLiteral("SendInterval"), 0, 0);
    s.SendTimeUnit = r.integer(QStringLiteral("SendTimeUnit"), 0);
    s.SupportComment = r.boolean(QStringLiteral("SupportComment"), false);
    s.FormatSend = r.boolean(QStringLiteral("FormatSend"), false);
    s.SendChecksum = r.integer(QStringLiteral("SendChecksum"), 0);
    s.TxAutoFeedLine = r.boolean(QStringLiteral("TxAutoFeedLine"), false);
    s.TxLineEndingMode = r.integer(QStringLiteral("TxLineEndingMode"), 0);
    s.TerminalEnterMode = r.integer(QStringLiteral("TerminalEnterMode"), 1);
    s.SendList = r.list(QStringLiteral("SendList"));
    qCDebug(lcSettings) << "readFile SendList:" << s.SendList;

    // Logging
    s.LogSaveFlag = r.boolean(QStringLiteral("LogSaveFlag"), false);
    s.LogFilePath = r.text(QStringLiteral("LogFilePath"), FormatSetting::defaultLogPath());
    s.LogTimestampEnabled = r.boolean(QStringLiteral("LogTimestampEnabled"), false);
    s.LogFileTime = r.text(QStringLiteral("LogFileTime"));
    s.LogRotateAtSize = r.boolean(QStringLiteral("LogRotateAtSize"), false);
    s.LogRotateSize = r.integer(QStringLiteral("LogRotateSize"), 0, 0);
    s.LogRotateAtTime = r.boolean(QStringLiteral("LogRotateAtTime"), false);
    s.LogRotateTime = r.time(QStringLiteral("LogRotateTime"), QTime());
    s.NeedHourTimeStamp = r.boolean(QStringLiteral("NeedHourTimeStamp"), false);

    // Display
    // A view without a limit grows until memory runs out: absent or non-positive
    // sizes take the default.
    s.DisplayBufferSize = r.integer(QStringLiteral("DisplayBufferSize"), FormatSetting().DisplayBufferSize, 1);
    s.displayFont = makeDisplayFont(r.text(QStringLiteral("LogFontFamily")),
                                    r.integer(QStringLiteral("LogFontSize"), 0, 0, 1000));
    const int weight = r.integer(QStringLiteral("LogFontWeight"), 0, 1, 1000);
    if (weight > 0)
        s.displayFont.setWeight(QFont::Weight(weight));
    qCDebug(lcSettings) << "readFile font:" << s.displayFont;
    s.ShowControlLineLeds = r.boolean(QStringLiteral("ShowControlLineLeds"), true);
    s.SplitterLeft = r.integer(QStringLiteral("SplitterLeft"), 0, 0);
    s.SplitterRight = r.integer(QStringLiteral("SplitterRight"), 0, 0);

    // Colours
    s.FormatDisplayColor = r.boolean(QStringLiteral("FormatDisplayColor"), false);
    s.SendTextColor = r.colour(QStringLiteral("SendTextColor"), QColor());
    s.ReceiveTextColor = r.colour(QStringLiteral("ReceiveTextColor"), QColor());

    // Network
    s.LastTargetHost = r.text(QStringLiteral("LastTargetHost")).split(kHostSeparator);
    s.LastTargetPort = r.integer(QStringLiteral("LastTargetPort"), 0, 0, 65535);
    s.UdpLocalPort = quint16(r.integer(QStringLiteral("UdpLocalPort"), 60001, 0, 65535));
}

QString colourText(const QColor &colour)
{
    // An unset colour stays unset instead of turning into black.
    return colour.isValid() ? colour.name(QColor::HexRgb) : QString();
}

void writePane(QSettings &settings, const FormatSetting &s, const std::function<void()> &step)
{
    settings.setValue(QStringLiteral("ConnMode"), s.ConnMode);
    settings.setValue(QStringLiteral("PortName"), s.PortName);
    settings.setValue(QStringLiteral("BaudRate"), s.BaudRate);
    settings.setValue(QStringLiteral("DataBits"), s.DataBits);
    settings.setValue(QStringLiteral("StopBits"), s.StopBits);
    settings.setValue(QStringLiteral("Parity"), s.Parity);
    settings.setValue(QStringLiteral("FlowControl"), s.FlowControl);
    settings.setValue(QStringLiteral("DtrOn"), s.DtrOn);
    settings.setValue(QStringLiteral("RtsOn"), s.RtsOn);
    settings.setValue(QStringLiteral("UseRemoteSerialConfig"), s.UseRemoteSerialConfig);
    step();

    settings.setValue(QStringLiteral("ReceiveMsgForamt"), s.ReceiveMsgForamt);
    settings.setValue(QStringLiteral("ReceiveEncoding"), WireTextCodecRegistry::canonicalName(s.ReceiveEncoding));
    settings.setValue(QStringLiteral("RxAutoFeedLine"), s.RxAutoFeedLine);
    settings.setValue(QStringLiteral("RxLineEndingMode"), s.RxLineEndingMode);
    settings.setValue(QStringLiteral("AutoFeedInterval"), s.AutoFeedInterval);
    settings.setValue(QStringLiteral("DisplaySendMsg"), s.DisplaySendMsg);
    settings.setValue(QStringLiteral("DisplayMsgTime"), s.DisplayMsgTime);
    settings.setValue(QStringLiteral("RxTimeFormat"), s.RxTimeFormat);
    settings.setValue(QStringLiteral("TxTimeFormat"), s.TxTimeFormat);
    step();

    settings.setValue(QStringLiteral("SendMsgFormat"), s.SendMsgFormat);
    settings.setValue(QStringLiteral("SendEncoding"), WireTextCodecRegistry::canonicalName(s.SendEncoding));
    settings.setValue(QStringLiteral("AutoSend"), s.AutoSend);
    settings.setValue(QStringLiteral("SendInterval"), s.SendInterval);
    settings.setValue(QStringLiteral("SendTimeUnit"), s.SendTimeUnit);
    settings.setValue(QStringLiteral("SupportComment"), s.SupportComment);
    settings.setValue(QStringLiteral("FormatSend"), s.FormatSend);
    settings.setValue(QStringLiteral("SendChecksum"), s.SendChecksum);
    settings.setValue(QStringLiteral("TxAutoFeedLine"), s.TxAutoFeedLine);
    settings.setValue(QStringLiteral("TxLineEndingMode"), s.TxLineEndingMode);
    settings.setValue(QStringLiteral("TerminalEnterMode"), s.TerminalEnterMode);
    settings.setValue(QStringLiteral("SendList"), s.SendList);
    qCDebug(lcSettings) << "SendList:" << s.SendList;
    step();

    settings.setValue(QStringLiteral("LogSaveFlag"), s.LogSaveFlag);
    settings.setValue(QStringLiteral("LogFilePath"), s.LogFilePath);
    settings.setValue(QStringLiteral("LogTimestampEnabled"), s.LogTimestampEnabled);
    settings.setValue(QStringLiteral("LogFileTime"), s.LogFileTime);
    settings.setValue(QStringLiteral("LogRotateAtSize"), s.LogRotateAtSize);
    settings.setValue(QStringLiteral("LogRotateSize"), s.LogRotateSize);
    settings.setValue(QStringLiteral("LogRotateAtTime"), s.LogRotateAtTime);
    settings.setValue(QStringLiteral("LogRotateTime"), s.LogRotateTime);
    settings.setValue(QStringLiteral("NeedHourTimeStamp"), s.NeedHourTimeStamp);
    step();

    settings.setValue(QStringLiteral("DisplayBufferSize"), s.DisplayBufferSize);
    settings.setValue(QStringLiteral("LogFontFamily"), s.displayFont.family());
    settings.setValue(QStringLiteral("LogFontSize"), s.displayFont.pointSize());
    settings.setValue(QStringLiteral("LogFontWeight"), int(s.displayFont.weight()));
    settings.setValue(QStringLiteral("ShowControlLineLeds"), s.ShowControlLineLeds);
    settings.setValue(QStringLiteral("SplitterLeft"), s.SplitterLeft);
    settings.setValue(QStringLiteral("SplitterRight"), s.SplitterRight);
    step();

    settings.setValue(QStringLiteral("FormatDisplayColor"), s.FormatDisplayColor);
    settings.setValue(QStringLiteral("SendTextColor"), colourText(s.SendTextColor));
    settings.setValue(QStringLiteral("ReceiveTextColor"), colourText(s.ReceiveTextColor));
    step();

    settings.setValue(QStringLiteral("LastTargetHost"), s.LastTargetHost.join(kHostSeparator));
    settings.setValue(QStringLiteral("LastTargetPort"), s.LastTargetPort);
    settings.setValue(QStringLiteral("UdpLocalPort"), s.UdpLocalPort);
    step();
}

constexpr int kPaneSections = 7;

} // namespace

bool readSettingFile(const QString &filePath, SettingsDocument &document)
{
    if (!QFileInfo(filePath).isFile()) {
        qCInfo(lcSettings) << "readSettingFile: file not found:" << filePath;
        return false;
    }
    QSettings settings(filePath, QSettings::IniFormat);
    const SettingsReader r(settings);
    SettingsDocument doc;

    doc.quickSettings = QuickSettingsLayout::readFrom(settings);

    doc.PortNumber = qBound(1, r.integer(QStringLiteral("PortNumber"), 1), 16);
    doc.ColumnNumber = qBound(1, r.integer(QStringLiteral("ColumnNumber"), 1), 16);
    doc.QuickView = r.boolean(QStringLiteral("QuickView"), doc.PortNumber < 2);

    for (int i = 0; i < doc.PortNumber; ++i) {
        FormatSetting pane;
        settings.beginGroup(QString::number(i));
        readPane(settings, pane);
        settings.endGroup();
        doc.panes.append(pane);
    }
    document = doc;
    return true;
}

bool writeFile(const QString &filePath, const SettingsDocument &document,
               const std::function<void(int)> &progress)
{
    qCDebug(lcSettings) << "writeFile: fileName =" << filePath;
    QSettings settings(filePath, QSettings::IniFormat);
    // Panes removed since the last save must not linger in the file.
    settings.clear();
    auto report = [&progress](int percent) {
        if (progress)
            progress(percent);
    };
    report(0);

    qCDebug(lcSettings) << "write settings to file >>";
    settings.setValue(QStringLiteral("PortNumber"), QString::number(document.PortNumber));
    settings.setValue(QStringLiteral("ColumnNumber"), QString::number(document.ColumnNumber));
    settings.setValue(QStringLiteral("QuickView"), document.QuickView);
    document.quickSettings.writeTo(settings);

    const int paneCount = int(document.panes.size());
    const int steps = qMax(1, paneCount * kPaneSections);
    int done = 0;
    for (int i = 0; i < paneCount; ++i) {
        settings.beginGroup(QString::number(i));
        writePane(settings, document.panes.at(i), [&] { report(++done * 99 / steps); });
        settings.endGroup();
    }
    settings.sync();
    report(100);
    // A save that did not reach the disk must not look like one that did.
    if (settings.status() != QSettings::NoError) {
        qCInfo(lcSettings) << "writeFile: write FAILED:" << filePath;
        return false;
    }
    qCDebug(lcSettings) << "writeFile: Write Success!";
    return true;
}
