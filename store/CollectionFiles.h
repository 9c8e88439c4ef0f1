#pragma once

#include "CaptureKind.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// What the collection viewer does to files, apart from its window: copy, move and delete of a
// folder's chosen files, the folder chooser's answer and the decisions of
// the preview pane. Paths use "/"; nothing here shows a message.

// Folder with a "/" added unless it ends in one (an empty text stays empty).
QString WithTrailingSlash(const QString& folder);

// A ".col" palette file, letter case ignored.
bool IsPaletteFile(const QString& path);

// The file classes the preview pane shows: photos, Flash movies, text files and web pages.
bool IsPreviewedClass(FileClass cls);

// Copies Source to Target, replacing a file of that name; the old file stays whole until the new
// one is complete. A file is never copied onto itself (that would empty it). False with *error.
bool CopyFileReplacing(const QString& source, const QString& target, QString* error = nullptr,
                       const std::function<bool()>& keepGoing = {});

// Moves Source to Target, also to another file system; an existing Target is never replaced,
// even when it appears while the move runs. False with *error.
bool MoveFileNoReplace(const QString& source, const QString& target, QString* error = nullptr,
                       const std::function<bool()>& keepGoing = {});

// Removes a file for good (no trash). False with *error.
bool DeleteFileForGood(const QString& path, QString* error = nullptr);

// A file an operation left as it was, and why.
struct FileFailure
{
    QString name;
    QString reason;
};

enum class FileOperation
{
    Copy,
    Move,
    Delete
};

// Called after each file with the count done so far and the total, and now and then while a large
// file is copied; it lets the window handle its events. Returning false stops the run.
using FileProgress = std::function<bool(int done, int total)>;

// The folder a saved web page keeps its pictures, scripts and frames in: "NAME.files" for the
// page file "NAME.htm" or "NAME.html" (letter case ignored); empty for any other file name.
QString PageFilesFolderName(const QString& fileName);

// Copies, moves or deletes the files Names of Folder, in their order, into TargetFolder (unused
// for Delete). A saved web page is copied or moved together with its files folder (see
// PageFilesFolderName): a copy replaces files of the same names in the target's folder, a move
// does nothing to a page whose folder's name is taken in the target; a file of the folder that
// does not go through is listed as "NAME.files/PATH". The names are taken as they are now, whatever
// the list does meanwhile. Returns the files that did not go through; a stopped run lists nothing
// for the files it did not reach.
QList<FileFailure> RunFileOperation(FileOperation operation, const QString& folder,
                                    const QStringList& names, const QString& targetFolder,
                                    const FileProgress& progress = {});

// "name: reason" lines for a message; past MaxLines one more line tells how many are left out.
QString DescribeFailures(const QList<FileFailure>& failures, int maxLines = 15);

// The folder the chooser returns for what the user typed or picked: a relative text is taken
// below BaseFolder. The folder is created with any missing parents. Empty with *error when it
// cannot be made or a file stands in its place.
QString AcceptChosenFolder(const QString& typed, const QString& baseFolder, QString* error);

// Folder if it exists, else its nearest existing parent; the home folder when none exists.
QString ExistingFolderOrParent(const QString& folder);

// The text a text preview shows: the file read as UTF-8 when it is valid UTF-8 (a byte-order mark
// is honoured), else as Latin-1; at most MaxBytes are read, *truncated tells whether more was
// there. Empty with *ok false when the file cannot be read.
QString ReadPreviewText(const QString& path, qint64 maxBytes, bool* truncated = nullptr,
                        bool* ok = nullptr);
