#pragma once

#include <QAbstractHttpServer>
#include <QElapsedTimer>

class ApiRouter;
struct ApiReply;
struct HttpReply;

// Qt's HTTP server with this service's answers: the REST interface under /api/ through
// the router and the browser console's static files from the program's resources.
// Answers go out through each socket's ConnectionGuard so that deferred ones keep
// their order.
class CloudHttpServer : public QAbstractHttpServer
{
    Q_OBJECT
public:
    CloudHttpServer(ApiRouter *router, bool tls, QObject *parent = nullptr);

    static HttpReply httpReply(const ApiReply &reply, bool tls);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    HttpReply staticFile(const QHttpServerRequest &request) const;

    ApiRouter *m_router;
    bool m_tls;
    QElapsedTimer m_clock;
};
