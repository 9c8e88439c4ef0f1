#include "CdpProtocol.h"

#include <QJsonDocument>
#include <cmath>
#include <gtest/gtest.h>

namespace {

QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

// ---- Requests and incoming messages -----------------------------------------------------------

TEST(CdpMessages, RequestIsCompactAndCarriesSessionOnlyWhenGiven)
{
    EXPECT_EQ(Cdp::buildRequest(7, "Target.getTargets"),
              QByteArray(R"({"id":7,"method":"Target.getTargets","params":{}})"));

    const QByteArray withSession =
        Cdp::buildRequest(8, "Runtime.evaluate", {{"expression", "1+1"}}, "S1");
    EXPECT_FALSE(withSession.contains('\n'));
    const QJsonObject o = QJsonDocument::fromJson(withSession).object();
    EXPECT_EQ(o.value("id").toInt(), 8);
    EXPECT_EQ(o.value("method").toString(), "Runtime.evaluate");
    EXPECT_EQ(o.value("params").toObject().value("expression").toString(), "1+1");
    EXPECT_EQ(o.value("sessionId").toString(), "S1");
}

TEST(CdpMessages, ClassifiesRepliesErrorsAndEvents)
{
    const Cdp::Message reply = Cdp::parseMessage(R"({"id":3,"result":{"a":1},"sessionId":"S"})");
    EXPECT_EQ(reply.kind, Cdp::Message::Kind::Reply);
    EXPECT_EQ(reply.id, 3);
    EXPECT_FALSE(reply.isError);
    EXPECT_EQ(reply.result.value("a").toInt(), 1);
    EXPECT_EQ(reply.sessionId, "S");

    const Cdp::Message empty = Cdp::parseMessage(R"({"id":4,"result":{}})");
    EXPECT_EQ(empty.kind, Cdp::Message::Kind::Reply);
    EXPECT_TRUE(empty.result.isEmpty());

    const Cdp::Message error = Cdp::parseMessage(
        R"({"id":5,"error":{"code":-32000,"message":"No frame with given id found"}})");
    EXPECT_EQ(error.kind, Cdp::Message::Kind::Reply);
    EXPECT_EQ(error.id, 5);
    EXPECT_TRUE(error.isError);
    EXPECT_EQ(error.errorCode, -32000);
    EXPECT_EQ(error.errorMessage, "No frame with given id found");

    const Cdp::Message event = Cdp::parseMessage(
        R"({"method":"Page.loadEventFired","params":{"timestamp":1.5},"sessionId":"S2"})");
    EXPECT_EQ(event.kind, Cdp::Message::Kind::Event);
    EXPECT_EQ(event.method, "Page.loadEventFired");
    EXPECT_DOUBLE_EQ(event.params.value("timestamp").toDouble(), 1.5);
    EXPECT_EQ(event.sessionId, "S2");

    const Cdp::Message browserEvent =
        Cdp::parseMessage(R"({"method":"Target.targetCreated","params":{}})");
    EXPECT_EQ(browserEvent.kind, Cdp::Message::Kind::Event);
    EXPECT_TRUE(browserEvent.sessionId.isEmpty());
}

TEST(CdpMessages, RejectsWhatIsNeitherReplyNorEvent)
{
    for (const char* text : {"", "not json", "[1,2]", R"({"result":{}})", R"({"id":"7"})",
                             R"({"method":5})", "{\"id\":1,"}) {
        EXPECT_EQ(Cdp::parseMessage(text).kind, Cdp::Message::Kind::Invalid) << text;
    }
}

// ---- Targets ---------------------------------------------------------------------------------

TEST(CdpTargets, ParsesAllFieldsAndKeepsOnlyPagesInOrder)
{
    const QJsonObject result = json(R"({"targetInfos":[
        {"targetId":"P2","type":"page","title":"Second","url":"https://b.example/",
         "attached":true,"browserContextId":"C1","openerId":"P1","canAccessOpener":false},
        {"targetId":"UI","type":"browser_ui","title":"","url":"chrome://omnibox-popup.top-chrome/",
         "attached":false,"browserContextId":"C1"},
        {"targetId":"F1","type":"iframe","title":"x","url":"https://c.example/f",
         "attached":false},
        {"targetId":"W1","type":"service_worker","title":"sw","url":"https://b.example/sw.js"},
        {"targetId":"P1","type":"page","title":"First","url":"about:blank","attached":false}
    ]})");
    const QList<Cdp::TargetInfo> all = Cdp::parseTargets(result);
    ASSERT_EQ(all.size(), 5);
    EXPECT_EQ(all[0].targetId, "P2");
    EXPECT_EQ(all[0].title, "Second");
    EXPECT_EQ(all[0].url, "https://b.example/");
    EXPECT_TRUE(all[0].attached);
    EXPECT_EQ(all[0].browserContextId, "C1");
    EXPECT_EQ(all[0].openerId, "P1");
    EXPECT_TRUE(all[4].openerId.isEmpty());
    EXPECT_FALSE(all[4].attached);

    const QList<Cdp::TargetInfo> pages = Cdp::pageTargets(all);
    ASSERT_EQ(pages.size(), 2);
    EXPECT_EQ(pages[0].targetId, "P2");
    EXPECT_EQ(pages[1].targetId, "P1");

    EXPECT_TRUE(Cdp::parseTargets(json(R"({"targetInfos":[]})")).isEmpty());
    EXPECT_TRUE(Cdp::parseTargets(QJsonObject()).isEmpty());
}

