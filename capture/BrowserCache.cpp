#include "BrowserCache.h"

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
