#pragma once

#include "Browser.h"
#include "CdpProtocol.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>

class CdpConnection;

// What the layer keeps of a document it read: where it lives in the browser, and what the
// browser's resource tree says of its resources.
struct ChromiumDocument
{
    QString session;
    QString frameId;
    int contextId = 0; // the isolated world the layer's scripts run in
    int docIndex = 0;  // the document's element list in that world
    QString url;
    QString topUrl;      // the page's own address: the browser's cache is split by it
    bool onDisk = false; // whether the page's context keeps its cache in the folders found
    QString contentType;
    QHash<QString, QString> resourceFrames; // url -> frame id, from the resource tree
    QHash<QString, qint64> resourceSizes;   // url -> decoded size, where the tree gives one
    QStringList styleUrls;                  // style sheets and manifests of the session's frames
};

namespace ChromiumDocuments {

// Takes what the browser's resource tree says of the resources: each one's frame and size, and
// the style sheets and manifests.
void takeResourceTree(ChromiumDocument& doc, const Cdp::FrameTree& tree);

// Reads the document of a frame (a page's main frame too) into `snapshot`, without its frames,
// and returns what the layer needs to read it further.
std::shared_ptr<ChromiumDocument> read(CdpConnection& connection, const QString& session,
                                       const QString& frameId, const QString& topUrl, bool onDisk,
                                       PageSnapshot& snapshot);
// The root element's outer HTML with the writes and options applied to an inert copy, in UTF-8.
// The browser keeps it as a blob, read in slices that `write` takes as they come.
void serialize(CdpConnection& connection, const ChromiumDocument& doc, int root,
               const QList<AttributeWrite>& writes, const CopyOptions& options,
               const Browser::TextWriter& write);
// The element's innerText.
QString text(CdpConnection& connection, const ChromiumDocument& doc, int element);
// The id of the frame shown by the document's first FRAME or IFRAME element of that name; empty
// when there is none.
QString frameIdByName(CdpConnection& connection, const ChromiumDocument& doc, const QString& name);
// The id of the frame the document's FRAME or IFRAME element (by its index) shows; empty when the
// element is none of these or shows no frame.
QString frameIdOfElement(CdpConnection& connection, const ChromiumDocument& doc, int element);
// What the page's read of its origin's HTTP cache brought for one URL.
struct CachedRead
{
    std::optional<QByteArray> bytes; // nullopt: a miss, or too large
    bool tooLarge = false;           // the cache holds more than kLargestResource bytes for it
};
// Reads same-origin URLs from the browser's HTTP cache through the page, never from the network.
QList<CachedRead> readCachedSameOrigin(CdpConnection& connection, const ChromiumDocument& doc,
                                       const QStringList& urls);

} // namespace ChromiumDocuments
