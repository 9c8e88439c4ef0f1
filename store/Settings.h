#pragma once

#include "Paths.h"

#include <QString>

// Config.ini beside the program: where the collection is, which language the windows speak and
// how whole pages are saved.
// Every read goes to the file; every write replaces it atomically.
class Settings
{
public:
    explicit Settings(const QString& configFile);

    QString file() const { return m_file; }
    bool exists() const;

    // CollectionDir/Path, unchanged.
    QString collectionDir() const;
    // The stored language name, empty when missing.
    QString language() const;
    // Throws IniWriteError on failure.
    void setLanguage(const QString& language) const;
    // Whether whole pages are saved as the classic passes save them, without the style sheets'
    // resources, srcsets and media sources (off when missing). Throws IniWriteError on failure.
    bool classicPages() const;
    void setClassicPages(bool classic) const;
    // Whether saved pages keep their scripts running when opened (off when missing: the copy
    // holds what they built and keeps them inert). Throws IniWriteError on failure.
    bool keepScripts() const;
    void setKeepScripts(bool keep) const;

private:
    QString m_file;
};

// First run: creates home + "/NimbrilApp" with its eight subfolders, writes Config.ini (that
// folder, English) and sets paths.collectionRoot. Throws IniWriteError when Config.ini cannot be
// written.
void CreateDefaultCollection(Paths& paths, const QString& home);

// Sets paths.collectionRoot from Config.ini's CollectionDir/Path, used unchanged, plus "/". A
// path that cannot hold the collection (none, not a full path, the file system's root, or no
// folder there) gives way to home + "/NimbrilApp", made with its folders when missing, and the
// result says so in a sentence for the user; otherwise the result is empty.
QString ReadCollectionDir(Paths& paths, const QString& home);
