#pragma once

#include "BrowserAccess.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The in-memory browser the engine's tests build pages in. Interface calls are counted and can be
// made to fail; the building helpers (add, attr, setAttr, html, ...) are neither.

class FakeDocument;
class FakeElement;

// Attributes in the order they are written, names as written.
using FakeAttributes = std::vector<std::pair<QString, QString>>;
using FakeElementPtr = std::shared_ptr<FakeElement>;
using FakeDocumentPtr = std::shared_ptr<FakeDocument>;

// The counters and failure rules all objects of one stand-in browser share, so a test can watch
// and break an operation wherever the engine happens to call it.
class FakeContext
{
public:
    // Calls of the operation so far across all objects, failed ones included.
    int calls(const QString& operation) const { return m_calls.value(operation); }
    // Every call in order, as operation names.
    const QStringList& callLog() const { return m_log; }
    void resetCalls();

    // After `successes` further successful calls, the operation fails `failures` times (-1: every
    // call from then on); later calls succeed again.
    void failAfter(const QString& operation, int successes, int failures = -1);
    void clearFailures() { m_rules.clear(); }

    // Counts the call, then throws SafecallError when the object or a rule says it must fail.
    void enter(const char* operation, bool objectFails);

private:
    struct Rule
    {
        int successes;
        int failures;
    };
    QHash<QString, int> m_calls;
    QHash<QString, Rule> m_rules;
    QStringList m_log;
};

// Base of every fake object: its own failure switches and the way to the shared counters.
class FakeObject
{
public:
    virtual ~FakeObject() = default;
    // Every later call of that operation on this object throws SafecallError.
    void failOn(const char* operation) { m_failing.insert(QLatin1String(operation)); }
    // Every later call of that pointer-returning operation on this object gives null.
    void nullOn(const char* operation) { m_nulled.insert(QLatin1String(operation)); }
    void clearFailures();
    const std::shared_ptr<FakeContext>& context() const { return m_context; }

protected:
    explicit FakeObject(std::shared_ptr<FakeContext> context);
    void enter(const char* operation) const;
    // enter() for an operation that returns an object; true when the result must be null.
    bool enterOrNull(const char* operation) const;

private:
    std::shared_ptr<FakeContext> m_context;
    QSet<QString> m_failing;
    QSet<QString> m_nulled;
};

// One node of a fake page; an empty tag marks a text run, so text and elements can interleave.
class FakeElement : public HtmlElement,
                    public FakeObject,
                    public std::enable_shared_from_this<FakeElement>
{
public:
    FakeElement(std::shared_ptr<FakeContext> context, const QString& tag,
                FakeAttributes attributes = {});

    // Appends a child element (belonging to this element's document); text becomes its first
    // text run.
    FakeElement* add(const QString& tag, FakeAttributes attributes = {}, const QString& text = {});
    // Appends a text run after the children so far.
    void addText(const QString& text);
    void removeChild(FakeElement* child);
    FakeElement* parent() const { return m_parent; }

    QString tag() const { return m_tag; }
    std::optional<QString> attr(const QString& name) const;
    void setAttr(const QString& name, const QString& value);
    void removeAttr(const QString& name);
    const FakeAttributes& attributes() const { return m_attributes; }
    void setMovie(std::optional<QString> movie) { m_movie = std::move(movie); }
    // outerHTML and innerText, uncounted.
    QString html() const;
    QString text() const;

    QString tagName() override;
    std::optional<QString> getAttribute(const QString& name) override;
    void setAttribute(const QString& name, const QString& value) override;
    QString outerHTML() override;
    QString innerText() override;
    QString outerText() override;
    bool hasView(ElementView view) override;
    QString address(ElementView view) override;
    void setAddress(ElementView view, const QString& value) override;
    std::optional<QString> movie() override;
    QString protocol() override;

private:
    friend class FakeDocument;
    bool isText() const { return m_tag.isEmpty(); }
    bool offers(ElementView view) const;
    void attach(const std::weak_ptr<FakeDocument>& document);
    // The attribute resolved against the document's URL as a browser reflects it.
    QString resolvedAttr(const QString& name) const;
    // A write the engine made, recorded so that a refresh can undo it.
    void write(const QString& name, const QString& value);
    void serialise(QString& out) const;
    void collectText(QString& out) const;
    void collect(std::vector<FakeElementPtr>& out, const QString& tag);

    QString m_tag;
    FakeAttributes m_attributes;
    QString m_text;
    std::vector<FakeElementPtr> m_children;
    FakeElement* m_parent = nullptr;
    std::weak_ptr<FakeDocument> m_document;
    std::optional<QString> m_movie;
};

