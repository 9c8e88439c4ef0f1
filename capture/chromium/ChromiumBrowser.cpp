#include "ChromiumBrowser.h"

#include "CdpConnection.h"
#include "CdpProtocol.h"
#include "Errors.h"
#include "WebAddress.h"

#include <QDeadlineTimer>
#include <QJsonObject>
#include <QSet>
#include <algorithm>
#include <utility>

namespace {

constexpr int kCallTimeoutMs = 30000;

bool IsHtmlType(const QString& type)
{
    return type == QLatin1String("text/html") || type == QLatin1String("application/xhtml+xml");
}

// Hands on what the routes deliver, and remembers which URLs arrived.
class CountingSink : public ResourceSink
{
public:
    explicit CountingSink(ResourceSink& sink) : m_sink(sink) {}
    void receive(const QString& url, const QByteArray& bytes) override
    {
        ++received;
        m_sink.receive(url, bytes);
    }
    void refuse(const QString& url, const Message& why) override
    {
        ++received;
        m_sink.refuse(url, why);
    }
    bool wantsMore() const override { return m_sink.wantsMore(); }
    int received = 0; // resources the routes answered for, with bytes or a refusal

private:
    ResourceSink& m_sink;
};

} // namespace

ChromiumBrowser::ChromiumBrowser(CdpEndpoint::Sources sources)
    : m_sources(std::move(sources)), m_connection(std::make_unique<CdpConnection>())
{
    QObject::connect(m_connection.get(), &CdpConnection::eventReceived, m_connection.get(),
                     [this](const QString& method, const QJsonObject& params,
                            const QString& session) { onEvent(method, params, session); });
    QObject::connect(m_connection.get(), &CdpConnection::disconnected, m_connection.get(),
                     [this] { forgetSessions(); });
    // The ways to a resource's bytes, cheapest first.
    m_routes.push_back(std::make_unique<DiskCacheRoute>(m_diskCache, m_stats));
    m_routes.push_back(std::make_unique<WatchedBodyRoute>(
        *m_connection, [this](const QString& session) { return m_requests.value(session); },
        m_stats));
    m_routes.push_back(std::make_unique<PageMemoryRoute>(*m_connection, m_stats));
    m_routes.push_back(std::make_unique<CachedReadRoute>(*m_connection, m_stats));
}

ChromiumBrowser::~ChromiumBrowser() = default;

// ---- connection and sessions ----------------------------------------------------------------

void ChromiumBrowser::ensureConnected()
{
    if (m_connection->isConnected())
        return;
    forgetSessions();
    m_httpListAnswers = true;
    const CdpEndpoint::Found found = CdpEndpoint::connectBrowser(*m_connection, m_sources);
    findDiskCache(found.profileFolder);
}

void ChromiumBrowser::findDiskCache(const QString& profileHint)
{
    // The browser names its own process, whose command line and environment say where its
    // profile keeps the cache, and its default context, the one whose cache that is. A browser
    // that answers neither leaves only the hint. Both questions go out before either answer.
    CdpConnection& c = *m_connection;
    const int processes = c.send(QStringLiteral("SystemInfo.getProcessInfo"));
    const int contexts = c.send(QStringLiteral("Target.getBrowserContexts"));
    auto answer = [this, &c](int id) {
        try {
            return c.wait(id, CdpConnection::BrowserAnswerMs);
        } catch (const NoAnswerError&) {
            notAnswering();
        } catch (const SafecallError&) {
            if (!c.isConnected())
                throw;
        }
        return QJsonObject();
    };
    const qint64 pid = Cdp::parseBrowserPid(answer(processes));
    m_defaultContext = Cdp::parseDefaultContext(answer(contexts));

    const int port = c.url().port();
    DiskCache::BrowserProcess process =
        DiskCache::ReadProcess(pid).value_or(DiskCache::BrowserProcess{});
    if (!DiskCache::ListensOn(process, port))
        process = {};
    m_diskCache.setFolders(DiskCache::CacheFolders(process, profileHint, port));
}

