#include "cloudservice/cloudstore.h"

#include "cloudservice/servicelog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

namespace {
int s_connections = 0;

const char *const kDeviceColumns =
        "id, account_id, cid, device_name, client_version, hostname, bound_at, last_seen, "
        "snapshot, snapshot_at";
const char *const kCommandColumns =
        "id, device_id, session_id, command, port_key, payload, state, created_at, delivered_at, "
        "deliveries, finished_at, message, error_code";
const char *const kSyncColumns = "namespace, item_key, revision, payload, updated_at, updated_by";

QString sql(const char *text)
{
    return QString::fromLatin1(text);
}
}

CloudStore::CloudStore() : m_connection(QStringLiteral("cloudstore-%1").arg(++s_connections))
{
}

CloudStore::~CloudStore()
{
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool CloudStore::open(const QString &url, QString *error)
{
    const QUrl parsed(url);
    const QString scheme = parsed.scheme().toLower();
    m_postgres = scheme == QLatin1String("postgresql") || scheme == QLatin1String("postgres");
    if (m_postgres) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connection);
        if (!db.isValid()) {
            *error = QStringLiteral("the PostgreSQL driver (QPSQL) is not installed");
            return false;
        }
        QUrlQuery query(parsed);
        // libpq takes a directory as host for a Unix-domain socket.
        const QString socketDir = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
        query.removeAllQueryItems(QStringLiteral("host"));
        db.setHostName(socketDir.isEmpty() ? parsed.host() : socketDir);
        if (parsed.port() > 0)
            db.setPort(parsed.port());
        db.setUserName(parsed.userName(QUrl::FullyDecoded));
        db.setPassword(parsed.password(QUrl::FullyDecoded));
        db.setDatabaseName(parsed.path(QUrl::FullyDecoded).mid(1));
        QStringList options;
        for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded))
            options << key + QLatin1Char('=') + value;
        db.setConnectOptions(options.join(QLatin1Char(';')));
        QUrl shown = parsed;
        shown.setPassword(QString());
        m_description = shown.toString();
    } else {
        QString path = url;
        if (scheme == QLatin1String("sqlite"))
            path = parsed.path(QUrl::FullyDecoded);
        if (path.isEmpty()) {
            *error = QStringLiteral("no SQLite file named");
            return false;
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        if (!db.isValid()) {
            *error = QStringLiteral("the SQLite driver (QSQLITE) is not installed");
            return false;
        }
        const bool memory = path == QLatin1String(":memory:");
        if (!memory) {
            const QFileInfo file(path);
            // Password hashes and token digests live here: keep the folder private.
            if (!file.dir().exists() && QDir().mkpath(file.absolutePath()))
                QFile::setPermissions(file.absolutePath(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            path = file.absoluteFilePath();
        }
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        m_description = QStringLiteral("sqlite:%1").arg(path);
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.open()) {
        *error = db.lastError().text();
        return false;
    }
    if (m_postgres) {
        // Keeps "already exists, skipping" notices of the schema set-up out of the log.
        QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO WARNING"));
    } else {
        QSqlQuery pragma(db);
        pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        pragma.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
        if (db.databaseName() != QLatin1String(":memory:"))
            QFile::setPermissions(db.databaseName(), QFile::ReadOwner | QFile::WriteOwner);
    }
    return createSchema(error);
}

bool CloudStore::createSchema(QString *error)
{
    const QString id = m_postgres ? QStringLiteral("BIGSERIAL PRIMARY KEY")
                                  : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    const QStringList statements = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS accounts (id %1, email TEXT NOT NULL UNIQUE, "
                       "username TEXT NOT NULL, password_hash TEXT NOT NULL, created_at BIGINT NOT NULL)")
                .arg(id),
        sql("CREATE TABLE IF NOT EXISTS registration_codes (email TEXT PRIMARY KEY, "
            "code_digest TEXT NOT NULL, expires_at BIGINT NOT NULL, attempts INTEGER NOT NULL, "
            "sent_at BIGINT NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS token_families (id %1, account_id BIGINT NOT NULL "
                       "REFERENCES accounts(id) ON DELETE CASCADE, cid TEXT NOT NULL, "
                       "created_at BIGINT NOT NULL, revoked INTEGER NOT NULL DEFAULT 0)")
                .arg(id),
        sql("CREATE TABLE IF NOT EXISTS refresh_tokens (digest TEXT PRIMARY KEY, family_id BIGINT "
            "NOT NULL REFERENCES token_families(id) ON DELETE CASCADE, expires_at BIGINT NOT NULL, "
            "used INTEGER NOT NULL DEFAULT 0)"),
        sql("CREATE TABLE IF NOT EXISTS access_tokens (digest TEXT PRIMARY KEY, family_id BIGINT "
            "NOT NULL REFERENCES token_families(id) ON DELETE CASCADE, expires_at BIGINT NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS devices (id %1, account_id BIGINT NOT NULL "
                       "REFERENCES accounts(id) ON DELETE CASCADE, cid TEXT NOT NULL, "
                       "device_name TEXT NOT NULL, client_version TEXT NOT NULL, hostname TEXT NOT NULL, "
                       "bound_at BIGINT NOT NULL, last_seen BIGINT NOT NULL, snapshot TEXT NOT NULL, "
                       "snapshot_at BIGINT NOT NULL, UNIQUE (account_id, cid))")
                .arg(id),
        sql("CREATE TABLE IF NOT EXISTS commands (id TEXT PRIMARY KEY, device_id BIGINT NOT NULL "
            "REFERENCES devices(id) ON DELETE CASCADE, session_id TEXT NOT NULL, command TEXT NOT NULL, "
            "port_key TEXT NOT NULL, payload TEXT NOT NULL, state TEXT NOT NULL, created_at BIGINT NOT NULL, "
            "delivered_at BIGINT NOT NULL, deliveries INTEGER NOT NULL, finished_at BIGINT NOT NULL, "
            "message TEXT NOT NULL, error_code TEXT NOT NULL)"),
        sql("CREATE INDEX IF NOT EXISTS commands_by_device ON commands (device_id, state, created_at)"),
        sql("CREATE TABLE IF NOT EXISTS sync_items (account_id BIGINT NOT NULL REFERENCES accounts(id) "
            "ON DELETE CASCADE, namespace TEXT NOT NULL, item_key TEXT NOT NULL, revision BIGINT NOT NULL, "
            "payload TEXT NOT NULL, updated_at BIGINT NOT NULL, updated_by TEXT NOT NULL, "
            "PRIMARY KEY (account_id, namespace, item_key))"),
        sql("CREATE TABLE IF NOT EXISTS traffic_usage (account_id BIGINT NOT NULL REFERENCES "
            "accounts(id) ON DELETE CASCADE, month TEXT NOT NULL, up_bytes BIGINT NOT NULL, "
            "down_bytes BIGINT NOT NULL, PRIMARY KEY (account_id, month))"),
        sql("CREATE TABLE IF NOT EXISTS client_reports (cid TEXT PRIMARY KEY, version TEXT NOT NULL, "
            "launches BIGINT NOT NULL, first_seen BIGINT NOT NULL, last_seen BIGINT NOT NULL, "
            "last_report TEXT NOT NULL)"),
    };
    QSqlQuery query(QSqlDatabase::database(m_connection));
    for (const QString &statement : statements) {
        if (!query.exec(statement)) {
            *error = query.lastError().text();
            return false;
        }
    }
    return true;
}

bool CloudStore::exec(QSqlQuery &query, const QString &text, const QVariantList &values)
{
    bool done = query.prepare(text);
    if (done) {
        for (const QVariant &value : values) {
            // A null QString would bind as SQL NULL; every text column is NOT NULL.
            const bool nullText = value.typeId() == QMetaType::QString && value.toString().isNull();
            query.addBindValue(nullText ? QVariant(QStringLiteral("")) : value);
        }
        done = query.exec();
    }
    if (!done) {
        m_failed = true;
        qCWarning(lcCloud) << "storage:" << query.lastError().text() << "in" << text;
    }
    return done;
}

bool CloudStore::transaction()
{
    if (QSqlDatabase::database(m_connection).transaction())
        return true;
    m_failed = true;
    return false;
}

bool CloudStore::commit()
{
    if (QSqlDatabase::database(m_connection).commit())
        return true;
    m_failed = true;
    rollback();
    return false;
}

void CloudStore::rollback()
{
    QSqlDatabase::database(m_connection).rollback();
}

std::optional<CloudStore::Account> CloudStore::accountByEmail(const QString &email)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT id, email, username, password_hash, created_at FROM accounts WHERE email = ?"),
              {email})
        || !q.next())
        return std::nullopt;
    return Account{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                   q.value(3).toString(), q.value(4).toLongLong()};
}

