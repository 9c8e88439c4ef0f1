#pragma once

#include "CaptureKind.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>

// The helpers the page saver, the harvesters, drops and the viewer share. Paths use "/"; a
// helper reports failure in its result (empty text, -1, false, class 0), never by a message.

// Upper-case extensions without the dot, in their fixed order (PLS stands twice in MusicExts).
extern const QStringList PhotoExts;
extern const QStringList MusicExts;
extern const QStringList WebPageExts;

// True for http://, https:// and ftp:// URLs, in any letter case.
bool IsWebUrl(const QString& url);

// RelativeUrl resolved against BaseUrl; empty when that fails or the result exceeds 2,054
// characters.
QString CombineUrl(const QString& baseUrl, const QString& relativeUrl);

// The text after the last "/" (the whole text when it holds none).
QString UrlFileNamePart(const QString& url);

// The resource's path below the page's location, compared character by character; its bare
// file name when the URLs part in the scheme; empty for equal URLs.
QString RelativeResourcePath(const QString& pageUrl, const QString& resourceUrl);

// Size of a file in bytes, 64 bits wide; -1 when there is no such file.
qint64 GetFileSize(const QString& path);

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

// Position (from 1) of the first character after the last "(" when Name ends in "(integer)",
// else -1.
int CounterSuffixPos(const QString& name);

// The text made usable as a file name.
QString CleanFileName(const QString& text);

// The file class of an existing file by the text after the last "." of its path.
FileClass ClassifyFile(const QString& path);
// The file class a file of that name would have, whether or not it exists.
FileClass ClassifyFileName(const QString& path);

// True when the texts are equal with ASCII letters compared without case.
bool AsciiEqualsIgnoreCase(QStringView a, QStringView b);

// The text without the characters of code 0 to 32 at both ends.
QString TrimControlChars(const QString& text);

// True when Text equals one of List[0..HighIndex], ASCII letters compared without case.
bool TextInList(const QString& text, const QStringList& list, int highIndex);

// The runtime's string-to-integer conversion: leading blanks, a sign, then decimal digits or
// "$", "x", "0x" and hex digits; the whole text must be consumed and fit 32 bits.
bool StrToIntStrict(const QString& text, int* value);

// The decimal digits of a random integer from 0 to 2147483646, from the process-wide generator.
QString RandomDigits();

// A relative path from a page made safe to become folders below a root: empty, "." and ".."
// segments cannot climb out, and each segment fits a file name.
QString SafeRelativePath(const QString& relPath);

// A file name component cut at a character boundary so that it takes at most maxBytes in UTF-8.
QString CutToBytes(const QString& name, int maxBytes);

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
