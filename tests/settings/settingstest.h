#pragma once

#include "settings/displayfont.h"
#include "settings/formatsetting.h"

#include <QFile>
#include <QObject>
#include <QSettings>

// Helpers shared by the settings tests and the main window's.

// A named child that must exist; a missing one ends the run with its name.
template<typename T> T *child(const QObject *parent, const QString &name)
{
    T *w = parent->findChild<T *>(name);
    if (!w)
        qFatal("missing child %s", qPrintable(name));
    return w;
}
template<typename T> T *child(const QObject *parent, const char *name)
{
    return child<T>(parent, QString::fromLatin1(name));
}

inline QString writeTextFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// A stored value as text; lists joined with commas.
inline QString storedText(const QSettings &settings, const QString &key)
{
    const QVariant v = settings.value(key);
    return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
}

// A pane record with every stored field away from its default, so that a key a
// reader, writer or editor forgets shows up in a round trip. Every value is one
// the editors can show, and `seed` makes records of different panes differ.
inline FormatSetting unusualPane(int mode, int seed = 1)
{
    FormatSetting s;
    s.ConnMode = mode;
    s.PortName = QStringLiteral("/dev/pts/%1").arg(seed);
    s.BaudRate = 57600 + seed;
    s.DataBits = 6; s.StopBits = 3; s.Parity = 5; s.FlowControl = 1;
    s.DtrOn = false; s.RtsOn = false;
    s.LastTargetHost = {QStringLiteral("192.0.2.%1").arg(seed), QStringLiteral("old,example"), QString()};
    s.LastTargetPort = 7000 + seed;
    s.UdpLocalPort = quint16(50000 + seed);
    s.UseRemoteSerialConfig = false;

    s.ReceiveMsgForamt = 1; s.ReceiveEncoding = QStringLiteral("GBK");
    s.RxAutoFeedLine = true; s.RxLineEndingMode = 3; s.AutoFeedInterval = 70 + seed;
    s.DisplaySendMsg = true; s.DisplayMsgTime = true;
    s.RxTimeFormat = QStringLiteral("<hh:mm> "); s.TxTimeFormat = QStringLiteral("{ss.zzz} ");
    s.DisplayBufferSize = 2000000 + seed;
    s.displayFont = makeDisplayFont(preferredMonospaceFamily(), 9 + seed);
    s.displayFont.setWeight(QFont::Bold);
    s.FormatDisplayColor = true;
    s.SendTextColor = QColor(0x12, 0xab, 0x30 + seed);
    s.ReceiveTextColor = QColor(0xfe, 0x01, 0x80);
    s.ShowControlLineLeds = false;
    s.SplitterLeft = 120 + seed; s.SplitterRight = 450 + seed;

    s.SendMsgFormat = 1; s.SendEncoding = QStringLiteral("Big5");
    s.AutoSend = true; s.SendInterval = 7000 * seed; s.SendTimeUnit = 1;
    s.SupportComment = true; s.FormatSend = true; s.SendChecksum = 4;
    s.TxAutoFeedLine = true; s.TxLineEndingMode = 3; s.TerminalEnterMode = 4;
    s.SendList = {QStringLiteral("AT+GMR"), QStringLiteral("a, b"), QStringLiteral("01 02 // c")};

    s.LogSaveFlag = true;
    s.LogFilePath = QStringLiteral("/tmp/logs/%S-%Y_%1.log").arg(seed);
    s.LogTimestampEnabled = true; s.LogFileTime = QStringLiteral("%h%m%s ");
    s.LogRotateAtSize = false; s.LogRotateSize = 2048 + seed;
    s.LogRotateAtTime = true; s.LogRotateTime = QTime(13, 45, 7);
    s.NeedHourTimeStamp = false;
    return s;
}