std::optional<CloudStore::Account> CloudStore::account(qint64 id)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT id, email, username, password_hash, created_at FROM accounts WHERE id = ?"), {id})
        || !q.next())
        return std::nullopt;
    return Account{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                   q.value(3).toString(), q.value(4).toLongLong()};
}

qint64 CloudStore::createAccount(const QString &email, const QString &username,
                                 const QString &passwordHash, qint64 now)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    // ON CONFLICT keeps a taken address from being an error on either database.
    if (!exec(q, sql("INSERT INTO accounts (email, username, password_hash, created_at) VALUES (?, ?, ?, ?) "
                     "ON CONFLICT (email) DO NOTHING RETURNING id"),
              {email, username, passwordHash, now}))
        return 0;
    return q.next() ? q.value(0).toLongLong() : 0;
}

bool CloudStore::putRegistrationCode(const QString &email, const QString &codeDigest, qint64 expiresAt,
                                     qint64 now)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    return exec(q, sql("INSERT INTO registration_codes (email, code_digest, expires_at, attempts, sent_at) "
                       "VALUES (?, ?, ?, 0, ?) ON CONFLICT (email) DO UPDATE SET "
                       "code_digest = excluded.code_digest, expires_at = excluded.expires_at, "
                       "attempts = 0, sent_at = excluded.sent_at"),
                {email, codeDigest, expiresAt, now});
}

