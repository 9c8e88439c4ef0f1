#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

// Copies of files and folders, and the sizes and contents they are compared by. Paths use "/";
// failure shows in the result (-1, false, an errno), never in a message.

// Size of a file in bytes, 64 bits wide; -1 when there is no such file.
qint64 GetFileSize(const QString& path);

// True when the two files hold the same bytes.
bool SameFileContents(const QString& a, const QString& b);

// Copies what is left of the open file `in` to the open file `out`: by the kernel where the
// file systems allow it, else through a buffer, a megabyte at a time; every few megabytes
// `keepGoing` (when given) is asked whether to go on. 0, or the errno of the failure
// (ECANCELED when `keepGoing` said no).
int CopyOpenFile(int in, int out, const std::function<bool()>& keepGoing = {});

// Copies a file's bytes (and permission bits) to a new file; false, with nothing left behind,
// when `to` exists already or the copy fails. Unlike QFile::copy it makes no temporary file
// and forces nothing to disk, so a save of thousands of small files costs only their writes.
bool CopyNewFile(const QString& from, const QString& to);

// Answers of the one asked before a folder copy replaces a file.
enum class ReplaceAnswer
{
    Yes,
    YesToAll,
    No,
    Cancel
};

// The window a folder copy reports to: progress, and the question before replacing a file.
class FolderCopyObserver
{
public:
    virtual ~FolderCopyObserver() = default;
    virtual ReplaceAnswer askReplace(const QString& targetFile) = 0;
    virtual void progress(int done, int total) = 0;
};

// Copies the files and subfolders of SourceFolder that match Pattern ("*.*" is everything) into
// TargetFolder, creating it. With no observer an existing file is kept. True when every copy
// succeeded and nothing was cancelled.
bool ShellCopyFiles(FolderCopyObserver* owner, const QString& sourceFolder, const QString& pattern,
                    const QString& targetFolder);

// The whole of a regular file, read without waiting on a pipe or a device, with one open and
// one look at its size; nullopt, with *why set to a sentence for the user, when the path is no
// regular file, holds more than maxBytes (then *tooLarge is set) or cannot be read.
std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes,
                                          QString* why = nullptr, bool* tooLarge = nullptr);
