#include "CdpBrowser.h"

#include "CdpConnection.h"
#include "CdpProtocol.h"
#include "Errors.h"
#include "FileNames.h"
#include "WebAddress.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <numeric>

namespace {

constexpr int kCallTimeoutMs = 30000;

// Collects everything the engine reads of a document in one evaluation. The elements are kept in
// the isolated world's own global (never the page's), so later calls can name them by index.
const char* const kSnapshotScript = R"JS((() => {
  const store = (globalThis.__nimbrilDocs = globalThis.__nimbrilDocs || []);
  const all = Array.from(document.getElementsByTagName('*'));
  store.push(all);
  const abs = (v) => { try { return new URL(v, document.URL).href; } catch (e) { return v; } };
  const movieOf = (o) => {
    for (const p of o.getElementsByTagName('param')) {
      const n = (p.getAttribute('name') || '').toLowerCase();
      if (n === 'movie' || n === 'src') return p.getAttribute('value');
    }
    const type = (o.getAttribute('type') || '').toLowerCase();
    const data = o.getAttribute('data');
    if (data !== null && (type.includes('flash') || /\.swf([?#]|$)/i.test(data))) return data;
    return null;
  };
  const elems = all.map((e) => {
    const tag = e.tagName.toUpperCase();
    const attrs = [];
    for (const a of e.attributes) attrs.push(a.name, a.value);
    let addr = null;
    switch (tag) {
      case 'IMG': addr = e.currentSrc || e.src || ''; break;
      case 'EMBED': case 'SCRIPT': addr = typeof e.src === 'string' ? e.src : ''; break;
      case 'LINK': addr = typeof e.href === 'string' ? e.href : ''; break;
      case 'BGSOUND': { const s = e.getAttribute('src'); addr = s === null ? '' : abs(s); break; }
      case 'A': addr = e.getAttribute('href') === null ? '' : e.protocol; break;
      case 'OBJECT': addr = movieOf(e); break;
    }
    return [tag, attrs, addr];
  });
  return { id: store.length - 1, url: document.URL, title: document.title,
           contentType: document.contentType, root: all.indexOf(document.documentElement),
           body: document.body ? all.indexOf(document.body) : -1, elems };
})())JS";

// Serialises an element of the live page as it would read with the saver's writes applied: the
// element is copied into an inert document (nothing there loads) and the writes go to the copy.
const char* const kSerializeScript = R"JS(((doc, index, writes) => {
  const all = globalThis.__nimbrilDocs[doc];
  const el = all[index];
  const inert = document.implementation.createHTMLDocument('');
  const copy = inert.importNode(el, true);
  if (writes.length) {
    const originals = [el, ...el.getElementsByTagName('*')];
    const copies = [copy, ...copy.getElementsByTagName('*')];
    const map = new Map();
    originals.forEach((o, i) => map.set(o, copies[i]));
    for (const [i, name, value] of writes) {
      const c = map.get(all[i]);
      if (!c) continue;
      c.setAttribute(name, value);
      if (c.tagName.toUpperCase() === 'OBJECT' && name.toLowerCase() === 'movie') {
        for (const p of c.getElementsByTagName('param'))
          if (['movie', 'src'].includes((p.getAttribute('name') || '').toLowerCase()))
            p.setAttribute('value', value);
        if (c.hasAttribute('data')) c.setAttribute('data', value);
      }
    }
  }
  return copy.outerHTML;
}))JS";

// Reads URLs of the document's own origin from the browser's HTTP cache, never from the network
// (only-if-cached); each result is the body in base64, or null when the cache has no complete
// 200 response for it.
const char* const kCachedFetchScript = R"JS((urls) => Promise.all(urls.map((u) =>
  fetch(u, { cache: 'only-if-cached', mode: 'same-origin', credentials: 'include' })
    .then((r) => r.status !== 200 ? null : r.blob().then((b) => new Promise((done) => {
      const reader = new FileReader();
      reader.onload = () => { const s = reader.result; done(s.slice(s.indexOf(',') + 1)); };
      reader.onerror = () => done(null);
      reader.readAsDataURL(b);
    })))
    .catch(() => null))))JS";

QString JsonArgs(const QJsonArray& args)
{
    QString out = QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact));
    return out.mid(1, out.size() - 2);
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

