#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
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
    m_lock = std::make_unique<QLockFile>(m_path);
    // A lock whose process is gone is stale at once, however young it is.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

bool SingleInstance::tryAcquire()
{
    return m_lock->tryLock(0);
}

bool SingleInstance::listen(std::function<void()> onWake)
{
    if (!m_lock->isLocked())
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
