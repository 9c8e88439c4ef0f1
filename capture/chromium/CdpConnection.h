#pragma once

#include "CdpProtocol.h"

#include <QEventLoop>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <deque>
#include <functional>
#include <optional>

class WebSocketClient;

// One websocket to the browser for the program's whole run, because a browser whose debugging
// was allowed by hand asks the user again about every new connection.
class CdpConnection : public QObject
{
    Q_OBJECT

public:
    // Every wait runs a local event loop (the user interface keeps repainting) and has a limit.
    // A failed call (an error reply, no reply within the limit, the connection lost or never
    // open) throws SafecallError, whose text is fixed; lastFailure() says what went wrong. Not
    // thread-safe; the connection must outlive its running waits.
    static constexpr int DefaultConnectTimeoutMs = 5000;
    static constexpr int DefaultCallTimeoutMs = 30000;
    // A browser answers questions about itself at once; a page busy in a script of its own
    // answers none. These limits tell such a silence apart from long work (a large page).
    static constexpr int BrowserAnswerMs = 5000;
    static constexpr int PageFirstAnswerMs = 10000;
    // The largest message taken from the other end: a resource of kLargestResource bytes in
    // base64 fits, with room for the reply around it. A bigger one closes the connection.
    static constexpr qint64 LargestMessage = qint64(256) << 20;

    explicit CdpConnection(QObject* parent = nullptr);
    ~CdpConnection() override;

    // Opens the websocket to a loopback ws:// URL (closing any earlier connection first) and
    // waits until the handshake is done. Throws BrowserUnreachableError with a plain text when
    // the URL is not a loopback websocket URL, nothing answers, the handshake is refused, or the
    // time limit passes.
    void connectTo(const QUrl& url, int timeoutMs = DefaultConnectTimeoutMs);
    // Opens the last URL given to connectTo() again, e.g. after the connection was lost. A
    // browser that restarted has a new URL: find it again and use connectTo() instead.
    void reconnect(int timeoutMs = DefaultConnectTimeoutMs);
    // Closes the connection; calls still waiting fail.
    void close();
    bool isConnected() const;
    // The connection was closed because the other end sent a message over LargestMessage.
    bool lostToOversize() const { return m_lostToOversize; }
    QUrl url() const { return m_url; }

    // Sends one request and waits for its reply; returns the reply's result object.
    QJsonObject call(const QString& method, const QJsonObject& params = {},
                     const QString& sessionId = {}, int timeoutMs = DefaultCallTimeoutMs);

    // Pipelining: send() puts a request on the wire and returns its id at once; wait() or
    // waitAll() (distinct ids) later collects the result(s). Each id from send() must be waited for
    // once (or discarded); replies are kept until then. waitAll() returns the results in the order
    // of ids and throws SafecallError if any of them failed; the time limit covers them all.
    int send(const QString& method, const QJsonObject& params = {}, const QString& sessionId = {});
    QJsonObject wait(int id, int timeoutMs = DefaultCallTimeoutMs);
    QList<QJsonObject> waitAll(const QList<int>& ids, int timeoutMs = DefaultCallTimeoutMs);
    // Forgets a sent request whose reply nobody will wait for.
    void discard(int id);
    // Whether the reply to a sent request has come (a wait for it returns at once); never waits
    // and reads nothing from the socket.
    bool isAnswered(int id) const;
    // Runs `then` once, as soon as the reply to a sent request is read (from inside the event
    // that read it), so that what depends on it can be sent without waiting for anyone to ask.
    // Never run for a request that is discarded, waited for before its reply, or lost with the
    // connection.
    void whenAnswered(int id, std::function<void()> then);

    // Events: every event is emitted as eventReceived() when it arrives, and the most recent
    // ones (up to EventBacklog) are kept so that a caller can wait for an event that may come
    // while it is still waiting for the reply of the call that causes it:
    //     const quint64 from = conn.eventCursor();
    //     conn.call("Page.navigate", ...);
    //     conn.waitForEvent([](const Cdp::Event& e) { return ...; }, 10000, from);
    static constexpr int EventBacklog = 4096;
    using EventPredicate = std::function<bool(const Cdp::Event&)>;
    // The position of the next event to arrive.
    quint64 eventCursor() const { return m_nextEventSeq; }
    // The first event at or after cursor `from` (default: only events still to come) that
    // matches; nullopt when none came within the time limit. Throws SafecallError when the
    // connection is lost or not open.
    std::optional<Cdp::Event> waitForEvent(const EventPredicate& matches, int timeoutMs,
                                           std::optional<quint64> from = std::nullopt);
    // The kept events at or after cursor `from`, oldest first.
    QList<Cdp::Event> eventsSince(quint64 from) const;

    // Which events the local loops handle while waiting; by default everything but user input,
    // so that a click cannot start a second command inside a running one.
    void setWaitFlags(QEventLoop::ProcessEventsFlags flags) { m_waitFlags = flags; }

    // What made the last call or connection fail, for logs and tests.
    QString lastFailure() const { return m_lastFailure; }

Q_SIGNALS:
    // Handlers run inside the connection's message processing and must not throw.
    void eventReceived(const QString& method, const QJsonObject& params, const QString& sessionId);
    // The connection was lost or closed (not emitted for a failed connectTo()).
    void disconnected();

private:
    struct Pending
    {
        QString method;
        bool done = false;
        bool failed = false;
        QJsonObject result;
        QString failure;
    };

    void onTextMessage(const QByteArray& utf8);
    void onSocketGone();
    void dropSocket();
    void failPending(const QString& why);
    // Runs local event loops until done() is true or the deadline passes; false on timeout.
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);
    void wakeWaiters();
    [[noreturn]] void fail(const QString& why);

    WebSocketClient* m_socket = nullptr;
    bool m_connected = false;
    bool m_lostToOversize = false;
    QString m_connectError;
    bool m_closedInHandshake = false; // the socket closed before the handshake ended
    QUrl m_url;
    int m_nextId = 1;
    QHash<int, Pending> m_pending;
    QHash<int, std::function<void()>> m_whenAnswered;
    std::deque<std::pair<quint64, Cdp::Event>> m_events;
    quint64 m_nextEventSeq = 0;
    QList<QEventLoop*> m_loops;
    QEventLoop::ProcessEventsFlags m_waitFlags = QEventLoop::ExcludeUserInputEvents;
    QString m_lastFailure;
};
