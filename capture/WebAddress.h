#pragma once

#include <QString>

// Web addresses as the capture reads them from a page: which are web addresses, how a relative
// one resolves, and where a resource lies below its page.

// True for http://, https:// and ftp:// URLs, in any letter case.
bool IsWebUrl(const QString& url);

// RelativeUrl resolved against BaseUrl; empty when that fails or the result exceeds 2,054
// characters.
QString CombineUrl(const QString& baseUrl, const QString& relativeUrl);

// The text after the last "/" (the whole text when it holds none).
QString UrlFileNamePart(const QString& url);

// The resource's path below the page's location, compared character by character; its bare
// file name when the URLs part in the scheme; empty for equal URLs.
QString RelativeResourcePath(const QString& pageUrl, const QString& resourceUrl);
