#include "CdpConnection.h"
#include "CdpEndpoint.h"
#include "CdpProtocol.h"
#include "ChromiumBrowser.h"
#include "ChromiumProcess.h"
#include "Errors.h"
#include "FakeDevToolsServer.h"
#include "TestHttpServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A bare TCP server that reads a websocket upgrade request as it arrives on the wire and answers
// it with `status`, so the tests see exactly which headers the client sends.
class RawHandshakeServer : public QObject
{
public:
    // Runs on the socket once the handshake is answered.
    std::function<void(QTcpSocket*)> afterHandshake;

    explicit RawHandshakeServer(int status = 101) : m_status(status)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRead(socket); });
        });
    }

    QUrl url() const
    {
        return QUrl(QStringLiteral("ws://127.0.0.1:%1/devtools/browser/raw").arg(port()));
    }
    quint16 port() const { return m_server.serverPort(); }

    // Header names in lower case, values as sent.
    QHash<QByteArray, QByteArray> headers;
    QByteArray requestLine;

private:
    void onRead(QTcpSocket* socket)
    {
        m_buffer += socket->readAll();
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0 || !requestLine.isEmpty())
            return;
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        requestLine = lines.value(0).trimmed();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                headers.insert(lines[i].left(colon).trimmed().toLower(),
                               lines[i].mid(colon + 1).trimmed());
        }
        if (m_status != 101) {
            socket->write("HTTP/1.1 " + QByteArray::number(m_status) +
                          " Forbidden\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        const QByteArray keyAndGuid =
            headers.value("sec-websocket-key") + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
        const QByteArray accept =
            QCryptographicHash::hash(keyAndGuid, QCryptographicHash::Sha1).toBase64();
        socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                      "Connection: Upgrade\r\nSec-WebSocket-Accept: " +
                      accept + "\r\n\r\n");
        if (afterHandshake)
            afterHandshake(socket);
    }

    int m_status;
    QTcpServer m_server;
    QByteArray m_buffer;
};

