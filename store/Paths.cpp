#include "Paths.h"

#include "CaptureKind.h"

#include <QCoreApplication>
#include <QDir>

QString Paths::configFile() const
{
    return programDir + QStringLiteral("Config.ini");
}

QString Paths::collectionFolder(const QString& name) const
{
    return collectionRoot + name;
}

Paths Paths::ForProgram(const QString& programDir, const QString& home)
{
    Paths paths;
    paths.programDir = programDir.endsWith(u'/') ? programDir : programDir + u'/';
    paths.favoritesDir = GetFavoritesDir(home);
    return paths;
}

const QStringList& CollectionSubfolders()
{
    // The capture kinds' folders, with the two folders no capture writes (dropped files and
    // colour palettes) between them.
    static const QStringList names = {
        FolderOf(CaptureKind::Photo), FolderOf(CaptureKind::Text),  QStringLiteral("Files"),
        FolderOf(CaptureKind::Music), FolderOf(CaptureKind::Flash), FolderOf(CaptureKind::WebPage),
        QStringLiteral("Color"),      FolderOf(CaptureKind::EMail),
    };
    return names;
}

QString ExecutableDir()
{
    QString dir = QCoreApplication::applicationDirPath();
    if (dir.isEmpty())
        dir = QDir::currentPath();
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

QString UserHomeDir()
{
    QString home = QDir::homePath();
    while (home.size() > 1 && home.endsWith(u'/'))
        home.chop(1);
    return home;
}

QString GetFavoritesDir(const QString& home)
{
    return home + QStringLiteral("/Favorites/");
}
