#pragma once

#include <QHash>
#include <QString>

// Counts failed sign-ins per key (an e-mail address, a client address) and locks a key
// out after too many, for a time that doubles with each further failure.
// Call order: retryAfter(key, now) before a password is checked (above zero: refuse
// without checking); then failed(key, now) or succeeded(key); prune(now) now and then.
// Times are milliseconds of one monotonic clock.
class LoginThrottle
{
public:
    struct Policy
    {
        int freeFailures = 5;            // failures within the window before a lock
        qint64 windowMs = 15 * 60 * 1000;
        qint64 firstLockMs = 30 * 1000;
        qint64 maxLockMs = 15 * 60 * 1000;
        int maxKeys = 100000;            // bounds the memory a flood of keys can take
    };

    explicit LoginThrottle(const Policy &policy);

    qint64 retryAfter(const QString &key, qint64 now) const;
    void failed(const QString &key, qint64 now);
    void succeeded(const QString &key);
    void prune(qint64 now);
    qsizetype size() const { return m_entries.size(); }

private:
    struct Entry
    {
        int failures = 0;
        qint64 windowStart = 0;
        qint64 lockedUntil = 0;
    };

    Policy m_policy;
    QHash<QString, Entry> m_entries;
};
