#include "ResourceFiles.h"

#include "AtomicFile.h"
#include "FileNames.h"
#include "TextRules.h"
#include "WebAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

bool IsUsableName(const QString& name)
{
    return !name.trimmed().isEmpty() && name != QLatin1String(".") && name != QLatin1String("..");
}

// Name + random digits before its extension, still a valid name component.
QString RandomisedName(const QString& name)
{
    const QString digits = RandomDigits();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot < 0 ? QString() : name.left(dot);
    const QString ext = dot < 0 ? name : name.mid(dot);
    const int room = 255 - int(digits.toUtf8().size()) - int(ext.toUtf8().size());
    if (room < 0)
        return CutToBytes(digits + name, 255);
    return CutToBytes(stem, room) + digits + ext;
}

bool HoldsBytes(const QString& path, qint64 size, const QByteArray& bytes)
{
    QFile file(path);
    if (size != bytes.size() || !file.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 kChunk = 1 << 20;
    for (qint64 at = 0; at < bytes.size(); at += kChunk) {
        const QByteArray part = file.read(kChunk);
        if (part.isEmpty() || QByteArrayView(bytes).sliced(at, part.size()) != part)
            return false;
    }
    return true;
}

int WriteAll(int fd, const QByteArray& bytes)
{
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + at, size_t(bytes.size() - at));
        if (n < 0 && errno != EINTR)
            return errno;
        if (n > 0)
            at += n;
    }
    return 0;
}

// Writes the bytes into a file that has no name until they are all on disk, then gives it
// `path`, so that an interrupted write never leaves a short file under the real name. EEXIST
// when `path` was taken meanwhile.
int WriteNewFile(const QString& path, const QByteArray& bytes)
{
    const QString dir = path.left(path.lastIndexOf(u'/') + 1);
    const QByteArray target = QFile::encodeName(path);
    // An unnamed file in the folder, named by a link once written.
    const int anonymous =
        ::open(QFile::encodeName(dir).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (anonymous >= 0) {
        int error = WriteAll(anonymous, bytes);
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(anonymous);
        if (!error && ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(),
                               AT_SYMLINK_FOLLOW) != 0)
            error = errno;
        ::close(anonymous);
        return error;
    }
    // A folder not made yet is made by the caller; a second try here would only fail the same.
    if (errno == ENOENT)
        return ENOENT;
    // File systems without unnamed files: a temporary name beside it, linked into place.
    QString temp;
    const int fd = OpenLockedTemporaryFile(dir, &temp);
    if (fd < 0)
        return errno;
    const QByteArray name = QFile::encodeName(temp);
    ::fchmod(fd, 0644);
    // Linked and unlinked while still open, and so locked: a sweep never takes it meanwhile.
    int error = WriteAll(fd, bytes);
    if (!error && ::link(name.constData(), target.constData()) != 0)
        error = errno;
    ::unlink(name.constData());
    ::close(fd);
    return error;
}

} // namespace

QString ResourceTarget(const QString& relPath, const QString& root, const QString& subFolder)
{
    const QString safeSub = SafeRelativePath(subFolder);
    if (safeSub.isEmpty())
        return QString();
    // Opened from disk, a file's type is told by its name: "site.css?v=2" would be no style
    // sheet. The query goes; another resource of that name with other bytes lands beside it with
    // digits before the extension. A name that is nothing but its query keeps it.
    const qsizetype query = relPath.indexOf(u'?');
    const QString withoutQuery = query < 0 ? relPath : relPath.left(query);
    const QString lastSegment = withoutQuery.mid(withoutQuery.lastIndexOf(u'/') + 1);
    const QString rel = IsUsableName(lastSegment) ? withoutQuery : relPath;
    QString dir = WithSlash(root) + safeSub;
    QString name = rel;
    const qsizetype slash = rel.lastIndexOf(u'/');
    if (slash >= 0) {
        name = rel.mid(slash + 1);
        const QString folders = SafeRelativePath(rel.left(slash + 1));
        if (!folders.isEmpty())
            dir = WithSlash(dir) + folders;
    }
    name.remove(QChar(0));
    if (!IsUsableName(name))
        return QString();
    return WithSlash(dir) + CutToBytes(name, 255);
}

QString ResourceFileName(const QString& url)
{
    const QString path = QUrl(url).path(QUrl::FullyEncoded);
    QString name = path.mid(path.lastIndexOf(u'/') + 1);
    name = CleanFileName(QUrl::fromPercentEncoding(name.toUtf8()));
    name.remove(QChar(0));
    name.remove(u'[');
    name.remove(u']');
    if (!IsUsableName(name))
        name = QStringLiteral("index");
    return CutToBytes(name, 200);
}

