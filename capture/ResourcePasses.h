#pragma once

#include "Browser.h"
#include "CaptureProgress.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>

// What tells the resource passes apart: which elements each one takes, and how it treats them.
struct ResourcePass
{
    const char* tag;              // the elements it takes
    bool resolvesAddress;         // a relative address is resolved against the page's address
    bool skipsBlankAddress;       // a blank address is no resource
    bool showsFile;               // each resource is shown in the progress window
    bool savingOnly;              // always into the page's resource folder, never harvested
    bool makesFolderWithoutItems; // the resource folder exists even when no element has one
    bool firstOnly;               // only the first element is taken
    std::initializer_list<const char*> rewrites; // attributes that name the saved copy
};

inline constexpr ResourcePass kImagePass{"IMG", false, false, true, false, false, false, {"src"}};
inline constexpr ResourcePass kEmbedPass{"EMBED", true, true, true, false, false, false, {"src"}};
inline constexpr ResourcePass kFlashMoviePass{"OBJECT", true,  false, false,
                                              false,    false, false, {"src", "Movie"}};
inline constexpr ResourcePass kScriptPass{"SCRIPT", true, true, false, true, false, false, {"src"}};
inline constexpr ResourcePass kStyleLinkPass{"LINK", true, true,  false,
                                             true,   true, false, {"href"}};
inline constexpr ResourcePass kBackgroundSoundPass{"BGSOUND", true,  false, false,
                                                   false,     false, true,  {"src"}};

// The passes a saved page runs, in their order.
inline constexpr const ResourcePass* kSavingPasses[] = {
    &kImagePass,  &kEmbedPass,     &kFlashMoviePass,
    &kScriptPass, &kStyleLinkPass, &kBackgroundSoundPass,
};

// A LINK element that links a style sheet (its rel lists "stylesheet").
bool IsStyleSheetLink(const ElementData& element);

// What one capture keeps across its pages and frames: the files it has written, by browser
// context and address (a resource several of them use is read from the browser once), how many
// bytes they hold, and what it could not save, each with why.
struct CaptureLedger
{
    // No capture writes more resource bytes than this, whatever its pages claim to hold; the
    // browser keeps far less than this in its caches.
    static constexpr qint64 kByteLimit = qint64(4) << 30;

    QHash<QString, QString> written;
    qint64 bytesWritten = 0;
    QList<Message> notSaved; // "address: why", each once
    void refuse(const QString& url, const Message& why);

    // Asked before each resource file: true when the user stopped the capture. From then on no
    // file is written; the page being saved is finished with what it has.
    std::function<bool()> stopRequested;
    bool stopping();

    // Lets the user interface process pending events, as PumpEvents() does, but at most every
    // 2 ms (the first time at once): a capture saving thousands of small files would otherwise
    // spend a tenth of its time asking for events. Often enough that what the browser answers
    // meanwhile (the next page's world, so that its snapshot goes out) is read within the page.
    void pumpEvents();

private:
    bool m_stopped = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastPump;
};

// What became of a document's resources: which of them the browser handed out, the file each
// of those now lies in (none when it could not be written), and why it could not.
struct SavedResources
{
    QSet<QString> received;
    QHash<QString, QString> files;
    QHash<QString, Message> failures;
};

// Writes the resources the browser holds for the URLs as the passes do: saving (folder not
// empty), each below path/folder at its path relative to the page; harvesting, each flat in path.
// What the capture wrote before is taken from its file. `given` holds bytes the caller made
// for some of the URLs (a style sheet that names the copies beside it): they are written as they
// are, neither asked of the browser nor shared with other pages.
SavedResources SaveResources(Browser& browser, const PageSnapshot& doc, const QString& path,
                             const QString& folder, const QStringList& urls,
                             CaptureLedger* ledger = nullptr,
                             const QHash<QString, QByteArray>& given = {});

// Writes the resources of one pass that the browser holds. Saving (folder not empty), each lands
// below path/folder at its path relative to the page, and the attribute writes that make the
// saved page name the copies are returned; harvesting (folder empty), each lands flat in path
// under its own name and nothing is returned. `given` as for SaveResources.
QList<AttributeWrite> RunResourcePass(const ResourcePass& pass, Browser& browser,
                                      const PageSnapshot& doc, const QString& path,
                                      const QString& folder, CaptureDisplays& displays,
                                      CaptureLedger* ledger = nullptr,
                                      const QHash<QString, QByteArray>& given = {});
