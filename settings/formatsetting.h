#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <QTime>

// The per-pane settings record. Field names are the document keys, so the
// reader and writer of settings documents can be checked against the record.
struct FormatSetting
{
    // Connection
    int ConnMode = 0;
    QString PortName;
    int BaudRate = 9600;
    int DataBits = 8;
    int StopBits = 1;
    int Parity = 0;
    int FlowControl = 0;
    bool DtrOn = true;
    bool RtsOn = true;
    QStringList LastTargetHost{QStringLiteral("127.0.0.1")};
    int LastTargetPort = 6000;
    quint16 UdpLocalPort = 60001;
    bool UseRemoteSerialConfig = true;

    // Receive and display
    int ReceiveMsgForamt = 2;
    QString ReceiveEncoding = QStringLiteral("UTF-8");
    bool RxAutoFeedLine = false;
    int RxLineEndingMode = 0;
    int AutoFeedInterval = 20;
    bool DisplaySendMsg = false;
    bool DisplayMsgTime = false;
    QString RxTimeFormat = defaultRxTimeFormat();
    QString TxTimeFormat = defaultTxTimeFormat();
    int DisplayBufferSize = 10485760;
    QFont displayFont; // keys LogFontFamily, LogFontSize, LogFontWeight
    bool FormatDisplayColor = false;
    QColor SendTextColor = QColor(0, 0, 0);
    QColor ReceiveTextColor = QColor(0, 0, 0);
    bool ShowControlLineLeds = true;
    int SplitterLeft = 10000;
    int SplitterRight = 50000;

    // Send
    int SendMsgFormat = 2;
    QString SendEncoding = QStringLiteral("UTF-8");
    bool AutoSend = false;
    int SendInterval = 0;
    int SendTimeUnit = 0;
    bool SupportComment = false;
    bool FormatSend = false;
    int SendChecksum = 0;
    bool TxAutoFeedLine = false;
    int TxLineEndingMode = 0;
    int TerminalEnterMode = 1;
    QStringList SendList;

    // Logging
    bool LogSaveFlag = false;
    QString LogFilePath = defaultLogPath();
    bool LogTimestampEnabled = false;
    QString LogFileTime = defaultLogTimeFormat();
    bool LogRotateAtSize = true;
    int LogRotateSize = 104857600;
    bool LogRotateAtTime = false;
    QTime LogRotateTime = QTime(0, 0);
    bool NeedHourTimeStamp = true;

    // Not stored: the log path resolved when the port opened.
    QString resolvedLogPath;

    // The built-in defaults of a new pane: the plain defaults plus the first
    // listed serial port and the preferred monospace display font.
    static FormatSetting builtInDefaults();

    static QString defaultRxTimeFormat() { return QStringLiteral("[Rx][hh:mm:ss.zzz] "); }
    static QString defaultTxTimeFormat() { return QStringLiteral("[Tx][hh:mm:ss.zzz] "); }
    static QString defaultLogTimeFormat() { return QStringLiteral("[%h:%m:%s.%z] "); }
    static QString defaultLogPath();

    // Compares every stored field (not the resolved log path).
    bool sameStoredValues(const FormatSetting &other) const;
};