// What one document of the browser looks like to the layer: the snapshot of its elements, the
// writes the saver made, and where its resources can be read.
struct CdpDocState
{
    CdpBrowser* browser = nullptr;
    QString session;
    QString frameId;
    int contextId = 0;
    int docIndex = 0;
    QString url;
    QString topUrl;      // the page's own address: the browser's cache is split by it
    bool onDisk = false; // whether the page's context keeps its cache in the folders found
    QString title;
    QString contentType;
    int root = -1;
    int body = -1;
    struct Elem
    {
        QString tag;
        QStringList attrs; // name, value, name, value, ...
        std::optional<QString> addr;
    };
    QList<Elem> elems;
    struct Write
    {
        int index;
        QString name;
        QString value;
    };
    QList<Write> writes;
    QHash<QString, QString> resourceFrames; // url -> frame id, from the resource tree
    QHash<QString, qint64> resourceSizes;   // url -> decoded size, where the tree gives one
    QStringList styleUrls;                  // style sheets and manifests of the session's frames
    QSet<QString> prefetched;               // tags whose addresses were fetched together

    QJsonValue evaluate(const QString& expression)
    {
        CdpConnection& c = browser->connection();
        const QJsonObject result = c.call(QStringLiteral("Runtime.evaluate"),
                                          {{QStringLiteral("expression"), expression},
                                           {QStringLiteral("contextId"), contextId},
                                           {QStringLiteral("returnByValue"), true}},
                                          session, kCallTimeoutMs);
        const Cdp::Evaluation e = Cdp::parseEvaluation(result);
        if (e.threw)
            throw SafecallError();
        return e.value;
    }

    std::optional<QString> attribute(int index, const QString& name) const
    {
        for (auto it = writes.crbegin(); it != writes.crend(); ++it)
            if (it->index == index && SameName(it->name, name))
                return it->value;
        const QStringList& a = elems[index].attrs;
        for (qsizetype i = 0; i + 1 < a.size(); i += 2)
            if (SameName(a[i], name))
                return a[i + 1];
        return std::nullopt;
    }

    QString serialize(int index)
    {
        QJsonArray w;
        for (const Write& write : std::as_const(writes))
            w.append(QJsonArray{write.index, write.name, write.value});
        const QJsonValue v = evaluate(QString::fromLatin1(kSerializeScript) + u'(' +
                                      JsonArgs({docIndex, index, w}) + u')');
        return v.toString();
    }

    QString text(int index)
    {
        return evaluate(QStringLiteral("globalThis.__nimbrilDocs[%1][%2].innerText")
                            .arg(docIndex)
                            .arg(index))
            .toString();
    }
};

namespace {

ElementView ViewOfTag(const QString& tag, bool* ok)
{
    *ok = true;
    if (tag == QLatin1String("IMG"))
        return ElementView::Image;
    if (tag == QLatin1String("EMBED"))
        return ElementView::Embed;
    if (tag == QLatin1String("SCRIPT"))
        return ElementView::Script;
    if (tag == QLatin1String("BGSOUND"))
        return ElementView::BackSound;
    if (tag == QLatin1String("LINK"))
        return ElementView::Link;
    *ok = false;
    return ElementView::Image;
}

class CdpElement : public HtmlElement
{
public:
    CdpElement(std::shared_ptr<CdpDocState> doc, int index) : m_doc(std::move(doc)), m_index(index)
    {}
    const CdpDocState::Elem& elem() const { return m_doc->elems[m_index]; }

