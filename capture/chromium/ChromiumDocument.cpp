#include "ChromiumDocument.h"

#include "CdpConnection.h"
#include "CdpProtocol.h"
#include "Errors.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kCallTimeoutMs = 30000;

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

std::shared_ptr<ChromiumDocument> read(CdpConnection& c, const QString& session,
                                       const QString& frameId, const QString& topUrl, bool onDisk,
                                       PageSnapshot& snapshot)
{
    auto doc = std::make_shared<ChromiumDocument>();
    doc->session = session;
    doc->frameId = frameId;
    doc->onDisk = onDisk;
    // The isolated world sees the page's DOM but none of its scripts' globals, and the page
    // sees nothing of ours.
    const int world = c.send(QStringLiteral("Page.createIsolatedWorld"),
                             Cdp::isolatedWorldParams(frameId), session);
    const int tree = c.send(QStringLiteral("Page.getResourceTree"), {}, session);
    doc->contextId = Cdp::parseIsolatedWorld(c.wait(world, kCallTimeoutMs));
    QJsonObject treeResult;
    try {
        treeResult = c.wait(tree, kCallTimeoutMs);
    } catch (const SafecallError&) {
        // without a resource tree the resources are looked up in the frame itself
    }
    takeResourceTree(*doc, Cdp::parseFrameTree(treeResult));

    const Cdp::DocumentSnapshot read =
        Cdp::parseDocumentSnapshot(Evaluate(c, *doc, SnapshotScript()).toObject());
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

QString serialize(CdpConnection& c, const ChromiumDocument& doc, int root,
                  const QList<AttributeWrite>& writes)
{
    QJsonArray w;
    for (const AttributeWrite& write : writes)
        w.append(QJsonArray{write.element, write.name, write.value});
    return Evaluate(c, doc, SerializeScript() + u'(' + JsonArgs({doc.docIndex, root, w}) + u')')
        .toString();
}

QString text(CdpConnection& c, const ChromiumDocument& doc, int element)
{
    return Evaluate(c, doc,
                    QStringLiteral("globalThis.__nimbrilDocs[%1][%2].innerText")
                        .arg(doc.docIndex)
                        .arg(element))
        .toString();
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

QList<std::optional<QByteArray>> readCachedSameOrigin(CdpConnection& c, const ChromiumDocument& doc,
                                                      const QStringList& urls)
{
    const QString expression = u'(' + CachedFetchScript() + QStringLiteral(")(") +
                               JsonArgs(QJsonArray{QJsonArray::fromStringList(urls)}) + u')';
    const QJsonArray bodies = Evaluate(c, doc, expression, true).toArray();
    QList<std::optional<QByteArray>> out;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        if (i < bodies.size() && bodies[i].isString())
            out << QByteArray::fromBase64(bodies[i].toString().toLatin1());
        else
            out << std::nullopt;
    }
    return out;
}

} // namespace ChromiumDocuments
