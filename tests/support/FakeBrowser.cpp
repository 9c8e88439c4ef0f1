#include "FakeBrowser.h"

#include "Errors.h"
#include "WebAddress.h"

#include <QUrl>
#include <algorithm>

namespace {

// Elements a browser serialises without an end tag.
bool isVoid(const QString& tag)
{
    static const QStringList voids = {QStringLiteral("IMG"),   QStringLiteral("LINK"),
                                      QStringLiteral("EMBED"), QStringLiteral("BGSOUND"),
                                      QStringLiteral("BR"),    QStringLiteral("META"),
                                      QStringLiteral("FRAME"), QStringLiteral("INPUT")};
    return voids.contains(tag);
}

QString escapeText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            out += QLatin1String("&amp;");
        else if (c == u'<')
            out += QLatin1String("&lt;");
        else if (c == u'>')
            out += QLatin1String("&gt;");
        else
            out += c;
    }
    return out;
}

QString escapeAttribute(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        if (c == u'&')
            out += QLatin1String("&amp;");
        else if (c == u'"')
            out += QLatin1String("&quot;");
        else
            out += c;
    }
    return out;
}

// Attribute names match without regard to case, as in an HTML document.
template <typename Attributes> auto findAttribute(Attributes& attributes, const QString& name)
{
    return std::find_if(attributes.begin(), attributes.end(), [&](const auto& a) {
        return a.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

} // namespace

// --- FakeContext

void FakeContext::resetCalls()
{
    m_calls.clear();
    m_log.clear();
}

void FakeContext::failAfter(const QString& operation, int successes, int failures)
{
    m_rules.insert(operation, Rule{successes, failures});
}

void FakeContext::enter(const char* operation, bool objectFails)
{
    const QString name = QLatin1String(operation);
    ++m_calls[name];
    m_log.append(name);
    if (objectFails)
        throw SafecallError();
    const auto rule = m_rules.find(name);
    if (rule == m_rules.end())
        return;
    if (rule->successes > 0) {
        --rule->successes;
        return;
    }
    if (rule->failures == 0)
        return;
    if (rule->failures > 0)
        --rule->failures;
    throw SafecallError();
}

// --- FakeObject

FakeObject::FakeObject(std::shared_ptr<FakeContext> context)
    : m_context(context ? std::move(context) : std::make_shared<FakeContext>())
{}

void FakeObject::clearFailures()
{
    m_failing.clear();
    m_nulled.clear();
}

void FakeObject::enter(const char* operation) const
{
    m_context->enter(operation, m_failing.contains(QLatin1String(operation)));
}

bool FakeObject::enterOrNull(const char* operation) const
{
    enter(operation);
    return m_nulled.contains(QLatin1String(operation));
}

// --- FakeElement

FakeElement::FakeElement(std::shared_ptr<FakeContext> context, const QString& tag,
                         FakeAttributes attributes)
    : FakeObject(std::move(context)), m_tag(tag.toUpper()), m_attributes(std::move(attributes))
{}

FakeElement* FakeElement::add(const QString& tag, FakeAttributes attributes, const QString& text)
{
    auto child = std::make_shared<FakeElement>(context(), tag, std::move(attributes));
    child->m_parent = this;
    child->attach(m_document);
    if (!text.isEmpty())
        child->addText(text);
    m_children.push_back(child);
    return child.get();
}

void FakeElement::addText(const QString& text)
{
    auto run = std::make_shared<FakeElement>(context(), QString());
    run->m_text = text;
    run->m_parent = this;
    m_children.push_back(run);
}

void FakeElement::removeChild(FakeElement* child)
{
    std::erase_if(m_children, [child](const FakeElementPtr& c) { return c.get() == child; });
}

std::optional<QString> FakeElement::attr(const QString& name) const
{
    const auto it = findAttribute(m_attributes, name);
    if (it == m_attributes.end())
        return std::nullopt;
    return it->second;
}

void FakeElement::setAttr(const QString& name, const QString& value)
{
    const auto it = findAttribute(m_attributes, name);
    if (it != m_attributes.end())
        it->second = value;
    else
        m_attributes.emplace_back(name, value);
}

void FakeElement::removeAttr(const QString& name)
{
    const auto it = findAttribute(m_attributes, name);
    if (it != m_attributes.end())
        m_attributes.erase(it);
}

QString FakeElement::html() const
{
    QString out;
    serialise(out);
    return out;
}

QString FakeElement::text() const
{
    QString out;
    collectText(out);
    return out;
}

void FakeElement::serialise(QString& out) const
{
    if (isText()) {
        out += escapeText(m_text);
        return;
    }
    out += u'<' + m_tag;
    for (const auto& [name, value] : m_attributes)
        out += u' ' + name + QLatin1String("=\"") + escapeAttribute(value) + u'"';
    out += u'>';
    if (isVoid(m_tag))
        return;
    for (const auto& child : m_children)
        child->serialise(out);
    out += QLatin1String("</") + m_tag + u'>';
}

void FakeElement::collectText(QString& out) const
{
    out += m_text;
    for (const auto& child : m_children)
        child->collectText(out);
}

void FakeElement::collect(std::vector<FakeElementPtr>& out, const QString& tag)
{
    if (isText())
        return;
    if (tag.isEmpty() || m_tag == tag)
        out.push_back(shared_from_this());
    for (const auto& child : m_children)
        child->collect(out, tag);
}

void FakeElement::attach(const std::weak_ptr<FakeDocument>& document)
{
    m_document = document;
    for (const auto& child : m_children)
        child->attach(document);
}

bool FakeElement::offers(ElementView view) const
{
    switch (view) {
    case ElementView::Image:
        return m_tag == QLatin1String("IMG");
    case ElementView::Embed:
        return m_tag == QLatin1String("EMBED");
    case ElementView::Script:
        return m_tag == QLatin1String("SCRIPT");
    case ElementView::BackSound:
        return m_tag == QLatin1String("BGSOUND");
    case ElementView::Link:
        return m_tag == QLatin1String("LINK");
    }
    return false;
}

QString FakeElement::resolvedAttr(const QString& name) const
{
    const QString value = attr(name).value_or(QString());
    if (value.isEmpty())
        return QString();
    const auto document = m_document.lock();
    const QString resolved = CombineUrl(document ? document->m_url : QString(), value);
    // A value that does not resolve is reflected as written, as browsers do.
    return resolved.isEmpty() ? value : resolved;
}

void FakeElement::write(const QString& name, const QString& value)
{
    if (const auto document = m_document.lock())
        document->m_journal.push_back({shared_from_this(), name, attr(name)});
    setAttr(name, value);
}

QString FakeElement::tagName()
{
    enter("tagName");
    return m_tag;
}

std::optional<QString> FakeElement::getAttribute(const QString& name)
{
    enter("getAttribute");
    return attr(name);
}

void FakeElement::setAttribute(const QString& name, const QString& value)
{
    enter("setAttribute");
    write(name, value);
}

QString FakeElement::outerHTML()
{
    enter("outerHTML");
    return html();
}

QString FakeElement::innerText()
{
    enter("innerText");
    return text();
}

QString FakeElement::outerText()
{
    enter("outerText");
    return text();
}

bool FakeElement::hasView(ElementView view)
{
    enter("hasView");
    return offers(view);
}

QString FakeElement::address(ElementView view)
{
    enter("address");
    // Asking an element for an interface it lacks fails in a browser too.
    if (!offers(view))
        throw SafecallError();
    return resolvedAttr(view == ElementView::Link ? QStringLiteral("href") : QStringLiteral("src"));
}

void FakeElement::setAddress(ElementView view, const QString& value)
{
    enter("setAddress");
    if (!offers(view))
        throw SafecallError();
    write(view == ElementView::Link ? QStringLiteral("href") : QStringLiteral("src"), value);
}

std::optional<QString> FakeElement::movie()
{
    enter("movie");
    return m_movie;
}

QString FakeElement::protocol()
{
    enter("protocol");
    if (m_tag != QLatin1String("A"))
        return QString();
    const QString scheme = QUrl(resolvedAttr(QStringLiteral("href"))).scheme().toLower();
    return scheme.isEmpty() ? QString() : scheme + u':';
}

// --- FakeCollection

FakeCollection::FakeCollection(std::shared_ptr<FakeContext> context,
                               std::vector<FakeElementPtr> elements)
    : FakeObject(std::move(context)), m_elements(std::move(elements))
{}

int FakeCollection::length()
{
    enter("length");
    return int(m_elements.size());
}

ElementPtr FakeCollection::item(int index)
{
    if (enterOrNull("item") || index < 0 || index >= int(m_elements.size()))
        return nullptr;
    return m_elements[size_t(index)];
}

CollectionPtr FakeCollection::tags(const QString& tagName)
{
    if (enterOrNull("tags"))
        return nullptr;
    std::vector<FakeElementPtr> matching;
    for (const auto& e : m_elements) {
        if (e->tag().compare(tagName, Qt::CaseInsensitive) == 0)
            matching.push_back(e);
    }
    return std::make_shared<FakeCollection>(context(), std::move(matching));
}

// --- FakeFrames

FakeFrames::FakeFrames(std::shared_ptr<FakeContext> context, FakeDocumentPtr owner)
    : FakeObject(std::move(context)), m_owner(std::move(owner))
{}

DocumentPtr FakeFrames::documentByName(const QString& name)
{
    if (enterOrNull("documentByName"))
        return nullptr;
    for (const auto& [frameName, document] : m_owner->m_frames) {
        if (frameName == name)
            return document;
    }
    return nullptr;
}

// --- FakeDocument

FakeDocumentPtr FakeDocument::create(const QString& url, const QString& title,
                                     std::shared_ptr<FakeContext> context)
{
    auto document = std::make_shared<FakeDocument>(Key{}, std::move(context), url, title);
    document->m_root = std::make_shared<FakeElement>(document->context(), QStringLiteral("HTML"));
    document->m_root->attach(document);
    document->m_head = document->m_root->add(QStringLiteral("HEAD"));
    document->m_body = document->m_root->add(QStringLiteral("BODY"));
    return document;
}

FakeDocument::FakeDocument(Key, std::shared_ptr<FakeContext> context, const QString& url,
                           const QString& title)
    : FakeObject(std::move(context)), m_url(url), m_title(title)
{}

FakeElement* FakeDocument::add(FakeElement* parent, const QString& tag, FakeAttributes attributes,
                               const QString& text)
{
    return parent->add(tag, std::move(attributes), text);
}

FakeElement* FakeDocument::addToHead(const QString& tag, FakeAttributes attributes,
                                     const QString& text)
{
    return m_head->add(tag, std::move(attributes), text);
}

FakeElement* FakeDocument::addToBody(const QString& tag, FakeAttributes attributes,
                                     const QString& text)
{
    return m_body->add(tag, std::move(attributes), text);
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

void FakeDocument::registerFrame(const QString& name, FakeDocumentPtr document)
{
    m_frames.emplace_back(name, std::move(document));
}

std::vector<FakeDocumentPtr> FakeDocument::frameDocuments() const
{
    std::vector<FakeDocumentPtr> documents;
    for (const auto& frame : m_frames) {
        if (frame.second)
            documents.push_back(frame.second);
    }
    return documents;
}

int FakeDocument::undoWrites()
{
    const int count = pendingWrites();
    for (auto it = m_journal.rbegin(); it != m_journal.rend(); ++it) {
        if (it->before)
            it->element->setAttr(it->name, *it->before);
        else
            it->element->removeAttr(it->name);
    }
    m_journal.clear();
    return count;
}

QString FakeDocument::url()
{
    enter("url");
    return m_url;
}

QString FakeDocument::title()
{
    enter("title");
    return m_title;
}

ElementPtr FakeDocument::body()
{
    if (enterOrNull("body") || !m_body)
        return nullptr;
    return m_body->shared_from_this();
}

CollectionPtr FakeDocument::collection(const char* operation, const QString& tag)
{
    if (enterOrNull(operation))
        return nullptr;
    std::vector<FakeElementPtr> elements;
    m_root->collect(elements, tag);
    return std::make_shared<FakeCollection>(context(), std::move(elements));
}

CollectionPtr FakeDocument::images()
{
    return collection("images", QStringLiteral("IMG"));
}

CollectionPtr FakeDocument::embeds()
{
    return collection("embeds", QStringLiteral("EMBED"));
}

CollectionPtr FakeDocument::scripts()
{
    return collection("scripts", QStringLiteral("SCRIPT"));
}

CollectionPtr FakeDocument::all()
{
    return collection("all", QString());
}

FramesPtr FakeDocument::frames()
{
    if (enterOrNull("frames"))
        return nullptr;
    return std::make_shared<FakeFrames>(context(), shared_from_this());
}

ElementPtr FakeDocument::documentElement()
{
    if (enterOrNull("documentElement"))
        return nullptr;
    return m_root;
}

// --- FakeBrowserWindow

FakeBrowserWindow::FakeBrowserWindow(std::shared_ptr<FakeContext> context, FakeDocumentPtr document)
    : FakeObject(std::move(context)), m_document(std::move(document))
{}

bool FakeBrowserWindow::hasDocument()
{
    enter("hasDocument");
    return m_document != nullptr;
}

DocumentPtr FakeBrowserWindow::htmlDocument()
{
    if (enterOrNull("htmlDocument") || !m_html)
        return nullptr;
    return m_document;
}

bool FakeBrowserWindow::offline()
{
    enter("offline");
    return m_offline;
}

void FakeBrowserWindow::setOffline(bool offline)
{
    enter("setOffline");
    m_offline = offline;
}

void FakeBrowserWindow::refresh()
{
    enter("refresh");
    m_refreshOfflineStates.push_back(m_offline);
    // Each document once, even if frames share one or refer back to an ancestor.
    std::vector<FakeDocumentPtr> pending;
    std::vector<FakeDocument*> seen;
    if (m_document)
        pending.push_back(m_document);
    while (!pending.empty()) {
        const FakeDocumentPtr document = pending.back();
        pending.pop_back();
        if (std::find(seen.begin(), seen.end(), document.get()) != seen.end())
            continue;
        seen.push_back(document.get());
        document->undoWrites();
        for (const auto& frame : document->frameDocuments())
            pending.push_back(frame);
    }
}

// --- FakeShellWindow, FakeWindowList

FakeShellWindow::FakeShellWindow(std::shared_ptr<FakeContext> context,
                                 std::shared_ptr<FakeBrowserWindow> browser)
    : FakeObject(std::move(context)), m_browser(std::move(browser))
{}

BrowserWindow* FakeShellWindow::asBrowser()
{
    if (enterOrNull("asBrowser"))
        return nullptr;
    return m_browser.get();
}

FakeWindowList::FakeWindowList(std::shared_ptr<FakeContext> context,
                               std::shared_ptr<std::vector<ShellWindowPtr>> entries)
    : FakeObject(std::move(context)), m_entries(std::move(entries))
{}

int FakeWindowList::count()
{
    enter("count");
    return int(m_entries->size());
}

ShellWindowPtr FakeWindowList::item(int index)
{
    if (enterOrNull("item") || index < 0 || index >= int(m_entries->size()))
        return nullptr;
    return (*m_entries)[size_t(index)];
}

// --- FakeBrowser

FakeBrowser::FakeBrowser()
    : FakeObject(std::make_shared<FakeContext>()),
      m_entries(std::make_shared<std::vector<ShellWindowPtr>>())
{}

FakeDocumentPtr FakeBrowser::newDocument(const QString& url, const QString& title)
{
    return FakeDocument::create(url, title, context());
}

std::shared_ptr<FakeBrowserWindow> FakeBrowser::addBrowserWindow(FakeDocumentPtr document)
{
    auto window = std::make_shared<FakeBrowserWindow>(context(), std::move(document));
    m_entries->push_back(std::make_shared<FakeShellWindow>(context(), window));
    return window;
}

std::shared_ptr<FakeShellWindow> FakeBrowser::addOtherWindow()
{
    auto entry = std::make_shared<FakeShellWindow>(context());
    m_entries->push_back(entry);
    return entry;
}

WindowListPtr FakeBrowser::windows()
{
    if (enterOrNull("windows"))
        return nullptr;
    return std::make_shared<FakeWindowList>(context(), m_entries);
}

QString FakeBrowser::topmostBrowserCaption()
{
    enter("topmostBrowserCaption");
    return m_caption;
}

void FakeBrowser::closeAllBrowserWindows()
{
    enter("closeAllBrowserWindows");
    ++m_closeAllCount;
}
