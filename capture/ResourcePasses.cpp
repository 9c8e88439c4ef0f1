#include "ResourcePasses.h"

#include "FileNames.h"
#include "ResourceFiles.h"
#include "TextRules.h"
#include "WebAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

namespace {

// Events are let through at the capture's pace when there is a capture, at once otherwise.
void PumpEventsOf(CaptureLedger* ledger)
{
    if (ledger)
        ledger->pumpEvents();
    else
        PumpEvents();
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
    ResourceWriter(const QString& docUrl, const QString& path, const QString& folder,
                   CaptureLedger* ledger)
        : m_docUrl(docUrl), m_path(path), m_folder(folder), m_ledger(ledger)
    {}

    void receive(const QString& url, const QByteArray& bytes) override
    {
        if (m_written.contains(url) || !wantsMore())
            return;
        if (m_ledger && m_ledger->bytesWritten + bytes.size() > CaptureLedger::kByteLimit) {
            refuse(url, {QStringLiteral("C_CaptureByteLimit"),
                         QStringLiteral("not written: the capture has written %1 GiB, its limit"),
                         {QString::number(CaptureLedger::kByteLimit >> 30)}});
            return;
        }
        QString target;
        if (m_folder.isEmpty()) {
            target = WithSlash(m_path) + ResourceFileName(url);
        } else {
            const QString rel = RelativeResourcePath(m_docUrl, url);
            if (!rel.isEmpty())
                target = ResourceTarget(rel, m_path, m_folder);
        }
        // Only the folders on the way are looked at: a link in the file's own place is never
        // written through, as the file is only ever linked in where no name is.
        const QString link =
            m_folder.isEmpty() || target.isEmpty()
                ? QString()
                : LinkOnTheWay(m_path, target.left(target.lastIndexOf(u'/') + 1), &m_clearFolders);
        m_written.insert(url, QString()); // the file's path once it is written
        if (!link.isEmpty()) {
            notWritten(url, {QStringLiteral("C_SymbolicLink"),
                             QStringLiteral("%1 is a symbolic link"),
                             {link}});
        } else if (!target.isEmpty()) {
            // Counted as written at once, so that the limit holds for what is queued.
            if (m_ledger)
                m_ledger->bytesWritten += bytes.size();
            m_files.write(url, bytes, target);
        }
        PumpEventsOf(m_ledger);
    }

    // Waits until every file received is written; before that, file() and failure() do not
    // know what became of them.
    void finish()
    {
        for (const ResourceFileQueue::Written& written : m_files.finish()) {
            if (!written.file.isEmpty()) {
                m_written.insert(written.id, written.file);
                continue;
            }
            if (m_ledger)
                m_ledger->bytesWritten -= written.size;
            notWritten(written.id, written.why);
        }
    }

    void refuse(const QString& url, const Message& why) override
    {
        if (m_written.contains(url) || !wantsMore())
            return;
        m_written.insert(url, QString());
        m_failures.insert(url, why);
    }

    bool wantsMore() const override { return !m_ledger || !m_ledger->stopping(); }

    void notWritten(const QString& url, const Message& why)
    {
        m_failures.insert(
            url, {QStringLiteral("C_NotWritten"), QStringLiteral("not written: %1"), {why}});
    }

    // The URL's bytes are already in `file`, which is where they belong.
    void adopt(const QString& url, const QString& file) { m_written.insert(url, file); }

    bool received(const QString& url) const { return m_written.contains(url); }
    // The file that holds the URL's bytes; empty when they could not be written.
    QString file(const QString& url) const { return m_written.value(url); }
    // Why the URL's bytes were not written; empty when they were, or had no place to go.
    Message failure(const QString& url) const { return m_failures.value(url); }

private:
    QString m_docUrl;
    QString m_path;
    QString m_folder;
    CaptureLedger* m_ledger;
    QHash<QString, QString> m_written;
    QHash<QString, Message> m_failures;
    // Folders on the way to the files written that were found to be no symbolic links.
    QSet<QString> m_clearFolders;
    ResourceFileQueue m_files; // last: its writes end before the rest goes
};

// Elements whose resource every page that shows it holds: a link of another relation (a
// canonical address, a preconnection) names nothing to save.
bool NamesAResource(const ResourcePass& pass, const ElementData& element)
{
    return QLatin1String(pass.tag) != QLatin1String("LINK") || IsStyleSheetLink(element);
}

} // namespace

