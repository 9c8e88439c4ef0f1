#include "CdpProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <arpa/inet.h>
#include <limits>
#include <netinet/in.h>

namespace Cdp {

QByteArray buildRequest(int id, const QString& method, const QJsonObject& params,
                        const QString& sessionId)
{
    QJsonObject message{{QStringLiteral("id"), id},
                        {QStringLiteral("method"), method},
                        {QStringLiteral("params"), params}};
    if (!sessionId.isEmpty())
        message.insert(QStringLiteral("sessionId"), sessionId);
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

Message parseMessage(const QByteArray& text)
{
    Message m;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return m;
    const QJsonObject o = doc.object();
    m.sessionId = o.value(QStringLiteral("sessionId")).toString();

    const QJsonValue id = o.value(QStringLiteral("id"));
    if (id.isDouble()) {
        m.kind = Message::Kind::Reply;
        m.id = id.toInt();
        const QJsonValue err = o.value(QStringLiteral("error"));
        if (err.isObject()) {
            m.isError = true;
            m.errorCode = err.toObject().value(QStringLiteral("code")).toInt();
            m.errorMessage = err.toObject().value(QStringLiteral("message")).toString();
        } else {
            m.result = o.value(QStringLiteral("result")).toObject();
        }
        return m;
    }
    const QJsonValue method = o.value(QStringLiteral("method"));
    if (method.isString()) {
        m.kind = Message::Kind::Event;
        m.method = method.toString();
        m.params = o.value(QStringLiteral("params")).toObject();
    }
    return m;
}

TargetInfo parseTargetInfo(const QJsonObject& info)
{
    TargetInfo t;
    t.targetId = info.value(QStringLiteral("targetId")).toString();
    t.type = info.value(QStringLiteral("type")).toString();
    t.title = info.value(QStringLiteral("title")).toString();
    t.url = info.value(QStringLiteral("url")).toString();
    t.attached = info.value(QStringLiteral("attached")).toBool();
    t.browserContextId = info.value(QStringLiteral("browserContextId")).toString();
    t.openerId = info.value(QStringLiteral("openerId")).toString();
    return t;
}

QList<TargetInfo> parseTargets(const QJsonObject& result)
{
    QList<TargetInfo> targets;
    const QJsonArray infos = result.value(QStringLiteral("targetInfos")).toArray();
    for (const QJsonValue& v : infos) {
        if (v.isObject())
            targets.append(parseTargetInfo(v.toObject()));
    }
    return targets;
}

QList<TargetInfo> pageTargets(const QList<TargetInfo>& targets)
{
    QList<TargetInfo> pages;
    for (const TargetInfo& t : targets) {
        if (t.type == QLatin1String("page"))
            pages.append(t);
    }
    return pages;
}

namespace {

// JSON has no NaN or infinities, so the browser sends these numbers as text.
QJsonValue numberFromUnserializable(const QString& text)
{
    if (text == QLatin1String("NaN"))
        return std::numeric_limits<double>::quiet_NaN();
    if (text == QLatin1String("Infinity"))
        return std::numeric_limits<double>::infinity();
    if (text == QLatin1String("-Infinity"))
        return -std::numeric_limits<double>::infinity();
    if (text == QLatin1String("-0")) // QJsonValue keeps integral numbers as integers: plain 0
        return 0.0;
    return QJsonValue::Undefined;
}

} // namespace

Evaluation parseEvaluation(const QJsonObject& result)
{
    Evaluation e;
    const QJsonObject remote = result.value(QStringLiteral("result")).toObject();
    e.type = remote.value(QStringLiteral("type")).toString();
    e.subtype = remote.value(QStringLiteral("subtype")).toString();
    e.className = remote.value(QStringLiteral("className")).toString();
    e.description = remote.value(QStringLiteral("description")).toString();
    e.objectId = remote.value(QStringLiteral("objectId")).toString();
    if (remote.contains(QStringLiteral("value")))
        e.value = remote.value(QStringLiteral("value"));
    e.unserializableValue = remote.value(QStringLiteral("unserializableValue")).toString();
    if (!e.unserializableValue.isEmpty())
        e.value = numberFromUnserializable(e.unserializableValue);

    const QJsonValue details = result.value(QStringLiteral("exceptionDetails"));
    if (details.isObject()) {
        e.threw = true;
        const QJsonObject d = details.toObject();
        const QString text = d.value(QStringLiteral("text")).toString();
        const QString thrown = d.value(QStringLiteral("exception"))
                                   .toObject()
                                   .value(QStringLiteral("description"))
                                   .toString();
        if (text.isEmpty())
            e.exceptionText = thrown;
        else if (thrown.isEmpty())
            e.exceptionText = text;
        else
            e.exceptionText = text + u' ' + thrown;
    }
    return e;
}

std::optional<QStringList> parsePageList(const QByteArray& body)
{
    const QJsonDocument json = QJsonDocument::fromJson(body);
    if (!json.isArray())
        return std::nullopt;
    QStringList ids;
    for (const QJsonValue& v : json.array())
        if (v.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
            ids << v.toObject().value(QStringLiteral("id")).toString();
    return ids;
}

QJsonObject evaluateParams(const QString& expression, int contextId, bool returnByValue,
                           bool awaitPromise)
{
    QJsonObject params{{QStringLiteral("expression"), expression}};
    if (contextId != 0)
        params.insert(QStringLiteral("contextId"), contextId);
    if (returnByValue)
        params.insert(QStringLiteral("returnByValue"), true);
    if (awaitPromise)
        params.insert(QStringLiteral("awaitPromise"), true);
    return params;
}

QJsonObject isolatedWorldParams(const QString& frameId)
{
    return {{QStringLiteral("frameId"), frameId},
            {QStringLiteral("worldName"), QStringLiteral("nimbril")}};
}

int parseIsolatedWorld(const QJsonObject& result)
{
    return result.value(QStringLiteral("executionContextId")).toInt();
}

QJsonObject pageFocusParams(int contextId)
{
    return evaluateParams(
        QStringLiteral("[document.visibilityState === 'visible', document.hasFocus()]"), contextId,
        true, false);
}

std::optional<PageFocus> parsePageFocus(const QJsonObject& result)
{
    const Evaluation e = parseEvaluation(result);
    const QJsonArray answer = e.value.toArray();
    if (e.threw || answer.size() != 2 || !answer.at(0).isBool() || !answer.at(1).isBool())
        return std::nullopt;
    return PageFocus{answer.at(0).toBool(), answer.at(1).toBool()};
}

QString parseNodeFrameId(const QJsonObject& result)
{
    return result.value(QStringLiteral("node"))
        .toObject()
        .value(QStringLiteral("frameId"))
        .toString();
}

DocumentSnapshot parseDocumentSnapshot(const QJsonObject& value)
{
    DocumentSnapshot out;
    out.id = value.value(QStringLiteral("id")).toInt();
    out.url = value.value(QStringLiteral("url")).toString();
    out.title = value.value(QStringLiteral("title")).toString();
    out.contentType = value.value(QStringLiteral("contentType")).toString();
    out.root = value.value(QStringLiteral("root")).toInt(-1);
    out.body = value.value(QStringLiteral("body")).toInt(-1);
    const QJsonArray elems = value.value(QStringLiteral("elems")).toArray();
    out.elements.reserve(size_t(elems.size()));
    for (const QJsonValue& v : elems) {
        const QJsonArray e = v.toArray();
        ElementData element;
        element.tag = e.at(0).toString();
        const QJsonArray attrs = e.at(1).toArray();
        element.attributes.reserve(attrs.size());
        for (const QJsonValue& a : attrs)
            element.attributes << a.toString();
        // An anchor reports its protocol where other elements report their resource.
        if (element.tag == QLatin1String("A"))
            element.protocol = e.at(2).toString();
        else if (e.at(2).isString())
            element.address = e.at(2).toString();
        out.elements.push_back(std::move(element));
    }
    // Indexes that name no element are no elements.
    const int count = int(out.elements.size());
    if (out.root >= count)
        out.root = -1;
    if (out.body >= count)
        out.body = -1;
    return out;
}

QJsonObject attachParams(const QString& targetId)
{
    return {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}};
}

QJsonObject targetParams(const QString& targetId)
{
    return {{QStringLiteral("targetId"), targetId}};
}

QJsonObject objectParams(const QString& objectId)
{
    return {{QStringLiteral("objectId"), objectId}};
}

QString parseBlobStream(const QJsonObject& result)
{
    const QString uuid = result.value(QStringLiteral("uuid")).toString();
    return uuid.isEmpty() ? QString() : QStringLiteral("blob:") + uuid;
}

QJsonObject streamReadParams(const QString& stream, int size)
{
    return {{QStringLiteral("handle"), stream}, {QStringLiteral("size"), size}};
}

QJsonObject streamParams(const QString& stream)
{
    return {{QStringLiteral("handle"), stream}};
}

std::optional<StreamPiece> parseStreamPiece(const QJsonObject& result)
{
    const QJsonValue data = result.value(QStringLiteral("data"));
    if (!data.isString())
        return std::nullopt;
    StreamPiece piece;
    piece.eof = result.value(QStringLiteral("eof")).toBool();
    if (!result.value(QStringLiteral("base64Encoded")).toBool()) {
        piece.bytes = data.toString().toUtf8();
        return piece;
    }
    const auto decoded = QByteArray::fromBase64Encoding(data.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    piece.bytes = *decoded;
    return piece;
}

QJsonObject responseBodyParams(const QString& requestId)
{
    return {{QStringLiteral("requestId"), requestId}};
}

QJsonObject resourceContentParams(const QString& frameId, const QString& url)
{
    return {{QStringLiteral("frameId"), frameId}, {QStringLiteral("url"), url}};
}

QJsonObject blockedUrlsParams(const QStringList& urls)
{
    return {{QStringLiteral("urls"), QJsonArray::fromStringList(urls)}};
}

QString parseSessionId(const QJsonObject& result)
{
    return result.value(QStringLiteral("sessionId")).toString();
}

QJsonObject autoAttachParams()
{
    return {{QStringLiteral("autoAttach"), true},
            {QStringLiteral("waitForDebuggerOnStart"), false},
            {QStringLiteral("flatten"), true}};
}

QJsonObject networkEnableParams()
{
    return {{QStringLiteral("maxTotalBufferSize"), 64 * 1024 * 1024},
            {QStringLiteral("maxResourceBufferSize"), 32 * 1024 * 1024}};
}

qint64 parseBrowserPid(const QJsonObject& result)
{
    qint64 pid = 0;
    for (const QJsonValue& info : result.value(QStringLiteral("processInfo")).toArray())
        if (info.toObject().value(QStringLiteral("type")).toString() == QLatin1String("browser"))
            pid = info.toObject().value(QStringLiteral("id")).toInteger();
    return pid;
}

QString parseDefaultContext(const QJsonObject& result)
{
    return result.value(QStringLiteral("defaultBrowserContextId")).toString();
}

std::optional<WatchedResponse> parseWatchedResponse(const QJsonObject& params)
{
    // The layer's own reads from the cache show up too, as fetches: they do not count.
    const QJsonObject response = params.value(QStringLiteral("response")).toObject();
    if (response.value(QStringLiteral("status")).toInt() != 200 ||
        params.value(QStringLiteral("type")).toString() == QLatin1String("Fetch"))
        return std::nullopt;
    return WatchedResponse{response.value(QStringLiteral("url")).toString(),
                           params.value(QStringLiteral("requestId")).toString()};
}

std::optional<std::pair<QString, QString>> parseAttachedFrame(const QJsonObject& params)
{
    const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
    if (info.value(QStringLiteral("type")).toString() != QLatin1String("iframe"))
        return std::nullopt;
    return std::pair{info.value(QStringLiteral("targetId")).toString(),
                     params.value(QStringLiteral("sessionId")).toString()};
}

std::optional<QByteArray> parseBody(const QJsonObject& result)
{
    QJsonValue data = result.value(QStringLiteral("body"));
    if (!data.isString())
        data = result.value(QStringLiteral("content"));
    if (!data.isString())
        return std::nullopt;
    const QString text = data.toString();
    if (!result.value(QStringLiteral("base64Encoded")).toBool())
        return text.toUtf8();
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return decoded.decoded;
}

namespace {

void flattenFrame(const QJsonObject& node, FrameTree& tree)
{
    const QJsonObject f = node.value(QStringLiteral("frame")).toObject();
    FrameInfo frame;
    frame.id = f.value(QStringLiteral("id")).toString();
    frame.parentId = f.value(QStringLiteral("parentId")).toString();
    frame.name = f.value(QStringLiteral("name")).toString();
    frame.url = f.value(QStringLiteral("url")).toString();
    frame.securityOrigin = f.value(QStringLiteral("securityOrigin")).toString();
    frame.mimeType = f.value(QStringLiteral("mimeType")).toString();
    tree.frames.append(frame);

    const QJsonArray resources = node.value(QStringLiteral("resources")).toArray();
    for (const QJsonValue& v : resources) {
        const QJsonObject r = v.toObject();
        ResourceInfo res;
        res.frameId = frame.id;
        res.url = r.value(QStringLiteral("url")).toString();
        res.type = r.value(QStringLiteral("type")).toString();
        res.mimeType = r.value(QStringLiteral("mimeType")).toString();
        const QJsonValue size = r.value(QStringLiteral("contentSize"));
        // A size beyond any file (or not a number at all) must not wrap round into a small one.
        const double bytes = size.isDouble() ? size.toDouble() : -1;
        res.contentSize = !(bytes >= 0)     ? -1
                          : bytes >= 0x1p62 ? std::numeric_limits<qint64>::max()
                                            : static_cast<qint64>(bytes);
        res.failed = r.value(QStringLiteral("failed")).toBool();
        res.canceled = r.value(QStringLiteral("canceled")).toBool();
        tree.resources.append(res);
    }

    const QJsonArray children = node.value(QStringLiteral("childFrames")).toArray();
    for (const QJsonValue& child : children)
        flattenFrame(child.toObject(), tree);
}

} // namespace

FrameTree parseFrameTree(const QJsonObject& result)
{
    FrameTree tree;
    const QJsonValue root = result.value(QStringLiteral("frameTree"));
    if (root.isObject())
        flattenFrame(root.toObject(), tree);
    return tree;
}

namespace {

std::optional<int> parsePort(QStringView text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535 || text.startsWith(u'+'))
        return std::nullopt;
    return port;
}

} // namespace

std::optional<ActivePort> parseActivePort(const QString& text)
{
    const QStringList lines = text.split(u'\n');
    if (lines.size() < 2)
        return std::nullopt;
    const std::optional<int> port = parsePort(QStringView(lines[0]).trimmed());
    const QString path = lines[1].trimmed();
    if (!port || !path.startsWith(u'/'))
        return std::nullopt;
    return ActivePort{*port, path};
}

QUrl activePortUrl(const ActivePort& activePort)
{
    QUrl url;
    url.setScheme(QStringLiteral("ws"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(activePort.port);
    url.setPath(activePort.browserPath);
    return url;
}

std::optional<HostPort> parseHostPort(const QString& text)
{
    const QString t = text.trimmed();
    QString host;
    QStringView portText;
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(QLatin1String("]:"));
        if (close < 0)
            return std::nullopt;
        host = t.mid(1, close - 1);
        portText = QStringView(t).mid(close + 2);
    } else {
        const qsizetype colon = t.lastIndexOf(u':');
        if (colon <= 0 || t.indexOf(u':') != colon) // a bare IPv6 address needs brackets
            return std::nullopt;
        host = t.left(colon);
        portText = QStringView(t).mid(colon + 1);
    }
    const std::optional<int> port = parsePort(portText);
    if (host.isEmpty() || !port)
        return std::nullopt;
    return HostPort{host, *port};
}

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    // Only the plain dotted form of an IPv4 address counts ("127.1", "0177.0.0.1" and
    // "2130706433" are read as addresses elsewhere), and the IPv6 loopback in any spelling.
    const QByteArray text = host.toLatin1();
    if (in_addr v4{}; inet_pton(AF_INET, text.constData(), &v4) == 1) {
        char back[INET_ADDRSTRLEN] = {};
        return (ntohl(v4.s_addr) >> 24) == 127 && inet_ntop(AF_INET, &v4, back, sizeof back) &&
               text == back;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.constData(), &v6) != 1)
        return false;
    return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

bool isLoopbackWebSocketUrl(const QUrl& url)
{
    return url.isValid() && url.scheme() == QLatin1String("ws") && url.port() > 0 &&
           url.userInfo().isEmpty() && isLoopbackHost(url.host());
}

std::optional<QUrl> parseVersionReply(const QByteArray& body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QJsonValue ws = doc.object().value(QStringLiteral("webSocketDebuggerUrl"));
    if (!ws.isString())
        return std::nullopt;
    const QUrl url(ws.toString(), QUrl::StrictMode);
    if (!isLoopbackWebSocketUrl(url))
        return std::nullopt;
    return url;
}

} // namespace Cdp