void ChromiumBrowser::notAnswering()
{
    const QUrl url = m_connection->url();
    m_connection->close();
    throw BrowserUnreachableError(
        {QStringLiteral("C_BrowserSilent"),
         QStringLiteral("The browser at %1:%2 accepted the connection but did not answer within "
                        "%3 s. Close it and start it again, or check that the port belongs to a "
                        "browser."),
         {url.host(), QString::number(url.port()),
          QString::number(CdpConnection::BrowserAnswerMs / 1000)}});
}

void ChromiumBrowser::forgetSessions()
{
    m_pageSessions.clear();
    m_frameSessions.clear();
    for (const QList<int>& ids : std::as_const(m_sessionSetups))
        for (int id : ids)
            m_connection->discard(id);
    m_sessionSetups.clear();
    dropReadAhead();
    m_requests.clear();
}

void ChromiumBrowser::dropReadAhead()
{
    for (const ChromiumDocuments::DocumentRequests& ahead : std::as_const(m_readAhead))
        ChromiumDocuments::discard(*m_connection, ahead);
    m_readAhead.clear();
    for (const CopyAhead& copy : std::as_const(m_copiesAhead))
        m_connection->discard(copy.request);
    m_copiesAhead.clear();
}

void ChromiumBrowser::onEvent(const QString& method, const QJsonObject& params,
                              const QString& session)
{
    if (method == QLatin1String("Target.attachedToTarget")) {
        if (const auto frame = Cdp::parseAttachedFrame(params))
            m_frameSessions.insert(frame->first, frame->second);
    } else if (method == QLatin1String("Target.detachedFromTarget")) {
        const QString gone = Cdp::parseSessionId(params);
        for (auto* map : {&m_pageSessions, &m_frameSessions})
            for (auto it = map->begin(); it != map->end();)
                it = it.value() == gone ? map->erase(it) : std::next(it);
        m_requests.remove(gone);
        m_readAhead.removeIf([&](const auto& ahead) {
            if (ahead.value().session != gone)
                return false;
            ChromiumDocuments::discard(*m_connection, ahead.value());
            return true;
        });
    } else if (method == QLatin1String("Network.responseReceived")) {
        if (const auto response = Cdp::parseWatchedResponse(params))
            m_requests[session].insert(response->url, response->requestId);
    }
}

QString ChromiumBrowser::pageSession(const QString& targetId)
{
    ensureConnected();
    if (const auto it = m_pageSessions.constFind(targetId); it != m_pageSessions.cend()) {
        const QString session = it.value();
        if (m_sessionSetups.contains(session))
            prepareSession(session);
        return session;
    }
    const QString session = Cdp::parseSessionId(m_connection->call(
        QStringLiteral("Target.attachToTarget"), Cdp::attachParams(targetId), {}, kCallTimeoutMs));
    if (session.isEmpty())
        throw SafecallError();
    prepareSession(session);
    m_pageSessions.insert(targetId, session);
    return session;
}

void ChromiumBrowser::prepareSession(const QString& session)
{
    // Set up already when the capture began (prepare()): only its answers are still to come.
    const QList<int> ids = m_sessionSetups.contains(session) ? m_sessionSetups.take(session)
                                                             : sendSessionSetup(session);
    m_connection->waitAll(ids, CdpConnection::PageFirstAnswerMs);
}

QList<int> ChromiumBrowser::sendSessionSetup(const QString& session)
{
    // Frames from other sites arrive as their own sessions; loads from now on are watched so
    // that even bodies the server marked no-store can be read.
    CdpConnection& c = *m_connection;
    return {
        c.send(QStringLiteral("Page.enable"), {}, session),
        c.send(QStringLiteral("Network.enable"), Cdp::networkEnableParams(), session),
        c.send(QStringLiteral("Target.setAutoAttach"), Cdp::autoAttachParams(), session),
    };
}

