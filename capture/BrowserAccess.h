#pragma once

#include <QString>
#include <memory>
#include <optional>

// The browser access layer: the only way the capture engine reaches the browser. Every call may
// raise SafecallError ("Exception in safecall method") when the browser fails it; a missing
// object is a null result, never an error. Two realisations: the DevTools one that talks to a
// running Chromium, and the in-memory stand-in the tests build documents in.

class HtmlElement;
class ElementCollection;
class HtmlDocument;
class FrameCollection;
class BrowserWindow;
class ShellWindow;
class ShellWindowList;

using ElementPtr = std::shared_ptr<HtmlElement>;
using CollectionPtr = std::shared_ptr<ElementCollection>;
using DocumentPtr = std::shared_ptr<HtmlDocument>;
using FramesPtr = std::shared_ptr<FrameCollection>;
using ShellWindowPtr = std::shared_ptr<ShellWindow>;
using WindowListPtr = std::shared_ptr<ShellWindowList>;

// The element interfaces whose address the resource passes read and write.
enum class ElementView
{
    Image,     // IMG: src
    Embed,     // EMBED: src
    Script,    // SCRIPT: src
    BackSound, // BGSOUND: src
    Link,      // LINK: href
};

class HtmlElement
{
public:
    virtual ~HtmlElement() = default;

    // Upper-case tag name.
    virtual QString tagName() = 0;
    // The attribute's text, or nullopt when the element has no such attribute. Names match
    // regardless of case.
    virtual std::optional<QString> getAttribute(const QString& name) = 0;
    virtual void setAttribute(const QString& name, const QString& value) = 0;
    virtual QString outerHTML() = 0;
    virtual QString innerText() = 0;
    virtual QString outerText() = 0;

    // Whether the element offers one of the address interfaces.
    virtual bool hasView(ElementView view) = 0;
    // The address property of that interface (src of images, embeds, scripts and background
    // sounds; href of links), as the browser reports it.
    virtual QString address(ElementView view) = 0;
    // Writes the address property; the next outerHTML shows it.
    virtual void setAddress(ElementView view, const QString& value) = 0;

    // An OBJECT element's movie member as text; nullopt when the element has none, it cannot be
    // read, or its value is null.
    virtual std::optional<QString> movie() = 0;
    // An anchor's protocol, as the browser reports it ("mailto:" for an e-mail link).
    virtual QString protocol() = 0;
};

class ElementCollection
{
public:
    virtual ~ElementCollection() = default;
    virtual int length() = 0;
    // Element i (from 0), or null.
    virtual ElementPtr item(int index) = 0;
    // The elements of this collection with the tag name (any letter case), in the same order;
    // null when the browser gives none.
    virtual CollectionPtr tags(const QString& tagName) = 0;
};

class FrameCollection
{
public:
    virtual ~FrameCollection() = default;
    // The document of the frame window of that name; null when there is no such frame, it has
    // no window or the window has no document.
    virtual DocumentPtr documentByName(const QString& name) = 0;
};

class HtmlDocument
{
public:
    virtual ~HtmlDocument() = default;
    virtual QString url() = 0;
    virtual QString title() = 0;
    virtual ElementPtr body() = 0;
    virtual CollectionPtr images() = 0;
    virtual CollectionPtr embeds() = 0;
    virtual CollectionPtr scripts() = 0;
    virtual CollectionPtr all() = 0;
    virtual FramesPtr frames() = 0;
    virtual ElementPtr documentElement() = 0;
};

class BrowserWindow
{
public:
    virtual ~BrowserWindow() = default;
    // False when the browser shows no document at all.
    virtual bool hasDocument() = 0;
    // The displayed document as an HTML document, or null when it is none (a PDF, an image).
    virtual DocumentPtr htmlDocument() = 0;
    virtual bool offline() = 0;
    virtual void setOffline(bool offline) = 0;
    // Puts the page back as it was before the saver rewrote its addresses.
    virtual void refresh() = 0;
};

class ShellWindow
{
public:
    virtual ~ShellWindow() = default;
    // The window as a browser, or null when it is no browser.
    virtual BrowserWindow* asBrowser() = 0;
};

class ShellWindowList
{
public:
    virtual ~ShellWindowList() = default;
    virtual int count() = 0;
    // Entry i (from 0), or null.
    virtual ShellWindowPtr item(int index) = 0;
};

class BrowserAccess
{
public:
    virtual ~BrowserAccess() = default;
    // The open windows, the most recently active browser page first, stable during one run.
    virtual WindowListPtr windows() = 0;
    // The caption of the topmost browser window, or the empty text when there is none.
    virtual QString topmostBrowserCaption() = 0;
    // Asks every browser window to close; returns before they have closed.
    virtual void closeAllBrowserWindows() = 0;
};

// The browser the capture commands use; none installed means no browser. Not owned.
void SetBrowserAccess(BrowserAccess* access);
BrowserAccess* CurrentBrowserAccess();
