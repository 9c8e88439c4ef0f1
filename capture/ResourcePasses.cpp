#include "ResourcePasses.h"

#include "FileNames.h"
#include "ResourceFiles.h"
#include "TextRules.h"
#include "WebAddress.h"

#include <QDir>
#include <QHash>
#include <QSet>

namespace {

QString WithSlash(const QString& dir)
{
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

struct PlannedResource
{
    int element;
    QString url;
};

// Writes each resource the browser hands out into the file the pass chose for it.
class ResourceWriter : public ResourceSink
{
public:
    ResourceWriter(const QString& docUrl, const QString& path, const QString& folder)
        : m_docUrl(docUrl), m_path(path), m_folder(folder)
    {}

    void receive(const QString& url, const QByteArray& bytes) override
    {
        if (m_written.contains(url))
            return;
        QString target;
        if (m_folder.isEmpty()) {
            target = WithSlash(m_path) + ResourceFileName(url);
        } else {
            const QString rel = RelativeResourcePath(m_docUrl, url);
            if (!rel.isEmpty())
                target = ResourceTarget(rel, m_path, m_folder);
        }
        m_written.insert(url, target.isEmpty() ? QString() : WriteResourceFile(bytes, target));
        PumpEvents();
    }

    bool received(const QString& url) const { return m_written.contains(url); }
    // The file that holds the URL's bytes; empty when they could not be written.
    QString file(const QString& url) const { return m_written.value(url); }

private:
    QString m_docUrl;
    QString m_path;
    QString m_folder;
    QHash<QString, QString> m_written;
};

} // namespace

QList<AttributeWrite> RunResourcePass(const ResourcePass& pass, Browser& browser,
                                      const PageSnapshot& doc, const QString& path,
                                      const QString& folder, CaptureDisplays& displays)
{
    const bool saving = pass.savingOnly || !folder.isEmpty();
    const QString target = saving ? WithSlash(path) + folder : path;
    if (pass.makesFolderWithoutItems)
        QDir().mkpath(target);

    QList<int> items = doc.elementsTagged(QString::fromLatin1(pass.tag));
    if (items.isEmpty())
        return {};
    if (pass.firstOnly)
        items = items.mid(0, 1);
    else
        QDir().mkpath(target);

    QList<PlannedResource> planned;
    QStringList urls;
    QSet<QString> seen;
    for (int index : std::as_const(items)) {
        const std::optional<QString>& address = doc.elements[size_t(index)].address;
        if (!address)
            continue;
        if (pass.skipsBlankAddress && address->trimmed().isEmpty())
            continue;
        QString url = *address;
        if (pass.resolvesAddress && !IsWebUrl(url))
            url = CombineUrl(doc.address, url);
        if (url.isEmpty())
            continue;
        planned.append({index, url});
        if (!seen.contains(url)) {
            seen.insert(url);
            urls << url;
        }
    }
    if (planned.isEmpty())
        return {};

    ResourceWriter writer(doc.address, saving ? path : target, saving ? folder : QString());
    browser.fetch(doc, urls, writer);

    QList<AttributeWrite> writes;
    const QString folderPrefix = WithSlash(WithSlash(path) + SafeRelativePath(folder));
    for (const PlannedResource& r : std::as_const(planned)) {
        if (!writer.received(r.url))
            continue;
        if (pass.showsFile)
            displays.showFile(r.url);
        const QString file = writer.file(r.url);
        // The saved page names a copy only when it was written, also when it had to be renamed
        // or its path made safe.
        if (saving && file.startsWith(folderPrefix)) {
            const QString address = LinkAddress(folder + u'/' + file.mid(folderPrefix.size()));
            for (const char* attribute : pass.rewrites)
                writes.append({r.element, QString::fromLatin1(attribute), address});
        }
        if (!pass.firstOnly)
            PumpEvents();
    }
    return writes;
}
