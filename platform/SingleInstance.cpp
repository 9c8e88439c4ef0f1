#include "SingleInstance.h"

#include <QDir>
#include <QStandardPaths>
#include <unistd.h>

SingleInstance::SingleInstance(const QString& name, const QString& folder)
{
    QString dir = folder;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    m_path = QDir(dir).filePath(QStringLiteral("%1-%2.lock").arg(name).arg(getuid()));
    m_lock = std::make_unique<QLockFile>(m_path);
    // A lock whose process is gone is stale at once, however young it is.
    m_lock->setStaleLockTime(0);
}

bool SingleInstance::tryAcquire()
{
    return m_lock->tryLock(0);
}
