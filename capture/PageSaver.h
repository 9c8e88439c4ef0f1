#pragma once

#include "Browser.h"
#include "CaptureProgress.h"
#include "ResourcePasses.h"

#include <QSet>
#include <QString>
#include <optional>

// A saved page whose files are all written and whose page file is still to come: the browser
// was asked for the page's copy and makes it meanwhile.
struct PendingPageFile
{
    QList<AttributeWrite> writes; // what the copy names instead of the live page
    QString fileName;
};

// Saves one document as a page file beside its resource folder: url.ini, the resources the browser
// holds, the documents of its frames (each a page of its own inside the folder), and last the page
// file, whose addresses name the local copies. The live page is never changed.
class PageSaver
{
public:
    // `ledger`, when given, lets pages share what the capture already wrote and collects what it
    // could not save.
    PageSaver(Browser& browser, CaptureDisplays& displays, CaptureLedger* ledger = nullptr);

    // Classic: only the resource passes' own elements are saved and rewritten. Otherwise (the
    // default) the copy also takes what its style sheets, srcsets and media name, and names what
    // it has no copy of by its web address, so that it looks offline as the page did live.
    void setClassic(bool classic) { m_classic = classic; }
    // Beyond the classic passes the copy's scripts are kept inert, since the copy already holds
    // what they built; this keeps them running instead. Classic copies always keep them running.
    void setKeepScripts(bool keep) { m_keepScripts = keep; }

    // Saves the document into path; an empty name lets the saver choose one.
    void savePage(const PageSnapshot& doc, const QString& path, const QString& name = {});
    // Saves the document into path as savePage does, all but its page file: the browser is asked
    // for the page's copy and makes it while the caller goes on (with the next page's files), and
    // writePageFile writes it. Nothing is pending when the page gets no page file.
    std::optional<PendingPageFile> savePageLeavingFile(const PageSnapshot& doc,
                                                       const QString& path);
    // Writes the page file savePageLeavingFile left for the same document; the page's progress
    // has ended by then, so the displays are left as they are.
    void writePageFile(const PageSnapshot& doc, const PendingPageFile& file);
    // The name the document's page gets in path: after its title (else the start of its text,
    // else random digits), with a counter when another page holds the name.
    QString makePageName(const PageSnapshot& doc, const QString& path);

private:
    void writeUrlIni(const QString& url, const QString& filesFolder);
    QList<AttributeWrite> saveFrames(const PageSnapshot& doc, const QString& path,
                                     const QString& folder);
    // Everything of the page but its page file; nothing when it gets no page file.
    std::optional<PendingPageFile> saveFiles(const PageSnapshot& doc, const QString& path,
                                             const QString& name);
    CopyOptions copyOptions() const;
    // Writes the page file; `onPageBar`: its progress shows on the page bar.
    void saveHtml(const PageSnapshot& doc, const PendingPageFile& file, bool onPageBar);

    Browser& m_browser;
    CaptureDisplays& m_displays;
    CaptureLedger* m_ledger;
    bool m_classic = false;
    bool m_keepScripts = false;
    QSet<QString> m_pendingFiles; // page files left to writePageFile, not yet written
};

// The text made usable as a file name for a page or a text file; shared with the harvester.
QString NameFromText(const QString& text);
// A name cut to 250 characters when it has 255 or more, then to what a file name can hold.
QString LimitName(const QString& name, int maxBytes);
// The first 30 characters of the body's text as a name, when the title gives none.
QString NameFromBody(Browser& browser, const PageSnapshot& doc);
// Empty after trimming spaces and control characters.
bool IsBlankName(const QString& name);
// Writes a text file whole or not at all; InOutError on failure.
void WriteTextFile(const QString& fileName, const QByteArray& bytes);