// Writes `head`, then endless bytes a megabyte at a time for as long as the peer reads them (up
// to two gigabytes); `written` counts them.
void Flood(QTcpSocket* socket, const QByteArray& head, qint64& written)
{
    socket->write(head);
    const auto more = [socket, &written] {
        if (socket->state() == QAbstractSocket::ConnectedState && written < (qint64(2) << 30) &&
            socket->bytesToWrite() < (4 << 20)) {
            static const QByteArray chunk(1 << 20, 'a');
            written += socket->write(chunk);
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}

// A loopback port that nothing listens on.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

// ---- Connecting ------------------------------------------------------------------------------

TEST(CdpConnect, HandshakeSendsNoOriginAndNoCompressionOffer)
{
    RawHandshakeServer server;
    CdpConnection connection;
    connection.connectTo(server.url());
    EXPECT_TRUE(connection.isConnected());

    EXPECT_EQ(server.requestLine, "GET /devtools/browser/raw HTTP/1.1");
    EXPECT_FALSE(server.headers.contains("origin")) << server.headers.value("origin").constData();
    EXPECT_FALSE(server.headers.contains("sec-websocket-extensions"));
    EXPECT_EQ(server.headers.value("host"), "127.0.0.1:" + QByteArray::number(server.port()));
    EXPECT_EQ(server.headers.value("upgrade").toLower(), "websocket");
}

TEST(CdpConnect, RefusedHandshakeOrClosedPortIsUnreachable)
{
    RawHandshakeServer forbidding(403);
    CdpConnection connection;
    try {
        connection.connectTo(forbidding.url());
        FAIL() << "connected despite 403";
    } catch (const BrowserUnreachableError& e) {
        const QString prefix = "Could not connect to the browser at " + forbidding.url().toString();
        EXPECT_TRUE(e.text().startsWith(prefix + ": ")) << e.what();
        EXPECT_TRUE(e.text().contains("403")) << e.what();
        EXPECT_FALSE(e.text().contains("QWebSocket")) << e.what();
    }
    EXPECT_FALSE(connection.isConnected());

    const QUrl nobody(QStringLiteral("ws://127.0.0.1:%1/devtools/browser/x").arg(closedPort()));
    EXPECT_THROW(connection.connectTo(nobody), BrowserUnreachableError);
    EXPECT_FALSE(connection.isConnected());
    EXPECT_THROW(connection.call("Browser.getVersion"), SafecallError);
}

TEST(CdpConnect, NonLoopbackUrlIsRefusedWithoutTrying)
{
    CdpConnection connection;
    try {
        connection.connectTo(QUrl("ws://192.0.2.1:9222/devtools/browser/x"));
        FAIL() << "connected";
    } catch (const BrowserUnreachableError& e) {
        EXPECT_TRUE(e.text().startsWith("Nimbril only connects")) << e.what();
    }
}

// ---- Calls -----------------------------------------------------------------------------------

class CdpCalls : public ::testing::Test
{
protected:
    void SetUp() override { connection.connectTo(server.url()); }

    FakeDevToolsServer server;
    CdpConnection connection;
};

TEST_F(CdpCalls, CallSendsMethodParamsAndSessionAndReturnsResult)
{
    const QJsonObject result =
        connection.call("Runtime.evaluate", {{"expression", "1+1"}}, "SESSION-1");
    EXPECT_EQ(result.value("method").toString(), "Runtime.evaluate");
    EXPECT_EQ(result.value("params").toObject().value("expression").toString(), "1+1");
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests[0].value("sessionId").toString(), "SESSION-1");

    connection.call("Target.getTargets");
    EXPECT_FALSE(server.requests[1].contains("sessionId"));
    EXPECT_NE(server.requests[0].value("id"), server.requests[1].value("id"));
}

TEST_F(CdpCalls, ErrorReplyThrowsSafecallErrorAndConnectionStaysUsable)
{
    server.handler = [](QWebSocket* peer, const QJsonObject& request) {
        if (request.value("method").toString() == "DOM.describeNode")
            FakeDevToolsServer::replyError(peer, request, "Could not find node with given id");
        else
            FakeDevToolsServer::reply(peer, request, {{"ok", true}});
    };
    try {
        connection.call("DOM.describeNode", {{"nodeId", 5}});
        FAIL() << "no exception";
    } catch (const SafecallError& e) {
        EXPECT_EQ(e.text(), "Exception in safecall method");
    }
    EXPECT_TRUE(connection.lastFailure().contains("Could not find node with given id"));
    EXPECT_TRUE(connection.call("Page.enable").value("ok").toBool());
}

TEST_F(CdpCalls, ReplyThatNeverComesFailsAfterTheLimitAndLateReplyIsIgnored)
{
    QWebSocket* silentPeer = nullptr;
    QJsonObject silentRequest;
    server.handler = [&](QWebSocket* peer, const QJsonObject& request) {
        if (request.value("method").toString() == "Page.captureSnapshot") {
            silentPeer = peer;
            silentRequest = request;
            return;
        }
        FakeDevToolsServer::reply(peer, request, {{"answer", request.value("method")}});
    };
    // Told apart from other failures: the browser is there, the page did not answer.
    EXPECT_THROW(connection.call("Page.captureSnapshot", {}, {}, 200), NoAnswerError);
    EXPECT_TRUE(connection.lastFailure().contains("no reply"))
        << connection.lastFailure().toStdString();
    EXPECT_TRUE(connection.isConnected());

    // The late reply must not be taken for the next call's.
    ASSERT_TRUE(silentPeer);
    FakeDevToolsServer::reply(silentPeer, silentRequest, {{"answer", "late"}});
    EXPECT_EQ(connection.call("Page.enable").value("answer").toString(), "Page.enable");
}

TEST_F(CdpCalls, ConnectionLostFailsWaitingAndLaterCallsUntilReconnected)
{
    server.handler = [](QWebSocket* peer, const QJsonObject& request) {
        if (request.value("method").toString() == "Browser.close")
            peer->close();
    };
    int lost = 0;
    QObject::connect(&connection, &CdpConnection::disconnected, [&] { ++lost; });
    const int waiting = connection.send("Page.navigate", {{"url", "about:blank"}});
    const int closing = connection.send("Browser.close");
    EXPECT_THROW(connection.wait(waiting, 5000), SafecallError);
    EXPECT_THROW(connection.wait(closing, 5000), SafecallError);
    EXPECT_FALSE(connection.isConnected());
    EXPECT_EQ(lost, 1);
    EXPECT_THROW(connection.call("Target.getTargets"), SafecallError);

    server.handler = [](QWebSocket* peer, const QJsonObject& request) {
        FakeDevToolsServer::reply(peer, request, {{"again", true}});
    };
    connection.reconnect();
    EXPECT_TRUE(connection.isConnected());
    EXPECT_TRUE(connection.call("Target.getTargets").value("again").toBool());
    EXPECT_EQ(server.connections.size(), 2);
}

TEST_F(CdpCalls, PipelinedCallsAnsweredOutOfOrderReachTheirCallers)
{
    // The server answers only once all three requests are there, last first.
    QList<std::pair<QWebSocket*, QJsonObject>> held;
    server.handler = [&](QWebSocket* peer, const QJsonObject& request) {
        held.append({peer, request});
        if (held.size() < 3)
            return;
        for (qsizetype i = held.size() - 1; i >= 0; --i) {
            const QJsonObject r = held[i].second;
            if (r.value("params").toObject().value("fail").toBool())
                FakeDevToolsServer::replyError(held[i].first, r, "failed");
            else
                FakeDevToolsServer::reply(held[i].first, r, r.value("params").toObject());
        }
        held.clear();
    };

    QList<int> ids;
    for (int n = 0; n < 3; ++n)
        ids.append(connection.send("Page.getResourceContent", {{"n", n}}));
    const QList<QJsonObject> results = connection.waitAll(ids, 5000);
    ASSERT_EQ(results.size(), 3);
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(results[n].value("n").toInt(), n);

    // One failure among them fails the whole wait; the others are not left behind.
    const int a = connection.send("Page.getResourceContent", {{"n", 0}});
    const int b = connection.send("Page.getResourceContent", {{"fail", true}});
    const int c = connection.send("Page.getResourceContent", {{"n", 2}});
    EXPECT_THROW(connection.waitAll({a, b, c}, 5000), SafecallError);
    EXPECT_THROW(connection.wait(a, 0), SafecallError); // already collected
}

TEST_F(CdpCalls, WorkHungOnAReplyRunsWhenTheReplyIsReadWhoeverWaits)
{
    // The fake server answers each request at once, in order.
    int followUp = 0;
    int runs = 0;
    const int world = connection.send("Page.createIsolatedWorld");
    connection.whenAnswered(world, [&] {
        ++runs;
        followUp = connection.send("Runtime.evaluate");
    });
    const int dropped = connection.send("Page.getResourceTree");
    connection.whenAnswered(dropped, [&] { ++runs; });
    connection.discard(dropped);
    // Whoever waits for a reply takes it; what was hung on it does not run besides.
    const int awaited = connection.send("Page.enable");
    connection.whenAnswered(awaited, [&] { ++runs; });
    connection.wait(awaited, 5000);

    EXPECT_EQ(runs, 1);
    ASSERT_NE(followUp, 0);
    EXPECT_EQ(connection.wait(followUp, 5000).value("method").toString(), "Runtime.evaluate");
    EXPECT_EQ(connection.wait(world, 5000).value("method").toString(), "Page.createIsolatedWorld");
}

TEST_F(CdpCalls, SingleFrameReplyOfTensOfMegabytes)
{
    const qsizetype size = 30 * 1024 * 1024;
    server.handler = [&](QWebSocket* peer, const QJsonObject& request) {
        // Written out by hand: going through QJsonDocument would only slow the test down.
        peer->sendTextMessage(
            QStringLiteral("{\"id\":%1,\"result\":{\"body\":\"").arg(request.value("id").toInt()) +
            QString(size, u'x') + QStringLiteral("\"}}"));
    };
    const auto body = Cdp::parseBody(connection.call("Network.getResponseBody"));
    ASSERT_TRUE(body);
    EXPECT_EQ(body->size(), size);
}

TEST(CdpImpostor, AFrameAnnouncingGigabytesClosesTheConnectionBeforeItIsRead)
{
    RawHandshakeServer impostor;
    qint64 written = 0;
    impostor.afterHandshake = [&](QTcpSocket* socket) {
        // Asked anything, it answers with a text frame that says it holds 2,000 MiB.
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            QByteArray head("\x81\x7f", 2);
            for (int shift = 56; shift >= 0; shift -= 8)
                head += char((qint64(2000) << 20) >> shift & 0xff);
            if (written == 0)
                Flood(socket, head, written);
        });
    };
    CdpConnection connection;
    connection.connectTo(impostor.url());
    EXPECT_THROW(connection.call("Target.getTargets", {}, {}, 20000), SafecallError);
    EXPECT_TRUE(connection.lostToOversize());
    EXPECT_LT(written, CdpConnection::LargestMessage);
}

