#pragma once

#include <QString>

// Where the bytes the browser already holds for a URL can be found on disk: a URL in, the path
// of a local copy out, or the empty text when the browser does not hold that URL. The real
// realisation asks the running browser; tests install a folder-backed one.
class BrowserCache
{
public:
    virtual ~BrowserCache() = default;
    virtual QString localFile(const QString& url) = 0;
};

// The cache GetCacheFileName asks; none installed means nothing is cached. Not owned.
void SetBrowserCache(BrowserCache* cache);
BrowserCache* CurrentBrowserCache();

// The local copy of a URL the browser holds, or empty.
inline QString GetCacheFileName(const QString& url)
{
    BrowserCache* cache = CurrentBrowserCache();
    return cache ? cache->localFile(url) : QString();
}

// The folder where the browser's bytes for a URL are written for the collection to copy from:
// $XDG_CACHE_HOME (or ~/.cache) + "/nimbril/browser-cache". A file dropped from below it is
// copied like a cached file.
QString BrowserCacheFolder();