// ---- Runtime results -------------------------------------------------------------------------

TEST(CdpEvaluation, ValuesByValueAndRemoteObjects)
{
    const Cdp::Evaluation number =
        Cdp::parseEvaluation(json(R"({"result":{"type":"number","value":2,"description":"2"}})"));
    EXPECT_FALSE(number.threw);
    EXPECT_EQ(number.value, QJsonValue(2));

    const Cdp::Evaluation nullValue =
        Cdp::parseEvaluation(json(R"({"result":{"type":"object","subtype":"null","value":null}})"));
    EXPECT_TRUE(nullValue.value.isNull());
    EXPECT_EQ(nullValue.subtype, "null");

    const Cdp::Evaluation undefinedValue =
        Cdp::parseEvaluation(json(R"({"result":{"type":"undefined"}})"));
    EXPECT_TRUE(undefinedValue.value.isUndefined());
    EXPECT_EQ(undefinedValue.type, "undefined");

    const Cdp::Evaluation node = Cdp::parseEvaluation(json(
        R"({"result":{"type":"object","subtype":"node","className":"HTMLImageElement",
            "description":"img","objectId":"-123.4.5"}})"));
    EXPECT_TRUE(node.value.isUndefined());
    EXPECT_EQ(node.objectId, "-123.4.5");
    EXPECT_EQ(node.subtype, "node");
    EXPECT_EQ(node.className, "HTMLImageElement");
}

TEST(CdpEvaluation, UnserializableNumbersBecomeNumbers)
{
    const auto parse = [](const char* text) {
        return Cdp::parseEvaluation(QJsonObject{
            {"result", QJsonObject{{"type", "number"}, {"unserializableValue", text}}}});
    };
    EXPECT_TRUE(std::isnan(parse("NaN").value.toDouble()));
    EXPECT_EQ(parse("Infinity").value.toDouble(), INFINITY);
    EXPECT_EQ(parse("-Infinity").value.toDouble(), -INFINITY);
    EXPECT_EQ(parse("-0").value, QJsonValue(0));
    const Cdp::Evaluation big = parse("12n");
    EXPECT_TRUE(big.value.isUndefined());
    EXPECT_EQ(big.unserializableValue, "12n");
}

TEST(CdpEvaluation, ThrownExceptionGivesItsText)
{
    const Cdp::Evaluation thrown = Cdp::parseEvaluation(json(R"({
        "result":{"type":"object","subtype":"error","className":"Error",
                  "description":"Error: boom\n    at <anonymous>:1:7","objectId":"1"},
        "exceptionDetails":{"exceptionId":1,"text":"Uncaught","lineNumber":0,"columnNumber":6,
            "exception":{"type":"object","subtype":"error","description":"Error: boom\n    at <anonymous>:1:7"}}})"));
    EXPECT_TRUE(thrown.threw);
    EXPECT_EQ(thrown.exceptionText, "Uncaught Error: boom\n    at <anonymous>:1:7");

    const Cdp::Evaluation syntax = Cdp::parseEvaluation(json(
        R"({"result":{"type":"undefined"},"exceptionDetails":{"text":"SyntaxError: Unexpected end of input"}})"));
    EXPECT_TRUE(syntax.threw);
    EXPECT_EQ(syntax.exceptionText, "SyntaxError: Unexpected end of input");
}

// ---- Resource bodies and frame trees ---------------------------------------------------------