TEST(CdpImpostor, AnEndlessHttpReplyIsCutOff)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    qint64 written = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            socket->readAll();
            if (written == 0)
                Flood(socket, "HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\n", written);
        });
    });
    const CdpEndpoint::HttpReply reply =
        CdpEndpoint::httpGet("127.0.0.1", server.serverPort(), "/json/version", 20000);
    EXPECT_FALSE(reply.ok);
    EXPECT_TRUE(reply.body.isEmpty());
    EXPECT_LT(written, qint64(256) << 20);
}

// ---- Events ----------------------------------------------------------------------------------

TEST_F(CdpCalls, EventsAreEmittedAndCanBeAwaitedEvenWhenTheyCameBeforeTheReply)
{
    server.handler = [](QWebSocket* peer, const QJsonObject& request) {
        const QString session = request.value("sessionId").toString();
        FakeDevToolsServer::event(peer, "Page.frameStartedLoading", {{"frameId", "F"}}, session);
        FakeDevToolsServer::event(peer, "Page.loadEventFired", {{"timestamp", 1}}, session);
        FakeDevToolsServer::reply(peer, request, {{"frameId", "F"}});
    };
    QList<QStringList> seen;
    QObject::connect(&connection, &CdpConnection::eventReceived,
                     [&](const QString& method, const QJsonObject& params, const QString& s) {
                         seen.append({method, params.value("frameId").toString(), s});
                     });

    const quint64 from = connection.eventCursor();
    connection.call("Page.navigate", {{"url", "http://127.0.0.1/"}}, "S9");
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0], QStringList({"Page.frameStartedLoading", "F", "S9"}));
    EXPECT_EQ(seen[1][0], "Page.loadEventFired");

    const auto loaded = connection.waitForEvent(
        [](const Cdp::Event& e) {
            return e.method == "Page.loadEventFired" && e.sessionId == "S9";
        },
        1000, from);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->params.value("timestamp").toInt(), 1);
    EXPECT_EQ(connection.eventsSince(from).size(), 2);

    // Without a cursor only events still to come count.
    EXPECT_FALSE(connection.waitForEvent(
        [](const Cdp::Event& e) { return e.method == "Page.loadEventFired"; }, 100));
}

