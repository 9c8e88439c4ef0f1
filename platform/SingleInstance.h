#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// Keeps one running instance per user: a lock file named after the program in the user's
// runtime folder. A lock left by a crashed instance is cleared; a live one makes tryAcquire fail.
class SingleInstance
{
public:
    explicit SingleInstance(const QString& name, const QString& folder = QString());
    bool tryAcquire();
    QString lockPath() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};
