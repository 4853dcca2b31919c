#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

class QSettings;

// One bridge between two panes, as stored in the application settings and in
// documents. Field names are the stored key names. Values are kept as read;
// normalised() gives the values a link runs with.
struct BridgeConfig
{
    Q_DECLARE_TR_FUNCTIONS(BridgeConfig)

public:
    enum : qint32 { AToB = 0, BToA = 1, BothWays = 2 };
    enum : qint32 { ForwardImmediately = 0, CutOnIdleGap = 1, CutOnDelimiter = 2, FixedLength = 3 };
    enum : qint32 { DropOldest = 0, DropNewest = 1, SlowSender = 2, StopBridge = 3 };
    enum : qint32 { SharePort = 0, OneClient = 1, TakeTurns = 2 };
    enum : qint32 { ReplyToLastSender = 0, FixedDestination = 1, AllPeers = 2 };
    enum : qint32 { Transparent = 0, Rfc2217Server = 1, ModbusGateway = 2, Rfc2217Client = 3 };

    QString Name;
    qint32 PortA = 0;
    qint32 PortB = 1;
    qint32 Direction = BothWays;
    bool Enabled = true;
    bool AutoOpenPeer = true;
    bool ShowForwardedInDisplay = true;
    qint64 DisplayMuteBytesPerSec = 262144;
    qint32 FramingMode = ForwardImmediately;
    qint32 FramingIdleGapMs = 4;
    QByteArray FramingDelimiterHex = QByteArray(1, '\n'); // the bytes; stored as hex text
    qint32 FramingFixedLength = 256;
    qint32 FramingMaxBytes = 4096;
    qint32 FramingMaxHoldMs = 200;
    qint64 QueueLimitBytes = 262144;
    qint64 HighWatermark = 196608;
    qint64 LowWatermark = 65536;
    qint64 SinkPendingLimitBytes = 65536;
    qint32 OverflowPolicy = SlowSender;
    bool FloodGuardEnabled = true;
    qint64 FloodRateBytesPerSec = 8388608;
    qint32 FloodWindowMs = 3000;
    qint32 FanoutMode = OneClient;
    qint32 UdpTargetMode = ReplyToLastSender;
    qint32 ArbiterResponseTimeoutMs = 1000;
    qint32 ArbiterMaxQueuedRequests = 64;
    qint32 Protocol = Transparent;
    qint32 ModbusTransactionTimeoutMs = 2000;
    QStringList AllowedPeers;
    bool LogEnabled = false;
    QString LogFilePath;
    bool LogHex = true;
    qint64 LogRotateBytes = 16777216;

    static constexpr int MaxStoredBridges = 256;
    // A capture file smaller than this would rotate on nearly every write and lose
    // the older half each time.
    static constexpr qint64 MinLogRotateBytes = 1024;

    bool forwardsAToB() const { return Direction == AToB || Direction == BothWays; }
    bool forwardsBToA() const { return Direction == BToA || Direction == BothWays; }
    // The name, or "(unnamed)".
    QString displayName() const;
    // Every number clamped to its range, every enumeration normalised, the largest
    // frame raised to the delimiter or fixed length, an empty delimiter turned
    // into forwarding immediately.
    BridgeConfig normalised() const;

    friend bool operator==(const BridgeConfig &, const BridgeConfig &) = default;
};

// Reads "Bridge/Count" and "Bridge/%1/%2" at the settings' current group. Every
// record starts from the defaults; unreadable values keep them and enumerations
// out of range are replaced. At most MaxStoredBridges records are read.
QList<BridgeConfig> readBridgeConfigs(QSettings &settings);
// Reads one record's fields from the settings' current group over `base`, with the same
// rules. Keys that name no field are returned in `unknown` when given.
BridgeConfig readBridgeRecord(QSettings &settings, const BridgeConfig &base = BridgeConfig(),
                              QStringList *unknown = nullptr);
// Writes every field of every record and removes the groups of records beyond them.
void writeBridgeConfigs(QSettings &settings, const QList<BridgeConfig> &configs);
