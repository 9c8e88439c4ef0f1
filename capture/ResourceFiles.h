#pragma once

#include "Message.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Where a captured resource lands in the collection and how its bytes get there. Nothing is ever
// written outside the folder the capture names, and a file already there is kept unless it holds
// the same bytes.

// The file a resource at RelPath (from the page's address) gets below Root/SubFolder: its folders
// are kept, made safe segment by segment so that none climbs out, and its query is left out so
// that the name ends in its own extension. Empty when no usable name remains.
QString ResourceTarget(const QString& relPath, const QString& root, const QString& subFolder);

// The file name a harvested resource gets from its address: the last path segment, decoded and
// made usable as a file name ("index" when none remains).
QString ResourceFileName(const QString& url);

// Writes bytes as a new file at target, unless a file of that name already holds the same bytes;
// a different file keeps its place and the bytes go beside it under a name with random digits
// before the extension. The file appears under its name whole or not at all. Returns the path
// that now holds the bytes, or the empty text when nothing could be written.
// `why`, when given, says what went wrong.
QString WriteResourceFile(const QByteArray& bytes, const QString& target, Message* why = nullptr);

// Writes resource files as WriteResourceFile does, on a thread of its own and one after the other
// in the order given, while the caller goes on to the next resource: a capture's files are
// written while the next one's bytes are read. At most kQueuedBytes wait to be written at once.
// The first kWrittenAtOnce files are written in the caller: a style sheet or a script alone is
// not worth a thread.
class ResourceFileQueue
{
public:
    struct Written
    {
        QString id;   // as given to write()
        qint64 size;  // of the bytes given
        QString file; // the path that now holds the bytes; empty: not written
        Message why;  // why not
    };

    ResourceFileQueue() = default;
    // Waits for the files still queued: each is written whole or not at all.
    ~ResourceFileQueue();
    ResourceFileQueue(const ResourceFileQueue&) = delete;
    ResourceFileQueue& operator=(const ResourceFileQueue&) = delete;

    // Queues the bytes for `target`; waits first while too many bytes are queued.
    void write(const QString& id, const QByteArray& bytes, const QString& target);
    // Waits until every queued file is written; what became of each since the last call, in
    // the order queued.
    QList<Written> finish();

private:
    static constexpr qint64 kQueuedBytes = qint64(64) << 20;
    static constexpr int kWrittenAtOnce = 4;
    struct Job
    {
        QString id;
        QByteArray bytes;
        QString target;
    };
    void run();
    static Written writeNow(const Job& job);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs;
    qint64 m_queuedBytes = 0;
    bool m_busy = false; // a job is being written
    bool m_closing = false;
    QList<Written> m_done;
    int m_writtenAtOnce = 0;
    std::thread m_thread; // started by the first write after those written at once
};

// The first folder or file from below `root` down to `target` that is a symbolic link, or empty
// when there is none: nothing a capture makes inside its destination is written through one.
// A target that ends in "/" is a folder. Folders found clear are added to `clearFolders`, and
// those already in it are not looked at again.
QString LinkOnTheWay(const QString& root, const QString& target,
                     QSet<QString>* clearFolders = nullptr);

// A relative address written into a saved page for a file of the collection: characters that
// would make a browser read the name differently ("%", "#", "?") are escaped.
QString LinkAddress(const QString& relativePath);

// The address a file below root/subFolder has in the page file saved in root ("Page.files/img/
// x.gif", escaped as LinkAddress does); empty for a file anywhere else.
QString AddressFromPage(const QString& root, const QString& subFolder, const QString& file);