TEST_F(CdpCalls, WaitForEventSeesEventsThatArriveDuringTheWait)
{
    QWebSocket* peer = server.connections.value(0);
    ASSERT_TRUE(peer);
    QTimer::singleShot(0, peer, [peer] {
        FakeDevToolsServer::event(
            peer, "Target.attachedToTarget",
            {{"sessionId", "CHILD"},
             {"targetInfo", QJsonObject{{"targetId", "FR1"}, {"type", "iframe"}}}},
            "PARENT");
    });
    const auto attached = connection.waitForEvent(
        [](const Cdp::Event& e) { return e.method == "Target.attachedToTarget"; }, 5000);
    ASSERT_TRUE(attached);
    EXPECT_EQ(attached->sessionId, "PARENT");
    const Cdp::TargetInfo frame =
        Cdp::parseTargetInfo(attached->params.value("targetInfo").toObject());
    EXPECT_EQ(frame.targetId, "FR1");
    EXPECT_EQ(frame.type, "iframe");
}

TEST_F(CdpCalls, WaitForEventFailsWhenTheConnectionIsLost)
{
    QWebSocket* peer = server.connections.value(0);
    ASSERT_TRUE(peer);
    QTimer::singleShot(0, peer, [peer] { peer->close(); });
    EXPECT_THROW(connection.waitForEvent([](const Cdp::Event&) { return false; }, 5000),
                 SafecallError);
}

