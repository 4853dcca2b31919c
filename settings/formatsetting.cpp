#include "settings/formatsetting.h"

#include "settings/displayfont.h"
#include "settings/serialportlist.h"

#include <QDir>
#include <QSerialPortInfo>

QString FormatSetting::defaultLogPath()
{
    return QDir(QDir::homePath()).filePath(QStringLiteral("qln_%S-%Y%M%D.log"));
}

FormatSetting FormatSetting::builtInDefaults()
{
    FormatSetting s;
    const auto ports = availableSerialPorts();
    if (!ports.isEmpty())
        s.PortName = ports.first().portName();
    s.displayFont = makeDisplayFont(preferredMonospaceFamily(), 12);
    s.displayFont.setWeight(QFont::Normal);
    return s;
}

bool FormatSetting::sameStoredValues(const FormatSetting &o) const
{
    return ConnMode == o.ConnMode && PortName == o.PortName && BaudRate == o.BaudRate && DataBits == o.DataBits
        && StopBits == o.StopBits && Parity == o.Parity && FlowControl == o.FlowControl && DtrOn == o.DtrOn
        && RtsOn == o.RtsOn && LastTargetHost == o.LastTargetHost && LastTargetPort == o.LastTargetPort
        && UdpLocalPort == o.UdpLocalPort && UseRemoteSerialConfig == o.UseRemoteSerialConfig
        && ReceiveMsgForamt == o.ReceiveMsgForamt && ReceiveEncoding == o.ReceiveEncoding
        && RxAutoFeedLine == o.RxAutoFeedLine && RxLineEndingMode == o.RxLineEndingMode
        && AutoFeedInterval == o.AutoFeedInterval && DisplaySendMsg == o.DisplaySendMsg
        && DisplayMsgTime == o.DisplayMsgTime && RxTimeFormat == o.RxTimeFormat && TxTimeFormat == o.TxTimeFormat
        && DisplayBufferSize == o.DisplayBufferSize && displayFont.family() == o.displayFont.family()
        && displayFont.pointSize() == o.displayFont.pointSize() && displayFont.weight() == o.displayFont.weight()
        && FormatDisplayColor == o.FormatDisplayColor && SendTextColor == o.SendTextColor
        && ReceiveTextColor == o.ReceiveTextColor && ShowControlLineLeds == o.ShowControlLineLeds
        && SplitterLeft == o.SplitterLeft && SplitterRight == o.SplitterRight && SendMsgFormat == o.SendMsgFormat
        && SendEncoding == o.SendEncoding && AutoSend == o.AutoSend && SendInterval == o.SendInterval
        && SendTimeUnit == o.SendTimeUnit && SupportComment == o.SupportComment && FormatSend == o.FormatSend
        && SendChecksum == o.SendChecksum && TxAutoFeedLine == o.TxAutoFeedLine
        && TxLineEndingMode == o.TxLineEndingMode && TerminalEnterMode == o.TerminalEnterMode
        && SendList == o.SendList && LogSaveFlag == o.LogSaveFlag && LogFilePath == o.LogFilePath
        && LogTimestampEnabled == o.LogTimestampEnabled && LogFileTime == o.LogFileTime
        && LogRotateAtSize == o.LogRotateAtSize && LogRotateSize == o.LogRotateSize
        && LogRotateAtTime == o.LogRotateAtTime && LogRotateTime == o.LogRotateTime
        && NeedHourTimeStamp == o.NeedHourTimeStamp;
}
