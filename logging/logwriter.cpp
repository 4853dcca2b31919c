#include "logging/logwriter.h"
#include "logging/logginglog.h"

#include "logging/logname.h"
#include "settings/formatsetting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

Q_LOGGING_CATEGORY(lcLogging, "quillon.logging", QtWarningMsg)

namespace {

constexpr qint64 kRotationGuardMs = 30000;
constexpr int kRotationGraceMs = 200;

QString stampText(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
}

} // namespace

LogWriter::LogWriter(QObject *parent, const QDateTime &created)
    : QObject(parent)
    , m_lastRotation(created.addSecs(-100)) // lets the first rotation pass the guard
{
}

QString LogWriter::versionText()
{
    return QStringLiteral(QUILLON_VERSION_TEXT);
}

void LogWriter::write(const QString &text, const FormatSetting &settings)
{
    if (settings.LogSaveFlag)
        m_pending.append(text);
}

bool LogWriter::flush(FormatSetting &settings, const QString &portName, const QString &headerText,
                      QString *message)
{
    return flush(settings, portName, headerText, message, QDateTime::currentDateTime());
}

bool LogWriter::fail(FormatSetting &settings, const QString &text, QString *message)
{
    settings.LogSaveFlag = false;
    m_pending.clear();
    qCWarning(lcLogging).noquote() << "LogWriter::flush:" << text;
    if (message)
        *message = text;
    return false;
}

bool LogWriter::rotationDue(const FormatSetting &s, const QString &path, const QDateTime &now) const
{
    bool due = false;
    if (s.LogRotateAtTime) {
        // Due once the day's rotation time has passed and the current file was
        // started before it. Asking when the file was started, not a flag that
        // only re-arms before the rotation time, keeps a midnight rotation
        // daily although no flush may fall into the 200 ms before it.
        const QTime at = s.LogRotateTime.isValid() ? s.LogRotateTime : QTime(0, 0);
        QDateTime todaysPoint = now;
        todaysPoint.setTime(at);
        todaysPoint = todaysPoint.addMSecs(kRotationGraceMs);
        if (now > todaysPoint) {
            if (m_fileStart < todaysPoint) {
                qCInfo(lcLogging) << "LogWriter::flush: Rotate log file for time";
                due = true;
            }
        }
    }
    // A limit of 0 or less would archive the file every 30 s: treat it as no limit.
    if (!due && s.LogRotateAtSize && s.LogRotateSize > 0) {
        const qint64 size = QFileInfo(path).size();
        if (size > s.LogRotateSize) {
            qCInfo(lcLogging) << "LogWriter::flush: Rotate log file for file size:" << size;
            due = true;
        }
    }
    if (!due)
        return false;
    // A clock set back must not hold the file open for rotation until it catches up.
    const qint64 since = m_lastRotation.msecsTo(now);
    if (since >= 0 && since < kRotationGuardMs) {
        qCInfo(lcLogging) << "LogWriter::flush: Keep current log file because it was rotated recently";
        return false;
    }
    return true;
}

bool LogWriter::rotate(FormatSetting &settings, const QString &portName, const QDateTime &now,
                       QString *message)
{
    const QString current = settings.resolvedLogPath;
    const QString next = resolveLogName(settings.LogFilePath, portName, now);
    if (next != current) {
        qCInfo(lcLogging).noquote() << "LogWriter::flush: Change log file to" << next;
        settings.resolvedLogPath = next;
    } else {
        const QFileInfo info(current);
        const QString base = info.completeBaseName() + u'-'
            + now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
        const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
        const QDir dir = info.dir();
        QString archive = dir.filePath(base + suffix);
        for (int n = 1; QFileInfo::exists(archive) || QFileInfo(archive).isSymLink(); ++n)
            archive = dir.filePath(base + u'-' + QString::number(n) + suffix);
        QFile file(current);
        if (!file.rename(archive))
            return fail(settings, tr("Could not rotate log file '%1': %2").arg(current, file.errorString()),
                        message);
    }
    m_lastRotation = now;
    m_fileStart = now;
    m_fileStartPath = settings.resolvedLogPath;
    return true;
}

bool LogWriter::flush(FormatSetting &settings, const QString &portName, const QString &headerText,
                      QString *message, const QDateTime &now)
{
    if (!settings.LogSaveFlag) {
        m_pending.clear();
        return true;
    }
    if (settings.resolvedLogPath.size() < 3)
        return fail(settings, tr("Please input correct log file name!"), message);
    if (QFileInfo(settings.resolvedLogPath).isDir())
        return fail(settings, tr("Log path is a directory, not a file: %1").arg(settings.resolvedLogPath),
                    message);

    if (m_fileStartPath != settings.resolvedLogPath) {
        // A file found on disk: its last write tells whether it holds only
        // data from before the rotation time.
        m_fileStartPath = settings.resolvedLogPath;
        m_fileStart = QFileInfo(m_fileStartPath).lastModified();
    }
    if (QFileInfo::exists(settings.resolvedLogPath) && rotationDue(settings, settings.resolvedLogPath, now)
        && !rotate(settings, portName, now, message))
        return false;

    if (!settings.NeedHourTimeStamp)
        m_hourLineArmed = false;

    const QString path = settings.resolvedLogPath;
    const QFileInfo info(path);
    const QString dirPath = info.absolutePath();
    if (!QDir().mkpath(dirPath))
        return fail(settings, tr("Could not create log directory '%1'").arg(dirPath), message);

    const bool existed = QFileInfo::exists(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return fail(settings, tr("Could not open log file '%1': %2").arg(path, file.errorString()), message);

    QString text;
    if (!existed) {
        text = QStringLiteral("  Product: Quillon\n  Version: ") + versionText()
            + QStringLiteral("\nFile Name: ") + path + QStringLiteral("\nLaunch at: ") + stampText(now)
            + u'\n' + headerText;
        m_lastRotation = now;
        m_fileStart = now;
        m_fileStartPath = path;
    } else if (settings.NeedHourTimeStamp) {
        if (now.time().minute() == 0) {
            if (m_hourLineArmed) {
                text = QStringLiteral("\nCurrent Time: ") + stampText(now);
                m_hourLineArmed = false;
            }
        } else {
            m_hourLineArmed = true;
        }
    }
    text += m_pending;
    m_pending.clear();
    // A full disk must not pass for a written log.
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush())
        return fail(settings, tr("Could not write log file '%1': %2").arg(path, file.errorString()), message);
    file.close();
    return true;
}