    QString tagName() override { return elem().tag; }
    std::optional<QString> getAttribute(const QString& name) override
    {
        return m_doc->attribute(m_index, name);
    }
    void setAttribute(const QString& name, const QString& value) override
    {
        m_doc->writes.append({m_index, name, value});
    }
    QString outerHTML() override { return m_doc->serialize(m_index); }
    QString innerText() override { return m_doc->text(m_index); }
    QString outerText() override { return m_doc->text(m_index); }
    bool hasView(ElementView view) override
    {
        bool ok = false;
        const ElementView mine = ViewOfTag(elem().tag, &ok);
        return ok && mine == view;
    }
    QString address(ElementView view) override
    {
        if (!hasView(view))
            throw SafecallError();
        // An address the saver wrote reads back as written, like the live property would.
        const QString attr =
            view == ElementView::Link ? QStringLiteral("href") : QStringLiteral("src");
        for (auto it = m_doc->writes.crbegin(); it != m_doc->writes.crend(); ++it)
            if (it->index == m_index && SameName(it->name, attr))
                return it->value;
        return elem().addr.value_or(QString());
    }
    void setAddress(ElementView view, const QString& value) override
    {
        if (!hasView(view))
            throw SafecallError();
        setAttribute(view == ElementView::Link ? QStringLiteral("href") : QStringLiteral("src"),
                     value);
    }
    std::optional<QString> movie() override
    {
        if (elem().tag != QLatin1String("OBJECT"))
            return std::nullopt;
        return elem().addr;
    }
    QString protocol() override
    {
        if (elem().tag != QLatin1String("A"))
            return QString();
        return elem().addr.value_or(QString());
    }

private:
    std::shared_ptr<CdpDocState> m_doc;
    int m_index;
};

class CdpCollection : public ElementCollection
{
public:
    CdpCollection(std::shared_ptr<CdpDocState> doc, QList<int> indexes)
        : m_doc(std::move(doc)), m_indexes(std::move(indexes))
    {}
    int length() override { return int(m_indexes.size()); }
    ElementPtr item(int index) override
    {
        if (index < 0 || index >= m_indexes.size())
            return nullptr;
        return std::make_shared<CdpElement>(m_doc, m_indexes[index]);
    }
    CollectionPtr tags(const QString& tagName) override
    {
        QList<int> picked;
        for (int i : std::as_const(m_indexes))
            if (SameName(m_doc->elems[i].tag, tagName))
                picked << i;
        return std::make_shared<CdpCollection>(m_doc, picked);
    }

private:
    std::shared_ptr<CdpDocState> m_doc;
    QList<int> m_indexes;
};

std::shared_ptr<CdpDocState> OpenDocument(CdpBrowser* browser, const QString& session,
                                          const QString& frameId, const QString& topUrl,
                                          bool onDisk);

class CdpFrames : public FrameCollection
{
public:
    explicit CdpFrames(std::shared_ptr<CdpDocState> doc) : m_doc(std::move(doc)) {}
    DocumentPtr documentByName(const QString& name) override;

private:
    std::shared_ptr<CdpDocState> m_doc;
};

class CdpDocument : public HtmlDocument
{
public:
    explicit CdpDocument(std::shared_ptr<CdpDocState> doc) : m_doc(std::move(doc)) {}
    QString url() override { return m_doc->url; }
    QString title() override { return m_doc->title; }
    ElementPtr body() override
    {
        return m_doc->body < 0 ? nullptr : std::make_shared<CdpElement>(m_doc, m_doc->body);
    }
    CollectionPtr images() override { return byTag(QStringLiteral("IMG")); }
    CollectionPtr embeds() override { return byTag(QStringLiteral("EMBED")); }
    CollectionPtr scripts() override { return byTag(QStringLiteral("SCRIPT")); }
    CollectionPtr all() override
    {
        QList<int> every(m_doc->elems.size());
        std::iota(every.begin(), every.end(), 0);
        return std::make_shared<CdpCollection>(m_doc, every);
    }
    FramesPtr frames() override { return std::make_shared<CdpFrames>(m_doc); }
    ElementPtr documentElement() override
    {
        return m_doc->root < 0 ? nullptr : std::make_shared<CdpElement>(m_doc, m_doc->root);
    }

private:
    CollectionPtr byTag(const QString& tag) { return all()->tags(tag); }
    std::shared_ptr<CdpDocState> m_doc;
};

DocumentPtr CdpFrames::documentByName(const QString& name)
{
    // The frame's own id comes from its FRAME (or IFRAME) element in this document.
    CdpConnection& c = m_doc->browser->connection();
    const QString expr =
        QStringLiteral("(n => Array.from(document.querySelectorAll('frame,iframe'))"
                       ".find(f => f.getAttribute('name') === n) || null)(%1)")
            .arg(JsonArgs({name}));
    const Cdp::Evaluation found = Cdp::parseEvaluation(c.call(
        QStringLiteral("Runtime.evaluate"),
        {{QStringLiteral("expression"), expr}, {QStringLiteral("contextId"), m_doc->contextId}},
        m_doc->session, kCallTimeoutMs));
    if (found.threw)
        throw SafecallError();
    if (found.objectId.isEmpty())
        return nullptr;
    const QJsonObject node =
        c.call(QStringLiteral("DOM.describeNode"), {{QStringLiteral("objectId"), found.objectId}},
               m_doc->session, kCallTimeoutMs)
            .value(QStringLiteral("node"))
            .toObject();
    c.send(QStringLiteral("Runtime.releaseObject"), {{QStringLiteral("objectId"), found.objectId}},
           m_doc->session);
    const QString frameId = node.value(QStringLiteral("frameId")).toString();
    if (frameId.isEmpty())
        return nullptr;
    const QString session = m_doc->browser->frameSession(frameId, m_doc->session);
    try {
        return std::make_shared<CdpDocument>(
            OpenDocument(m_doc->browser, session, frameId, m_doc->topUrl, m_doc->onDisk));
    } catch (const SafecallError&) {
        return nullptr; // a frame with no document (yet) is no frame to save
    }
}

std::shared_ptr<CdpDocState> OpenDocument(CdpBrowser* browser, const QString& session,
                                          const QString& frameId, const QString& topUrl,
                                          bool onDisk)
{
    CdpConnection& c = browser->connection();
    auto doc = std::make_shared<CdpDocState>();
    doc->browser = browser;
    doc->session = session;
    doc->frameId = frameId;
    doc->onDisk = onDisk;
    // The isolated world sees the page's DOM but none of its scripts' globals, and the page
    // sees nothing of ours.
    const int world = c.send(QStringLiteral("Page.createIsolatedWorld"),
                             {{QStringLiteral("frameId"), frameId},
                              {QStringLiteral("worldName"), QStringLiteral("nimbril")}},
                             session);
    const int tree = c.send(QStringLiteral("Page.getResourceTree"), {}, session);
    doc->contextId =
        c.wait(world, kCallTimeoutMs).value(QStringLiteral("executionContextId")).toInt();
    QJsonObject treeResult;
    try {
        treeResult = c.wait(tree, kCallTimeoutMs);
    } catch (const SafecallError&) {
        // without a resource tree the resources are looked up in the frame itself
    }
    const Cdp::FrameTree frames = Cdp::parseFrameTree(treeResult);
    for (const Cdp::ResourceInfo& r : frames.resources) {
        if (r.failed || r.canceled)
            continue;
        doc->resourceFrames.insert(r.url, r.frameId);
        if (r.contentSize > 0)
            doc->resourceSizes.insert(r.url, r.contentSize);
        if (r.type == QLatin1String("Stylesheet") || r.type == QLatin1String("Manifest"))
            doc->styleUrls << r.url;
    }

    const QJsonObject snap = doc->evaluate(QString::fromLatin1(kSnapshotScript)).toObject();
    doc->docIndex = snap.value(QStringLiteral("id")).toInt();
    doc->url = snap.value(QStringLiteral("url")).toString();
    doc->topUrl = topUrl.isEmpty() ? doc->url : topUrl;
    doc->title = snap.value(QStringLiteral("title")).toString();
    doc->contentType = snap.value(QStringLiteral("contentType")).toString();
    doc->root = snap.value(QStringLiteral("root")).toInt(-1);
    doc->body = snap.value(QStringLiteral("body")).toInt(-1);
    const QJsonArray elems = snap.value(QStringLiteral("elems")).toArray();
    doc->elems.reserve(elems.size());
    for (const QJsonValue& v : elems) {
        const QJsonArray e = v.toArray();
        CdpDocState::Elem elem;
        elem.tag = e.at(0).toString();
        const QJsonArray attrs = e.at(1).toArray();
        elem.attrs.reserve(attrs.size());
        for (const QJsonValue& a : attrs)
            elem.attrs << a.toString();
        if (e.at(2).isString())
            elem.addr = e.at(2).toString();
        doc->elems << elem;
    }
    browser->registerDocument(doc);
    return doc;
}

// A page that shows no web address (the browser's own pages, about:blank): what the engine
// needs of it, its address and title, comes from the target list, so that nothing is attached
// to or evaluated in pages the browser may not let anyone script.
class TargetOnlyDocument : public HtmlDocument
{
public:
    explicit TargetOnlyDocument(const Cdp::TargetInfo& target) : m_target(target) {}
    QString url() override { return m_target.url; }
    QString title() override { return m_target.title; }
    ElementPtr body() override { return nullptr; }
    CollectionPtr images() override { return nullptr; }
    CollectionPtr embeds() override { return nullptr; }
    CollectionPtr scripts() override { return nullptr; }
    CollectionPtr all() override { return nullptr; }
    FramesPtr frames() override { return nullptr; }
    ElementPtr documentElement() override { return nullptr; }

private:
    Cdp::TargetInfo m_target;
};

class CdpPage : public ShellWindow, public BrowserWindow
{
public:
    CdpPage(CdpBrowser* browser, Cdp::TargetInfo target)
        : m_browser(browser), m_target(std::move(target))
    {}
    BrowserWindow* asBrowser() override { return this; }
    bool hasDocument() override { return true; }
    DocumentPtr htmlDocument() override
    {
        if (!IsWebUrl(m_target.url))
            return std::make_shared<TargetOnlyDocument>(m_target);
        const QString session = m_browser->pageSession(m_target.targetId);
        auto doc = OpenDocument(m_browser, session, m_target.targetId, QString(),
                                m_browser->diskCacheServes(m_target.browserContextId));
        const QString type = doc->contentType;
        if (type != QLatin1String("text/html") && type != QLatin1String("application/xhtml+xml"))
            return nullptr;
        m_docs << doc;
        return std::make_shared<CdpDocument>(doc);
    }
    bool offline() override { return m_offline; }
    void setOffline(bool offline) override { m_offline = offline; }
    void refresh() override
    {
        // The live page was never changed; what the saver wrote is forgotten, last first.
        for (const auto& doc : std::as_const(m_docs))
            while (!doc->writes.isEmpty())
                doc->writes.removeLast();
        m_docs.clear();
    }

private:
    CdpBrowser* m_browser;
    Cdp::TargetInfo m_target;
    bool m_offline = false;
    QList<std::shared_ptr<CdpDocState>> m_docs;
};

class CdpWindowList : public ShellWindowList
{
public:
    explicit CdpWindowList(QList<ShellWindowPtr> pages) : m_pages(std::move(pages)) {}
    int count() override { return int(m_pages.size()); }
    ShellWindowPtr item(int index) override
    {
        return index >= 0 && index < m_pages.size() ? m_pages[index] : nullptr;
    }

private:
    QList<ShellWindowPtr> m_pages;
};

QString CacheFileName(const QString& url)
{
    QString path = QUrl(url).path();
    QString name = path.mid(path.lastIndexOf(u'/') + 1);
    name = CleanFileName(QUrl::fromPercentEncoding(name.toUtf8()));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("index");
    return CutToBytes(name, 200);
}

} // namespace

