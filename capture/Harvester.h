#pragma once

#include "Browser.h"
#include "CaptureProgress.h"
#include "ResourcePasses.h"

#include <CaptureKind.h>
#include <QString>
#include <QStringList>

// Collects one kind of content of a document and its frames into a kind's folder: photos, music
// and Flash movies flat under their own names, the page's text as one file, e-mail addresses
// into a list. The page itself is neither saved nor changed.
class Harvester
{
public:
    // `ledger`, when given, lets pages share what the capture already wrote and collects what it
    // could not save.
    Harvester(Browser& browser, CaptureDisplays& displays, QStringList& emails,
              CaptureLedger* ledger = nullptr);

    void harvestPage(const PageSnapshot& doc, const QString& folder, CaptureKind kind);
    // Writes the body's text into folder as <name>.txt, replacing a file of that name.
    void savePageText(const PageSnapshot& doc, const QString& folder);
    // The text file's name: after the title, else the start of the text, else random digits.
    QString makeTextFileName(const PageSnapshot& doc);
    // Adds the addresses of the document's mailto: links that are not in the list yet.
    void harvestEMails(const PageSnapshot& doc);

    // Holds an "@" and a ".", and no blank or control character.
    static bool IsEMailAddress(const QString& text);

private:
    void harvestFrames(const PageSnapshot& doc, const QString& folder, CaptureKind kind);

    Browser& m_browser;
    CaptureDisplays& m_displays;
    QStringList& m_emails;
    CaptureLedger* m_ledger;
};
