#include "cloudservice/apirouter.h"

#include "cloudservice/credentials.h"
#include "cloudservice/servicelog.h"

#include <QJsonDocument>
#include <QJsonParseError>

ApiReply ApiReply::success(const QString &type, const QJsonObject &members, int status)
{
    ApiReply reply;
    reply.status = status;
    reply.body = members;
    reply.body.insert(QStringLiteral("type"), type);
    reply.body.insert(QStringLiteral("status"), true);
    return reply;
}

ApiReply ApiReply::failure(int status, const QString &type, const QString &code, const QString &description)
{
    ApiReply reply;
    reply.status = status;
    if (!type.isEmpty())
        reply.body.insert(QStringLiteral("type"), type);
    reply.body.insert(QStringLiteral("status"), false);
    reply.body.insert(QStringLiteral("code"), code);
    reply.body.insert(QStringLiteral("description"), description);
    return reply;
}

ApiReply ApiReply::later()
{
    ApiReply reply;
    reply.deferred = true;
    return reply;
}

FieldReader::FieldReader(const QJsonObject &object, const QString &domain)
    : m_object(object), m_domain(domain)
{
}

void FieldReader::fail(const QString &code, const QString &description)
{
    if (!m_ok)
        return;
    m_ok = false;
    m_error = ApiReply::failure(400, m_domain, code, description);
}

QString FieldReader::text(const char *key, int maxLength, bool required)
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        if (required)
            fail(QStringLiteral("missing_field"), QStringLiteral("\"%1\" is missing.").arg(QLatin1String(key)));
        return {};
    }
    if (!value.isString()) {
        fail(QStringLiteral("invalid_field"), QStringLiteral("\"%1\" must be a string.").arg(QLatin1String(key)));
        return {};
    }
    const QString text = value.toString();
    if (text.size() > maxLength) {
        fail(QStringLiteral("invalid_field"),
             QStringLiteral("\"%1\" is longer than %2 characters.").arg(QLatin1String(key)).arg(maxLength));
        return {};
    }
    if (required && text.trimmed().isEmpty())
        fail(QStringLiteral("missing_field"), QStringLiteral("\"%1\" is empty.").arg(QLatin1String(key)));
    return text;
}

qint64 FieldReader::integer(const char *key, qint64 minimum, qint64 maximum, qint64 fallback, bool required)
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        if (required)
            fail(QStringLiteral("missing_field"), QStringLiteral("\"%1\" is missing.").arg(QLatin1String(key)));
        return fallback;
    }
    const double number = value.toDouble(-1.5);
    if (!value.isDouble() || number != double(qint64(number)) || number < double(minimum)
        || number > double(maximum)) {
        fail(QStringLiteral("invalid_field"), QStringLiteral("\"%1\" must be an integer from %2 to %3.")
                                                      .arg(QLatin1String(key))
                                                      .arg(minimum)
                                                      .arg(maximum));
        return fallback;
    }
    return qint64(number);
}

QJsonObject FieldReader::object(const char *key, bool required)
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        if (required)
            fail(QStringLiteral("missing_field"), QStringLiteral("\"%1\" is missing.").arg(QLatin1String(key)));
        return {};
    }
    if (!value.isObject())
        fail(QStringLiteral("invalid_field"), QStringLiteral("\"%1\" must be an object.").arg(QLatin1String(key)));
    return value.toObject();
}

QJsonArray FieldReader::array(const char *key, int maxCount, bool required)
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        if (required)
            fail(QStringLiteral("missing_field"), QStringLiteral("\"%1\" is missing.").arg(QLatin1String(key)));
        return {};
    }
    if (!value.isArray()) {
        fail(QStringLiteral("invalid_field"), QStringLiteral("\"%1\" must be an array.").arg(QLatin1String(key)));
        return {};
    }
    const QJsonArray list = value.toArray();
    if (list.size() > maxCount) {
        fail(QStringLiteral("invalid_field"),
             QStringLiteral("\"%1\" holds more than %2 entries.").arg(QLatin1String(key)).arg(maxCount));
        return {};
    }
    return list;
}

QString FieldReader::matching(const char *key, const QRegularExpression &pattern, bool required)
{
    const QString value = text(key, 256, required);
    if (!m_ok || value.isEmpty())
        return value;
    if (!pattern.match(value).hasMatch()) {
        fail(QStringLiteral("invalid_field"), QStringLiteral("\"%1\" is not valid.").arg(QLatin1String(key)));
        return {};
    }
    return value;
}

