#pragma once

#include "CaptureKind.h"

#include <QString>
#include <QStringList>

// File names the program makes and reads: names cleaned of forbidden characters, cut to what a
// file system takes, counters in parentheses, and the extension tables that give a file its
// class. Paths use "/".

// Upper-case extensions without the dot, in their fixed order (PLS stands twice in MusicExts).
extern const QStringList PhotoExts;
extern const QStringList MusicExts;
extern const QStringList WebPageExts;

// The file class of an existing file by the text after the last "." of its path.
FileClass ClassifyFile(const QString& path);
// The file class a file of that name would have, whether or not it exists.
FileClass ClassifyFileName(const QString& path);

// The text made usable as a file name.
QString CleanFileName(const QString& text);

// Position (from 1) of the first character after the last "(" when Name ends in "(integer)",
// else -1.
int CounterSuffixPos(const QString& name);

// A relative path from a page made safe to become folders below a root: empty, "." and ".."
// segments cannot climb out, and each segment fits a file name.
QString SafeRelativePath(const QString& relPath);

// A file name component cut at a character boundary so that it takes at most maxBytes in UTF-8.
QString CutToBytes(const QString& name, int maxBytes);

// The folder path with one "/" at its end.
QString WithSlash(const QString& dir);
