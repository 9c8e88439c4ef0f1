#pragma once

#include "Browser.h"
#include "CaptureProgress.h"

#include <CaptureKind.h>
#include <QString>
#include <QStringList>

// "N files were not saved:" and the first of them, one a line, for the user, each key worded
// by `wording` (English where it gives none).
QString NotSavedText(const QList<Message>& notSaved, int shown = 20,
                     const Message::Wording& wording = nullptr);

// One capture command: visits the open pages the scope selects and saves each whole or harvests
// one kind of its content, showing progress in the displays it is given.
class CaptureRun
{
public:
    // Without a browser, a capture says that none is connected.
    explicit CaptureRun(Browser* browser);

    CaptureDisplays displays;
    // Pages are saved by the classic passes alone (see PageSaver::setClassic).
    bool classicPages = false;
    // Saved pages keep their scripts running (see PageSaver::setKeepScripts).
    bool keepScripts = false;
    // The e-mail addresses harvested during the run, in the order first found.
    QStringList emails;
    // How many web pages the run saved or harvested.
    int pagesCaptured = 0;
    // What the run could not save, "address: why", in the order met.
    QList<Message> notSaved;

    // Captures into folder. The current page is the first page whose title shows in the caption
    // of the browser window in front.
    void capturePages(const QString& folder, Scope scope, CaptureKind kind);
    // The caption of the browser window in front, at most 254 characters.
    QString frontWindowCaption();
    void closeAllBrowserWindows();

private:
    Browser* m_browser;
};