// ---- Finding the browser ---------------------------------------------------------------------

class CdpDiscovery : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(http.start());
        ASSERT_TRUE(home.isValid());
    }

    void writeActivePort(const QString& folder, const QByteArray& text)
    {
        QDir().mkpath(folder);
        QFile f(folder + "/DevToolsActivePort");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    static QString errorOf(const CdpEndpoint::Sources& sources)
    {
        try {
            CdpEndpoint::discover(sources, 2000);
        } catch (const BrowserUnreachableError& e) {
            return e.text();
        }
        return QString();
    }

    TestHttpServer http;
    QTemporaryDir home;
};

TEST_F(CdpDiscovery, OverrideAsksJsonVersionAndIsTheOnlySourceTried)
{
    const QByteArray ws =
        "ws://127.0.0.1:" + QByteArray::number(http.port()) + "/devtools/browser/b1";
    http.serve("/json/version", "application/json",
               R"({"Browser":"Chrome/156","webSocketDebuggerUrl":")" + ws + R"("})");
    writeActivePort(home.filePath("p"),
                    QByteArray::number(http.port()) + "\n/devtools/browser/file\n");

    CdpEndpoint::Sources sources;
    sources.override = QStringLiteral("127.0.0.1:%1").arg(http.port());
    sources.profileFolders = {home.filePath("p")};
    const CdpEndpoint::Found found = CdpEndpoint::discover(sources, 2000);
    EXPECT_EQ(found.kind, CdpEndpoint::Kind::Override);
    EXPECT_EQ(found.url.toString(), QString::fromLatin1(ws));
    EXPECT_EQ(http.requestLog(), QStringList({"GET /json/version"}));

    sources.override = QStringLiteral("127.0.0.1:%1").arg(closedPort());
    const QString error = errorOf(sources);
    EXPECT_TRUE(error.contains("No Chromium with remote debugging answers at"))
        << error.toStdString();
    EXPECT_TRUE(error.contains("--remote-debugging-port=")) << error.toStdString();
}

TEST_F(CdpDiscovery, AnEndpointThatAcceptsButNeverAnswersIsSaidInPlainWords)
{
    FakeDevToolsServer silent;
    silent.handler = [](QWebSocket*, const QJsonObject&) {};
    writeActivePort(home.filePath("p"),
                    QByteArray::number(silent.url().port()) + "\n/devtools/browser/fake\n");
    CdpEndpoint::Sources sources;
    sources.profileFolders = {home.filePath("p")};
    sources.fallback = QStringLiteral("127.0.0.1:%1").arg(closedPort());
    ChromiumBrowser browser(sources);
    QString error;
    try {
        browser.pages();
    } catch (const BrowserUnreachableError& e) {
        error = e.text();
    }
    EXPECT_TRUE(error.contains("accepted the connection but did not answer"))
        << error.toStdString();
}

