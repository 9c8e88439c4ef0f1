#include "ByteRoutes.h"

#include "CdpConnection.h"
#include "CdpProtocol.h"
#include "Errors.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSet>
#include <QUrl>

namespace {

constexpr int kCallTimeoutMs = 30000;

void Deliver(ResourceSink& sink, FetchStats& stats, const QString& url, const QByteArray& bytes)
{
    ++stats.resourceReads;
    stats.resourceBytes += bytes.size();
    sink.receive(url, bytes);
}

// Sends one request per URL before waiting for the first reply, then hands the sink each body
// as it comes; a URL whose request failed stays in `todo`.
void ReadPipelined(CdpConnection& c, QStringList& todo, ResourceSink& sink, FetchStats& stats,
                   const QList<std::pair<QString, int>>& sent)
{
    QElapsedTimer timer;
    timer.start();
    QSet<QString> found;
    for (const auto& [url, id] : sent) {
        std::optional<QByteArray> bytes;
        try {
            bytes = Cdp::parseBody(c.wait(id, kCallTimeoutMs));
        } catch (const SafecallError&) {
            if (!c.isConnected())
                throw;
        }
        if (bytes) {
            found.insert(url);
            stats.protocolMs += timer.restart();
            Deliver(sink, stats, url, *bytes);
            timer.restart();
        }
    }
    stats.protocolMs += timer.elapsed();
    todo.removeIf([&found](const QString& url) { return found.contains(url); });
}

QUrl OriginOf(const QString& url)
{
    return QUrl(url).adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment |
                              QUrl::RemoveUserInfo);
}

} // namespace

void DiskCacheRoute::read(const ChromiumDocument& doc, QStringList& todo, ResourceSink& sink)
{
    if (!doc.onDisk)
        return;
    QElapsedTimer timer;
    timer.start();
    for (auto it = todo.begin(); it != todo.end();) {
        std::optional<QByteArray> bytes = m_reader.read(doc.topUrl, doc.url, *it);
        // The page's own account of the size it holds outweighs the disk's copy.
        const qint64 size = doc.resourceSizes.value(*it, -1);
        if (bytes && (size < 0 || size == bytes->size())) {
            ++m_stats.diskReads;
            m_stats.diskBytes += bytes->size();
            m_stats.cacheMs += timer.restart();
            Deliver(sink, m_stats, *it, *bytes);
            timer.restart();
            it = todo.erase(it);
        } else {
            ++it;
        }
    }
    m_stats.cacheMs += timer.elapsed();
}

void WatchedBodyRoute::read(const ChromiumDocument& doc, QStringList& todo, ResourceSink& sink)
{
    const QHash<QString, QString> watched = m_watched(doc.session);
    QList<std::pair<QString, int>> sent;
    for (const QString& url : std::as_const(todo))
        if (const QString request = watched.value(url); !request.isEmpty())
            sent.append({url, m_connection.send(QStringLiteral("Network.getResponseBody"),
                                                Cdp::responseBodyParams(request), doc.session)});
    ReadPipelined(m_connection, todo, sink, m_stats, sent);
}

void PageMemoryRoute::read(const ChromiumDocument& doc, QStringList& todo, ResourceSink& sink)
{
    if (todo.isEmpty())
        return;
    CdpConnection& c = m_connection;
    // Reading the page's memory makes the browser refresh the page's style sheets first; while
    // it does, those addresses are blocked, so that no request reaches the server.
    const bool block = !doc.styleUrls.isEmpty();
    auto setBlocked = [&](const QStringList& urls) {
        c.call(QStringLiteral("Network.setBlockedURLs"), Cdp::blockedUrlsParams(urls), doc.session,
               kCallTimeoutMs);
    };
    if (block)
        setBlocked(doc.styleUrls);
    QList<std::pair<QString, int>> sent;
    for (const QString& url : std::as_const(todo))
        sent.append({url, c.send(QStringLiteral("Page.getResourceContent"),
                                 Cdp::resourceContentParams(
                                     doc.resourceFrames.value(url, doc.frameId), url),
                                 doc.session)});
    try {
        ReadPipelined(c, todo, sink, m_stats, sent);
    } catch (...) {
        if (block && c.isConnected())
            c.discard(c.send(QStringLiteral("Network.setBlockedURLs"), Cdp::blockedUrlsParams({}),
                             doc.session));
        throw;
    }
    if (block)
        setBlocked({});
}

void CachedReadRoute::read(const ChromiumDocument& doc, QStringList& todo, ResourceSink& sink)
{
    if (doc.contextId == 0)
        return;
    const QUrl origin = OriginOf(doc.url);
    QStringList sameOrigin;
    for (const QString& url : std::as_const(todo))
        if (OriginOf(url) == origin)
            sameOrigin << url;
    if (sameOrigin.isEmpty())
        return;
    QElapsedTimer timer;
    timer.start();
    const QList<std::optional<QByteArray>> bodies =
        ChromiumDocuments::readCachedSameOrigin(m_connection, doc, sameOrigin);
    m_stats.protocolMs += timer.elapsed();
    for (qsizetype i = 0; i < sameOrigin.size(); ++i) {
        if (!bodies[i])
            continue;
        Deliver(sink, m_stats, sameOrigin[i], *bodies[i]);
        todo.removeOne(sameOrigin[i]);
    }
}
