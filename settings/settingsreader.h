#pragma once

#include <QColor>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTime>

#include <climits>
#include <functional>
#include <initializer_list>

// Typed reads from a settings store or document: anything missing, unparsable
// or out of range gives the fallback, so a damaged file never leaves a pane
// unusable. Any other key-value source (the JSON session document) reads
// through the same rules when given as a lookup.
class SettingsReader
{
public:
    using Lookup = std::function<QVariant(const QString &key)>;

    explicit SettingsReader(QSettings &settings)
        : m_value([&settings](const QString &key) { return settings.value(key); })
    {
    }
    explicit SettingsReader(Lookup lookup) : m_value(std::move(lookup)) {}

    int integer(const QString &key, int fallback, qint64 min = INT_MIN, qint64 max = INT_MAX) const
    {
        const QVariant v = m_value(key);
        if (!v.isValid())
            return fallback;
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        return ok && n >= min && n <= max ? int(n) : fallback;
    }

    int oneOf(const QString &key, int fallback, std::initializer_list<int> allowed) const
    {
        const int n = integer(key, fallback);
        for (int a : allowed) {
            if (a == n)
                return n;
        }
        return fallback;
    }

    quint16 port(const QString &key, quint16 fallback) const { return quint16(integer(key, fallback, 0, 65535)); }

    bool boolean(const QString &key, bool fallback) const
    {
        const QVariant v = m_value(key);
        if (v.typeId() == QMetaType::Bool)
            return v.toBool();
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("1"))
            return true;
        if (s == QLatin1String("false") || s == QLatin1String("0"))
            return false;
        return fallback;
    }

    QString text(const QString &key, const QString &fallback = QString()) const
    {
        const QVariant v = m_value(key);
        return v.isValid() ? v.toString() : fallback;
    }

    // Blank counts as missing: an empty pattern or path would be useless.
    QString nonBlank(const QString &key, const QString &fallback) const
    {
        const QString s = text(key);
        return s.trimmed().isEmpty() ? fallback : s;
    }

    QStringList list(const QString &key, const QStringList &fallback = {}) const
    {
        const QVariant v = m_value(key);
        return v.isValid() ? v.toStringList() : fallback;
    }

    QColor colour(const QString &key, const QColor &fallback) const
    {
        const QColor c = QColor::fromString(text(key).trimmed());
        return c.isValid() ? c : fallback;
    }

    QTime time(const QString &key, const QTime &fallback) const
    {
        const QVariant v = m_value(key);
        QTime t;
        if (v.typeId() == QMetaType::QTime)
            t = v.toTime();
        else if (v.isValid())
            t = QTime::fromString(v.toString().trimmed(), Qt::ISODateWithMs);
        return t.isValid() ? t : fallback;
    }

private:
    Lookup m_value;
};
