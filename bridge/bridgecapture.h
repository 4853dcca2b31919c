#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QString>

// Records a bridge's forwarded traffic as one text line per chunk in a capture
// file, starting a new file (the old one moved to ".1") at the rotation size.
// Lines collect in memory; write() appends them to the file in one go, opening
// and closing it each time. Call order: configure(), then add() per chunk and
// write() from time to time; a failed write turns the capture off.
class BridgeCapture
{
    Q_DECLARE_TR_FUNCTIONS(BridgeCapture)

public:
    enum Direction { AToB, BToA };
    struct Settings
    {
        QString path;
        bool hex = true;
        qint64 rotateBytes = 16777216;
        QString linkName; // shown in the header
        QString labelA;
        QString labelB;
    };
    // Held lines beyond this are written at once rather than at the next tick.
    static constexpr qsizetype FlushAtChars = 1 << 20;

    void configure(const Settings &settings);
    const Settings &settings() const { return m_settings; }
    bool isOn() const { return m_on; }

    void add(const QDateTime &time, Direction direction, const QString &peer, const QByteArray &bytes);
    bool hasPending() const { return !m_pending.isEmpty(); }
    bool mustWriteNow() const { return m_pending.size() >= FlushAtChars; }
    // Writes what is held; on failure the capture is off, the lines are gone and
    // `error` says why.
    bool write(const QDateTime &now, QString *error);

    static QString line(const QDateTime &time, Direction direction, const QString &peer, const QByteArray &bytes,
                        bool hex);
    static QString header(const Settings &settings, const QDateTime &started);

private:
    Settings m_settings;
    QString m_pending;
    bool m_on = false;
};
