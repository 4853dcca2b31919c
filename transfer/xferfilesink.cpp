#include "transfer/xferfilesink.h"

#include "transfer/xferfileinfo.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr qsizetype MaxNameBytes = 255;

// The longest start of `text` whose UTF-8 form fits in `bytes`, cut between characters.
QString fitUtf8(const QString &text, qsizetype bytes)
{
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= bytes)
        return text;
    qsizetype cut = bytes;
    while (cut > 0 && (quint8(utf8.at(cut)) & 0xc0) == 0x80)
        --cut;
    utf8.truncate(cut);
    return QString::fromUtf8(utf8);
}

bool isTaken(const QString &path)
{
    const QFileInfo fi(path);
    return fi.exists() || fi.isSymLink();
}

QString trimmedOfDots(QString name)
{
    name = name.trimmed();
    while (name.endsWith(QLatin1Char('.'))) {
        name.chop(1);
        name = name.trimmed();
    }
    return name;
}

// Moves `from` to `to` only if nothing (not even a dangling link) stands at `to`.
bool renameNoReplace(const QString &from, const QString &to)
{
#ifdef Q_OS_UNIX
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // link() never replaces and never follows a link at the target.
    if (::link(src.constData(), dst.constData()) != 0)
        return false;
    ::unlink(src.constData());
    return true;
#else
    return !isTaken(to) && QFile::rename(from, to);
#endif
}

} // namespace

QString sanitizeFileName(const QString &name, qint64 nowSecs)
{
    QString out = name;
    const qsizetype slash = std::max(out.lastIndexOf(QLatin1Char('/')), out.lastIndexOf(QLatin1Char('\\')));
    if (slash >= 0)
        out = out.mid(slash + 1);
    const qsizetype colon = out.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        out.truncate(colon);
    static const QString illegal = QStringLiteral("\"*/:<>?\\|");
    out.removeIf([](QChar c) { return c.unicode() < 32 || c.unicode() == 127 || illegal.contains(c); });
    out = trimmedOfDots(out);

    static const QStringList reserved = [] {
        QStringList names{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"), QStringLiteral("NUL")};
        for (int i = 1; i <= 9; ++i)
            names << QStringLiteral("COM%1").arg(i) << QStringLiteral("LPT%1").arg(i);
        return names;
    }();
    if (reserved.contains(out.section(QLatin1Char('.'), 0, 0).toUpper()))
        out.prepend(QLatin1Char('_'));
    if (out.toUtf8().size() > MaxNameBytes)
        out = fitUtf8(out, MaxNameBytes);
    out = trimmedOfDots(out);
    if (out.isEmpty()) {
        out = QStringLiteral("received_%1.bin")
                  .arg(QDateTime::fromSecsSinceEpoch(nowSecs).toString(QStringLiteral("yyyyMMdd-hhmmss")));
    }
    return out;
}

QString uniqueFilePath(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    const QString plain = dir.filePath(name);
    if (!isTaken(plain))
        return plain;
    // A leading dot starts a hidden name, not a suffix.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString suffix = dot > 0 ? name.mid(dot) : QString();
    for (int n = 1; n <= 9999; ++n) {
        const QString tail = QStringLiteral(" (%1)").arg(n) + suffix;
        const QString path = dir.filePath(fitUtf8(base, MaxNameBytes - tail.toUtf8().size()) + tail);
        if (!isTaken(path))
            return path;
    }
    const QString tail = QStringLiteral(" (%1)").arg(QDateTime::currentMSecsSinceEpoch());
    return dir.filePath(fitUtf8(base, MaxNameBytes - tail.toUtf8().size()) + tail);
}

XferFileSink::XferFileSink(const QString &folder, const QString &defaultName, qint64 nowSecs)
    : m_folder(folder)
    , m_defaultName(defaultName)
    , m_nowSecs(nowSecs)
{
}

XferFileSink::~XferFileSink()
{
    if (m_file.isOpen() && !m_finished)
        abort(true);
}

bool XferFileSink::open(const XferFileInfo &info)
{
    m_file.close();
    m_error.clear();
    m_keptPath.clear();
    m_requestedName.clear();
    m_tempPath.clear();
    m_nameTaken = false;
    m_finished = false;
    m_written = 0;

    const QString name = info.name.isEmpty() ? m_defaultName : info.name;
    const QString clean = sanitizeFileName(name, m_nowSecs);
    if (clean != name)
        m_requestedName = name;

    if (!QDir().mkpath(m_folder)) {
        m_error = tr("The folder %1 does not exist.").arg(QDir::toNativeSeparators(m_folder));
        return false;
    }
    if (info.size >= 1) {
        const QStorageInfo volume(m_folder);
        const qint64 free = volume.bytesAvailable();
        if (volume.isValid() && volume.isReady() && free >= 0 && free - 1048575 <= info.size) {
            m_error = tr("%1 has %2 MB free but the file needs %3 MB. Choose another location.")
                          .arg(volume.displayName())
                          .arg(free >> 20)
                          .arg(info.size >> 20);
            return false;
        }
    }

    m_finalPath = uniqueFilePath(m_folder, clean);
    const QString finalName = QFileInfo(m_finalPath).fileName();
    m_nameTaken = finalName != clean;
    const QString part = QStringLiteral(".part");
    m_tempPath = QDir(m_folder).filePath(QLatin1Char('.') + fitUtf8(finalName, MaxNameBytes - 1 - part.size()) + part);
    // A leftover (or a planted link) is removed, never written through.
    if (isTaken(m_tempPath))
        QFile::remove(m_tempPath);
    m_file.setFileName(m_tempPath);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        m_error = tr("Could not create %1: %2").arg(QDir::toNativeSeparators(m_tempPath), m_file.errorString());
        m_tempPath.clear();  // not ours: abort must leave it alone
        return false;
    }

    m_mtime = info.mtime;
    if (m_mtime > m_nowSecs + MaxFutureSecs || m_mtime < OldestMtime)
        m_mtime = 0;
    return true;
}

