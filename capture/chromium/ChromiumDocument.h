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

// The requests that read a frame's document, sent ahead of its turn (the next page's, while
// this page's files are written) so that the browser works on them meanwhile. Each answer is
// collected once, by read(); 0: not sent.
struct DocumentRequests
{
    QString session;
    quint64 sentAt = 0; // the connection's event cursor when they were sent
    int world = 0;      // the isolated world's creation
    int tree = 0;       // the resource tree
    int contextId = 0;  // the world, once its answer was taken
    int snapshot = 0;   // the snapshot's evaluation in that world
};
// Sends the first requests for the document of a frame; waits for nothing.
DocumentRequests sendAhead(CdpConnection& connection, const QString& session,
                           const QString& frameId);
// Sends the snapshot's evaluation as soon as the world's answer is there; waits for nothing. A
// failed answer drops what was sent ahead, and read() asks again.
void advance(CdpConnection& connection, DocumentRequests& ahead);
// Lets go of requests whose answers nobody will collect.
void discard(CdpConnection& connection, const DocumentRequests& ahead);

// Reads the document of a frame (a page's main frame too) into `snapshot`, without its frames,
// and returns what the layer needs to read it further. What `ahead` sent for it is collected
// instead of being asked again, unless the frame has shown another document since.
std::shared_ptr<ChromiumDocument> read(CdpConnection& connection, const QString& session,
                                       const QString& frameId, const QString& topUrl, bool onDisk,
                                       PageSnapshot& snapshot, DocumentRequests ahead = {});
// The root element's outer HTML with the writes and options applied to an inert copy, in UTF-8.
// A large one the browser keeps as a blob, read in slices that `write` takes as they come. In two
// halves: the request, sent at once, and later the text of its answer.
int sendSerialize(CdpConnection& connection, const ChromiumDocument& doc, int root,
                  const QList<AttributeWrite>& writes, const CopyOptions& options);
void takeSerialized(CdpConnection& connection, const ChromiumDocument& doc, int request,
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
