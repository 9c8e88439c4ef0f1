#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

} // namespace

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
    QByteArray tmpl = QFile::encodeName(target.absolutePath() + QStringLiteral("/.nimbril-XXXXXX"));
    m_fd = ::mkstemp(tmpl.data());
    if (m_fd < 0) {
        m_error = SystemError();
        return false;
    }
    m_temp = QFile::decodeName(tmpl);
    struct stat st
    {};
    // The permissions of the file replaced, never of what a link there points to, and never its
    // set-user, set-group or sticky bits.
    const mode_t mode =
        ::lstat(QFile::encodeName(m_path).constData(), &st) == 0 && S_ISREG(st.st_mode)
            ? (st.st_mode & 0777)
            : DefaultMode();
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
    if (::fsync(m_fd) != 0 || ::close(m_fd) != 0) {
        m_fd = -1;
        m_error = SystemError();
        discard();
        return false;
    }
    m_fd = -1;
    if (::rename(QFile::encodeName(m_temp).constData(), QFile::encodeName(m_path).constData()) !=
        0) {
        m_error = SystemError();
        discard();
        return false;
    }
    m_temp.clear();
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
