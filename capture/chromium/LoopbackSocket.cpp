#include "LoopbackSocket.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackSocket::LoopbackSocket(QObject* parent) : QObject(parent) {}

LoopbackSocket::~LoopbackSocket()
{
    abort();
}

void LoopbackSocket::connectToHost(const QString& host, quint16 port)
{
    abort();
    m_error.clear();
    QString name = host;
    if (name.startsWith(u'[') && name.endsWith(u']'))
        name = name.mid(1, name.size() - 2);
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        name = QStringLiteral("127.0.0.1");
    const QByteArray text = name.toLatin1();
    sockaddr_storage address{};
    socklen_t length = 0;
    if (auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        inet_pton(AF_INET, text.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof(sockaddr_in);
    } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
               inet_pton(AF_INET6, text.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
    }
    m_state = State::Connecting;
    if (length == 0) {
        m_state = State::Closed;
        m_error = QStringLiteral("%1 is no address on this computer").arg(host);
        QTimer::singleShot(0, this, &LoopbackSocket::errorOccurred);
        return;
    }
    m_fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        breakOff(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    // Requests are small and each waits for its answer: none should wait for the next.
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_readNotifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Read, this);
    m_readNotifier->setEnabled(false);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &LoopbackSocket::onReadable);
    m_writeNotifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Write, this);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &LoopbackSocket::onWritable);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 &&
        errno != EINPROGRESS) {
        // Told at once (refused): said from the event loop, as any other outcome.
        m_writeNotifier->setEnabled(false);
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        QTimer::singleShot(0, this, [this, why] { breakOff(why); });
    }
}

bool LoopbackSocket::waitForConnected(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (m_state == State::Connecting && m_fd >= 0) {
        pollfd p{m_fd, POLLOUT, 0};
        const int n = ::poll(&p, 1, int(deadline.remainingTime()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        onWritable();
    }
    return m_state == State::Connected;
}

void LoopbackSocket::write(const QByteArray& bytes)
{
    if (m_state != State::Connected && m_state != State::Connecting)
        return;
    m_out += bytes;
    if (m_state == State::Connected && !sendQueued())
        QTimer::singleShot(0, this, [this] { breakOff(m_error); });
}

void LoopbackSocket::flush(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (m_state == State::Connected && !m_out.isEmpty() && !deadline.hasExpired()) {
        if (!sendQueued())
            return;
        if (m_out.isEmpty())
            return;
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, int(deadline.remainingTime()));
    }
}

void LoopbackSocket::abort()
{
    // The notifiers may be inside one of their own signals.
    for (QSocketNotifier* notifier : {m_readNotifier, m_writeNotifier}) {
        if (!notifier)
            continue;
        notifier->setEnabled(false);
        disconnect(notifier, nullptr, this, nullptr);
        notifier->deleteLater();
    }
    m_readNotifier = m_writeNotifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_state != State::Idle)
        m_state = State::Closed;
    m_in.clear();
    m_out.clear();
}

void LoopbackSocket::onWritable()
{
    if (m_state == State::Connecting) {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        if (error != 0) {
            breakOff(QString::fromLocal8Bit(std::strerror(error)));
            return;
        }
        m_state = State::Connected;
        m_readNotifier->setEnabled(true);
        if (!sendQueued()) {
            breakOff(m_error);
            return;
        }
        Q_EMIT connected();
        return;
    }
    if (!sendQueued())
        breakOff(m_error);
}

void LoopbackSocket::onReadable()
{
    bool closed = false;
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            m_in.append(chunk, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n < 0)
            m_error = QString::fromLocal8Bit(std::strerror(errno));
        closed = true;
        break;
    }
    if (!m_in.isEmpty())
        Q_EMIT readyRead();
    // A handler may have closed the socket meanwhile.
    if (closed && m_state == State::Connected) {
        abort();
        if (m_error.isEmpty())
            m_error = QStringLiteral("the other end closed the connection");
        Q_EMIT disconnected();
    }
}

bool LoopbackSocket::sendQueued()
{
    while (!m_out.isEmpty()) {
        const ssize_t n = ::send(m_fd, m_out.constData(), size_t(m_out.size()), MSG_NOSIGNAL);
        if (n > 0) {
            m_out.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_out.isEmpty());
    return true;
}

void LoopbackSocket::breakOff(const QString& why)
{
    // Said once: a socket closed meanwhile (abort()) says nothing.
    const bool wasOpen = m_state == State::Connecting || m_state == State::Connected;
    abort();
    m_error = why;
    if (wasOpen)
        Q_EMIT errorOccurred();
}
