#include "u_SaveIE.h"

#include "u_Public.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString withSlash(const QString& dir)
{
    return dir.endsWith(u'/') ? dir : dir + u'/';
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

bool IsUsableName(const QString& name)
{
    return !name.trimmed().isEmpty() && name != QLatin1String(".") && name != QLatin1String("..");
}

} // namespace

QString TSaveIE::CacheCopyTarget(const QString& relPath, const QString& root,
                                 const QString& subFolder, bool keepDirs)
{
    const QString safeSub = SafeRelativePath(subFolder);
    if (safeSub.isEmpty())
        return QString();
    QString dir = withSlash(root) + safeSub;
    QString name = relPath;
    const qsizetype slash = relPath.lastIndexOf(u'/');
    if (slash >= 0) {
        name = relPath.mid(slash + 1);
        if (keepDirs) {
            const QString folders = SafeRelativePath(relPath.left(slash + 1));
            if (!folders.isEmpty())
                dir = withSlash(dir) + folders;
        }
    }
    name.remove(QChar(0));
    if (!IsUsableName(name))
        return QString();
    return withSlash(dir) + CutToBytes(name, 255);
}

void TSaveIE::CopyCacheFile(const QString& cacheFile, const QString& relPath, const QString& root,
                            const QString& subFolder, bool keepDirs, qint64 size)
{
    if (!QFileInfo(cacheFile).isFile())
        return;

    QString dir;
    QString name;
    if (subFolder.isEmpty()) {
        name = cacheFile.mid(cacheFile.lastIndexOf(u'/') + 1);
        name.remove(u'[');
        name.remove(u']');
        if (!IsUsableName(name))
            return;
        dir = withSlash(root);
    } else {
        const QString target = CacheCopyTarget(relPath, root, subFolder, keepDirs);
        if (target.isEmpty())
            return;
        const qsizetype slash = target.lastIndexOf(u'/');
        dir = target.left(slash + 1);
        name = target.mid(slash + 1);
    }

    // A file of that name is the same file only when it holds the same bytes; any other file
    // keeps its place and the copy gets a random number before its extension.
    while (QFileInfo(dir + name).isFile()) {
        if (GetFileSize(dir + name) == size && SameFileContents(dir + name, cacheFile))
            return;
        name = RandomisedName(name);
    }

    QDir().mkpath(dir);
    QFile::copy(cacheFile, dir + name);
}
