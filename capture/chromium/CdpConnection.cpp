#include "CdpConnection.h"

#include "CdpEndpoint.h"
#include "Errors.h"
#include "WebSocketClient.h"

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QTimer>
#include <algorithm>

CdpConnection::CdpConnection(QObject* parent) : QObject(parent) {}

CdpConnection::~CdpConnection()
{
    if (m_socket) {
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->abort();
    }
}

void CdpConnection::connectTo(const QUrl& url, int timeoutMs)
{
    if (!Cdp::isLoopbackWebSocketUrl(url)) {
        m_lastFailure = QStringLiteral("refused non-loopback address %1").arg(url.toString());
        throw BrowserUnreachableError(CdpEndpoint::notLoopbackText(url.toDisplayString()));
    }
    close();
    m_url = url;
    m_connectError.clear();
    m_closedInHandshake = false;
    m_lostToOversize = false;

    // Replies (resource bodies, a large page) come as single frames of many megabytes, but none
    // larger than the largest resource in base64: a frame that announces more is not from a
    // browser, and the socket closes before reading it.
    auto* socket = new WebSocketClient(LargestMessage, this);
    m_socket = socket;
    connect(socket, &WebSocketClient::connected, this, [this] {
        m_connected = true;
        wakeWaiters();
    });
    connect(socket, &WebSocketClient::failed, this, [this](const QString& why) {
        if (!m_connected && m_connectError.isEmpty())
            m_connectError = why;
        wakeWaiters();
    });
    connect(socket, &WebSocketClient::disconnected, this, &CdpConnection::onSocketGone);
    connect(socket, &WebSocketClient::textMessageReceived, this, &CdpConnection::onTextMessage);
    socket->open(url);

    const bool settled = waitUntil(
        [&] {
            return m_connected || !m_connectError.isEmpty() || m_closedInHandshake ||
                   m_socket != socket;
        },
        timeoutMs);
    if (m_connected && m_socket == socket)
        return;
    // Qt's texts end with a full stop.
    QString detail = m_connectError;
    while (detail.endsWith(u'.'))
        detail.chop(1);
    Message reason = detail;
    if (!settled)
        reason = {QStringLiteral("C_NoAnswerWithin"),
                  QStringLiteral("no answer within %1 s"),
                  {QString::number(timeoutMs / 1000.0)}};
    else if (detail.isEmpty())
        reason = {QStringLiteral("C_ConnectionClosed"),
                  QStringLiteral("the connection was closed")};
    if (m_socket == socket)
        dropSocket();
    m_lastFailure = QStringLiteral("connect %1: %2").arg(url.toString(), reason.text());
    throw BrowserUnreachableError({QStringLiteral("C_CannotConnect"),
                                   QStringLiteral("Could not connect to the browser at %1: %2."),
                                   {url.toDisplayString(), reason}});
}

void CdpConnection::reconnect(int timeoutMs)
{
    if (m_url.isEmpty())
        throw BrowserUnreachableError({QStringLiteral("C_NoBrowserAddress"),
                                       QStringLiteral("No browser address is known yet.")});
    connectTo(m_url, timeoutMs);
}

void CdpConnection::close()
{
    if (!m_socket)
        return;
    const bool wasConnected = m_connected;
    failPending(QStringLiteral("connection closed"));
    dropSocket();
    if (wasConnected)
        Q_EMIT disconnected();
    wakeWaiters();
}

bool CdpConnection::isConnected() const
{
    return m_socket && m_connected;
}

QJsonObject CdpConnection::call(const QString& method, const QJsonObject& params,
                                const QString& sessionId, int timeoutMs)
{
    return wait(send(method, params, sessionId), timeoutMs);
}

int CdpConnection::send(const QString& method, const QJsonObject& params, const QString& sessionId)
{
    if (!isConnected())
        fail(QStringLiteral("%1: not connected").arg(method));
    const int id = m_nextId++;
    m_pending.insert(id, Pending{method, false, false, {}, {}});
    m_socket->sendText(Cdp::buildRequest(id, method, params, sessionId));
    return id;
}

bool CdpConnection::isAnswered(int id) const
{
    const auto it = m_pending.constFind(id);
    return it != m_pending.constEnd() && it->done;
}

QJsonObject CdpConnection::wait(int id, int timeoutMs)
{
    return waitAll({id}, timeoutMs).constFirst();
}

QList<QJsonObject> CdpConnection::waitAll(const QList<int>& ids, int timeoutMs)
{
    for (int id : ids) {
        if (!m_pending.contains(id))
            fail(QStringLiteral("wait for unknown request %1").arg(id));
        // Whoever waits takes the reply; nothing else runs on it.
        m_whenAnswered.remove(id);
    }
    // A request that is still not done afterwards ran out of time.
    waitUntil(
        [&] {
            for (int id : ids) {
                const auto it = m_pending.constFind(id);
                if (it != m_pending.constEnd() && !it->done)
                    return false;
            }
            return true;
        },
        timeoutMs);

    QList<QJsonObject> results;
    results.reserve(ids.size());
    QString failure;
    bool unanswered = false;
    for (int id : ids) {
        const Pending p = m_pending.take(id);
        if (!failure.isEmpty())
            continue;
        if (p.method.isEmpty())
            failure = QStringLiteral("request %1 was discarded while waiting").arg(id);
        else if (!p.done) {
            failure = QStringLiteral("%1: no reply within %2 ms").arg(p.method).arg(timeoutMs);
            unanswered = m_connected;
        } else if (p.failed)
            failure = p.failure;
        results.append(p.result);
    }
    if (unanswered) {
        // The browser is there but did not answer: the caller may go on with other pages.
        m_lastFailure = failure;
        throw NoAnswerError();
    }
    if (!failure.isEmpty())
        fail(failure);
    return results;
}