TEST_F(CdpDiscovery, RefusesNonLoopbackOverrideAndNonLoopbackWebSocket)
{
    CdpEndpoint::Sources sources;
    sources.override = "192.0.2.7:9222";
    EXPECT_TRUE(errorOf(sources).startsWith("Nimbril only connects"))
        << errorOf(sources).toStdString();
    sources.override = "9222";
    EXPECT_TRUE(errorOf(sources).startsWith("NIMBRIL_DEVTOOLS must be host:port"));

    http.serve("/json/version", "application/json",
               R"({"webSocketDebuggerUrl":"ws://198.51.100.3:9222/devtools/browser/b1"})");
    sources.override = QStringLiteral("127.0.0.1:%1").arg(http.port());
    const QString error = errorOf(sources);
    EXPECT_TRUE(error.startsWith("Nimbril only connects")) << error.toStdString();
    EXPECT_TRUE(error.contains("198.51.100.3"));

    http.serve("/json/version", "text/html", "<html>a web server</html>");
    EXPECT_TRUE(errorOf(sources).contains("not a Chromium with remote debugging"));
}

TEST_F(CdpDiscovery, ActivePortFileIsUsedWithoutHttpAndStaleFilesAreSkipped)
{
    const QString stale = home.filePath("nimbril/browser-profile");
    const QString live = home.filePath("chromium");
    writeActivePort(stale, QByteArray::number(closedPort()) + "\n/devtools/browser/old\n");
    writeActivePort(live, QByteArray::number(http.port()) + "\n/devtools/browser/live\n");

    CdpEndpoint::Sources sources;
    sources.profileFolders = {stale, home.filePath("missing"), live};
    sources.fallback = QStringLiteral("127.0.0.1:%1").arg(closedPort());
    const CdpEndpoint::Found found = CdpEndpoint::discover(sources, 2000);
    EXPECT_EQ(found.kind, CdpEndpoint::Kind::ActivePort);
    EXPECT_EQ(found.url.toString(),
              QStringLiteral("ws://127.0.0.1:%1/devtools/browser/live").arg(http.port()));
    EXPECT_TRUE(http.requestLog().isEmpty()) << http.requestLog().join(", ").toStdString();
}

TEST_F(CdpDiscovery, NothingAnsweringTellsHowToStartABrowser)
{
    CdpEndpoint::Sources sources;
    sources.profileFolders = {QDir::homePath() + "/.config/nimbril/browser-profile-test-none"};
    const quint16 port = closedPort();
    sources.fallback = QStringLiteral("127.0.0.1:%1").arg(port);
    EXPECT_EQ(errorOf(sources),
              QStringLiteral("No Chromium with remote debugging is running. Start one with: "
                             "chromium --remote-debugging-port=%1 "
                             "--user-data-dir=$HOME/.config/nimbril/browser-profile-test-none")
                  .arg(port));

    EXPECT_EQ(CdpEndpoint::startHint(9222, "/srv/my profile").text(),
              "Start one with: chromium --remote-debugging-port=9222 --user-data-dir=\"/srv/my "
              "profile\"");
}

// ---- A real headless Chromium ----------------------------------------------------------------

// One browser for all tests of the suite: starting it is the slow part.
class CdpChromium : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        chromium = std::make_unique<ChromiumProcess>();
        if (!chromium->start())
            skipReason = chromium->failure();
    }
    static void TearDownTestSuite() { chromium.reset(); }

    void SetUp() override
    {
        if (!skipReason.isEmpty())
            GTEST_SKIP() << skipReason.toStdString();
        connection.connectTo(chromium->browserUrl());
    }

    // A new page target with a flat session on it.
    QString openPage(const QString& url = QStringLiteral("about:blank"))
    {
        const QString targetId =
            connection.call("Target.createTarget", {{"url", url}}).value("targetId").toString();
        EXPECT_FALSE(targetId.isEmpty());
        return connection.call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}})
            .value("sessionId")
            .toString();
    }

    static inline std::unique_ptr<ChromiumProcess> chromium;
    static inline QString skipReason;
    CdpConnection connection;
};

