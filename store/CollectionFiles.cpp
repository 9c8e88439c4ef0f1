#include "CollectionFiles.h"

#include "AtomicFile.h"
#include "FileCopy.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 ChunkSize = 1 << 20;
// How many chunks of a large file go by between two calls that let the window breathe.
constexpr int ChunksBetweenBreaths = 4;

QString ErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

QByteArray Native(const QString& path)
{
    return QFile::encodeName(path);
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Renames From to To unless To exists, atomically where the file system allows it. Returns 0 or
// the error code (EEXIST when To is there, EXDEV across file systems).
int PlaceNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    int code = errno;
    if (code != EINVAL && code != ENOSYS && code != EOPNOTSUPP)
        return code;
    // The file system cannot refuse to replace on rename; a hard link refuses an existing name.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    code = errno;
    if (code != EPERM && code != EOPNOTSUPP && code != ENOSYS)
        return code;
    // No hard links either (FAT and the like): look, then rename.
    struct stat st;
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

// Copies the open file In to the open descriptor Out, asking KeepGoing now and then.
bool CopyContents(QFile& in, int out, QString* error, const std::function<bool()>& keepGoing)
{
    const int code = CopyOpenFile(in.handle(), out, keepGoing);
    if (code == ECANCELED)
        return Fail(error, QStringLiteral("stopped"));
    return code == 0 || Fail(error, ErrorText(code));
}

void CopyTimes(const QByteArray& target, const struct stat& source)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    ::utimensat(AT_FDCWD, target.constData(), times, 0);
}

// A move to another file system: a complete copy under a temporary name in the target folder,
// put in place without replacing anything, and only then the source removed.
bool MoveAcrossFileSystems(const QString& source, const QString& target, const struct stat& st,
                           QString* error, const std::function<bool()>& keepGoing)
{
    if (!S_ISREG(st.st_mode))
        return Fail(error, QStringLiteral("only files can be moved to another file system"));
    struct stat existing;
    if (::lstat(Native(target).constData(), &existing) == 0)
        return Fail(error, ErrorText(EEXIST));
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return Fail(error, in.errorString());
    QByteArray temp = Native(QFileInfo(target).absolutePath() + QStringLiteral("/.nimbril-XXXXXX"));
    const int out = ::mkstemp(temp.data());
    if (out < 0)
        return Fail(error, ErrorText(errno));
    bool ok = CopyContents(in, out, error, keepGoing);
    if (ok && ::fsync(out) != 0)
        ok = Fail(error, ErrorText(errno));
    ::fchmod(out, st.st_mode & 07777);
    if (::close(out) != 0 && ok)
        ok = Fail(error, ErrorText(errno));
    if (ok) {
        CopyTimes(temp, st);
        const int code = PlaceNoReplace(temp, Native(target));
        if (code != 0)
            ok = Fail(error, ErrorText(code));
    }
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    if (::unlink(Native(source).constData()) != 0)
        return Fail(error, QStringLiteral("copied, but the original could not be removed: ") +
                               ErrorText(errno));
    return true;
}

// Copies the folder Source into Target (made when missing), each file replacing one of the same
// name; links are not followed. What did not go through is added to *failures, named below
// Label. False when KeepGoing said stop.
bool CopyFolderReplacing(const QString& source, const QString& target, const QString& label,
                         QList<FileFailure>* failures, const std::function<bool()>& keepGoing)
{
    if (!QDir().mkpath(target)) {
        *failures << FileFailure{label, QStringLiteral("the folder could not be made")};
        return true;
    }
    QDirIterator it(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = QDir(source).relativeFilePath(info.filePath());
        const QString to = target + u'/' + relative;
        QString error;
        if (info.isSymLink())
            continue; // a saved page holds no links; one put there later does not belong to it
        if (info.isDir()) {
            if (!QDir().mkpath(to))
                *failures << FileFailure{label + u'/' + relative,
                                         QStringLiteral("the folder could not be made")};
            continue;
        }
        QDir().mkpath(QFileInfo(to).path());
        if (!CopyFileReplacing(info.filePath(), to, &error, keepGoing)) {
            if (keepGoing && !keepGoing())
                return false;
            *failures << FileFailure{label + u'/' + relative, error};
        }
    }
    return true;
}

