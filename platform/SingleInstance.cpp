#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// What a later start sends; the running instance answers with the same word once it has it.
constexpr char kWakeWord[] = "show\n";
constexpr int kWakeLength = sizeof kWakeWord - 1;

// The socket's address; false when the path does not fit one.
bool UnixAddress(const QString& path, sockaddr_un* address)
{
    const QByteArray name = QFile::encodeName(path);
    *address = {};
    address->sun_family = AF_UNIX;
    if (name.isEmpty() || size_t(name.size()) >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, name.constData(), size_t(name.size()));
    return true;
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool WaitFor(int fd, short events, const QDeadlineTimer& deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(qMax<qint64>(0, deadline.remainingTime())));
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0;
    }
}

} // namespace

// One later start's connection, read until its word has come (or it says something else).
class SingleInstance::Caller : public QObject
{
public:
    Caller(int fd, std::function<void()> onWake, QObject* parent)
        : QObject(parent), m_fd(fd), m_onWake(std::move(onWake)),
          m_notifier(qintptr(fd), QSocketNotifier::Read)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, &Caller::onReadable);
    }
    ~Caller() override { ::close(m_fd); }

private:
    void onReadable()
    {
        char chunk[64];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n > 0)
            m_said.append(chunk, n);
        if (n > 0 && m_said.size() < kWakeLength && QByteArray(kWakeWord).startsWith(m_said))
            return;
        m_notifier.setEnabled(false);
        if (m_said == kWakeWord) {
            [[maybe_unused]] const ssize_t sent =
                ::send(m_fd, kWakeWord, kWakeLength, MSG_NOSIGNAL | MSG_DONTWAIT);
            m_onWake();
        }
        deleteLater();
    }

    int m_fd;
    std::function<void()> m_onWake;
    QSocketNotifier m_notifier;
    QByteArray m_said;
};

SingleInstance::SingleInstance(const QString& name, const QString& folder)
{
    QString dir = folder;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    const QString base = QDir(dir).filePath(QStringLiteral("%1-%2").arg(name).arg(getuid()));
    m_path = base + QStringLiteral(".lock");
    m_socketPath = base + QStringLiteral(".socket");
}

SingleInstance::~SingleInstance()
{
    if (m_listener) {
        m_listener.reset();
        ::close(m_serverFd);
        QFile::remove(m_socketPath);
    }
    if (m_lockFd >= 0) {
        // Removed while still held, so that no later start locks a file that is on its way out.
        QFile::remove(m_path);
        ::close(m_lockFd);
    }
}

bool SingleInstance::tryAcquire()
{
    if (m_lockFd >= 0)
        return true;
    const QByteArray path = QFile::encodeName(m_path);
    // Twice at most: once more when the name went to a new file meanwhile.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        // The holder removes the file as it ends: a file locked just after that is no longer the
        // one the name stands for, and the name is tried again.
        struct stat held = {};
        struct stat named = {};
        if (::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            // For whoever looks: the process that holds it. The lock holds without this note.
            const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
            [[maybe_unused]] const bool noted =
                ::ftruncate(fd, 0) == 0 &&
                ::write(fd, pid.constData(), size_t(pid.size())) == pid.size();
            m_lockFd = fd;
            return true;
        }
        ::close(fd);
    }
    return false;
}

bool SingleInstance::listen(std::function<void()> onWake)
{
    if (m_lockFd < 0 || m_listener)
        return m_listener != nullptr;
    sockaddr_un address;
    if (!UnixAddress(m_socketPath, &address))
        return false;
    // Whoever holds the lock owns the socket's name: a socket file left there is a crashed
    // instance's.
    ::unlink(address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Only the user reaches it: the socket is made without rights for anyone else.
    const mode_t mask = ::umask(0077);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(fd, 8) != 0) {
        ::close(fd);
        return false;
    }
    m_serverFd = fd;
    m_listener = std::make_unique<QSocketNotifier>(qintptr(fd), QSocketNotifier::Read);
    QSocketNotifier* listener = m_listener.get();
    QObject::connect(listener, &QSocketNotifier::activated, listener, [fd, listener, onWake] {
        for (;;) {
            const int caller = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (caller < 0)
                return;
            new Caller(caller, onWake, listener);
        }
    });
    return true;
}

bool SingleInstance::wakeRunning(int waitMs) const
{
    sockaddr_un address;
    if (!UnixAddress(m_socketPath, &address))
        return false;
    const QDeadlineTimer deadline(waitMs);
    do {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        const auto closeFd = qScopeGuard([fd] { ::close(fd); });
        const bool reached =
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ||
            (errno == EINPROGRESS && WaitFor(fd, POLLOUT, deadline));
        if (reached) {
            if (::send(fd, kWakeWord, kWakeLength, MSG_NOSIGNAL) != kWakeLength)
                return false;
            QByteArray answer;
            while (answer.size() < kWakeLength && WaitFor(fd, POLLIN, deadline)) {
                char chunk[64];
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                if (n <= 0)
                    break;
                answer.append(chunk, n);
            }
            return answer == kWakeWord;
        }
        // Nobody listens yet: the running instance may still be starting.
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}
