#include "ChromiumDocument.h"

#include "CdpConnection.h"
#include "CdpProtocol.h"
#include "Errors.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <zlib.h>

namespace {

constexpr int kCallTimeoutMs = 30000;
// Texts shorter than this (in UTF-16 code units) come in the reply itself; longer ones packed, in
// slices of kPackedSlice bytes (a third more in base64 on the wire).
constexpr int kShortText = 1 << 20;
constexpr int kPackedSlice = 8 << 20;
// A document's snapshot or text read whole may hold at most this many bytes.
constexpr qsizetype kLargestWholeText = qsizetype(256) << 20;

// One of the layer's scripts, from the resources built into the program.
QString Script(const char* name)
{
    QFile file(QStringLiteral(":/nimbril/chromium/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("script %s is not built in", name);
    return QString::fromUtf8(file.readAll());
}

const QString& SnapshotScript()
{
    static const QString script = Script("snapshot.js");
    return script;
}

const QString& SerializeScript()
{
    static const QString script = Script("serialize.js");
    return script;
}

const QString& CachedFetchScript()
{
    static const QString script = Script("cached-fetch.js");
    return script;
}

// Undoes gzip as the pieces arrive, handing on what each unpacks to.
class Unpacker
{
public:
    Unpacker() { m_ok = inflateInit2(&m_z, 16 + MAX_WBITS) == Z_OK; }
    ~Unpacker() { inflateEnd(&m_z); }
    Unpacker(const Unpacker&) = delete;
    Unpacker& operator=(const Unpacker&) = delete;

    bool feed(const QByteArray& in, const Browser::TextWriter& write)
    {
        m_z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
        m_z.avail_in = uInt(in.size());
        QByteArray out(kOutPiece, Qt::Uninitialized);
        while (m_ok && !m_ended && m_z.avail_in > 0) {
            m_z.next_out = reinterpret_cast<Bytef*>(out.data());
            m_z.avail_out = uInt(out.size());
            const int rc = inflate(&m_z, Z_NO_FLUSH);
            m_ok = rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR;
            m_ended = rc == Z_STREAM_END;
            if (const qsizetype produced = out.size() - qsizetype(m_z.avail_out); produced > 0)
                write(out.left(produced));
        }
        return m_ok;
    }
    bool ended() const { return m_ended; }

private:
    static constexpr qsizetype kOutPiece = 1 << 20;
    z_stream m_z{};
    bool m_ok = false;
    bool m_ended = false;
};

QString JsonArgs(const QJsonArray& args)
{
    QString out = QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact));
    return out.mid(1, out.size() - 2);
}

QJsonValue Evaluate(CdpConnection& c, const ChromiumDocument& doc, const QString& expression,
                    bool awaitPromise = false)
{
    const QJsonObject result =
        c.call(QStringLiteral("Runtime.evaluate"),
               Cdp::evaluateParams(expression, doc.contextId, true, awaitPromise), doc.session,
               kCallTimeoutMs);
    const Cdp::Evaluation e = Cdp::parseEvaluation(result);
    if (e.threw)
        throw SafecallError();
    return e.value;
}

// Running an expression whose value is a text, in two halves, so that the answer may be taken
// long after the request went out (a page's copy, while the next page's files are written). The
// request, sent in the world `contextId` of the session: a short text comes in the reply itself.
// A long one would crawl: the protocol carries some ten megabytes a second, so the page packs it
// (to about a sixth, far faster than the protocol would carry the difference) into a blob that is
// read in slices and unpacked as they come...
int SendText(CdpConnection& c, const QString& session, int contextId, const QString& expression)
{
    const QString packed =
        QStringLiteral("(t => t.length < %1 ? t : new Response(new Blob([t]).stream()"
                       ".pipeThrough(new CompressionStream('gzip'))).blob())(")
            .arg(kShortText) +
        expression + u')';
    return c.send(QStringLiteral("Runtime.evaluate"),
                  Cdp::evaluateParams(packed, contextId, false, true), session);
}

// ... and the text taken from its answer, handed to `write` in UTF-8.
void TakeText(CdpConnection& c, const ChromiumDocument& doc, int request,
              const Browser::TextWriter& write)
{
    const Cdp::Evaluation made = Cdp::parseEvaluation(c.wait(request, kCallTimeoutMs));
    if (made.threw)
        throw SafecallError();
    if (made.value.isString()) {
        write(made.value.toString().toUtf8());
        return;
    }
    if (made.objectId.isEmpty())
        throw SafecallError();
    const auto release = qScopeGuard([&] {
        if (c.isConnected())
            c.discard(c.send(QStringLiteral("Runtime.releaseObject"),
                             Cdp::objectParams(made.objectId), doc.session));
    });
    const QString stream =
        Cdp::parseBlobStream(c.call(QStringLiteral("IO.resolveBlob"),
                                    Cdp::objectParams(made.objectId), doc.session, kCallTimeoutMs));
    if (stream.isEmpty())
        throw SafecallError();
    const auto close = qScopeGuard([&] {
        if (c.isConnected())
            c.discard(c.send(QStringLiteral("IO.close"), Cdp::streamParams(stream), doc.session));
    });
    Unpacker unpack;
    for (;;) {
        const std::optional<Cdp::StreamPiece> piece = Cdp::parseStreamPiece(
            c.call(QStringLiteral("IO.read"), Cdp::streamReadParams(stream, kPackedSlice),
                   doc.session, kCallTimeoutMs));
        if (!piece || !unpack.feed(piece->bytes, write))
            throw SafecallError();
        if (piece->eof)
            break;
    }
    if (!unpack.ended())
        throw SafecallError();
}

// The id of the frame the element `expression` evaluates to shows; empty when it gives none.
QString FrameIdOf(CdpConnection& c, const ChromiumDocument& doc, const QString& expression)
{
    const Cdp::Evaluation found = Cdp::parseEvaluation(c.call(
        QStringLiteral("Runtime.evaluate"),
        Cdp::evaluateParams(expression, doc.contextId, false, false), doc.session, kCallTimeoutMs));
    if (found.threw)
        throw SafecallError();
    if (found.objectId.isEmpty())
        return QString();
    const QString frameId = Cdp::parseNodeFrameId(c.call(QStringLiteral("DOM.describeNode"),
                                                         Cdp::objectParams(found.objectId),
                                                         doc.session, kCallTimeoutMs));
    c.discard(c.send(QStringLiteral("Runtime.releaseObject"), Cdp::objectParams(found.objectId),
                     doc.session));
    return frameId;
}

// The whole text the answer to a request sent by SendText gives, held in memory:
// PageTooLargeError when it is longer than any page's elements or text may be, so that one page
// cannot take the program's memory.
QByteArray TakeWholeText(CdpConnection& c, const ChromiumDocument& doc, int request)
{
    QByteArray text;
    TakeText(c, doc, request, [&text](const QByteArray& piece) {
        if (text.size() + piece.size() > kLargestWholeText)
            throw PageTooLargeError();
        text += piece;
    });
    return text;
}

QByteArray ReadWholeText(CdpConnection& c, const ChromiumDocument& doc, const QString& expression)
{
    return TakeWholeText(c, doc, SendText(c, doc.session, doc.contextId, expression));
}

// Whether the frame has shown another document since the event cursor `from` (the page's
// session reports its frames' navigations).
bool NavigatedSince(const CdpConnection& c, const QString& session, const QString& frameId,
                    quint64 from)
{
    for (const Cdp::Event& e : c.eventsSince(from))
        if (e.sessionId == session && e.method == QLatin1String("Page.frameNavigated") &&
            e.params.value(QStringLiteral("frame")).toObject().value(QStringLiteral("id")) ==
                frameId)
            return true;
    return false;
}

// The snapshot, and the serialiser set up beside it in the same world: compiled once there, so
// that the page's copy later sends only its writes (its text sent and compiled with every copy
// cost more than the copying itself).
QString SnapshotExpression()
{
    return QStringLiteral("(globalThis.__nimbrilSerialize = ") + SerializeScript() +
           QStringLiteral(", JSON.stringify(") + SnapshotScript() + QStringLiteral("))");
}

} // namespace

