#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>
#include <utility>

class QTcpSocket;

// Fixed answers on 127.0.0.1, so that browser tests load pages without the network and can see
// which requests the browser made.
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Response
    {
        QByteArray contentType;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers; // extra headers, e.g. Cache-Control
        int status = 200;
    };

    explicit TestHttpServer(QObject* parent = nullptr);

    // Listens on a free port of 127.0.0.1; false when that fails. Answers HTTP/1.1, one
    // request per connection (Connection: close), from the event loop: the test must run one
    // (any local wait of the code under test does).
    bool start();
    quint16 port() const { return m_server.serverPort(); }
    // http://127.0.0.1:PORT + path.
    QUrl url(const QString& path) const;

    // The answer for a path (query included, if the request has one); others get 404.
    void serve(const QString& path, const Response& response);
    void serve(const QString& path, const QByteArray& contentType, const QByteArray& body);

    // "GET /index.html", ... in the order the requests arrived.
    QStringList requestLog() const { return m_log; }
    void clearLog() { m_log.clear(); }

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);

    QTcpServer m_server;
    QHash<QString, Response> m_responses;
    QStringList m_log;
};