void ChromiumBrowser::prepare(const QList<PageRef>& pages)
{
    // Every page is attached to and set up at once, each in its own renderer, instead of one
    // after the other as the capture reaches it: about ten round trips a page that overlap.
    // The answers are collected when a page's turn comes, under that page's own time limit, so
    // that a page busy in a script costs no more than it would have. Attaching is the browser's
    // own work and is answered at once; when it is not, the pages are attached one by one as
    // before.
    m_plannedPages.clear();
    for (const PageRef& page : pages)
        if (IsWebUrl(page.address))
            m_plannedPages << page.id;
    try {
        ensureConnected();
        CdpConnection& c = *m_connection;
        QStringList targets;
        QList<int> attaches;
        for (const PageRef& page : pages) {
            if (!IsWebUrl(page.address) || m_pageSessions.contains(page.id) ||
                targets.contains(page.id))
                continue;
            targets << page.id;
            attaches << c.send(QStringLiteral("Target.attachToTarget"), Cdp::attachParams(page.id));
        }
        const QList<QJsonObject> answers =
            attaches.isEmpty() ? QList<QJsonObject>()
                               : c.waitAll(attaches, CdpConnection::BrowserAnswerMs);
        for (qsizetype i = 0; i < targets.size(); ++i) {
            const QString session = Cdp::parseSessionId(answers[i]);
            if (session.isEmpty())
                continue;
            m_pageSessions.insert(targets[i], session);
            m_sessionSetups.insert(session, sendSessionSetup(session));
        }
        // The first page's document is asked for at once too; the others' each while the page
        // before is saved (readAheadAfter).
        if (!m_plannedPages.isEmpty())
            readAhead(m_plannedPages.first());
    } catch (const SafecallError&) {
        // Only a hint: each page is attached to when its turn comes.
    }
}

QString ChromiumBrowser::frameSession(const QString& frameId, const QString& parentSession)
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

bool ChromiumBrowser::diskCacheServes(const QString& browserContextId) const
{
    // Without the browser's word on which context is the profile's own, only the check of each
    // entry's size against the page's guards the copies taken.
    return m_diskCacheEnabled && (m_defaultContext.isEmpty() || browserContextId.isEmpty() ||
                                  browserContextId == m_defaultContext);
}

template <typename Call> auto ChromiumBrowser::whileConnected(Call&& call) -> decltype(call())
{
    try {
        return call();
    } catch (const SafecallError&) {
        if (m_connection->isConnected())
            throw;
        if (m_connection->lostToOversize())
            throw NimbrilError(
                {QStringLiteral("C_BrowserOversize"),
                 QStringLiteral("The browser sent more than %1 MiB at once (a page too large to "
                                "read, or not a browser at all), so Nimbril closed the "
                                "connection; what was saved before that stays."),
                 {QString::number(CdpConnection::LargestMessage >> 20)}});
        // What was saved before stays; the user learns why the rest was not.
        throw BrowserUnreachableError(
            {QStringLiteral("C_BrowserClosed"),
             QStringLiteral("The browser closed (or stopped answering) during the capture; what "
                            "was saved before that stays. Start it again and repeat the capture "
                            "for the rest.")});
    }
}

// ---- pages ----------------------------------------------------------------------------------

QStringList ChromiumBrowser::activationOrder()
{
    // Target.getTargets keeps creation order; the HTTP list puts the page the user looked at
    // last first. A browser whose debugging was allowed by hand answers no HTTP request: then
    // the protocol's order stands.
    if (!m_httpListAnswers)
        return {};
    const QUrl ws = m_connection->url();
    const CdpEndpoint::HttpReply reply =
        CdpEndpoint::httpGet(ws.host(), ws.port(), QStringLiteral("/json/list"), 2000);
    const std::optional<QStringList> ids = Cdp::parsePageList(reply.body);
    if (!reply.ok || !ids) {
        m_httpListAnswers = false;
        return {};
    }
    return *ids;
}

QList<Cdp::TargetInfo> ChromiumBrowser::pageTargets()
{
    ensureConnected();
    // The protocol's list and the HTTP one are asked for at once.
    const int targets = m_connection->send(QStringLiteral("Target.getTargets"));
    const QStringList order = activationOrder();
    QJsonObject result;
    try {
        result = m_connection->wait(targets, CdpConnection::BrowserAnswerMs);
    } catch (const NoAnswerError&) {
        notAnswering();
    }
    QList<Cdp::TargetInfo> found = Cdp::pageTargets(Cdp::parseTargets(result));
    std::stable_sort(found.begin(), found.end(),
                     [&order](const Cdp::TargetInfo& a, const Cdp::TargetInfo& b) {
                         const qsizetype x = order.indexOf(a.targetId);
                         const qsizetype y = order.indexOf(b.targetId);
                         return (x < 0 ? order.size() : x) < (y < 0 ? order.size() : y);
                     });
    return found;
}