qint64 CloudStore::registrationCodeSentAt(const QString &email)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT sent_at FROM registration_codes WHERE email = ?"), {email}) || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

CloudStore::CodeCheck CloudStore::checkRegistrationCode(const QString &email, const QString &codeDigest,
                                                        qint64 now, int maxAttempts)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT code_digest, expires_at, attempts FROM registration_codes WHERE email = ?"),
              {email})
        || !q.next())
        return CodeCheck::Missing;
    const QString stored = q.value(0).toString();
    const qint64 expiresAt = q.value(1).toLongLong();
    const int attempts = q.value(2).toInt();
    q.finish();
    if (expiresAt <= now || attempts >= maxAttempts) {
        dropRegistrationCode(email);
        return CodeCheck::Missing;
    }
    if (stored == codeDigest)
        return CodeCheck::Valid;
    exec(q, sql("UPDATE registration_codes SET attempts = attempts + 1 WHERE email = ?"), {email});
    return CodeCheck::Wrong;
}

void CloudStore::dropRegistrationCode(const QString &email)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    exec(q, sql("DELETE FROM registration_codes WHERE email = ?"), {email});
}

qint64 CloudStore::createTokenFamily(qint64 accountId, const QString &cid, qint64 now)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("INSERT INTO token_families (account_id, cid, created_at) VALUES (?, ?, ?) RETURNING id"),
              {accountId, cid, now})
        || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

bool CloudStore::storeTokens(qint64 familyId, const QString &accessDigest, qint64 accessExpiresAt,
                             const QString &refreshDigest, qint64 refreshExpiresAt)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    return exec(q, sql("INSERT INTO access_tokens (digest, family_id, expires_at) VALUES (?, ?, ?)"),
                {accessDigest, familyId, accessExpiresAt})
            && exec(q, sql("INSERT INTO refresh_tokens (digest, family_id, expires_at) VALUES (?, ?, ?)"),
                    {refreshDigest, familyId, refreshExpiresAt});
}

