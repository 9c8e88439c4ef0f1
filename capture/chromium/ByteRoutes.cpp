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
// The replies of one round of pipelined requests hold about this many bytes at most, so that a
// page of many large resources is read in rounds instead of all at once.
constexpr qint64 kRoundBytes = qint64(32) << 20;

Message TooLargeText()
{
    return {QStringLiteral("C_ResourceTooLarge"),
            QStringLiteral("not saved: it holds more than %1 MiB (unpacked), more than any "
                           "resource may"),
            {QString::number(kLargestResource >> 20)}};
}

// Refuses the URLs whose size the page gives as too large and splits the rest into rounds of
// about kRoundBytes; a URL of unknown size makes a round of its own.
QList<QStringList> Rounds(const ChromiumDocument& doc, QStringList& todo, ResourceSink& sink)
{
    QList<QStringList> rounds;
    QStringList round;
    qint64 roundBytes = 0;
    for (auto it = todo.begin(); it != todo.end();) {
        const qint64 size = doc.resourceSizes.value(*it, -1);
        if (size > kLargestResource) {
            sink.refuse(*it, TooLargeText());
            it = todo.erase(it);
            continue;
        }
        const qint64 cost = size < 0 ? kLargestResource : size;
        if (!round.isEmpty() && roundBytes + cost > kRoundBytes) {
            rounds << round;
            round.clear();
            roundBytes = 0;
        }
        round << *it;
        roundBytes += cost;
        ++it;
    }
    if (!round.isEmpty())
        rounds << round;
    return rounds;
}

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
    for (auto it = todo.begin(); it != todo.end() && sink.wantsMore();) {
        // The page's own account of the size it holds outweighs the disk's copy.
        const qint64 size = doc.resourceSizes.value(*it, -1);
        DiskCache::Miss why = DiskCache::Miss::None;
        std::optional<QByteArray> bytes;
        if (size > kLargestResource)
            why = DiskCache::Miss::TooLarge; // not even unpacked
        else
            bytes = m_reader.read(doc.topUrl, doc.url, *it, &why);
        if (why == DiskCache::Miss::TooLarge) {
            sink.refuse(*it, TooLargeText());
            it = todo.erase(it);
        } else if (bytes && (size < 0 || size == bytes->size())) {
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
    QStringList asked;
    for (const QString& url : std::as_const(todo))
        if (watched.contains(url))
            asked << url;
    for (const QStringList& round : Rounds(doc, asked, sink)) {
        if (!sink.wantsMore())
            break;
        QList<std::pair<QString, int>> sent;
        for (const QString& url : round)
            sent.append(
                {url, m_connection.send(QStringLiteral("Network.getResponseBody"),
                                        Cdp::responseBodyParams(watched.value(url)), doc.session)});
        ReadPipelined(m_connection, todo, sink, m_stats, sent);
    }
    // What was refused as too large is answered for.
    todo.removeIf(
        [&](const QString& url) { return watched.contains(url) && !asked.contains(url); });
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
    try {
        for (const QStringList& round : Rounds(doc, todo, sink)) {
            if (!sink.wantsMore())
                break;
            QList<std::pair<QString, int>> sent;
            for (const QString& url : round)
                sent.append({url, c.send(QStringLiteral("Page.getResourceContent"),
                                         Cdp::resourceContentParams(
                                             doc.resourceFrames.value(url, doc.frameId), url),
                                         doc.session)});
            ReadPipelined(c, todo, sink, m_stats, sent);
        }
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
    const QStringList asked = sameOrigin;
    for (const QStringList& round : Rounds(doc, sameOrigin, sink)) {
        if (!sink.wantsMore())
            break;
        QElapsedTimer timer;
        timer.start();
        const QList<ChromiumDocuments::CachedRead> reads =
            ChromiumDocuments::readCachedSameOrigin(m_connection, doc, round);
        m_stats.protocolMs += timer.elapsed();
        for (qsizetype i = 0; i < round.size(); ++i) {
            if (reads[i].tooLarge)
                sink.refuse(round[i], TooLargeText());
            else if (reads[i].bytes)
                Deliver(sink, m_stats, round[i], *reads[i].bytes);
            else
                continue;
            todo.removeOne(round[i]);
        }
    }
    // What was refused before asking is answered for.
    for (const QString& url : asked)
        if (!sameOrigin.contains(url))
            todo.removeOne(url);
}
