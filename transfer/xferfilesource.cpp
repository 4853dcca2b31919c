#include "transfer/xferfilesource.h"

#include <QFileInfo>

bool XferFileSource::open(const QString &path, QString *error)
{
    m_file.close();
    m_readError = false;
    m_path = path;
    m_file.setFileName(path);
    // A folder opens as a file on some systems; it has nothing to send.
    if (QFileInfo(path).isDir() || !m_file.open(QIODevice::ReadOnly)) {
        if (error) {
            const QString reason = QFileInfo(path).isDir() ? tr("It is a folder.") : m_file.errorString();
            *error = tr("Could not open %1: %2").arg(QFileInfo(path).fileName(), reason);
        }
        m_file.close();
        return false;
    }
    const QFileInfo fi(path);
    m_size = fi.size();
    m_modified = fi.lastModified();
    return true;
}

XferFileInfo XferFileSource::info() const
{
    XferFileInfo info;
    info.name = QFileInfo(m_path).fileName();
    info.size = m_size;
    info.mtime = m_modified.isValid() ? m_modified.toSecsSinceEpoch() : 0;
    return info;
}

QByteArray XferFileSource::read(qint64 offset, qint32 length)
{
    // Blocks are read in order; seeking only for a resend keeps the read-ahead buffer.
    if (!m_file.isOpen() || (m_file.pos() != offset && !m_file.seek(offset))) {
        m_readError = true;
        return {};
    }
    QByteArray data = m_file.read(length);
    if (data.isEmpty() && length > 0)
        m_readError = true;
    return data;
}

bool XferFileSource::isUnchanged() const
{
    const QFileInfo fi(m_path);
    return fi.exists() && fi.size() == m_size && fi.lastModified() == m_modified;
}