std::optional<CloudStore::Bearer> CloudStore::bearer(const QString &accessDigest, qint64 now, bool *expired)
{
    if (expired)
        *expired = false;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT f.account_id, a.family_id, a.expires_at, f.cid FROM access_tokens a "
                     "JOIN token_families f ON f.id = a.family_id WHERE a.digest = ? AND f.revoked = 0"),
              {accessDigest})
        || !q.next())
        return std::nullopt;
    const Bearer owner{q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toLongLong(),
                       q.value(3).toString()};
    if (owner.expiresAt <= now) {
        if (expired)
            *expired = true;
        return std::nullopt;
    }
    return owner;
}

CloudStore::RefreshOutcome CloudStore::useRefreshToken(const QString &refreshDigest, qint64 now,
                                                       qint64 *familyId, qint64 *accountId)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT r.family_id, r.used, r.expires_at, f.account_id, f.revoked FROM refresh_tokens r "
                     "JOIN token_families f ON f.id = r.family_id WHERE r.digest = ?"),
              {refreshDigest})
        || !q.next())
        return RefreshOutcome::Unknown;
    *familyId = q.value(0).toLongLong();
    *accountId = q.value(3).toLongLong();
    const bool used = q.value(1).toInt() != 0;
    const qint64 expiresAt = q.value(2).toLongLong();
    const bool revoked = q.value(4).toInt() != 0;
    q.finish();
    if (revoked)
        return RefreshOutcome::Unknown;
    if (used) {
        revokeFamily(*familyId);
        return RefreshOutcome::Reused;
    }
    if (expiresAt <= now)
        return RefreshOutcome::Expired;
    // Guarded by used = 0 so that two racing refreshes cannot both win.
    if (!exec(q, sql("UPDATE refresh_tokens SET used = 1 WHERE digest = ? AND used = 0"), {refreshDigest}))
        return RefreshOutcome::Unknown;
    if (q.numRowsAffected() != 1) {
        revokeFamily(*familyId);
        return RefreshOutcome::Reused;
    }
    return RefreshOutcome::Rotated;
}

qint64 CloudStore::familyOfRefreshToken(const QString &refreshDigest)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT family_id FROM refresh_tokens WHERE digest = ?"), {refreshDigest}) || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

void CloudStore::revokeFamily(qint64 familyId)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    exec(q, sql("UPDATE token_families SET revoked = 1 WHERE id = ?"), {familyId});
    exec(q, sql("DELETE FROM access_tokens WHERE family_id = ?"), {familyId});
}

CloudStore::Device CloudStore::readDevice(const QSqlQuery &q)
{
    Device d;
    d.id = q.value(0).toLongLong();
    d.accountId = q.value(1).toLongLong();
    d.cid = q.value(2).toString();
    d.deviceName = q.value(3).toString();
    d.clientVersion = q.value(4).toString();
    d.hostname = q.value(5).toString();
    d.boundAt = q.value(6).toLongLong();
    d.lastSeen = q.value(7).toLongLong();
    d.snapshot = q.value(8).toString().toUtf8();
    d.snapshotAt = q.value(9).toLongLong();
    return d;
}

std::optional<CloudStore::Device> CloudStore::bindDevice(qint64 accountId, const QString &cid,
                                                         const QString &deviceName,
                                                         const QString &clientVersion, qint64 now,
                                                         int maxDevices)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!device(accountId, cid)) {
        if (!exec(q, sql("SELECT COUNT(*) FROM devices WHERE account_id = ?"), {accountId}) || !q.next()
            || q.value(0).toInt() >= maxDevices)
            return std::nullopt;
        q.finish();
    }
    if (!exec(q, sql("INSERT INTO devices (account_id, cid, device_name, client_version, hostname, bound_at, "
                     "last_seen, snapshot, snapshot_at) VALUES (?, ?, ?, ?, '', ?, 0, '[]', 0) "
                     "ON CONFLICT (account_id, cid) DO UPDATE SET device_name = excluded.device_name, "
                     "client_version = excluded.client_version"),
              {accountId, cid, deviceName, clientVersion, now}))
        return std::nullopt;
    return device(accountId, cid);
}

