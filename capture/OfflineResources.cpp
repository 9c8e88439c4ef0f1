#include "OfflineResources.h"

#include "PageAddresses.h"
#include "ResourceFiles.h"
#include "ResourcePasses.h"
#include "StyleSheets.h"
#include "WebAddress.h"

#include <QDir>
#include <QSet>
#include <QStringDecoder>
#include <QUrl>

namespace {

// Imported sheets that import further ones end somewhere: a page has no more than this.
constexpr int kMostSheets = 500;

// Keeps the bodies the browser hands out, for sheets that are read before they are written.
class KeepingSink : public ResourceSink
{
public:
    void receive(const QString& url, const QByteArray& bytes) override
    {
        bodies.insert(url, bytes);
    }
    // A sheet the browser will not hand out is left to the link pass, which says why.
    void refuse(const QString&, const Message&) override {}
    QHash<QString, QByteArray> bodies;
};

// A sheet's text: UTF-8 when its bytes are (a byte order mark kept, since it tells the encoding
// to a browser that opens the copy), else one character per byte, so that the bytes come back
// unchanged when it is written.
QString DecodeSheet(const QByteArray& bytes, bool* utf8)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder(bytes);
    *utf8 = !decoder.hasError();
    return *utf8 ? text : QString::fromLatin1(bytes);
}

// An address written into a sheet kept one byte per character: characters beyond ASCII as
// their UTF-8 bytes escaped.
QString ForSheet(const QString& address, bool utf8)
{
    if (utf8)
        return address;
    QString out;
    for (const QChar c : address)
        out += c.unicode() < 0x80 ? QString(c)
                                  : QString::fromLatin1(QUrl::toPercentEncoding(QString(c)));
    return out;
}

// Attributes that name one picture or medium, by element; srcset lists are read apart.
const QList<std::pair<QLatin1String, QLatin1String>>& MediaSources()
{
    static const QList<std::pair<QLatin1String, QLatin1String>> table = {
        {QLatin1String("VIDEO"), QLatin1String("src")},
        {QLatin1String("VIDEO"), QLatin1String("poster")},
        {QLatin1String("AUDIO"), QLatin1String("src")},
        {QLatin1String("SOURCE"), QLatin1String("src")},
        {QLatin1String("TRACK"), QLatin1String("src")},
        {QLatin1String("INPUT"), QLatin1String("src")},
        {QLatin1String("BODY"), QLatin1String("background")},
        {QLatin1String("TABLE"), QLatin1String("background")},
        {QLatin1String("TD"), QLatin1String("background")},
        {QLatin1String("TH"), QLatin1String("background")},
    };
    return table;
}

// Attributes whose relative address would name nothing once the page lies on disk.
const QList<std::pair<QLatin1String, QLatin1String>>& Addresses()
{
    static const QList<std::pair<QLatin1String, QLatin1String>> table = {
        {QLatin1String("A"), QLatin1String("href")},
        {QLatin1String("AREA"), QLatin1String("href")},
        {QLatin1String("FORM"), QLatin1String("action")},
        {QLatin1String("IMG"), QLatin1String("src")},
        {QLatin1String("SCRIPT"), QLatin1String("src")},
        {QLatin1String("LINK"), QLatin1String("href")},
        {QLatin1String("EMBED"), QLatin1String("src")},
        {QLatin1String("OBJECT"), QLatin1String("data")},
        {QLatin1String("BGSOUND"), QLatin1String("src")},
        {QLatin1String("FRAME"), QLatin1String("src")},
        {QLatin1String("IFRAME"), QLatin1String("src")},
    };
    return table;
}

QString WriteKey(int element, const QString& name)
{
    return QString::number(element) + u'\n' + name.toLower();
}

} // namespace

OfflineResources::OfflineResources(Browser& browser, const PageSnapshot& doc, const QString& path,
                                   const QString& folder, CaptureLedger* ledger)
    : m_browser(browser), m_doc(doc), m_path(path), m_folder(folder), m_ledger(ledger),
      m_base(DocumentBase(doc))
{}

void OfflineResources::noteNamed(const QString& css, const QString& base, QStringList* imports)
{
    for (const SheetAddress& a : SheetAddresses(css)) {
        const QString url = SplitFragment(ResolveAddress(base, a.address)).first;
        if (!IsWebUrl(url))
            continue;
        if (a.import) {
            if (!imports->contains(url))
                imports->append(url);
        } else if (!m_namedSet.contains(url)) {
            m_namedSet.insert(url);
            m_named << url;
        }
    }
}