TEST(CdpBodies, TextBase64AndBrokenInput)
{
    EXPECT_EQ(Cdp::parseBody(json(R"({"content":"<p>é</p>","base64Encoded":false})")),
              QByteArray("<p>\xc3\xa9</p>"));
    EXPECT_EQ(Cdp::parseBody(json(R"({"body":"AAEC/w==","base64Encoded":true})")),
              QByteArray("\x00\x01\x02\xff", 4));
    EXPECT_EQ(Cdp::parseBody(json(R"({"body":"","base64Encoded":true})")), QByteArray());
    EXPECT_FALSE(Cdp::parseBody(json(R"({"body":"%%%","base64Encoded":true})")));
    EXPECT_FALSE(Cdp::parseBody(json(R"({"base64Encoded":false})")));
}

TEST(CdpFrames, ResourceTreeFlattensParentsBeforeChildren)
{
    const Cdp::FrameTree tree = Cdp::parseFrameTree(json(R"({"frameTree":{
        "frame":{"id":"M","loaderId":"L","url":"http://127.0.0.1:8000/index.html",
                 "securityOrigin":"http://127.0.0.1:8000","mimeType":"text/html"},
        "resources":[
            {"url":"http://127.0.0.1:8000/a.png","type":"Image","mimeType":"image/png",
             "contentSize":1234},
            {"url":"http://127.0.0.1:8000/gone.js","type":"Script","mimeType":"",
             "failed":true},
            {"url":"http://127.0.0.1:8000/stop.css","type":"Stylesheet","mimeType":"text/css",
             "canceled":true}],
        "childFrames":[
            {"frame":{"id":"A","parentId":"M","name":"left","url":"http://127.0.0.1:8000/a.html",
                      "securityOrigin":"http://127.0.0.1:8000"},
             "childFrames":[{"frame":{"id":"A1","parentId":"A","name":"inner",
                                      "url":"about:blank","securityOrigin":"://"}}],
             "resources":[{"url":"http://127.0.0.1:8000/b.gif","type":"Image",
                           "mimeType":"image/gif","contentSize":42}]},
            {"frame":{"id":"B","parentId":"M","name":"right","url":"http://other.test/b.html",
                      "securityOrigin":"http://other.test"}}]}})"));

    ASSERT_EQ(tree.frames.size(), 4);
    const QStringList order{tree.frames[0].id, tree.frames[1].id, tree.frames[2].id,
                            tree.frames[3].id};
    EXPECT_EQ(order, QStringList({"M", "A", "A1", "B"}));
    EXPECT_TRUE(tree.frames[0].parentId.isEmpty());
    EXPECT_EQ(tree.frames[0].mimeType, "text/html");
    EXPECT_EQ(tree.frames[1].parentId, "M");
    EXPECT_EQ(tree.frames[1].name, "left");
    EXPECT_EQ(tree.frames[2].parentId, "A");
    EXPECT_EQ(tree.frames[3].securityOrigin, "http://other.test");

    ASSERT_EQ(tree.resources.size(), 4);
    EXPECT_EQ(tree.resources[0].frameId, "M");
    EXPECT_EQ(tree.resources[0].type, "Image");
    EXPECT_EQ(tree.resources[0].mimeType, "image/png");
    EXPECT_EQ(tree.resources[0].contentSize, 1234);
    EXPECT_FALSE(tree.resources[0].failed);
    EXPECT_TRUE(tree.resources[1].failed);
    EXPECT_EQ(tree.resources[1].contentSize, -1);
    EXPECT_TRUE(tree.resources[2].canceled);
    EXPECT_EQ(tree.resources[3].frameId, "A");
    EXPECT_EQ(tree.resources[3].url, "http://127.0.0.1:8000/b.gif");
}

// ---- Endpoints -------------------------------------------------------------------------------

TEST(CdpEndpoints, ActivePortFile)
{
    const auto ap = Cdp::parseActivePort("45627\n/devtools/browser/f707486c-7028\n");
    ASSERT_TRUE(ap);
    EXPECT_EQ(ap->port, 45627);
    EXPECT_EQ(ap->browserPath, "/devtools/browser/f707486c-7028");
    EXPECT_EQ(Cdp::activePortUrl(*ap).toString(),
              "ws://127.0.0.1:45627/devtools/browser/f707486c-7028");

    const auto crlf = Cdp::parseActivePort("9222\r\n/devtools/browser/x\r\n");
    ASSERT_TRUE(crlf);
    EXPECT_EQ(crlf->browserPath, "/devtools/browser/x");

    for (const char* bad : {"", "9222", "9222\n", "0\n/devtools/browser/x", "70000\n/x", "port\n/x",
                            "9222\ndevtools/browser/x", "-1\n/x"}) {
        EXPECT_FALSE(Cdp::parseActivePort(bad)) << bad;
    }
}