std::optional<CloudStore::Device> CloudStore::device(qint64 accountId, const QString &cid)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, QStringLiteral("SELECT %1 FROM devices WHERE account_id = ? AND cid = ?")
                         .arg(QLatin1String(kDeviceColumns)),
              {accountId, cid})
        || !q.next())
        return std::nullopt;
    return readDevice(q);
}

QList<CloudStore::Device> CloudStore::devices(qint64 accountId)
{
    QList<Device> list;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (exec(q, QStringLiteral("SELECT %1 FROM devices WHERE account_id = ? ORDER BY bound_at, id")
                        .arg(QLatin1String(kDeviceColumns)),
             {accountId})) {
        while (q.next())
            list << readDevice(q);
    }
    return list;
}

void CloudStore::touchDevice(qint64 deviceId, qint64 now, const QString &hostname,
                             const QString &clientVersion)
{
    QString text = QStringLiteral("UPDATE devices SET last_seen = ?");
    QVariantList values{now};
    if (!hostname.isEmpty()) {
        text += QStringLiteral(", hostname = ?");
        values << hostname;
    }
    if (!clientVersion.isEmpty()) {
        text += QStringLiteral(", client_version = ?");
        values << clientVersion;
    }
    values << deviceId;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    exec(q, text + QStringLiteral(" WHERE id = ?"), values);
}

void CloudStore::storeSnapshot(qint64 deviceId, const QByteArray &portsJson, qint64 now)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    exec(q, sql("UPDATE devices SET snapshot = ?, snapshot_at = ?, last_seen = ? WHERE id = ?"),
         {QString::fromUtf8(portsJson), now, now, deviceId});
}

CloudStore::Command CloudStore::readCommand(const QSqlQuery &q)
{
    Command c;
    c.id = q.value(0).toString();
    c.deviceId = q.value(1).toLongLong();
    c.sessionId = q.value(2).toString();
    c.command = q.value(3).toString();
    c.portKey = q.value(4).toString();
    c.payload = q.value(5).toString().toUtf8();
    c.state = q.value(6).toString();
    c.createdAt = q.value(7).toLongLong();
    c.deliveredAt = q.value(8).toLongLong();
    c.deliveries = q.value(9).toInt();
    c.finishedAt = q.value(10).toLongLong();
    c.message = q.value(11).toString();
    c.errorCode = q.value(12).toString();
    return c;
}

bool CloudStore::addCommand(const Command &c)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    return exec(q, QStringLiteral("INSERT INTO commands (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 0, 0, 0, '', '')")
                           .arg(QLatin1String(kCommandColumns)),
                {c.id, c.deviceId, c.sessionId, c.command, c.portKey, QString::fromUtf8(c.payload),
                 QStringLiteral("queued"), c.createdAt});
}

int CloudStore::openCommandCount(qint64 deviceId)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT COUNT(*) FROM commands WHERE device_id = ? AND state IN ('queued', 'delivered')"),
              {deviceId})
        || !q.next())
        return 0;
    return q.value(0).toInt();
}

QList<CloudStore::Command> CloudStore::takeCommands(qint64 deviceId, qint64 now, int limit,
                                                    qint64 redeliverBefore, int maxDeliveries)
{
    QList<Command> taken;
    if (!transaction())
        return taken;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (exec(q, QStringLiteral("SELECT %1 FROM commands WHERE device_id = ? AND (state = 'queued' OR "
                               "(state = 'delivered' AND delivered_at < ? AND deliveries < ?)) "
                               "ORDER BY created_at, id LIMIT ?")
                        .arg(QLatin1String(kCommandColumns)),
             {deviceId, redeliverBefore, maxDeliveries, limit})) {
        while (q.next())
            taken << readCommand(q);
    }
    q.finish();
    for (Command &c : taken) {
        exec(q, sql("UPDATE commands SET state = 'delivered', delivered_at = ?, deliveries = deliveries + 1 "
                    "WHERE id = ?"),
             {now, c.id});
        c.state = QStringLiteral("delivered");
        c.deliveredAt = now;
        ++c.deliveries;
    }
    if (m_failed) {
        rollback();
        return {};
    }
    return commit() ? taken : QList<Command>();
}

