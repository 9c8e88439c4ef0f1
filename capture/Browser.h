#pragma once

#include "Message.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The browser as the capture engine sees it: plain values in, plain values out. Every call may
// throw SafecallError when the browser fails it; a missing thing is an empty result, never an
// error. The DevTools realisation talks to a running Chromium; tests use a stand-in that serves
// pages written out as data.

// An open page, as the browser lists it.
struct PageRef
{
    QString id;
    QString address;
    QString title;
    QString context; // the browser context (profile, private window) the page lives in
};

// One element of a document, in document order.
struct ElementData
{
    QString tag;                    // upper case
    QStringList attributes;         // name, value, name, value, ... as written in the page
    std::optional<QString> address; // the resource address the browser reports for the tag:
                                    // IMG the picture shown, EMBED/SCRIPT src, LINK href,
                                    // BGSOUND src resolved, OBJECT its movie (nullopt: none)
    QString protocol;               // A only: the link's protocol ("mailto:" for e-mail links)

    // The attribute's text, names compared without case; nullopt when absent.
    std::optional<QString> attribute(const QString& name) const;
};

struct PageSnapshot;

// The document a FRAME element of a page shows, found by the element's name.
struct FrameDocument
{
    QString name;
    std::shared_ptr<const PageSnapshot> document; // null: the frame shows no document
};

// What the engine reads of one document, taken at once.
struct PageSnapshot
{
    quint64 handle = 0; // the browser's own reference to the document, for its later calls
    QString address;
    QString title;
    QString context;    // the browser context the document lives in
    QString topAddress; // the address of the page the document is part of (itself for a page)
    std::vector<ElementData> elements;
    int root = -1; // index of the root element, -1: none
    int body = -1; // index of the BODY element, -1: none
    std::vector<FrameDocument> frames;

    // Indexes of the elements with this tag (any letter case), in document order.
    QList<int> elementsTagged(const QString& tag) const;
    // The document of the named frame; null when there is none.
    std::shared_ptr<const PageSnapshot> frameNamed(const QString& name) const;
};

// An attribute the saved copy of a page carries instead of the live one; without a name, the text
// the element holds instead of its content (a STYLE element's sheet).
struct AttributeWrite
{
    int element;
    QString name;
    QString value;

    friend bool operator==(const AttributeWrite&, const AttributeWrite&) = default;
};

// How the saved copy of a document differs from the live one beyond the attribute writes.
struct CopyOptions
{
    // The copy's scripts are kept but do not run when it is opened (the copy already holds what
    // they built); the type each had stays beside it so that it can be restored.
    bool inertScripts = false;
    // Form fields keep the values, ticks and choices they show, which scripts or the user set.
    bool fieldValues = false;

    friend bool operator==(const CopyOptions&, const CopyOptions&) = default;
};

// The most bytes the browser hands out for one resource. A bigger body (a picture that unpacks
// to gigabytes) is refused through the sink instead of being held in memory; no picture, sheet
// or script a real page shows comes near it.
inline constexpr qint64 kLargestResource = qint64(128) << 20;

// Takes resource bytes as the browser hands them out, one resource at a time, so that no more
// than one body is held at once.
class ResourceSink
{
public:
    virtual ~ResourceSink() = default;
    virtual void receive(const QString& url, const QByteArray& bytes) = 0;
    // The browser holds the URL's bytes but does not hand them out, and says why.
    virtual void refuse(const QString& url, const Message& why) = 0;
    // False once the sink takes no more (the user stopped the capture): the browser may leave
    // the rest unread.
    virtual bool wantsMore() const { return true; }
};

class Browser
{
public:
    virtual ~Browser() = default;

    // The open pages, the one looked at last first.
    virtual QList<PageRef> pages() = 0;
    // The pages a capture is about to read, in their order: a browser may start setting up its
    // access to all of them at once, so that what each costs it overlaps. Only a hint.
    virtual void prepare(const QList<PageRef>& pages) { Q_UNUSED(pages); }
    // The page's document; nullopt when it shows no HTML document (a PDF, a picture).
    virtual std::optional<PageSnapshot> snapshot(const PageRef& page) = 0;
    // The text of an element as the page renders it (innerText).
    virtual QString text(const PageSnapshot& page, int element) = 0;
    // The document an IFRAME element of the page (by its index) shows, read as a page is; null
    // when it shows none.
    virtual std::shared_ptr<const PageSnapshot> inlineFrame(const PageSnapshot& page,
                                                            int element) = 0;
    // Hands the sink the bytes the browser holds for each of the URLs the document uses, read
    // from the browser and never from the network. A URL the browser does not hold is left out.
    virtual void fetch(const PageSnapshot& page, const QStringList& urls, ResourceSink& sink) = 0;
    // Hands the sink the bytes of a resource that any open page shows; false when none does.
    virtual bool fetchShown(const QString& url, ResourceSink& sink) = 0;
    // The root element's outer HTML as it reads with the writes and options applied, in UTF-8,
    // handed to `write` a piece at a time as it comes (a page of many megabytes is never held
    // whole); the live page stays untouched.
    using TextWriter = std::function<void(const QByteArray& utf8)>;
    virtual void serialize(const PageSnapshot& page, const QList<AttributeWrite>& writes,
                           const CopyOptions& options, const TextWriter& write) = 0;
    // Asks for the copy serialize() hands out for the same page, writes and options, so that the
    // browser makes it while the caller goes on; serialize() later takes it. Only a hint.
    virtual void serializeAhead(const PageSnapshot& page, const QList<AttributeWrite>& writes,
                                const CopyOptions& options)
    {
        Q_UNUSED(page);
        Q_UNUSED(writes);
        Q_UNUSED(options);
    }
    // The caption of the browser window in front, or the empty text.
    virtual QString frontWindowCaption() = 0;
    // Asks every browser window to close; returns before they have closed.
    virtual void closeAllWindows() = 0;
};