struct HostPortCase
{
    const char* text;
    const char* host; // nullptr: refused
    int port;
};

class CdpHostPort : public ::testing::TestWithParam<HostPortCase>
{};

TEST_P(CdpHostPort, Parses)
{
    const HostPortCase c = GetParam();
    const auto hp = Cdp::parseHostPort(c.text);
    if (!c.host) {
        EXPECT_FALSE(hp) << c.text;
        return;
    }
    ASSERT_TRUE(hp) << c.text;
    EXPECT_EQ(hp->host, c.host);
    EXPECT_EQ(hp->port, c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CdpHostPort,
    ::testing::Values(
        HostPortCase{"127.0.0.1:9222", "127.0.0.1", 9222},
        HostPortCase{"  localhost:1 ", "localhost", 1}, HostPortCase{"[::1]:9222", "::1", 9222},
        HostPortCase{"example.com:80", "example.com", 80}, HostPortCase{"::1:9222", nullptr, 0},
        HostPortCase{"127.0.0.1", nullptr, 0}, HostPortCase{":9222", nullptr, 0},
        HostPortCase{"127.0.0.1:", nullptr, 0}, HostPortCase{"127.0.0.1:0", nullptr, 0},
        HostPortCase{"127.0.0.1:65536", nullptr, 0}, HostPortCase{"127.0.0.1:+80", nullptr, 0},
        HostPortCase{"127.0.0.1:92x", nullptr, 0}, HostPortCase{"[::1]9222", nullptr, 0},
        HostPortCase{"[]:9222", nullptr, 0}));

struct LoopbackCase
{
    const char* host;
    bool loopback;
};

class CdpLoopback : public ::testing::TestWithParam<LoopbackCase>
{};

TEST_P(CdpLoopback, AcceptsOnlyThisComputer)
{
    EXPECT_EQ(Cdp::isLoopbackHost(GetParam().host), GetParam().loopback) << GetParam().host;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CdpLoopback,
    ::testing::Values(LoopbackCase{"127.0.0.1", true}, LoopbackCase{"127.255.255.254", true},
                      LoopbackCase{"127.0.1.1", true}, LoopbackCase{"::1", true},
                      LoopbackCase{"0:0:0:0:0:0:0:1", true}, LoopbackCase{"localhost", true},
                      LoopbackCase{"LocalHost", true}, LoopbackCase{"128.0.0.1", false},
                      LoopbackCase{"0.0.0.0", false}, LoopbackCase{"::", false},
                      LoopbackCase{"10.0.0.1", false}, LoopbackCase{"192.168.1.2", false},
                      LoopbackCase{"example.com", false}, LoopbackCase{"localhost.evil.com", false},
                      LoopbackCase{"127.0.0.1.evil.com", false}, LoopbackCase{"127.1", false},
                      LoopbackCase{"2130706433", false}, LoopbackCase{"0177.0.0.1", false},
                      LoopbackCase{"", false}));

TEST(CdpEndpoints, WebSocketUrlMustBeLoopbackWsWithPort)
{
    EXPECT_TRUE(Cdp::isLoopbackWebSocketUrl(QUrl("ws://[::1]:9222/devtools/browser/x")));
    for (const char* bad : {"ws://10.1.2.3:9222/x", "wss://127.0.0.1:9222/x",
                            "http://127.0.0.1:9222/x", "ws://127.0.0.1/x", "ws://u@127.0.0.1:1/x"})
        EXPECT_FALSE(Cdp::isLoopbackWebSocketUrl(QUrl(bad))) << bad;
}

TEST(CdpEndpoints, VersionReplyNamesALoopbackWebSocket)
{
    const auto url = Cdp::parseVersionReply(
        R"({"Browser":"Chrome/156","webSocketDebuggerUrl":"ws://127.0.0.1:45627/devtools/browser/ab"})");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->toString(), "ws://127.0.0.1:45627/devtools/browser/ab");

    EXPECT_FALSE(Cdp::parseVersionReply(
        R"({"webSocketDebuggerUrl":"ws://203.0.113.5:9222/devtools/browser/ab"})"));
    EXPECT_FALSE(Cdp::parseVersionReply(R"({"Browser":"Chrome/156"})"));
    EXPECT_FALSE(Cdp::parseVersionReply("<html>not json</html>"));
}

} // namespace