QList<CloudStore::Command> CloudStore::recentCommands(qint64 deviceId, const QString &sessionId, int limit)
{
    QList<Command> list;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (exec(q, QStringLiteral("SELECT %1 FROM commands WHERE device_id = ? AND session_id = ? "
                               "ORDER BY created_at DESC, id DESC LIMIT ?")
                        .arg(QLatin1String(kCommandColumns)),
             {deviceId, sessionId, limit})) {
        while (q.next())
            list << readCommand(q);
    }
    return list;
}

CloudStore::ResultOutcome CloudStore::recordResult(qint64 accountId, const QString &commandId,
                                                   bool succeeded, const QString &message,
                                                   const QString &errorCode, qint64 now,
                                                   qint64 *deviceId)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT c.device_id, c.state FROM commands c JOIN devices d ON d.id = c.device_id "
                     "WHERE c.id = ? AND d.account_id = ?"),
              {commandId, accountId})
        || !q.next())
        return ResultOutcome::NotFound;
    *deviceId = q.value(0).toLongLong();
    q.finish();
    // The state guard makes the first answer win when two arrive at once.
    if (!exec(q, sql("UPDATE commands SET state = ?, message = ?, error_code = ?, finished_at = ? "
                     "WHERE id = ? AND state IN ('queued', 'delivered')"),
              {succeeded ? QStringLiteral("succeeded") : QStringLiteral("failed"), message, errorCode, now,
               commandId}))
        return ResultOutcome::NotFound;
    return q.numRowsAffected() == 1 ? ResultOutcome::Recorded : ResultOutcome::AlreadyFinished;
}

void CloudStore::expireCommands(qint64 now, qint64 madeBefore, qint64 lastDeliveryBefore, int maxDeliveries)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    exec(q, sql("UPDATE commands SET state = 'expired', finished_at = ? WHERE state IN ('queued', 'delivered') "
                "AND (created_at < ? OR (deliveries >= ? AND delivered_at < ?))"),
         {now, madeBefore, maxDeliveries, lastDeliveryBefore});
}

CloudStore::SyncItem CloudStore::readSyncItem(const QSqlQuery &q)
{
    return SyncItem{q.value(0).toString(), q.value(1).toString(), q.value(2).toLongLong(),
                    q.value(3).toString().toUtf8(), q.value(4).toLongLong(), q.value(5).toString()};
}

QList<CloudStore::SyncItem> CloudStore::syncItems(qint64 accountId, const QString &ns)
{
    QList<SyncItem> list;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    const bool all = ns.isEmpty();
    const QString text = QStringLiteral("SELECT %1 FROM sync_items WHERE account_id = ? %2 "
                                        "ORDER BY namespace, item_key")
                                 .arg(QLatin1String(kSyncColumns),
                                      all ? QString() : QStringLiteral("AND namespace = ?"));
    if (exec(q, text, all ? QVariantList{accountId} : QVariantList{accountId, ns})) {
        while (q.next())
            list << readSyncItem(q);
    }
    return list;
}

std::optional<CloudStore::SyncItem> CloudStore::syncItem(qint64 accountId, const QString &ns,
                                                         const QString &key)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, QStringLiteral("SELECT %1 FROM sync_items WHERE account_id = ? AND namespace = ? AND item_key = ?")
                         .arg(QLatin1String(kSyncColumns)),
              {accountId, ns, key})
        || !q.next())
        return std::nullopt;
    return readSyncItem(q);
}

int CloudStore::syncItemCount(qint64 accountId)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT COUNT(*) FROM sync_items WHERE account_id = ?"), {accountId}) || !q.next())
        return 0;
    return q.value(0).toInt();
}

