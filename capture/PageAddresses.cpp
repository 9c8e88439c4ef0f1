#include "PageAddresses.h"

#include "WebAddress.h"

QString DocumentBase(const PageSnapshot& doc)
{
    for (int index : doc.elementsTagged(QStringLiteral("BASE")))
        if (const std::optional<QString> href =
                doc.elements[size_t(index)].attribute(QStringLiteral("href"))) {
            const QString base = ResolveAddress(doc.address, *href);
            return base.isEmpty() ? doc.address : base;
        }
    return doc.address;
}

QString ResolveAddress(const QString& base, const QString& address)
{
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty())
        return QString();
    if (IsWebUrl(trimmed))
        return trimmed;
    return CombineUrl(base, trimmed);
}

std::pair<QString, QString> SplitFragment(const QString& url)
{
    const qsizetype hash = url.indexOf(u'#');
    if (hash < 0)
        return {url, QString()};
    return {url.left(hash), url.mid(hash)};
}
