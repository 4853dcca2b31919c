#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

struct FormatSetting;

// Buffers a pane's log text and appends it to the log file on each flush,
// adding the file header, the hourly time line and starting new files.
// Call order: write() as traffic is formatted, flush() every few seconds and
// when the pane pauses or closes.
class LogWriter : public QObject
{
    Q_OBJECT
public:
    // `created` only matters to tests that drive flush() with their own clock.
    explicit LogWriter(QObject *parent = nullptr,
                       const QDateTime &created = QDateTime::currentDateTime());

    // Appends text while logging is on.
    void write(const QString &text, const FormatSetting &settings);

    // Writes the pending text to settings.resolvedLogPath. On failure logging is
    // switched off (LogSaveFlag cleared), the pending text dropped and the
    // reason returned in `message`.
    bool flush(FormatSetting &settings, const QString &portName, const QString &headerText,
               QString *message);
    bool flush(FormatSetting &settings, const QString &portName, const QString &headerText,
               QString *message, const QDateTime &now);

    QString pending() const { return m_pending; }

    // The product version and build number joined by a point.
    static QString versionText();

private:
    bool fail(FormatSetting &settings, const QString &text, QString *message);
    bool rotationDue(const FormatSetting &settings, const QString &path, const QDateTime &now) const;
    bool rotate(FormatSetting &settings, const QString &portName, const QDateTime &now,
                QString *message);

    QString m_pending;
    bool m_hourLineArmed = true;
    QDateTime m_lastRotation;
    // When the file at m_fileStartPath was started (by this writer) or last
    // written (a file found on disk).
    QDateTime m_fileStart;
    QString m_fileStartPath;
};
