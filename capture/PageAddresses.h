#pragma once

#include "Browser.h"

#include <QList>
#include <QString>
#include <utility>

// The addresses a page's elements name, read as a browser reads them: against the document's
// base.

// The address the document's relative addresses resolve against: its first BASE element's
// address, else its own.
QString DocumentBase(const PageSnapshot& doc);

// A relative address of any form (a path, "/root/x", "//host/x", "?query") resolved against the
// base; a web address as it is; empty when blank or when it does not resolve.
QString ResolveAddress(const QString& base, const QString& address);

// Whether the address, written in a page, would be read against the page's own location: not
// blank, no scheme of its own, and not a mere "#part" of the document.
bool IsRelativeAddress(const QString& address);

// The URL without its fragment, and the fragment with its "#" (empty when there is none).
std::pair<QString, QString> SplitFragment(const QString& url);