QList<PageRef> ChromiumBrowser::pages()
{
    const QList<Cdp::TargetInfo> found = pageTargets();
    // A new capture: the documents of the last one are let go.
    m_documents.clear();
    dropReadAhead();
    m_plannedPages.clear();
    QList<PageRef> refs;
    for (const Cdp::TargetInfo& t : found)
        refs.append({t.targetId, t.url, t.title, t.browserContextId});
    return refs;
}

std::optional<PageSnapshot> ChromiumBrowser::snapshot(const PageRef& page)
{
    // A page that shows no web address (the browser's own pages, about:blank) is known by its
    // address and title alone, so that nothing is attached to or evaluated in pages the browser
    // may not let anyone script.
    if (!IsWebUrl(page.address)) {
        PageSnapshot bare;
        bare.address = page.address;
        bare.title = page.title;
        bare.context = page.context;
        return bare;
    }
    return whileConnected([&]() -> std::optional<PageSnapshot> {
        const QString session = pageSession(page.id);
        readAheadAfter(page.id);
        PageSnapshot snap = readDocument(session, page.id, QString(), diskCacheServes(page.context),
                                         page.context, m_readAhead.take(page.id));
        if (!IsHtmlType(document(snap).contentType))
            return std::nullopt;
        return snap;
    });
}

void ChromiumBrowser::readAheadAfter(const QString& targetId)
{
    // Only a page already attached to is asked: attaching would mean waiting. Its answers are
    // taken when its turn comes, under its own time limits, so that a page busy in a script
    // costs no more than it would have.
    const qsizetype at = m_plannedPages.indexOf(targetId);
    if (at < 0 || at + 1 >= m_plannedPages.size())
        return;
    readAhead(m_plannedPages[at + 1]);
}

void ChromiumBrowser::readAhead(const QString& targetId)
{
    const QString session = m_pageSessions.value(targetId);
    if (session.isEmpty() || m_readAhead.contains(targetId))
        return;
    const auto sent = m_readAhead.insert(
        targetId, ChromiumDocuments::sendAhead(*m_connection, session, targetId));
    // The snapshot goes out the moment its world is made, while this side still writes files.
    m_connection->whenAnswered(sent->world, [this, targetId] {
        if (const auto it = m_readAhead.find(targetId); it != m_readAhead.end())
            ChromiumDocuments::advance(*m_connection, *it);
    });
}

PageSnapshot ChromiumBrowser::readDocument(const QString& session, const QString& frameId,
                                           const QString& topUrl, bool onDisk,
                                           const QString& context,
                                           ChromiumDocuments::DocumentRequests ahead)
{
    PageSnapshot snap;
    std::shared_ptr<ChromiumDocument> doc = ChromiumDocuments::read(
        *m_connection, session, frameId, topUrl, onDisk, snap, std::move(ahead));
    snap.handle = m_nextHandle++;
    snap.context = context;
    m_documents.insert(snap.handle, doc);

    // The documents of the named frames are read with the page, each from its own session when
    // it lives in another process. A frame that cannot be read shows no document.
    QSet<QString> names;
    for (int index : snap.elementsTagged(QStringLiteral("FRAME"))) {
        const std::optional<QString> name =
            snap.elements[size_t(index)].attribute(QStringLiteral("Name"));
        if (!name || names.contains(*name))
            continue;
        names.insert(*name);
        FrameDocument frame{*name, nullptr};
        try {
            const QString id = ChromiumDocuments::frameIdByName(*m_connection, *doc, *name);
            if (!id.isEmpty())
                frame.document = std::make_shared<const PageSnapshot>(
                    readDocument(frameSession(id, session), id, doc->topUrl, onDisk, context));
        } catch (const SafecallError&) {
            if (!m_connection->isConnected())
                throw;
        }
        snap.frames.push_back(std::move(frame));
    }
    return snap;
}

const ChromiumDocument& ChromiumBrowser::document(const PageSnapshot& page) const
{
    const auto it = m_documents.constFind(page.handle);
    if (it == m_documents.cend())
        throw SafecallError(); // a document of an earlier capture
    return **it;
}

QString ChromiumBrowser::text(const PageSnapshot& page, int element)
{
    return whileConnected(
        [&] { return ChromiumDocuments::text(*m_connection, document(page), element); });
}

