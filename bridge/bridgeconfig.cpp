#include "bridge/bridgeconfig.h"

#include "settings/settingsreader.h"

#include <QRegularExpression>
#include <QSettings>

#include <limits>

namespace {

qint64 clamp64(qint64 v, qint64 lo, qint64 hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

qint32 clamp32(qint64 v, qint64 lo, qint64 hi)
{
    return qint32(clamp64(v, lo, hi));
}

qint32 oneOf(qint32 v, std::initializer_list<qint32> allowed, qint32 fallback)
{
    for (qint32 a : allowed) {
        if (a == v)
            return v;
    }
    return fallback;
}

// The enumeration rules of the stored form: anything unknown becomes the usual choice.
void normaliseEnums(BridgeConfig &c)
{
    c.Direction = oneOf(c.Direction, {BridgeConfig::AToB, BridgeConfig::BToA}, BridgeConfig::BothWays);
    c.FramingMode = oneOf(c.FramingMode, {1, 2, 3}, BridgeConfig::ForwardImmediately);
    c.Protocol = oneOf(c.Protocol, {1, 2, 3}, BridgeConfig::Transparent);
    c.OverflowPolicy = oneOf(c.OverflowPolicy, {0, 1, 2, 3}, BridgeConfig::SlowSender);
    c.FanoutMode = oneOf(c.FanoutMode, {BridgeConfig::SharePort, BridgeConfig::TakeTurns}, BridgeConfig::OneClient);
    c.UdpTargetMode = oneOf(c.UdpTargetMode, {1, 2}, BridgeConfig::ReplyToLastSender);
}

// Hex pairs, blanks allowed between them; anything else is not a delimiter.
bool parseDelimiter(const QString &text, QByteArray *out)
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("\\s")));
    static const QRegularExpression hex(QStringLiteral("^(?:[0-9A-Fa-f]{2})*$"));
    if (!hex.match(digits).hasMatch())
        return false;
    *out = QByteArray::fromHex(digits.toLatin1());
    return true;
}

// Reads the fields of one record from the settings' current group.
class RecordReader
{
public:
    explicit RecordReader(QSettings &s) : m_settings(s), m_reader(s) {}

    void number(const char *key, qint64 &field) const
    {
        const QVariant v = m_settings.value(QLatin1String(key));
        if (!v.isValid())
            return;
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        if (ok)
            field = n;
    }
    void number(const char *key, qint32 &field) const
    {
        qint64 wide = field;
        number(key, wide);
        field = clamp32(wide, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    }
    void flag(const char *key, bool &field) const { field = m_reader.boolean(QLatin1String(key), field); }
    void text(const char *key, QString &field) const { field = m_reader.text(QLatin1String(key), field); }
    void list(const char *key, QStringList &field) const { field = m_reader.list(QLatin1String(key), field); }
    void delimiter(const char *key, QByteArray &field) const
    {
        const QVariant v = m_settings.value(QLatin1String(key));
        QByteArray parsed;
        if (v.isValid() && parseDelimiter(v.toString(), &parsed))
            field = parsed;
    }

private:
    QSettings &m_settings;
    SettingsReader m_reader;
};

// One list of the fields in their stored order, shared by the reader and the writer.
template<typename Visitor>
void visitFields(BridgeConfig &c, Visitor &&v)
{
    v.text("Name", c.Name);
    v.number("PortA", c.PortA);
    v.number("PortB", c.PortB);
    v.number("Direction", c.Direction);
    v.flag("Enabled", c.Enabled);
    v.flag("AutoOpenPeer", c.AutoOpenPeer);
    v.flag("ShowForwardedInDisplay", c.ShowForwardedInDisplay);
    v.number("DisplayMuteBytesPerSec", c.DisplayMuteBytesPerSec);
    v.number("FramingMode", c.FramingMode);
    v.number("FramingIdleGapMs", c.FramingIdleGapMs);
    v.delimiter("FramingDelimiterHex", c.FramingDelimiterHex);
    v.number("FramingFixedLength", c.FramingFixedLength);
    v.number("FramingMaxBytes", c.FramingMaxBytes);
    v.number("FramingMaxHoldMs", c.FramingMaxHoldMs);
    v.number("QueueLimitBytes", c.QueueLimitBytes);
    v.number("HighWatermark", c.HighWatermark);
    v.number("LowWatermark", c.LowWatermark);
    v.number("SinkPendingLimitBytes", c.SinkPendingLimitBytes);
    v.number("OverflowPolicy", c.OverflowPolicy);
    v.flag("FloodGuardEnabled", c.FloodGuardEnabled);
    v.number("FloodRateBytesPerSec", c.FloodRateBytesPerSec);
    v.number("FloodWindowMs", c.FloodWindowMs);
    v.number("FanoutMode", c.FanoutMode);
    v.number("UdpTargetMode", c.UdpTargetMode);
    v.number("ArbiterResponseTimeoutMs", c.ArbiterResponseTimeoutMs);
    v.number("ArbiterMaxQueuedRequests", c.ArbiterMaxQueuedRequests);
    v.number("Protocol", c.Protocol);
    v.number("ModbusTransactionTimeoutMs", c.ModbusTransactionTimeoutMs);
    v.list("AllowedPeers", c.AllowedPeers);
    v.flag("LogEnabled", c.LogEnabled);
    v.text("LogFilePath", c.LogFilePath);
    v.flag("LogHex", c.LogHex);
    v.number("LogRotateBytes", c.LogRotateBytes);
}

class RecordWriter
{
public:
    explicit RecordWriter(QSettings &s) : m_settings(s) {}
    template<typename T>
    void number(const char *key, const T &field) const { m_settings.setValue(QLatin1String(key), field); }
    void flag(const char *key, bool field) const { m_settings.setValue(QLatin1String(key), field); }
    void text(const char *key, const QString &field) const { m_settings.setValue(QLatin1String(key), field); }
    void list(const char *key, const QStringList &field) const { m_settings.setValue(QLatin1String(key), field); }
    void delimiter(const char *key, const QByteArray &field) const
    {
        m_settings.setValue(QLatin1String(key), QString::fromLatin1(field.toHex()));
    }

private:
    QSettings &m_settings;
};

const QString kGroup = QStringLiteral("Bridge");

} // namespace

