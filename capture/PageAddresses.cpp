#include "PageAddresses.h"

#include "WebAddress.h"

#include <QRegularExpression>

namespace {

bool IsSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

} // namespace

QString DocumentBase(const PageSnapshot& doc)
{
    for (int index : doc.elementsTagged(QStringLiteral("BASE")))
        if (const std::optional<QString> href =
                doc.elements[size_t(index)].attribute(QStringLiteral("href"))) {
            const QString base = ResolveAddress(doc.address, *href);
            return IsWebUrl(base) ? base : doc.address;
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

QList<SrcsetCandidate> ParseSrcset(QStringView srcset)
{
    QList<SrcsetCandidate> candidates;
    qsizetype at = 0;
    const qsizetype n = srcset.size();
    for (;;) {
        while (at < n && (IsSpace(srcset[at]) || srcset[at] == u','))
            ++at;
        if (at >= n)
            break;
        const qsizetype start = at;
        while (at < n && !IsSpace(srcset[at]))
            ++at;
        QString address = srcset.sliced(start, at - start).toString();
        QString descriptor;
        if (address.endsWith(u',')) {
            while (address.endsWith(u','))
                address.chop(1);
        } else {
            const qsizetype from = at;
            int depth = 0;
            while (at < n && (depth > 0 || srcset[at] != u',')) {
                if (srcset[at] == u'(')
                    ++depth;
                else if (srcset[at] == u')' && depth > 0)
                    --depth;
                ++at;
            }
            descriptor = srcset.sliced(from, at - from).trimmed().toString();
        }
        if (!address.isEmpty())
            candidates.append({address, descriptor});
    }
    return candidates;
}

QString ComposeSrcset(const QList<SrcsetCandidate>& candidates)
{
    QStringList parts;
    for (const SrcsetCandidate& c : candidates) {
        QString address = c.address;
        address.replace(u' ', QLatin1String("%20"))
            .replace(u'\t', QLatin1String("%09"))
            .replace(u'\n', QLatin1String("%0A"))
            .replace(u'\r', QLatin1String("%0D"))
            .replace(u'\f', QLatin1String("%0C"));
        // A comma at either end would be read as the separator.
        if (address.startsWith(u','))
            address = QLatin1String("%2C") + address.mid(1);
        if (address.endsWith(u','))
            address = address.left(address.size() - 1) + QLatin1String("%2C");
        parts << (c.descriptor.isEmpty() ? address : address + u' ' + c.descriptor);
    }
    return parts.join(QLatin1String(", "));
}
