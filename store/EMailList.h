#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>

// E-mail list files: plain UTF-8 text, one address per line, every line ended by CR LF. These
// functions know nothing of widgets; the e-mail dialog forwards to them.

// Called now and then during a long list operation so that the caller can let events run and
// show how far it got; Done grows towards Total.
using EMailListProgress = std::function<void(qint64 done, qint64 total)>;

// True when FileName counts as an e-mail list file for merging: its extension is ".txt" in any
// letter case. The content is not examined.
bool IsEMailListFile(const QString& fileName);

// The lines of a list file's bytes: a line ends at CR, LF or CR LF, and a final line break adds
// no empty line. A UTF-8 byte-order mark before the first line is not part of it.
QByteArrayList SplitEMailListLines(const QByteArray& bytes);

// Every entry followed by CR LF, in UTF-8 without a byte-order mark.
QByteArray FormatEMailList(const QStringList& entries);

// The bytes of Existing with Addresses merged in: an address is added when neither a line of
// Existing nor an address added before equals it ignoring letter case by the user's locale;
// then every line is sorted ignoring letter case by that locale. Lines already there are kept
// byte for byte (duplicates and blank lines included), so a line that is not valid UTF-8
// survives the merge unchanged.
QByteArray MergeEMailList(const QByteArray& existing, const QStringList& addresses,
                          const EMailListProgress& progress = {});

// Writes Entries as a new list file over FileName; the old file stays whole when that fails.
// Throws InOutError.
void WriteEMailList(const QString& fileName, const QStringList& entries);

// Merges Addresses into the list file FileName (see MergeEMailList) and replaces it with the
// result; the old file stays whole when anything fails. Throws InOutError.
void MergeIntoEMailListFile(const QString& fileName, const QStringList& addresses,
                            const EMailListProgress& progress = {});