CloudStore::PutOutcome CloudStore::putSyncItem(qint64 accountId, const QString &ns, const QString &key,
                                               qint64 baseRevision, const QByteArray &payload,
                                               const QString &updatedBy, qint64 now, SyncItem *current)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    const QString text = QString::fromUtf8(payload);
    // Both statements succeed only against the expected revision, so concurrent writers
    // (even from several service processes on one database) cannot both win.
    bool stored = false;
    if (baseRevision == 0) {
        stored = exec(q, sql("INSERT INTO sync_items (account_id, namespace, item_key, revision, payload, "
                             "updated_at, updated_by) VALUES (?, ?, ?, 1, ?, ?, ?) "
                             "ON CONFLICT (account_id, namespace, item_key) DO NOTHING"),
                      {accountId, ns, key, text, now, updatedBy})
                && q.numRowsAffected() == 1;
    } else {
        stored = exec(q, sql("UPDATE sync_items SET revision = revision + 1, payload = ?, updated_at = ?, "
                             "updated_by = ? WHERE account_id = ? AND namespace = ? AND item_key = ? "
                             "AND revision = ?"),
                      {text, now, updatedBy, accountId, ns, key, baseRevision})
                && q.numRowsAffected() == 1;
    }
    *current = syncItem(accountId, ns, key).value_or(SyncItem{ns, key, 0, {}, 0, {}});
    return stored ? PutOutcome::Stored : PutOutcome::Conflict;
}

void CloudStore::addUsage(qint64 accountId, const QString &month, qint64 up, qint64 down)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    exec(q, sql("INSERT INTO traffic_usage (account_id, month, up_bytes, down_bytes) VALUES (?, ?, ?, ?) "
                "ON CONFLICT (account_id, month) DO UPDATE SET "
                "up_bytes = traffic_usage.up_bytes + excluded.up_bytes, "
                "down_bytes = traffic_usage.down_bytes + excluded.down_bytes"),
         {accountId, month, up, down});
}

CloudStore::Usage CloudStore::usage(qint64 accountId, const QString &month)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!exec(q, sql("SELECT up_bytes, down_bytes FROM traffic_usage WHERE account_id = ? AND month = ?"),
              {accountId, month})
        || !q.next())
        return {};
    return Usage{q.value(0).toLongLong(), q.value(1).toLongLong()};
}

std::optional<CloudStore::ClientReport> CloudStore::reportClient(const QString &cid, const QString &version,
                                                                 const QByteArray &report, bool launch,
                                                                 qint64 now)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    const int launches = launch ? 1 : 0;
    if (!exec(q, sql("INSERT INTO client_reports (cid, version, launches, first_seen, last_seen, last_report) "
                     "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (cid) DO UPDATE SET version = excluded.version, "
                     "launches = client_reports.launches + excluded.launches, last_seen = excluded.last_seen, "
                     "last_report = excluded.last_report"),
              {cid, version, launches, now, now, QString::fromUtf8(report)}))
        return std::nullopt;
    if (!exec(q, sql("SELECT cid, version, launches, first_seen, last_seen FROM client_reports WHERE cid = ?"),
              {cid})
        || !q.next())
        return std::nullopt;
    return ClientReport{q.value(0).toString(), q.value(1).toString(), q.value(2).toLongLong(),
                        q.value(3).toLongLong(), q.value(4).toLongLong()};
}

void CloudStore::purge(qint64 now)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    exec(q, sql("DELETE FROM access_tokens WHERE expires_at < ?"), {now});
    exec(q, sql("DELETE FROM refresh_tokens WHERE expires_at < ?"), {now});
    exec(q, sql("DELETE FROM token_families WHERE created_at < ? AND NOT EXISTS "
                "(SELECT 1 FROM refresh_tokens r WHERE r.family_id = token_families.id)"),
         {now - 60 * 1000});
    exec(q, sql("DELETE FROM registration_codes WHERE expires_at < ?"), {now});
    exec(q, sql("DELETE FROM commands WHERE created_at < ?"), {now - 24 * 3600 * 1000LL});
}