std::shared_ptr<const PageSnapshot> ChromiumBrowser::inlineFrame(const PageSnapshot& page,
                                                                 int element)
{
    return whileConnected([&]() -> std::shared_ptr<const PageSnapshot> {
        const ChromiumDocument& doc = document(page);
        const QString id = ChromiumDocuments::frameIdOfElement(*m_connection, doc, element);
        if (id.isEmpty())
            return nullptr;
        // Read as a FRAME's document is: from its own session when it lives in another process.
        return std::make_shared<const PageSnapshot>(
            readDocument(frameSession(id, doc.session), id, doc.topUrl, doc.onDisk, page.context));
    });
}

void ChromiumBrowser::serialize(const PageSnapshot& page, const QList<AttributeWrite>& writes,
                                const CopyOptions& options, const TextWriter& write)
{
    whileConnected([&] {
        const ChromiumDocument& doc = document(page);
        const CopyAhead ahead = m_copiesAhead.take(page.handle);
        int request = ahead.request;
        if (request && (ahead.writes != writes || ahead.options != options)) {
            m_connection->discard(request);
            request = 0;
        }
        if (!request)
            request =
                ChromiumDocuments::sendSerialize(*m_connection, doc, page.root, writes, options);
        ChromiumDocuments::takeSerialized(*m_connection, doc, request, write);
    });
}

void ChromiumBrowser::serializeAhead(const PageSnapshot& page, const QList<AttributeWrite>& writes,
                                     const CopyOptions& options)
{
    try {
        const ChromiumDocument& doc = document(page);
        const int request =
            ChromiumDocuments::sendSerialize(*m_connection, doc, page.root, writes, options);
        if (const auto old = m_copiesAhead.find(page.handle); old != m_copiesAhead.end())
            m_connection->discard(old->request);
        m_copiesAhead.insert(page.handle, {request, writes, options});
    } catch (const SafecallError&) {
        // only a hint: serialize() asks again and says what failed
    }
}

// ---- resource bytes -------------------------------------------------------------------------

void ChromiumBrowser::readBytes(const ChromiumDocument& doc, const QStringList& urls,
                                ResourceSink& sink)
{
    QStringList todo;
    QSet<QString> seen;
    for (const QString& url : urls) {
        if (!IsWebUrl(url) || seen.contains(url))
            continue;
        seen.insert(url);
        todo << url;
    }
    for (const auto& route : m_routes) {
        if (todo.isEmpty() || !sink.wantsMore())
            break;
        route->read(doc, todo, sink);
    }
}

void ChromiumBrowser::fetch(const PageSnapshot& page, const QStringList& urls, ResourceSink& sink)
{
    whileConnected([&] {
        if (!m_connection->isConnected())
            throw SafecallError();
        readBytes(document(page), urls, sink);
    });
}

bool ChromiumBrowser::fetchShown(const QString& url, ResourceSink& sink)
{
    if (!IsWebUrl(url))
        return false;
    // The pages are asked in the order the user looked at them; the first that shows the
    // resource gives it, from its own context.
    for (const Cdp::TargetInfo& target : pageTargets()) {
        if (!IsWebUrl(target.url))
            continue;
        const QString session = pageSession(target.targetId);
        const Cdp::FrameTree tree = Cdp::parseFrameTree(m_connection->call(
            QStringLiteral("Page.getResourceTree"), {}, session, kCallTimeoutMs));
        for (const Cdp::ResourceInfo& r : tree.resources) {
            if (r.url != url || r.failed || r.canceled)
                continue;
            // The frame that loaded it stands for the document: its address and the page's
            // choose the part of the cache, its session and frame the reads.
            ChromiumDocument doc;
            doc.session = session;
            doc.frameId = r.frameId;
            doc.topUrl = tree.frames.isEmpty() ? target.url : tree.frames.first().url;
            doc.url = doc.topUrl;
            for (const Cdp::FrameInfo& f : tree.frames)
                if (f.id == r.frameId)
                    doc.url = f.url;
            doc.onDisk = diskCacheServes(target.browserContextId);
            ChromiumDocuments::takeResourceTree(doc, tree);
            doc.resourceFrames.insert(url, r.frameId);
            CountingSink counting(sink);
            readBytes(doc, {url}, counting);
            if (counting.received > 0)
                return true;
            break;
        }
    }
    return false;
}