TEST_F(CdpChromium, ListsTargetsCreatesAttachesAndEvaluates)
{
    const QList<Cdp::TargetInfo> pages =
        Cdp::pageTargets(Cdp::parseTargets(connection.call("Target.getTargets")));
    ASSERT_FALSE(pages.isEmpty());

    const QString session = openPage();
    ASSERT_FALSE(session.isEmpty());
    const Cdp::Evaluation two = Cdp::parseEvaluation(connection.call(
        "Runtime.evaluate", {{"expression", "1+1"}, {"returnByValue", true}}, session));
    EXPECT_FALSE(two.threw);
    EXPECT_EQ(two.value.toInt(), 2);

    const Cdp::Evaluation thrown = Cdp::parseEvaluation(
        connection.call("Runtime.evaluate", {{"expression", "throw new Error('boom')"}}, session));
    EXPECT_TRUE(thrown.threw);
    EXPECT_TRUE(thrown.exceptionText.contains("boom")) << thrown.exceptionText.toStdString();

    EXPECT_THROW(connection.call("Runtime.evaluate", {{"expression", "1"}}, "NO-SUCH-SESSION"),
                 SafecallError);
}

TEST_F(CdpChromium, DiscoveredThroughItsPortAndItsActivePortFile)
{
    CdpEndpoint::Sources viaPort;
    viaPort.override = QStringLiteral("127.0.0.1:%1").arg(chromium->port());
    EXPECT_EQ(CdpEndpoint::discover(viaPort).url, chromium->browserUrl());

    CdpEndpoint::Sources viaFile;
    viaFile.profileFolders = {chromium->profileFolder()};
    viaFile.fallback = QStringLiteral("127.0.0.1:%1").arg(closedPort());
    const CdpEndpoint::Found found = CdpEndpoint::discover(viaFile);
    EXPECT_EQ(found.kind, CdpEndpoint::Kind::ActivePort);
    EXPECT_EQ(found.url, chromium->browserUrl());

    CdpConnection second;
    CdpEndpoint::connectBrowser(second, viaFile);
    EXPECT_TRUE(second.call("Browser.getVersion").value("product").toString().contains("Chrome"));
}

TEST_F(CdpChromium, LoadsAPageFromTheTestServerAndReadsItsResources)
{
    TestHttpServer http;
    ASSERT_TRUE(http.start());
    const QByteArray png = QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAA"
                                                  "C0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=");
    http.serve("/index.html", "text/html; charset=utf-8",
               "<html><head><title>Hello</title></head><body><img src=\"pic.png\"></body></html>");
    http.serve("/pic.png",
               TestHttpServer::Response{"image/png", png, {{"Cache-Control", "no-store"}}, 200});

    const QString session = openPage();
    connection.call("Page.enable", {}, session);
    const quint64 from = connection.eventCursor();
    connection.call("Page.navigate", {{"url", http.url("/index.html").toString()}}, session);
    ASSERT_TRUE(connection.waitForEvent(
        [&](const Cdp::Event& e) {
            return e.method == "Page.loadEventFired" && e.sessionId == session;
        },
        20000, from));

    EXPECT_EQ(Cdp::parseEvaluation(
                  connection.call("Runtime.evaluate", {{"expression", "document.title"}}, session))
                  .value.toString(),
              "Hello");
    const QStringList log = http.requestLog();
    EXPECT_EQ(log.value(0), "GET /index.html");
    EXPECT_TRUE(log.contains("GET /pic.png")) << log.join(", ").toStdString();

    const Cdp::FrameTree tree =
        Cdp::parseFrameTree(connection.call("Page.getResourceTree", {}, session));
    ASSERT_EQ(tree.frames.size(), 1);
    EXPECT_EQ(tree.frames[0].url, http.url("/index.html").toString());
    const auto picture =
        std::find_if(tree.resources.begin(), tree.resources.end(),
                     [](const Cdp::ResourceInfo& r) { return r.url.endsWith("/pic.png"); });
    ASSERT_NE(picture, tree.resources.end());
    EXPECT_EQ(picture->type, "Image");

    // From the browser's memory: no second request reaches the server.
    const auto bytes = Cdp::parseBody(
        connection.call("Page.getResourceContent",
                        {{"frameId", tree.frames[0].id}, {"url", picture->url}}, session));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, png);
    EXPECT_EQ(http.requestLog().count("GET /pic.png"), 1);
}

} // namespace
