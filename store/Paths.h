#pragma once

#include <QString>
#include <QStringList>

// The folders the program works in, each ending with "/": the program folder (language files,
// Config.ini, help), the user's Favorites folder and the collection root. Made once at start-up
// and handed on; tests make their own in a temporary folder.
struct Paths
{
    QString programDir;
    QString favoritesDir;
    QString collectionRoot; // empty until Config.ini names it

    // programDir + "Config.ini".
    QString configFile() const;
    // collectionRoot + name, e.g. the "Photo" folder.
    QString collectionFolder(const QString& name) const;

    // The running program's folders: its own folder and the home's Favorites folder.
    static Paths ForProgram(const QString& programDir, const QString& home);
};

// The collection's fixed subfolders, in the order the first run creates them.
const QStringList& CollectionSubfolders();

// The folder of the running executable, with a trailing "/".
QString ExecutableDir();

// The user's home folder (HOME, else the account's home).
QString UserHomeDir();

// Home + "/Favorites/", whether or not it exists yet.
QString GetFavoritesDir(const QString& home);