CdpBrowser::CdpBrowser(CdpEndpoint::Sources sources)
    : m_sources(std::move(sources)), m_connection(std::make_unique<CdpConnection>()),
      m_cacheFolder(BrowserCacheFolder())
{
    QObject::connect(m_connection.get(), &CdpConnection::eventReceived, m_connection.get(),
                     [this](const QString& method, const QJsonObject& params,
                            const QString& session) { onEvent(method, params, session); });
    QObject::connect(m_connection.get(), &CdpConnection::disconnected, m_connection.get(),
                     [this] { forgetSessions(); });
}

CdpBrowser::~CdpBrowser() = default;

void CdpBrowser::ensureConnected()
{
    if (m_connection->isConnected())
        return;
    forgetSessions();
    m_httpListAnswers = true;
    const CdpEndpoint::Found found = CdpEndpoint::connectBrowser(*m_connection, m_sources);
    findDiskCache(found.profileFolder);
}

void CdpBrowser::findDiskCache(const QString& profileHint)
{
    // The browser names its own process, whose command line and environment say where its
    // profile keeps the cache, and its default context, the one whose cache that is. A browser
    // that answers neither leaves only the hint. Both questions go out before either answer.
    CdpConnection& c = *m_connection;
    const int processes = c.send(QStringLiteral("SystemInfo.getProcessInfo"));
    const int contexts = c.send(QStringLiteral("Target.getBrowserContexts"));
    auto answer = [&c](int id) {
        try {
            return c.wait(id, kCallTimeoutMs);
        } catch (const SafecallError&) {
            if (!c.isConnected())
                throw;
            return QJsonObject();
        }
    };
    qint64 pid = 0;
    for (const QJsonValue& info : answer(processes).value(QStringLiteral("processInfo")).toArray())
        if (info.toObject().value(QStringLiteral("type")).toString() == QLatin1String("browser"))
            pid = info.toObject().value(QStringLiteral("id")).toInteger();
    m_defaultContext = answer(contexts).value(QStringLiteral("defaultBrowserContextId")).toString();

    const int port = c.url().port();
    DiskCache::BrowserProcess process =
        DiskCache::ReadProcess(pid).value_or(DiskCache::BrowserProcess{});
    if (!DiskCache::ListensOn(process, port))
        process = {};
    m_diskCache.setFolders(DiskCache::CacheFolders(process, profileHint, port));
}