QString methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get: return QStringLiteral("GET");
    case QHttpServerRequest::Method::Put: return QStringLiteral("PUT");
    case QHttpServerRequest::Method::Delete: return QStringLiteral("DELETE");
    case QHttpServerRequest::Method::Post: return QStringLiteral("POST");
    case QHttpServerRequest::Method::Head: return QStringLiteral("HEAD");
    case QHttpServerRequest::Method::Options: return QStringLiteral("OPTIONS");
    case QHttpServerRequest::Method::Patch: return QStringLiteral("PATCH");
    default: return QStringLiteral("OTHER");
    }
}

ApiRouter::ApiRouter(CloudStore *store) : m_store(store)
{
}

void ApiRouter::add(QHttpServerRequest::Method method, const QString &pattern, const QString &domain,
                    Access access, Handler handler)
{
    m_routes.append({method, QRegularExpression(QRegularExpression::anchoredPattern(pattern)), domain, access,
                     std::move(handler)});
}

void ApiRouter::dispatch(const QHttpServerRequest &request, qint64 now, qint64 tick,
                         const ApiResponder &respond)
{
    const QString path = request.url().path();
    const Route *route = nullptr;
    QRegularExpressionMatch match;
    QStringList allowed;
    for (const Route &candidate : m_routes) {
        const QRegularExpressionMatch m = candidate.pattern.match(path);
        if (!m.hasMatch())
            continue;
        allowed << methodName(candidate.method);
        if (candidate.method == request.method()) {
            route = &candidate;
            match = m;
            break;
        }
    }
    if (!route) {
        if (allowed.isEmpty()) {
            respond(ApiReply::failure(404, QString(), QStringLiteral("not_found"),
                                      QStringLiteral("No such path.")));
            return;
        }
        ApiReply reply = ApiReply::failure(405, QString(), QStringLiteral("method_not_allowed"),
                                           QStringLiteral("This path does not take %1.")
                                                   .arg(methodName(request.method())));
        reply.headers.append({QByteArrayLiteral("Allow"), allowed.join(QStringLiteral(", ")).toLatin1()});
        respond(reply);
        return;
    }

    ApiRequest call;
    call.method = request.method();
    call.path = path;
    call.captures = match.capturedTexts().mid(1);
    call.query = request.query();
    call.remote = request.remoteAddress();
    call.domain = route->domain;
    call.now = now;
    call.tick = tick;
    if (call.method == QHttpServerRequest::Method::Post || call.method == QHttpServerRequest::Method::Put) {
        const QByteArray body = request.body();
        if (!body.trimmed().isEmpty()) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(body, &error);
            if (error.error != QJsonParseError::NoError || !document.isObject()) {
                respond(ApiReply::failure(400, route->domain, QStringLiteral("malformed_json"),
                                          QStringLiteral("The body must be a JSON object.")));
                return;
            }
            call.body = document.object();
        }
    }

    m_store->clearFailure();
    const QByteArray header = request.value(QByteArrayLiteral("authorization")).trimmed();
    if (header.size() > 7 && header.first(7).toLower() == "bearer ")
        call.token = QString::fromLatin1(header.sliced(7).trimmed());
    if (route->access == Access::Bearer) {
        const bool hasBearer = !call.token.isEmpty();
        bool expired = false;
        const auto bearer = hasBearer ? m_store->bearer(Credentials::tokenDigest(call.token), now, &expired)
                                      : std::nullopt;
        if (!bearer) {
            ApiReply reply = m_store->failed()
                    ? ApiReply::failure(500, route->domain, QStringLiteral("storage_error"),
                                        QStringLiteral("The service could not reach its database."))
                    : !hasBearer ? ApiReply::failure(401, QString(), QStringLiteral("missing_token"),
                                                     QStringLiteral("Sign in first."))
                    : expired    ? ApiReply::failure(401, QString(), QStringLiteral("token_expired"),
                                                     QStringLiteral("The access token has expired."))
                                 : ApiReply::failure(401, QString(), QStringLiteral("invalid_token"),
                                                     QStringLiteral("The access token is not valid."));
            if (reply.status == 401)
                reply.headers.append({QByteArrayLiteral("WWW-Authenticate"), QByteArrayLiteral("Bearer")});
            respond(reply);
            return;
        }
        call.bearer = *bearer;
    }

    const QString domain = route->domain;
    call.respond = respond;
    ApiReply reply = route->handler(call);
    if (reply.deferred)
        return;
    if (m_store->failed())
        reply = ApiReply::failure(500, domain, QStringLiteral("storage_error"),
                                  QStringLiteral("The service could not reach its database."));
    respond(reply);
}
