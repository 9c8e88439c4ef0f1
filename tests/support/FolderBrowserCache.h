#pragma once

#include "BrowserCache.h"

#include <QHash>
#include <QString>

// A browser cache that tests fill: each URL added is stored as a file in one folder.
class FolderBrowserCache : public BrowserCache
{
public:
    explicit FolderBrowserCache(const QString& folder);

    // Stores the bytes under fileName (default: the URL's last segment) and returns the path.
    QString add(const QString& url, const QByteArray& bytes, const QString& fileName = QString());

    QString localFile(const QString& url) override;

    int lookups() const { return m_lookups; }

private:
    QString m_folder;
    QHash<QString, QString> m_files;
    int m_lookups = 0;
};

// Installs a cache for the lifetime of a test scope.
class ScopedBrowserCache
{
public:
    explicit ScopedBrowserCache(BrowserCache* cache) { SetBrowserCache(cache); }
    ~ScopedBrowserCache() { SetBrowserCache(nullptr); }
    ScopedBrowserCache(const ScopedBrowserCache&) = delete;
    ScopedBrowserCache& operator=(const ScopedBrowserCache&) = delete;
};
