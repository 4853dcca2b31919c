#pragma once

#include "transfer/xfersink.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>

// The received file's name made safe to save: no folder parts, no characters that
// are illegal on any desktop system, no device names, at most 255 bytes of UTF-8.
// An empty result becomes "received_<local date-time>.bin" from `nowSecs`.
QString sanitizeFileName(const QString &name, qint64 nowSecs);

// `folder`/`name`, or "name (n).suffix" for the first n that names nothing yet (a
// dangling symbolic link counts as something).
QString uniqueFilePath(const QString &folder, const QString &name);

// Writes a received file into one folder. Data goes to ".<name>.part" beside the
// final name and is renamed on finish, so a half-received file never looks complete.
// The name the device asks for never leaves the folder, and nothing already there
// is overwritten or followed through a link.
class XferFileSink : public XferSink
{
    Q_DECLARE_TR_FUNCTIONS(XferFileSink)

public:
    // Ten years ahead of now is treated as a wrong clock on the device.
    static constexpr qint64 MaxFutureSecs = 315360000;
    // 2000-01-01 00:00:00 UTC; anything older is taken as "no time".
    static constexpr qint64 OldestMtime = 946684800;

    XferFileSink(const QString &folder, const QString &defaultName, qint64 nowSecs);
    ~XferFileSink() override;

    bool open(const XferFileInfo &info) override;
    bool write(const QByteArray &data) override;
    bool finish(qint64 expectedSize) override;
    void abort(bool keepPartial) override;
    qint64 bytesWritten() const override { return m_written; }

    QString errorText() const { return m_error; }
    QString finalPath() const { return m_finalPath; }
    QString tempPath() const { return m_tempPath; }
    QString keptPath() const { return m_keptPath; }
    // The device's name when it had to be cleaned, else empty.
    QString requestedName() const { return m_requestedName; }
    bool nameTaken() const { return m_nameTaken; }
    bool isFinished() const { return m_finished; }
    qint64 mtimeToApply() const { return m_mtime; }

private:
    QString m_folder;
    QString m_defaultName;
    qint64 m_nowSecs;
    QFile m_file;
    QString m_tempPath;
    QString m_finalPath;
    QString m_keptPath;
    QString m_error;
    QString m_requestedName;
    bool m_nameTaken = false;
    bool m_finished = false;
    qint64 m_written = 0;
    qint64 m_mtime = 0;
};