void CdpBrowser::forgetSessions()
{
    m_pageSessions.clear();
    m_frameSessions.clear();
    m_requests.clear();
}

void CdpBrowser::onEvent(const QString& method, const QJsonObject& params, const QString& session)
{
    if (method == QLatin1String("Target.attachedToTarget")) {
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        if (info.value(QStringLiteral("type")).toString() == QLatin1String("iframe"))
            m_frameSessions.insert(info.value(QStringLiteral("targetId")).toString(),
                                   params.value(QStringLiteral("sessionId")).toString());
    } else if (method == QLatin1String("Target.detachedFromTarget")) {
        const QString gone = params.value(QStringLiteral("sessionId")).toString();
        for (auto* map : {&m_pageSessions, &m_frameSessions})
            for (auto it = map->begin(); it != map->end();)
                it = it.value() == gone ? map->erase(it) : std::next(it);
        m_requests.remove(gone);
    } else if (method == QLatin1String("Network.responseReceived")) {
        // Only the page's own complete loads count; the layer's reads from the cache show up
        // here too, as fetches.
        const QJsonObject response = params.value(QStringLiteral("response")).toObject();
        if (response.value(QStringLiteral("status")).toInt() != 200 ||
            params.value(QStringLiteral("type")).toString() == QLatin1String("Fetch"))
            return;
        m_requests[session].insert(response.value(QStringLiteral("url")).toString(),
                                   params.value(QStringLiteral("requestId")).toString());
    }
}

