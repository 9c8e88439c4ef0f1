#pragma once

#include "Browser.h"
#include "CaptureProgress.h"
#include "ResourcePasses.h"

#include <QString>

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
    // The name the document's page gets in path: after its title (else the start of its text,
    // else random digits), with a counter when another page holds the name.
    QString makePageName(const PageSnapshot& doc, const QString& path);

private:
    void writeUrlIni(const QString& url, const QString& filesFolder);
    QList<AttributeWrite> saveFrames(const PageSnapshot& doc, const QString& path,
                                     const QString& folder);
    void saveHtml(const PageSnapshot& doc, const QList<AttributeWrite>& writes,
                  const QString& fileName);

    Browser& m_browser;
    CaptureDisplays& m_displays;
    CaptureLedger* m_ledger;
    bool m_classic = false;
    bool m_keepScripts = false;
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
