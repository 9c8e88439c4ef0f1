// The ways to a resource's bytes over the protocol, each against a scripted browser: what each
// asks for, what it hands over, and what it leaves for the next way.
#include "ByteRoutes.h"
#include "CdpConnection.h"
#include "FakeDevToolsServer.h"

#include <QJsonArray>
#include <QTimer>
#include <gtest/gtest.h>
#include <utility>

namespace {

struct Collected : ResourceSink
{
    void receive(const QString& url, const QByteArray& bytes) override { got.insert(url, bytes); }
    void refuse(const QString& url, const Message& why) override
    {
        refused.insert(url, why.text());
    }
    QHash<QString, QByteArray> got;
    QHash<QString, QString> refused;
};

class ByteRoutes : public ::testing::Test
{
protected:
    void SetUp() override
    {
        connection.connectTo(server.url());
        doc.session = "S";
        doc.frameId = "MAIN";
        doc.url = "http://h/d/page.htm";
        doc.topUrl = doc.url;
        doc.contextId = 7;
    }
    QStringList methods() const
    {
        QStringList out;
        for (const QJsonObject& r : server.requests)
            out << r.value("method").toString();
        return out;
    }
    static QJsonObject params(const QJsonObject& request)
    {
        return request.value("params").toObject();
    }

