#include "PageAddresses.h"

#include "WebAddress.h"

#include <QRegularExpression>

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

bool IsRelativeAddress(const QString& address)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    const QString trimmed = address.trimmed();
    return !trimmed.isEmpty() && !trimmed.startsWith(u'#') && !scheme.match(trimmed).hasMatch();
}

std::pair<QString, QString> SplitFragment(const QString& url)
{
    const qsizetype hash = url.indexOf(u'#');
    if (hash < 0)
        return {url, QString()};
    return {url.left(hash), url.mid(hash)};
}