void OfflineResources::readSheets(QStringList level)
{
    QSet<QString> asked;
    while (!level.isEmpty() && m_sheets.size() < kMostSheets) {
        for (const QString& url : std::as_const(level))
            asked.insert(url);
        KeepingSink sink;
        m_browser.fetch(m_doc, level, sink);
        QStringList next;
        for (const QString& url : std::as_const(level)) {
            const auto body = sink.bodies.constFind(url);
            if (body == sink.bodies.cend())
                continue;
            Sheet sheet;
            sheet.text = DecodeSheet(*body, &sheet.utf8);
            noteNamed(sheet.text, url, &sheet.imports);
            for (const QString& imported : std::as_const(sheet.imports))
                if (!asked.contains(imported) && !next.contains(imported))
                    next << imported;
            m_sheets.insert(url, sheet);
            m_sheetOrder << url;
        }
        level = next;
    }
}

QHash<QString, QByteArray> OfflineResources::saveStyleSheets()
{
    QStringList first;
    for (int index = 0; index < int(m_doc.elements.size()); ++index) {
        const ElementData& element = m_doc.elements[size_t(index)];
        if (IsStyleSheetLink(element) && element.address && IsWebUrl(*element.address)) {
            const QString url = SplitFragment(*element.address).first;
            if (!first.contains(url))
                first << url;
            if (!m_linked.contains(url))
                m_linked << url;
        } else if (element.tag == QLatin1String("STYLE")) {
            const QString text = m_browser.text(m_doc, index);
            m_styleTexts.insert(index, text);
            noteNamed(text, m_base, &first);
        }
        if (const std::optional<QString> style = element.attribute(QStringLiteral("style"))) {
            m_styleAttrs.insert(index, *style);
            QStringList none;
            noteNamed(*style, m_base, &none);
        }
    }
    readSheets(first);
    m_saved = SaveResources(m_browser, m_doc, m_path, m_folder, m_named, m_ledger);
    for (const QString& url : std::as_const(m_sheetOrder))
        writeSheet(url);

    QHash<QString, QByteArray> linked;
    for (const QString& url : std::as_const(m_linked))
        if (const auto it = m_sheets.constFind(url); it != m_sheets.cend() && it->written)
            linked.insert(url, it->bytes);
    return linked;
}

QString OfflineResources::sheetFile(const QString& url) const
{
    const auto it = m_sheets.constFind(url);
    if (it == m_sheets.cend())
        return QString();
    if (it->writing) // a sheet that imports one that imports it: where it is about to land
        return ResourceTarget(RelativeResourcePath(m_doc.address, url), m_path, m_folder);
    return it->file;
}

void OfflineResources::writeSheet(const QString& url)
{
    // Only sheets the browser held are written; the ones they import go first, so that each
    // names the file its import was written to.
    const auto it = m_sheets.find(url);
    if (it == m_sheets.end() || it->written || it->writing)
        return;
    it->writing = true;
    const QStringList imports = it->imports;
    for (const QString& imported : imports)
        writeSheet(imported);
    Sheet& self = m_sheets[url];
    const QString target =
        ResourceTarget(RelativeResourcePath(m_doc.address, url), m_path, m_folder);
    if (!target.isEmpty()) {
        const QDir here(target.left(target.lastIndexOf(u'/')));
        const QString text =
            ReplaceSheetAddresses(self.text, [&](const SheetAddress& a) -> std::optional<QString> {
                const auto [resolved, fragment] = SplitFragment(ResolveAddress(url, a.address));
                if (!IsWebUrl(resolved))
                    return std::nullopt;
                const QString file = a.import ? sheetFile(resolved) : m_saved.files.value(resolved);
                if (file.isEmpty())
                    return ForSheet(resolved + fragment, self.utf8);
                return ForSheet(LinkAddress(here.relativeFilePath(file)) + fragment, self.utf8);
            });
        self.bytes = self.utf8 ? text.toUtf8() : text.toLatin1();
        const SavedResources saved =
            SaveResources(m_browser, m_doc, m_path, m_folder, {url}, m_ledger, {{url, self.bytes}});
        self.file = saved.files.value(url);
        if (const Message why = saved.failures.value(url); m_ledger && !why.isEmpty())
            m_ledger->refuse(url, why);
    }
    self.writing = false;
    self.written = true;
}

QString OfflineResources::rewriteForPage(const QString& css) const
{
    return ReplaceSheetAddresses(css, [&](const SheetAddress& a) -> std::optional<QString> {
        const auto [resolved, fragment] = SplitFragment(ResolveAddress(m_base, a.address));
        if (!IsWebUrl(resolved))
            return std::nullopt;
        const QString file = a.import ? sheetFile(resolved) : m_saved.files.value(resolved);
        const QString local = AddressFromPage(m_path, m_folder, file);
        return (local.isEmpty() ? resolved : local) + fragment;
    });
}