// ---- windows --------------------------------------------------------------------------------

QList<std::optional<Cdp::PageFocus>>
ChromiumBrowser::askPageFocus(const QList<Cdp::TargetInfo>& pages)
{
    // Web pages only: the browser's own pages are not scripted. A page not attached yet gets a
    // session for this question alone. Every question goes out before the answers are read, and
    // one limit covers them all: a page busy in a script of its own stays unknown.
    CdpConnection& c = *m_connection;
    const QDeadlineTimer deadline(CdpConnection::BrowserAnswerMs);
    auto answer = [&c, &deadline](int id) -> std::optional<QJsonObject> {
        try {
            return c.wait(id, int(std::max<qint64>(1, deadline.remainingTime())));
        } catch (const SafecallError&) {
            if (!c.isConnected())
                throw;
            return std::nullopt;
        }
    };
    const qsizetype n = pages.size();
    QStringList sessions(n);
    QList<int> pending(n, 0);
    QStringList borrowed;
    for (qsizetype i = 0; i < n; ++i) {
        if (!IsWebUrl(pages[i].url))
            continue;
        sessions[i] = m_pageSessions.value(pages[i].targetId);
        if (sessions[i].isEmpty())
            pending[i] = c.send(QStringLiteral("Target.attachToTarget"),
                                Cdp::attachParams(pages[i].targetId));
    }
    for (qsizetype i = 0; i < n; ++i)
        if (pending[i])
            if (const auto reply = answer(std::exchange(pending[i], 0))) {
                sessions[i] = Cdp::parseSessionId(*reply);
                borrowed << sessions[i];
            }
    // A page target's main frame carries the target's id.
    for (qsizetype i = 0; i < n; ++i)
        if (!sessions[i].isEmpty())
            pending[i] = c.send(QStringLiteral("Page.createIsolatedWorld"),
                                Cdp::isolatedWorldParams(pages[i].targetId), sessions[i]);
    for (qsizetype i = 0; i < n; ++i)
        if (pending[i]) {
            const auto reply = answer(std::exchange(pending[i], 0));
            if (const int world = reply ? Cdp::parseIsolatedWorld(*reply) : 0)
                pending[i] = c.send(QStringLiteral("Runtime.evaluate"), Cdp::pageFocusParams(world),
                                    sessions[i]);
        }
    QList<std::optional<Cdp::PageFocus>> found(n);
    for (qsizetype i = 0; i < n; ++i)
        if (pending[i])
            if (const auto reply = answer(pending[i]))
                found[i] = Cdp::parsePageFocus(*reply);
    for (const QString& session : borrowed)
        if (!session.isEmpty())
            c.discard(c.send(QStringLiteral("Target.detachFromTarget"),
                             {{QStringLiteral("sessionId"), session}}));
    return found;
}

QString ChromiumBrowser::frontWindowCaption()
{
    if (m_windowSystem.topmostCaption)
        if (const std::optional<QString> caption = m_windowSystem.topmostCaption())
            return *caption;
    // No window to read (Wayland, a headless browser, a browser on another display): the page
    // shown with the focus, else the page looked at last that is not known to be hidden (the
    // browser lost the focus, to this program's own menu perhaps).
    const QList<Cdp::TargetInfo> found = pageTargets();
    const QList<std::optional<Cdp::PageFocus>> focus =
        whileConnected([&] { return askPageFocus(found); });
    for (qsizetype i = 0; i < found.size(); ++i)
        if (focus[i] && focus[i]->visible && focus[i]->focused)
            return found[i].title;
    for (qsizetype i = 0; i < found.size(); ++i)
        if (!focus[i] || focus[i]->visible)
            return found[i].title;
    return found.isEmpty() ? QString() : found.first().title;
}

void ChromiumBrowser::closeAllWindows()
{
    const int asked = m_windowSystem.closeWindows ? m_windowSystem.closeWindows() : -1;
    if (asked > 0)
        return;
    for (const Cdp::TargetInfo& t : pageTargets())
        m_connection->discard(m_connection->send(QStringLiteral("Target.closeTarget"),
                                                 Cdp::targetParams(t.targetId)));
}
