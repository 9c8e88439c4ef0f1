#include "CaptureRun.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "Harvester.h"
#include "PageSaver.h"
#include "TextRules.h"
#include "WebAddress.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

QString NotSavedText(const QList<Message>& notSaved, int shown, const Message::Wording& wording)
{
    QString text =
        notSaved.size() == 1
            ? Message(QStringLiteral("C_OneFileNotSaved"), QStringLiteral("1 file was not saved:"))
                  .text(wording)
            : Message(QStringLiteral("C_FilesNotSaved"), QStringLiteral("%1 files were not saved:"),
                      {QString::number(notSaved.size())})
                  .text(wording);
    for (const Message& line : notSaved.mid(0, shown))
        text += u'\n' + line.text(wording);
    if (notSaved.size() > shown)
        text += u'\n' + Message(QStringLiteral("C_MoreNotSaved"), QStringLiteral("… and %1 more."),
                                {QString::number(notSaved.size() - shown)})
                            .text(wording);
    return text;
}

namespace {

// A page of fewer elements than this has its page file written after the next page's files, so
// that the browser makes its copy meanwhile. A larger page's copy takes long enough to show its
// own progress, and is written at once.
constexpr size_t kOverlappedElements = 10000;

// For as long as it lives, memory the capture frees is kept for the next resource's bytes instead
// of going back to the system at once: the bodies read and written one after the other would
// otherwise each take fresh pages that the system must zero, a fifth of the time a page of a
// thousand pictures takes. What was kept goes back when it ends.
class HeapKeptForCapture
{
public:
    HeapKeptForCapture()
    {
#if defined(__GLIBC__)
        // Freed memory stays until this much lies free at the top of the heap, and only blocks
        // larger than the largest the allocator would choose for itself get pages of their own.
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
    }
    ~HeapKeptForCapture()
    {
#if defined(__GLIBC__)
        // The allocator's defaults again, and what lies free goes back.
        mallopt(M_TRIM_THRESHOLD, 128 << 10);
        mallopt(M_MMAP_THRESHOLD, 128 << 10);
        malloc_trim(0);
#endif
    }
    HeapKeptForCapture(const HeapKeptForCapture&) = delete;
    HeapKeptForCapture& operator=(const HeapKeptForCapture&) = delete;
};

void RefuseUnanswered(CaptureLedger& ledger, const PageRef& page)
{
    ledger.refuse(page.address, {QStringLiteral("C_PageNoAnswer"),
                                 QStringLiteral("the page \"%1\" did not answer and was skipped"),
                                 {page.title}});
}

void RefuseTooLarge(CaptureLedger& ledger, const PageRef& page)
{
    ledger.refuse(page.address,
                  {QStringLiteral("C_PageTooLarge"),
                   QStringLiteral("the page \"%1\" holds more than a page may (256 MiB of "
                                  "elements or text) and was skipped"),
                   {page.title}});
}

} // namespace

CaptureRun::CaptureRun(Browser* browser) : m_browser(browser) {}

void CaptureRun::capturePages(const QString& folder, Scope scope, CaptureKind kind)
{
    if (!m_browser)
        throw BrowserUnreachableError(
            {QStringLiteral("C_NoBrowserConnected"), QStringLiteral("No browser is connected.")});
    const QList<PageRef> pages = m_browser->pages();
    if (displays.totalBar) {
        displays.totalBar->setMin(0);
        displays.totalBar->setMax(int(pages.size()));
    }
    Finally done([this] {
        if (displays.totalBar)
            displays.totalBar->setPosition(displays.totalBar->max());
    });

    // Files left half-written by a capture that was killed go before this one writes.
    SweepLeftoverFiles(folder, 0);
    const HeapKeptForCapture heap;
    CaptureLedger ledger;
    ledger.stopRequested = displays.stopRequested;
    PageSaver saver(*m_browser, displays, &ledger);
    saver.setClassic(classicPages);
    saver.setKeepScripts(keepScripts);
    Harvester harvester(*m_browser, displays, emails, &ledger);
    Finally report([this, &ledger] { notSaved = ledger.notSaved; });
    // The page whose page file is still to come while the next page's files are written.
    struct HeldPage
    {
        PageRef page;
        PageSnapshot doc;
        PendingPageFile file;
    };
    std::optional<HeldPage> held;
    const auto writeHeld = [&] {
        if (!held)
            return;
        const HeldPage pending = std::move(*held);
        held.reset();
        try {
            saver.writePageFile(pending.doc, pending.file);
        } catch (const NoAnswerError&) {
            RefuseUnanswered(ledger, pending.page);
        } catch (const PageTooLargeError&) {
            RefuseTooLarge(ledger, pending.page);
        }
    };
    // Also when the capture stops or fails: the held page's files are all written.
    Finally writeLast([&] { writeHeld(); });
    if (scope == Scope::AllPages)
        m_browser->prepare(pages);
    for (const PageRef& page : pages) {
        QString caption;
        // The current page is looked for by the titles the page list gives, so that only the
        // page that matches is read whole.
        if (scope == Scope::CurrentPage) {
            caption = frontWindowCaption();
            if (page.title.isEmpty() || !caption.contains(page.title, Qt::CaseSensitive)) {
                if (displays.totalBar)
                    displays.totalBar->setPosition(displays.totalBar->position() + 1);
                continue;
            }
        }
        try {
            std::optional<PageSnapshot> doc = m_browser->snapshot(page);
            const bool process =
                doc && (scope == Scope::AllPages ||
                        (!doc->title.isEmpty() && caption.contains(doc->title, Qt::CaseSensitive)));
            if (process) {
                if (IsWebUrl(doc->address))
                    ++pagesCaptured;
                if (kind != CaptureKind::WebPage) {
                    harvester.harvestPage(*doc, folder, kind);
                } else if (scope == Scope::AllPages && &page != &pages.constLast() &&
                           doc->elements.size() < kOverlappedElements) {
                    std::optional<PendingPageFile> file = saver.savePageLeavingFile(*doc, folder);
                    writeHeld();
                    if (file)
                        held = HeldPage{page, std::move(*doc), std::move(*file)};
                } else {
                    writeHeld();
                    saver.savePage(*doc, folder);
                }
                // A stop during the page's files ended that page with what it had; no page
                // follows.
                if (ledger.stopping())
                    throw CaptureStopped();
                if (scope == Scope::CurrentPage)
                    break;
            }
        } catch (const NoAnswerError&) {
            // A page busy in a script of its own is skipped after its wait; the others are
            // still captured.
            RefuseUnanswered(ledger, page);
            if (scope == Scope::CurrentPage)
                break;
        } catch (const PageTooLargeError&) {
            RefuseTooLarge(ledger, page);
            if (scope == Scope::CurrentPage)
                break;
        }
        if (displays.totalBar)
            displays.totalBar->setPosition(displays.totalBar->position() + 1);
    }
}

QString CaptureRun::frontWindowCaption()
{
    if (!m_browser)
        return QString();
    return LeftChars(m_browser->frontWindowCaption(), 254);
}

void CaptureRun::closeAllBrowserWindows()
{
    if (m_browser)
        m_browser->closeAllWindows();
}
