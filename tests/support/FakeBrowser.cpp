#include "FakeBrowser.h"

#include "Errors.h"
#include "WebAddress.h"

#include <QUrl>
#include <algorithm>

namespace {

// Elements a browser serialises without an end tag.
bool IsVoid(const QString& tag)
{
    static const QStringList voids = {QStringLiteral("IMG"),   QStringLiteral("LINK"),
                                      QStringLiteral("EMBED"), QStringLiteral("BGSOUND"),
                                      QStringLiteral("BR"),    QStringLiteral("META"),
                                      QStringLiteral("FRAME"), QStringLiteral("INPUT")};
    return voids.contains(tag.toUpper());
}

QString Escape(const QString& text, bool attribute)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            out += QLatin1String("&amp;");
        else if (!attribute && c == u'<')
            out += QLatin1String("&lt;");
        else if (!attribute && c == u'>')
            out += QLatin1String("&gt;");
        else if (attribute && c == u'"')
            out += QLatin1String("&quot;");
        else
            out += c;
    }
    return out;
}

// Attribute names match without regard to case, as in an HTML document.
template <typename Attributes> auto FindAttribute(Attributes& attributes, const QString& name)
{
    return std::find_if(attributes.begin(), attributes.end(), [&](const auto& a) {
        return a.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

// An address as a browser reflects it: resolved against the document, or as written when it
// does not resolve.
QString Resolved(const QString& docUrl, const std::optional<QString>& value)
{
    if (!value || value->isEmpty())
        return QString();
    const QString resolved = CombineUrl(docUrl, *value);
    return resolved.isEmpty() ? *value : resolved;
}

void Flatten(const FakeElement* element, std::vector<const FakeElement*>& out)
{
    if (element->isText())
        return;
    out.push_back(element);
    for (const auto& child : element->children())
        Flatten(child.get(), out);
}

// Serialises element with the writes that name it (by its index in `order`) applied.
void Serialise(const FakeElement* element, const std::vector<const FakeElement*>& order,
               const QList<AttributeWrite>& writes, QString& out)
{
    if (element->isText()) {
        out += Escape(element->text(), false);
        return;
    }
    const int index = int(std::find(order.begin(), order.end(), element) - order.begin());
    FakeAttributes attributes = element->attributes();
    std::optional<QString> text;
    for (const AttributeWrite& w : writes) {
        if (w.element != index)
            continue;
        if (w.name.isEmpty()) {
            text = w.value;
            continue;
        }
        if (auto it = FindAttribute(attributes, w.name); it != attributes.end())
            it->second = w.value;
        else
            attributes.emplace_back(w.name, w.value);
    }
    out += u'<' + element->tag();
    for (const auto& [name, value] : attributes)
        out += u' ' + name + QLatin1String("=\"") + Escape(value, true) + u'"';
    out += u'>';
    if (IsVoid(element->tag()))
        return;
    if (text) {
        out += Escape(*text, false) + QLatin1String("</") + element->tag() + u'>';
        return;
    }
    for (const auto& child : element->children())
        Serialise(child.get(), order, writes, out);
    out += QLatin1String("</") + element->tag() + u'>';
}

} // namespace

// ---- FakeElement ----------------------------------------------------------------------------

FakeElement::FakeElement(QString tag, FakeAttributes attributes, QString text)
    : m_tag(std::move(tag)), m_attributes(std::move(attributes))
{
    if (!text.isEmpty())
        addText(text);
}

FakeElement* FakeElement::add(const QString& tag, FakeAttributes attributes, const QString& text)
{
    m_children.push_back(std::make_unique<FakeElement>(tag, std::move(attributes), text));
    return m_children.back().get();
}

void FakeElement::addText(const QString& text)
{
    auto run = std::make_unique<FakeElement>(QString());
    run->m_text = text;
    m_children.push_back(std::move(run));
}

void FakeElement::removeChild(FakeElement* child)
{
    std::erase_if(m_children, [child](const auto& c) { return c.get() == child; });
}

std::optional<QString> FakeElement::attr(const QString& name) const
{
    const auto it = FindAttribute(m_attributes, name);
    return it == m_attributes.end() ? std::nullopt : std::optional<QString>(it->second);
}

void FakeElement::setAttr(const QString& name, const QString& value)
{
    if (auto it = FindAttribute(m_attributes, name); it != m_attributes.end())
        it->second = value;
    else
        m_attributes.emplace_back(name, value);
}

void FakeElement::removeAttr(const QString& name)
{
    if (auto it = FindAttribute(m_attributes, name); it != m_attributes.end())
        m_attributes.erase(it);
}

QString FakeElement::text() const
{
    QString out = m_text;
    for (const auto& child : m_children)
        out += child->text();
    return out;
}

// ---- FakeDocument ---------------------------------------------------------------------------

FakeDocumentPtr FakeDocument::create(const QString& url, const QString& title)
{
    return std::make_shared<FakeDocument>(url, title);
}

FakeDocument::FakeDocument(const QString& url, const QString& title)
    : m_url(url), m_title(title), m_root(std::make_unique<FakeElement>(QStringLiteral("HTML")))
{
    m_head = m_root->add(QStringLiteral("HEAD"));
    m_body = m_root->add(QStringLiteral("BODY"));
}

FakeElement* FakeDocument::addToHead(const QString& tag, FakeAttributes attributes,
                                     const QString& text)
{
    return m_head->add(tag, std::move(attributes), text);
}

FakeElement* FakeDocument::addToBody(const QString& tag, FakeAttributes attributes,
                                     const QString& text)
{
    return (m_body ? m_body : m_root.get())->add(tag, std::move(attributes), text);
}

void FakeDocument::removeBody()
{
    if (m_body)
        m_root->removeChild(m_body);
    m_body = nullptr;
}

FakeElement* FakeDocument::addFrame(const QString& name, FakeDocumentPtr document,
                                    const QString& src, FakeElement* parent)
{
    FakeAttributes attributes{{QStringLiteral("name"), name}};
    if (!src.isEmpty())
        attributes.emplace_back(QStringLiteral("src"), src);
    FakeElement* target = parent ? parent : (m_body ? m_body : m_root.get());
    registerFrame(name, std::move(document));
    return target->add(QStringLiteral("FRAME"), std::move(attributes));
}

FakeElement* FakeDocument::addInlineFrame(FakeDocumentPtr document, const QString& src,
                                          FakeElement* parent)
{
    FakeElement* target = parent ? parent : (m_body ? m_body : m_root.get());
    FakeElement* element = target->add(QStringLiteral("IFRAME"), {{QStringLiteral("src"), src}});
    m_inlineFrames.emplace_back(element, std::move(document));
    return element;
}

FakeDocumentPtr FakeDocument::inlineFrameOf(const FakeElement* element) const
{
    for (const auto& [shown, document] : m_inlineFrames)
        if (shown == element)
            return document;
    return nullptr;
}

void FakeDocument::registerFrame(const QString& name, FakeDocumentPtr document)
{
    m_frames.emplace_back(name, std::move(document));
}

QString FakeDocument::html() const
{
    std::vector<const FakeElement*> order;
    Flatten(m_root.get(), order);
    QString out;
    Serialise(m_root.get(), order, {}, out);
    return out;
}

// ---- FakeBrowser ----------------------------------------------------------------------------

FakePage& FakeBrowser::addPage(FakeDocumentPtr document, const QString& context)
{
    m_pages.push_back(std::make_unique<FakePage>(FakePage{std::move(document), true, context}));
    return *m_pages.back();
}

void FakeBrowser::hold(const QString& url, const QByteArray& bytes, const QString& context)
{
    m_bytes.insert(context + u'\n' + url, bytes);
}

std::optional<QByteArray> FakeBrowser::held(const QString& context, const QString& url) const
{
    for (const QString& key : {QString(context + u'\n' + url), QString(u'\n' + url)})
        if (const auto it = m_bytes.constFind(key); it != m_bytes.cend())
            return *it;
    return std::nullopt;
}

void FakeBrowser::failAfter(const QString& operation, int successes, int failures)
{
    m_rules.insert(operation, {successes, failures});
}

void FakeBrowser::stopAnswering(const QString& operation, int successes, int failures)
{
    m_rules.insert(operation, {successes, failures, true});
}

void FakeBrowser::enter(const char* operation)
{
    const QString name = QLatin1String(operation);
    ++m_calls[name];
    const auto it = m_rules.find(name);
    if (it == m_rules.end())
        return;
    if (it->successes > 0) {
        --it->successes;
        return;
    }
    if (it->failures == 0)
        return;
    if (it->failures > 0)
        --it->failures;
    if (it->noAnswer)
        throw NoAnswerError();
    throw SafecallError();
}

QList<PageRef> FakeBrowser::pages()
{
    enter("pages");
    QList<PageRef> refs;
    for (size_t i = 0; i < m_pages.size(); ++i) {
        const FakePage& page = *m_pages[i];
        refs.append({QString::number(i), page.document ? page.document->url() : QString(),
                     page.document ? page.document->title() : QString(), page.context});
    }
    return refs;
}

PageSnapshot FakeBrowser::read(const FakeDocumentPtr& document, const QString& context,
                               const QString& topUrl)
{
    Snapshot kept{document, {}};
    Flatten(document->root(), kept.elements);
    PageSnapshot snap;
    snap.address = document->url();
    snap.title = document->title();
    snap.context = context;
    snap.topAddress = topUrl.isEmpty() ? document->url() : topUrl;
    // Addresses resolve against the first BASE element's address, as in a browser.
    QString base = snap.address;
    for (const FakeElement* e : kept.elements)
        if (e->tag().toUpper() == QLatin1String("BASE") && e->attr(QStringLiteral("href"))) {
            base = Resolved(snap.address, e->attr(QStringLiteral("href")));
            break;
        }
    for (size_t i = 0; i < kept.elements.size(); ++i) {
        const FakeElement* e = kept.elements[i];
        ElementData data;
        data.tag = e->tag().toUpper();
        for (const auto& [name, value] : e->attributes())
            data.attributes << name << value;
        if (data.tag == QLatin1String("LINK"))
            data.address = Resolved(base, e->attr(QStringLiteral("href")));
        else if (data.tag == QLatin1String("OBJECT"))
            data.address = e->movie();
        else if (data.tag == QLatin1String("IMG") || data.tag == QLatin1String("EMBED") ||
                 data.tag == QLatin1String("SCRIPT") || data.tag == QLatin1String("BGSOUND"))
            data.address = Resolved(data.tag == QLatin1String("BGSOUND") ? snap.address : base,
                                    e->attr(QStringLiteral("src")));
        else if (data.tag == QLatin1String("A")) {
            const QString scheme =
                QUrl(Resolved(snap.address, e->attr(QStringLiteral("href")))).scheme().toLower();
            data.protocol = scheme.isEmpty() ? QString() : scheme + u':';
        }
        if (e == document->root())
            snap.root = int(i);
        if (e == document->bodyElement())
            snap.body = int(i);
        snap.elements.push_back(std::move(data));
    }
    m_snapshots.push_back(std::move(kept));
    snap.handle = m_snapshots.size();
    for (const auto& [name, frame] : document->frames()) {
        // The first frame registered under a name is the one the name finds.
        if (std::any_of(snap.frames.begin(), snap.frames.end(),
                        [&](const FrameDocument& f) { return f.name == name; }))
            continue;
        snap.frames.push_back({name, frame ? std::make_shared<const PageSnapshot>(
                                                 read(frame, context, snap.topAddress))
                                           : nullptr});
    }
    return snap;
}

std::optional<PageSnapshot> FakeBrowser::snapshot(const PageRef& ref)
{
    enter("snapshot");
    bool ok = false;
    const qsizetype index = ref.id.toLongLong(&ok);
    if (!ok || index < 0 || size_t(index) >= m_pages.size())
        throw SafecallError();
    const FakePage& page = *m_pages[size_t(index)];
    if (!page.document || !page.html)
        return std::nullopt;
    return read(page.document, page.context, QString());
}

const FakeBrowser::Snapshot& FakeBrowser::snapshotOf(const PageSnapshot& page) const
{
    if (page.handle == 0 || page.handle > m_snapshots.size())
        throw SafecallError();
    return m_snapshots[page.handle - 1];
}

QString FakeBrowser::text(const PageSnapshot& page, int element)
{
    enter("text");
    const Snapshot& s = snapshotOf(page);
    if (element < 0 || size_t(element) >= s.elements.size())
        throw SafecallError();
    return s.elements[size_t(element)]->text();
}

std::shared_ptr<const PageSnapshot> FakeBrowser::inlineFrame(const PageSnapshot& page, int element)
{
    enter("inlineFrame");
    const Snapshot& s = snapshotOf(page);
    if (element < 0 || size_t(element) >= s.elements.size())
        throw SafecallError();
    const FakeDocumentPtr shown = s.document->inlineFrameOf(s.elements[size_t(element)]);
    if (!shown)
        return nullptr;
    return std::make_shared<const PageSnapshot>(read(shown, page.context, page.topAddress));
}

void FakeBrowser::fetch(const PageSnapshot& page, const QStringList& urls, ResourceSink& sink)
{
    enter("fetch");
    for (const QString& url : urls) {
        if (!sink.wantsMore())
            break;
        m_fetched << url;
        if (const std::optional<QByteArray> bytes = held(page.context, url))
            sink.receive(url, *bytes);
    }
}

bool FakeBrowser::fetchShown(const QString& url, ResourceSink& sink)
{
    enter("fetchShown");
    m_fetched << url;
    for (const auto& page : m_pages) {
        if (!page->document)
            continue;
        // A page shows the resource when one of its elements names it.
        const PageSnapshot snap = read(page->document, page->context, QString());
        const bool shows = std::any_of(snap.elements.begin(), snap.elements.end(),
                                       [&](const ElementData& e) { return e.address == url; });
        if (!shows)
            continue;
        if (const std::optional<QByteArray> bytes = held(page->context, url)) {
            sink.receive(url, *bytes);
            return true;
        }
    }
    return false;
}

void FakeBrowser::serialize(const PageSnapshot& page, const QList<AttributeWrite>& writes,
                            const CopyOptions&, const TextWriter& write)
{
    enter("serialize");
    const Snapshot& s = snapshotOf(page);
    QString out;
    Serialise(s.document->root(), s.elements, writes, out);
    write(out.toUtf8());
}

QString FakeBrowser::frontWindowCaption()
{
    enter("caption");
    return m_caption;
}

void FakeBrowser::closeAllWindows()
{
    enter("closeAll");
    ++m_closeAllCount;
}
