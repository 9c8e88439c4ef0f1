#pragma once

#include "Browser.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// The DevTools protocol's messages as plain values: everything here builds or parses JSON and
// does no I/O, so the rules about which messages and endpoints are accepted are tested without a
// browser. Parsers are lenient about missing fields (they give empty values) because the
// browser omits fields that have their default value.
namespace Cdp {

// ---- Messages ------------------------------------------------------------------------------

// A request as compact JSON: {"id":id,"method":method,"params":params} plus "sessionId" when
// sessionId is not empty (a call into an attached target's flat session).
QByteArray buildRequest(int id, const QString& method, const QJsonObject& params = {},
                        const QString& sessionId = {});

// One message received from the browser.
struct Message
{
    enum class Kind
    {
        Reply,   // the answer to a request: id, then result or the error fields
        Event,   // a notification: method, params
        Invalid, // not JSON, or neither an id nor a method
    };
    Kind kind = Kind::Invalid;
    int id = 0;
    QJsonObject result; // Reply without error (an empty object when the call has no result)
    bool isError = false;
    int errorCode = 0;    // Reply with error: error.code
    QString errorMessage; // Reply with error: error.message
    QString method;       // Event
    QJsonObject params;   // Event
    QString sessionId;    // Reply or Event from a flat session; empty for the browser itself
};

Message parseMessage(const QByteArray& text);

// An event as the connection hands it on.
struct Event
{
    QString method;
    QJsonObject params;
    QString sessionId;
};

// ---- Targets -------------------------------------------------------------------------------

struct TargetInfo
{
    QString targetId;
    QString type; // "page", "iframe", "browser_ui", "service_worker", ...
    QString title;
    QString url;
    bool attached = false;
    QString browserContextId;
    QString openerId;
};

// The targetInfos of a Target.getTargets result, in the browser's order.
QList<TargetInfo> parseTargets(const QJsonObject& result);
// One TargetInfo object (the targetInfo of Target.targetCreated / attachedToTarget events).
TargetInfo parseTargetInfo(const QJsonObject& info);
// The ids of the pages in a /json/list reply, in its order; nullopt when the reply is no list.
std::optional<QStringList> parsePageList(const QByteArray& body);
// Only the targets of type "page" (the browser windows), order kept.
QList<TargetInfo> pageTargets(const QList<TargetInfo>& targets);

// ---- Runtime -------------------------------------------------------------------------------

// The outcome of Runtime.evaluate or Runtime.callFunctionOn.
struct Evaluation
{
    // The value when it was returned by value (returnByValue, or a primitive); Undefined when
    // the result is undefined or only a remote object. NaN, Infinity, -Infinity and -0 arrive
    // as unserializableValue and are turned into numbers here (-0 into 0: QJsonValue stores
    // integral numbers as integers).
    QJsonValue value = QJsonValue::Undefined;
    QString unserializableValue; // as the browser sent it, e.g. "NaN" or "12n" for a BigInt
    QString type;                // "object", "string", "undefined", "function", ...
    QString subtype;             // "null", "node", "array", "error", ... (objects only)
    QString className;
    QString description;
    QString objectId; // the remote object, when the result was not returned by value
    // The page threw: exceptionText is the exception details' text followed by the thrown
    // value's description, e.g. "Uncaught Error: boom\n    at <anonymous>:1:7".
    bool threw = false;
    QString exceptionText;
};

Evaluation parseEvaluation(const QJsonObject& result);

// Runtime.evaluate's parameters: the expression run in an execution context (0: the page's
// default one), its result returned by value or as a remote object, a promise awaited or not.
QJsonObject evaluateParams(const QString& expression, int contextId, bool returnByValue,
                           bool awaitPromise);

// ---- Streams ---------------------------------------------------------------------------------

// The stream handle ("blob:UUID") of the blob an IO.resolveBlob result names; empty when none.
QString parseBlobStream(const QJsonObject& result);
// IO.read's parameters for the next slice of at most `size` bytes; IO.close's for the stream.
QJsonObject streamReadParams(const QString& stream, int size);
QJsonObject streamParams(const QString& stream);
// One slice of a stream: its bytes (base64 undone) and whether the stream ended with it.
struct StreamPiece
{
    QByteArray bytes;
    bool eof = false;
};
// nullopt when the result holds no data or broken base64.
std::optional<StreamPiece> parseStreamPiece(const QJsonObject& result);

// ---- The page in front ---------------------------------------------------------------------

// How a page stands for the user: shown (its tab is the one its window shows) and holding the
// keyboard focus (its window is the active one, and the page rather than the browser's own bar).
struct PageFocus
{
    bool visible = false;
    bool focused = false;
};

// Runtime.evaluate's parameters for asking a page how it stands, in the execution context of
// the layer's own world: a page's script can redefine what its own world answers, not this one.
QJsonObject pageFocusParams(int contextId);
// nullopt when the result is no such answer (the page threw, or was not asked).
std::optional<PageFocus> parsePageFocus(const QJsonObject& result);

// ---- Documents -----------------------------------------------------------------------------

// Page.createIsolatedWorld's parameters for the layer's own world in a frame.
QJsonObject isolatedWorldParams(const QString& frameId);
// The execution context id of a Page.createIsolatedWorld result; 0 when it has none.
int parseIsolatedWorld(const QJsonObject& result);
// The frame id a DOM.describeNode result names (a FRAME or IFRAME element's frame); empty when
// the node shows no frame.
QString parseNodeFrameId(const QJsonObject& result);

// What the document snapshot script returns.
struct DocumentSnapshot
{
    int id = 0; // the element list's index in the isolated world
    QString url;
    QString title;
    QString contentType;
    int root = -1;
    int body = -1;
    std::vector<ElementData> elements;
};
DocumentSnapshot parseDocumentSnapshot(const QJsonObject& value);

// ---- Targets and sessions ------------------------------------------------------------------

QJsonObject attachParams(const QString& targetId);
// {targetId} (Target.closeTarget, Target.activateTarget).
QJsonObject targetParams(const QString& targetId);
// {objectId} (DOM.describeNode, Runtime.releaseObject).
QJsonObject objectParams(const QString& objectId);
// Network.getResponseBody's parameters.
QJsonObject responseBodyParams(const QString& requestId);
// Page.getResourceContent's parameters.
QJsonObject resourceContentParams(const QString& frameId, const QString& url);
// Network.setBlockedURLs's parameters (an empty list lifts the block).
QJsonObject blockedUrlsParams(const QStringList& urls);
// The session id of a Target.attachToTarget result; empty when there is none.
QString parseSessionId(const QJsonObject& result);
// Target.setAutoAttach's parameters: out-of-process frames arrive as flat sessions of their own.
QJsonObject autoAttachParams();
// Network.enable's parameters: bodies of loads from now on are kept for reading.
QJsonObject networkEnableParams();
// The pid of the browser process in a SystemInfo.getProcessInfo result; 0 when none is named.
qint64 parseBrowserPid(const QJsonObject& result);
// The default context's id in a Target.getBrowserContexts result.
QString parseDefaultContext(const QJsonObject& result);
// A Network.responseReceived event the layer keeps: a complete (200) load by the page itself.
struct WatchedResponse
{
    QString url;
    QString requestId;
};
std::optional<WatchedResponse> parseWatchedResponse(const QJsonObject& params);
// A Target.attachedToTarget event for an out-of-process frame: its frame id and session.
std::optional<std::pair<QString, QString>> parseAttachedFrame(const QJsonObject& params);

// ---- Resources and frames ------------------------------------------------------------------

// The bytes of a Page.getResourceContent ({content, base64Encoded}) or Network.getResponseBody
// ({body, base64Encoded}) result: text as UTF-8, base64 decoded. nullopt when neither field is
// there or the base64 is broken.
std::optional<QByteArray> parseBody(const QJsonObject& result);

struct FrameInfo
{
    QString id;
    QString parentId; // empty for the main frame
    QString name;
    QString url;
    QString securityOrigin;
    QString mimeType;
};

struct ResourceInfo
{
    QString frameId;
    QString url;
    QString type; // "Image", "Script", "Stylesheet", "Document", "Media", ...
    QString mimeType;
    qint64 contentSize = -1; // -1 when the browser does not say
    bool failed = false;
    bool canceled = false;
};

struct FrameTree
{
    QList<FrameInfo> frames; // depth first, each parent before its children; main frame first
    QList<ResourceInfo> resources;
};

// A Page.getResourceTree or Page.getFrameTree result flattened (the latter has no resources).
FrameTree parseFrameTree(const QJsonObject& result);

// ---- Endpoints -----------------------------------------------------------------------------

// The contents of a profile's DevToolsActivePort file.
struct ActivePort
{
    int port = 0;
    QString browserPath; // "/devtools/browser/<id>"
};

// Line 1 the port (1..65535), line 2 the browser's websocket path (starting with "/").
std::optional<ActivePort> parseActivePort(const QString& text);
// ws://127.0.0.1:PORT + path: such a browser answers no HTTP request to ask for the URL.
QUrl activePortUrl(const ActivePort& activePort);

struct HostPort
{
    QString host; // without brackets for IPv6
    int port = 0;
};

// "host:port" or "[v6]:port", blanks around it ignored.
std::optional<HostPort> parseHostPort(const QString& text);

// 127.0.0.0/8 written as four decimal parts, ::1 (or another spelling of a loopback IPv6
// address), or "localhost". Names and other short forms are refused, as the browser checks the
// Host header the same way and Nimbril never talks to another computer.
bool isLoopbackHost(const QString& host);

// A browser websocket URL that Nimbril may open: ws scheme, a loopback host, a port.
bool isLoopbackWebSocketUrl(const QUrl& url);

// The webSocketDebuggerUrl of a /json/version reply; nullopt when it is missing or not a
// loopback websocket URL.
std::optional<QUrl> parseVersionReply(const QByteArray& body);

} // namespace Cdp