namespace ChromiumDocuments {

void takeResourceTree(ChromiumDocument& doc, const Cdp::FrameTree& tree)
{
    for (const Cdp::ResourceInfo& r : tree.resources) {
        if (r.failed || r.canceled)
            continue;
        doc.resourceFrames.insert(r.url, r.frameId);
        if (r.contentSize > 0)
            doc.resourceSizes.insert(r.url, r.contentSize);
        if (r.type == QLatin1String("Stylesheet") || r.type == QLatin1String("Manifest"))
            doc.styleUrls << r.url;
    }
}

DocumentRequests sendAhead(CdpConnection& c, const QString& session, const QString& frameId)
{
    // The isolated world sees the page's DOM but none of its scripts' globals, and the page
    // sees nothing of ours.
    DocumentRequests sent;
    sent.session = session;
    sent.sentAt = c.eventCursor();
    sent.world = c.send(QStringLiteral("Page.createIsolatedWorld"),
                        Cdp::isolatedWorldParams(frameId), session);
    sent.tree = c.send(QStringLiteral("Page.getResourceTree"), {}, session);
    return sent;
}

void advance(CdpConnection& c, DocumentRequests& ahead)
{
    if (!ahead.world || ahead.contextId || !c.isAnswered(ahead.world))
        return;
    try {
        ahead.contextId = Cdp::parseIsolatedWorld(c.wait(ahead.world, kCallTimeoutMs));
        ahead.world = 0;
        ahead.snapshot = SendText(c, ahead.session, ahead.contextId, SnapshotExpression());
    } catch (const SafecallError&) {
        discard(c, ahead);
        ahead = {};
    }
}

void discard(CdpConnection& c, const DocumentRequests& ahead)
{
    for (int id : {ahead.world, ahead.tree, ahead.snapshot})
        if (id)
            c.discard(id);
}

std::shared_ptr<ChromiumDocument> read(CdpConnection& c, const QString& session,
                                       const QString& frameId, const QString& topUrl, bool onDisk,
                                       PageSnapshot& snapshot, DocumentRequests ahead)
{
    auto doc = std::make_shared<ChromiumDocument>();
    doc->session = session;
    doc->frameId = frameId;
    doc->onDisk = onDisk;
    if (ahead.session != session || !(ahead.world || ahead.contextId) ||
        NavigatedSince(c, session, frameId, ahead.sentAt)) {
        discard(c, ahead);
        ahead = sendAhead(c, session, frameId);
    }
    doc->contextId =
        ahead.contextId
            ? ahead.contextId
            : Cdp::parseIsolatedWorld(c.wait(ahead.world, CdpConnection::PageFirstAnswerMs));
    QJsonObject treeResult;
    try {
        treeResult = c.wait(ahead.tree, kCallTimeoutMs);
    } catch (const SafecallError&) {
        // without a resource tree the resources are looked up in the frame itself
    }
    takeResourceTree(*doc, Cdp::parseFrameTree(treeResult));

    QByteArray json;
    if (ahead.snapshot) {
        try {
            json = TakeWholeText(c, *doc, ahead.snapshot);
        } catch (const NoAnswerError&) {
            throw;
        } catch (const PageTooLargeError&) {
            throw;
        } catch (const SafecallError&) {
            // The page went on to another document since its snapshot was asked for: the
            // world is gone with it, and the document is read afresh.
            if (!c.isConnected())
                throw;
            return read(c, session, frameId, topUrl, onDisk, snapshot);
        }
    } else {
        json = ReadWholeText(c, *doc, SnapshotExpression());
    }
    const Cdp::DocumentSnapshot read =
        Cdp::parseDocumentSnapshot(QJsonDocument::fromJson(json).object());
    doc->docIndex = read.id;
    doc->url = read.url;
    doc->topUrl = topUrl.isEmpty() ? read.url : topUrl;
    doc->contentType = read.contentType;

    snapshot.address = read.url;
    snapshot.title = read.title;
    snapshot.topAddress = doc->topUrl;
    snapshot.root = read.root;
    snapshot.body = read.body;
    snapshot.elements = std::move(read.elements);
    return doc;
}

int sendSerialize(CdpConnection& c, const ChromiumDocument& doc, int root,
                  const QList<AttributeWrite>& writes, const CopyOptions& options)
{
    QJsonArray w;
    for (const AttributeWrite& attribute : writes)
        w.append(QJsonArray{attribute.element, attribute.name, attribute.value});
    return SendText(
        c, doc.session, doc.contextId,
        QStringLiteral("globalThis.__nimbrilSerialize(") +
            JsonArgs({doc.docIndex, root, w, options.inertScripts, options.fieldValues}) + u')');
}

void takeSerialized(CdpConnection& c, const ChromiumDocument& doc, int request,
                    const Browser::TextWriter& write)
{
    TakeText(c, doc, request, write);
}

QString text(CdpConnection& c, const ChromiumDocument& doc, int element)
{
    return QString::fromUtf8(
        ReadWholeText(c, doc,
                      QStringLiteral("String(globalThis.__nimbrilDocs[%1][%2].innerText ?? '')")
                          .arg(doc.docIndex)
                          .arg(element)));
}

QString frameIdByName(CdpConnection& c, const ChromiumDocument& doc, const QString& name)
{
    return FrameIdOf(c, doc,
                     QStringLiteral("(n => Array.from(document.querySelectorAll('frame,iframe'))"
                                    ".find(f => f.getAttribute('name') === n) || null)(%1)")
                         .arg(JsonArgs({name})));
}

QString frameIdOfElement(CdpConnection& c, const ChromiumDocument& doc, int element)
{
    return FrameIdOf(c, doc,
                     QStringLiteral("(e => e && /^i?frame$/i.test(e.tagName) ? e : null)"
                                    "(globalThis.__nimbrilDocs[%1][%2])")
                         .arg(doc.docIndex)
                         .arg(element));
}

QList<CachedRead> readCachedSameOrigin(CdpConnection& c, const ChromiumDocument& doc,
                                       const QStringList& urls)
{
    const QString expression =
        u'(' + CachedFetchScript() + QStringLiteral(")(") +
        JsonArgs({QJsonArray::fromStringList(urls), double(kLargestResource)}) + u')';
    const QJsonArray bodies = Evaluate(c, doc, expression, true).toArray();
    QList<CachedRead> out;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        CachedRead read;
        if (i < bodies.size() && bodies[i].isString())
            read.bytes = QByteArray::fromBase64(bodies[i].toString().toLatin1());
        else if (i < bodies.size() && bodies[i].isDouble())
            read.tooLarge = true;
        out << read;
    }
    return out;
}

} // namespace ChromiumDocuments