    FakeDevToolsServer server;
    CdpConnection connection;
    ChromiumDocument doc;
    FetchStats stats;
    Collected sink;
};

TEST_F(ByteRoutes, WatchedBodiesAreAskedAllAtOnceAndAFailedReadStaysForTheNextWay)
{
    // The browser answers only once both requests are in: a route that waited for the first
    // reply before sending the second would never get one.
    QList<QJsonObject> held;
    server.handler = [&](QWebSocket* peer, const QJsonObject& request) {
        held << request;
        if (held.size() < 2)
            return;
        for (const QJsonObject& r : held) {
            if (params(r).value("requestId") == "r1")
                FakeDevToolsServer::reply(peer, r, {{"body", "QQ=="}, {"base64Encoded", true}});
            else
                FakeDevToolsServer::replyError(peer, r, "No resource with given identifier");
        }
    };
    WatchedBodyRoute route(
        connection,
        [](const QString& session) {
            return session == "S"
                       ? QHash<QString, QString>{{"http://h/a.png", "r1"}, {"http://h/b.png", "r2"}}
                       : QHash<QString, QString>{};
        },
        stats);
    doc.resourceSizes = {{"http://h/a.png", 1}, {"http://h/b.png", 1}};
    QStringList todo{"http://h/a.png", "http://h/b.png", "http://h/c.png"};
    route.read(doc, todo, sink);

    EXPECT_EQ(sink.got, (QHash<QString, QByteArray>{{"http://h/a.png", "A"}}));
    EXPECT_EQ(todo, QStringList({"http://h/b.png", "http://h/c.png"}));
    EXPECT_EQ(methods(), QStringList({"Network.getResponseBody", "Network.getResponseBody"}));
    EXPECT_EQ(stats.resourceReads, 1);
}

TEST_F(ByteRoutes, PageMemoryIsReadWithStyleSheetsBlockedAndTheBlockIsAlwaysLifted)
{
    doc.styleUrls = {"http://h/d/site.css"};
    doc.resourceFrames = {{"http://h/f/b.png", "FRAME2"}};
    server.handler = [](QWebSocket* peer, const QJsonObject& request) {
        const QJsonObject p = params(request);
        if (request.value("method") != "Page.getResourceContent")
            FakeDevToolsServer::reply(peer, request, {});
        else if (p.value("url") == "http://h/d/a.js")
            FakeDevToolsServer::reply(peer, request,
                                      {{"content", "var a;"}, {"base64Encoded", false}});
        else
            FakeDevToolsServer::replyError(peer, request, "No resource with given URL found");
    };
    PageMemoryRoute route(connection, stats);
    QStringList todo{"http://h/d/a.js", "http://h/f/b.png"};
    route.read(doc, todo, sink);

    EXPECT_EQ(sink.got.value("http://h/d/a.js"), "var a;");
    EXPECT_EQ(todo, QStringList({"http://h/f/b.png"}));
    ASSERT_EQ(methods(), QStringList({"Network.setBlockedURLs", "Page.getResourceContent",
                                      "Page.getResourceContent", "Network.setBlockedURLs"}));
    EXPECT_EQ(params(server.requests[0]).value("urls").toArray(),
              QJsonArray({"http://h/d/site.css"}));
    EXPECT_EQ(params(server.requests[1]).value("frameId"), "MAIN");
    EXPECT_EQ(params(server.requests[2]).value("frameId"), "FRAME2");
    EXPECT_EQ(params(server.requests[3]).value("urls").toArray(), QJsonArray());
}

TEST_F(ByteRoutes, LargeBodiesAreAskedForARoundAtATimeAndTooLargeOnesNever)
{
    // Replies come a moment after the request, so that requests sent together are seen
    // together: no more large bodies may be on their way at once than a round holds.
    QList<QJsonObject> held;
    qsizetype mostHeld = 0;
    server.handler = [&](QWebSocket* peer, const QJsonObject& request) {
        held << request;
        mostHeld = std::max(mostHeld, held.size());
        QTimer::singleShot(20, peer, [&, peer] {
            for (const QJsonObject& r : std::exchange(held, {}))
                FakeDevToolsServer::reply(peer, r, {{"content", "x"}, {"base64Encoded", false}});
        });
    };
    const qint64 large = qint64(20) << 20;
    doc.resourceSizes = {{"http://h/bomb.png", kLargestResource + 1},
                         {"http://h/1.png", large},
                         {"http://h/2.png", large},
                         {"http://h/3.png", large}};
    PageMemoryRoute route(connection, stats);
    QStringList todo{"http://h/1.png", "http://h/bomb.png", "http://h/2.png", "http://h/3.png"};
    route.read(doc, todo, sink);

    EXPECT_TRUE(todo.isEmpty());
    EXPECT_EQ(sink.got.size(), 3);
    EXPECT_EQ(sink.refused.keys(), QStringList({"http://h/bomb.png"}));
    EXPECT_TRUE(sink.refused.value("http://h/bomb.png").contains("128 MiB"));
    EXPECT_EQ(methods().count("Page.getResourceContent"), 3);
    EXPECT_EQ(mostHeld, 1);
}

TEST_F(ByteRoutes, TheCacheReadThroughThePageAsksOnlyForTheDocumentsOwnOrigin)
{
    server.handler = [](QWebSocket* peer, const QJsonObject& request) {
        FakeDevToolsServer::reply(
            peer, request,
            {{"result",
              QJsonObject{{"type", "object"}, {"value", QJsonArray{"Qg==", QJsonValue()}}}}});
    };
    CachedReadRoute route(connection, stats);
    doc.resourceSizes = {{"http://h/x/b.png", 1}, {"http://h/y/d.png", 1}};
    QStringList todo{"http://h/x/b.png", "http://other/c.png", "http://h/y/d.png"};
    route.read(doc, todo, sink);

    EXPECT_EQ(sink.got, (QHash<QString, QByteArray>{{"http://h/x/b.png", "B"}}));
    EXPECT_EQ(todo, QStringList({"http://other/c.png", "http://h/y/d.png"}));
    ASSERT_EQ(server.requests.size(), 1);
    const QJsonObject p = params(server.requests[0]);
    EXPECT_EQ(p.value("contextId"), 7);
    EXPECT_TRUE(p.value("awaitPromise").toBool());
    EXPECT_TRUE(
        p.value("expression").toString().contains("[\"http://h/x/b.png\",\"http://h/y/d.png\"]"))
        << p.value("expression").toString().toStdString();
}

} // namespace