QList<AttributeWrite> OfflineResources::finish(const QList<AttributeWrite>& done)
{
    QList<AttributeWrite> writes;
    QSet<QString> written;
    for (const AttributeWrite& w : done)
        written.insert(WriteKey(w.element, w.name));
    auto write = [&](int element, const QString& name, const QString& value) {
        writes.append({element, name, value});
        written.insert(WriteKey(element, name));
    };

    for (auto it = m_styleTexts.cbegin(); it != m_styleTexts.cend(); ++it)
        if (const QString text = rewriteForPage(it.value()); text != it.value())
            write(it.key(), QString(), text);
    for (auto it = m_styleAttrs.cbegin(); it != m_styleAttrs.cend(); ++it)
        if (const QString text = rewriteForPage(it.value()); text != it.value())
            write(it.key(), QStringLiteral("style"), text);

    // Sources and srcset candidates: each held one is saved, the others named on the web.
    struct Use
    {
        int element;
        QString name;
        QList<SrcsetCandidate> candidates; // addresses resolved, fragments kept
        bool list;
    };
    QList<Use> uses;
    QStringList urls;
    QSet<QString> listed;
    for (int index = 0; index < int(m_doc.elements.size()); ++index) {
        const ElementData& element = m_doc.elements[size_t(index)];
        auto use = [&](const QString& name, QList<SrcsetCandidate> candidates, bool list) {
            for (SrcsetCandidate& c : candidates) {
                // Inline data and other schemes stay exactly as written.
                if (IsRelativeAddress(c.address) || IsWebUrl(c.address.trimmed()))
                    c.address = ResolveAddress(m_base, c.address);
                if (const QString url = SplitFragment(c.address).first;
                    IsWebUrl(url) && !listed.contains(url)) {
                    listed.insert(url);
                    urls << url;
                }
            }
            uses.append({index, name, candidates, list});
        };
        if (element.tag == QLatin1String("IMG") || element.tag == QLatin1String("SOURCE"))
            if (const auto srcset = element.attribute(QStringLiteral("srcset")))
                use(QStringLiteral("srcset"), ParseSrcset(*srcset), true);
        for (const auto& [tag, name] : MediaSources()) {
            if (element.tag != tag)
                continue;
            if (tag == QLatin1String("INPUT") &&
                element.attribute(QStringLiteral("type")).value_or(QString()).toLower() !=
                    QLatin1String("image"))
                continue;
            const std::optional<QString> value = element.attribute(name);
            if (value && (IsRelativeAddress(*value) || IsWebUrl(value->trimmed())))
                use(name, {{*value, QString()}}, false);
        }
    }
    const SavedResources media = SaveResources(m_browser, m_doc, m_path, m_folder, urls, m_ledger);
    for (const Use& u : std::as_const(uses)) {
        QList<SrcsetCandidate> now = u.candidates;
        for (SrcsetCandidate& c : now) {
            const auto [url, fragment] = SplitFragment(c.address);
            if (const QString local = AddressFromPage(m_path, m_folder, media.files.value(url));
                !local.isEmpty())
                c.address = local + fragment;
        }
        const QString value =
            u.list ? ComposeSrcset(now) : (now.isEmpty() ? QString() : now.first().address);
        const std::optional<QString> before = m_doc.elements[size_t(u.element)].attribute(u.name);
        if (!value.isEmpty() && before != value && !written.contains(WriteKey(u.element, u.name)))
            write(u.element, u.name, value);
    }

    // What the page names but has no copy of is named by its web address, so that it does not
    // turn into a file that is not there.
    for (int index = 0; index < int(m_doc.elements.size()); ++index) {
        const ElementData& element = m_doc.elements[size_t(index)];
        for (const auto& [tag, name] : Addresses()) {
            if (element.tag != tag || written.contains(WriteKey(index, name)))
                continue;
            const std::optional<QString> value = element.attribute(name);
            if (!value || !IsRelativeAddress(*value))
                continue;
            if (const QString url = ResolveAddress(m_base, *value); !url.isEmpty() && url != *value)
                write(index, name, url);
        }
        // The copy is written in UTF-8 and says so, whatever the page was sent in.
        if (element.tag == QLatin1String("META")) {
            if (const auto charset = element.attribute(QStringLiteral("charset"));
                charset && charset->trimmed().compare(u"utf-8", Qt::CaseInsensitive) != 0)
                write(index, QStringLiteral("charset"), QStringLiteral("utf-8"));
            const auto content = element.attribute(QStringLiteral("content"));
            if (content &&
                element.attribute(QStringLiteral("http-equiv"))
                        .value_or(QString())
                        .trimmed()
                        .compare(u"content-type", Qt::CaseInsensitive) == 0 &&
                content->contains(QLatin1String("charset"), Qt::CaseInsensitive) &&
                !content->contains(QLatin1String("utf-8"), Qt::CaseInsensitive))
                write(index, QStringLiteral("content"), QStringLiteral("text/html; charset=utf-8"));
        }
        // Relative addresses of the copy name the files beside it.
        if (element.tag == QLatin1String("BASE") && element.attribute(QStringLiteral("href")))
            write(index, QStringLiteral("href"), QStringLiteral("."));
    }
    return writes;
}
