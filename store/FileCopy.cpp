#include "FileCopy.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool matchesPattern(const QString& name, const QString& pattern)
{
    if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
        return true;
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern));
    return re.match(name).hasMatch();
}

} // namespace

qint64 GetFileSize(const QString& path)
{
    if (path.isEmpty())
        return -1;
    const QFileInfo info(QDir::current().absoluteFilePath(path));
    if (!info.exists())
        return -1;
    return info.isDir() ? 0 : info.size();
}

bool SameFileContents(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    if (fa.size() != fb.size())
        return false;
    constexpr qint64 chunk = 1 << 16;
    while (!fa.atEnd()) {
        const QByteArray x = fa.read(chunk);
        const QByteArray y = fb.read(chunk);
        if (x != y)
            return false;
        if (x.isEmpty())
            break;
    }
    return fb.atEnd();
}

int CopyOpenFile(int in, int out, const std::function<bool()>& keepGoing)
{
    constexpr size_t chunkSize = 1 << 20;
    constexpr int chunksBetweenQuestions = 4;
    int chunk = 0;
    auto goOn = [&] { return !keepGoing || ++chunk % chunksBetweenQuestions != 0 || keepGoing(); };
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, chunkSize, 0);
        if (n == 0)
            return 0;
        if (n > 0) {
            if (!goOn())
                return ECANCELED;
            continue;
        }
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
            break; // the rest by hand
        if (errno != EINTR)
            return errno;
    }
    QByteArray buffer(qsizetype(chunkSize), Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), chunkSize);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.constData() + done, size_t(n - done));
            if (w >= 0)
                done += w;
            else if (errno != EINTR)
                return errno;
        }
        if (!goOn())
            return ECANCELED;
    }
}

bool CopyNewFile(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat info
    {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return false;
    }
    const int out =
        ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = CopyOpenFile(in, out) == 0;
    ::close(in);
    if (::close(out) != 0)
        ok = false;
    if (!ok)
        ::unlink(target.constData());
    return ok;
}

bool ShellCopyFiles(FolderCopyObserver* owner, const QString& sourceFolder, const QString& pattern,
                    const QString& targetFolder)
{
    QDir().mkpath(targetFolder);
    QString source = sourceFolder;
    if (!source.endsWith(u'/'))
        source += u'/';
    const QDir sourceDir(source);
    if (!sourceDir.exists())
        return false;

    // The whole list is taken before anything is written, so a target inside the source is not
    // copied into itself.
    struct Item
    {
        QString from;
        QString to;
        bool isDir;
    };
    QList<Item> items;
    const QFileInfoList top = sourceDir.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                          QDir::System | QDir::NoDotAndDotDot,
                                                      QDir::Name | QDir::DirsFirst);
    for (const QFileInfo& entry : top) {
        if (!matchesPattern(entry.fileName(), pattern))
            continue;
        const QString to = QDir(targetFolder).filePath(entry.fileName());
        if (entry.isDir() && !entry.isSymLink()) {
            items.append({entry.filePath(), to, true});
            QDirIterator it(entry.filePath(),
                            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                it.next();
                const QFileInfo sub = it.fileInfo();
                const QString rel = QDir(entry.filePath()).relativeFilePath(sub.filePath());
                items.append({sub.filePath(), to + u'/' + rel, sub.isDir() && !sub.isSymLink()});
            }
        } else {
            items.append({entry.filePath(), to, false});
        }
    }

    bool ok = true;
    bool replaceAll = false;
    int done = 0;
    const int total = int(items.size());
    for (const Item& item : items) {
        if (item.isDir) {
            ok = QDir().mkpath(item.to) && ok;
        } else if (QFileInfo(item.from).isFile()) {
            bool write = true;
            if (QFileInfo::exists(item.to)) {
                ReplaceAnswer answer = ReplaceAnswer::No;
                if (replaceAll)
                    answer = ReplaceAnswer::Yes;
                else if (owner)
                    answer = owner->askReplace(item.to);
                if (answer == ReplaceAnswer::Cancel)
                    return false;
                replaceAll = replaceAll || answer == ReplaceAnswer::YesToAll;
                write = answer == ReplaceAnswer::Yes || answer == ReplaceAnswer::YesToAll;
                if (write && !QFile::remove(item.to))
                    write = false, ok = false;
            }
            if (write) {
                QDir().mkpath(QFileInfo(item.to).path());
                ok = CopyNewFile(item.from, item.to) && ok;
            }
        }
        ++done;
        if (owner)
            owner->progress(done, total);
    }
    return ok;
}

std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes, QString* why,
                                          bool* tooLarge)
{
    auto refuse = [&](const QString& reason) -> std::optional<QByteArray> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    // Opening without waiting: a pipe with no writer would otherwise hold the program forever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info
    {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return refuse(QStringLiteral("%1 is no ordinary file").arg(path));
    }
    if (info.st_size > maxBytes) {
        ::close(fd);
        if (tooLarge)
            *tooLarge = true;
        return refuse(QStringLiteral("%1 is larger than such a file can be (%2 bytes at most)")
                          .arg(path)
                          .arg(maxBytes));
    }
    QByteArray bytes;
    bytes.resize(qsizetype(info.st_size));
    qsizetype at = 0;
    // A file that grows while it is read is cut at the size it had when opened.
    while (at < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + at, size_t(bytes.size() - at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return refuse(QString::fromLocal8Bit(std::strerror(error)));
        }
        if (n == 0)
            break;
        at += n;
    }
    ::close(fd);
    bytes.truncate(at);
    return bytes;
}