bool IsStyleSheetLink(const ElementData& element)
{
    const QString rel = element.attribute(QStringLiteral("rel")).value_or(QString()).toLower();
    return element.tag == QLatin1String("LINK") &&
           rel.split(u' ', Qt::SkipEmptyParts).contains(QStringLiteral("stylesheet"));
}

void CaptureLedger::refuse(const QString& url, const Message& why)
{
    const Message line(QString(), QStringLiteral("%1: %2"), {url, why});
    if (!notSaved.contains(line))
        notSaved << line;
}

void CaptureLedger::pumpEvents()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_lastPump && now - *m_lastPump < std::chrono::milliseconds(2))
        return;
    m_lastPump = now;
    PumpEvents();
}

bool CaptureLedger::stopping()
{
    if (!m_stopped && stopRequested)
        m_stopped = stopRequested();
    return m_stopped;
}

SavedResources SaveResources(Browser& browser, const PageSnapshot& doc, const QString& path,
                             const QString& folder, const QStringList& urls, CaptureLedger* ledger,
                             const QHash<QString, QByteArray>& given)
{
    const bool saving = !folder.isEmpty();
    ResourceWriter writer(doc.address, path, folder, ledger);
    // What this capture wrote before comes from its own file: kept where it already is, copied
    // where another page needs it. Bytes the caller made are this page's own.
    QStringList toFetch;
    const QString here = QDir(saving ? WithSlash(path) + folder : path).absolutePath();
    for (const QString& url : urls) {
        if (const auto made = given.constFind(url); made != given.cend()) {
            writer.receive(url, *made);
            continue;
        }
        const QString earlier =
            ledger ? ledger->written.value(doc.context + u'\n' + url) : QString();
        const QFileInfo info(earlier);
        if (earlier.isEmpty() || !info.isFile() || info.isSymLink()) {
            toFetch << url;
        } else if (!saving && info.absolutePath() == here) {
            writer.adopt(url, earlier);
        } else if (QFile file(earlier); file.open(QIODevice::ReadOnly)) {
            writer.receive(url, file.readAll());
        } else {
            toFetch << url;
        }
    }
    if (!toFetch.isEmpty())
        browser.fetch(doc, toFetch, writer);
    writer.finish();
    SavedResources saved;
    for (const QString& url : urls) {
        if (!writer.received(url))
            continue;
        saved.received.insert(url);
        if (const QString file = writer.file(url); !file.isEmpty()) {
            saved.files.insert(url, file);
            if (ledger && !given.contains(url))
                ledger->written.insert(doc.context + u'\n' + url, file);
        }
        if (const Message why = writer.failure(url); !why.isEmpty())
            saved.failures.insert(url, why);
    }
    return saved;
}

QList<AttributeWrite> RunResourcePass(const ResourcePass& pass, Browser& browser,
                                      const PageSnapshot& doc, const QString& path,
                                      const QString& folder, CaptureDisplays& displays,
                                      CaptureLedger* ledger,
                                      const QHash<QString, QByteArray>& given)
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

    const SavedResources saved =
        SaveResources(browser, doc, path, saving ? folder : QString(), urls, ledger, given);

    QList<AttributeWrite> writes;
    for (const PlannedResource& r : std::as_const(planned)) {
        if (!saved.received.contains(r.url)) {
            // What a stop left unread is no failure: the page names it by its web address.
            if (ledger && !ledger->stopping() && IsWebUrl(r.url) &&
                NamesAResource(pass, doc.elements[size_t(r.element)]))
                ledger->refuse(r.url, {QStringLiteral("C_NotHeld"),
                                       QStringLiteral("the browser does not hold it (not loaded, "
                                                      "or not kept)")});
            continue;
        }
        if (const Message why = saved.failures.value(r.url); ledger && !why.isEmpty())
            ledger->refuse(r.url, why);
        if (pass.showsFile)
            displays.showFile(r.url);
        const QString file = saved.files.value(r.url);
        // The saved page names a copy only when it was written, also when it had to be renamed
        // or its path made safe.
        if (const QString address = AddressFromPage(path, folder, file);
            saving && !address.isEmpty()) {
            for (const char* attribute : pass.rewrites)
                writes.append({r.element, QString::fromLatin1(attribute), address});
        }
        if (!pass.firstOnly)
            PumpEventsOf(ledger);
    }
    return writes;
}