bool XferFileSink::write(const QByteArray &data)
{
    if (!m_file.isOpen())
        return false;
    // The file's small write buffer reports a full disk at the next block, not at the end.
    if (m_file.write(data) != data.size()) {
        m_error = m_file.errorString();
        return false;
    }
    m_written += data.size();
    return true;
}

bool XferFileSink::finish(qint64 expectedSize)
{
    if (!m_file.isOpen())
        return false;
    if (expectedSize >= 0 && m_written > expectedSize) {
        if (!m_file.resize(expectedSize)) {
            m_error = m_file.errorString();
            m_file.close();
            return false;
        }
        m_written = expectedSize;
    }
    if (!m_file.flush()) {
        m_error = m_file.errorString();
        m_file.close();
        return false;
    }
    // Set through the open handle: the path could be swapped for a link meanwhile.
    if (m_mtime > 0)
        m_file.setFileTime(QDateTime::fromSecsSinceEpoch(m_mtime), QFileDevice::FileModificationTime);
    m_file.close();
    if (!renameNoReplace(m_tempPath, m_finalPath)) {
        m_keptPath = m_tempPath;
        m_error = tr("The file was received but could not be renamed to %1.").arg(QDir::toNativeSeparators(m_finalPath));
        return false;
    }
    m_finished = true;
    return true;
}

void XferFileSink::abort(bool keepPartial)
{
    if (m_finished)
        return;
    m_file.close();
    if (m_tempPath.isEmpty() || !isTaken(m_tempPath))
        return;
    if (!keepPartial) {
        QFile::remove(m_tempPath);
        m_keptPath.clear();
        return;
    }
    const QString partial = QStringLiteral(".partial");
    const QString name = fitUtf8(QFileInfo(m_finalPath).fileName(), MaxNameBytes - partial.size()) + partial;
    const QString target = uniqueFilePath(QFileInfo(m_finalPath).path(), name);
    m_keptPath = renameNoReplace(m_tempPath, target) ? target : m_tempPath;
}