// Moves the folder Source to Target, which must not exist; across file systems a whole copy is
// made first and the source removed only then. False with *error.
bool MoveFolderNoReplace(const QString& source, const QString& target, QString* error,
                         const std::function<bool()>& keepGoing)
{
    const int code = PlaceNoReplace(Native(source), Native(target));
    if (code == 0)
        return true;
    if (code != EXDEV)
        return Fail(error, ErrorText(code));
    struct stat existing;
    if (::lstat(Native(target).constData(), &existing) == 0)
        return Fail(error, ErrorText(EEXIST));
    QList<FileFailure> failures;
    const bool finished = CopyFolderReplacing(source, target, QString(), &failures, keepGoing);
    if (!finished || !failures.isEmpty()) {
        QDir(target).removeRecursively();
        return Fail(error, finished ? failures.first().name.mid(1) + QStringLiteral(": ") +
                                          failures.first().reason
                                    : QStringLiteral("stopped"));
    }
    if (!QDir(source).removeRecursively())
        return Fail(error, QStringLiteral("copied, but the original could not be removed"));
    return true;
}

// A real folder (no link to one) at Path.
bool IsRealFolder(const QString& path)
{
    struct stat st;
    return ::lstat(Native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

QString PageFilesFolderName(const QString& fileName)
{
    for (const QLatin1String extension : {QLatin1String(".htm"), QLatin1String(".html")})
        if (fileName.size() > extension.size() && fileName.endsWith(extension, Qt::CaseInsensitive))
            return fileName.chopped(extension.size()) + QStringLiteral(".files");
    return QString();
}

QString WithTrailingSlash(const QString& folder)
{
    if (folder.isEmpty() || folder.endsWith(u'/'))
        return folder;
    return folder + u'/';
}

bool IsPaletteFile(const QString& path)
{
    return path.endsWith(QStringLiteral(".col"), Qt::CaseInsensitive);
}

bool IsPreviewedClass(FileClass cls)
{
    return cls == fcPhoto || cls == fcFlash || cls == fcText || cls == fcWebPage;
}

bool CopyFileReplacing(const QString& source, const QString& target, QString* error,
                       const std::function<bool()>& keepGoing)
{
    struct stat src;
    if (::stat(Native(source).constData(), &src) != 0)
        return Fail(error, ErrorText(errno));
    if (S_ISDIR(src.st_mode))
        return Fail(error, ErrorText(EISDIR));
    struct stat dst;
    if (::stat(Native(target).constData(), &dst) == 0 && SameFile(src, dst))
        return Fail(error, QStringLiteral("source and target are the same file"));

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return Fail(error, in.errorString());
    AtomicFileWriter writer(target);
    if (!writer.open())
        return Fail(error, writer.errorString());
    QByteArray buffer(ChunkSize, Qt::Uninitialized);
    for (int chunk = 1;; ++chunk) {
        const qint64 got = in.read(buffer.data(), ChunkSize);
        if (got < 0)
            return Fail(error, in.errorString());
        if (got == 0)
            break;
        if (!writer.write(buffer.constData(), got))
            return Fail(error, writer.errorString());
        if (keepGoing && chunk % ChunksBetweenBreaths == 0 && !keepGoing())
            return Fail(error, QStringLiteral("stopped"));
    }
    if (!writer.commit())
        return Fail(error, writer.errorString());
    // Like a shell copy, the copy keeps the source's permissions and modification time.
    ::chmod(Native(target).constData(), src.st_mode & 07777);
    CopyTimes(Native(target), src);
    return true;
}

bool MoveFileNoReplace(const QString& source, const QString& target, QString* error,
                       const std::function<bool()>& keepGoing)
{
    struct stat st;
    if (::lstat(Native(source).constData(), &st) != 0)
        return Fail(error, ErrorText(errno));
    const int code = PlaceNoReplace(Native(source), Native(target));
    if (code == 0)
        return true;
    if (code != EXDEV)
        return Fail(error, ErrorText(code));
    struct stat followed;
    if (::stat(Native(source).constData(), &followed) != 0)
        return Fail(error, ErrorText(errno));
    return MoveAcrossFileSystems(source, target, followed, error, keepGoing);
}

bool DeleteFileForGood(const QString& path, QString* error)
{
    if (::unlink(Native(path).constData()) != 0)
        return Fail(error, ErrorText(errno));
    return true;
}

QList<FileFailure> RunFileOperation(FileOperation operation, const QString& folder,
                                    const QStringList& names, const QString& targetFolder,
                                    const FileProgress& progress)
{
    QList<FileFailure> failures;
    const int total = int(names.size());
    const QString sourceFolder = WithTrailingSlash(folder);
    const QString target = WithTrailingSlash(targetFolder);
    int done = 0;
    bool stopped = false;
    const std::function<bool()> keepGoing = [&] {
        if (progress && !progress(done, total))
            stopped = true;
        return !stopped;
    };
    for (const QString& name : names) {
        QString error;
        bool ok = false;
        if (name.isEmpty() || name.contains(u'/') || name == u"." || name == u"..") {
            error = QStringLiteral("not a file name");
        } else {
            const QString source = sourceFolder + name;
            QString pageFolder = PageFilesFolderName(name);
            if (!pageFolder.isEmpty() && !IsRealFolder(sourceFolder + pageFolder))
                pageFolder.clear();
            struct stat taken;
            switch (operation) {
            case FileOperation::Copy:
                ok = CopyFileReplacing(source, target + name, &error, keepGoing);
                if (ok && !pageFolder.isEmpty() &&
                    !CopyFolderReplacing(sourceFolder + pageFolder, target + pageFolder, pageFolder,
                                         &failures, keepGoing))
                    stopped = true;
                break;
            case FileOperation::Move:
                // The page goes only where its folder can go too.
                if (!pageFolder.isEmpty() &&
                    ::lstat(Native(target + pageFolder).constData(), &taken) == 0) {
                    error = pageFolder + QStringLiteral(": ") + ErrorText(EEXIST);
                    break;
                }
                ok = MoveFileNoReplace(source, target + name, &error, keepGoing);
                if (ok && !pageFolder.isEmpty()) {
                    QString folderError;
                    if (!MoveFolderNoReplace(sourceFolder + pageFolder, target + pageFolder,
                                             &folderError, keepGoing))
                        failures << FileFailure{pageFolder, folderError};
                }
                break;
            case FileOperation::Delete:
                ok = DeleteFileForGood(source, &error);
                break;
            }
        }
        if (stopped)
            break;
        if (!ok)
            failures << FileFailure{name, error};
        ++done;
        if (!keepGoing())
            break;
    }
    return failures;
}

QString DescribeFailures(const QList<FileFailure>& failures, int maxLines)
{
    QStringList lines;
    for (const FileFailure& f : failures) {
        if (lines.size() == maxLines) {
            lines << QStringLiteral("… (+%1)").arg(failures.size() - maxLines);
            break;
        }
        lines << f.name + QStringLiteral(": ") + f.reason;
    }
    return lines.join(u'\n');
}

QString AcceptChosenFolder(const QString& typed, const QString& baseFolder, QString* error)
{
    QString text = typed.trimmed();
    if (text == u"~" || text.startsWith(QStringLiteral("~/")))
        text = QDir::homePath() + text.mid(1);
    QString path = text.isEmpty()               ? baseFolder
                   : QDir::isRelativePath(text) ? QDir(baseFolder).filePath(text)
                                                : text;
    path = QDir::cleanPath(path);
    if (path.isEmpty() || QDir::isRelativePath(path)) {
        Fail(error, QStringLiteral("no folder given"));
        return QString();
    }
    const QFileInfo info(path);
    if (info.exists() && !info.isDir()) {
        Fail(error, path + QStringLiteral(": ") + ErrorText(ENOTDIR));
        return QString();
    }
    if (!info.exists()) {
        std::error_code code;
        std::filesystem::create_directories(std::filesystem::path(Native(path).toStdString()),
                                            code);
        if (code || !QFileInfo(path).isDir()) {
            Fail(error,
                 path + QStringLiteral(": ") +
                     (code ? QString::fromLocal8Bit(code.message().c_str()) : ErrorText(ENOTDIR)));
            return QString();
        }
    }
    return path;
}

QString ExistingFolderOrParent(const QString& folder)
{
    QString path = QDir::cleanPath(folder);
    while (!path.isEmpty() && !QDir::isRelativePath(path)) {
        if (QFileInfo(path).isDir())
            return path;
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    return QDir::homePath();
}

QString ReadPreviewText(const QString& path, qint64 maxBytes, bool* truncated, bool* ok)
{
    if (truncated)
        *truncated = false;
    if (ok)
        *ok = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes) {
        bytes.truncate(maxBytes);
        if (truncated)
            *truncated = true;
    }
    if (ok)
        *ok = true;
    const auto detected = QStringConverter::encodingForData(bytes);
    if (detected && *detected != QStringConverter::Utf8) {
        QStringDecoder decoder(*detected);
        return decoder(bytes);
    }
    // Stateful, so that a character cut at the end of a truncated read is no error.
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}
