#include "u_Store.h"

#include "IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString AppDir;
QString FavoritesDir;
QString CollectionRoot;
QString CurrentLanguage;
QString SavedLanguage;

namespace {
const QString kCollectionSection = QStringLiteral("CollectionDir");
const QString kPathKey = QStringLiteral("Path");
const QString kLanguageSection = QStringLiteral("Language");
const QString kLanguageKey = QStringLiteral("DefaultLanguage");
} // namespace

const QStringList& CollectionSubfolders()
{
    static const QStringList names = {
        QStringLiteral("Photo"), QStringLiteral("Text"),  QStringLiteral("Files"),
        QStringLiteral("Music"), QStringLiteral("Flash"), QStringLiteral("WebPage"),
        QStringLiteral("Color"), QStringLiteral("EMail"),
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

QString ConfigFile()
{
    return AppDir + QStringLiteral("Config.ini");
}

void CreateDefaultCollection(const QString& home)
{
    const QString root = home + QStringLiteral("/NimbrilApp");
    QDir().mkpath(root);
    for (const QString& sub : CollectionSubfolders())
        QDir().mkpath(root + u'/' + sub);
    IniFile::WriteString(ConfigFile(), kCollectionSection, kPathKey, root);
    IniFile::WriteString(ConfigFile(), kLanguageSection, kLanguageKey, QStringLiteral("English"));
    CollectionRoot = root + u'/';
}

void ReadCollectionDir()
{
    CollectionRoot = IniFile::ReadString(ConfigFile(), kCollectionSection, kPathKey) + u'/';
}

QString ReadLanguage()
{
    return IniFile::ReadString(ConfigFile(), kLanguageSection, kLanguageKey);
}

void WriteLanguage()
{
    IniFile::WriteString(ConfigFile(), kLanguageSection, kLanguageKey, CurrentLanguage);
}
