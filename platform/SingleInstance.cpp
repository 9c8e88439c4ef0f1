#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a later start sends; the running instance answers with the same word once it has it.
constexpr char kWakeWord[] = "show\n";

} // namespace

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
    if (m_server)
        m_server->close();
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
    if (m_lockFd < 0)
        return false;
    // Whoever holds the lock owns the socket's name: a socket file left there is a crashed
    // instance's.
    QLocalServer::removeServer(m_socketPath);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        m_server.reset();
        return false;
    }
    QLocalServer* server = m_server.get();
    QObject::connect(server, &QLocalServer::newConnection, server, [server, onWake] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket,
                             &QLocalSocket::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, onWake] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine(64) != kWakeWord) {
                    socket->disconnectFromServer();
                    return;
                }
                socket->write(kWakeWord);
                socket->flush();
                onWake();
            });
        }
    });
    return true;
}

bool SingleInstance::wakeRunning(int waitMs) const
{
    const QDeadlineTimer deadline(waitMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
            socket.write(kWakeWord);
            while (socket.bytesToWrite() > 0 &&
                   socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
                ;
            while (!socket.canReadLine() &&
                   socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                ;
            if (socket.canReadLine() && socket.readLine(64) == kWakeWord)
                return true;
            return false;
        }
        // Nobody listens yet: the running instance may still be starting.
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}