// A snapshot of elements in document order, as documents and tags() hand them out.
class FakeCollection : public ElementCollection, public FakeObject
{
public:
    FakeCollection(std::shared_ptr<FakeContext> context, std::vector<FakeElementPtr> elements);

    int length() override;
    ElementPtr item(int index) override;
    CollectionPtr tags(const QString& tagName) override;

private:
    std::vector<FakeElementPtr> m_elements;
};

// The named frames of a document, read live from the document's frame registry.
class FakeFrames : public FrameCollection, public FakeObject
{
public:
    FakeFrames(std::shared_ptr<FakeContext> context, FakeDocumentPtr owner);
    DocumentPtr documentByName(const QString& name) override;

private:
    FakeDocumentPtr m_owner;
};

// A page's document: a root HTML element with HEAD and BODY, the documents of its named frames,
// and the journal of attribute writes that a refresh undoes.
class FakeDocument : public HtmlDocument,
                     public FakeObject,
                     public std::enable_shared_from_this<FakeDocument>
{
    struct Key
    {};

public:
    // Without a context the document gets one of its own.
    static FakeDocumentPtr create(const QString& url, const QString& title = {},
                                  std::shared_ptr<FakeContext> context = nullptr);
    FakeDocument(Key, std::shared_ptr<FakeContext> context, const QString& url,
                 const QString& title);

    FakeElement* root() const { return m_root.get(); }
    FakeElement* head() const { return m_head; }
    // Null after removeBody().
    FakeElement* bodyElement() const { return m_body; }
    FakeElement* add(FakeElement* parent, const QString& tag, FakeAttributes attributes = {},
                     const QString& text = {});
    FakeElement* addToHead(const QString& tag, FakeAttributes attributes = {},
                           const QString& text = {});
    FakeElement* addToBody(const QString& tag, FakeAttributes attributes = {},
                           const QString& text = {});
    void removeBody();
    void setUrl(const QString& url) { m_url = url; }
    void setTitle(const QString& title) { m_title = title; }

    // Appends <FRAME name=... [src=...]> to parent (default: the body, else the root) and
    // registers the frame's document (null: a frame without document).
    FakeElement* addFrame(const QString& name, FakeDocumentPtr document, const QString& src = {},
                          FakeElement* parent = nullptr);
    // Registers a document under a frame name without adding an element.
    void registerFrame(const QString& name, FakeDocumentPtr document);
    // The registered frame documents, in registration order.
    std::vector<FakeDocumentPtr> frameDocuments() const;

    // The root's outerHTML, uncounted.
    QString html() const { return m_root->html(); }
    // Undoes the recorded writes, the last one first; returns how many there were.
    int undoWrites();
    int pendingWrites() const { return int(m_journal.size()); }

    QString url() override;
    QString title() override;
    ElementPtr body() override;
    CollectionPtr images() override;
    CollectionPtr embeds() override;
    CollectionPtr scripts() override;
    CollectionPtr all() override;
    FramesPtr frames() override;
    ElementPtr documentElement() override;

private:
    friend class FakeElement;
    friend class FakeFrames;
    struct Write
    {
        FakeElementPtr element;
        QString name;
        std::optional<QString> before;
    };
    CollectionPtr collection(const char* operation, const QString& tag);

    QString m_url;
    QString m_title;
    FakeElementPtr m_root;
    FakeElement* m_head = nullptr;
    FakeElement* m_body = nullptr;
    std::vector<std::pair<QString, FakeDocumentPtr>> m_frames;
    std::vector<Write> m_journal;
};

