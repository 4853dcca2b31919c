#pragma once

#include <QByteArray>
#include <QString>
#include <QThreadPool>

#include <functional>

class QObject;

// Password hashes, bearer tokens and ids. Passwords are stored as
// "pbkdf2-sha256$<iterations>$<salt>$<key>" (salt and key in base64), so the
// iteration count can be raised later without breaking stored accounts.
namespace Credentials {
constexpr int kIterations = 100000;

QString hashPassword(const QString &password, int iterations = kIterations);
bool verifyPassword(const QString &password, const QString &stored);
// 256 random bits from the system generator, base64url without padding.
QString newToken();
// Tokens are stored only as this digest, so a copy of the database holds no usable token.
QString tokenDigest(const QString &token);
// Random hexadecimal id of `bytes` random bytes.
QString newId(int bytes = 16);
bool constantTimeEquals(const QByteArray &a, const QByteArray &b);
}

// Runs password hashing (a fifth of a second each) on worker threads so that the
// service keeps answering devices meanwhile; the callbacks run on the thread of
// `context`. Refuses work when too much is queued, which caps what a burst of
// log-in attempts can cost.
class PasswordWorker
{
public:
    explicit PasswordWorker(QObject *context, int maxQueued = 32);
    ~PasswordWorker();

    bool hash(const QString &password, std::function<void(const QString &)> done);
    bool verify(const QString &password, const QString &stored, std::function<void(bool)> done);

private:
    QObject *m_context;
    int m_maxQueued;
    int m_queued = 0;
    QThreadPool m_pool;
};
