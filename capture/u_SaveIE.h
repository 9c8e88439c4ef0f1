#pragma once

#include <QString>
#include <QtGlobal>

// The capture engine: one object per capture command, saving whole pages or harvesting one
// kind of content from the open browser pages.
class TSaveIE
{
public:
    // Copies a file the browser holds (or a dropped file from the browser-cache folder) into the
    // collection without overwriting a different file. With SubFolder empty the file keeps its
    // own name in Root; otherwise RelPath names it below Root/SubFolder (its folders kept with
    // KeepDirs). Nothing is ever written outside Root/SubFolder.
    static void CopyCacheFile(const QString& cacheFile, const QString& relPath, const QString& root,
                              const QString& subFolder, bool keepDirs, qint64 size);

    // Where CopyCacheFile puts a file for RelPath below Root/SubFolder, before any renaming;
    // empty when nothing would be copied.
    static QString CacheCopyTarget(const QString& relPath, const QString& root,
                                   const QString& subFolder, bool keepDirs);
};
