#pragma once

#include <QByteArray>
#include <QString>

// Writes a whole file so that a failure never destroys the old one: the bytes go to a temporary
// file with a short name beside it (so even a 255-byte name can be replaced), which is then
// renamed over the target. An existing file's permissions are kept. Returns false and sets
// *error when anything fails; the old file is then untouched and no temporary file remains.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// A temporary file beside `path` for writing it whole: open for writing, locked for as long as
// it stays open (so that SweepLeftoverFiles can tell a live writer's file from one left by a
// writer that was killed), its name in *tempPath. -1 with errno set on failure.
int OpenLockedTemporaryFile(const QString& folder, QString* tempPath);

// Removes the temporary files that writers killed between writing and renaming left in `folder`
// and its subfolders down to `depth` levels; files of writers still at work are kept. Returns
// how many were removed.
int SweepLeftoverFiles(const QString& folder, int depth = 2);

// The same for bytes that come in pieces: each call of next() gives the following piece, an
// empty piece ends the file; between pieces the caller may let events run.
class AtomicFileWriter
{
public:
    explicit AtomicFileWriter(const QString& path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool open();
    bool write(const char* data, qint64 size);
    // Renames the finished file over the target.
    bool commit();
    QString errorString() const { return m_error; }

private:
    void discard();

    QString m_path;
    QString m_temp;
    int m_fd = -1;
    bool m_replacesFile = false;
    QString m_error;
};
