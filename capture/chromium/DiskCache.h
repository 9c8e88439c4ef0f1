#pragma once

#include "Browser.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

// Reading resource bytes straight from the HTTP cache a Chromium-family browser keeps on disk,
// so that saving a page costs a file copy instead of a trip through the DevTools protocol. Only
// ever read: the browser's files are opened read-only, and anything the reader does not fully
// understand is a miss, after which the caller asks the browser instead.
namespace DiskCache {

// The name of the entry file that holds the cache entry for a key ("0ed5a233c8cc6e7d_0").
QString EntryFileName(const QByteArray& key);

// The forms a site ("scheme://registrable-domain") of a URL can take: the host and each of its
// parent domains, as the registrable domain is one of them. An IP address or a single-label
// host is its own site. Empty for anything but http(s).
QStringList SiteCandidates(const QString& url);

// The cache keys a resource loaded by a document may be stored under: the browser splits its
// cache by the top-level site and the site of the frame that loaded the resource.
QList<QByteArray> CandidateKeys(const QString& topSite, const QString& frameSite,
                                const QString& url);

// Why an entry was not used, for tests and statistics.
enum class Miss
{
    None,
    NotFound,     // no entry file, or another key in it
    Malformed,    // magic, version, lengths or check sums do not fit: also a half-written entry
    NotComplete,  // not a complete 200 response stored whole
    NotDecodable, // a content encoding the reader does not know, or a damaged encoded body
    TooLarge,     // the body is, or unpacks to, more than kLargestResource bytes
};

// The body a cache entry file holds for `key`, decoded from its content encoding; nullopt with
// `why` set when the entry cannot be trusted to be what the page received.
std::optional<QByteArray> ParseEntry(QByteArray file, const QByteArray& key, Miss* why = nullptr);

// `body` with the response's Content-Encoding ("gzip", "deflate", "br", "zstd", a list of them, or
// "identity") undone; nullopt for an unknown encoding, a damaged or cut-off stream, or an
// output larger than `limit` bytes (then `overLimit` is set). Decoding stops at the limit, so
// that a small body that unpacks to gigabytes never takes more than `limit` of memory.
std::optional<QByteArray> DecodeContent(const QByteArray& body, const QByteArray& encoding,
                                        qint64 limit = kLargestResource, bool* overLimit = nullptr);

// What the browser's process says about itself, read from /proc.
struct BrowserProcess
{
    QStringList arguments;
    QHash<QString, QString> environment;
    QString workingDir;
};
std::optional<BrowserProcess> ReadProcess(qint64 pid);

// Whether the process can be the browser listening on `port`: a process id from a browser in
// another process namespace (a sandboxed package) names some other process here. A browser whose
// debugging was switched on without a switch cannot be checked and is believed.
bool ListensOn(const BrowserProcess& process, int port);

// The cache folders (".../Cache/Cache_Data") of the browser's profiles that exist on disk.
// `userDataHint` is the folder the browser's DevToolsActivePort file was found in (may be
// empty); `port` identifies the right default profile folder when the command line names none.
QStringList CacheFolders(const BrowserProcess& process, const QString& userDataHint, int port);

// Looks resources up in a set of cache folders. Remembers which pair of sites answered last, as
// every resource of one document usually lives under the same pair.
class Reader
{
public:
    void setFolders(const QStringList& folders) { m_folders = folders; }
    const QStringList& folders() const { return m_folders; }

    // The decoded bytes for `url`, loaded by a frame showing `frameUrl` in a page showing
    // `topUrl`; nullopt when no usable entry exists.
    std::optional<QByteArray> read(const QString& topUrl, const QString& frameUrl,
                                   const QString& url, Miss* why = nullptr);

private:
    std::optional<QByteArray> readKey(const QByteArray& key, Miss* why);

    QStringList m_folders;
    QString m_lastTop;
    QString m_lastFrame;
    std::pair<QString, QString> m_sitesOf; // the addresses m_topSites and m_frameSites are for
    QStringList m_topSites;
    QStringList m_frameSites;
};

} // namespace DiskCache
