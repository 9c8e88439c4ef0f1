#pragma once

#include "Browser.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The stand-in browser the engine's tests write pages for: small element trees that the browser
// hands out as snapshots, the bytes it holds per context and URL, and calls that can be counted
// and made to fail.

class FakeDocument;
using FakeDocumentPtr = std::shared_ptr<FakeDocument>;
// Attributes in the order they are written, names as written.
using FakeAttributes = std::vector<std::pair<QString, QString>>;

// One node of a page; an empty tag marks a text run, so text and elements can interleave.
class FakeElement
{
public:
    FakeElement(QString tag, FakeAttributes attributes = {}, QString text = {});

    // Appends a child element; text becomes its first text run.
    FakeElement* add(const QString& tag, FakeAttributes attributes = {}, const QString& text = {});
    // Appends a text run after the children so far.
    void addText(const QString& text);
    void removeChild(FakeElement* child);

    QString tag() const { return m_tag; }
    std::optional<QString> attr(const QString& name) const;
    void setAttr(const QString& name, const QString& value);
    void removeAttr(const QString& name);
    // An OBJECT's movie, as a browser reports it.
    void setMovie(std::optional<QString> movie) { m_movie = std::move(movie); }
    std::optional<QString> movie() const { return m_movie; }
    QString text() const;
    bool isText() const { return m_tag.isEmpty(); }
    const std::vector<std::unique_ptr<FakeElement>>& children() const { return m_children; }
    const FakeAttributes& attributes() const { return m_attributes; }

private:
    QString m_tag;
    FakeAttributes m_attributes;
    QString m_text;
    std::vector<std::unique_ptr<FakeElement>> m_children;
    std::optional<QString> m_movie;
};

// A page's document: HTML with HEAD and BODY, and the documents of its named frames.
class FakeDocument
{
public:
    static FakeDocumentPtr create(const QString& url, const QString& title = {});
    FakeDocument(const QString& url, const QString& title);

    FakeElement* root() const { return m_root.get(); }
    FakeElement* head() const { return m_head; }
    // Null after removeBody().
    FakeElement* bodyElement() const { return m_body; }
    FakeElement* addToHead(const QString& tag, FakeAttributes attributes = {},
                           const QString& text = {});
    FakeElement* addToBody(const QString& tag, FakeAttributes attributes = {},
                           const QString& text = {});
    void removeBody();
    QString url() const { return m_url; }
    QString title() const { return m_title; }
    void setUrl(const QString& url) { m_url = url; }
    void setTitle(const QString& title) { m_title = title; }

    // Appends <FRAME name=... [src=...]> to parent (default: the body, else the root) and
    // registers the frame's document (null: a frame without document).
    FakeElement* addFrame(const QString& name, FakeDocumentPtr document, const QString& src = {},
                          FakeElement* parent = nullptr);
    // Registers a document under a frame name without adding an element.
    void registerFrame(const QString& name, FakeDocumentPtr document);
    const std::vector<std::pair<QString, FakeDocumentPtr>>& frames() const { return m_frames; }
    // Appends <IFRAME src=...> to parent (default: the body, else the root) showing the document
    // (null: none).
    FakeElement* addInlineFrame(FakeDocumentPtr document, const QString& src,
                                FakeElement* parent = nullptr);
    FakeDocumentPtr inlineFrameOf(const FakeElement* element) const;

    // The root's outer HTML.
    QString html() const;

private:
    QString m_url;
    QString m_title;
    std::unique_ptr<FakeElement> m_root;
    FakeElement* m_head = nullptr;
    FakeElement* m_body = nullptr;
    std::vector<std::pair<QString, FakeDocumentPtr>> m_frames;
    std::vector<std::pair<const FakeElement*, FakeDocumentPtr>> m_inlineFrames;
};

// An open page of the stand-in browser.
struct FakePage
{
    FakeDocumentPtr document; // null: the page shows nothing yet
    bool html = true;         // false: it shows no HTML document (a PDF, a picture)
    QString context = QStringLiteral("default");
};

class FakeBrowser : public Browser
{
public:
    FakeDocumentPtr newDocument(const QString& url, const QString& title = {})
    {
        return FakeDocument::create(url, title);
    }
    // Opens a page showing the document; pages() lists them in the order opened.
    FakePage& addPage(FakeDocumentPtr document, const QString& context = QStringLiteral("default"));
    std::vector<std::unique_ptr<FakePage>>& openPages() { return m_pages; }

    // The browser holds these bytes for the URL: in one context, or (empty) in every context.
    void hold(const QString& url, const QByteArray& bytes, const QString& context = {});
    // The URLs fetch() and fetchShown() were asked for, in order.
    const QStringList& fetchedUrls() const { return m_fetched; }

    void setCaption(const QString& caption) { m_caption = caption; }
    int closeAllCount() const { return m_closeAllCount; }

    // Calls of the operation so far ("pages", "snapshot", "text", "inlineFrame", "fetch",
    // "fetchShown", "serialize", "caption", "closeAll"), failed ones included.
    int calls(const QString& operation) const { return m_calls.value(operation); }
    // After `successes` further successful calls, the operation fails `failures` times (-1: every
    // call from then on).
    void failAfter(const QString& operation, int successes, int failures = -1);
    // The same, as a page busy in a script of its own: the calls get no answer.
    void stopAnswering(const QString& operation, int successes, int failures = -1);

    QList<PageRef> pages() override;
    std::optional<PageSnapshot> snapshot(const PageRef& page) override;
    QString text(const PageSnapshot& page, int element) override;
    std::shared_ptr<const PageSnapshot> inlineFrame(const PageSnapshot& page, int element) override;
    void fetch(const PageSnapshot& page, const QStringList& urls, ResourceSink& sink) override;
    bool fetchShown(const QString& url, ResourceSink& sink) override;
    // Applies the writes; the copy options are the real browser's business.
    void serialize(const PageSnapshot& page, const QList<AttributeWrite>& writes,
                   const CopyOptions& options, const TextWriter& write) override;
    QString frontWindowCaption() override;
    void closeAllWindows() override;

private:
    struct Rule
    {
        int successes;
        int failures;
        bool noAnswer = false;
    };
    struct Snapshot
    {
        FakeDocumentPtr document;
        std::vector<const FakeElement*> elements;
    };
    void enter(const char* operation);
    PageSnapshot read(const FakeDocumentPtr& document, const QString& context,
                      const QString& topUrl);
    const Snapshot& snapshotOf(const PageSnapshot& page) const;
    std::optional<QByteArray> held(const QString& context, const QString& url) const;

    std::vector<std::unique_ptr<FakePage>> m_pages;
    QHash<QString, QByteArray> m_bytes; // context + "\n" + url
    QStringList m_fetched;
    std::vector<Snapshot> m_snapshots; // by handle - 1
    QString m_caption;
    int m_closeAllCount = 0;
    QHash<QString, int> m_calls;
    QHash<QString, Rule> m_rules;
};