void CdpConnection::whenAnswered(int id, std::function<void()> then)
{
    if (m_pending.contains(id))
        m_whenAnswered.insert(id, std::move(then));
}

void CdpConnection::discard(int id)
{
    m_pending.remove(id);
    m_whenAnswered.remove(id);
}

std::optional<Cdp::Event> CdpConnection::waitForEvent(const EventPredicate& matches, int timeoutMs,
                                                      std::optional<quint64> from)
{
    quint64 cursor = from.value_or(m_nextEventSeq);
    std::optional<Cdp::Event> found;
    const auto scan = [&] {
        const quint64 first = m_events.empty() ? m_nextEventSeq : m_events.front().first;
        for (size_t i = cursor > first ? cursor - first : 0; i < m_events.size(); ++i) {
            const Cdp::Event& event = m_events[i].second;
            cursor = m_events[i].first + 1;
            if (matches(event)) {
                found = event;
                return true;
            }
        }
        return !isConnected();
    };
    waitUntil(scan, timeoutMs);
    if (found)
        return found;
    if (!isConnected())
        fail(QStringLiteral("connection lost while waiting for an event"));
    return std::nullopt;
}

QList<Cdp::Event> CdpConnection::eventsSince(quint64 from) const
{
    QList<Cdp::Event> events;
    for (const auto& [seq, event] : m_events) {
        if (seq >= from)
            events.append(event);
    }
    return events;
}

void CdpConnection::onTextMessage(const QByteArray& utf8)
{
    const Cdp::Message m = Cdp::parseMessage(utf8);
    if (m.kind == Cdp::Message::Kind::Reply) {
        const auto it = m_pending.find(m.id);
        if (it == m_pending.end() || it->done) // a late reply to a call that gave up
            return;
        it->done = true;
        it->failed = m.isError;
        it->result = m.result;
        if (m.isError)
            it->failure = QStringLiteral("%1: error %2: %3")
                              .arg(it->method)
                              .arg(m.errorCode)
                              .arg(m.errorMessage);
        wakeWaiters();
        if (const std::function<void()> then = m_whenAnswered.take(m.id))
            then();
    } else if (m.kind == Cdp::Message::Kind::Event) {
        m_events.emplace_back(m_nextEventSeq++, Cdp::Event{m.method, m.params, m.sessionId});
        while (m_events.size() > static_cast<size_t>(EventBacklog))
            m_events.pop_front();
        Q_EMIT eventReceived(m.method, m.params, m.sessionId);
        wakeWaiters();
    }
}

void CdpConnection::onSocketGone()
{
    if (!m_connected) { // during the handshake: connectTo() reports it
        m_closedInHandshake = true;
        wakeWaiters();
        return;
    }
    const QString reason = m_socket->closeReason();
    m_lostToOversize = m_socket->closeCode() == WebSocketClient::CloseTooMuchData;
    failPending(m_lostToOversize
                    ? QStringLiteral("connection closed: a message of more than %1 MiB")
                          .arg(LargestMessage >> 20)
                : reason.isEmpty() ? QStringLiteral("connection lost")
                                   : QStringLiteral("connection lost: %1").arg(reason));
    dropSocket();
    Q_EMIT disconnected();
    wakeWaiters();
}

void CdpConnection::dropSocket()
{
    WebSocketClient* socket = m_socket;
    m_socket = nullptr;
    m_connected = false;
    if (!socket)
        return;
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater(); // may be inside one of its own signals
}

void CdpConnection::failPending(const QString& why)
{
    m_whenAnswered.clear();
    for (Pending& p : m_pending) {
        if (p.done)
            continue;
        p.done = true;
        p.failed = true;
        p.failure = QStringLiteral("%1: %2").arg(p.method, why);
    }
    m_lastFailure = why;
}

bool CdpConnection::waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    const QDeadlineTimer deadline(std::max(timeoutMs, 0));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    m_loops.append(&loop);
    const auto unregister = qScopeGuard([&] { m_loops.removeOne(&loop); });
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        timer.start(static_cast<int>(deadline.remainingTime()));
        loop.exec(m_waitFlags);
    }
    return true;
}

void CdpConnection::wakeWaiters()
{
    // Nested waits each re-check their own condition; an outer loop that is quit while an
    // inner one runs ends as soon as the inner one returns.
    for (QEventLoop* loop : std::as_const(m_loops))
        loop->quit();
}

void CdpConnection::fail(const QString& why)
{
    m_lastFailure = why;
    throw SafecallError();
}
