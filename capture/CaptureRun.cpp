#include "CaptureRun.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "Harvester.h"
#include "PageSaver.h"
#include "ResourceFiles.h"
#include "TextRules.h"
#include "WebAddress.h"

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
