#pragma once

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>
#include <functional>

// A DevTools endpoint in the test process: records requests and answers them with `handler`
// (by default a reply echoing the method), so the tests decide order, errors and silence.
class FakeDevToolsServer : public QObject
{
public:
    using Handler = std::function<void(QWebSocket* peer, const QJsonObject& request)>;

    FakeDevToolsServer() : m_server(QStringLiteral("fake"), QWebSocketServer::NonSecureMode)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* peer = m_server.nextPendingConnection()) {
                peer->setParent(this);
                peer->setOutgoingFrameSize(QWebSocket::maxOutgoingFrameSize());
                connections.append(peer);
                connect(peer, &QWebSocket::textMessageReceived, this,
                        [this, peer](const QString& text) {
                            const QJsonObject request =
                                QJsonDocument::fromJson(text.toUtf8()).object();
                            requests.append(request);
                            handler(peer, request);
                        });
            }
        });
    }

    QUrl url() const
    {
        return QUrl(
            QStringLiteral("ws://127.0.0.1:%1/devtools/browser/fake").arg(m_server.serverPort()));
    }

    static void reply(QWebSocket* peer, const QJsonObject& request, const QJsonObject& result)
    {
        send(peer, {{"id", request.value("id")}, {"result", result}});
    }
    static void replyError(QWebSocket* peer, const QJsonObject& request, const QString& message)
    {
        send(peer, {{"id", request.value("id")},
                    {"error", QJsonObject{{"code", -32000}, {"message", message}}}});
    }
    static void event(QWebSocket* peer, const QString& method, const QJsonObject& params,
                      const QString& sessionId = {})
    {
        QJsonObject message{{"method", method}, {"params", params}};
        if (!sessionId.isEmpty())
            message.insert("sessionId", sessionId);
        send(peer, message);
    }
    static void send(QWebSocket* peer, const QJsonObject& message)
    {
        peer->sendTextMessage(
            QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    }

    Handler handler = [](QWebSocket* peer, const QJsonObject& request) {
        reply(peer, request,
              {{"method", request.value("method")}, {"params", request.value("params")}});
    };
    QList<QJsonObject> requests;
    QList<QWebSocket*> connections;

private:
    QWebSocketServer m_server;
};
