#include "cloudservice/credentials.h"

#include <QCryptographicHash>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QThread>

namespace {
QByteArray randomBytes(int count)
{
    QList<quint32> words((count + 3) / 4);
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), count);
}

QByteArray derive(const QString &password, const QByteArray &salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt,
                                              iterations, 32);
}

constexpr auto kScheme = "pbkdf2-sha256";
}

namespace Credentials {

QString hashPassword(const QString &password, int iterations)
{
    const QByteArray salt = randomBytes(16);
    return QStringLiteral("%1$%2$%3$%4")
            .arg(QLatin1String(kScheme))
            .arg(iterations)
            .arg(QString::fromLatin1(salt.toBase64()),
                 QString::fromLatin1(derive(password, salt, iterations).toBase64()));
}

bool verifyPassword(const QString &password, const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    bool ok = false;
    const int iterations = parts.size() == 4 ? parts.at(1).toInt(&ok) : 0;
    if (!ok || parts.at(0) != QLatin1String(kScheme) || iterations < 1)
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts.at(2).toLatin1());
    const QByteArray key = QByteArray::fromBase64(parts.at(3).toLatin1());
    return constantTimeEquals(derive(password, salt, iterations), key);
}

QString newToken()
{
    return QString::fromLatin1(
            randomBytes(32).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString tokenDigest(const QString &token)
{
    return QString::fromLatin1(
            QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString newId(int bytes)
{
    return QString::fromLatin1(randomBytes(bytes).toHex());
}

bool constantTimeEquals(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return diff == 0;
}

}

PasswordWorker::PasswordWorker(QObject *context, int maxQueued)
    : m_context(context), m_maxQueued(maxQueued)
{
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
}

PasswordWorker::~PasswordWorker()
{
    m_pool.clear();
    m_pool.waitForDone();
}

bool PasswordWorker::hash(const QString &password, std::function<void(const QString &)> done)
{
    if (m_queued >= m_maxQueued)
        return false;
    ++m_queued;
    m_pool.start([this, password, done = std::move(done)] {
        const QString hashed = Credentials::hashPassword(password);
        QMetaObject::invokeMethod(m_context, [this, hashed, done] {
            --m_queued;
            done(hashed);
        }, Qt::QueuedConnection);
    });
    return true;
}

bool PasswordWorker::verify(const QString &password, const QString &stored,
                            std::function<void(bool)> done)
{
    if (m_queued >= m_maxQueued)
        return false;
    ++m_queued;
    m_pool.start([this, password, stored, done = std::move(done)] {
        const bool match = Credentials::verifyPassword(password, stored);
        QMetaObject::invokeMethod(m_context, [this, match, done] {
            --m_queued;
            done(match);
        }, Qt::QueuedConnection);
    });
    return true;
}
