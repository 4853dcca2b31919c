#include "cloud/refreshtokenstore.h"
#include "cloud/cloudlog.h"

#include <QCryptographicHash>
#include <QSysInfo>
#include <QtEndian>

#ifdef QUILLON_HAVE_KEYCHAIN
#include <qt6keychain/keychain.h>
#endif

namespace {

const QString kKey = QStringLiteral("AccountRefreshToken");
const QString kService = QStringLiteral("Quillon");
const QByteArray kKeyText = QByteArrayLiteral("Quillon account refresh token");

// Jobs have no parent and delete themselves when finished: a job deleted while the
// secret service still works on it would be called back after it is gone. The
// connections end with the store, so a late answer reaches nobody.

QString entryName(const QString &account)
{
    return QStringLiteral("refresh-token:") + account;
}

} // namespace

RefreshTokenStore::RefreshTokenStore(SettingsLocation location, QObject *parent)
    : QObject(parent)
    , m_location(std::move(location))
{
#ifdef QUILLON_HAVE_KEYCHAIN
    m_secretEnabled = true;
#endif
}

void RefreshTokenStore::setSecretStoreEnabled(bool enabled)
{
#ifdef QUILLON_HAVE_KEYCHAIN
    m_secretEnabled = enabled;
#else
    Q_UNUSED(enabled);
#endif
    m_backend = Backend::Unknown;
}

QByteArray RefreshTokenStore::scramble(const QByteArray &data, const QByteArray &installation)
{
    QByteArray out = data;
    QByteArray block;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (i % 32 == 0) {
            QByteArray counter(4, '\0');
            qToBigEndian(quint32(i / 32), counter.data());
            block = QCryptographicHash::hash(installation + kKeyText + counter, QCryptographicHash::Sha256);
        }
        out[i] = char(out.at(i) ^ block.at(i % 32));
    }
    return out;
}

QByteArray RefreshTokenStore::installation() const
{
    return m_location.open()->fileName().toUtf8() + '/' + QSysInfo::machineUniqueId();
}

QString RefreshTokenStore::settingsToken() const
{
    const QByteArray stored = QByteArray::fromBase64(m_location.open()->value(kKey).toString().toLatin1());
    return QString::fromUtf8(scramble(stored, installation()));
}

void RefreshTokenStore::writeSettingsToken(const QString &token)
{
    m_location.open()->setValue(kKey, QString::fromLatin1(scramble(token.toUtf8(), installation()).toBase64()));
}

void RefreshTokenStore::removeSettingsToken()
{
    m_location.open()->remove(kKey);
}

void RefreshTokenStore::load(const QString &account)
{
#ifdef QUILLON_HAVE_KEYCHAIN
    if (m_secretEnabled && m_backend != Backend::Settings) {
        auto *job = new QKeychain::ReadPasswordJob(kService);
        job->setKey(entryName(account));
        connect(job, &QKeychain::Job::finished, this, [this, job, account] {
            const QString fromSettings = settingsToken();
            switch (job->error()) {
            case QKeychain::NoError:
                m_backend = Backend::SecretStore;
                if (!fromSettings.isEmpty())
                    removeSettingsToken(); // moved here before
                emit loaded(job->textData());
                return;
            case QKeychain::EntryNotFound:
                m_backend = Backend::SecretStore;
                if (!fromSettings.isEmpty())
                    writeSecret(account, fromSettings);
                emit loaded(fromSettings);
                return;
            default:
                qCInfo(lcCloud) << "secret store unavailable:" << job->errorString();
                m_backend = Backend::Settings;
                emit loaded(fromSettings);
                return;
            }
        });
        job->start();
        return;
    }
#else
    Q_UNUSED(account);
#endif
    m_backend = Backend::Settings;
    emit loaded(settingsToken());
}

void RefreshTokenStore::writeSecret(const QString &account, const QString &token)
{
    // The token is in the settings already; it leaves them once the secret store has it.
#ifdef QUILLON_HAVE_KEYCHAIN
    auto *job = new QKeychain::WritePasswordJob(kService);
    job->setKey(entryName(account));
    job->setTextData(token);
    connect(job, &QKeychain::Job::finished, this, [this, job] {
        if (job->error() == QKeychain::NoError) {
            m_backend = Backend::SecretStore;
            removeSettingsToken();
        } else {
            qCInfo(lcCloud) << "secret store refused the token:" << job->errorString();
            m_backend = Backend::Settings;
        }
        emit saved();
    });
    job->start();
#else
    Q_UNUSED(account);
    Q_UNUSED(token);
    emit saved();
#endif
}

void RefreshTokenStore::save(const QString &account, const QString &token)
{
    // The settings copy comes first: should the program end before the secret
    // store answers, the token is still there, and moves over at the next load.
    writeSettingsToken(token);
    if (m_secretEnabled && m_backend != Backend::Settings) {
        writeSecret(account, token);
        return;
    }
    m_backend = Backend::Settings;
    emit saved();
}

void RefreshTokenStore::remove(const QString &account)
{
    removeSettingsToken();
#ifdef QUILLON_HAVE_KEYCHAIN
    if (m_secretEnabled && m_backend != Backend::Settings) {
        auto *job = new QKeychain::DeletePasswordJob(kService);
        job->setKey(entryName(account));
        job->start();
    }
#else
    Q_UNUSED(account);
#endif
}
