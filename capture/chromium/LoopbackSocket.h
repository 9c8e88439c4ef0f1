#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <utility>

class QSocketNotifier;

// A TCP connection to a browser's port on this computer, on the system's sockets and the event
// loop's notifiers. The toolkit's network module would do, but it brings its proxy, TLS and
// Kerberos libraries into every start, which costs a capture more than all its loopback talk.
// Signals come from the event loop (connected() also from waitForConnected()), never from
// inside another call.
class LoopbackSocket : public QObject
{
    Q_OBJECT

public:
    explicit LoopbackSocket(QObject* parent = nullptr);
    ~LoopbackSocket() override;

    // Starts connecting to a numeric address ("127.0.0.1", "::1", "[::1]") or "localhost";
    // connected() or errorOccurred() follows.
    void connectToHost(const QString& host, quint16 port);
    // Waits until the connection is made; false when it was refused or the time ran out.
    bool waitForConnected(int timeoutMs);
    // Sends the bytes, now as far as the socket takes them and the rest as it empties.
    void write(const QByteArray& bytes);
    // Sends what is still queued, waiting up to `timeoutMs` while the socket is full.
    void flush(int timeoutMs = 1000);
    // What arrived since the last call.
    QByteArray readAll() { return std::exchange(m_in, {}); }
    // Closes at once; no signal follows.
    void abort();
    bool isConnected() const { return m_state == State::Connected; }
    QString errorString() const { return m_error; }

Q_SIGNALS:
    void connected();
    void readyRead();
    // The other end closed an open connection.
    void disconnected();
    // Connecting failed, or the connection broke; errorString() says why.
    void errorOccurred();

private:
    enum class State
    {
        Idle,
        Connecting,
        Connected,
        Closed,
    };
    void onWritable();
    void onReadable();
    // Sends what the socket takes of m_out; false when the connection broke.
    bool sendQueued();
    void breakOff(const QString& why);

    int m_fd = -1;
    State m_state = State::Idle;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QByteArray m_in;
    QByteArray m_out;
    QString m_error;
};
