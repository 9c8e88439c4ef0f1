#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

class LoopbackSocket;

// The client end of a plain (ws://) websocket, as much of it as a browser's DevTools endpoint
// needs: the opening handshake, text messages both ways, ping, close. Written on a bare TCP
// socket because the general-purpose one loads the TLS libraries and the system's certificates
// on construction, which for a loopback connection costs more than the whole handshake.
class WebSocketClient : public QObject
{
    Q_OBJECT

public:
    // Status codes of a close (RFC 6455, 7.4.1).
    enum CloseCode : quint16
    {
        CloseNormal = 1000,
        CloseProtocolError = 1002,
        CloseTooMuchData = 1009,
    };

    // A message (or frame) that announces more than `largestMessage` bytes closes the connection
    // with CloseTooMuchData before any of it is read.
    explicit WebSocketClient(qint64 largestMessage, QObject* parent = nullptr);
    ~WebSocketClient() override;

    // Connects and sends the handshake; connected() or failed() follows.
    void open(const QUrl& url);
    // Sends one text message in one frame; false when not connected.
    bool sendText(const QByteArray& utf8);
    // Closes at once; no signal follows.
    void abort();

    bool isOpen() const { return m_state == State::Open; }
    // Why the connection was closed by us (CloseTooMuchData, CloseProtocolError) or by the
    // other end; 0 while open or when it just ended.
    quint16 closeCode() const { return m_closeCode; }
    QString closeReason() const { return m_closeReason; }

Q_SIGNALS:
    void connected();
    // Opening failed (nothing listens, the handshake was refused); not emitted after connected().
    void failed(const QString& why);
    // The open connection ended, by either side or a broken socket.
    void disconnected();
    void textMessageReceived(const QByteArray& utf8);

private:
    enum class State
    {
        Idle,
        Connecting,
        Handshake,
        Open,
        Closed,
    };

    void onConnected();
    void onReadyRead();
    void onSocketGone();
    bool readHandshake();
    // Handles whole frames at the front of the buffer; false when the connection was closed.
    bool readFrames();
    void sendFrame(quint8 opcode, const QByteArray& payload);
    void closeWith(quint16 code, const QString& reason);
    void fail(const QString& why);

    qint64 m_largestMessage;
    LoopbackSocket* m_socket = nullptr;
    State m_state = State::Idle;
    QUrl m_url;
    QByteArray m_key;
    QByteArray m_buffer;
    QByteArray m_message; // a text message arriving in several frames
    bool m_inMessage = false;
    quint16 m_closeCode = 0;
    QString m_closeReason;
};