QString BridgeConfig::displayName() const
{
    return Name.isEmpty() ? tr("(unnamed)") : Name;
}

BridgeConfig BridgeConfig::normalised() const
{
    BridgeConfig c = *this;
    normaliseEnums(c);
    if (c.FramingMode == CutOnDelimiter && c.FramingDelimiterHex.isEmpty())
        c.FramingMode = ForwardImmediately;
    c.FramingIdleGapMs = clamp32(c.FramingIdleGapMs, 1, 60000);
    c.FramingFixedLength = clamp32(c.FramingFixedLength, 1, 1048576);
    c.FramingMaxBytes = clamp32(c.FramingMaxBytes, 1, 1048576);
    if (c.FramingMode == CutOnDelimiter)
        c.FramingMaxBytes = clamp32(qMax<qint64>(c.FramingMaxBytes, c.FramingDelimiterHex.size()), 1, 1048576);
    if (c.FramingMode == FixedLength)
        c.FramingMaxBytes = qMax(c.FramingMaxBytes, c.FramingFixedLength);
    c.FramingMaxHoldMs = clamp32(c.FramingMaxHoldMs, 1, 60000);
    c.QueueLimitBytes = clamp64(c.QueueLimitBytes, 1, 1073741824);
    c.HighWatermark = clamp64(c.HighWatermark, 1, c.QueueLimitBytes);
    c.LowWatermark = clamp64(c.LowWatermark, 0, c.HighWatermark - 1);
    c.SinkPendingLimitBytes = clamp64(c.SinkPendingLimitBytes, 1, 268435456);
    c.FloodRateBytesPerSec = qMax<qint64>(c.FloodRateBytesPerSec, 1024);
    c.FloodWindowMs = clamp32(c.FloodWindowMs, 100, 600000);
    c.ArbiterResponseTimeoutMs = clamp32(c.ArbiterResponseTimeoutMs, 1, 600000);
    c.ArbiterMaxQueuedRequests = clamp32(c.ArbiterMaxQueuedRequests, 1, 4096);
    c.ModbusTransactionTimeoutMs = clamp32(c.ModbusTransactionTimeoutMs, 1, 600000);
    c.LogRotateBytes = qMax(c.LogRotateBytes, MinLogRotateBytes);
    return c;
}

namespace {

// Collects the field names.
struct FieldNames
{
    QStringList *names;
    template<typename T>
    void add(const char *key, T &) const { names->append(QLatin1String(key)); }
    template<typename T>
    void number(const char *key, T &f) const { add(key, f); }
    template<typename T>
    void flag(const char *key, T &f) const { add(key, f); }
    template<typename T>
    void text(const char *key, T &f) const { add(key, f); }
    template<typename T>
    void list(const char *key, T &f) const { add(key, f); }
    template<typename T>
    void delimiter(const char *key, T &f) const { add(key, f); }
};

} // namespace

BridgeConfig readBridgeRecord(QSettings &settings, const BridgeConfig &base, QStringList *unknown)
{
    BridgeConfig c = base;
    visitFields(c, RecordReader(settings));
    normaliseEnums(c);
    if (unknown) {
        QStringList names;
        BridgeConfig scratch;
        visitFields(scratch, FieldNames{&names});
        const QStringList keys = settings.childKeys();
        for (const QString &key : keys) {
            if (!names.contains(key))
                unknown->append(key);
        }
    }
    return c;
}

QList<BridgeConfig> readBridgeConfigs(QSettings &settings)
{
    const SettingsReader reader(settings);
    const int count = reader.integer(kGroup + QStringLiteral("/Count"), 0);
    QList<BridgeConfig> configs;
    for (int i = 0; i < qMin(count, int(BridgeConfig::MaxStoredBridges)); ++i) {
        BridgeConfig c;
        settings.beginGroup(kGroup + QLatin1Char('/') + QString::number(i));
        visitFields(c, RecordReader(settings));
        settings.endGroup();
        normaliseEnums(c);
        configs.append(c);
    }
    return configs;
}

void writeBridgeConfigs(QSettings &settings, const QList<BridgeConfig> &configs)
{
    const int count = int(qMin<qsizetype>(configs.size(), BridgeConfig::MaxStoredBridges));
    settings.beginGroup(kGroup);
    const QStringList groups = settings.childGroups();
    for (const QString &group : groups) {
        bool ok = false;
        const int index = group.toInt(&ok);
        if (!ok || index >= count)
            settings.remove(group);
    }
    settings.setValue(QStringLiteral("Count"), count);
    for (int i = 0; i < count; ++i) {
        BridgeConfig c = configs.at(i);
        settings.beginGroup(QString::number(i));
        visitFields(c, RecordWriter(settings));
        settings.endGroup();
    }
    settings.endGroup();
}