QString CdpBrowser::pageSession(const QString& targetId)
{
    ensureConnected();
    if (const auto it = m_pageSessions.constFind(targetId); it != m_pageSessions.cend())
        return it.value();
    CdpConnection& c = *m_connection;
    const QString session =
        c.call(QStringLiteral("Target.attachToTarget"),
               {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}}, {},
               kCallTimeoutMs)
            .value(QStringLiteral("sessionId"))
            .toString();
    if (session.isEmpty())
        throw SafecallError();
    prepareSession(session);
    m_pageSessions.insert(targetId, session);
    return session;
}

void CdpBrowser::prepareSession(const QString& session)
{
    // Frames from other sites arrive as their own sessions; loads from now on are watched so
    // that even bodies the server marked no-store can be read.
    CdpConnection& c = *m_connection;
    const QList<int> ids = {
        c.send(QStringLiteral("Page.enable"), {}, session),
        c.send(QStringLiteral("Network.enable"),
               {{QStringLiteral("maxTotalBufferSize"), 64 * 1024 * 1024},
                {QStringLiteral("maxResourceBufferSize"), 32 * 1024 * 1024}},
               session),
        c.send(QStringLiteral("Target.setAutoAttach"),
               {{QStringLiteral("autoAttach"), true},
                {QStringLiteral("waitForDebuggerOnStart"), false},
                {QStringLiteral("flatten"), true}},
               session),
    };
    c.waitAll(ids, kCallTimeoutMs);
}

QString CdpBrowser::frameSession(const QString& frameId, const QString& parentSession)
{
    const QString session = m_frameSessions.value(frameId);
    if (session.isEmpty())
        return parentSession; // a frame of the same site lives in its parent's process
    if (!m_pageSessions.contains(frameId)) {
        prepareSession(session);
        m_pageSessions.insert(frameId, session);
    }
    return session;
}

void CdpBrowser::registerDocument(const std::shared_ptr<CdpDocState>& doc)
{
    m_documents.erase(
        std::remove_if(m_documents.begin(), m_documents.end(),
                       [](const std::weak_ptr<CdpDocState>& w) { return w.expired(); }),
        m_documents.end());
    m_documents.append(doc);
}

