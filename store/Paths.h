#pragma once

#include <QString>
#include <QStringList>

// Program-wide folders, each ending with "/": the program folder (language files, Config.ini,
// help), the user's Favorites folder and the collection root.
extern QString AppDir;
extern QString FavoritesDir;
extern QString CollectionRoot;

// The current user-interface language's name, and the one the setup dialog restores on Cancel.
extern QString CurrentLanguage;
extern QString SavedLanguage;

// The collection's fixed subfolders, in the order the first run creates them.
const QStringList& CollectionSubfolders();

// The folder of the running executable, with a trailing "/".
QString ExecutableDir();

// The user's home folder (HOME, else the account's home).
QString UserHomeDir();

// Home + "/Favorites/", whether or not it exists yet.
QString GetFavoritesDir(const QString& home = UserHomeDir());

// AppDir + "Config.ini".
QString ConfigFile();

// First run: creates home + "/NimbrilApp" with its eight subfolders, writes Config.ini and sets
// CollectionRoot. Throws IniWriteError when Config.ini cannot be written.
void CreateDefaultCollection(const QString& home = UserHomeDir());

// Sets CollectionRoot from Config.ini's CollectionDir/Path, used unchanged, plus "/".
void ReadCollectionDir();

// The stored language name, empty when missing.
QString ReadLanguage();

// Stores CurrentLanguage in Config.ini. Throws IniWriteError on failure.
void WriteLanguage();
