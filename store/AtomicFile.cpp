#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

mode_t DefaultMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

constexpr char kTemporaryPrefix[] = ".nimbril-";

} // namespace

int OpenLockedTemporaryFile(const QString& folder, QString* tempPath)
{
    QByteArray name = QFile::encodeName(QDir(folder).absolutePath() + u'/' +
                                        QLatin1String(kTemporaryPrefix) + QStringLiteral("XXXXXX"));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return -1;
    // The lock goes with the process: a writer that dies leaves an unlocked file.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(name.constData());
        errno = error;
        return -1;
    }
    *tempPath = QFile::decodeName(name);
    return fd;
}

int SweepLeftoverFiles(const QString& folder, int depth)
{
    int removed = 0;
    const QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot |
                          QDir::NoSymLinks | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir()) {
            if (depth > 0)
                removed += SweepLeftoverFiles(entry.filePath(), depth - 1);
            continue;
        }
        const QString name = entry.fileName();
        if (!name.startsWith(QLatin1String(kTemporaryPrefix)) ||
            name.size() != qsizetype(sizeof kTemporaryPrefix - 1 + 6) || !entry.isFile())
            continue;
        const QByteArray path = QFile::encodeName(entry.filePath());
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st
        {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::unlink(path.constData()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

AtomicFileWriter::AtomicFileWriter(const QString& path) : m_path(path) {}

AtomicFileWriter::~AtomicFileWriter()
{
    discard();
}

void AtomicFileWriter::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.isEmpty()) {
        ::unlink(QFile::encodeName(m_temp).constData());
        m_temp.clear();
    }
}

bool AtomicFileWriter::open()
{
    const QFileInfo target(m_path);
    if (target.isDir()) {
        m_error = QStringLiteral("a folder has that name");
        return false;
    }
    m_fd = OpenLockedTemporaryFile(target.absolutePath(), &m_temp);
    if (m_fd < 0) {
        m_error = SystemError();
        return false;
    }
    struct stat st
    {};
    // The permissions of the file replaced, never of what a link there points to, and never its
    // set-user, set-group or sticky bits.
    m_replacesFile =
        ::lstat(QFile::encodeName(m_path).constData(), &st) == 0 && S_ISREG(st.st_mode);
    const mode_t mode = m_replacesFile ? (st.st_mode & 0777) : DefaultMode();
    ::fchmod(m_fd, mode);
    return true;
}

bool AtomicFileWriter::write(const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_error = SystemError();
            discard();
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool AtomicFileWriter::commit()
{
    if (m_fd < 0) {
        return false;
    }
    // The bytes reach the disk before they take an old file's place, so that a crash of the
    // system cannot leave an empty file where the old one was. A file that replaces nothing has
    // nothing to lose; it is not flushed, which would cost a capture a journal commit (up to tens
    // of milliseconds) per page. Renamed while still open, and so locked: a sweep never takes it
    // meanwhile.
    if ((m_replacesFile && ::fsync(m_fd) != 0) ||
        ::rename(QFile::encodeName(m_temp).constData(), QFile::encodeName(m_path).constData()) !=
            0) {
        m_error = SystemError();
        discard();
        return false;
    }
    m_temp.clear();
    const int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0) {
        m_error = SystemError();
        return false;
    }
    return true;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    AtomicFileWriter writer(path);
    const bool ok =
        writer.open() && writer.write(bytes.constData(), bytes.size()) && writer.commit();
    if (!ok && error)
        *error = writer.errorString();
    return ok;
}
