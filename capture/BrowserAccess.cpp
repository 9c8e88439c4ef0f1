#include "BrowserAccess.h"

namespace {
BrowserAccess* g_access = nullptr;
}

void SetBrowserAccess(BrowserAccess* access)
{
    g_access = access;
}

BrowserAccess* CurrentBrowserAccess()
{
    return g_access;
}
