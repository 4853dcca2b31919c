#pragma once

#include <QDateTime>
#include <QString>

// Placeholders of log file names and log line stamps.

// The placeholder help shown next to log name fields.
QString logNamePlaceholderHelp();

// Replaces %Y %y %M %D %h %m %s %z %e (case-sensitive) with parts of `time`.
QString expandTimePattern(const QDateTime &time, const QString &pattern);

// Replaces %S with the session name and the time placeholders with `now`.
QString resolveLogName(const QString &pattern, const QString &sessionName,
                       const QDateTime &now = QDateTime::currentDateTime());

// The home directory joined with "qln_%S-%Y%M%D.log".
QString defaultLogPath();

// The file name of a settings document without a leading "Session_".
QString sessionNameFrom(const QString &filePath);
