#pragma once

#include <QString>
#include <functional>
#include <memory>

class QSocketNotifier;

// Keeps one running instance per user: a lock on a file named after the program in the user's
// runtime folder. The lock is the kernel's (flock), which ends with its process: a crashed
// instance leaves no lock behind, and taking it needs no write to disk.
// Beside the lock the running instance listens on a local socket, so that a later start can ask
// it to bring its window back instead of leaving the user with nothing on the screen.
class SingleInstance
{
public:
    explicit SingleInstance(const QString& name, const QString& folder = QString());
    ~SingleInstance();

    bool tryAcquire();
    QString lockPath() const { return m_path; }
    QString socketPath() const { return m_socketPath; }

    // In the instance that holds the lock: calls onWake, from the event loop, for every later
    // start. False when the socket cannot be made (later starts then only end).
    bool listen(std::function<void()> onWake);
    // In a later start: asks the running instance to show itself. It may still be starting, so
    // this tries again for up to waitMs; false when it never answered.
    bool wakeRunning(int waitMs = 3000) const;

private:
    QString m_path;
    QString m_socketPath;
    class Caller;

    int m_lockFd = -1;
    int m_serverFd = -1;
    std::unique_ptr<QSocketNotifier> m_listener;
};