QStringList CdpBrowser::activationOrder()
{
    // Target.getTargets keeps creation order; the HTTP list puts the page the user looked at
    // last first. A browser whose debugging was allowed by hand answers no HTTP request: then
    // the protocol's order stands.
    if (!m_httpListAnswers)
        return {};
    const QUrl ws = m_connection->url();
    QUrl list;
    list.setScheme(QStringLiteral("http"));
    list.setHost(ws.host());
    list.setPort(ws.port());
    list.setPath(QStringLiteral("/json/list"));
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(list);
    request.setTransferTimeout(2000);
    QNetworkReply* reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    QStringList ids;
    const QJsonDocument json = QJsonDocument::fromJson(reply->readAll());
    if (reply->error() != QNetworkReply::NoError || !json.isArray())
        m_httpListAnswers = false;
    for (const QJsonValue& v : json.array())
        if (v.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
            ids << v.toObject().value(QStringLiteral("id")).toString();
    reply->deleteLater();
    return ids;
}

QList<Cdp::TargetInfo> CdpBrowser::pages()
{
    ensureConnected();
    const QJsonObject result =
        m_connection->call(QStringLiteral("Target.getTargets"), {}, {}, kCallTimeoutMs);
    QList<Cdp::TargetInfo> found = Cdp::pageTargets(Cdp::parseTargets(result));
    const QStringList order = activationOrder();
    std::stable_sort(found.begin(), found.end(),
                     [&order](const Cdp::TargetInfo& a, const Cdp::TargetInfo& b) {
                         const qsizetype x = order.indexOf(a.targetId);
                         const qsizetype y = order.indexOf(b.targetId);
                         return (x < 0 ? order.size() : x) < (y < 0 ? order.size() : y);
                     });
    return found;
}

WindowListPtr CdpBrowser::windows()
{
    const QList<Cdp::TargetInfo> found = pages();
    // A new run: the browser's bytes are read afresh.
    m_fetched.clear();
    QList<ShellWindowPtr> list;
    for (const Cdp::TargetInfo& t : found)
        list << std::make_shared<CdpPage>(this, t);
    return std::make_shared<CdpWindowList>(list);
}

QString CdpBrowser::browserTitleFallback()
{
    const QList<Cdp::TargetInfo> found = pages();
    return found.isEmpty() ? QString() : found.first().title;
}

QString CdpBrowser::topmostBrowserCaption()
{
    if (m_windowSystem.topmostCaption)
        if (const std::optional<QString> caption = m_windowSystem.topmostCaption())
            return *caption;
    return browserTitleFallback();
}

void CdpBrowser::closeAllBrowserWindows()
{
    const int asked = m_windowSystem.closeWindows ? m_windowSystem.closeWindows() : -1;
    if (asked > 0)
        return;
    for (const Cdp::TargetInfo& t : pages())
        m_connection->discard(m_connection->send(QStringLiteral("Target.closeTarget"),
                                                 {{QStringLiteral("targetId"), t.targetId}}));
}

QString CdpBrowser::writeCacheFile(const QString& url, const QByteArray& bytes)
{
    QElapsedTimer timer;
    timer.start();
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    const QString dir = m_cacheFolder + u'/' + hash;
    QDir().mkpath(dir);
    const QString path = dir + u'/' + CacheFileName(url);
    QFile file(path);
    QString result;
    // A copy from an earlier run that holds the same bytes stays: rewriting it costs the disk
    // far more than reading it.
    if (file.size() == bytes.size() && file.open(QIODevice::ReadOnly) && file.readAll() == bytes) {
        result = path;
    } else {
        file.close();
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            result = path;
    }
    file.close();
    m_stats.diskMs += timer.elapsed();
    return result;
}

bool CdpBrowser::diskCacheServes(const QString& browserContextId) const
{
    // Without the browser's word on which context is the profile's own, only the check of each
    // entry's size against the page's guards the copies taken.
    return m_defaultContext.isEmpty() || browserContextId.isEmpty() ||
           browserContextId == m_defaultContext;
}

void CdpBrowser::readDiskCache(const CdpDocState& doc, QStringList& todo,
                               QList<std::pair<QString, QByteArray>>& got)
{
    QElapsedTimer timer;
    timer.start();
    for (auto it = todo.begin(); it != todo.end();) {
        std::optional<QByteArray> bytes = m_diskCache.read(doc.topUrl, doc.url, *it);
        // The page's own account of the size it holds outweighs the disk's copy.
        const qint64 size = doc.resourceSizes.value(*it, -1);
        if (bytes && (size < 0 || size == bytes->size())) {
            ++m_stats.diskReads;
            m_stats.diskBytes += bytes->size();
            got.append({*it, std::move(*bytes)});
            it = todo.erase(it);
        } else {
            ++it;
        }
    }
    m_stats.cacheMs += timer.elapsed();
}

void CdpBrowser::prefetch(const std::shared_ptr<CdpDocState>& doc, const QStringList& urls)
{
    // Four ways to the bytes the browser holds, none of which asks the server: its HTTP cache
    // on disk, read directly; bodies the layer saw arrive; the page's memory; and the HTTP
    // cache for the document's own origin through the page (for what the page no longer keeps
    // in memory and the disk reader could not use). Each way over the protocol sends all its
    // reads before it waits for the first reply.
    CdpConnection& c = *m_connection;
    QStringList todo;
    QSet<QString> seen;
    for (const QString& url : urls) {
        if (m_fetched.contains(url) || !IsWebUrl(url) || seen.contains(url))
            continue;
        seen.insert(url);
        todo << url;
        m_fetched.insert(url, QString());
    }
    QList<std::pair<QString, QByteArray>> got;
    if (m_diskCacheEnabled && doc->onDisk)
        readDiskCache(*doc, todo, got);
    QElapsedTimer timer;
    timer.start();
    auto collect = [&](const QList<std::pair<QString, int>>& sent) {
        QSet<QString> found;
        for (const auto& [url, id] : sent) {
            try {
                if (const auto bytes = Cdp::parseBody(c.wait(id, kCallTimeoutMs))) {
                    got.append({url, *bytes});
                    found.insert(url);
                }
            } catch (const SafecallError&) {
                if (!c.isConnected())
                    throw;
            }
        }
        todo.removeIf([&found](const QString& url) { return found.contains(url); });
    };

    QList<std::pair<QString, int>> sent;
    const QHash<QString, QString> watched = m_requests.value(doc->session);
    for (const QString& url : std::as_const(todo))
        if (const QString request = watched.value(url); !request.isEmpty())
            sent.append({url, c.send(QStringLiteral("Network.getResponseBody"),
                                     {{QStringLiteral("requestId"), request}}, doc->session)});
    collect(sent);

    if (!todo.isEmpty()) {
        // Reading the page's memory makes the browser refresh the page's style sheets first;
        // while it does, those addresses are blocked, so that no request reaches the server.
        const bool block = !doc->styleUrls.isEmpty();
        if (block)
            c.call(QStringLiteral("Network.setBlockedURLs"),
                   {{QStringLiteral("urls"), QJsonArray::fromStringList(doc->styleUrls)}},
                   doc->session, kCallTimeoutMs);
        sent.clear();
        for (const QString& url : std::as_const(todo))
            sent.append({url, c.send(QStringLiteral("Page.getResourceContent"),
                                     {{QStringLiteral("frameId"),
                                       doc->resourceFrames.value(url, doc->frameId)},
                                      {QStringLiteral("url"), url}},
                                     doc->session)});
        try {
            collect(sent);
        } catch (...) {
            if (block && c.isConnected())
                c.discard(c.send(QStringLiteral("Network.setBlockedURLs"),
                                 {{QStringLiteral("urls"), QJsonArray()}}, doc->session));
            throw;
        }
        if (block)
            c.call(QStringLiteral("Network.setBlockedURLs"),
                   {{QStringLiteral("urls"), QJsonArray()}}, doc->session, kCallTimeoutMs);
    }
    const QUrl origin = QUrl(doc->url).adjusted(QUrl::RemovePath | QUrl::RemoveQuery |
                                                QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    QJsonArray sameOrigin;
    for (const QString& url : std::as_const(todo))
        if (QUrl(url).adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment |
                               QUrl::RemoveUserInfo) == origin)
            sameOrigin.append(url);
    if (!sameOrigin.isEmpty()) {
        const QString expression = u'(' + QString::fromLatin1(kCachedFetchScript) +
                                   QStringLiteral(")(") +
                                   JsonArgs(QJsonArray{QJsonValue(sameOrigin)}) + u')';
        const Cdp::Evaluation e =
            Cdp::parseEvaluation(c.call(QStringLiteral("Runtime.evaluate"),
                                        {{QStringLiteral("expression"), expression},
                                         {QStringLiteral("contextId"), doc->contextId},
                                         {QStringLiteral("awaitPromise"), true},
                                         {QStringLiteral("returnByValue"), true}},
                                        doc->session, kCallTimeoutMs));
        const QJsonArray bodies = e.value.toArray();
        for (qsizetype i = 0; i < sameOrigin.size() && i < bodies.size(); ++i)
            if (bodies[i].isString())
                got.append({sameOrigin[i].toString(),
                            QByteArray::fromBase64(bodies[i].toString().toLatin1())});
    }

    m_stats.protocolMs += timer.elapsed();
    for (const auto& [url, bytes] : std::as_const(got)) {
        ++m_stats.resourceReads;
        m_stats.resourceBytes += bytes.size();
        m_fetched.insert(url, writeCacheFile(url, bytes));
    }
}

QString CdpBrowser::localFile(const QString& url)
{
    if (const auto it = m_fetched.constFind(url); it != m_fetched.cend())
        return it.value();
    if (!IsWebUrl(url) || !m_connection->isConnected())
        return QString();
    // The document that uses the URL says where to read it; the other addresses of its elements
    // of the same kind are read in the same round trip, as the pass will ask for them next.
    for (qsizetype d = m_documents.size() - 1; d >= 0; --d) {
        const std::shared_ptr<CdpDocState> doc = m_documents[d].lock();
        if (!doc)
            continue;
        QString tag;
        for (const CdpDocState::Elem& e : std::as_const(doc->elems)) {
            if (e.addr && e.tag != QLatin1String("A") &&
                (*e.addr == url || CombineUrl(doc->url, *e.addr) == url)) {
                tag = e.tag;
                break;
            }
        }
        if (tag.isEmpty() && !doc->resourceFrames.contains(url))
            continue;
        QStringList batch{url};
        if (!tag.isEmpty() && !doc->prefetched.contains(tag)) {
            doc->prefetched.insert(tag);
            for (const CdpDocState::Elem& e : std::as_const(doc->elems)) {
                if (e.tag != tag || !e.addr || e.addr->trimmed().isEmpty())
                    continue;
                batch << (IsWebUrl(*e.addr) ? *e.addr : CombineUrl(doc->url, *e.addr));
            }
            batch.removeDuplicates();
        }
        prefetch(doc, batch);
        return m_fetched.value(url);
    }
    return QString();
}