QString WriteResourceFile(const QByteArray& bytes, const QString& target, Message* why)
{
    auto fail = [why](const Message& reason) {
        if (why)
            *why = reason;
        return QString();
    };
    const qsizetype slash = target.lastIndexOf(u'/');
    if (slash < 0)
        return fail({QStringLiteral("C_NoUsableName"), QStringLiteral("no usable file name")});
    const QString dir = target.left(slash + 1);
    QString name = target.mid(slash + 1);
    if (!IsUsableName(name))
        return fail({QStringLiteral("C_NoUsableName"), QStringLiteral("no usable file name")});
    // The name is looked at only when it turns out to be taken: a capture writes thousands of
    // files into new folders, and every look walks the whole path. The folder is made only when
    // the first write finds it missing.
    bool madeFolder = false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = dir + name;
        int error = WriteNewFile(path, bytes);
        if (error == ENOENT && !madeFolder) {
            if (!QDir().mkpath(dir))
                return fail({QStringLiteral("C_FolderNotMade"),
                             QStringLiteral("the folder %1 cannot be made"),
                             {dir}});
            madeFolder = true;
            error = WriteNewFile(path, bytes);
        }
        if (error == 0)
            return path;
        if (error != EEXIST)
            return fail({QString(),
                         QStringLiteral("%1: %2"),
                         {path, QString::fromLocal8Bit(std::strerror(error))}});
        // Taken: by the same bytes (saved before) it is the file; by anything else, even a
        // link to such a file, the bytes go beside it.
        if (struct stat there{}; ::lstat(QFile::encodeName(path).constData(), &there) == 0 &&
                                 S_ISREG(there.st_mode) && HoldsBytes(path, there.st_size, bytes))
            return path;
        name = RandomisedName(name);
    }
    return fail(
        {QStringLiteral("C_NoFreeName"), QStringLiteral("no free name beside %1"), {target}});
}

ResourceFileQueue::~ResourceFileQueue()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ResourceFileQueue::write(const QString& id, const QByteArray& bytes, const QString& target)
{
    if (!m_thread.joinable() && m_writtenAtOnce < kWrittenAtOnce) {
        ++m_writtenAtOnce;
        Written written = writeNow({id, bytes, target});
        std::lock_guard lock(m_mutex);
        m_done.append(std::move(written));
        return;
    }
    {
        std::unique_lock lock(m_mutex);
        // A single file larger than the limit still goes, alone.
        m_changed.wait(lock, [&] {
            return m_queuedBytes == 0 || m_queuedBytes + bytes.size() <= kQueuedBytes;
        });
        m_jobs.push_back({id, bytes, target});
        m_queuedBytes += bytes.size();
    }
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    m_changed.notify_all();
}

QList<ResourceFileQueue::Written> ResourceFileQueue::finish()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_jobs.empty() && !m_busy; });
    return std::exchange(m_done, {});
}

void ResourceFileQueue::run()
{
    // Named for the system's tools (top, perf), which tell it from the capture's own thread.
    pthread_setname_np(pthread_self(), "file writer");
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_closing || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // closing, and all written
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        lock.unlock();
        Written written = writeNow(job);
        job = {};
        lock.lock();
        m_busy = false;
        m_queuedBytes -= written.size;
        m_done.append(std::move(written));
        m_changed.notify_all();
    }
}

ResourceFileQueue::Written ResourceFileQueue::writeNow(const Job& job)
{
    Written written{job.id, job.bytes.size(), QString(), Message()};
    try {
        written.file = WriteResourceFile(job.bytes, job.target, &written.why);
    } catch (...) {
        // on the queue's thread nothing may leave it
        written.why = QStringLiteral("out of memory");
    }
    return written;
}

QString LinkOnTheWay(const QString& root, const QString& target, QSet<QString>* clearFolders)
{
    const QString base = QDir::cleanPath(root);
    const QString path = QDir::cleanPath(target);
    if (!path.startsWith(base + u'/'))
        return QString();
    const bool foldersOnly = target.endsWith(u'/');
    qsizetype at = base.size();
    while (at < path.size()) {
        const qsizetype next = path.indexOf(u'/', at + 1);
        const QString part = path.left(next < 0 ? path.size() : next);
        const bool folder = next >= 0 || foldersOnly;
        if (!(folder && clearFolders && clearFolders->contains(part))) {
            if (QFileInfo(part).isSymLink())
                return part;
            if (folder && clearFolders)
                clearFolders->insert(part);
        }
        at = next < 0 ? path.size() : next;
    }
    return QString();
}

QString LinkAddress(const QString& relativePath)
{
    QString out;
    out.reserve(relativePath.size());
    for (const QChar c : relativePath) {
        if (c == u'%')
            out += QLatin1String("%25");
        else if (c == u'#')
            out += QLatin1String("%23");
        else if (c == u'?')
            out += QLatin1String("%3F");
        else
            out += c;
    }
    return out;
}

QString AddressFromPage(const QString& root, const QString& subFolder, const QString& file)
{
    const QString prefix = WithSlash(WithSlash(root) + SafeRelativePath(subFolder));
    if (subFolder.isEmpty() || !file.startsWith(prefix))
        return QString();
    return LinkAddress(subFolder + u'/' + file.mid(prefix.size()));
}
