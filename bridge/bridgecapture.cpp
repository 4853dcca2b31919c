#include "bridge/bridgecapture.h"

#include "logging/logwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString dataText(const QByteArray &bytes, bool hex)
{
    if (hex)
        return QString::fromLatin1(bytes.toHex(' ').toUpper());
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = uchar(c);
        switch (b) {
        case '\r': out += QLatin1String("\\r"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default:
            if (b < 32 || b == 127) {
                out += QLatin1String("\\x");
                out += QLatin1Char(digits[b >> 4]);
                out += QLatin1Char(digits[b & 15]);
            } else {
                out += QLatin1Char(char(b)); // Latin-1
            }
        }
    }
    return out;
}

} // namespace

void BridgeCapture::configure(const Settings &settings)
{
    m_settings = settings;
    m_on = !settings.path.isEmpty();
    m_pending.clear();
}

QString BridgeCapture::line(const QDateTime &time, Direction direction, const QString &peer, const QByteArray &bytes,
                            bool hex)
{
    return QStringLiteral("%1  %2  %3  %4\n")
        .arg(time.toString(QStringLiteral("HH:mm:ss.zzz")),
             direction == AToB ? QStringLiteral("A->B") : QStringLiteral("B->A"),
             peer.isEmpty() ? QStringLiteral("-") : peer, dataText(bytes, hex));
}

QString BridgeCapture::header(const Settings &s, const QDateTime &started)
{
    return QStringLiteral("# Quillon %1 bridge capture\n# Link:    %2\n# End A:   %3\n# End B:   %4\n"
                          "# Started: %5\n# Columns: time  direction  peer  data\n")
        .arg(LogWriter::versionText(), s.linkName, s.labelA, s.labelB,
             started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

void BridgeCapture::add(const QDateTime &time, Direction direction, const QString &peer, const QByteArray &bytes)
{
    if (m_on && !bytes.isEmpty())
        m_pending += line(time, direction, peer, bytes, m_settings.hex);
}

bool BridgeCapture::write(const QDateTime &now, QString *error)
{
    if (!m_on || m_pending.isEmpty())
        return true;
    const QString &path = m_settings.path;
    QString failure;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        failure = tr("Cannot create the log folder %1").arg(QDir::toNativeSeparators(folder));
    } else {
        if (QFileInfo(path).size() >= m_settings.rotateBytes && QFileInfo::exists(path)) {
            const QString older = path + QStringLiteral(".1");
            QFile::remove(older);
            QFile::rename(path, older);
        }
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            failure = tr("Cannot open %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        } else {
            QString text = std::exchange(m_pending, QString());
            if (file.size() == 0)
                text.prepend(header(m_settings, now));
            if (file.write(text.toUtf8()) < 0)
                failure = tr("Cannot open %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        }
    }
    if (failure.isEmpty())
        return true;
    m_on = false;
    m_pending.clear();
    if (error)
        *error = failure;
    return false;
}
