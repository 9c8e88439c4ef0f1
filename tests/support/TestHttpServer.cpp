#include "TestHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

// Requests with a body are not needed by the tests; the head ends at the first empty line.
constexpr qsizetype MaxHeadBytes = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 404:
        return "Not Found";
    default:
        return "Status";
    }
}

} // namespace

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

bool TestHttpServer::start()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl TestHttpServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void TestHttpServer::serve(const QString& path, const Response& response)
{
    m_responses.insert(path, response);
}

void TestHttpServer::serve(const QString& path, const QByteArray& contentType,
                           const QByteArray& body)
{
    serve(path, Response{contentType, body, {}, 200});
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void TestHttpServer::onReadyRead(QTcpSocket* socket)
{
    if (socket->property("answered").toBool())
        return;
    const QByteArray seen = socket->peek(MaxHeadBytes);
    if (!seen.contains("\r\n\r\n") && seen.size() < MaxHeadBytes)
        return; // the head is not complete yet
    socket->setProperty("answered", true);
    const QByteArray requestLine = seen.left(seen.indexOf("\r\n"));
    const QList<QByteArray> parts = requestLine.split(' ');
    const QByteArray method = parts.value(0);
    const QString path = QString::fromLatin1(parts.value(1));
    m_log.append(QString::fromLatin1(method) + u' ' + path);

    const auto it = m_responses.constFind(path);
    const Response r =
        it != m_responses.constEnd() ? *it : Response{"text/plain", "not found", {}, 404};
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reasonPhrase(r.status) +
                      "\r\nContent-Length: " + QByteArray::number(r.body.size()) +
                      "\r\nConnection: close\r\n";
    if (!r.contentType.isEmpty())
        head += "Content-Type: " + r.contentType + "\r\n";
    for (const auto& [name, value] : r.headers)
        head += name + ": " + value + "\r\n";
    head += "\r\n";
    socket->write(head);
    if (method != "HEAD")
        socket->write(r.body);
    socket->disconnectFromHost(); // after the pending bytes are written
}
