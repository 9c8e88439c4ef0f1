#include "BrowserCache.h"

#include <QDir>
#include <QStandardPaths>

namespace {
BrowserCache* g_cache = nullptr;
}

void SetBrowserCache(BrowserCache* cache)
{
    g_cache = cache;
}

BrowserCache* CurrentBrowserCache()
{
    return g_cache;
}

QString BrowserCacheFolder()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/nimbril/browser-cache");
}
