#pragma once

#include "cloudservice/cloudstore.h"

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <QString>
#include <QUrlQuery>

#include <functional>

// An answer of the REST interface: a JSON object whose "type" names the domain
// ("account", "console", "sync", "quota", "client") and whose "status" is true or false.
// Failures carry "code" and "description". Answers that concern the transport rather
// than a domain (unknown path, wrong method, missing or bad token) carry no "type".
struct ApiReply
{
    int status = 200;
    QJsonObject body;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool deferred = false;

    static ApiReply success(const QString &type, const QJsonObject &members = {}, int status = 200);
    static ApiReply failure(int status, const QString &type, const QString &code, const QString &description);
    // The handler answers later through ApiRequest::respond.
    static ApiReply later();
};

using ApiResponder = std::function<void(const ApiReply &)>;

struct ApiRequest
{
    QHttpServerRequest::Method method = QHttpServerRequest::Method::Unknown;
    QString path;
    QStringList captures; // the route pattern's groups
    QUrlQuery query;
    QJsonObject body;
    QHostAddress remote;
    QString domain;
    QString token;             // the bearer token sent, if any
    CloudStore::Bearer bearer; // set on routes that need a token
    qint64 now = 0;            // wall clock, ms since the epoch
    qint64 tick = 0;           // monotonic clock, ms
    ApiResponder respond;      // for deferred answers only
};

// Reads the members of a request body, keeping the first problem as a 400 answer.
class FieldReader
{
public:
    FieldReader(const QJsonObject &object, const QString &domain);

    QString text(const char *key, int maxLength, bool required = true);
    qint64 integer(const char *key, qint64 minimum, qint64 maximum, qint64 fallback, bool required = true);
    QJsonObject object(const char *key, bool required = true);
    QJsonArray array(const char *key, int maxCount, bool required = true);
    // A text that must match `pattern` wholly.
    QString matching(const char *key, const QRegularExpression &pattern, bool required = true);

    bool ok() const { return m_ok; }
    ApiReply error() const { return m_error; }

private:
    void fail(const QString &code, const QString &description);

    QJsonObject m_object;
    QString m_domain;
    bool m_ok = true;
    ApiReply m_error;
};

// Maps method and path to a handler, answering 404 and 405 itself, parsing JSON bodies
// (400 "malformed_json") and checking bearer tokens (401) before a handler runs.
class ApiRouter
{
public:
    enum class Access { Public, Bearer };
    using Handler = std::function<ApiReply(ApiRequest &)>;

    explicit ApiRouter(CloudStore *store);

    // `pattern` is a regular expression over the whole path; its groups become captures.
    void add(QHttpServerRequest::Method method, const QString &pattern, const QString &domain, Access access,
             Handler handler);
    void dispatch(const QHttpServerRequest &request, qint64 now, qint64 tick, const ApiResponder &respond);

private:
    struct Route
    {
        QHttpServerRequest::Method method;
        QRegularExpression pattern;
        QString domain;
        Access access;
        Handler handler;
    };

    CloudStore *m_store;
    QList<Route> m_routes;
};

QString methodName(QHttpServerRequest::Method method);
