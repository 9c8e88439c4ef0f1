#include "WebAddress.h"

#include "TextRules.h"

#include <QUrl>

namespace {

bool startsWithIgnoreCase(QStringView text, QStringView prefix)
{
    return text.size() >= prefix.size() && AsciiEqualsIgnoreCase(text.left(prefix.size()), prefix);
}

constexpr int kCombinedUrlLimit = 2054; // a 2,055-byte buffer with its terminating zero

} // namespace

bool IsWebUrl(const QString& url)
{
    return startsWithIgnoreCase(url, u"http://") || startsWithIgnoreCase(url, u"https://") ||
           startsWithIgnoreCase(url, u"ftp://");
}

QString CombineUrl(const QString& baseUrl, const QString& relativeUrl)
{
    const QUrl base(baseUrl);
    const QUrl relative(relativeUrl);
    if (!base.isValid() || base.isRelative() || !relative.isValid())
        return QString();
    const QString combined = QString::fromUtf8(base.resolved(relative).toEncoded());
    if (combined.isEmpty() || combined.size() > kCombinedUrlLimit)
        return QString();
    return combined;
}

QString UrlFileNamePart(const QString& url)
{
    return url.mid(url.lastIndexOf(u'/') + 1);
}

QString RelativeResourcePath(const QString& pageUrl, const QString& resourceUrl)
{
    if (resourceUrl.size() < pageUrl.size())
        return UrlFileNamePart(resourceUrl);
    for (qsizetype i = 0; i < pageUrl.size(); ++i) {
        if (AsciiUpper(pageUrl[i].unicode()) == AsciiUpper(resourceUrl[i].unicode()))
            continue;
        // URLs that part inside the scheme (http and https) or right after it share no folder.
        const QStringView prefix = QStringView(resourceUrl).left(i);
        if (prefix.contains(u"://") && !AsciiEqualsIgnoreCase(prefix, u"http://") &&
            !AsciiEqualsIgnoreCase(prefix, u"https://") &&
            !AsciiEqualsIgnoreCase(prefix, u"ftp://"))
            return resourceUrl.mid(i);
        return UrlFileNamePart(resourceUrl);
    }
    return resourceUrl.mid(pageUrl.size());
}