// A browser window that shows one document and remembers each refresh with its offline state.
class FakeBrowserWindow : public BrowserWindow, public FakeObject
{
public:
    explicit FakeBrowserWindow(std::shared_ptr<FakeContext> context,
                               FakeDocumentPtr document = nullptr);

    // Null: the window shows no document at all.
    void setDocument(FakeDocumentPtr document) { m_document = std::move(document); }
    const FakeDocumentPtr& document() const { return m_document; }
    // False: the document is no HTML document (a PDF, an image).
    void setHtml(bool html) { m_html = html; }
    void setOfflineState(bool offline) { m_offline = offline; }
    bool isOffline() const { return m_offline; }
    int refreshCount() const { return int(m_refreshOfflineStates.size()); }
    // The offline flag at each refresh, in order.
    const std::vector<bool>& refreshOfflineStates() const { return m_refreshOfflineStates; }

    bool hasDocument() override;
    DocumentPtr htmlDocument() override;
    bool offline() override;
    void setOffline(bool offline) override;
    // Undoes the writes in the document and, recursively, in its frames' documents.
    void refresh() override;

private:
    FakeDocumentPtr m_document;
    bool m_html = true;
    bool m_offline = false;
    std::vector<bool> m_refreshOfflineStates;
};

// An entry of the window list: a browser, or (without one) a window that is no browser.
class FakeShellWindow : public ShellWindow, public FakeObject
{
public:
    explicit FakeShellWindow(std::shared_ptr<FakeContext> context,
                             std::shared_ptr<FakeBrowserWindow> browser = nullptr);
    const std::shared_ptr<FakeBrowserWindow>& browser() const { return m_browser; }
    BrowserWindow* asBrowser() override;

private:
    std::shared_ptr<FakeBrowserWindow> m_browser;
};

// The window list handed out by windows(); it reads the browser's entries as they are now.
class FakeWindowList : public ShellWindowList, public FakeObject
{
public:
    FakeWindowList(std::shared_ptr<FakeContext> context,
                   std::shared_ptr<std::vector<ShellWindowPtr>> entries);
    int count() override;
    ShellWindowPtr item(int index) override;

private:
    std::shared_ptr<std::vector<ShellWindowPtr>> m_entries;
};

// The whole stand-in browser: its ordered window entries and the context its objects share.
class FakeBrowser : public BrowserAccess, public FakeObject
{
public:
    FakeBrowser();

    FakeDocumentPtr newDocument(const QString& url, const QString& title = {});
    // Appends a browser entry showing the document (null: none).
    std::shared_ptr<FakeBrowserWindow> addBrowserWindow(FakeDocumentPtr document = nullptr);
    // Appends an entry that is no browser.
    std::shared_ptr<FakeShellWindow> addOtherWindow();
    void addNullEntry() { m_entries->push_back(nullptr); }
    // The entries windows() reads, for a test to reorder or remove.
    std::vector<ShellWindowPtr>& entries() { return *m_entries; }

    void setCaption(const QString& caption) { m_caption = caption; }
    int closeAllCount() const { return m_closeAllCount; }

    int calls(const QString& operation) const { return context()->calls(operation); }
    void failAfter(const QString& operation, int successes, int failures = -1)
    {
        context()->failAfter(operation, successes, failures);
    }

    WindowListPtr windows() override;
    QString topmostBrowserCaption() override;
    void closeAllBrowserWindows() override;

private:
    std::shared_ptr<std::vector<ShellWindowPtr>> m_entries;
    QString m_caption;
    int m_closeAllCount = 0;
};

// Installs a browser for the lifetime of a test scope.
class ScopedBrowserAccess
{
public:
    explicit ScopedBrowserAccess(BrowserAccess* access) { SetBrowserAccess(access); }
    ~ScopedBrowserAccess() { SetBrowserAccess(nullptr); }
    ScopedBrowserAccess(const ScopedBrowserAccess&) = delete;
    ScopedBrowserAccess& operator=(const ScopedBrowserAccess&) = delete;
};
